#include "options/media_document_text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "media/device_kinds.h"
#include "media/file_types.h"

namespace OptsMediaDocument {

using namespace ZarnTypes;

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    text.assign(buffer.data(), static_cast<std::size_t>(length));
  }
  va_end(again);
  return text;
}

// A field of the format record's parameter block.
template <class T>
T Param(const TStreamFormat& format, std::size_t offset) {
  T value{};
  static_assert(sizeof(T) <= TStreamFormat::kParamsSize);
  if (offset + sizeof(T) <= TStreamFormat::kParamsSize)
    std::memcpy(&value, format.params + offset, sizeof(T));
  return value;
}

std::string WithoutLeadingBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// Characters of a UTF-8 text (continuation bytes not counted).
std::size_t CharacterCount(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  return count;
}

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(const std::string& text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == count) return text.substr(0, i);
      ++seen;
    }
  }
  return text;
}

std::string SystemDeviceText(const TStreamFormat& format) {
  if (format.nSubKind != TStreamFormat::kDefaultSubKind) return {};
  const double period = Param<double>(format, 0);
  if (period < 0.0) return {};
  // A period of zero has no rate: it shows 0.000, not "inf".
  const double rate = period > 0.0 ? 1.0 / period : 0.0;
  return Format("\r\nFrame rate:\t%.3f frames/second", rate);
}

std::string MngText(const TStreamFormat& format) {
  return Format(
      "\r\nTicks per second:\t%d\r\nLayers:\t\t%d\r\nFrames:\t\t%d\r\nPlay time:\t%d\r\nSimplicity "
      "profile:\t%d",
      Param<std::int32_t>(format, 8), Param<std::int32_t>(format, 12), Param<std::int32_t>(format, 16),
      Param<std::int32_t>(format, 20), Param<std::int32_t>(format, 24));
}

std::string BmpText(const TStreamFormat& format) {
  return Format("\r\nPlanes:\t\t%d\r\nBits per pixel:\t%d", Param<std::int32_t>(format, 12),
                Param<std::int32_t>(format, 16));
}

std::string GifText(const TStreamFormat& format) {
  return Format("\r\nColor space:\t%s\r\nBits per color:\t%d\r\nPlanes:\t\t%d\r\nInterlacing:\t%s",
                "Color palette", Param<std::int32_t>(format, 12), 1,
                Param<std::uint8_t>(format, 16) ? "Yes" : "No");
}

std::string JpegText(const TStreamFormat& format) {
  std::string text;
  std::string name;
  if (GetJpegColorSpaceName(Param<std::int32_t>(format, 0), name))
    text += Format("\r\nColor space:\t%s\r\n", name.c_str());
  text += Format("Bits per color:\t%d", Param<std::int32_t>(format, 4));
  return text;
}

std::string Jpeg2000Text(const TStreamFormat& format) {
  const std::int32_t bits = Param<std::int32_t>(format, 0);
  const std::int32_t components = Param<std::int32_t>(format, 4);
  return Format("\r\nColor space components:\t%d\r\nBits per pixel:\t%d\r\nPlanes:\t\t%d", components,
                static_cast<std::int32_t>(static_cast<std::int64_t>(components) * bits), 1);
}

std::int32_t PngSamples(std::int32_t colorType) {
  switch (colorType) {
    case 2: return 1;  // Gray
    case 3: return 2;  // Gray+A
    case 4: return 1;  // Palette
    case 5: return 3;  // RGB
    case 6: return 4;  // RGB+A
    default: return 0;
  }
}

std::string PngText(const TStreamFormat& format) {
  const std::int32_t colorType = Param<std::int32_t>(format, 0);
  std::string name;
  GetPngColorTypeName(colorType, name);
  const std::int64_t bits = static_cast<std::int64_t>(PngSamples(colorType)) * Param<std::int32_t>(format, 4);
  return Format("\r\nColor space:\t%s\r\nBits per color:\t%d\r\nPlanes:\t\t%d\r\nInterlacing:\t%s",
                name.c_str(), static_cast<std::int32_t>(bits), 1,
                Param<std::int32_t>(format, 8) == 1 ? "Adam7" : "None, progressive image");
}

