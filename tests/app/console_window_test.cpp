// The console window: Tools "Open console" puts the program's standard
// output and error into a window while every byte still reaches where it
// went before; "Close console" puts them back. The tests point 1 and 2 into
// pipes of their own first, so that both sides can be read.
#include "app/console_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "document/zarn_doc.h"
#include "shell/command_ids.h"
#include "shell/main_frame.h"
#include "tests/app/app_test_support.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using ConsoleWindow::CConsoleWindow;

// Descriptors 1 and 2 into pipes of the test, read by a thread; put back at
// the end.
class TStdPipes {
 public:
  TStdPipes() {
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 2; ++i) {
      m_saved[i] = ::fcntl(i + 1, F_DUPFD_CLOEXEC, 3);
      int p[2];
      EXPECT_EQ(::pipe2(p, O_CLOEXEC), 0);
      ::dup2(p[1], i + 1);
      ::close(p[1]);
      m_read[i] = p[0];
    }
    EXPECT_EQ(::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK), 0);
    m_thread = std::thread([this] { Drain(); });
  }
  ~TStdPipes() {
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 2; ++i) {
      ::dup2(m_saved[i], i + 1);
      ::close(m_saved[i]);
    }
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &c, 1);
    m_thread.join();
    for (int fd : {m_read[0], m_read[1], m_wake[0], m_wake[1]}) ::close(fd);
    // The test's own reports went into the pipes too: shown when it failed.
    if (::testing::Test::HasFailure()) {
      for (int i = 0; i < 2; ++i) {
        const std::string& t = m_text[i];
        const std::string tail = t.size() > 8192 ? t.substr(t.size() - 8192) : t;
        std::fprintf(stderr, "--- captured standard %s ---\n%s\n", i == 0 ? "output" : "error", tail.c_str());
      }
    }
  }

  std::string Text(int stream) {
    std::lock_guard lock(m_mutex);
    return m_text[stream];
  }
  // Waits (at most `limit`) until the stream's text contains `what`.
  bool WaitFor(int stream, const std::string& what, std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, limit, [&] { return m_text[stream].find(what) != std::string::npos; });
  }

 private:
  void Drain() {
    char buf[65536];
    bool stopping = false;
    while (true) {
      pollfd p[3] = {{m_read[0], POLLIN, 0}, {m_read[1], POLLIN, 0}, {m_wake[0], POLLIN, 0}};
      ::poll(p, 3, stopping ? 0 : -1);
      if (p[2].revents) stopping = true;
      bool any = false;
      for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & POLLIN)) continue;
        const ssize_t n = ::read(m_read[i], buf, sizeof buf);
        if (n <= 0) continue;
        any = true;
        std::lock_guard lock(m_mutex);
        m_text[i].append(buf, static_cast<std::size_t>(n));
        m_cv.notify_all();
      }
      if (stopping && !any) return;
    }
  }

  int m_saved[2] = {-1, -1};
  int m_read[2] = {-1, -1};
  int m_wake[2] = {-1, -1};
  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::string m_text[2];
};

constexpr int kOut = 0;
constexpr int kErr = 1;

QString WindowText(CConsoleWindow& w) { return w.TextEdit()->toPlainText(); }

// Runs the event loop until the window's text contains `what` (at most
// `limit`).
bool WaitForWindow(CConsoleWindow& w, const QString& what, std::chrono::milliseconds limit = 10s) {
  QElapsedTimer t;
  t.start();
  while (!WindowText(w).contains(what)) {
    if (t.elapsed() > limit.count()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// The positions of `parts` in `text` rise, each found.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t pos = 0;
  for (const std::string& p : parts) {
    const std::size_t at = text.find(p, pos);
    if (at == std::string::npos)
      return ::testing::AssertionFailure() << "\"" << p << "\" missing or out of order in:\n" << text;
    pos = at + p.size();
  }
  return ::testing::AssertionSuccess();
}

// The pipes this process holds open (the console's pipes and its wake-up;
// Qt opens other descriptors lazily, so only pipes are counted).
std::size_t OpenPipes() {
  std::size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
    if (!ec && target.rfind("pipe:", 0) == 0) ++n;
  }
  return n;
}

// Starts `sh -c script` with the current 1 and 2.
pid_t Spawn(const char* script) {
  pid_t pid = -1;
  const char* argv[] = {"/bin/sh", "-c", script, nullptr};
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  return pid;
}

// Waits for a child (at most `limit`); -1 when it did not end.
int WaitChild(pid_t pid, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) return -1;
    std::this_thread::sleep_for(5ms);
  }
  return status;
}

