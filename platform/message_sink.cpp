#include "platform/message_sink.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {

class TStderrSink : public IMessageSink {
 public:
  int Show(const TMessageBox& box) override {
    std::fprintf(stderr, "%s%s%s\n", box.caption.c_str(), box.caption.empty() ? "" : ": ", box.text.c_str());
    return DefaultButton(box.style);
  }
};

TStderrSink g_stderrSink;
std::atomic<IMessageSink*> g_sink{nullptr};

}  // namespace

IMessageSink* SetMessageSink(IMessageSink* sink) { return g_sink.exchange(sink); }

int DefaultButton(std::uint32_t style) {
  switch (style & MB_BUTTON_MASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    default: return IDOK;
  }
}

int ShowMessage(const std::string& text, const std::string& caption, std::uint32_t style) {
  IMessageSink* sink = g_sink.load();
  if (!sink) sink = &g_stderrSink;
  return sink->Show(TMessageBox{text, caption, style});
}

int TRecordingMessageSink::Show(const TMessageBox& box) {
  std::lock_guard lock(m_mutex);
  m_boxes.push_back(box);
  return m_answer ? m_answer : DefaultButton(box.style);
}

std::vector<TMessageBox> TRecordingMessageSink::Messages() const {
  std::lock_guard lock(m_mutex);
  return m_boxes;
}

std::vector<std::string> TRecordingMessageSink::Texts() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> texts;
  texts.reserve(m_boxes.size());
  for (const auto& b : m_boxes) texts.push_back(b.text);
  return texts;
}

void TRecordingMessageSink::Clear() {
  std::lock_guard lock(m_mutex);
  m_boxes.clear();
}

void TRecordingMessageSink::SetAnswer(int answer) {
  std::lock_guard lock(m_mutex);
  m_answer = answer;
}

}  // namespace platform
