#include "document/zarn_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegion>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <utility>

#include "document/command_ids.h"
#include "document/pane_messages.h"
#include "document/picture_image.h"
#include "document/zarn_doc.h"
#include "platform/message_sink.h"
#include "shell/command_ids.h"
#include "shell/main_frame.h"

namespace ZarnView {

using namespace ZarnCommands;
namespace pq = platform::qt;

namespace {
TPopupMenuFactory& PopupFactory() {
  static TPopupMenuFactory factory;
  return factory;
}

QRect ToQRect(const Zoom::TRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }
}  // namespace

void SetPopupMenuFactory(TPopupMenuFactory factory) { PopupFactory() = std::move(factory); }

QMenu* CreatePopupMenu(int menuId, QWidget* parent) {
  if (PopupFactory()) return PopupFactory()(menuId, parent);
  // The menus are the main window's: it builds them and receives their
  // commands, which it routes to the active document and view.
  auto* main = qobject_cast<MainFrame::CMainFrame*>(shell::MainWindow());
  return main ? main->CreateContextMenu(menuId, parent) : nullptr;
}

CZarnView::CZarnView(ZarnDoc::CZarnDoc* document, QWidget* parent)
    : QAbstractScrollArea(parent), m_pDocument(document) {
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Painting covers every pixel: no background erase.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  setMinimumSize(16, 16);

  m_pMessages = new pq::TMessageMap(this);
  m_pMessages->On(pq::WM_APP_IDENTIFY_VIEW, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    auto* record = pq::RecordOf<ZarnTypes::TIdentifyView>(lParam);
    if (!record) return 0;
    if (record->paneIndex >= 0 && record->paneIndex < ZarnTypes::kPaneCount) m_nPaneIndex = record->paneIndex;
    record->role = m_nRole;
    record->answered = 1;
    return 1;
  });
  m_pMessages->On(pq::WM_APP_PANE_RESCALE, [this](pq::WPARAM, pq::LPARAM) -> pq::LRESULT {
    RescalePane();
    return 1;
  });
  RegisterCommands();
}

CZarnView::~CZarnView() = default;

void CZarnView::RegisterCommands() {
  m_Commands.OnCommand(ID_EDIT_COPY, [this] { CopyToClipboard(); });
  // Copy goes with Save: there is something to copy while any channel of
  // the document holds a source.
  m_Commands.OnUpdate(ID_EDIT_COPY, [this](pq::TCmdUI& ui) {
    bool open = false;
    for (int ch = 0; ch < ZarnTypes::kChannelCount; ++ch)
      open = open || m_pDocument->m_Source[ch].bOpen != FALSE_;
    ui.Enable(open);
  });
  m_Commands.OnCommand(ID_EDIT_PASTE, [this] { m_pDocument->PasteFromClipboard(m_nPaneIndex); });
  m_Commands.OnCommand(ID_FILE_PRINT, [this] { OnPrint(true); });
  m_Commands.OnCommand(ID_FILE_PRINT_DIRECT, [this] { OnPrint(false); });
  m_Commands.OnCommand(ID_FILE_PRINT_PREVIEW, [this] { OnPrintPreview(); });
}

bool CZarnView::OnCmdMsg(UINT id, pq::TCmdCode code, pq::TCmdUI* ui) {
  return m_Commands.OnCmdMsg(id, code, ui);
}

int CZarnView::Channel() const {
  const int channel = m_pDocument->m_nPaneChannel[m_nPaneIndex];
  return (channel >= 0 && channel < ZarnTypes::kChannelCount) ? channel : 0;
}

QSize CZarnView::ClientSize() const { return viewport()->size(); }

