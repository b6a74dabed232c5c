#pragma once
// Where user-facing "message box" texts go. The application installs a sink
// that shows a dialog (on the UI thread) or posts one (from a worker, which
// never waits for the answer); tests install a recording sink; without a sink
// the texts go to standard error.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// Buttons and icon, as a bit set.
enum MessageBoxStyle : std::uint32_t {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_BUTTON_MASK = 0xF,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_ICON_MASK = 0xF0,
};

// The button that closed the box.
enum DialogResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct TMessageBox {
  std::string text;     // UTF-8
  std::string caption;  // empty: the application's title
  std::uint32_t style = MB_OK | MB_ICONEXCLAMATION;
};

class IMessageSink {
 public:
  virtual ~IMessageSink() = default;
  // May be called from any thread. Returns the button chosen; a sink that
  // cannot wait for the user (a worker thread) returns the default button.
  virtual int Show(const TMessageBox& box) = 0;
};

// Installs the process-wide sink (nullptr restores the standard-error sink)
// and returns the previous one.
IMessageSink* SetMessageSink(IMessageSink* sink);

// Reports a text to the user. Default: OK button with the exclamation icon.
int ShowMessage(const std::string& text, const std::string& caption = {},
                std::uint32_t style = MB_OK | MB_ICONEXCLAMATION);

// The default answer of a box that nobody can answer: OK, or Yes/No's "No"
// is never assumed; the first button of the style is taken.
int DefaultButton(std::uint32_t style);

// Records every box; answers with a preset button. Thread-safe.
class TRecordingMessageSink : public IMessageSink {
 public:
  explicit TRecordingMessageSink(int answer = 0) : m_answer(answer) {}
  int Show(const TMessageBox& box) override;
  std::vector<TMessageBox> Messages() const;
  std::vector<std::string> Texts() const;
  void Clear();
  void SetAnswer(int answer);

 private:
  mutable std::mutex m_mutex;
  std::vector<TMessageBox> m_boxes;
  int m_answer;
};

// Installs a sink for the lifetime of the object.
class TScopedMessageSink {
 public:
  explicit TScopedMessageSink(IMessageSink* sink) : m_previous(SetMessageSink(sink)) {}
  ~TScopedMessageSink() { SetMessageSink(m_previous); }
  TScopedMessageSink(const TScopedMessageSink&) = delete;
  TScopedMessageSink& operator=(const TScopedMessageSink&) = delete;

 private:
  IMessageSink* m_previous;
};

}  // namespace platform