class ConsoleTest : public TAppTest {
 protected:
  TStdPipes pipes;
};

}  // namespace

TEST_F(ConsoleTest, BothStreamsOfEveryWriterReachTheWindowAndTheirOriginalsInOrder) {
  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  auto* router = app->MainFrameWindow()->Router();
  EXPECT_TRUE(router->Update(shell::ID_TOOLS_OPEN_CONSOLE).Enabled());
  EXPECT_TRUE(router->Update(shell::ID_TOOLS_CLOSE_CONSOLE).Enabled());
  ASSERT_TRUE(router->Execute(shell::ID_TOOLS_OPEN_CONSOLE));
  CConsoleWindow* console = app->Console();
  ASSERT_NE(console, nullptr);
  EXPECT_TRUE(console->IsOpen());
  EXPECT_TRUE(console->isVisible());
  EXPECT_EQ(console->windowTitle(), "Zarn console window");
  EXPECT_TRUE(WindowText(*console).startsWith(
      "Zarn console window started successfully \n Test 1: for _tcprintf \n"));
  EXPECT_TRUE(sink.Texts().empty());
  EXPECT_TRUE(router->Update(shell::ID_TOOLS_OPEN_CONSOLE).Enabled());
  EXPECT_TRUE(router->Update(shell::ID_TOOLS_CLOSE_CONSOLE).Enabled());

  // The UI thread, a worker and a child started afterwards, each by the C
  // library, the C++ streams and the descriptors themselves.
  std::printf("out ui printf\n");
  std::fflush(stdout);
  std::cout << "out ui cout" << std::endl;
  std::fprintf(stderr, "err ui fprintf\n");
  ASSERT_EQ(::write(2, "err ui write\n", 13), 13);
  std::thread worker([] {
    std::printf("out worker printf\n");
    std::fflush(stdout);
    [[maybe_unused]] const ssize_t n = ::write(2, "err worker write\n", 17);
  });
  worker.join();
  const pid_t child = Spawn("echo out child; echo err child >&2");
  ASSERT_GT(child, 0);
  EXPECT_EQ(WaitChild(child), 0);

  ASSERT_TRUE(WaitForWindow(*console, "err child\n"));
  ASSERT_TRUE(WaitForWindow(*console, "out child\n"));
  const std::string shown = WindowText(*console).toStdString();
  const std::vector<std::string> out = {" Test 3: for _tprintf function \n", "out ui printf\n",
                                        "out ui cout\n", "out worker printf\n", "out child\n"};
  const std::vector<std::string> err = {"err ui fprintf\n", "err ui write\n", "err worker write\n",
                                        "err child\n"};
  EXPECT_TRUE(InOrder(shown, out));
  EXPECT_TRUE(InOrder(shown, err));
  ASSERT_TRUE(pipes.WaitFor(kOut, "out child\n"));
  ASSERT_TRUE(pipes.WaitFor(kErr, "err child\n"));
  EXPECT_TRUE(InOrder(pipes.Text(kOut), out));
  EXPECT_TRUE(InOrder(pipes.Text(kErr), err));
  EXPECT_EQ(pipes.Text(kOut).find("err"), std::string::npos) << "each stream to its own original";
  EXPECT_EQ(pipes.Text(kErr).find("out"), std::string::npos);

  // A character written byte by byte, the bytes read apart, shows whole.
  ASSERT_EQ(::write(1, "\xc3", 1), 1);
  ASSERT_TRUE(pipes.WaitFor(kOut, "out child\n\xc3"));
  ASSERT_EQ(::write(1, "\xa4 end\n", 6), 6);
  ASSERT_TRUE(WaitForWindow(*console, " end\n"));
  EXPECT_TRUE(WindowText(*console).contains(QString::fromUtf8("\xc3\xa4 end\n")));
  EXPECT_FALSE(WindowText(*console).contains(QChar(0xFFFD)));
  // "\r\n" ends a line without a stray character.
  ASSERT_EQ(::write(1, "crlf\r\nnext\n", 11), 11);
  ASSERT_TRUE(WaitForWindow(*console, "next\n"));
  EXPECT_TRUE(WindowText(*console).contains("crlf\nnext\n"));

  // What "Save Project..." writes.
  ZarnDoc::CZarnDoc::WriteProjectXml(std::cout);
  ASSERT_TRUE(WaitForWindow(*console, "<?xml version=\"1.0\" encoding=\"utf-8\"?>"));

  ASSERT_TRUE(router->Execute(shell::ID_TOOLS_CLOSE_CONSOLE));
  EXPECT_FALSE(console->IsOpen());
  EXPECT_FALSE(console->isVisible());
  EXPECT_TRUE(sink.Texts().empty());
  app->ExitInstance();
}

