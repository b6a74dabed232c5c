#pragma once
// Media file types and codes: the file-name extension codes, the file formats
// a dialog offers and a saver writes, the stream types kept in a channel's
// records, the entries of the open/save file-type filter list, and the small
// information codes shown in the information panels (YCbCr range, sampling
// and siting; PNG colour type; JPEG colour space; TIFF photometric
// interpretation and compression).
//
// Every code is a 32-bit signed integer starting at 1; 0 is never a valid
// code, and the converters return 0 when there is no corresponding value.
// All functions are stateless and may be called from any thread. Texts are
// UTF-8 and appear on screen exactly as stored here.

#include <cstdint>
#include <string>
#include <string_view>

namespace ZarnTypes {

// ---------------------------------------------------------------------------
// File-name extension codes.

enum TFileExtCode : std::int32_t {
  FEXT_NONE = 1,  // "" and every extension not listed
  FEXT_OOV = 2,
  FEXT_MPEG = 3,
  FEXT_MPG = 4,
  FEXT_MP2 = 5,
  FEXT_MP4 = 6,
  FEXT_264 = 7,
  FEXT_DV = 8,
  FEXT_AVI = 9,
  FEXT_WMV = 10,
  FEXT_ASF = 11,
  FEXT_FLV = 12,
  FEXT_SWF = 13,
  FEXT_MOV = 14,
  FEXT_MNG = 15,
  FEXT_YUV = 16,
  FEXT_IFO = 17,
  FEXT_BUP = 18,
  FEXT_VOB = 19,
  FEXT_MP3 = 20,
  FEXT_WMA = 21,
  FEXT_WAV = 22,
  FEXT_BMP = 23,
  FEXT_DIB = 24,
  FEXT_ICO = 25,
  FEXT_PGM = 26,
  FEXT_GIF = 27,
  FEXT_JPG = 28,
  FEXT_JPEG = 29,
  FEXT_JFIF = 30,
  FEXT_JP2 = 31,
  FEXT_JPC = 32,
  FEXT_J2C = 33,
  FEXT_PNG = 34,
  FEXT_TIF = 35,
  FEXT_TIFF = 36,
};

inline constexpr std::int32_t FEXT_FIRST = FEXT_NONE;
inline constexpr std::int32_t FEXT_LAST = FEXT_TIFF;

// ---------------------------------------------------------------------------
// File formats. 23..26 and 46..52 carry no names; 53..94 are the 42 planar
// YCbCr layouts (see ComposeYuvFileFormat).

enum TFileFormat : std::int32_t {
  FF_NULL_STREAM = 1,
  FF_SYSTEM_DEVICE = 2,
  FF_OOV = 3,
  FF_MPEG1 = 4,
  FF_MPEG2 = 5,
  FF_MPEG4 = 6,
  FF_H264 = 7,
  FF_DV = 8,
  FF_AVI = 9,
  FF_WMV = 10,
  FF_ASF = 11,
  FF_FLV = 12,
  FF_SWF = 13,
  FF_MOV = 14,
  FF_MNG = 15,
  FF_IFO = 16,
  FF_BUP = 17,
  FF_VOB = 18,
  FF_MP3 = 19,
  FF_WMA = 20,
  FF_WAV = 21,
  FF_PGM = 22,
  FF_BMP = 27,
  FF_BMP_1BIT = 28,
  FF_BMP_2BIT = 29,
  FF_BMP_4BIT = 30,
  FF_BMP_8BIT = 31,
  FF_BMP_16BIT = 32,
  FF_BMP_24BIT = 33,
  FF_BMP_32BIT = 34,
  FF_BMP_48BIT = 35,
  FF_ICO = 36,
  FF_GIF = 37,
  FF_JPEG = 38,
  FF_JPEG_GRAY = 39,
  FF_JPEG2000 = 40,
  FF_JP2 = 41,
  FF_JPC = 42,
  FF_PNG = 43,
  FF_TIFF = 44,
  FF_YUV_RAW = 45,
  FF_YCBCR_FIRST = 53,
  FF_YCBCR_LAST = 94,
  FF_CLIPBOARD = 95,
  FF_WIA_DEVICE = 96,
};

inline constexpr std::int32_t FF_FIRST = FF_NULL_STREAM;
inline constexpr std::int32_t FF_LAST = FF_WIA_DEVICE;

// ---------------------------------------------------------------------------
// Stream types. Equal to TFileFormat for 1..21, 38..44 and 53..94; shifted by
// one for the bitmap, icon and GIF kinds (22..36).

enum TStreamType : std::int32_t {
  ST_NULL_STREAM = 1,
  ST_SYSTEM_DEVICE = 2,
  ST_OOV = 3,
  ST_MPEG1 = 4,
  ST_MPEG2 = 5,
  ST_MPEG4 = 6,
  ST_H264 = 7,
  ST_DV = 8,
  ST_AVI = 9,
  ST_WMV = 10,
  ST_ASF = 11,
  ST_FLV = 12,
  ST_SWF = 13,
  ST_MOV = 14,
  ST_MNG = 15,
  ST_IFO = 16,
  ST_BUP = 17,
  ST_VOB = 18,
  ST_MP3 = 19,
  ST_WMA = 20,
  ST_WAV = 21,
  ST_BMP = 26,
  ST_BMP_1BIT = 27,
  ST_BMP_2BIT = 28,
  ST_BMP_4BIT = 29,
  ST_BMP_8BIT = 30,
  ST_BMP_16BIT = 31,
  ST_BMP_24BIT = 32,
  ST_BMP_32BIT = 33,
  ST_BMP_48BIT = 34,
  ST_ICO = 35,
  ST_GIF = 36,
  ST_JPEG = 37,       // what the still-image loaders store for a JPEG source
  ST_JPEG_JFIF = 38,  // only arises from converting FF_JPEG
  ST_JPEG_GRAY = 39,
  ST_JPEG2000 = 40,
  ST_JP2 = 41,
  ST_JPC = 42,
  ST_PNG = 43,
  ST_TIFF = 44,
  ST_PGM = 45,
  ST_YCBCR_FIRST = 53,
  ST_YCBCR_LAST = 94,
  ST_CLIPBOARD = 95,
  ST_WIA_DEVICE = 96,
};

inline constexpr std::int32_t ST_FIRST = ST_NULL_STREAM;
inline constexpr std::int32_t ST_LAST = ST_WIA_DEVICE;

// ---------------------------------------------------------------------------
// Entries of the open/save file-type filter list. 1..6 are groups without a
// format; 37..78 are the YCbCr layouts, entry = format - 16.

enum TFileFilter : std::int32_t {
  FLT_ALL = 1,
  FLT_VIDEO = 2,
  FLT_IMAGES = 3,
  FLT_AUDIO = 4,
  FLT_DVD = 5,
  FLT_YUV = 6,
  FLT_AVI = 7,
  FLT_MPEG2 = 8,
  FLT_MPEG4 = 9,
  FLT_DV = 10,
  FLT_WMV = 11,
  FLT_ASF = 12,
  FLT_FLV = 13,
  FLT_SWF = 14,
  FLT_MOV = 15,
  FLT_OOV = 16,
  FLT_MNG = 17,
  FLT_MP3 = 18,
  FLT_WMA = 19,
  FLT_WAV = 20,
  FLT_BMP = 21,
  FLT_BMP_1BIT = 22,
  FLT_BMP_4BIT = 23,
  FLT_BMP_8BIT = 24,
  FLT_BMP_16BIT = 25,
  FLT_BMP_24BIT = 26,
  FLT_BMP_32BIT = 27,
  FLT_BMP_48BIT = 28,
  FLT_ICO = 29,
  FLT_GIF = 30,
  FLT_JPEG = 31,
  FLT_JPEG_GRAY = 32,
  FLT_JP2 = 33,
  FLT_JPC = 34,
  FLT_PNG = 35,
  FLT_TIFF = 36,
  FLT_YUV_FIRST = 37,
  FLT_YUV_LAST = 78,
};

inline constexpr std::int32_t FLT_FIRST = FLT_ALL;
inline constexpr std::int32_t FLT_LAST = FLT_YUV_LAST;

// ---------------------------------------------------------------------------
// The 42 planar YCbCr layouts: format = 53 + 21 x standard + 3 x layout + range.

// Colour standard of a layout.
inline constexpr std::int32_t YUV_STD_BT601 = 0;
inline constexpr std::int32_t YUV_STD_BT709 = 1;
inline constexpr std::int32_t YUV_STD_COUNT = 2;

// Sampling and chroma siting of a layout.
inline constexpr std::int32_t YUV_LAYOUT_444 = 0;
inline constexpr std::int32_t YUV_LAYOUT_422_COSITED_EVEN = 1;
inline constexpr std::int32_t YUV_LAYOUT_422_COSITED_ODD = 2;
inline constexpr std::int32_t YUV_LAYOUT_422_CENTRED = 3;
inline constexpr std::int32_t YUV_LAYOUT_420_COSITED_EVEN = 4;
inline constexpr std::int32_t YUV_LAYOUT_420_COSITED_ODD = 5;
inline constexpr std::int32_t YUV_LAYOUT_420_CENTRED = 6;
inline constexpr std::int32_t YUV_LAYOUT_COUNT = 7;

// Value range of a layout.
inline constexpr std::int32_t YUV_RANGE_0_255 = 0;       // luma and chroma 0-255
inline constexpr std::int32_t YUV_RANGE_16_255 = 1;      // luma and chroma 16-255
inline constexpr std::int32_t YUV_RANGE_16_235_240 = 2;  // luma 16-235, chroma 16-240
inline constexpr std::int32_t YUV_RANGE_COUNT = 3;

// A layout taken apart, with the information codes it carries.
struct TYuvLayout {
  std::int32_t standard = 0;            // YUV_STD_*
  std::int32_t layout = 0;              // YUV_LAYOUT_*
  std::int32_t range = 0;               // YUV_RANGE_*
  std::int32_t standardCode = 0;        // conversion base: 2 BT.601, 3 BT.709
  std::int32_t rangeCode = 0;           // GetYuvRangeName code: 2, 3, 4
  std::int32_t samplingCode = 0;        // GetYuvSamplingName code: 2 4:4:4, 3 4:2:2, 4 4:2:0
  std::int32_t sitingCode = 0;          // GetYuvSitingName code: 2 all sites, 3 even, 4 odd, 5 centred
  std::int32_t samplingSitingCode = 0;  // 1 4:4:4; 2..4 4:2:2 even/odd/centred; 5..7 4:2:0 likewise
  std::int32_t bitsPerPixel = 0;        // 24, 16 or 12
};

// The layout code of (standard, layout, range); 0 when any part is out of range.
constexpr std::int32_t ComposeYuvFileFormat(std::int32_t standard, std::int32_t layout, std::int32_t range) {
  if (standard < 0 || standard >= YUV_STD_COUNT || layout < 0 || layout >= YUV_LAYOUT_COUNT || range < 0 ||
      range >= YUV_RANGE_COUNT) {
    return 0;
  }
  return FF_YCBCR_FIRST + YUV_LAYOUT_COUNT * YUV_RANGE_COUNT * standard + YUV_RANGE_COUNT * layout + range;
}

// Takes a layout code (TFileFormat or TStreamType 53..94) apart; false, with
// `out` untouched, for any other code.
constexpr bool DecomposeYuvFileFormat(std::int32_t format, TYuvLayout& out) {
  if (format < FF_YCBCR_FIRST || format > FF_YCBCR_LAST) {
    return false;
  }
  const std::int32_t index = format - FF_YCBCR_FIRST;
  TYuvLayout parts;
  parts.standard = index / (YUV_LAYOUT_COUNT * YUV_RANGE_COUNT);
  parts.layout = (index / YUV_RANGE_COUNT) % YUV_LAYOUT_COUNT;
  parts.range = index % YUV_RANGE_COUNT;
  parts.standardCode = 2 + parts.standard;
  parts.rangeCode = 2 + parts.range;
  parts.samplingCode = parts.layout == YUV_LAYOUT_444 ? 2 : (parts.layout <= YUV_LAYOUT_422_CENTRED ? 3 : 4);
  parts.sitingCode = parts.layout == YUV_LAYOUT_444 ? 2 : 3 + (parts.layout - 1) % 3;
  parts.samplingSitingCode = 1 + parts.layout;
  parts.bitsPerPixel = parts.samplingCode == 2 ? 24 : (parts.samplingCode == 3 ? 16 : 12);
  out = parts;
  return true;
}

// ---------------------------------------------------------------------------
// Extensions.

// The code of an extension given with its dot (".JPG", ".tiff"), compared
// without regard to ASCII case; "" and anything not listed give FEXT_NONE.
std::int32_t GetFileExtCode(std::string_view extension);

// True for the extensions a folder-sequence reader accepts.
bool IsSupportedFileExt(std::int32_t extCode);

// The format an extension stands for; 0 when there is none.
std::int32_t FileExtCodeToFileFormat(std::int32_t extCode);

// The extension (with its dot) a file of the format is written with; "" when
// the format has none.
std::string GetDefaultExtension(std::int32_t format);

// ---------------------------------------------------------------------------
// Names.

// The text of a format, or "Unknown stream type" and false when it has none.
bool GetFileFormatName(std::int32_t format, std::string& name);

// The text of a stream type, or "Unknown stream type" and false when it has none.
bool GetStreamTypeName(std::int32_t streamType, std::string& name);

// ---------------------------------------------------------------------------
// Conversions.

std::int32_t FileFormatToStreamType(std::int32_t format);
std::int32_t StreamTypeToFileFormat(std::int32_t streamType);
std::int32_t FileFilterToFileFormat(std::int32_t filter);
std::int32_t FileFormatToFileFilter(std::int32_t format);

// The pattern of a filter entry ("*.avi", "*.tif;*.tiff"); "" outside 1..78.
std::string GetFileFilterPattern(std::int32_t filter);

// The label a file dialog shows for a filter entry ("All files",
// "PNG - Portable Network Graphics (.png)"); "" outside 1..78.
std::string GetFileFilterLabel(std::int32_t filter);

// ---------------------------------------------------------------------------
// Predicates.

// One of the 42 YCbCr layouts (a TFileFormat or a TStreamType).
constexpr bool IsYuvFileFormat(std::int32_t code) { return code >= FF_YCBCR_FIRST && code <= FF_YCBCR_LAST; }

// A YCbCr layout or one of the generic planar codes 46..52.
constexpr bool IsYuvType(std::int32_t code) { return code >= 46 && code <= FF_YCBCR_LAST; }

// A video stream type (3..18).
constexpr bool IsVideoStreamType(std::int32_t code) { return code >= ST_OOV && code <= ST_VOB; }

// A still format an image can be saved in.
bool IsImageFileFormat(std::int32_t format);

// A format with an encoder options page.
bool HasFormatOptionsPage(std::int32_t format);

// 24 for the 4:4:4 layouts, 16 for 4:2:2, 12 for 4:2:0, 0 for anything else.
std::int32_t GetYuvBitsPerPixel(std::int32_t format);

// ---------------------------------------------------------------------------
// Information texts. Each writes the text of a known code and returns true;
// for any other code it returns false and leaves `name` as it was.

bool GetYuvRangeName(std::int32_t code, std::string& name);         // 2..4
bool GetYuvSamplingName(std::int32_t code, std::string& name);      // 2..4
bool GetYuvSitingName(std::int32_t code, std::string& name);        // 2..5
bool GetPngColorTypeName(std::int32_t code, std::string& name);     // 0..6
bool GetJpegColorSpaceName(std::int32_t code, std::string& name);   // 1..6
bool GetTiffPhotometricName(std::int32_t code, std::string& name);  // 0..11
bool GetTiffCompressionName(std::int32_t code, std::string& name);  // 0..9

}  // namespace ZarnTypes
