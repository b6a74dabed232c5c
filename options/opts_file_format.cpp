#include "options/opts_file_format.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

using namespace ZarnTypes;

namespace OptsFileFormat {

namespace {

const char* const kRatioText[] = {"444", "422", "420"};
const char* const kStandardText[] = {"ITU601", "ITU709"};
const char* const kRangeText[] = {"0-255", "16-255", "16-235-240"};
const char* const kSitingText[] = {"CosEven", "CosOdd", "Center"};

std::vector<TYuvLayoutRow> BuildTable() {
  std::vector<TYuvLayoutRow> rows;
  for (int i = 0; i < 42; ++i) {
    const int s = i / 21;
    const int l = (i / 3) % 7;
    const int r = i % 3;
    TYuvLayoutRow row;
    row.code = 53 + i;
    const int ratio = l == 0 ? 0 : (l <= 3 ? 1 : 2);
    row.attributes[YF_CONVERSION_BASE] = 2 + s;
    row.attributes[YF_COMPONENTS] = 2;
    row.attributes[YF_SAMPLING] = 2 + ratio;
    row.attributes[YF_PLANES] = 3;
    row.attributes[YF_SCAN] = 2;
    row.attributes[YF_LUMA_BITS] = 2;
    row.attributes[YF_CHROMA_BITS] = 2;
    row.attributes[YF_RANGE] = 2 + r;
    row.attributes[YF_SITING] = l == 0 ? 0 : 3 + (l - 1) % 3;
    row.text = std::string("YCbCr ") + kRatioText[ratio] + " " + kStandardText[s] + " 8bit " + kRangeText[r];
    if (l != 0) row.text += std::string(" ") + kSitingText[(l - 1) % 3];
    row.text += " (.yuv)";
    rows.push_back(std::move(row));
  }
  return rows;
}

const char* const kFilterLabels[YF_COUNT] = {
    "RGB-YUV conversion base",  "YUV color components", "Sub sampling ratio", "Color planes",
    "Progressive / Interlaced", "Bits per luma",        "Bits per chroma",    "Data range",
    "Sub samplring pattern"};

}  // namespace

const std::vector<TYuvLayoutRow>& YuvLayoutTable() {
  static const std::vector<TYuvLayoutRow> table = BuildTable();
  return table;
}

const std::vector<TFilterEntry>& FilterEntries(TYuvFilter filter) {
  static const std::vector<TFilterEntry> lists[YF_COUNT] = {
      {{" Any ", 1}, {" ITU-R BT.601-5, 1982-1995 ", 2}, {" ITU-R BT.709-5, 1990-2002 ", 3}},
      {{" YCbCr ", 2}},
      {{" Any ", 1}, {" 4:4:4 ", 2}, {" 4:2:2 ", 3}, {" 4:2:0 ", 4}},
      {{" 3 planes, separate colors", 3}},
      {{" Progressive ", 2}},
      {{" 8 bits ", 2}},
      {{" 8 bits ", 2}},
      {{" Any ", 1},
       {" Luma[0-255]  Chroma[0-255] ", 2},
       {" Luma[16-255] Chroma[16-255] ", 3},
       {" Luma[16-235] Chroma[16-240] ", 4}},
      {{" Any ", 1},
       {" Cosited luma and chromas, even sites ", 3},
       {" Cosited luma and chromas, odd sites ", 4},
       {" Centered chromas between luma", 5}},
  };
  static const std::vector<TFilterEntry> none;
  return filter >= 0 && filter < YF_COUNT ? lists[filter] : none;
}

std::vector<std::int32_t> FilterLayouts(const TFilterValues& filters) {
  std::vector<std::int32_t> codes;
  for (const TYuvLayoutRow& row : YuvLayoutTable()) {
    bool pass = true;
    for (int f = 0; f < YF_COUNT && pass; ++f) {
      const std::int32_t want = filters[static_cast<std::size_t>(f)];
      const std::int32_t have = row.attributes[static_cast<std::size_t>(f)];
      if (want == kAnyValue || want == have) continue;
      if (f == YF_SITING && have == 0) continue;  // 4:4:4 has no siting
      pass = false;
    }
    if (pass) codes.push_back(row.code);
  }
  return codes;
}

const std::vector<TResolutionPreset>& ResolutionPresets() {
  static const std::vector<TResolutionPreset> presets = {
      {" resolution: undefined", 0, 0},         {" 128 x 96  sub QCIF ", 128, 96},
      {" 176 x 144     QCIF ", 176, 144},       {" 352 x 288     CIF ", 352, 288},
      {" 320 x 240         ", 320, 240},        {" 640 x 480         ", 640, 480},
      {" 640 x 486         ", 640, 486},        {" 720 x 480         ", 720, 480},
      {" 720 x 525         ", 720, 525},        {" 720 x 576   D1/50 ", 720, 576},
      {" 768 x 576         ", 768, 576},        {" 1280 x  720 HDTV  720p ", 1280, 720},
      {" 1920 x 1080 HDTV 1080p ", 1920, 1080}, {" custom resolution ", 0, 0},
  };
  return presets;
}

int PresetForSize(std::int32_t width, std::int32_t height) {
  const auto& presets = ResolutionPresets();
  for (int i = 1; i <= 12; ++i) {
    const TResolutionPreset& p = presets[static_cast<std::size_t>(i)];
    if (p.width == width && p.height == height) return i;
  }
  return kPresetCustom;
}

std::string CheckImageSize(std::int32_t width, std::int32_t height) {
  char text[128];
  if (width < 1 || width > kMaxImageSize) {
    std::snprintf(text, sizeof text, "Width of image %d is out of allowed range: 0 < W <= %d", width,
                  kMaxImageSize);
    return text;
  }
  if (height < 1 || height > kMaxImageSize) {
    std::snprintf(text, sizeof text, "Height of image %d is out of allowed range: 0 < H <= %d", height,
                  kMaxImageSize);
    return text;
  }
  return {};
}

namespace {

// A list never cuts its items: it is at least as wide as its longest one,
// also when it is filled after the page was laid out (the sheet then grows).
void FitToItems(QComboBox* list) {
  list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  list->setMinimumWidth(std::max(list->minimumWidth(), list->sizeHint().width()));
}

}  // namespace

// --- the page ----------------------------------------------------------------

COptsFileFormat::COptsFileFormat(QWidget* parent) : COptsPage(QStringLiteral("YUV"), parent) {
  auto* outer = new QVBoxLayout(this);

  auto* formatRow = new QHBoxLayout;
  formatRow->addWidget(new QLabel(tr("Data format"), this));
  m_format = new QComboBox(this);
  m_format->setObjectName(QStringLiteral("format"));
  m_format->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  formatRow->addWidget(m_format, 1);
  outer->addLayout(formatRow);
  m_single = new QCheckBox(tr("Single image in file"), this);
  outer->addWidget(m_single);

  auto* props = new QGroupBox(tr("Image format properties"), this);
  auto* grid = new QGridLayout(props);
  for (int f = 0; f < YF_COUNT; ++f) {
    grid->addWidget(new QLabel(QString::fromUtf8(kFilterLabels[f]), props), f, 0);
    auto* list = new QComboBox(props);
    list->setObjectName(QStringLiteral("filter%1").arg(f));
    m_filterLists[static_cast<std::size_t>(f)] = list;
    grid->addWidget(list, f, 1);
    connect(list, &QComboBox::activated, this,
            [this, f](int entry) { ChooseFilter(static_cast<TYuvFilter>(f), entry); });
  }
  m_reset = new QPushButton(tr("Reset"), props);
  grid->addWidget(m_reset, YF_COUNT, 1, Qt::AlignRight);
  connect(m_reset, &QPushButton::clicked, this, &COptsFileFormat::OnReset);
  outer->addWidget(props);

  auto* sizeBox = new QGroupBox(tr("Size of image"), this);
  auto* sizeGrid = new QGridLayout(sizeBox);
  sizeGrid->addWidget(new QLabel(tr("Resolution"), sizeBox), 0, 0);
  m_resolution = new QComboBox(sizeBox);
  m_resolution->setObjectName(QStringLiteral("resolution"));
  sizeGrid->addWidget(m_resolution, 0, 1, 1, 3);
  sizeGrid->addWidget(new QLabel(tr("Width"), sizeBox), 1, 0);
  m_widthEdit = new QLineEdit(sizeBox);
  sizeGrid->addWidget(m_widthEdit, 1, 1);
  sizeGrid->addWidget(new QLabel(tr("Height"), sizeBox), 1, 2);
  m_heightEdit = new QLineEdit(sizeBox);
  sizeGrid->addWidget(m_heightEdit, 1, 3);
  connect(m_resolution, &QComboBox::activated, this, &COptsFileFormat::ChooseResolution);
  outer->addWidget(sizeBox);
  outer->addStretch(1);
}

COptsFileFormat::~COptsFileFormat() = default;

bool COptsFileFormat::OnInitDialog() {
  m_block = {};
  m_block.sizeEditable = 1;
  m_block.checkSize = 1;
  if (!ReadBlock(platform::qt::WM_APP_OPTS_YUV, 0, m_block, kReadFailed)) return false;

  m_single->setChecked(m_block.singleImage != 0);
  m_filters = AnyFilters();
  RebuildFormatList(m_block.format);
  m_width = m_block.width;
  m_height = m_block.height;

  m_resolution->clear();
  for (const TResolutionPreset& p : ResolutionPresets()) m_resolution->addItem(QString::fromUtf8(p.text));
  FitToItems(m_resolution);
  const int preset = PresetForSize(m_width, m_height);
  m_resolution->setCurrentIndex(preset);
  m_widthEdit->setEnabled(preset == kPresetCustom);
  m_heightEdit->setEnabled(preset == kPresetCustom);

  for (int f = 0; f < YF_COUNT; ++f) {
    QComboBox* list = m_filterLists[static_cast<std::size_t>(f)];
    list->clear();
    for (const TFilterEntry& e : FilterEntries(static_cast<TYuvFilter>(f)))
      list->addItem(QString::fromUtf8(e.text));
    list->setCurrentIndex(0);
    FitToItems(list);
  }
  SizeToControls();

  if (!m_block.sizeEditable) {
    m_resolution->setEnabled(false);
    m_widthEdit->setEnabled(false);
    m_heightEdit->setEnabled(false);
  }
  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsFileFormat::RebuildFormatList(std::int32_t wanted) {
  if (wanted == 0) wanted = SelectedCode();
  m_format->clear();
  m_codes = FilterLayouts(m_filters);
  const auto& table = YuvLayoutTable();
  for (std::int32_t code : m_codes)
    m_format->addItem(QString::fromStdString(table[static_cast<std::size_t>(code - 53)].text), code);
  if (!SelectCode(wanted) && !m_codes.empty()) m_format->setCurrentIndex(0);
  // The first filling holds every layout: the list keeps that width.
  FitToItems(m_format);
}

std::int32_t COptsFileFormat::SelectedCode() const {
  const int i = m_format->currentIndex();
  return i >= 0 && i < static_cast<int>(m_codes.size()) ? m_codes[static_cast<std::size_t>(i)] : 0;
}

bool COptsFileFormat::SelectCode(std::int32_t code) {
  for (std::size_t i = 0; i < m_codes.size(); ++i) {
    if (m_codes[i] == code) {
      m_format->setCurrentIndex(static_cast<int>(i));
      return true;
    }
  }
  return false;
}

void COptsFileFormat::ChooseFilter(TYuvFilter filter, int entry) {
  const auto& entries = FilterEntries(filter);
  if (entry < 0 || entry >= static_cast<int>(entries.size())) return;
  QComboBox* list = m_filterLists[static_cast<std::size_t>(filter)];
  if (list->currentIndex() != entry) list->setCurrentIndex(entry);
  m_filters[static_cast<std::size_t>(filter)] = entries[static_cast<std::size_t>(entry)].value;
  RebuildFormatList(0);
}

void COptsFileFormat::OnReset() {
  m_filters = AnyFilters();
  for (QComboBox* list : m_filterLists) list->setCurrentIndex(0);
  RebuildFormatList(0);
}

void COptsFileFormat::ChooseResolution(int preset) {
  const auto& presets = ResolutionPresets();
  if (preset < 0 || preset >= static_cast<int>(presets.size())) return;
  if (m_resolution->currentIndex() != preset) m_resolution->setCurrentIndex(preset);
  SizeFromControls();  // what was typed so far is kept unless a preset replaces it
  if (preset != kPresetCustom && preset != kPresetUndefined) {
    m_width = presets[static_cast<std::size_t>(preset)].width;
    m_height = presets[static_cast<std::size_t>(preset)].height;
  }
  m_widthEdit->setEnabled(preset == kPresetCustom);
  m_heightEdit->setEnabled(preset == kPresetCustom);
  SizeToControls();
}

void COptsFileFormat::SizeToControls() {
  m_widthEdit->setText(QLocale::c().toString(m_width));
  m_heightEdit->setText(QLocale::c().toString(m_height));
}

bool COptsFileFormat::SizeFromControls() {
  bool okW = false, okH = false;
  const int w = QLocale::c().toInt(m_widthEdit->text().trimmed(), &okW);
  const int h = QLocale::c().toInt(m_heightEdit->text().trimmed(), &okH);
  if (!okW || !okH) return false;
  m_width = w;
  m_height = h;
  return true;
}

void COptsFileFormat::OnOK() {
  if (!InitResult()) {
    // The owner's values never arrived: there is nothing to hand back.
    m_block.header.op = OPTS_XCHG_WRITE;
    if (!ReadOnly()) ShowPageMessage(kWriteFailed);
    return;
  }
  if (!SizeFromControls()) {
    ShowPageMessage("Please enter an integer.");
    return;
  }
  m_block.format = SelectedCode();
  m_block.singleImage = m_single->isChecked() ? 1 : 0;
  m_block.width = m_width;
  m_block.height = m_height;
  if (m_block.checkSize) {
    const std::string problem = CheckImageSize(m_width, m_height);
    if (!problem.empty()) {
      ShowPageMessage(problem);
      return;
    }
  }
  WriteBlock(platform::qt::WM_APP_OPTS_YUV, 0, m_block, kWriteFailed);
}

}  // namespace OptsFileFormat