TEST_F(ConsoleTest, ASecondOpenSaysSoAndWritesTheStartLinesAgainWithTheSameReader) {
  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  auto* router = app->MainFrameWindow()->Router();
  router->Execute(shell::ID_TOOLS_OPEN_CONSOLE);
  CConsoleWindow* console = app->Console();
  ASSERT_NE(console, nullptr);
  ASSERT_TRUE(WaitForWindow(*console, " Test 3: for _tprintf function \n"));
  const std::size_t pipeCount = OpenPipes();
  console->hide();

  router->Execute(shell::ID_TOOLS_OPEN_CONSOLE);
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Console window can not be open..."});
  EXPECT_EQ(app->Console(), console);
  EXPECT_TRUE(console->isVisible()) << "shown again";
  EXPECT_EQ(OpenPipes(), pipeCount) << "the same pipes, one reader";
  // The start lines again after what the first opening wrote (the library's
  // warnings on standard error may come in between).
  ASSERT_TRUE(pipes.WaitFor(kOut, " Test 3: for _tprintf function \n Test 3"));
  const std::string start = "Zarn console window started successfully \n Test 1: for _tcprintf \n";
  const std::string test3 = " Test 3: for _tprintf function \n";
  QElapsedTimer t;
  t.start();
  while (WindowText(*console).count(QString::fromStdString(test3)) < 2 && t.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  const std::string text = WindowText(*console).toStdString();
  EXPECT_TRUE(InOrder(text, {start, test3, start, test3}));
  EXPECT_EQ(WindowText(*console).count(QString::fromStdString(start)), 2);
  EXPECT_EQ(WindowText(*console).count(QString::fromStdString(test3)), 2);
  EXPECT_EQ(pipes.Text(kOut).find("Zarn"), std::string::npos) << "the start lines go to the window only";
  app->ExitInstance();
}

TEST_F(ConsoleTest, CloseGivesTheStreamsBackPromptlyWhileAChildStillHoldsThem) {
  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  auto* router = app->MainFrameWindow()->Router();

  // Without a console: said so, nothing else.
  router->Execute(shell::ID_TOOLS_CLOSE_CONSOLE);
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Console window can not be closed..."});
  sink.Clear();

  const std::size_t pipeCount = OpenPipes();
  router->Execute(shell::ID_TOOLS_OPEN_CONSOLE);
  CConsoleWindow* console = app->Console();
  ASSERT_NE(console, nullptr);
  const pid_t child = Spawn("echo child started; exec sleep 30");
  ASSERT_GT(child, 0);
  ASSERT_TRUE(WaitForWindow(*console, "child started\n"));

  QElapsedTimer t;
  t.start();
  router->Execute(shell::ID_TOOLS_CLOSE_CONSOLE);
  EXPECT_LT(t.elapsed(), 2000) << "close does not wait for the child's end of data";
  EXPECT_FALSE(console->IsOpen());
  EXPECT_TRUE(sink.Texts().empty());
  EXPECT_EQ(OpenPipes(), pipeCount) << "every pipe and saved descriptor closed";

  std::printf("out after close\n");
  std::fflush(stdout);
  std::fprintf(stderr, "err after close\n");
  EXPECT_TRUE(pipes.WaitFor(kOut, "out after close\n"));
  EXPECT_TRUE(pipes.WaitFor(kErr, "err after close\n"));
  QApplication::processEvents();
  EXPECT_FALSE(WindowText(*console).contains("after close"));

  ::kill(child, SIGKILL);
  EXPECT_NE(WaitChild(child), -1);

  // Open again after a close: a fresh window text, the streams captured.
  router->Execute(shell::ID_TOOLS_OPEN_CONSOLE);
  EXPECT_TRUE(sink.Texts().empty());
  std::printf("out reopened\n");
  std::fflush(stdout);
  EXPECT_TRUE(WaitForWindow(*console, "out reopened\n"));
  EXPECT_FALSE(WindowText(*console).contains("child started"));
  // The window's close button closes the console as the command does.
  console->close();
  EXPECT_FALSE(console->IsOpen());
  std::printf("out after the close button\n");
  std::fflush(stdout);
  EXPECT_TRUE(pipes.WaitFor(kOut, "out after the close button\n"));
  app->ExitInstance();
}

TEST_F(ConsoleTest, AMegabyteWrittenAtOnceByTheUiThreadFinishes) {
  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  app->MainFrameWindow()->Router()->Execute(shell::ID_TOOLS_OPEN_CONSOLE);
  CConsoleWindow* console = app->Console();
  ASSERT_NE(console, nullptr);
  std::string block;
  for (int i = 0; block.size() < (1u << 20); ++i) block += "line " + std::to_string(i) + " of the megabyte\n";
  block += "the last line\n";

  // The writer is the UI thread, which takes nothing from the console while
  // it writes: the reader must go on without it. A watchdog bounds the wait.
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock lock(m);
    if (!cv.wait_for(lock, 60s, [&] { return done; })) {
      std::fputs("the write into the console did not finish\n", stderr);
      std::_Exit(3);
    }
  });
  std::size_t written = 0;
  while (written < block.size()) {
    const ssize_t n = ::write(1, block.data() + written, block.size() - written);
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0);
    written += static_cast<std::size_t>(n);
  }
  {
    std::lock_guard lock(m);
    done = true;
  }
  cv.notify_all();
  watchdog.join();

  ASSERT_TRUE(WaitForWindow(*console, "the last line\n", 30s));
  EXPECT_LE(console->TextEdit()->document()->blockCount(), ConsoleWindow::kMaxLines);
  EXPECT_TRUE(pipes.WaitFor(kOut, "the last line\n", 30s));
  EXPECT_NE(pipes.Text(kOut).find(block), std::string::npos) << "every byte reached the original";
  // The window follows the newest line.
  QScrollBar* bar = console->TextEdit()->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());
  app->ExitInstance();
}

