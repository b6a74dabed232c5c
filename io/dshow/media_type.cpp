#include "io/dshow/media_type.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace DShowMgr {

namespace {

using ZarnTypes::TPixelFormat;

struct TPixelSubtype {
  std::int32_t nPixelFormat;
  TGuid subtype;
};

constexpr TPixelSubtype kPixelSubtypes[] = {
    {0, GUID_NULL},
    {ZarnTypes::PF_RGB24, MEDIASUBTYPE_RGB24},
    {ZarnTypes::PF_RGB32, MEDIASUBTYPE_RGB32},
    {ZarnTypes::PF_AYUV, MEDIASUBTYPE_AYUV},
    {ZarnTypes::PF_YUY2, MEDIASUBTYPE_YUY2},
    {ZarnTypes::PF_UYVY, MEDIASUBTYPE_UYVY},
    {ZarnTypes::PF_Y411, MEDIASUBTYPE_Y411},
    {ZarnTypes::PF_Y41P, MEDIASUBTYPE_Y41P},
    {ZarnTypes::PF_Y211, MEDIASUBTYPE_Y211},
    {ZarnTypes::PF_YVYU, MEDIASUBTYPE_YVYU},
    {ZarnTypes::PF_YUYV, MEDIASUBTYPE_YUYV},
};

// Format types in code order 1..9.
constexpr TGuid kFormatTypes[] = {GUID_NULL,         FORMAT_None,        FORMAT_DvInfo,
                                  FORMAT_MPEG2Video, FORMAT_MPEGStreams, FORMAT_MPEGVideo,
                                  FORMAT_VideoInfo,  FORMAT_VideoInfo2,  FORMAT_WaveFormatEx};

// The bytes of a format block that the record's fields of a code cover;
// 0 for codes without stored fields.
std::size_t FieldBytes(std::int32_t nCode) {
  switch (nCode) {
    case FORMAT_CODE_DV_INFO: return sizeof(TDvInfo);
    case FORMAT_CODE_VIDEO_INFO: return offsetof(TVideoInfoHeader, bmiHeader.biClrImportant);
    case FORMAT_CODE_MPEG_VIDEO: return kMpeg1SequenceHeaderOffset;
    case FORMAT_CODE_VIDEO_INFO2: return offsetof(TVideoInfoHeader2, bmiHeader.biClrImportant);
    case FORMAT_CODE_MPEG2_VIDEO: return kMpeg2SequenceHeaderOffset;
    case FORMAT_CODE_WAVE_FORMAT_EX:
      return offsetof(TWaveFormatEx, cbSize);  // a plain PCM header has no cbSize
    default: return 0;
  }
}

template <typename T>
T Load(const std::vector<std::uint8_t>& block) {
  T value{};
  std::memcpy(&value, block.data(), std::min(sizeof(T), block.size()));
  return value;
}

template <typename T>
void Store(std::vector<std::uint8_t>& block, const T& value) {
  std::memcpy(block.data(), &value, std::min(sizeof(T), block.size()));
}

}  // namespace

bool PixelFormatToSubtype(TPixelFormat ePixelFormat, TGuid* pSubtype) {
  for (const TPixelSubtype& entry : kPixelSubtypes) {
    if (entry.nPixelFormat == static_cast<std::int32_t>(ePixelFormat)) {
      if (pSubtype) *pSubtype = entry.subtype;
      return true;
    }
  }
  if (pSubtype) *pSubtype = GUID_NULL;
  return false;
}

std::int32_t FormatTypeToCode(const TGuid& formatType) {
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(std::size(kFormatTypes)); ++i)
    if (kFormatTypes[i] == formatType) return i + 1;
  return FORMAT_CODE_OTHER;
}

bool CodeToFormatType(std::int32_t nCode, TGuid* pFormatType) {
  const bool bKnown = nCode >= 1 && nCode <= static_cast<std::int32_t>(std::size(kFormatTypes));
  if (pFormatType) *pFormatType = bKnown ? kFormatTypes[nCode - 1] : GUID_NULL;
  return bKnown;
}

