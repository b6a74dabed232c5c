#include "app/console_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <utility>

namespace ConsoleWindow {

namespace {

// The most characters the buffer holds between two takes (a flood of long
// lines is bounded too).
constexpr qsizetype kMaxBufferChars = qsizetype{8} << 20;
// The pipes are made larger where the system allows, so that writers stall
// less often.
constexpr int kPipeSize = 1 << 20;
// The lines inserted into the window per pass of the event loop.
constexpr int kLinesPerPass = 1000;

void FlushStreams() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(stdout);
  std::fflush(stderr);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Moves a new descriptor above 2, so that it is never one of the standard
// streams (when those were closed); false when it could not.
bool AboveStandardStreams(int& fd) {
  if (fd > 2) return true;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  fd = moved;
  return fd > 2;
}

// Drops the text before the first `lines` line ends.
void DropLeadingLines(QString& text, int lines) {
  qsizetype pos = 0;
  for (int i = 0; i < lines && pos < text.size(); ++i) {
    const qsizetype nl = text.indexOf(u'\n', pos);
    if (nl < 0) {
      pos = text.size();
      break;
    }
    pos = nl + 1;
  }
  text.remove(0, pos);
}

}  // namespace

// --- the capture ---------------------------------------------------------------

CConsoleCapture::CConsoleCapture(TNotify notify, int maxLines)
    : m_notify(std::move(notify)),
      m_nMaxLines(maxLines),
      m_decoder{QStringDecoder(QStringDecoder::Utf8), QStringDecoder(QStringDecoder::Utf8)} {}

CConsoleCapture::~CConsoleCapture() { Stop(); }

void CConsoleCapture::CloseAll() {
  for (int i = 0; i < 2; ++i) {
    CloseFd(m_readFd[i]);
    CloseFd(m_savedFd[i]);
    CloseFd(m_wakeFd[i]);
  }
}

bool CConsoleCapture::Start(std::string& why) {
  if (Running()) return true;
  FlushStreams();
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  auto fail = [&](const char* what) {
    why = std::string(what) + ": " + std::strerror(errno);
    for (int fd : {out[0], out[1], err[0], err[1]})
      if (fd >= 0) ::close(fd);
    CloseAll();
    return false;
  };
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return fail("no pipe");
  if (::pipe2(m_wakeFd, O_CLOEXEC | O_NONBLOCK) != 0) return fail("no pipe");
  for (int* fd : {&out[0], &out[1], &err[0], &err[1], &m_wakeFd[0], &m_wakeFd[1]})
    if (!AboveStandardStreams(*fd)) return fail("no descriptor");
  // The originals stay open (not inherited by children) for the copies.
  for (int i = 0; i < 2; ++i) {
    m_savedFd[i] = ::fcntl(i + 1, F_DUPFD_CLOEXEC, 3);
    if (m_savedFd[i] < 0 && errno != EBADF) return fail("the standard streams can not be kept");
    m_forward[i] = m_savedFd[i] >= 0;
  }
  ::fcntl(out[1], F_SETPIPE_SZ, kPipeSize);
  ::fcntl(err[1], F_SETPIPE_SZ, kPipeSize);
  if (::dup2(out[1], 1) < 0) return fail("standard output can not be redirected");
  if (::dup2(err[1], 2) < 0) {
    const int e = errno;
    if (m_savedFd[0] >= 0) ::dup2(m_savedFd[0], 1);
    errno = e;
    return fail("standard error can not be redirected");
  }
  ::close(out[1]);
  ::close(err[1]);
  m_readFd[0] = out[0];
  m_readFd[1] = err[0];
  // The reader drains what is there when told to end, without waiting.
  for (int fd : m_readFd) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  for (QStringDecoder& d : m_decoder) d.resetState();
  m_reader = std::thread([this] { ReaderLoop(); });
  return true;
}

void CConsoleCapture::Stop() {
  if (!Running()) return;
  FlushStreams();
  for (int i = 0; i < 2; ++i) {
    if (m_savedFd[i] >= 0)
      ::dup2(m_savedFd[i], i + 1);
    else
      ::close(i + 1);  // it was closed before
  }
  // A running child may still hold a pipe's write end: the reader is told
  // to end instead of waiting for the end of the data.
  const char wake = 1;
  while (::write(m_wakeFd[1], &wake, 1) < 0 && errno == EINTR) {
  }
  m_reader.join();
  CloseAll();
}

QString CConsoleCapture::Take() {
  std::lock_guard lock(m_mutex);
  QString text = std::exchange(m_buffer, QString());
  m_nBufferLines = 0;
  m_bNoticePending = false;
  return text;
}

void CConsoleCapture::Forward(int stream, const char* data, std::size_t size) {
  if (!m_forward[stream]) return;
  while (size > 0) {
    const ssize_t n = ::write(m_savedFd[stream], data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        // A non-blocking original: wait until it takes more.
        pollfd p{m_savedFd[stream], POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      // Nobody reads the original any more (its reader went): the copies
      // stop, the window still gets the text.
      if (errno == EPIPE) {
        sigset_t pipeSet;
        sigemptyset(&pipeSet);
        sigaddset(&pipeSet, SIGPIPE);
        const timespec none{0, 0};
        ::sigtimedwait(&pipeSet, nullptr, &none);
      }
      m_forward[stream] = false;
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void CConsoleCapture::Append(int stream, const char* data, std::size_t size) {
  QString text = m_decoder[stream].decode(QByteArrayView(data, static_cast<qsizetype>(size)));
  // Line ends of the form "\r\n" show as one line end.
  text.remove(u'\r');
  if (text.isEmpty()) return;
  const int lines = static_cast<int>(text.count(u'\n'));
  bool notify = false;
  {
    std::lock_guard lock(m_mutex);
    m_buffer += text;
    m_nBufferLines += lines;
    // Bounded like the window: older lines would scroll out of it anyway.
    if (m_nBufferLines > m_nMaxLines + m_nMaxLines / 4) {
      DropLeadingLines(m_buffer, m_nBufferLines - m_nMaxLines);
      m_nBufferLines = m_nMaxLines;
    }
    if (m_buffer.size() > kMaxBufferChars) {
      const QStringView dropped = QStringView(m_buffer).left(m_buffer.size() - kMaxBufferChars);
      m_nBufferLines -= static_cast<int>(dropped.count(u'\n'));
      m_buffer.remove(0, dropped.size());
    }
    notify = !std::exchange(m_bNoticePending, true);
  }
  if (notify && m_notify) m_notify();
}

void CConsoleCapture::ReaderLoop() {
  // A copy to an original nobody reads fails with EPIPE instead of ending
  // the program.
  sigset_t pipeSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSet, nullptr);

  static constexpr std::size_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> buf(new char[kChunk]);
  int fds[2] = {m_readFd[0], m_readFd[1]};
  bool stopping = false;
  while (true) {
    pollfd p[3] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}, {m_wakeFd[0], POLLIN, 0}};
    if (!stopping && ::poll(p, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[2].revents) stopping = true;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0 || (!stopping && !p[i].revents)) continue;
      // A few chunks per stream and turn, so neither stream starves.
      for (int turn = 0; turn < 16; ++turn) {
        const ssize_t n = ::read(fds[i], buf.get(), kChunk);
        if (n > 0) {
          Forward(i, buf.get(), static_cast<std::size_t>(n));
          Append(i, buf.get(), static_cast<std::size_t>(n));
          continue;
        }
        if (n == 0) fds[i] = -1;  // every write end closed
        if (n < 0 && errno == EINTR) continue;
        break;
      }
    }
    // Told to end: what was already written has been read (a child that
    // goes on writing is not waited for).
    if (stopping) break;
  }
}

// --- the window ----------------------------------------------------------------

CConsoleWindow::CConsoleWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), m_capture([this] {
        QMetaObject::invokeMethod(
            this, [this] { TakeCaptured(); }, Qt::QueuedConnection);
      }) {
  setWindowTitle(QString::fromUtf8(kTitle));
  setObjectName("ConsoleWindow");
  m_pText = new QPlainTextEdit(this);
  m_pText->setObjectName("ConsoleText");
  m_pText->setReadOnly(true);
  m_pText->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_pText->setMaximumBlockCount(kMaxLines);
  m_pText->setUndoRedoEnabled(false);
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  m_pText->setFont(font);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_pText);
  resize(sizeHint());
}