TEST_F(ConsoleTest, TheWindowFollowsTheNewestLineUnlessScrolledUpAndKeepsLeadingBlanks) {
  CConsoleWindow console;
  console.show();
  QString many;
  for (int i = 0; i < 200; ++i) many += QString("   %1\n").arg(i);
  console.WriteDirect(many);
  QScrollBar* bar = console.TextEdit()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(console.TextEdit()->document()->findBlockByNumber(5).text(), "   5");
  bar->setValue(10);
  console.WriteDirect("more\n");
  EXPECT_EQ(bar->value(), 10) << "the user's place is kept";
  bar->setValue(bar->maximum());
  console.WriteDirect("and more\n");
  EXPECT_EQ(bar->value(), bar->maximum());
  // Fixed pitch, no wrapping, about 80 by 25 characters.
  const QFontMetrics fm(console.TextEdit()->font());
  EXPECT_EQ(fm.horizontalAdvance("iiii"), fm.horizontalAdvance("WWWW"));
  EXPECT_EQ(console.TextEdit()->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_TRUE(console.TextEdit()->isReadOnly());
  EXPECT_NEAR(console.sizeHint().width(), 80 * fm.horizontalAdvance('W'), 80);
  EXPECT_NEAR(console.sizeHint().height(), 25 * fm.lineSpacing(), 80);
  // A long line scrolls sideways.
  console.resize(console.sizeHint());
  console.WriteDirect(QString(400, u'x') + "\n");
  QApplication::processEvents();
  EXPECT_GT(console.TextEdit()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(ConsoleTest, ExitWithTheConsoleOpenEndsItsReaderAndGivesTheStreamsBack) {
  const std::size_t pipeCount = OpenPipes();
  {
    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    app->MainFrameWindow()->Router()->Execute(shell::ID_TOOLS_OPEN_CONSOLE);
    ASSERT_NE(app->Console(), nullptr);
    ASSERT_TRUE(app->Console()->IsOpen());
    app->ExitInstance();
    EXPECT_EQ(app->Console(), nullptr);
  }
  EXPECT_EQ(OpenPipes(), pipeCount);
  std::printf("out after exit\n");
  std::fflush(stdout);
  EXPECT_TRUE(pipes.WaitFor(kOut, "out after exit\n"));
}

TEST_F(ConsoleTest, WithStandardOutputAndErrorClosedTheConsoleStillCapturesAndClosesThemAgain) {
  std::fflush(stdout);
  ::close(1);
  ::close(2);
  {
    CConsoleWindow console;
    std::string why;
    ASSERT_TRUE(console.Open(why)) << why;
    ASSERT_EQ(::write(1, "to a closed stdout\n", 19), 19);
    ASSERT_EQ(::write(2, "to a closed stderr\n", 19), 19);
    EXPECT_TRUE(WaitForWindow(console, "to a closed stdout\n"));
    EXPECT_TRUE(WaitForWindow(console, "to a closed stderr\n"));
    console.Close();
  }
  EXPECT_EQ(::fcntl(1, F_GETFD), -1) << "closed as before";
  EXPECT_EQ(::fcntl(2, F_GETFD), -1);
}
