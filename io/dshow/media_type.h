#pragma once
// Media types of the media graph and the flat format record a channel keeps
// of its capture streams.
//
// A media type names its major type, subtype and format type by GUID and
// carries a format block laid out as the classic video-info, MPEG, DV and
// wave-format headers. TMediaFormatRecord is a pointer-free copy of a media
// type and the fields of its format block, stored by value (208 bytes).
//
// The GStreamer part (caps conversions, capability searches over caps, and
// the element helpers on a GstBin) is built only with GStreamer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/frame_buffer.h"

struct _GstCaps;
struct _GstStructure;
struct _GstBin;
struct _GstElement;
struct _GstPad;

namespace DShowMgr {

// A 16-byte globally unique identifier.
struct TGuid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {0, 0, 0, 0, 0, 0, 0, 0};

  bool IsNull() const { return *this == TGuid{}; }
  friend bool operator==(const TGuid& a, const TGuid& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
  friend bool operator!=(const TGuid& a, const TGuid& b) { return !(a == b); }
};
static_assert(sizeof(TGuid) == 16);

// The four-character code in the order its characters are stored ("YUY2" is
// 0x32595559).
constexpr std::uint32_t MakeFourcc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

// The media type GUID of a four-character code:
// code-0000-0010-8000-00aa00389b71.
constexpr TGuid FourccGuid(std::uint32_t nFourcc) {
  return TGuid{nFourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

inline constexpr TGuid GUID_NULL{};

// Major types.
inline constexpr TGuid MEDIATYPE_Video = FourccGuid(MakeFourcc('v', 'i', 'd', 's'));
inline constexpr TGuid MEDIATYPE_Audio = FourccGuid(MakeFourcc('a', 'u', 'd', 's'));

// Subtypes.
inline constexpr TGuid MEDIASUBTYPE_RGB24{
    0xe436eb7d, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr TGuid MEDIASUBTYPE_RGB32{
    0xe436eb7e, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr TGuid MEDIASUBTYPE_AYUV = FourccGuid(MakeFourcc('A', 'Y', 'U', 'V'));
inline constexpr TGuid MEDIASUBTYPE_YUY2 = FourccGuid(MakeFourcc('Y', 'U', 'Y', '2'));
inline constexpr TGuid MEDIASUBTYPE_UYVY = FourccGuid(MakeFourcc('U', 'Y', 'V', 'Y'));
inline constexpr TGuid MEDIASUBTYPE_Y411 = FourccGuid(MakeFourcc('Y', '4', '1', '1'));
inline constexpr TGuid MEDIASUBTYPE_Y41P = FourccGuid(MakeFourcc('Y', '4', '1', 'P'));
inline constexpr TGuid MEDIASUBTYPE_Y211 = FourccGuid(MakeFourcc('Y', '2', '1', '1'));
inline constexpr TGuid MEDIASUBTYPE_YVYU = FourccGuid(MakeFourcc('Y', 'V', 'Y', 'U'));
inline constexpr TGuid MEDIASUBTYPE_YUYV = FourccGuid(MakeFourcc('Y', 'U', 'Y', 'V'));
inline constexpr TGuid MEDIASUBTYPE_I420 = FourccGuid(MakeFourcc('I', '4', '2', '0'));
inline constexpr TGuid MEDIASUBTYPE_YV12 = FourccGuid(MakeFourcc('Y', 'V', '1', '2'));
inline constexpr TGuid MEDIASUBTYPE_NV12 = FourccGuid(MakeFourcc('N', 'V', '1', '2'));
inline constexpr TGuid MEDIASUBTYPE_PCM = FourccGuid(1);
inline constexpr TGuid MEDIASUBTYPE_IEEE_FLOAT = FourccGuid(3);

// Format types.
inline constexpr TGuid FORMAT_None{
    0x0f6417d6, 0xc318, 0x11d0, {0xa4, 0x3f, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};
inline constexpr TGuid FORMAT_VideoInfo{
    0x05589f80, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline constexpr TGuid FORMAT_WaveFormatEx{
    0x05589f81, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline constexpr TGuid FORMAT_MPEGVideo{
    0x05589f82, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline constexpr TGuid FORMAT_MPEGStreams{
    0x05589f83, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline constexpr TGuid FORMAT_DvInfo{
    0x05589f84, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline constexpr TGuid FORMAT_VideoInfo2{
    0xf72a76a0, 0xeb0a, 0x11d0, {0xac, 0xe4, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
inline constexpr TGuid FORMAT_MPEG2Video{
    0xe06d80e3, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};

// Format codes of the format record, one for each known format type.
enum TFormatCode : std::int32_t {
  FORMAT_CODE_OTHER = 0,
  FORMAT_CODE_NULL = 1,
  FORMAT_CODE_NONE = 2,
  FORMAT_CODE_DV_INFO = 3,
  FORMAT_CODE_MPEG2_VIDEO = 4,
  FORMAT_CODE_MPEG_STREAMS = 5,
  FORMAT_CODE_MPEG_VIDEO = 6,
  FORMAT_CODE_VIDEO_INFO = 7,
  FORMAT_CODE_VIDEO_INFO2 = 8,
  FORMAT_CODE_WAVE_FORMAT_EX = 9,
};

// ---------------------------------------------------------------------------
// Format blocks as a media type carries them (little-endian, packed as the
// headers they copy).

// A rectangle (plain data: value-initialise it).
struct TRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

// The bitmap header fields from its size through the colours used (plain
// data: value-initialise it).
struct TBitmapHeaderFields {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
};
static_assert(sizeof(TBitmapHeaderFields) == 36);

// The whole bitmap header: the fields above, then the important colours.
struct TBitmapInfoHeader {
  TBitmapHeaderFields fields{};
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

// The DV stream header (plain data: value-initialise it).
struct TDvInfo {
  std::uint32_t dwDVAAuxSrc;
  std::uint32_t dwDVAAuxCtl;
  std::uint32_t dwDVAAuxSrc1;
  std::uint32_t dwDVAAuxCtl1;
  std::uint32_t dwDVVAuxSrc;
  std::uint32_t dwDVVAuxCtl;
  std::uint32_t dwDVReserved[2];
};
static_assert(sizeof(TDvInfo) == 32);

struct TVideoInfoHeader {
  TRect rcSource{};
  TRect rcTarget{};
  std::uint32_t dwBitRate = 0;
  std::uint32_t dwBitErrorRate = 0;
  std::int64_t AvgTimePerFrame = 0;  // 100-ns units
  TBitmapInfoHeader bmiHeader;
};
static_assert(sizeof(TVideoInfoHeader) == 88);

struct TVideoInfoHeader2 {
  TRect rcSource{};
  TRect rcTarget{};
  std::uint32_t dwBitRate = 0;
  std::uint32_t dwBitErrorRate = 0;
  std::int64_t AvgTimePerFrame = 0;
  std::uint32_t dwInterlaceFlags = 0;
  std::uint32_t dwCopyProtectFlags = 0;
  std::uint32_t dwPictAspectRatioX = 0;
  std::uint32_t dwPictAspectRatioY = 0;
  std::uint32_t dwControlFlags = 0;
  std::uint32_t dwReserved2 = 0;
  TBitmapInfoHeader bmiHeader;
};
static_assert(sizeof(TVideoInfoHeader2) == 112);

// MPEG-1 video: a video-info header, then the sequence header of
// cbSequenceHeader bytes from offset 96.
struct TMpeg1VideoInfo {
  TVideoInfoHeader hdr;
  std::uint32_t dwStartTimeCode = 0;
  std::uint32_t cbSequenceHeader = 0;
  std::uint8_t bSequenceHeader[1] = {0};
};
inline constexpr std::size_t kMpeg1SequenceHeaderOffset = 96;

// MPEG-2 video: a second video-info header, then the sequence header of
// cbSequenceHeader bytes from offset 132.
struct TMpeg2VideoInfo {
  TVideoInfoHeader2 hdr;
  std::uint32_t dwStartTimeCode = 0;
  std::uint32_t cbSequenceHeader = 0;
  std::uint32_t dwProfile = 0;
  std::uint32_t dwLevel = 0;
  std::uint32_t dwFlags = 0;
  std::uint32_t dwSequenceHeader[1] = {0};
};
static_assert(sizeof(TMpeg2VideoInfo) == 136);
inline constexpr std::size_t kMpeg2SequenceHeaderOffset = 132;

// The wave format header: 18 bytes, no padding. A 16-byte block (without
// cbSize) is a valid PCM format too.
#pragma pack(push, 1)
struct TWaveFormatEx {
  std::uint16_t wFormatTag = 0;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
  std::uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatIeeeFloat = 3;

// A media type: the GUIDs, the sample flags and the format block as bytes.
struct TMediaType {
  TGuid majortype;
  TGuid subtype;
  bool bFixedSizeSamples = false;
  bool bTemporalCompression = false;
  std::uint32_t lSampleSize = 0;
  TGuid formattype;
  std::vector<std::uint8_t> format;  // the format block; empty when there is none
};

}  // namespace DShowMgr

namespace ZarnTypes {

// The saved format of a capture stream: the fixed fields of a media type and
// the fields of its format block that the format code selects.
struct TMediaFormatRecord {
  DShowMgr::TGuid majortype;
  DShowMgr::TGuid subtype;
  std::uint32_t bFixedSizeSamples = 0;
  std::uint32_t bTemporalCompression = 0;
  std::uint32_t lSampleSize = 0;
  DShowMgr::TGuid formattype;
  std::uint32_t cbFormat = 0;
  std::int32_t nFormatCode = 0;  // TFormatCode

  // Codes 7 and 6 (code 6 adds the MPEG fields).
  struct TVideoInfo {
    DShowMgr::TRect rcSource;
    DShowMgr::TRect rcTarget;
    std::uint32_t dwBitRate;
    std::uint32_t dwBitErrorRate;
    std::int64_t AvgTimePerFrame;
    DShowMgr::TBitmapHeaderFields bmi;
    std::uint32_t dwStartTimeCode;
    std::uint32_t cbSequenceHeader;
    std::uint8_t bSequenceHeader[4];
  };
  // Codes 8 and 4 (code 4 adds the MPEG-2 fields).
  struct TVideoInfo2 {
    DShowMgr::TRect rcSource;
    DShowMgr::TRect rcTarget;
    std::uint32_t dwBitRate;
    std::uint32_t dwBitErrorRate;
    std::int64_t AvgTimePerFrame;
    std::uint32_t dwInterlaceFlags;
    std::uint32_t dwCopyProtectFlags;
    std::uint32_t dwPictAspectRatioX;
    std::uint32_t dwPictAspectRatioY;
    std::uint32_t dwControlFlags;
    std::uint32_t dwReserved2;
    DShowMgr::TBitmapHeaderFields bmi;
    std::uint32_t dwStartTimeCode;
    std::uint32_t cbSequenceHeader;
    std::uint32_t dwProfile;
    std::uint32_t dwLevel;
    std::uint32_t dwFlags;
    std::uint32_t dwSequenceHeader;
  };
  // Code 9.
  struct TWave {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
  };

  union {
    DShowMgr::TDvInfo dv;  // code 3
    TVideoInfo vih;        // codes 7, 6
    TVideoInfo2 vih2;      // codes 8, 4
    TWave wave;            // code 9
    std::uint8_t raw[136] = {};
  };
};
static_assert(sizeof(TMediaFormatRecord) == 208);

}  // namespace ZarnTypes

namespace DShowMgr {

using ZarnTypes::TMediaFormatRecord;

// The video subtype of a pixel format; false (and GUID_NULL) for a format
// without one. Pixel format 0 is GUID_NULL (true).
bool PixelFormatToSubtype(ZarnTypes::TPixelFormat ePixelFormat, TGuid* pSubtype);

// The format code of a format type (FORMAT_CODE_OTHER for an unknown one).
std::int32_t FormatTypeToCode(const TGuid& formatType);
// The format type of a format code; false (and GUID_NULL) for code 0 and
// codes outside 1..9.
bool CodeToFormatType(std::int32_t nCode, TGuid* pFormatType);

// Fills the record from a media type: false for a type with a null major
// type or a format block too short for its format type (the record is then
// left as it was).
bool MediaTypeToRecord(const TMediaType& type, TMediaFormatRecord* pRecord);
// Copies a record into a media type: the fixed fields, the format type of
// the code (the record's own format type for code 0), and the stored format
// fields into the media type's existing format block, which keeps its size
// (no block is made). False for a null major type or an existing block too
// short for the code's fields (the media type is then left as it was).
bool RecordToMediaType(const TMediaFormatRecord& record, TMediaType* pType);

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower case, no braces.
std::string GuidToString(const TGuid& guid);

// The first capability with that subtype; false when there is none.
bool FindStreamCapsBySubtype(const std::vector<TMediaType>& caps, TMediaType* pType, const TGuid& subtype);
// The first capability whose major type, subtype, format type and format
// size equal the wanted type's; false when there is none.
bool FindStreamCaps(const std::vector<TMediaType>& caps, const TMediaType& wanted, TMediaType* pType);

// ---------------------------------------------------------------------------
// GStreamer (only in builds with GStreamer).

// The media type of a caps structure: raw video (BGR, BGRx, VUYA, YUY2,
// UYVY, YVYU, Y41P, I420, YV12, NV12) with a video-info block, raw audio
// (8/16/24/32-bit integer, 32/64-bit float, interleaved) with a wave-format
// block. Ranges are fixed first. False for any other structure.
bool CapsStructureToMediaType(const _GstStructure* pStructure, TMediaType* pType);
// The media type of the first structure of caps.
bool CapsToMediaType(const _GstCaps* pCaps, TMediaType* pType);
// The caps of a media type (a new reference), or null when the type has no
// raw GStreamer counterpart or its format block is missing or too short.
_GstCaps* MediaTypeToCaps(const TMediaType& type);

// The capability searches over the structures of caps (a device's caps).
bool FindStreamCapsBySubtype(const _GstCaps* pCaps, TMediaType* pType, const TGuid& subtype);
bool FindStreamCaps(const _GstCaps* pCaps, const TMediaType& wanted, TMediaType* pType);

// Pad directions of an element.
enum TPinDirection : std::int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

// Elements returned by the searches below are new references (the caller
// unrefs them); null when none matches.
// The first element with exactly one sink pad and no src pad whose sink pad
// has negotiated video caps.
_GstElement* FindVideoRenderer(_GstBin* pBin);
// The first tee with one sink pad and two src pads whose sink pad has
// negotiated audio caps.
_GstElement* FindAudioSmartTee(_GstBin* pBin);
// The first element made by the named factory.
_GstElement* FindFilterByClsid(_GstBin* pBin, const char* pFactoryName);

// The numbers of sink (input) and src (output) pads; false for no element.
bool CountPins(_GstElement* pElement, int* pInputs, int* pOutputs);
// The first pad of that direction (a new reference); false when none.
bool GetPin(_GstElement* pElement, TPinDirection eDirection, _GstPad** ppPad);
bool GetInputPin(_GstElement* pElement, _GstPad** ppPad);
// Links the first sink pad of the downstream element to the first free src
// pad of the upstream element that accepts it. Both elements must be in the
// bin. False when no src pad links.
bool ConnectFilters(_GstBin* pBin, _GstElement* pUpstream, _GstElement* pDownstream);

}  // namespace DShowMgr
