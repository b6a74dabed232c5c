#pragma once
// The console window: the program's standard output and error shown in a
// window of its own while it is open (Tools "Open console"), for watching
// test output, the XML of "Save Project..." and what the libraries print.
//
// While it is open, descriptors 1 and 2 are pipes read by a thread of the
// console. Every chunk read still goes on to where the stream went before,
// and its text is kept for the window (UTF-8, per stream, so a character
// split across writes stays whole) in a buffer bounded like the window. The
// thread never waits for the UI thread: it posts at most one notice, and
// the UI thread takes the whole buffer. Closing puts 1 and 2 back, so that
// later output goes where it went before the console was opened.

#include <QString>
#include <QStringDecoder>
#include <QWidget>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class QCloseEvent;
class QPlainTextEdit;

namespace ConsoleWindow {

// The window's title and the lines an opening writes.
inline constexpr const char* kTitle = "Zarn console window";
inline constexpr const char* kStartLines =
    "Zarn console window started successfully \n Test 1: for _tcprintf \n";
inline constexpr const char* kStdoutStartLine = " Test 3: for _tprintf function \n";
// The lines the window keeps.
inline constexpr int kMaxLines = 10000;

// Descriptors 1 and 2 redirected into pipes and read by a thread of its own.
class CConsoleCapture {
 public:
  // Called on the reader thread when text starts waiting; not again until
  // it was taken.
  using TNotify = std::function<void()>;

  explicit CConsoleCapture(TNotify notify, int maxLines = kMaxLines);
  ~CConsoleCapture();
  CConsoleCapture(const CConsoleCapture&) = delete;
  CConsoleCapture& operator=(const CConsoleCapture&) = delete;

  // Redirects 1 and 2 and starts the reader; false (with the reason) when a
  // pipe or the redirection failed, with 1 and 2 as they were.
  bool Start(std::string& why);
  // Puts 1 and 2 back, ends the reader (also while a child still holds a
  // pipe) and waits for it.
  void Stop();
  bool Running() const { return m_reader.joinable(); }

  // Everything read since the last take, in the order it arrived.
  QString Take();

 private:
  void ReaderLoop();
  void Forward(int stream, const char* data, std::size_t size);
  void Append(int stream, const char* data, std::size_t size);
  void CloseAll();

  TNotify m_notify;
  int m_nMaxLines;
  int m_readFd[2] = {-1, -1};
  int m_savedFd[2] = {-1, -1};
  int m_wakeFd[2] = {-1, -1};
  bool m_forward[2] = {true, true};
  QStringDecoder m_decoder[2];
  std::thread m_reader;

  std::mutex m_mutex;  // guards the three below
  QString m_buffer;
  int m_nBufferLines = 0;
  bool m_bNoticePending = false;
};

// The window: a read-only fixed-pitch text without wrapping that follows
// the newest line unless the user scrolled up.
class CConsoleWindow : public QWidget {
  Q_OBJECT
 public:
  explicit CConsoleWindow(QWidget* parent = nullptr);
  ~CConsoleWindow() override;

  // Starts the capture (the window's text starts empty); false with the
  // reason when it could not.
  bool Open(std::string& why);
  // Stops the capture and hides the window.
  void Close();
  bool IsOpen() const { return m_capture.Running(); }

  // Writes text straight into the window.
  void WriteDirect(const QString& text);
  // Takes the captured text into the window now (the notice does it too).
  void TakeCaptured();

  QPlainTextEdit* TextEdit() const { return m_pText; }
  QSize sizeHint() const override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Append(const QString& text);
  // Inserts the waiting text a slice at a time, so that the event loop
  // never stalls over a flood; `all` inserts everything now.
  void FlushPending(bool all);

  QPlainTextEdit* m_pText = nullptr;
  QString m_pending;  // taken from the capture, not yet in the window
  bool m_bFlushScheduled = false;
  CConsoleCapture m_capture;
};

}  // namespace ConsoleWindow