QPoint CZarnView::ScrollPosition() const {
  return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CZarnView::ScrollTo(const QPoint& position) {
  horizontalScrollBar()->setValue(position.x());
  verticalScrollBar()->setValue(position.y());
}

float CZarnView::DrawFactor() const {
  const ZarnDoc::CZarnDoc& doc = *m_pDocument;
  return doc.m_fZoomFactor[Zoom::FactorIndex(doc.m_nZoomMode, m_nPaneIndex, doc.m_bSameZoomFactor)];
}

bool CZarnView::SmoothStretch() const {
  const ZarnTypes::TVideoPaneSettings& pane = m_pDocument->m_VideoPane[m_nPaneIndex];
  int mode = pane.nViewMode;
  if (m_pDocument->m_Engine.IsRunning()) mode = pane.bFastStretch ? 3 : pane.nPlayMode;
  return mode == 4;  // smooth (halftone) stretching; 3 takes the nearest pixels
}

VideoPort::TPicture CZarnView::FrontPicture(QImage& image) {
  const int channel = Channel();
  std::uint64_t generation = 0;
  VideoPort::TPicture picture = m_pDocument->m_VideoPortHub.Port(channel).FrontBitmap(generation);
  if (!picture) {
    image = QImage();
    return picture;
  }
  if (m_Image.isNull() || generation != m_nImageGeneration || channel != m_nImageChannel) {
    m_Image = PictureToImage(*picture);
    m_nImageGeneration = generation;
    m_nImageChannel = channel;
  }
  image = m_Image;
  return picture;
}

bool CZarnView::PictureRect(Zoom::TRect& rect) const {
  const VideoPort::TPicture picture = m_pDocument->m_VideoPortHub.Port(Channel()).FrontBitmap();
  if (!picture) return false;
  const QSize client = ClientSize();
  return Zoom::PictureRect(m_pDocument->m_nZoomMode, DrawFactor(), m_pDocument->m_bHasPicture[Channel()],
                           picture->Width(), picture->Height(), client.width(), client.height(), rect);
}

void CZarnView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QSize client = ClientSize();
  QImage image;
  // The reference keeps the picture whole and alive while it is painted.
  const VideoPort::TPicture picture = FrontPicture(image);
  Zoom::TRect placed;
  if (!picture || image.isNull() ||
      !Zoom::PictureRect(m_pDocument->m_nZoomMode, DrawFactor(), m_pDocument->m_bHasPicture[Channel()],
                         picture->Width(), picture->Height(), client.width(), client.height(), placed)) {
    painter.fillRect(viewport()->rect(), Qt::black);
    return;
  }
  painter.translate(-ScrollPosition());
  const QRect pictureRect = ToQRect(placed);
  const QRect surface(0, 0, std::max(client.width(), m_Range.width()),
                      std::max(client.height(), m_Range.height()));

  // Picture-in-picture inset of this pane.
  const ZarnTypes::TPictInPict& pip = m_pDocument->m_Pip[m_nPaneIndex];
  QRect insetRect;
  QImage inset;
  QRect insetSource;
  if (pip.bEnabled && pip.nInsetChannel >= 0 && pip.nInsetChannel < ZarnTypes::kChannelCount) {
    const VideoPort::TPicture insetPicture =
        m_pDocument->m_VideoPortHub.Port(pip.nInsetChannel).FrontBitmap();
    if (insetPicture) inset = PictureToImage(*insetPicture);
    if (!inset.isNull() && pip.nWidth > 0 && pip.nHeight > 0) {
      insetRect = QRect(pip.nX, pip.nY, pip.nWidth, pip.nHeight);
      if (pip.nPlacement) insetRect.translate(pictureRect.topLeft());
      insetSource = inset.rect();
      if (pip.nSourceRect)
        insetSource = QRect(pip.nSourceX, pip.nSourceY, pip.nSourceWidth, pip.nSourceHeight) & inset.rect();
      if (insetSource.isEmpty()) insetRect = QRect();
    }
  }

  // Black around the picture (and the inset), never under them.
  QRegion background(surface);
  background -= QRegion(pictureRect);
  if (!insetRect.isNull()) background -= QRegion(insetRect);
  for (const QRect& r : background) painter.fillRect(r, Qt::black);

  if (m_pDocument->m_nZoomMode == ZarnTypes::ZOOM_100 && pictureRect.size() == image.size()) {
    painter.drawImage(pictureRect.topLeft(), image);
  } else {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, SmoothStretch());
    if (!insetRect.isNull()) painter.setClipRegion(QRegion(surface) - QRegion(insetRect));
    painter.drawImage(pictureRect, image);
    painter.setClipping(false);
  }
  if (!insetRect.isNull()) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, SmoothStretch());
    painter.drawImage(insetRect, inset, insetSource);
  }
}

