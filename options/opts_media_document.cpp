#include "options/opts_media_document.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "options/channel_radios.h"
#include "options/media_document_text.h"

namespace OptsMediaDocument {

using namespace ZarnTypes;

namespace {

QPlainTextEdit* MakeTextEdit(QWidget* parent, int id) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setObjectName(QStringLiteral("IDC_%1").arg(id));
  edit->setReadOnly(true);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  return edit;
}

// The text a record shows for a channel the block leaves without one.
const TMediaSource& ClosedSource() {
  static const TMediaSource source;
  return source;
}

// The size a read-only edit needs to show `text` without wrapping or
// scrolling, laid out as the edit lays it out (its font, tab stops and
// margins).
QSize TextSize(const QPlainTextEdit* edit, const QString& text) {
  QTextDocument document;
  document.setDefaultFont(edit->font());
  QTextOption option = edit->document()->defaultTextOption();
  option.setWrapMode(QTextOption::NoWrap);
  option.setTabStopDistance(edit->tabStopDistance());
  document.setDefaultTextOption(option);
  document.setDocumentMargin(edit->document()->documentMargin());
  document.setPlainText(text);
  const QFontMetrics metrics(edit->font());
  const QMargins margins = edit->contentsMargins();
  // A few pixels of slack for the cursor and rounding.
  const int width = static_cast<int>(std::ceil(document.idealWidth())) + margins.left() + margins.right() + 8;
  const int height = document.blockCount() * metrics.lineSpacing() +
                     static_cast<int>(std::ceil(2 * document.documentMargin())) + margins.top() +
                     margins.bottom() + 4;
  return {width, height};
}

}  // namespace

COptsMediaDocument::COptsMediaDocument(QWidget* parent)
    : COptsPage(QStringLiteral("Media document"), parent) {
  auto* layout = new QVBoxLayout(this);
  m_pDocument = MakeTextEdit(this, 1045);
  layout->addWidget(m_pDocument);
  auto* row = new QHBoxLayout;
  m_pSelector = new OptsPage::CChannelRadios(this);
  m_pOptions = new QPushButton(QStringLiteral("Options..."), this);
  m_pOptions->setObjectName("IDC_2529");
  m_pOptions->setEnabled(false);
  m_pMoreInfo = new QPushButton(QStringLiteral("More info..."), this);
  m_pMoreInfo->setObjectName("IDC_2531");
  m_pMoreInfo->setEnabled(false);
  row->addWidget(m_pSelector, 1);
  row->addWidget(m_pOptions);
  row->addWidget(m_pMoreInfo);
  layout->addLayout(row);
  m_pChannel = MakeTextEdit(this, 1046);
  layout->addWidget(m_pChannel, 1);
  // A page without per-channel values only redraws.
  m_pSelector->onLoad = [this](int channel) { ShowChannelInfo(channel); };
  connect(m_pMoreInfo, &QPushButton::clicked, this, &COptsMediaDocument::OnMoreInfo);
}

COptsMediaDocument::~COptsMediaDocument() = default;

int COptsMediaDocument::CurrentChannel() const { return m_pSelector->Current(); }

const std::string& COptsMediaDocument::MoreInfoText(int channel) const {
  static const std::string none;
  return channel >= 0 && channel < 4 ? m_moreInfo[static_cast<std::size_t>(channel)] : none;
}

bool COptsMediaDocument::OnInitDialog() {
  m_Block = TMediaDocumentExchange{};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_MEDIA_DOCUMENT, m_Block, kReadFailed))
    return false;
  m_pSelector->Reset();
  FitChannelText();
  ShowChannelInfo(0);
  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsMediaDocument::ShowChannelInfo(int channel) {
  if (channel < 0 || channel >= 4 || ReadFailed() || !Initialized()) return;
  const auto ch = static_cast<std::size_t>(channel);
  const TMediaSource& source = m_Block.sources[ch] ? *m_Block.sources[ch] : ClosedSource();
  const TChannelInfo info = OptsMediaDocument::ShowChannelInfo(
      m_Block.identifier ? *m_Block.identifier : std::string(),
      m_Block.title ? *m_Block.title : std::string(), source, m_Block.formats[ch], m_moreInfo[ch]);
  m_pDocument->setPlainText(QString::fromStdString(info.documentText));
  m_pChannel->setPlainText(QString::fromStdString(info.channelText));
  m_pOptions->setEnabled(false);
  m_pMoreInfo->setEnabled(info.moreInfoEnabled);
  if (isVisible()) QTimer::singleShot(0, this, &COptsMediaDocument::GrowToShowAll);
}

