#include "options/opts_capture_image.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

#include "io/codecs/save_image.h"
#include "media/file_types.h"
#include "options/channel_radios.h"
#include "options/media_document_text.h"
#include "options/opts_save_stream_path.h"
#include "platform/qt/app_messages.h"

namespace OptsCaptureImage {

using namespace ZarnTypes;
namespace pq = platform::qt;
using OptsPage::Named;

namespace {

constexpr std::int32_t kCaptureCandidates[] = {ST_NULL_STREAM, 33, 32, 31, 30, 29, 27};

bool OffersBitmaps(std::int32_t t, std::int32_t c) {
  if (t == ST_SYSTEM_DEVICE) return c >= 2 && c <= 6;
  return (t >= 3 && t <= 15) || (t >= 22 && t <= 96);
}

}  // namespace

std::vector<std::int32_t> OfferedCaptureFormats(std::int32_t streamType, std::int32_t deviceCategory) {
  std::vector<std::int32_t> out;
  std::string name;
  for (std::int32_t code : kCaptureCandidates)
    if ((code == ST_NULL_STREAM || OffersBitmaps(streamType, deviceCategory)) &&
        GetStreamTypeName(code, name))
      out.push_back(code);
  return out;
}

std::string ComposeCapturePath(const TSaveStreamChannel& record, int channel) {
  SaveImage::CSaveImage writer(channel & 3);
  writer.m_sOutputFolder = record.folder;
  writer.m_sPrefix = record.prefix;
  writer.m_sSuffix = record.suffix;
  writer.m_sExtension = record.extension;
  writer.m_nDigitCount = record.clipDigits;
  return writer.BuildFileName(record.nextClipIndex);
}

CZarnOptsSaveImage::CZarnOptsSaveImage(QWidget* parent) : CChannelFormatPage("Capture image", parent) {
  auto* layout = new QVBoxLayout(this);
  AddChannelHeader(layout);

  AddPropertiesBox(layout, 1144, {"Send copy to Clipboard", 1303, &m_pClipboard},
                   {"Save copy to file", 1302, &m_pSaveToFile},
                   std::vector<std::int32_t>(std::begin(kCaptureCandidates), std::end(kCaptureCandidates)),
                   GetStreamTypeName, {1162, 1164, 1174, 1148, 1153, 1159}, "Options...", &m_pTargetOptions);
  layout->addStretch(1);

  connect(m_pFormat, &QComboBox::activated, this, [this](int) { ApplyFormat(SelectedFormat(), m_nChannel); });
  connect(m_pTargetOptions, &QPushButton::clicked, this, [this] { OnTargetPathOptions(); });
  m_RunPathDialog = [](OptsSaveStreamPath::COptsSaveStreamPath& dialog) { return dialog.DoModal(); };
}

CZarnOptsSaveImage::~CZarnOptsSaveImage() = default;

bool CZarnOptsSaveImage::OnInitDialog() {
  return ReadChannels(m_Block, OPTTOPIC_SAVE_IMAGE, OptsPage::PAGE_SAVE_IMAGE);
}

void CZarnOptsSaveImage::OnOK() { WriteChannels(m_Block, OPTTOPIC_SAVE_IMAGE, OptsPage::PAGE_SAVE_IMAGE); }

void CZarnOptsSaveImage::ShowChannel(int ch) {
  if (ch < 0 || ch > 3 || ReadFailed()) return;
  TSaveImageChannel& r = Record(ch);
  const TMediaSource& source = ShowSource(m_Block.identifier, m_Block.sources[ch]);
  const bool open = source.bOpen != 0;
  if (!open) r.saveToFile = 0;
  m_pSaveToFile->setEnabled(open);
  m_pClipboard->setChecked(r.copyToClipboard != 0);
  m_pSaveToFile->setChecked(r.saveToFile != 0);
  const std::int32_t stored = r.format;
  if (FillFormatList(stored, ch)) {
    UpdateTargetPath(false);
  } else {
    ApplyFormat(SelectedFormat(), ch);
  }
  m_pFormatOptions->setEnabled(HasFormatOptionsPage(StreamTypeToFileFormat(r.format)));
  m_pTarget->setText(QString::fromStdString(m_sTargetPath));
}

void CZarnOptsSaveImage::StoreChannel(int ch) {
  if (ch < 0 || ch > 3 || ReadFailed()) return;
  TSaveImageChannel& r = Record(ch);
  r.copyToClipboard = m_pClipboard->isChecked() ? 1 : 0;
  r.saveToFile = m_pSaveToFile->isChecked() ? 1 : 0;
  r.format = SelectedFormat();
  if (r.saveToFile != 0 && (r.singleFile != 0 ? r.singlePath.empty() : r.folder.empty())) r.saveToFile = 0;
}

bool CZarnOptsSaveImage::FillFormatList(std::int32_t wanted, int ch) {
  const TMediaSource& source = SourceOrClosed(m_Block.sources[ch & 3]);
  return FillList(ch, wanted, OfferedCaptureFormats(source.eStreamType, source.nDeviceCategory),
                  GetStreamTypeName);
}

void CZarnOptsSaveImage::ApplyFormat(std::int32_t code, int ch) {
  if (ch < 0 || ch > 3 || ReadFailed()) return;
  TSaveImageChannel& r = Record(ch);
  r.format = code;
  const std::int32_t f = StreamTypeToFileFormat(code);
  m_pFormatOptions->setEnabled(HasFormatOptionsPage(f));
  if (IsImageFileFormat(f))
    r.singleFile = 0;
  else if (f == 9 || f == 10 || f == 15 || f == 20)
    r.singleFile = 1;
  r.extension = GetDefaultExtension(f);
  if (UpdateTargetPath(true) && r.singleFile != 0) r.singlePath = m_sTargetPath;
}

TSaveStreamChannel CZarnOptsSaveImage::PathRecord(int ch) const {
  const TSaveImageChannel& r = m_Block.channels[ch & 3];
  TSaveStreamChannel d;
  d.format = StreamTypeToFileFormat(r.format);
  d.singleFile = 0;
  d.singlePath = r.singlePath;
  d.folder = r.folder;
  d.prefix = r.prefix;
  d.titleBase = r.titleBase;
  d.suffix = r.suffix;
  d.extension = r.extension;
  d.clipDigits = r.clipDigits;
  d.frameDigits = r.frameDigits;
  d.addSuffix = r.addSuffix;
  d.nextClipIndex = r.nextClipIndex;
  return d;
}

bool CZarnOptsSaveImage::UpdateTargetPath(bool redisplay) {
  m_sTargetPath = ComposeCapturePath(PathRecord(m_nChannel), m_nChannel);
  if (redisplay) m_pTarget->setText(QString::fromStdString(m_sTargetPath));
  return true;
}

void CZarnOptsSaveImage::OnTargetPathOptions() {
  if (ReadFailed()) return;
  OptsSaveStreamPath::COptsSaveStreamPath dialog(this);
  const int ch = m_nChannel;
  dialog.m_nChannel = ch;
  dialog.m_Channels[ch] = PathRecord(ch);
  dialog.m_Composer = [ch](const TSaveStreamChannel& record) { return ComposeCapturePath(record, ch); };
  if (!m_RunPathDialog || m_RunPathDialog(dialog) != QDialog::Accepted) return;
  const TSaveStreamChannel& d = dialog.m_Channels[ch];
  TSaveImageChannel& r = Record(ch);
  r.singlePath = d.singlePath;
  r.folder = d.folder;
  r.prefix = d.prefix;
  r.titleBase = d.titleBase;
  r.suffix = d.suffix;
  r.addSuffix = d.addSuffix;
  r.clipDigits = d.clipDigits;
  r.frameDigits = d.frameDigits;
  r.nextClipIndex = d.nextClipIndex;
  r.extension = d.extension;
  if (UpdateTargetPath(true) && r.singleFile != 0) r.singlePath = m_sTargetPath;
}

}  // namespace OptsCaptureImage
