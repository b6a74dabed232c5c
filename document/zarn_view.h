#pragma once
// A video pane of a media document. The pane shows the front picture of the
// video port of its channel (the document's pane-to-channel map), scaled by
// the document's zoom mode and turned as the port's orientation says, with
// an optional picture-in-picture inset; it keeps its scroll range and
// position in step with the zoom, prints and previews the picture, copies it
// to the clipboard, scrolls with the wheel and zooms with Ctrl + wheel.
//
// Painting takes a reference to the port's front picture and paints from it:
// a frame that arrives meanwhile goes into another picture, so the pane never
// shows half of one frame and half of the next.

#include <QAbstractScrollArea>
#include <QImage>

#include <cstdint>
#include <functional>

#include "document/video_port.h"
#include "document/zoom.h"
#include "platform/qt/app_messages.h"
#include "platform/qt/commands.h"

class QMenu;
class QPrinter;

namespace ZarnDoc {
class CZarnDoc;
}

namespace ZarnView {

// The pane context menu (230) and the controller pane's menu (231). The main
// window builds them (MainFrame::CMainFrame::CreateContextMenu) and receives
// their commands; a factory set here builds them instead (tests).
inline constexpr int kPaneContextMenu = 230;
inline constexpr int kControllerContextMenu = 231;
using TPopupMenuFactory = std::function<QMenu*(int menuId, QWidget* parent)>;
void SetPopupMenuFactory(TPopupMenuFactory factory);
QMenu* CreatePopupMenu(int menuId, QWidget* parent);

class CZarnView : public QAbstractScrollArea, public platform::qt::ICommandTarget {
  Q_OBJECT
 public:
  explicit CZarnView(ZarnDoc::CZarnDoc* document, QWidget* parent = nullptr);
  ~CZarnView() override;

  bool OnCmdMsg(UINT id, platform::qt::TCmdCode code, platform::qt::TCmdUI* ui) override;

  ZarnDoc::CZarnDoc* Document() const { return m_pDocument; }
  int Role() const { return m_nRole; }
  int PaneIndex() const { return m_nPaneIndex; }
  // The channel this pane shows.
  int Channel() const;
  // The client area the picture is fitted into.
  QSize ClientSize() const;

  // Once the window stands: tells the main window that a media view exists
  // and starts without a scroll range.
  void OnInitialUpdate();

  // Re-applies the zoom to the scroll range and position and repaints.
  // False when the port has no picture.
  bool RescalePane();

  // Scroll range (size of the drawing surface) and position.
  QSize ScrollRange() const { return m_Range; }
  QPoint ScrollPosition() const;
  void ScrollTo(const QPoint& position);
  // Where the picture is drawn on the drawing surface; false when nothing is.
  bool PictureRect(Zoom::TRect& rect) const;

  // Copy: the picture on show goes to the clipboard as an image.
  bool CopyToClipboard();

  // Printing: PreparePrinting takes a snapshot of the picture on show (later
  // frames do not change the printout), PrintPicture draws it on the printer
  // at the largest size that keeps its shape, top left of the printable
  // area; EndPrinting lets the snapshot go.
  bool PreparePrinting();
  bool PrintPicture(QPrinter& printer);
  void EndPrinting();

 signals:
  // The pane became the active view (click, focus, context menu).
  void Activated(ZarnView::CZarnView* view);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void RegisterCommands();
  void UpdateScrollBars();
  // The front picture of the pane's channel and a converted image of it
  // (converted again only when the port's picture changed).
  VideoPort::TPicture FrontPicture(QImage& image);
  float DrawFactor() const;
  bool SmoothStretch() const;
  void OnPrint(bool dialog);
  void OnPrintPreview();

  ZarnDoc::CZarnDoc* m_pDocument;
  int m_nRole = 2;
  int m_nPaneIndex = 0;
  double m_fCentreX = 0.5;
  double m_fCentreY = 0.5;
  QPoint m_LastScroll;
  int m_nWheelAccumulator = 0;
  bool m_bPrinterRefused = false;
  QSize m_Range;

  // The last converted picture.
  QImage m_Image;
  std::uint64_t m_nImageGeneration = 0;
  int m_nImageChannel = -1;

  platform::qt::CCmdTarget m_Commands;
  platform::qt::TMessageMap* m_pMessages = nullptr;
};

}  // namespace ZarnView