std::string TiffText(const TStreamFormat& format) {
  std::string photometric;
  std::string compression;
  GetTiffPhotometricName(Param<std::int32_t>(format, 4), photometric);
  GetTiffCompressionName(Param<std::int32_t>(format, 20), compression);
  const std::int64_t bits =
      static_cast<std::int64_t>(Param<std::int32_t>(format, 12)) * Param<std::int32_t>(format, 8);
  return Format("\r\nColor space:\t%s\r\nBits per pixel:\t%d\r\nPlanes:\t\t%d\r\nCompression:\t%s",
                photometric.c_str(), static_cast<std::int32_t>(bits), 1, compression.c_str());
}

std::string YuvText(std::int32_t streamType, const TStreamFormat& format) {
  TYuvStreamParams p{};
  std::memcpy(&p, format.params, sizeof p);
  // Every layout is planar with 8-bit samples; the bits per pixel follow
  // from its sampling.
  const std::int32_t planes = 3;
  const std::int32_t lumaBits = 8;
  const std::int32_t chromaBits = 8;
  TYuvLayout layout;
  std::int32_t bitsPerPixel = 0;
  if (DecomposeYuvFileFormat(streamType, layout))
    bitsPerPixel = layout.bitsPerPixel;
  else
    bitsPerPixel = p.samplingCode == 2 ? 24 : p.samplingCode == 3 ? 16 : p.samplingCode == 4 ? 12 : 0;

  std::string text = "\r\n";
  if (p.standardCode == 2 || p.standardCode == 3) {
    const char* base = p.standardCode == 2 ? " ITU-R BT.601-5, 1982-1995 " : " ITU-R BT.709-5, 1990-2002 ";
    text += Format("RGB-YUV conversion base:\t%s\r\n", WithoutLeadingBlanks(base).c_str());
  }
  text += "YUV color components:\tYCbCr\r\n";
  std::string name;
  if (GetYuvSamplingName(p.samplingCode, name))
    text += Format("Sub sampling ratio:\t%s\r\n", WithoutLeadingBlanks(name).c_str());
  text += Format("Color componets placement:\t%s\r\n", planes == 1 ? "Interleaved" : "Planar");
  text += Format(
      "Planes:\t\t\t%d\r\nBits per pixel:\t\t%d\r\nBits per luma:\t\t%d\r\nBits per chromas:\t\t%d\r\nBit "
      "ratio "
      "Luma/Chroma:\t%d\r\n",
      planes, bitsPerPixel, lumaBits, chromaBits, lumaBits / chromaBits);
  name.clear();
  if (GetYuvRangeName(p.rangeCode, name))
    text += Format("Data range:\t\t%s\r\n", WithoutLeadingBlanks(name).c_str());
  name.clear();
  if (GetYuvSitingName(p.sitingCode, name))
    text += Format("Sub samplting pattern:\t%s\r\n", WithoutLeadingBlanks(name).c_str());
  text += Format("Scan line pattern:\t\t%s\r\n",
                 WithoutLeadingBlanks(p.interlaced ? " Interlaced " : " Progressive ").c_str());
  text += Format("\r\nVideo stream:\t\t%s\r\n", p.stillPicture ? "No" : "Yes");
  return text;
}

}  // namespace

std::string FormatPlayTime(double period, double duration) {
  const double rate = period > 0.0 ? 1.0 / period : 0.0;
  std::string text =
      Format("\r\nFrame rate:\t%.3f frames/second\r\nDuration:\t\t%.3f seconds", rate, duration);
  // 2^63: the first duration that no longer fits a signed 64-bit count.
  constexpr double kLimit = 9223372036854775808.0;
  if (duration > 60.0 && std::isfinite(duration) && duration < kLimit) {
    const auto t = static_cast<std::int64_t>(duration);
    const std::int64_t days = t / 86400;
    const std::int64_t hours = t / 3600 - 24 * days;
    const std::int64_t minutes = t / 60 - 60 * (t / 3600);
    const std::int64_t seconds = t - 60 * (t / 60);
    if (days > 0)
      text += Format(" = %03lld:%02lld:%02lld:%02lld D:H:M:S", static_cast<long long>(days),
                     static_cast<long long>(hours), static_cast<long long>(minutes),
                     static_cast<long long>(seconds));
    else
      text += Format(" = %02lld:%02lld:%02lld H:M:S", static_cast<long long>(hours),
                     static_cast<long long>(minutes), static_cast<long long>(seconds));
  }
  return text;
}

