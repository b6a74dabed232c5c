// Media types on GStreamer: caps conversions, capability searches over a
// device's caps, and the element helpers of a pipeline.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstring>
#include <string_view>

#include "io/dshow/media_type.h"

namespace DShowMgr {

namespace {

struct TVideoFormatEntry {
  const char* pGstName;
  TGuid subtype;
  std::uint16_t nBitCount;
  std::uint32_t nCompression;  // 0: uncompressed RGB rows
};

// The packed BGR layouts are the RGB subtypes; the packed 4:4:4 layout with
// V, U, Y, A in memory order is the AYUV subtype. YUYV stores like YUY2.
constexpr TVideoFormatEntry kVideoFormats[] = {
    {"BGR", MEDIASUBTYPE_RGB24, 24, 0},
    {"BGRx", MEDIASUBTYPE_RGB32, 32, 0},
    {"VUYA", MEDIASUBTYPE_AYUV, 32, MakeFourcc('A', 'Y', 'U', 'V')},
    {"YUY2", MEDIASUBTYPE_YUY2, 16, MakeFourcc('Y', 'U', 'Y', '2')},
    {"UYVY", MEDIASUBTYPE_UYVY, 16, MakeFourcc('U', 'Y', 'V', 'Y')},
    {"YVYU", MEDIASUBTYPE_YVYU, 16, MakeFourcc('Y', 'V', 'Y', 'U')},
    {"Y41P", MEDIASUBTYPE_Y41P, 12, MakeFourcc('Y', '4', '1', 'P')},
    {"I420", MEDIASUBTYPE_I420, 12, MakeFourcc('I', '4', '2', '0')},
    {"YV12", MEDIASUBTYPE_YV12, 12, MakeFourcc('Y', 'V', '1', '2')},
    {"NV12", MEDIASUBTYPE_NV12, 12, MakeFourcc('N', 'V', '1', '2')},
    {"YUY2", MEDIASUBTYPE_YUYV, 16, MakeFourcc('Y', 'U', 'Y', 'V')},  // only from a media type
};

struct TAudioFormatEntry {
  const char* pGstName;
  std::uint16_t wFormatTag;
  std::uint16_t wBitsPerSample;
};

constexpr TAudioFormatEntry kAudioFormats[] = {
    {"U8", kWaveFormatPcm, 8},     {"S16LE", kWaveFormatPcm, 16},       {"S24LE", kWaveFormatPcm, 24},
    {"S32LE", kWaveFormatPcm, 32}, {"F32LE", kWaveFormatIeeeFloat, 32}, {"F64LE", kWaveFormatIeeeFloat, 64},
};

constexpr std::int64_t kUnitsPerSecond = 10'000'000;  // 100-ns units

template <typename T>
std::vector<std::uint8_t> Bytes(const T& value) {
  std::vector<std::uint8_t> block(sizeof(T));
  std::memcpy(block.data(), &value, sizeof(T));
  return block;
}

bool VideoStructureToMediaType(const GstStructure* pStructure, TMediaType* pType) {
  const char* pFormat = gst_structure_get_string(pStructure, "format");
  int nWidth = 0;
  int nHeight = 0;
  if (!pFormat || !gst_structure_get_int(pStructure, "width", &nWidth) ||
      !gst_structure_get_int(pStructure, "height", &nHeight) || nWidth <= 0 || nHeight <= 0)
    return false;
  const TVideoFormatEntry* pEntry = nullptr;
  for (const TVideoFormatEntry& entry : kVideoFormats) {
    if (std::string_view(entry.pGstName) == pFormat) {
      pEntry = &entry;
      break;
    }
  }
  if (!pEntry) return false;

  GstCaps* pCaps = gst_caps_new_full(gst_structure_copy(pStructure), nullptr);
  GstVideoInfo info;
  const bool bInfo = gst_video_info_from_caps(&info, pCaps);
  gst_caps_unref(pCaps);
  if (!bInfo || GST_VIDEO_INFO_SIZE(&info) > 0xffffffffu) return false;

  TVideoInfoHeader vih;
  vih.rcSource = {0, 0, nWidth, nHeight};
  vih.rcTarget = {0, 0, nWidth, nHeight};
  int nNum = 0;
  int nDen = 0;
  if (gst_structure_get_fraction(pStructure, "framerate", &nNum, &nDen) && nNum > 0 && nDen > 0)
    vih.AvgTimePerFrame = kUnitsPerSecond * nDen / nNum;
  vih.bmiHeader.fields.biSize = sizeof(TBitmapInfoHeader);
  vih.bmiHeader.fields.biWidth = nWidth;
  vih.bmiHeader.fields.biHeight = nHeight;
  vih.bmiHeader.fields.biPlanes = 1;
  vih.bmiHeader.fields.biBitCount = pEntry->nBitCount;
  vih.bmiHeader.fields.biCompression = pEntry->nCompression;
  vih.bmiHeader.fields.biSizeImage = static_cast<std::uint32_t>(GST_VIDEO_INFO_SIZE(&info));
  if (vih.AvgTimePerFrame > 0) {
    const std::uint64_t nBits = std::uint64_t{vih.bmiHeader.fields.biSizeImage} * 8u *
                                static_cast<std::uint64_t>(nNum) / static_cast<std::uint64_t>(nDen);
    vih.dwBitRate = nBits > 0xffffffffu ? 0xffffffffu : static_cast<std::uint32_t>(nBits);
  }

  TMediaType type;
  type.majortype = MEDIATYPE_Video;
  type.subtype = pEntry->subtype;
  type.bFixedSizeSamples = true;
  type.bTemporalCompression = false;
  type.lSampleSize = vih.bmiHeader.fields.biSizeImage;
  type.formattype = FORMAT_VideoInfo;
  type.format = Bytes(vih);
  *pType = std::move(type);
  return true;
}

bool AudioStructureToMediaType(const GstStructure* pStructure, TMediaType* pType) {
  const char* pFormat = gst_structure_get_string(pStructure, "format");
  int nRate = 0;
  int nChannels = 0;
  if (!pFormat || !gst_structure_get_int(pStructure, "rate", &nRate) ||
      !gst_structure_get_int(pStructure, "channels", &nChannels) || nRate <= 0 || nChannels <= 0 ||
      nChannels > 0xffff)
    return false;
  const char* pLayout = gst_structure_get_string(pStructure, "layout");
  if (pLayout && std::string_view(pLayout) != "interleaved") return false;
  const TAudioFormatEntry* pEntry = nullptr;
  for (const TAudioFormatEntry& entry : kAudioFormats) {
    if (std::string_view(entry.pGstName) == pFormat) {
      pEntry = &entry;
      break;
    }
  }
  if (!pEntry) return false;
  const std::uint64_t nBlockAlign = std::uint64_t(nChannels) * pEntry->wBitsPerSample / 8;
  const std::uint64_t nBytesPerSecond = nBlockAlign * static_cast<std::uint64_t>(nRate);
  if (nBlockAlign > 0xffff || nBytesPerSecond > 0xffffffffu) return false;

  TWaveFormatEx wave;
  wave.wFormatTag = pEntry->wFormatTag;
  wave.nChannels = static_cast<std::uint16_t>(nChannels);
  wave.nSamplesPerSec = static_cast<std::uint32_t>(nRate);
  wave.nAvgBytesPerSec = static_cast<std::uint32_t>(nBytesPerSecond);
  wave.nBlockAlign = static_cast<std::uint16_t>(nBlockAlign);
  wave.wBitsPerSample = pEntry->wBitsPerSample;
  wave.cbSize = 0;

  TMediaType type;
  type.majortype = MEDIATYPE_Audio;
  type.subtype = pEntry->wFormatTag == kWaveFormatPcm ? MEDIASUBTYPE_PCM : MEDIASUBTYPE_IEEE_FLOAT;
  type.bFixedSizeSamples = true;
  type.bTemporalCompression = false;
  type.lSampleSize = wave.nBlockAlign;
  type.formattype = FORMAT_WaveFormatEx;
  type.format = Bytes(wave);
  *pType = std::move(type);
  return true;
}

bool StructureIs(const GstStructure* pStructure, const char* pPrefix) {
  return g_str_has_prefix(gst_structure_get_name(pStructure), pPrefix);
}

// The current caps of a pad, or failing that the caps its peer sends.
bool PadCarries(GstPad* pPad, const char* pPrefix) {
  GstCaps* pCaps = gst_pad_get_current_caps(pPad);
  if (!pCaps) return false;
  const bool bMatch = gst_caps_get_size(pCaps) > 0 && StructureIs(gst_caps_get_structure(pCaps, 0), pPrefix);
  gst_caps_unref(pCaps);
  return bMatch;
}

// Calls visit on each element of the bin (its direct children, in the bin's
// order) until it returns true; that element is returned with a new
// reference.
template <typename Visit>
GstElement* FindElement(GstBin* pBin, Visit visit) {
  if (!pBin || !GST_IS_BIN(pBin)) return nullptr;
  GstElement* pFound = nullptr;
  GST_OBJECT_LOCK(pBin);
  std::vector<GstElement*> children;
  for (GList* pItem = pBin->children; pItem; pItem = pItem->next)
    children.push_back(GST_ELEMENT(gst_object_ref(pItem->data)));
  GST_OBJECT_UNLOCK(pBin);
  // The bin keeps its newest child first: walk in the order they were added.
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (!pFound && visit(*it))
      pFound = *it;
    else
      gst_object_unref(*it);
  }
  return pFound;
}

// The element's pads of one direction, referenced, in the element's order.
std::vector<GstPad*> Pads(GstElement* pElement, GstPadDirection eDirection) {
  std::vector<GstPad*> pads;
  GST_OBJECT_LOCK(pElement);
  for (GList* pItem = eDirection == GST_PAD_SINK ? pElement->sinkpads : pElement->srcpads; pItem;
       pItem = pItem->next)
    pads.push_back(GST_PAD(gst_object_ref(pItem->data)));
  GST_OBJECT_UNLOCK(pElement);
  return pads;
}

void Unref(std::vector<GstPad*>& pads) {
  for (GstPad* pPad : pads) gst_object_unref(pPad);
  pads.clear();
}

bool IsChildOf(GstBin* pBin, GstElement* pElement) {
  GstObject* pParent = gst_object_get_parent(GST_OBJECT(pElement));
  const bool bChild = pParent == GST_OBJECT(pBin);
  if (pParent) gst_object_unref(pParent);
  return bChild;
}

}  // namespace

