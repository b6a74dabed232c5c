#include "media/file_types.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/text.h"

namespace ZarnTypes {
namespace {

constexpr const char* kUnknownStreamType = "Unknown stream type";

// ---------------------------------------------------------------------------
// Extensions: FEXT_OOV .. FEXT_TIFF in code order.

struct TExtRow {
  std::int32_t code;
  const char* extension;
  bool sequence;  // accepted by the folder-sequence reader
  std::int32_t format;
};

constexpr TExtRow kExtRows[] = {
    {FEXT_OOV, ".oov", true, FF_OOV},     {FEXT_MPEG, ".mpeg", true, FF_MPEG2},
    {FEXT_MPG, ".mpg", true, FF_MPEG2},   {FEXT_MP2, ".mp2", true, FF_MPEG2},
    {FEXT_MP4, ".mp4", true, FF_MPEG4},   {FEXT_264, ".264", false, FF_H264},
    {FEXT_DV, ".dv", true, FF_DV},        {FEXT_AVI, ".avi", true, FF_AVI},
    {FEXT_WMV, ".wmv", true, FF_WMV},     {FEXT_ASF, ".asf", true, FF_ASF},
    {FEXT_FLV, ".flv", true, FF_FLV},     {FEXT_SWF, ".swf", true, FF_SWF},
    {FEXT_MOV, ".mov", true, FF_MOV},     {FEXT_MNG, ".mng", true, FF_MNG},
    {FEXT_YUV, ".yuv", true, FF_YUV_RAW}, {FEXT_IFO, ".ifo", true, FF_IFO},
    {FEXT_BUP, ".bup", true, FF_BUP},     {FEXT_VOB, ".vob", true, FF_VOB},
    {FEXT_MP3, ".mp3", true, FF_MP3},     {FEXT_WMA, ".wma", true, FF_WMA},
    {FEXT_WAV, ".wav", true, FF_WAV},     {FEXT_BMP, ".bmp", true, FF_BMP},
    {FEXT_DIB, ".dib", false, FF_BMP},    {FEXT_ICO, ".ico", false, FF_ICO},
    {FEXT_PGM, ".pgm", false, FF_PGM},    {FEXT_GIF, ".gif", true, FF_GIF},
    {FEXT_JPG, ".jpg", true, FF_JPEG},    {FEXT_JPEG, ".jpeg", true, FF_JPEG},
    {FEXT_JFIF, ".jfif", true, FF_JPEG},  {FEXT_JP2, ".jp2", true, FF_JP2},
    {FEXT_JPC, ".jpc", true, FF_JPC},     {FEXT_J2C, ".j2c", false, 0},
    {FEXT_PNG, ".png", true, FF_PNG},     {FEXT_TIF, ".tif", true, FF_TIFF},
    {FEXT_TIFF, ".tiff", true, FF_TIFF},
};

constexpr bool ExtRowsInCodeOrder() {
  std::int32_t expected = FEXT_NONE + 1;
  for (const TExtRow& row : kExtRows) {
    if (row.code != expected++) return false;
  }
  return expected == FEXT_LAST + 1;
}
static_assert(ExtRowsInCodeOrder(), "extension rows must cover FEXT_OOV..FEXT_TIFF in order");

const TExtRow* FindExtRow(std::int32_t code) {
  if (code <= FEXT_NONE || code > FEXT_LAST) return nullptr;
  return &kExtRows[code - FEXT_NONE - 1];
}

// ---------------------------------------------------------------------------
// Texts of the 42 YCbCr layouts, 53..94 in code order. The filter label of a
// layout adds " (.yuv)".

constexpr std::int32_t kYuvLayoutCount = FF_YCBCR_LAST - FF_YCBCR_FIRST + 1;
constexpr std::size_t kYuvTextSize = 48;  // longest label is 46 characters

using TYuvText = std::array<char, kYuvTextSize>;

constexpr const char* kYuvFormatTexts[kYuvLayoutCount] = {
    "YCbCr 444 ITU601 8bit 0-255",               // 53
    "YCbCr 444 ITU601 8bit 16-255",              // 54
    "YCbCr 444 ITU601 8bit 16-235-240",          // 55
    "YCbCr 422 ITU601 8bit 0-255 CosEven",       // 56
    "YCbCr 422 ITU601 8bit 16-255 CosEven",      // 57
    "YCbCr 422 ITU601 8bit 16-235-240 CosEven",  // 58
    "YCbCr 422 ITU601 8bit 0-255 CosOdd",        // 59
    "YCbCr 422 ITU601 8bit 16-255 CosOdd",       // 60
    "YCbCr 422 ITU601 8bit 16-235-240 CosOdd",   // 61
    "YCbCr 422 ITU601 8bit 0-255 Center",        // 62
    "YCbCr 422 ITU601 8bit 16-255 Center",       // 63
    "YCbCr 422 ITU601 8bit 16-235-240 Center",   // 64
    "YCbCr 420 ITU601 8bit 0-255 CosEven",       // 65
    "YCbCr 420 ITU601 8bit 16-255 CosEven",      // 66
    "YCbCr 420 ITU601 8bit 16-235-240 CosEven",  // 67
    "YCbCr 420 ITU601 8bit 0-255 CosOdd",        // 68
    "YCbCr 420 ITU601 8bit 16-255 CosOdd",       // 69
    "YCbCr 420 ITU601 8bit 16-235-240 CosOdd",   // 70
    "YCbCr 420 ITU601 8bit 0-255 Center",        // 71
    "YCbCr 420 ITU601 8bit 16-255 Center",       // 72
    "YCbCr 420 ITU601 8bit 16-235-240 Center",   // 73
    "YCbCr 444 ITU709 8bit 0-255",               // 74
    "YCbCr 444 ITU709 8bit 16-255",              // 75
    "YCbCr 444 ITU709 8bit 16-235-240",          // 76
    "YCbCr 422 ITU709 8bit 0-255 CosEven",       // 77
    "YCbCr 422 ITU709 8bit 16-255 CosEven",      // 78
    "YCbCr 422 ITU709 8bit 16-235-240 CosEven",  // 79
    "YCbCr 422 ITU709 8bit 0-255 CosOdd",        // 80
    "YCbCr 422 ITU709 8bit 16-255 CosOdd",       // 81
    "YCbCr 422 ITU709 8bit 16-235-240 CosOdd",   // 82
    "YCbCr 422 ITU709 8bit 0-255 Center",        // 83
    "YCbCr 422 ITU709 8bit 16-255 Center",       // 84
    "YCbCr 422 ITU709 8bit 16-235-240 Center",   // 85
    "YCbCr 420 ITU709 8bit 0-255 CosEven",       // 86
    "YCbCr 420 ITU709 8bit 16-255 CosEven",      // 87
    "YCbCr 420 ITU709 8bit 16-235-240 CosEven",  // 88
    "YCbCr 420 ITU709 8bit 0-255 CosOdd",        // 89
    "YCbCr 420 ITU709 8bit 16-255 CosOdd",       // 90
    "YCbCr 420 ITU709 8bit 16-235-240 CosOdd",   // 91
    "YCbCr 420 ITU709 8bit 0-255 Center",        // 92
    "YCbCr 420 ITU709 8bit 16-255 Center",       // 93
    "YCbCr 420 ITU709 8bit 16-235-240 Center",   // 94
};

// Each text spells its code's parts: "YCbCr " sampling " ITU" standard
// " 8bit " range, then the siting of a 4:2:2 or 4:2:0 layout.
constexpr const char* kYuvSampling[YUV_LAYOUT_COUNT] = {"444", "422", "422", "422", "420", "420", "420"};
constexpr const char* kYuvSiting[YUV_LAYOUT_COUNT] = {"",         " CosEven", " CosOdd", " Center",
                                                      " CosEven", " CosOdd",  " Center"};
constexpr const char* kYuvStandard[YUV_STD_COUNT] = {"601", "709"};
constexpr const char* kYuvRange[YUV_RANGE_COUNT] = {"0-255", "16-255", "16-235-240"};

// Appends while room is left; a cut text is caught by the checks below.
constexpr void Append(TYuvText& text, std::size_t& length, const char* part) {
  for (; *part != '\0' && length + 1 < text.size(); ++part) text[length++] = *part;
  text[length] = '\0';
}

constexpr TYuvText ComposeYuvText(std::int32_t format) {
  TYuvLayout parts;
  DecomposeYuvFileFormat(format, parts);
  TYuvText text{};
  std::size_t length = 0;
  Append(text, length, "YCbCr ");
  Append(text, length, kYuvSampling[parts.layout]);
  Append(text, length, " ITU");
  Append(text, length, kYuvStandard[parts.standard]);
  Append(text, length, " 8bit ");
  Append(text, length, kYuvRange[parts.range]);
  Append(text, length, kYuvSiting[parts.layout]);
  return text;
}

constexpr bool YuvTextsMatchTheirCodes() {
  for (std::int32_t format = FF_YCBCR_FIRST; format <= FF_YCBCR_LAST; ++format) {
    const TYuvText composed = ComposeYuvText(format);
    if (std::string_view(composed.data()) != kYuvFormatTexts[format - FF_YCBCR_FIRST]) return false;
  }
  return true;
}
static_assert(YuvTextsMatchTheirCodes(), "a YCbCr text does not spell its code");

constexpr std::array<TYuvText, kYuvLayoutCount> BuildYuvFilterLabels() {
  std::array<TYuvText, kYuvLayoutCount> labels{};
  for (std::size_t i = 0; i < labels.size(); ++i) {
    std::size_t length = 0;
    Append(labels[i], length, kYuvFormatTexts[i]);
    Append(labels[i], length, " (.yuv)");
  }
  return labels;
}

constexpr std::array<TYuvText, kYuvLayoutCount> kYuvFilterLabels = BuildYuvFilterLabels();

constexpr bool AllLabelsComplete() {
  constexpr std::string_view suffix = " (.yuv)";
  for (const TYuvText& label : kYuvFilterLabels) {
    if (!std::string_view(label.data()).ends_with(suffix)) return false;
  }
  return true;
}
static_assert(AllLabelsComplete(), "YCbCr label buffer too small");

// ---------------------------------------------------------------------------
// Formats, indexed by code 0..96 (row 0 unused).

struct TFormatRow {
  const char* text;         // nullptr: no text
  const char* extension;    // "" : none
  std::int32_t streamType;  // FileFormatToStreamType
  bool image;               // IsImageFileFormat
  bool page;                // HasFormatOptionsPage
};

constexpr std::size_t kFormatRows = FF_LAST + 1;

constexpr std::array<TFormatRow, kFormatRows> BuildFormatTable() {
  std::array<TFormatRow, kFormatRows> t{};
  for (TFormatRow& row : t) row = {nullptr, "", 0, false, false};

  t[FF_NULL_STREAM] = {"Null stream", "", ST_NULL_STREAM, false, false};
  t[FF_SYSTEM_DEVICE] = {"System device", "", ST_SYSTEM_DEVICE, false, false};
  t[FF_OOV] = {"OOV - Object Oriented Video", ".oov", ST_OOV, false, false};
  t[FF_MPEG1] = {"MPEG-1 Motion Pictures Expert Group", ".mpg", ST_MPEG1, false, false};
  t[FF_MPEG2] = {"MPEG-2 Motion Pictures Expert Group", ".mpg", ST_MPEG2, false, false};
  t[FF_MPEG4] = {"MPEG-4 Motion Pictures Expert Group", ".mp4", ST_MPEG4, false, false};
  t[FF_H264] = {"H.264 video (ITU-T)", ".264", ST_H264, false, false};
  t[FF_DV] = {"DV - Digital Video", ".dv", ST_DV, false, false};
  t[FF_AVI] = {"AVI - Audio Video Interlived", ".avi", ST_AVI, false, true};
  t[FF_WMV] = {"WMV - Windows Media Video", ".wmv", ST_WMV, false, true};
  t[FF_ASF] = {"ASF - Advanced Systems Format, Microsoft", ".asf", ST_ASF, false, false};
  t[FF_FLV] = {"FLV - Flash Video", ".flv", ST_FLV, false, false};
  t[FF_SWF] = {"SWF - ShockWave Flash Format", ".swf", ST_SWF, false, false};
  t[FF_MOV] = {"MOV - QuickTime Video", ".mov", ST_MOV, false, false};
  t[FF_MNG] = {"MNG - Multiple-image Network Graphics", ".mng", ST_MNG, false, false};
  t[FF_IFO] = {"IFO - DVD info file", ".ifo", ST_IFO, false, false};
  t[FF_BUP] = {"BUP - DVD back up file", ".bup", ST_BUP, false, false};
  t[FF_VOB] = {"VOB - DVD Video Object file", ".vob", ST_VOB, false, false};
  t[FF_MP3] = {"MP3 - MPEG-1 Audio Layer 3", ".mp3", ST_MP3, false, false};
  t[FF_WMA] = {"WMA - Windows Media Audio", ".wma", ST_WMA, false, true};
  t[FF_WAV] = {"WAV - Waveform Audio", ".wav", ST_WAV, false, false};
  t[FF_PGM] = {nullptr, "", 0, false, false};
  for (std::int32_t f = 23; f <= 26; ++f) t[f] = {nullptr, "", f - 1, false, false};
  t[FF_BMP] = {"BMP - Microsoft Bitmap", "", ST_BMP, true, false};
  t[FF_BMP_1BIT] = {"BMP - 1-bit Bitmap / Monochrome", ".bmp", ST_BMP_1BIT, true, false};
  t[FF_BMP_2BIT] = {nullptr, "", ST_BMP_2BIT, true, false};
  t[FF_BMP_4BIT] = {"BMP - 4-bit bitmap / 16 Colors", ".bmp", ST_BMP_4BIT, true, false};
  t[FF_BMP_8BIT] = {"BMP - 8-bit Bitmap / 256-colors", ".bmp", ST_BMP_8BIT, true, false};
  t[FF_BMP_16BIT] = {"BMP - 16-bit Bitmap", ".bmp", ST_BMP_16BIT, true, false};
  t[FF_BMP_24BIT] = {"BMP - 24-bit Bitmap", ".bmp", ST_BMP_24BIT, true, false};
  t[FF_BMP_32BIT] = {"BMP - 32-bit Bitmap", ".bmp", ST_BMP_32BIT, true, false};
  t[FF_BMP_48BIT] = {"BMP - 48-bit Bitmap", ".bmp", ST_BMP_48BIT, true, false};
  t[FF_ICO] = {"ICO - Microsoft icon", ".ico", ST_ICO, false, false};
  t[FF_GIF] = {"GIF - Graphics Interchange Format", ".gif", ST_GIF, true, true};
  t[FF_JPEG] = {"JPEG - JPEG/JFIF", ".jpg", ST_JPEG_JFIF, true, true};
  t[FF_JPEG_GRAY] = {"JPEG - JPEG/JFIF Grayscale", ".jpg", ST_JPEG_GRAY, true, true};
  t[FF_JPEG2000] = {nullptr, "", ST_JPEG2000, false, false};
  t[FF_JP2] = {"JP2 - JPEG-2000 JP2", ".jp2", ST_JP2, true, true};
  t[FF_JPC] = {"JPC - JPEG-2000 Code Stream", ".jpc", ST_JPC, true, true};
  t[FF_PNG] = {"PNG - Portable Network Graphics", ".png", ST_PNG, true, true};
  t[FF_TIFF] = {"TIFF - Tagged Image File Format", ".tif", ST_TIFF, true, true};
  // FF_YUV_RAW and the generic planar codes 46..52: no text, extension or type.
  for (std::int32_t f = FF_YCBCR_FIRST; f <= FF_YCBCR_LAST; ++f) {
    t[f] = {kYuvFormatTexts[f - FF_YCBCR_FIRST], ".yuv", f, false, true};
  }
  t[FF_CLIPBOARD] = {"Clipbard", "", 0, false, false};
  t[FF_WIA_DEVICE] = {"WIA device", "", 0, false, false};
  return t;
}

constexpr std::array<TFormatRow, kFormatRows> kFormats = BuildFormatTable();

const TFormatRow* FindFormatRow(std::int32_t format) {
  if (format < FF_FIRST || format > FF_LAST) return nullptr;
  return &kFormats[static_cast<std::size_t>(format)];
}

// ---------------------------------------------------------------------------
// Stream-type texts where they differ from the format of the same number
// (22..45, 95, 96); elsewhere a stream type reads as its format.

struct TStreamTextRow {
  std::int32_t streamType;
  const char* text;
};

constexpr TStreamTextRow kStreamTexts[] = {
    {ST_BMP, "BMP - Microsoft Bitmap"},
    {ST_BMP_1BIT, "BMP - 1-bit Bitmap / Monochrome"},
    {ST_BMP_2BIT, "BMP - 2-bit Bitmap"},
    {ST_BMP_4BIT, "BMP - 4-bit bitmap / 16 Colors"},
    {ST_BMP_8BIT, "BMP - 8-bit Bitmap / 256-colors"},
    {ST_BMP_16BIT, "BMP - 16-bit Bitmap"},
    {ST_BMP_24BIT, "BMP - 24-bit Bitmap"},
    {ST_BMP_32BIT, "BMP - 32-bit Bitmap"},
    {ST_BMP_48BIT, "BMP - 48-bit Bitmap"},
    {ST_ICO, "ICO - Microsoft icon"},
    {ST_GIF, "GIF - Graphics Interchange Format"},
    {ST_JPEG, "JPEG - JPEG/JFIF"},
    {ST_JPEG_JFIF, "JPEG - JPEG/JFIF"},
    {ST_JPEG_GRAY, "JPEG - JPEG/JFIF Grayscale"},
    {ST_JPEG2000, "JPEG-2000"},
    {ST_JP2, "JP2 - JPEG-2000 JP2"},
    {ST_JPC, "JPC - JPEG-2000 Code Stream"},
    {ST_PNG, "PNG - Portable Network Graphics"},
    {ST_TIFF, "TIFF - Tagged Image File Format"},
    {ST_PGM, "PGM - Portable Graymap"},
    {ST_CLIPBOARD, "Clipbard"},
    {ST_WIA_DEVICE, "WIA device"},
};

// Stream types that share number and text with their format.
constexpr bool SharesFormatText(std::int32_t code) {
  return (code >= ST_NULL_STREAM && code <= ST_WAV) || IsYuvFileFormat(code);
}

const char* StreamTypeText(std::int32_t streamType) {
  if (SharesFormatText(streamType)) return kFormats[static_cast<std::size_t>(streamType)].text;
  for (const TStreamTextRow& row : kStreamTexts) {
    if (row.streamType == streamType) return row.text;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Filter entries FLT_ALL .. FLT_TIFF; the YCbCr entries are computed.

struct TFilterRow {
  const char* label;
  const char* pattern;
  std::int32_t format;
};

constexpr const char* kBmpPattern = "*.bmp;*.dib";
constexpr const char* kJpegPattern = "*.jpg;*.jpeg;*.jpe;*.jfif";
constexpr const char* kYuvPattern = "*.yuv";

constexpr TFilterRow kFilters[] = {
    {"All files", "*.*", 0},
    // The dotless "*mp4" and "*avi" are kept as the list has always had them.
    {"All video files",
     "*.oov;*.mpeg;*.mpg;*.mp2;*.vob;*mp4;*avi;*.dv;*.wmv;*.asf;*.flv;*.swf;*.mov;*.yuv;*.mng", 0},
    {"All graphics files", "*.bmp;*.dib;*.jpg;*.jpeg;*.jpe;*.jfif;*.jp2;*.jpc;*.png;*.gif;*.tif;*.tiff;*.yuv",
     0},
    {"All audio files", "*.mp3;*.wma;*.wav", 0},
    {"All DVD files", "*.vob;*.ifo", 0},
    {"All YUV files", kYuvPattern, 0},
    {"AVI - Audio Video Interlived (.avi)", "*.avi", FF_AVI},
    {"MPEG-2 - (.mpeg; .mpg; .mp2; .vob)", "*.mpeg;*.mpg;*.mp2;*.vob", FF_MPEG2},
    {"MPEG-4 - (.mp4)", "*.mp4", FF_MPEG4},
    {"Digital Video - (.dv)", "*.dv", FF_DV},
    {"Windows Media Video (.wmv; .asf)", "*.wmv;*.asf", FF_WMV},
    {"Advanced System Format, Microsoft (.asf)", "*.asf", FF_ASF},
    {"Flash Video - (.flv)", "*.flv", FF_FLV},
    {"ShockWave Flash Format - (.swf)", "*.swf", FF_SWF},
    {"QuickTime Video - (.mov)", "*.mov", FF_MOV},
    {"OOV - (.oov)", "*.oov", FF_OOV},
    {"MNG - Multiple-image Network Graphics (.mng)", "*.mng", FF_MNG},
    {"MP3 - MPEG-1 Audio Layer 3 (.mp3)", "*.mp3", FF_MP3},
    {"Windows Media Audio (.wma)", "*.wma", FF_WMA},
    {"WAV - Waveform Audio (.wav)", "*.wav", FF_WAV},
    {"BMP - Microsoft Bitmap (.bmp; .dib)", kBmpPattern, FF_BMP},
    {"BMP - Monochrome Bitmap (.bmp; .dib)", kBmpPattern, FF_BMP_1BIT},
    {"BMP - 4-bit / 16 Colors Bitmap (.bmp; .dib)", kBmpPattern, FF_BMP_4BIT},
    {"BMP - 8-bit / 256-color Bitmap (.bmp; .dib)", kBmpPattern, FF_BMP_8BIT},
    {"BMP - 16-bit Bitmap (.bmp; .dib)", kBmpPattern, FF_BMP_16BIT},
    {"BMP - 24-bit Bitmap (.bmp; .dib)", kBmpPattern, FF_BMP_24BIT},
    {"BMP - 32-bit Bitmap (.bmp; .dib)", kBmpPattern, FF_BMP_32BIT},
    {"BMP - 48-bit Bitmap (.bmp; .dib)", kBmpPattern, FF_BMP_48BIT},
    {"ICO - Microsoft icon (.ico)", "*.ico", FF_ICO},
    {"GIF - Graphics Interchange Format (.gif)", "*.gif", FF_GIF},
    {"JPEG - JPEG/JFIF (.jpg; .jpeg; .jpe; .jfif)", kJpegPattern, FF_JPEG},
    {"JPEG - JPEG/JFIF Grayscale (.jpg; .jpeg; .jpe; .jfif)", kJpegPattern, FF_JPEG_GRAY},
    {"JP2 - JPEG-2000 JP2 (.jp2)", "*.jp2", FF_JP2},
    {"JPC - JPEG-2000 Code Stream (.jpc)", "*.jpc", FF_JPC},
    {"PNG - Portable Network Graphics (.png)", "*.png", FF_PNG},
    {"TIFF - Tagged Image File Format (.tif; .tiff)", "*.tif;*.tiff", FF_TIFF},
};

static_assert(sizeof kFilters / sizeof kFilters[0] == FLT_YUV_FIRST - FLT_FIRST,
              "fixed filter rows must cover FLT_ALL..FLT_TIFF");

constexpr std::int32_t kYuvFilterToFormat = std::int32_t{FF_YCBCR_FIRST} - std::int32_t{FLT_YUV_FIRST};  // 16

// The filter row of a code, computed for the YCbCr entries.
bool FindFilterRow(std::int32_t filter, TFilterRow& row) {
  if (filter >= FLT_FIRST && filter < FLT_YUV_FIRST) {
    row = kFilters[filter - FLT_FIRST];
    return true;
  }
  if (filter >= FLT_YUV_FIRST && filter <= FLT_YUV_LAST) {
    row = {kYuvFilterLabels[static_cast<std::size_t>(filter - FLT_YUV_FIRST)].data(), kYuvPattern,
           filter + kYuvFilterToFormat};
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Information codes: a contiguous run of texts starting at `first`.

struct TInfoTable {
  std::int32_t first;
  const char* const* texts;
  std::int32_t count;
};

constexpr const char* kYuvRangeTexts[] = {
    " Luma[0-255]  Chroma[0-255] ",
    " Luma[16-255] Chroma[16-255] ",
    " Luma[16-235] Chroma[16-240] ",
};
constexpr const char* kYuvSamplingTexts[] = {" 4:4:4 ", " 4:2:2 ", " 4:2:0 "};
constexpr const char* kYuvSitingTexts[] = {
    " Cosited luma and chromas, all sites ",
    " Cosited luma and chromas, even sites ",
    " Cosited luma and chromas, odd sites ",
    " Centered chromas between luma",
};
constexpr const char* kPngColorTypeTexts[] = {"No info", "No info", "Gray", "Gray+A",
                                              "Palette", "RGB",     "RGB+A"};
constexpr const char* kJpegColorSpaceTexts[] = {"Unknown", "Gray", "RGB", "YCbCr", "CMYK", "YCCK"};
constexpr const char* kTiffPhotometricTexts[] = {
    "No info", "Gray",         "Gray+A",  "Palette", "RGB",         "RGB+A",
    "YCbCr",   "CIE Lab 1976", "ICC Lab", "ITU Lab", "CIE Log2(L)", "CIE Log2(L) (u',v')",
};
constexpr const char* kTiffCompressionTexts[] = {
    "No info",  "No info", "LZW",         "Packbits",    "JPEG",
    "JPEG2000", "ZIP",     "Huffman RLE", "CCITT Fax 3", "CCITT Fax 4",
};

template <std::size_t N>
constexpr TInfoTable MakeInfoTable(std::int32_t first, const char* const (&texts)[N]) {
  return {first, texts, static_cast<std::int32_t>(N)};
}

bool InfoName(const TInfoTable& table, std::int32_t code, std::string& name) {
  if (code < table.first || code - table.first >= table.count) return false;
  name = table.texts[code - table.first];
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

std::int32_t GetFileExtCode(std::string_view extension) {
  if (extension.empty()) return FEXT_NONE;
  for (const TExtRow& row : kExtRows) {
    if (platform::EqualsNoCase(extension, row.extension)) return row.code;
  }
  return FEXT_NONE;
}

bool IsSupportedFileExt(std::int32_t extCode) {
  const TExtRow* row = FindExtRow(extCode);
  return row != nullptr && row->sequence;
}

std::int32_t FileExtCodeToFileFormat(std::int32_t extCode) {
  const TExtRow* row = FindExtRow(extCode);
  return row != nullptr ? row->format : 0;
}

std::string GetDefaultExtension(std::int32_t format) {
  const TFormatRow* row = FindFormatRow(format);
  return row != nullptr ? std::string(row->extension) : std::string();
}

bool GetFileFormatName(std::int32_t format, std::string& name) {
  const TFormatRow* row = FindFormatRow(format);
  if (row == nullptr || row->text == nullptr) {
    name = kUnknownStreamType;
    return false;
  }
  name = row->text;
  return true;
}

bool GetStreamTypeName(std::int32_t streamType, std::string& name) {
  const char* text = StreamTypeText(streamType);
  if (text == nullptr) {
    name = kUnknownStreamType;
    return false;
  }
  name = text;
  return true;
}

std::int32_t FileFormatToStreamType(std::int32_t format) {
  const TFormatRow* row = FindFormatRow(format);
  return row != nullptr ? row->streamType : 0;
}

std::int32_t StreamTypeToFileFormat(std::int32_t streamType) {
  if (streamType >= 22 && streamType <= ST_GIF) return streamType + 1;
  if (SharesFormatText(streamType) || (streamType >= ST_JPEG_JFIF && streamType <= ST_TIFF)) {
    return streamType;
  }
  return 0;
}

std::int32_t FileFilterToFileFormat(std::int32_t filter) {
  TFilterRow row{};
  return FindFilterRow(filter, row) ? row.format : 0;
}

std::int32_t FileFormatToFileFilter(std::int32_t format) {
  if (format <= 0) return 0;
  if (IsYuvFileFormat(format)) return format - kYuvFilterToFormat;
  for (std::int32_t filter = FLT_FIRST; filter < FLT_YUV_FIRST; ++filter) {
    if (kFilters[filter - FLT_FIRST].format == format) return filter;
  }
  return 0;
}

std::string GetFileFilterPattern(std::int32_t filter) {
  TFilterRow row{};
  return FindFilterRow(filter, row) ? std::string(row.pattern) : std::string();
}

std::string GetFileFilterLabel(std::int32_t filter) {
  TFilterRow row{};
  return FindFilterRow(filter, row) ? std::string(row.label) : std::string();
}

bool IsImageFileFormat(std::int32_t format) {
  const TFormatRow* row = FindFormatRow(format);
  return row != nullptr && row->image;
}

bool HasFormatOptionsPage(std::int32_t format) {
  const TFormatRow* row = FindFormatRow(format);
  return row != nullptr && row->page;
}

std::int32_t GetYuvBitsPerPixel(std::int32_t format) {
  TYuvLayout parts;
  return DecomposeYuvFileFormat(format, parts) ? parts.bitsPerPixel : 0;
}

bool GetYuvRangeName(std::int32_t code, std::string& name) {
  return InfoName(MakeInfoTable(2, kYuvRangeTexts), code, name);
}

bool GetYuvSamplingName(std::int32_t code, std::string& name) {
  return InfoName(MakeInfoTable(2, kYuvSamplingTexts), code, name);
}

bool GetYuvSitingName(std::int32_t code, std::string& name) {
  return InfoName(MakeInfoTable(2, kYuvSitingTexts), code, name);
}

bool GetPngColorTypeName(std::int32_t code, std::string& name) {
  return InfoName(MakeInfoTable(0, kPngColorTypeTexts), code, name);
}

bool GetJpegColorSpaceName(std::int32_t code, std::string& name) {
  return InfoName(MakeInfoTable(1, kJpegColorSpaceTexts), code, name);
}

bool GetTiffPhotometricName(std::int32_t code, std::string& name) {
  return InfoName(MakeInfoTable(0, kTiffPhotometricTexts), code, name);
}

bool GetTiffCompressionName(std::int32_t code, std::string& name) {
  return InfoName(MakeInfoTable(0, kTiffCompressionTexts), code, name);
}

}  // namespace ZarnTypes