CConsoleWindow::~CConsoleWindow() { m_capture.Stop(); }

QSize CConsoleWindow::sizeHint() const {
  // About 80 columns and 25 lines, with the scroll bars and the frame.
  const QFontMetrics fm(m_pText->font());
  const int frame = 2 * m_pText->frameWidth() + 8;
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  return {fm.horizontalAdvance(QString(80, u'W')) + frame + bar, fm.lineSpacing() * 25 + frame + bar};
}

bool CConsoleWindow::Open(std::string& why) {
  if (IsOpen()) return true;
  m_pText->clear();
  m_pending.clear();
  return m_capture.Start(why);
}

void CConsoleWindow::Close() {
  m_capture.Stop();
  TakeCaptured();  // the last text read stays in the window
  FlushPending(true);
  hide();
}

void CConsoleWindow::closeEvent(QCloseEvent* event) {
  m_capture.Stop();
  TakeCaptured();
  FlushPending(true);
  event->accept();
}

void CConsoleWindow::WriteDirect(const QString& text) {
  FlushPending(true);  // after what was written before it
  Append(text);
}

void CConsoleWindow::TakeCaptured() {
  m_pending += m_capture.Take();
  // Only the lines the window keeps are worth inserting.
  const qsizetype lines = m_pending.count(u'\n');
  if (lines > kMaxLines) DropLeadingLines(m_pending, static_cast<int>(lines - kMaxLines));
  FlushPending(false);
}

void CConsoleWindow::FlushPending(bool all) {
  if (m_pending.isEmpty()) return;
  qsizetype end = m_pending.size();
  if (!all) {
    qsizetype pos = 0;
    for (int i = 0; i < kLinesPerPass; ++i) {
      pos = m_pending.indexOf(u'\n', pos);
      if (pos < 0) break;
      ++pos;
    }
    if (pos > 0) end = pos;
  }
  Append(m_pending.left(end));
  m_pending.remove(0, end);
  if (!m_pending.isEmpty() && !m_bFlushScheduled) {
    m_bFlushScheduled = true;
    QTimer::singleShot(0, this, [this] {
      m_bFlushScheduled = false;
      FlushPending(false);
    });
  }
}

void CConsoleWindow::Append(const QString& text) {
  QScrollBar* bar = m_pText->verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();
  // Only the lines the window keeps are inserted.
  QStringView shown(text);
  if (text.count(u'\n') > kMaxLines) {
    qsizetype pos = text.size();
    for (int i = 0; i <= kMaxLines && pos > 0; ++i) pos = text.lastIndexOf(u'\n', pos - 1);
    shown = shown.mid(pos + 1);
  }
  QTextCursor cursor(m_pText->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(shown.toString());
  if (following) bar->setValue(bar->maximum());
}

}  // namespace ConsoleWindow
