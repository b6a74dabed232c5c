#pragma once
// A stand-in media document window for the application's tests, which run
// without the media document layer: it registers like a media document,
// carries the document's title and shows its four channels as empty panes.

#include <QWidget>

#include "shell/document_template.h"

class CPlaceholderDocument : public QWidget, public shell::IChildFrame, public shell::IMediaDocument {
 public:
  explicit CPlaceholderDocument(QWidget* parent = nullptr);
  ~CPlaceholderDocument() override;

  // shell::IChildFrame
  QWidget* Widget() override { return this; }
  shell::IMediaDocument* Document() override { return this; }
  platform::qt::ICommandTarget* FrameTarget() override { return nullptr; }
  std::vector<platform::qt::ICommandTarget*> ViewTargets() override { return {}; }

  // shell::IMediaDocument
  int Number() const override { return m_number; }
  std::string Title() const override;
  bool SaveModified() override { return true; }
  bool OnOpenDocument(const std::string& path) override;
  void StartPlaying() override { ++m_startCount; }
  bool IsPlaying() const override { return false; }
  bool OnCmdMsg(UINT id, platform::qt::TCmdCode code, platform::qt::TCmdUI* ui) override;

  int StartCount() const { return m_startCount; }

  // The factory the application registers.
  static shell::IChildFrame* Create(QWidget* parent);

 private:
  std::int32_t m_number = 0;
  std::int32_t m_serial = 0;
  int m_startCount = 0;
};