void CZarnView::UpdateScrollBars() {
  const QSize client = ClientSize();
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  h->setRange(0, std::max(0, m_Range.width() - client.width()));
  h->setPageStep(std::max(1, client.width()));
  h->setSingleStep(std::max(1, m_Range.width() / 100));
  v->setRange(0, std::max(0, m_Range.height() - client.height()));
  v->setPageStep(std::max(1, client.height()));
  v->setSingleStep(std::max(1, m_Range.height() / 100));
}

void CZarnView::OnInitialUpdate() {
  pq::SendAppMessage(shell::MainWindow(), pq::WM_APP_VIEW_CREATED, 0, 1);
  if (m_pDocument->m_VideoPortHub.Port(Channel()).FrontBitmap()) {
    m_Range = QSize(0, 0);
    UpdateScrollBars();
  }
}

bool CZarnView::RescalePane() {
  const VideoPort::TPicture picture = m_pDocument->m_VideoPortHub.Port(Channel()).FrontBitmap();
  if (!picture) return false;
  const QSize client = ClientSize();
  Zoom::TScrollState state;
  state.rangeW = m_Range.width();
  state.rangeH = m_Range.height();
  state.posX = horizontalScrollBar()->value();
  state.posY = verticalScrollBar()->value();
  state.lastX = m_LastScroll.x();
  state.lastY = m_LastScroll.y();
  state.centreX = m_fCentreX;
  state.centreY = m_fCentreY;
  bool scroll = false;
  if (!Zoom::Rescale(m_pDocument->m_nZoomMode, DrawFactor(), m_pDocument->m_bHasPicture[Channel()],
                     picture->Width(), picture->Height(), client.width(), client.height(), state, scroll))
    return false;
  setUpdatesEnabled(false);
  m_Range = QSize(state.rangeW, state.rangeH);
  m_fCentreX = state.centreX;
  m_fCentreY = state.centreY;
  UpdateScrollBars();
  if (scroll) ScrollTo(QPoint(state.posX, state.posY));
  m_LastScroll = ScrollPosition();
  setUpdatesEnabled(true);
  viewport()->update();
  return true;
}

void CZarnView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  if (!m_pDocument->m_bSetUpDone) return;
  const std::int32_t mode = m_pDocument->m_nZoomMode;
  if (mode == ZarnTypes::ZOOM_FIT_WIDTH || mode == ZarnTypes::ZOOM_FIT_HEIGHT) RescalePane();
}

void CZarnView::scrollContentsBy(int, int) { viewport()->update(); }

void CZarnView::wheelEvent(QWheelEvent* event) {
  const QPoint angle = event->angleDelta();
  const int delta = angle.y() != 0 ? angle.y() : angle.x();
  if (event->modifiers() & Qt::ControlModifier) {
    if (delta != 0) m_pDocument->ZoomStep(delta > 0);
    event->accept();
    return;
  }
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  const bool hasH = h->maximum() > h->minimum();
  const bool hasV = v->maximum() > v->minimum();
  if ((!hasH && !hasV) || delta == 0) {
    event->ignore();
    return;
  }
  const bool horizontal = (event->modifiers() & Qt::ShiftModifier) ? hasH : !hasV;
  QScrollBar* bar = horizontal ? h : v;
  // Small deltas add up until they make a step; a change of direction
  // starts over.
  if (m_nWheelAccumulator * delta > 0)
    m_nWheelAccumulator += delta;
  else
    m_nWheelAccumulator = delta;
  const int step = Zoom::WheelStep(m_nWheelAccumulator, QApplication::wheelScrollLines(), bar->singleStep(),
                                   bar->pageStep());
  event->accept();
  if (step == 0) return;
  bar->setValue(bar->value() + step);
  m_nWheelAccumulator = 0;
}