void COptsMediaDocument::showEvent(QShowEvent* event) {
  // The style and font are final now: fit the texts to them.
  if (Initialized() && !ReadFailed()) FitChannelText();
  COptsPage::showEvent(event);
  QTimer::singleShot(0, this, &COptsMediaDocument::GrowToShowAll);
}

void COptsMediaDocument::GrowToShowAll() {
  // What the edits still scroll, as laid out in the sheet's style: grow by
  // it (never shrink), so that every line shows whole.
  for (QPlainTextEdit* edit : {m_pDocument, m_pChannel}) {
    if (!edit->isVisible()) continue;
    QScrollBar* across = edit->horizontalScrollBar();
    QScrollBar* down = edit->verticalScrollBar();
    const int wider = across->maximum() > 0 ? across->maximum() + (down->isVisible() ? down->width() : 0) : 0;
    const int taller = down->maximum() > 0 ? down->maximum() * edit->fontMetrics().lineSpacing() +
                                                 (across->isVisible() ? across->height() : 0)
                                           : 0;
    if (wider > 0) edit->setMinimumWidth(edit->width() + wider);
    if (taller > 0) {
      edit->setMinimumHeight(edit->height() + taller);
      if (edit->maximumHeight() < edit->minimumHeight()) edit->setMaximumHeight(edit->minimumHeight());
    }
  }
}

void COptsMediaDocument::FitChannelText() {
  // Wide and tall enough for the longest text of any channel, so that every
  // line shows unwrapped and no scroll bar appears.
  QSize channel(0, 0);
  QSize document(0, 0);
  for (std::size_t ch = 0; ch < 4; ++ch) {
    const TMediaSource& source = m_Block.sources[ch] ? *m_Block.sources[ch] : ClosedSource();
    const TChannelInfo info = OptsMediaDocument::ShowChannelInfo(
        m_Block.identifier ? *m_Block.identifier : std::string(),
        m_Block.title ? *m_Block.title : std::string(), source, m_Block.formats[ch], m_moreInfo[ch]);
    channel = channel.expandedTo(TextSize(m_pChannel, QString::fromStdString(info.channelText)));
    document = document.expandedTo(TextSize(m_pDocument, QString::fromStdString(info.documentText)));
  }
  m_pChannel->setMinimumSize(channel);
  m_pDocument->setMinimumSize(document);
  m_pDocument->setMaximumHeight(document.height());
  m_pChannel->setMinimumWidth(std::max(channel.width(), document.width()));
}

void COptsMediaDocument::OnMoreInfo() {
  const int channel = CurrentChannel();
  if (channel < 0 || channel >= 4 || ReadFailed() || !Initialized()) return;
  const auto ch = static_cast<std::size_t>(channel);
  const TMediaSource& source = m_Block.sources[ch] ? *m_Block.sources[ch] : ClosedSource();
  std::string text;
  TMediaInfoRequest request;
  request.channel = channel;
  request.streamType = source.eStreamType;
  request.deviceCategory = source.nDeviceCategory;
  request.deviceKind = source.nDeviceKind;
  request.text = &text;
  m_Block.requestKind = MEDIA_INFO_REQUEST_MORE;
  m_Block.reserved[0] = 0;
  m_Block.reserved[1] = 0;
  m_Block.request = &request;
  const bool answered = SendOptsBlock(Owner(), platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_MEDIA_DOCUMENT,
                                      m_Block, OPTS_XCHG_APPLY);
  m_Block.request = nullptr;
  m_Block.requestKind = 0;
  if (!answered) {
    ShowPageMessage(kMoreInfoFailed);
    return;
  }
  m_moreInfo[ch] = std::move(text);
  FitChannelText();
  ShowChannelInfo(channel);
}

}  // namespace OptsMediaDocument
