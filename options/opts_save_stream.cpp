#include "options/opts_save_stream.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "media/file_types.h"
#include "options/channel_radios.h"
#include "options/media_document_text.h"
#include "options/opts_file_format.h"
#include "options/opts_save_stream_path.h"
#include "options/zarn_options.h"
#include "platform/qt/app_messages.h"

namespace OptsSaveStream {

using namespace ZarnTypes;
namespace pq = platform::qt;
using OptsPage::Named;

namespace {

constexpr const char* kNoOutputFile =
    "Save sequence, channel %d \n Name of output file for saving images is empty \n Saving disabled \n see: "
    "<Options>";
constexpr const char* kNoOutputFolder =
    "Save sequence, channel %d \n Name of output directory for saving images is empty \n Saving disabled \n "
    "see: <Options>";

// Every format a list can offer, in list order.
std::vector<std::int32_t> Candidates() {
  std::vector<std::int32_t> c = {
      FF_NULL_STREAM, 9, 10, 20, 15, 28, 30, 31, 32, 33, 34, 37, 38, 39, 41, 42, 43, 44};
  for (std::int32_t f = FF_YCBCR_FIRST; f <= FF_YCBCR_LAST; ++f) c.push_back(f);
  return c;
}

bool Offers(std::int32_t t, std::int32_t c, std::int32_t f) {
  if (f == FF_NULL_STREAM) return true;
  if (t == ST_SYSTEM_DEVICE) {
    if (c == 1) return f == 9 || f == 20;
    if (c >= 2 && c <= 5) return f != 20;
    return false;
  }
  if ((t >= 3 && t <= 15) || (t >= 22 && t <= 94)) return f == 15 || f >= 22;
  return false;
}

// The page kind that shows a format's options.
OptsPage::TOptsPageKind PageOfCategory(std::int32_t category) {
  switch (category) {
    case OPTCAT_AVI: return OptsPage::PAGE_AVI;
    case OPTCAT_WMV: return OptsPage::PAGE_WMF;
    case OPTCAT_GIF: return OptsPage::PAGE_GIF;
    case OPTCAT_JPEG: return OptsPage::PAGE_JPEG;
    case OPTCAT_JPEG2000: return OptsPage::PAGE_JPEG2000;
    case OPTCAT_PNG: return OptsPage::PAGE_PNG;
    case OPTCAT_TIFF: return OptsPage::PAGE_TIFF;
    case OPTCAT_YUV: return OptsPage::PAGE_YUV;
    default: return OptsPage::PAGE_KIND_COUNT;
  }
}

bool FormatOptionsAvailable(std::int32_t format) {
  if (!HasFormatOptionsPage(format)) return false;
  const OptsPage::TOptsPageKind kind = PageOfCategory(FormatSheetCategory(format));
  return kind != OptsPage::PAGE_KIND_COUNT && OptsPage::HasOptionsPage(kind);
}

std::int32_t ReadInt(const TOptsExchangeHeader& header, std::size_t at) {
  std::int32_t v = 0;
  std::memcpy(&v, reinterpret_cast<const char*>(&header) + at, sizeof v);
  return v;
}

void WriteInt(TOptsExchangeHeader& header, std::size_t at, std::int32_t value) {
  std::memcpy(reinterpret_cast<char*>(&header) + at, &value, sizeof value);
}

template <std::size_t N>
void ImageIn(TOptsExchangeHeader& header, const std::array<std::uint8_t, N>& image) {
  std::memcpy(reinterpret_cast<char*>(&header) + 8, image.data(), N);
}

template <std::size_t N>
void ImageOut(const TOptsExchangeHeader& header, std::array<std::uint8_t, N>& image) {
  std::memcpy(image.data(), reinterpret_cast<const char*>(&header) + 8, N);
}

// A whole channel record but its two reserved words.
void CopyChannelRecord(const TSaveStreamChannel& from, TSaveStreamChannel& to) {
  const std::int32_t reserved52 = to.reserved52;
  const std::int32_t reserved60 = to.reserved60;
  to = from;
  to.reserved52 = reserved52;
  to.reserved60 = reserved60;
}

}  // namespace

std::vector<std::int32_t> OfferedFormats(std::int32_t streamType, std::int32_t deviceCategory) {
  std::vector<std::int32_t> out;
  std::string name;
  for (std::int32_t f : Candidates())
    if (Offers(streamType, deviceCategory, f) && GetFileFormatName(f, name)) out.push_back(f);
  return out;
}

std::int32_t FormatSheetCategory(std::int32_t f) {
  if (f == 9) return OPTCAT_AVI;
  if (f == 10 || f == 20) return OPTCAT_WMV;
  if (f == 37) return OPTCAT_GIF;
  if (f == 38 || f == 39) return OPTCAT_JPEG;
  if (f == 41 || f == 42) return OPTCAT_JPEG2000;
  if (f == 43) return OPTCAT_PNG;
  if (f == 44) return OPTCAT_TIFF;
  if (IsYuvFileFormat(f)) return OPTCAT_YUV;
  return 0;
}

const char* SamplingText(std::int32_t method) {
  switch (method) {
    case 1: return " All samples";
    case 2: return " Time interval";
    case 3: return " Sample number interval";
    default: return "";
  }
}

CZarnOptsSaveStream::CZarnOptsSaveStream(QWidget* parent) : CChannelFormatPage("Save stream", parent) {
  auto* layout = new QVBoxLayout(this);
  AddChannelHeader(layout);

  QGridLayout* grid =
      AddPropertiesBox(layout, 1091, {"Enable \"Save stream\" operation in channel", 1115, &m_pEnable},
                       {"Turn  ON \"Save stream\"", 1090, &m_pRecordingOn}, Candidates(), GetFileFormatName,
                       {1122, 1273, 1116, 1092, 2506, 1093}, "Settings...", &m_pTargetSettings);
  QWidget* props = grid->parentWidget();
  grid->addWidget(Named(new QLabel("Sampling method", props), 2574), 4, 0);
  m_pSampling = Named(new QLineEdit(props), 2575);
  m_pSampling->setReadOnly(true);
  grid->addWidget(m_pSampling, 4, 1);
  m_pSamplingSettings = Named(new QPushButton("Settings...", props), 2576);
  grid->addWidget(m_pSamplingSettings, 4, 2);

  m_pPipGroup = Named(new QGroupBox("Picture In Picture", this), 1479);
  auto* pip = new QVBoxLayout(m_pPipGroup);
  m_pPip = Named(new QCheckBox("Enable \"Save\" as PIP", m_pPipGroup), 1451);
  m_pPipPort = Named(new QRadioButton("Save from video port 1", m_pPipGroup), 1477);
  m_pPipPrimary = Named(new QRadioButton("Save primary pane \"As is\"", m_pPipGroup), 1478);
  auto* radios = new QButtonGroup(m_pPipGroup);
  radios->addButton(m_pPipPort);
  radios->addButton(m_pPipPrimary);
  pip->addWidget(m_pPip);
  pip->addWidget(m_pPipPort);
  pip->addWidget(m_pPipPrimary);
  layout->addWidget(m_pPipGroup);
  layout->addStretch(1);

  connect(m_pFormat, &QComboBox::activated, this, [this](int) { ApplyFormat(SelectedFormat(), m_nChannel); });
  connect(m_pFormatOptions, &QPushButton::clicked, this, [this] { OnFormatOptions(); });
  connect(m_pTargetSettings, &QPushButton::clicked, this, [this] { OnTargetPathSettings(); });
  connect(m_pPip, &QCheckBox::clicked, this, [this](bool on) {
    if (on) {
      m_pPipPrimary->setEnabled(true);
    } else {
      m_pPipPort->setChecked(true);
      m_pPipPrimary->setEnabled(false);
    }
  });
  connect(m_pSamplingSettings, &QPushButton::clicked, this, [this] { OnSamplingSettings(); });

  auto* messages = new pq::TMessageMap(this);
  for (UINT message :
       {pq::WM_APP_OPTS_YUV, pq::WM_APP_OPTS_JPEG, pq::WM_APP_OPTS_JPEG2000, pq::WM_APP_OPTS_PNG,
        pq::WM_APP_OPTS_GIF, pq::WM_APP_OPTS_TIFF, pq::WM_APP_OPTS_AVI, pq::WM_APP_OPTS_WMF})
    messages->On(message, [this, message](pq::WPARAM, pq::LPARAM l) -> pq::LRESULT {
      auto* header = OptsBlockOf<TOptsExchangeHeader>(l);
      return header && ExchangeFormatBlock(message, *header) ? 1 : 0;
    });
  // Of the shared topics only the sampling sheet's is this page's.
  messages->On(pq::WM_APP_OPTS_CATEGORY, [this](pq::WPARAM w, pq::LPARAM l) -> pq::LRESULT {
    auto* block = OptsBlockOf<TSamplingExchange>(l);
    return w == OPTTOPIC_SAMPLING && block && ExchangeSamplingBlock(*block) ? 1 : 0;
  });

  m_RunFormatSheet = [this](std::int32_t category) {
    ZarnOptions::CZarnOptions sheet(QStringLiteral("Options"), this, category, this);
    return sheet.DoModal() == 1;
  };
  m_RunPathDialog = [](OptsSaveStreamPath::COptsSaveStreamPath& dialog) { return dialog.DoModal(); };
  m_RunSamplingSheet = [this] { return ZarnOptions::RunOptionsSheet(this, OPTCAT_SAMPLING); };
}

CZarnOptsSaveStream::~CZarnOptsSaveStream() = default;

bool CZarnOptsSaveStream::OnInitDialog() {
  if (!ReadChannels(m_Block, OPTTOPIC_SAVE_STREAM, OptsPage::PAGE_SAVE_STREAM)) return false;
  m_pRecordingOn->setChecked(m_Block.recordingOn != 0);
  return true;
}

void CZarnOptsSaveStream::OnOK() {
  if (!ReadFailed()) m_Block.recordingOn = m_pRecordingOn->isChecked() ? 1 : 0;
  WriteChannels(m_Block, OPTTOPIC_SAVE_STREAM, OptsPage::PAGE_SAVE_STREAM);
}

void CZarnOptsSaveStream::ShowChannel(int ch) {
  if (ch < 0 || ch > 3 || ReadFailed()) return;
  TSaveStreamChannel& r = Record(ch);
  const TMediaSource& source = ShowSource(m_Block.identifier, m_Block.sources[ch]);

  const bool open = source.bOpen != 0;
  if (!open) r.enabled = 0;
  m_pEnable->setEnabled(open);
  m_pEnable->setChecked(r.enabled != 0);
  m_pPip->setChecked(r.pipEnabled != 0);
  m_pPipPort->setChecked(r.primaryAsIs == 0);
  m_pPipPrimary->setChecked(r.primaryAsIs != 0);
  m_pPipPrimary->setEnabled(r.pipEnabled != 0);

  if (FillFormatList(ch, r.format)) {
    UpdateTargetPath(false);
  } else {
    ApplyFormat(SelectedFormat(), ch);
  }
  DescribeSampling(ch, FileFormatToStreamType(r.format));
  m_pFormatOptions->setEnabled(FormatOptionsAvailable(r.format));
  UpdatePipControls(r.format);
  m_pTarget->setText(QString::fromStdString(m_sTargetPath));
}

void CZarnOptsSaveStream::StoreChannel(int ch) {
  if (ch < 0 || ch > 3 || ReadFailed()) return;
  TSaveStreamChannel& r = Record(ch);
  r.enabled = m_pEnable->isChecked() ? 1 : 0;
  r.format = SelectedFormat();
  r.pipEnabled = m_pPip->isChecked() ? 1 : 0;
  r.primaryAsIs = m_pPipPrimary->isChecked() ? 1 : 0;
  r.captureWorkMode = CaptureWorkModeOf(r.format, AviFileTypeOf(r.avi));
  if (r.enabled == 0) return;
  const char* text = nullptr;
  if (r.singleFile != 0 && r.singlePath.empty())
    text = kNoOutputFile;
  else if (r.singleFile == 0 && r.folder.empty())
    text = kNoOutputFolder;
  if (!text) return;
  r.enabled = 0;
  m_pEnable->setChecked(false);
  // The text's "%d" is the channel; built from its two halves.
  const std::string_view pattern = text;
  const std::size_t at = pattern.find("%d");
  std::string message(pattern.substr(0, at));
  if (at != std::string_view::npos) {
    message += std::to_string(ch);
    message += pattern.substr(at + 2);
  }
  ShowPageMessage(message);
}

bool CZarnOptsSaveStream::FillFormatList(int ch, std::int32_t wanted) {
  const TMediaSource& source = SourceOrClosed(m_Block.sources[ch & 3]);
  return FillList(ch, wanted, OfferedFormats(source.eStreamType, source.nDeviceCategory), GetFileFormatName);
}

void CZarnOptsSaveStream::ApplyFormat(std::int32_t f, int ch) {
  if (ch < 0 || ch > 3 || ReadFailed()) return;
  TSaveStreamChannel& r = Record(ch);
  r.format = f;
  m_pFormatOptions->setEnabled(FormatOptionsAvailable(f));
  UpdatePipControls(f);
  if (IsImageFileFormat(f))
    r.singleFile = 0;
  else if (f == 9 || f == 10 || f == 15 || f == 20)
    r.singleFile = 1;
  r.extension = GetDefaultExtension(f);
  if (UpdateTargetPath(true) && r.singleFile != 0) r.singlePath = m_sTargetPath;
  DescribeSampling(ch, FileFormatToStreamType(f));
}

bool CZarnOptsSaveStream::UpdateTargetPath(bool redisplay) {
  m_sTargetPath = OptsSaveStreamPath::ComposeRecordingPath(Record(m_nChannel));
  if (redisplay) m_pTarget->setText(QString::fromStdString(m_sTargetPath));
  return true;
}

void CZarnOptsSaveStream::UpdatePipControls(std::int32_t f) {
  if (f == 9 || f == 10 || f == 15) {
    m_pPip->setChecked(false);
    m_pPip->setEnabled(false);
    m_pPipPort->setEnabled(false);
    m_pPipPrimary->setEnabled(false);
    return;
  }
  m_pPip->setEnabled(true);
  m_pPipPort->setEnabled(true);
  if (m_pPip->isChecked()) {
    m_pPipPrimary->setEnabled(true);
  } else {
    m_pPipPort->setChecked(true);
    m_pPipPrimary->setEnabled(false);
  }
}

bool CZarnOptsSaveStream::DescribeSampling(int ch, std::int32_t t) {
  if (t == 0) return false;
  TSaveStreamChannel& r = Record(ch);
  std::int32_t method = r.samplingMethod;
  if (method == 2 && t != ST_WMV) method = 1;
  m_pSampling->setText(QString::fromLatin1(SamplingText(method)));
  if (method != r.samplingMethod) r.samplingMethod = method;
  return true;
}

void CZarnOptsSaveStream::SelectFormat(std::int32_t format) {
  const auto& codes = m_Codes[static_cast<std::size_t>(m_nChannel)];
  for (std::size_t i = 0; i < codes.size(); ++i)
    if (codes[i] == format) m_pFormat->setCurrentIndex(static_cast<int>(i));
}

void CZarnOptsSaveStream::OnFormatOptions() {
  const std::int32_t category = FormatSheetCategory(SelectedFormat());
  if (category == 0 || !m_RunFormatSheet) return;
  m_nSheetChannel = m_nChannel;
  if (m_RunFormatSheet(category)) SelectFormat(Record(m_nSheetChannel).format);
}

void CZarnOptsSaveStream::OnTargetPathSettings() {
  if (ReadFailed()) return;
  OptsSaveStreamPath::COptsSaveStreamPath dialog(this);
  dialog.m_nChannel = m_nChannel;
  const TSaveStreamChannel& r = Record(m_nChannel);
  TSaveStreamChannel& d = dialog.m_Channels[m_nChannel];
  d.singleFile = r.singleFile;
  d.format = r.format;
  d.singlePath = r.singlePath;
  d.folder = r.folder;
  d.spare = r.spare;
  d.titleBase = r.titleBase;
  d.prefix = r.prefix;
  d.suffix = r.suffix;
  d.extension = r.extension;
  d.addSuffix = r.addSuffix;
  d.clipDigits = r.clipDigits;
  d.frameDigits = r.frameDigits;
  d.nextClipIndex = r.nextClipIndex;
  if (!m_RunPathDialog || m_RunPathDialog(dialog) != QDialog::Accepted) return;
  TSaveStreamChannel& w = Record(m_nChannel);
  w.singlePath = d.singlePath;
  w.folder = d.folder;
  w.spare = d.spare;
  w.titleBase = d.titleBase;
  w.prefix = d.prefix;
  w.suffix = d.suffix;
  w.extension = d.extension;
  w.addSuffix = d.addSuffix;
  w.clipDigits = d.clipDigits;
  w.frameDigits = d.frameDigits;
  w.nextClipIndex = d.nextClipIndex;
  if (UpdateTargetPath(true) && w.singleFile != 0) w.singlePath = m_sTargetPath;
}

void CZarnOptsSaveStream::OnSamplingSettings() {
  if (ReadFailed() || !m_RunSamplingSheet) return;
  if (m_RunSamplingSheet()) DescribeSampling(m_nChannel, FileFormatToStreamType(Record(m_nChannel).format));
}

bool CZarnOptsSaveStream::ExchangeSamplingBlock(TSamplingExchange& block) {
  const bool read = block.header.op == OPTS_XCHG_READ;
  if (!read && block.header.op != OPTS_XCHG_WRITE) return false;
  if (ReadFailed()) return false;
  for (int ch = 0; ch < 4; ++ch) {
    if (read)
      CopyChannelRecord(Record(ch), block.channels[ch]);
    else
      CopyChannelRecord(block.channels[ch], Record(ch));
  }
  if (read) block.channel = m_nChannel;
  block.header.answered = 1;
  return true;
}

bool CZarnOptsSaveStream::ExchangeFormatBlock(UINT message, TOptsExchangeHeader& header) {
  const bool read = header.op == OPTS_XCHG_READ;
  if (!read && header.op != OPTS_XCHG_WRITE) return false;
  if (ReadFailed()) return false;
  TSaveStreamChannel& r = Record(m_nSheetChannel);
  const std::int32_t listFormat = SelectedFormat();
  switch (message) {
    case pq::WM_APP_OPTS_YUV: {
      auto& b = reinterpret_cast<TYuvFormatExchange&>(header);
      if (read) {
        b.format = listFormat;
        b.width = 0;
        b.height = 0;
        b.singleImage = r.singleFile != 0 ? 0 : 1;
        b.sizeEditable = 0;
        b.checkSize = 0;
      } else {
        r.format = b.format;
        r.singleFile = b.singleImage != 0 ? 0 : 1;
      }
      break;
    }
    case pq::WM_APP_OPTS_JPEG:
      if (read) {
        WriteInt(header, 8, listFormat);
        WriteInt(header, 12, r.jpegQuality);
      } else {
        r.format = ReadInt(header, 8);
        r.jpegQuality = ReadInt(header, 12);
      }
      break;
    default: {
      auto exchange = [&](auto& image) {
        if (read) {
          ImageIn(header, image);
          WriteInt(header, 8, listFormat);
        } else {
          ImageOut(header, image);
          r.format = ReadInt(header, 8);
        }
      };
      switch (message) {
        case pq::WM_APP_OPTS_JPEG2000: exchange(r.jpeg2000); break;
        case pq::WM_APP_OPTS_PNG: exchange(r.png); break;
        case pq::WM_APP_OPTS_GIF: exchange(r.gif); break;
        case pq::WM_APP_OPTS_TIFF: exchange(r.tiff); break;
        case pq::WM_APP_OPTS_AVI: exchange(r.avi); break;
        case pq::WM_APP_OPTS_WMF: exchange(r.windowsMedia); break;
        default: return false;
      }
    }
  }
  header.answered = 1;
  return true;
}

}  // namespace OptsSaveStream
