#pragma once
// The seam between the shell and the media documents: a document template
// creates a document together with the child frame that shows it, and the
// main frame keeps the frames in its tab groups. The document layer provides
// the real template; the application registers it at start-up.
//
// Lifetime: a child frame's widget owns the frame object and its document
// (the frame object is the widget itself or a QObject child of it); the
// main frame closes a document window by deleting that widget.

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/commands.h"

class QWidget;

namespace shell {

// What the shell needs of a document.
class IMediaDocument : public platform::qt::ICommandTarget {
 public:
  // The document's number (its title is "DM" followed by it).
  virtual int Number() const = 0;
  virtual std::string Title() const = 0;
  // The close check: true when the document may close now. A document whose
  // engine runs asks it to stop and answers false.
  virtual bool SaveModified() = 0;
  // Opens a file into the document (command line and the File Open of the
  // document manager). False when it could not be opened (already reported).
  virtual bool OnOpenDocument(const std::string& path) = 0;
  // The engine session: start (the first idle pass of a client decoder) and
  // whether it runs.
  virtual void StartPlaying() = 0;
  virtual bool IsPlaying() const = 0;
  // Opens a file into one channel (0..3) of the document; false when it
  // could not be opened (already reported).
  virtual bool OpenInChannel(const std::string& /*path*/, int /*channel*/) { return false; }
};

// What the shell needs of a document's child frame.
class IChildFrame {
 public:
  virtual ~IChildFrame() = default;
  // The frame's widget; its window title is the tab text.
  virtual QWidget* Widget() = 0;
  virtual IMediaDocument* Document() = 0;
  // The frame's own command handlers (pane layout commands).
  virtual platform::qt::ICommandTarget* FrameTarget() = 0;
  // The views of the document, the active one first.
  virtual std::vector<platform::qt::ICommandTarget*> ViewTargets() = 0;
  // Called once after the frame was put into the main window.
  virtual void OnInitialUpdate() {}
};

// One kind of document: its document string and how to make one.
class CDocTemplate {
 public:
  // Creates a new empty document with its frame; `parent` is the widget the
  // frame goes into. nullptr when the document could not be created.
  using TFactory = std::function<IChildFrame*(QWidget* parent)>;

  CDocTemplate(std::string docString, TFactory factory)
      : m_docString(std::move(docString)), m_factory(std::move(factory)) {}

  // "\ntovrin\ntovrin\n)\n\ntovrin.Document\ntovrin Document": the fields
  // are separated by line feeds (window title, document name, file-new
  // name, filter name, filter extension, type id, type name).
  const std::string& DocString() const { return m_docString; }
  // One field of the document string, "" when missing.
  std::string DocStringField(int index) const;

  IChildFrame* CreateNewFrame(QWidget* parent) const { return m_factory ? m_factory(parent) : nullptr; }

 private:
  std::string m_docString;
  TFactory m_factory;
};

// The document string of the media document.
inline constexpr const char* kMediaDocString = "\ntovrin\ntovrin\n)\n\ntovrin.Document\ntovrin Document";

// The application's main window, to which documents send their frame
// notices (nullptr before it exists and after it closed).
QWidget* MainWindow();
void SetMainWindow(QWidget* window);

}  // namespace shell