bool CapsStructureToMediaType(const GstStructure* pStructure, TMediaType* pType) {
  if (!pStructure || !pType) return false;
  // A device lists ranges and choices: take the type its fixed form names.
  GstCaps* pCaps = gst_caps_new_full(gst_structure_copy(pStructure), nullptr);
  pCaps = gst_caps_fixate(pCaps);
  bool bDone = false;
  if (gst_caps_get_size(pCaps) == 1) {
    const GstStructure* pFixed = gst_caps_get_structure(pCaps, 0);
    if (gst_structure_has_name(pFixed, "video/x-raw"))
      bDone = VideoStructureToMediaType(pFixed, pType);
    else if (gst_structure_has_name(pFixed, "audio/x-raw"))
      bDone = AudioStructureToMediaType(pFixed, pType);
  }
  gst_caps_unref(pCaps);
  return bDone;
}

bool CapsToMediaType(const GstCaps* pCaps, TMediaType* pType) {
  if (!pCaps || gst_caps_get_size(pCaps) == 0 || gst_caps_is_any(pCaps)) return false;
  return CapsStructureToMediaType(gst_caps_get_structure(pCaps, 0), pType);
}

GstCaps* MediaTypeToCaps(const TMediaType& type) {
  if (type.majortype == MEDIATYPE_Video) {
    if (type.formattype != FORMAT_VideoInfo || type.format.size() < sizeof(TVideoInfoHeader)) return nullptr;
    TVideoInfoHeader vih;
    std::memcpy(&vih, type.format.data(), sizeof(vih));
    for (const TVideoFormatEntry& entry : kVideoFormats) {
      if (entry.subtype != type.subtype) continue;
      const std::int32_t nWidth = vih.bmiHeader.fields.biWidth;
      const std::int64_t nHeight = vih.bmiHeader.fields.biHeight < 0
                                       ? -std::int64_t{vih.bmiHeader.fields.biHeight}
                                       : std::int64_t{vih.bmiHeader.fields.biHeight};
      if (nWidth <= 0 || nHeight <= 0 || nHeight > G_MAXINT) return nullptr;
      GstCaps* pCaps =
          gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, entry.pGstName, "width", G_TYPE_INT,
                              nWidth, "height", G_TYPE_INT, static_cast<int>(nHeight), nullptr);
      if (vih.AvgTimePerFrame > 0) {
        gint nNum = 0;
        gint nDen = 0;
        gst_util_double_to_fraction(
            static_cast<double>(kUnitsPerSecond) / static_cast<double>(vih.AvgTimePerFrame), &nNum, &nDen);
        gst_caps_set_simple(pCaps, "framerate", GST_TYPE_FRACTION, nNum, nDen, nullptr);
      }
      return pCaps;
    }
    return nullptr;
  }
  if (type.majortype == MEDIATYPE_Audio) {
    if (type.formattype != FORMAT_WaveFormatEx || type.format.size() < offsetof(TWaveFormatEx, cbSize))
      return nullptr;
    TWaveFormatEx wave;
    std::memcpy(&wave, type.format.data(), std::min(sizeof(wave), type.format.size()));
    if (wave.nChannels == 0 || wave.nSamplesPerSec == 0 || wave.nSamplesPerSec > G_MAXINT) return nullptr;
    for (const TAudioFormatEntry& entry : kAudioFormats) {
      if (entry.wFormatTag != wave.wFormatTag || entry.wBitsPerSample != wave.wBitsPerSample) continue;
      return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, entry.pGstName, "layout",
                                 G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT,
                                 static_cast<int>(wave.nSamplesPerSec), "channels", G_TYPE_INT,
                                 static_cast<int>(wave.nChannels), nullptr);
    }
    return nullptr;
  }
  return nullptr;
}