void CZarnView::contextMenuEvent(QContextMenuEvent* event) {
  setFocus(Qt::OtherFocusReason);
  emit Activated(this);
  QMenu* menu = CreatePopupMenu(kPaneContextMenu, this);
  if (!menu) return;
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void CZarnView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  emit Activated(this);
}

void CZarnView::mousePressEvent(QMouseEvent* event) {
  emit Activated(this);
  QAbstractScrollArea::mousePressEvent(event);
}

bool CZarnView::CopyToClipboard() {
  const VideoPort::TPicture picture = m_pDocument->m_VideoPortHub.Port(Channel()).FrontBitmap();
  if (!picture) return false;
  const QImage image = PictureToImage(*picture);
  if (image.isNull()) return false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  clipboard->setImage(image);
  return true;
}

bool CZarnView::PreparePrinting() {
  VideoPort::TPicture picture = m_pDocument->m_VideoPortHub.Port(Channel()).FrontBitmap();
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) return false;
  // Pictures handed out by a port never change, so holding the reference is
  // the snapshot.
  m_pDocument->m_WorkBitmap[0] = std::move(picture);
  return true;
}

bool CZarnView::PrintPicture(QPrinter& printer) {
  VideoPort::TPicture picture = m_pDocument->m_WorkBitmap[0];
  if (!picture) picture = m_pDocument->m_VideoPortHub.Port(Channel()).FrontBitmap();
  if (!picture) return false;
  const QImage image = PictureToImage(*picture);
  if (image.isNull()) return false;
  // A printer that cannot scale pictures prints nothing.
  const QPaintEngine* engine = printer.paintEngine();
  if (!engine || !engine->hasFeature(QPaintEngine::PixmapTransform)) {
    platform::ShowMessage("Device error: Printer does not support StretchDIBits.");
    m_bPrinterRefused = true;
    return false;
  }
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  const Zoom::TRect placed = Zoom::PrintRect(image.width(), image.height(), page.width(), page.height());
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(ToQRect(placed), image);
  return painter.end();
}

void CZarnView::EndPrinting() { m_pDocument->m_WorkBitmap[0].reset(); }

void CZarnView::OnPrint(bool dialog) {
  if (!PreparePrinting()) return;
  QPrinter printer(QPrinter::HighResolution);
  bool go = true;
  if (dialog) {
    QPrintDialog prompt(&printer, this);
    ZarnDoc::CZarnDoc::TModalScope modal(m_pDocument);
    go = prompt.exec() == QDialog::Accepted;
  } else if (QPrinterInfo::availablePrinters().isEmpty()) {
    platform::ShowMessage("Can not print: no printer is available.");
    go = false;
  }
  m_bPrinterRefused = false;
  // A printer that said why it cannot print is not reported twice.
  if (go && !PrintPicture(printer) && !m_bPrinterRefused) platform::ShowMessage("Can not print the picture.");
  EndPrinting();
}

void CZarnView::OnPrintPreview() {
  if (!PreparePrinting()) return;
  QPrinter printer(QPrinter::HighResolution);
  QPrintPreviewDialog preview(&printer, this);
  connect(&preview, &QPrintPreviewDialog::paintRequested, this,
          [this](QPrinter* target) { PrintPicture(*target); });
  {
    ZarnDoc::CZarnDoc::TModalScope modal(m_pDocument);
    preview.exec();
  }
  EndPrinting();
}

}  // namespace ZarnView