bool MediaTypeToRecord(const TMediaType& type, TMediaFormatRecord* pRecord) {
  if (!pRecord || type.majortype.IsNull()) return false;
  TMediaFormatRecord record;
  record.majortype = type.majortype;
  record.subtype = type.subtype;
  record.bFixedSizeSamples = type.bFixedSizeSamples ? 1 : 0;
  record.bTemporalCompression = type.bTemporalCompression ? 1 : 0;
  record.lSampleSize = type.lSampleSize;
  record.formattype = type.formattype;
  record.cbFormat = static_cast<std::uint32_t>(type.format.size());
  record.nFormatCode = FormatTypeToCode(type.formattype);

  const std::vector<std::uint8_t>& block = type.format;
  if (!block.empty()) {
    // A block that does not hold the fields its format type promises is
    // refused rather than read past its end.
    if (block.size() < FieldBytes(record.nFormatCode)) return false;
    switch (record.nFormatCode) {
      case FORMAT_CODE_DV_INFO: record.dv = Load<TDvInfo>(block); break;
      case FORMAT_CODE_VIDEO_INFO:
      case FORMAT_CODE_MPEG_VIDEO: {
        const TVideoInfoHeader vih = Load<TVideoInfoHeader>(block);
        auto& out = record.vih;
        out.rcSource = vih.rcSource;
        out.rcTarget = vih.rcTarget;
        out.dwBitRate = vih.dwBitRate;
        out.dwBitErrorRate = vih.dwBitErrorRate;
        out.AvgTimePerFrame = vih.AvgTimePerFrame;
        out.bmi = vih.bmiHeader.fields;
        if (record.nFormatCode == FORMAT_CODE_MPEG_VIDEO) {
          const TMpeg1VideoInfo mpeg = Load<TMpeg1VideoInfo>(block);
          out.dwStartTimeCode = mpeg.dwStartTimeCode;
          out.cbSequenceHeader = mpeg.cbSequenceHeader;
          const std::size_t nBytes =
              std::min<std::size_t>({sizeof(out.bSequenceHeader), mpeg.cbSequenceHeader,
                                     block.size() - kMpeg1SequenceHeaderOffset});
          std::memcpy(out.bSequenceHeader, block.data() + kMpeg1SequenceHeaderOffset, nBytes);
        }
        break;
      }
      case FORMAT_CODE_VIDEO_INFO2:
      case FORMAT_CODE_MPEG2_VIDEO: {
        const TVideoInfoHeader2 vih = Load<TVideoInfoHeader2>(block);
        auto& out = record.vih2;
        out.rcSource = vih.rcSource;
        out.rcTarget = vih.rcTarget;
        out.dwBitRate = vih.dwBitRate;
        out.dwBitErrorRate = vih.dwBitErrorRate;
        out.AvgTimePerFrame = vih.AvgTimePerFrame;
        out.dwInterlaceFlags = vih.dwInterlaceFlags;
        out.dwCopyProtectFlags = vih.dwCopyProtectFlags;
        out.dwPictAspectRatioX = vih.dwPictAspectRatioX;
        out.dwPictAspectRatioY = vih.dwPictAspectRatioY;
        out.dwControlFlags = vih.dwControlFlags;
        out.dwReserved2 = vih.dwReserved2;
        out.bmi = vih.bmiHeader.fields;
        if (record.nFormatCode == FORMAT_CODE_MPEG2_VIDEO) {
          const TMpeg2VideoInfo mpeg = Load<TMpeg2VideoInfo>(block);
          out.dwStartTimeCode = mpeg.dwStartTimeCode;
          out.cbSequenceHeader = mpeg.cbSequenceHeader;
          out.dwProfile = mpeg.dwProfile;
          out.dwLevel = mpeg.dwLevel;
          out.dwFlags = mpeg.dwFlags;
          // The first word only when the block holds it.
          out.dwSequenceHeader = mpeg.dwSequenceHeader[0];
        }
        break;
      }
      case FORMAT_CODE_WAVE_FORMAT_EX: {
        const TWaveFormatEx wave = Load<TWaveFormatEx>(block);
        record.wave = {wave.wFormatTag,  wave.nChannels,      wave.nSamplesPerSec, wave.nAvgBytesPerSec,
                       wave.nBlockAlign, wave.wBitsPerSample, wave.cbSize};
        break;
      }
      default: break;
    }
  }
  *pRecord = record;
  return true;
}