bool FindStreamCapsBySubtype(const GstCaps* pCaps, TMediaType* pType, const TGuid& subtype) {
  if (!pCaps) return false;
  for (guint i = 0; i < gst_caps_get_size(pCaps); ++i) {
    TMediaType type;
    if (CapsStructureToMediaType(gst_caps_get_structure(pCaps, i), &type) && type.subtype == subtype) {
      if (pType) *pType = std::move(type);
      return true;
    }
  }
  return false;
}

bool FindStreamCaps(const GstCaps* pCaps, const TMediaType& wanted, TMediaType* pType) {
  if (!pCaps) return false;
  for (guint i = 0; i < gst_caps_get_size(pCaps); ++i) {
    TMediaType type;
    if (!CapsStructureToMediaType(gst_caps_get_structure(pCaps, i), &type)) continue;
    if (type.majortype == wanted.majortype && type.subtype == wanted.subtype &&
        type.formattype == wanted.formattype && type.format.size() == wanted.format.size()) {
      if (pType) *pType = std::move(type);
      return true;
    }
  }
  return false;
}

GstElement* FindVideoRenderer(GstBin* pBin) {
  return FindElement(pBin, [](GstElement* pElement) {
    std::vector<GstPad*> sinks = Pads(pElement, GST_PAD_SINK);
    std::vector<GstPad*> srcs = Pads(pElement, GST_PAD_SRC);
    const bool bMatch = sinks.size() == 1 && srcs.empty() && PadCarries(sinks[0], "video/");
    Unref(sinks);
    Unref(srcs);
    return bMatch;
  });
}

