#pragma once
// The "YUV" page: the layout of a raw YCbCr file (one of the 42 planar
// layouts, TFileFormat 53..94), one picture per file or not, and where the
// owner allows it the picture size. Nine property filters narrow the list of
// layouts; resolution presets fill the size.
//
// Owners: the extended file dialog and the save-stream page answer
// WM_APP_OPTS_YUV with a TYuvFormatExchange.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "options/opts_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace ZarnTypes {

struct TYuvFormatExchange {
  TOptsExchangeHeader header;
  std::int32_t format = 0;  // TFileFormat 53..94
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint8_t singleImage = 0;
  std::uint8_t sizeEditable = 0;  // the page lets the user change the size
  std::uint8_t checkSize = 0;     // the page checks the size against 1..5000 on OK
  std::uint8_t reserved = 0;
};
static_assert(offsetof(TYuvFormatExchange, format) == 8);
static_assert(offsetof(TYuvFormatExchange, width) == 12);
static_assert(offsetof(TYuvFormatExchange, height) == 16);
static_assert(offsetof(TYuvFormatExchange, singleImage) == 20);
static_assert(offsetof(TYuvFormatExchange, sizeEditable) == 21);
static_assert(offsetof(TYuvFormatExchange, checkSize) == 22);
static_assert(sizeof(TYuvFormatExchange) == 24);

}  // namespace ZarnTypes

namespace OptsFileFormat {

// The nine property filters, in the order of their lists.
enum TYuvFilter : int {
  YF_CONVERSION_BASE,
  YF_COMPONENTS,
  YF_SAMPLING,
  YF_PLANES,
  YF_SCAN,
  YF_LUMA_BITS,
  YF_CHROMA_BITS,
  YF_RANGE,
  YF_SITING,
  YF_COUNT
};
inline constexpr std::int32_t kAnyValue = 1;  // a filter value that lets every layout pass
inline constexpr std::int32_t kMaxImageSize = 5000;

// One layout with the attribute it shows each filter.
struct TYuvLayoutRow {
  std::int32_t code = 0;  // 53..94
  std::array<std::int32_t, YF_COUNT> attributes{};
  std::string text;  // "YCbCr 420 ITU709 8bit 16-235-240 Center (.yuv)"
};

// The 42 layouts in code order.
const std::vector<TYuvLayoutRow>& YuvLayoutTable();

// One entry of a filter list: its text and the value it selects.
struct TFilterEntry {
  const char* text;
  std::int32_t value;
};
const std::vector<TFilterEntry>& FilterEntries(TYuvFilter filter);

using TFilterValues = std::array<std::int32_t, YF_COUNT>;
inline TFilterValues AnyFilters() {
  TFilterValues v;
  v.fill(kAnyValue);
  return v;
}

// The codes of the layouts that pass the filters, in code order. A row
// passes when every filter is 1 or equals its attribute; the siting filter
// also passes the 4:4:4 rows, which have no siting.
std::vector<std::int32_t> FilterLayouts(const TFilterValues& filters);

// One resolution preset.
struct TResolutionPreset {
  const char* text;
  std::int32_t width;
  std::int32_t height;
};
inline constexpr int kPresetUndefined = 0;
inline constexpr int kPresetCustom = 13;
const std::vector<TResolutionPreset>& ResolutionPresets();
// The preset that shows a size: the first of 1..12 with that size, else 13.
int PresetForSize(std::int32_t width, std::int32_t height);

// The page's message for a size outside 1..5000 ("" when both are in range;
// the width is checked first).
std::string CheckImageSize(std::int32_t width, std::int32_t height);

class COptsFileFormat : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  static constexpr const char* kReadFailed = "Configuration data for YUV file are not available";
  static constexpr const char* kWriteFailed = "Configuration data for YUV file can not be set";

  explicit COptsFileFormat(QWidget* parent = nullptr);
  ~COptsFileFormat() override;

  void OnOK() override;

  // The layouts now listed and the one selected.
  const std::vector<std::int32_t>& ListedCodes() const { return m_codes; }
  std::int32_t SelectedCode() const;
  bool SelectCode(std::int32_t code);

  // User actions (what the controls do when their drop-down closes).
  void ChooseFilter(TYuvFilter filter, int entry);
  void ChooseResolution(int preset);
  void OnReset();

  const TFilterValues& Filters() const { return m_filters; }
  std::int32_t Width() const { return m_width; }
  std::int32_t Height() const { return m_height; }
  const ZarnTypes::TYuvFormatExchange& Block() const { return m_block; }

  // The controls, for the sheet's users and tests.
  QComboBox* FormatList() const { return m_format; }
  QCheckBox* SingleImageBox() const { return m_single; }
  QComboBox* FilterList(TYuvFilter filter) const { return m_filterLists[static_cast<std::size_t>(filter)]; }
  QComboBox* ResolutionList() const { return m_resolution; }
  QLineEdit* WidthEdit() const { return m_widthEdit; }
  QLineEdit* HeightEdit() const { return m_heightEdit; }
  QPushButton* ResetButton() const { return m_reset; }

 protected:
  bool OnInitDialog() override;

 private:
  void RebuildFormatList(std::int32_t wanted);
  void SizeToControls();
  bool SizeFromControls();

  ZarnTypes::TYuvFormatExchange m_block;
  std::int32_t m_width = 0;
  std::int32_t m_height = 0;
  std::vector<std::int32_t> m_codes;
  TFilterValues m_filters = AnyFilters();

  QComboBox* m_format = nullptr;
  QCheckBox* m_single = nullptr;
  std::array<QComboBox*, YF_COUNT> m_filterLists{};
  QPushButton* m_reset = nullptr;
  QComboBox* m_resolution = nullptr;
  QLineEdit* m_widthEdit = nullptr;
  QLineEdit* m_heightEdit = nullptr;
};

}  // namespace OptsFileFormat