bool RecordToMediaType(const TMediaFormatRecord& record, TMediaType* pType) {
  if (!pType || record.majortype.IsNull()) return false;
  std::vector<std::uint8_t> block = pType->format;
  if (!block.empty() && block.size() < FieldBytes(record.nFormatCode)) return false;

  TGuid formatType;
  if (!CodeToFormatType(record.nFormatCode, &formatType)) formatType = record.formattype;

  switch (block.empty() ? FORMAT_CODE_OTHER : record.nFormatCode) {
    case FORMAT_CODE_DV_INFO: Store(block, record.dv); break;
    case FORMAT_CODE_VIDEO_INFO:
    case FORMAT_CODE_MPEG_VIDEO: {
      TVideoInfoHeader vih = Load<TVideoInfoHeader>(block);
      const auto& in = record.vih;
      vih.rcSource = in.rcSource;
      vih.rcTarget = in.rcTarget;
      vih.dwBitRate = in.dwBitRate;
      vih.dwBitErrorRate = in.dwBitErrorRate;
      vih.AvgTimePerFrame = in.AvgTimePerFrame;
      vih.bmiHeader.fields = in.bmi;
      Store(block, vih);
      if (record.nFormatCode == FORMAT_CODE_MPEG_VIDEO) {
        std::memcpy(block.data() + offsetof(TMpeg1VideoInfo, dwStartTimeCode), &in.dwStartTimeCode, 4);
        std::memcpy(block.data() + offsetof(TMpeg1VideoInfo, cbSequenceHeader), &in.cbSequenceHeader, 4);
        const std::size_t nBytes = std::min<std::size_t>(
            {sizeof(in.bSequenceHeader), in.cbSequenceHeader, block.size() - kMpeg1SequenceHeaderOffset});
        std::memcpy(block.data() + kMpeg1SequenceHeaderOffset, in.bSequenceHeader, nBytes);
      }
      break;
    }
    case FORMAT_CODE_VIDEO_INFO2:
    case FORMAT_CODE_MPEG2_VIDEO: {
      TMpeg2VideoInfo mpeg = Load<TMpeg2VideoInfo>(block);
      TVideoInfoHeader2& vih = mpeg.hdr;
      const auto& in = record.vih2;
      vih.rcSource = in.rcSource;
      vih.rcTarget = in.rcTarget;
      vih.dwBitRate = in.dwBitRate;
      vih.dwBitErrorRate = in.dwBitErrorRate;
      vih.AvgTimePerFrame = in.AvgTimePerFrame;
      vih.dwInterlaceFlags = in.dwInterlaceFlags;
      vih.dwCopyProtectFlags = in.dwCopyProtectFlags;
      vih.dwPictAspectRatioX = in.dwPictAspectRatioX;
      vih.dwPictAspectRatioY = in.dwPictAspectRatioY;
      vih.dwControlFlags = in.dwControlFlags;
      vih.dwReserved2 = in.dwReserved2;
      vih.bmiHeader.fields = in.bmi;
      if (record.nFormatCode == FORMAT_CODE_MPEG2_VIDEO) {
        mpeg.dwStartTimeCode = in.dwStartTimeCode;
        mpeg.cbSequenceHeader = in.cbSequenceHeader;
        mpeg.dwProfile = in.dwProfile;
        mpeg.dwLevel = in.dwLevel;
        mpeg.dwFlags = in.dwFlags;
        mpeg.dwSequenceHeader[0] = in.dwSequenceHeader;
      }
      Store(block, mpeg);  // never beyond the block's own size
      break;
    }
    case FORMAT_CODE_WAVE_FORMAT_EX: {
      const auto& in = record.wave;
      const TWaveFormatEx wave{in.wFormatTag,  in.nChannels,      in.nSamplesPerSec, in.nAvgBytesPerSec,
                               in.nBlockAlign, in.wBitsPerSample, in.cbSize};
      Store(block, wave);
      break;
    }
    default: break;
  }

  pType->majortype = record.majortype;
  pType->subtype = record.subtype;
  pType->bFixedSizeSamples = record.bFixedSizeSamples != 0;
  pType->bTemporalCompression = record.bTemporalCompression != 0;
  pType->lSampleSize = record.lSampleSize;
  if (pType->formattype != formatType) pType->formattype = formatType;
  pType->format = std::move(block);
  return true;
}

std::string GuidToString(const TGuid& guid) {
  char text[40];
  std::snprintf(text, sizeof(text), "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

bool FindStreamCapsBySubtype(const std::vector<TMediaType>& caps, TMediaType* pType, const TGuid& subtype) {
  for (const TMediaType& type : caps) {
    if (type.subtype == subtype) {
      if (pType) *pType = type;
      return true;
    }
  }
  return false;
}

bool FindStreamCaps(const std::vector<TMediaType>& caps, const TMediaType& wanted, TMediaType* pType) {
  for (const TMediaType& type : caps) {
    if (type.majortype == wanted.majortype && type.subtype == wanted.subtype &&
        type.formattype == wanted.formattype && type.format.size() == wanted.format.size()) {
      if (pType) *pType = type;
      return true;
    }
  }
  return false;
}

}  // namespace DShowMgr