GstElement* FindAudioSmartTee(GstBin* pBin) {
  return FindElement(pBin, [](GstElement* pElement) {
    GstElementFactory* pFactory = gst_element_get_factory(pElement);
    if (!pFactory || std::string_view(GST_OBJECT_NAME(pFactory)) != "tee") return false;
    std::vector<GstPad*> sinks = Pads(pElement, GST_PAD_SINK);
    std::vector<GstPad*> srcs = Pads(pElement, GST_PAD_SRC);
    const bool bMatch = sinks.size() == 1 && srcs.size() == 2 && PadCarries(sinks[0], "audio/");
    Unref(sinks);
    Unref(srcs);
    return bMatch;
  });
}

GstElement* FindFilterByClsid(GstBin* pBin, const char* pFactoryName) {
  if (!pFactoryName) return nullptr;
  return FindElement(pBin, [pFactoryName](GstElement* pElement) {
    GstElementFactory* pFactory = gst_element_get_factory(pElement);
    return pFactory && std::string_view(GST_OBJECT_NAME(pFactory)) == pFactoryName;
  });
}

bool CountPins(GstElement* pElement, int* pInputs, int* pOutputs) {
  if (!pElement || !GST_IS_ELEMENT(pElement)) return false;
  GST_OBJECT_LOCK(pElement);
  const int nInputs = static_cast<int>(pElement->numsinkpads);
  const int nOutputs = static_cast<int>(pElement->numsrcpads);
  GST_OBJECT_UNLOCK(pElement);
  if (pInputs) *pInputs = nInputs;
  if (pOutputs) *pOutputs = nOutputs;
  return true;
}