std::string ChannelTypeText(const TMediaSource& source, bool* moreInfo) {
  std::string typeName;
  const bool named = GetStreamTypeName(source.eStreamType, typeName);
  std::string text = typeName;
  if (!named && !source.bOpen) text = "Channel is closed";
  const std::int32_t category = source.nDeviceCategory;
  if (named && category >= SDC_AUDIO_INPUT && category <= SDC_DVD) {
    text += "\r\n";
    text += "Device category:\t";
    text += SysDevCtgrName(category);
    if (category == SDC_VIDEO_INPUT) {
      const char* kind = SysDevCtgrName(source.nDeviceKind);
      text += " : ";
      text += kind ? kind : "";
    }
  }
  if (moreInfo) *moreInfo = named && category == SDC_DVD;
  return text;
}

std::string StreamFormatText(const TMediaSource& source, const TStreamFormat* format) {
  if (!format || format->eStreamType != source.eStreamType) return {};
  const std::int32_t type = source.eStreamType;
  if (type == ST_SYSTEM_DEVICE) return SystemDeviceText(*format);
  if (type == ST_AVI || type == ST_WMV || type == ST_ASF)
    return FormatPlayTime(Param<double>(*format, 0), Param<double>(*format, 8));
  if (type == ST_MNG) return MngText(*format);
  if (type >= ST_BMP && type <= ST_BMP_48BIT) return BmpText(*format);
  if (type == ST_GIF) return GifText(*format);
  if (type == ST_JPEG) return JpegText(*format);
  if (type == ST_JPEG2000) return Jpeg2000Text(*format);
  if (type == ST_PNG) return PngText(*format);
  if (type == ST_TIFF) return TiffText(*format);
  if (IsYuvType(type)) return YuvText(type, *format);
  return {};
}

std::string SourceTitle(const TMediaSource& source) {
  return source.sDisplayPath.empty() ? source.sDisplayName : source.sDisplayPath;
}

TChannelInfo ShowChannelInfo(const std::string& identifier, const std::string& title,
                             const TMediaSource& source, const TStreamFormat* format,
                             const std::string& moreInfoText) {
  TChannelInfo info;
  info.documentText =
      Format("Type:\t%s\r\nID:\t%s\r\nTitle:\t%s", "Media document", identifier.c_str(), title.c_str());
  const std::string type = ChannelTypeText(source, &info.moreInfoEnabled);
  std::string text = Format("Media source type:\t%s\r\nTitle:\t\t%s\r\nPath:\t\t%s\r\n", type.c_str(),
                            SourceTitle(source).c_str(), source.sPath.c_str());
  if (source.nPictureCount > 0 && source.nDeviceCategory != SDC_DVD)
    text += Format("Width, Height:\t%d x %d\r\n", source.nWidth, source.nHeight);
  text += StreamFormatText(source, format);
  text += moreInfoText;
  info.channelText = std::move(text);
  return info;
}

TChannelDescription DescribeChannel(const std::string& identifier, const TMediaSource& source) {
  TChannelDescription d;
  d.headerText = Format("Media document: %s", identifier.c_str());
  std::string path = source.sPath;
  if (CharacterCount(path) > 40) path = FirstCharacters(path, 37) + "...";
  d.channelText = Format("Type:\t\t%s\r\nTitle:\t\t%s\r\nPath:\t\t%s", ChannelTypeText(source).c_str(),
                         SourceTitle(source).c_str(), path.c_str());
  return d;
}

}  // namespace OptsMediaDocument