bool GetPin(GstElement* pElement, TPinDirection eDirection, GstPad** ppPad) {
  if (ppPad) *ppPad = nullptr;
  if (!pElement || !GST_IS_ELEMENT(pElement) || !ppPad) return false;
  std::vector<GstPad*> pads = Pads(pElement, eDirection == PINDIR_INPUT ? GST_PAD_SINK : GST_PAD_SRC);
  if (pads.empty()) return false;
  *ppPad = pads.front();
  pads.erase(pads.begin());
  Unref(pads);
  return true;
}

bool GetInputPin(GstElement* pElement, GstPad** ppPad) { return GetPin(pElement, PINDIR_INPUT, ppPad); }

bool ConnectFilters(GstBin* pBin, GstElement* pUpstream, GstElement* pDownstream) {
  if (!pBin || !GST_IS_BIN(pBin) || !pUpstream || !pDownstream || pUpstream == pDownstream) return false;
  if (!IsChildOf(pBin, pUpstream) || !IsChildOf(pBin, pDownstream)) return false;
  GstPad* pInput = nullptr;
  if (!GetInputPin(pDownstream, &pInput)) return false;
  bool bLinked = false;
  if (!gst_pad_is_linked(pInput)) {
    std::vector<GstPad*> outputs = Pads(pUpstream, GST_PAD_SRC);
    for (GstPad* pOutput : outputs) {
      if (gst_pad_is_linked(pOutput) || !gst_pad_can_link(pOutput, pInput)) continue;
      if (gst_pad_link(pOutput, pInput) == GST_PAD_LINK_OK) {
        bLinked = true;
        break;
      }
    }
    Unref(outputs);
  }
  gst_object_unref(pInput);
  return bLinked;
}

}  // namespace DShowMgr
