#include "io/dshow/dshow_util.h"

#include <cmath>

namespace DShowMgr {

std::int32_t VolumeToMillibel(std::int32_t nLevel, std::int32_t nMaximum) {
  // (1 - a / b) x -10000 = -10000 (b - a) / b, worked out exactly in whole
  // numbers and cut towards zero, so that 9 of 10 is -1000 and not -999 as
  // a floating-point product would give.
  if (nMaximum == 0) return kVolumeSilence;
  const std::int64_t numerator = -10000 * (static_cast<std::int64_t>(nMaximum) - nLevel);
  const std::int64_t value = numerator / nMaximum;
  if (value <= kVolumeSilence) return kVolumeSilence;
  if (value >= kVolumeFull) return kVolumeFull;
  return static_cast<std::int32_t>(value);
}

double MillibelToGain(std::int32_t nMillibel) {
  if (nMillibel <= kVolumeSilence) return 0.0;
  if (nMillibel >= kVolumeFull) return 1.0;
  return std::pow(10.0, static_cast<double>(nMillibel) / 2000.0);
}

void CDevicePropertyBag::Write(const std::string& name, const std::string& value) {
  m_Numbers.erase(name);
  m_Text[name] = value;
}

void CDevicePropertyBag::Write(const std::string& name, std::int32_t value) {
  m_Text.erase(name);
  m_Numbers[name] = value;
}

bool CDevicePropertyBag::Read(const std::string& name, std::string* pValue) const {
  const auto it = m_Text.find(name);
  if (it == m_Text.end()) return false;
  if (pValue) *pValue = it->second;
  return true;
}

bool CDevicePropertyBag::Read(const std::string& name, std::int32_t* pValue) const {
  const auto it = m_Numbers.find(name);
  if (it == m_Numbers.end()) return false;
  if (pValue) *pValue = it->second;
  return true;
}

TFoundDevice ReadFoundDevice(const CDevicePropertyBag& bag) {
  TFoundDevice device;
  bag.Read(kPropFriendlyName, &device.friendlyName);
  bag.Read(kPropDescription, &device.description);
  bag.Read(kPropDevicePath, &device.devicePath);
  if (!bag.Read(kPropWaveInId, &device.nWaveInId)) device.nWaveInId = -1;
  return device;
}

bool KeepDevice(std::int32_t nCategory, const TFoundDevice& device) {
  if (device.friendlyName.empty()) return false;
  const bool bPath = !device.devicePath.empty();
  const bool bWave = device.nWaveInId >= 0;
  if (nCategory == kDeviceCategoryVideoInput) return bPath && !bWave;
  if (nCategory == kDeviceCategoryAudioInput) return bWave && !bPath;
  return false;
}

static std::string Cut(const std::string& s) { return s.size() > 259 ? s.substr(0, 259) : s; }

void AppendDevice(TMediaDeviceList& list, std::int32_t nCategory, const TFoundDevice& device) {
  if (!list.pFriendlyNames) return;
  list.pFriendlyNames->push_back(Cut(device.friendlyName));
  if (list.pDevicePaths) list.pDevicePaths->push_back(Cut(device.devicePath));
  if (list.pDescriptions) list.pDescriptions->push_back(Cut(device.description));
  if (list.pWaveInIds) list.pWaveInIds->push_back(device.nWaveInId);
  if (list.pCategories) list.pCategories->push_back(nCategory);
  if (list.pCategoriesAgain) list.pCategoriesAgain->push_back(nCategory);
  ++list.nCount;
}

const std::vector<TWmProfile>& WmProfileTable() {
  // Windows Media Video 8 and Audio 8 as the writer encodes them; the ids
  // are this program's own and never change, settings store them.
  static const std::vector<TWmProfile> table = {
      {"Video for local area network (768 Kbps)",
       "WMV 8 video at 768 Kbps with WMA 8 stereo audio at 64 Kbps",
       {0x5b, 0x1e, 0x6a, 0x30, 0x8c, 0x41, 0x4f, 0x1a, 0x9d, 0x02, 0x11, 0x7e, 0x51, 0x40, 0x00, 0x01},
       true,
       true,
       704000,
       64000},
      {"Video for broadband (340 Kbps)",
       "WMV 8 video at 308 Kbps with WMA 8 stereo audio at 32 Kbps",
       {0x5b, 0x1e, 0x6a, 0x30, 0x8c, 0x41, 0x4f, 0x1a, 0x9d, 0x02, 0x11, 0x7e, 0x51, 0x40, 0x00, 0x02},
       true,
       true,
       308000,
       32000},
      {"Video for high quality (2 Mbps)",
       "WMV 8 video at 1.9 Mbps with WMA 8 stereo audio at 128 Kbps",
       {0x5b, 0x1e, 0x6a, 0x30, 0x8c, 0x41, 0x4f, 0x1a, 0x9d, 0x02, 0x11, 0x7e, 0x51, 0x40, 0x00, 0x03},
       true,
       true,
       1920000,
       128000},
      {"Video only for local area network (768 Kbps)",
       "WMV 8 video at 768 Kbps, no audio",
       {0x5b, 0x1e, 0x6a, 0x30, 0x8c, 0x41, 0x4f, 0x1a, 0x9d, 0x02, 0x11, 0x7e, 0x51, 0x40, 0x00, 0x04},
       true,
       false,
       768000,
       0},
      {"Video only for high quality (2 Mbps)",
       "WMV 8 video at 2 Mbps, no audio",
       {0x5b, 0x1e, 0x6a, 0x30, 0x8c, 0x41, 0x4f, 0x1a, 0x9d, 0x02, 0x11, 0x7e, 0x51, 0x40, 0x00, 0x05},
       true,
       false,
       2000000,
       0},
      {"Audio for broadband (64 Kbps)",
       "WMA 8 stereo audio at 64 Kbps",
       {0x5b, 0x1e, 0x6a, 0x30, 0x8c, 0x41, 0x4f, 0x1a, 0x9d, 0x02, 0x11, 0x7e, 0x51, 0x40, 0x00, 0x06},
       false,
       true,
       0,
       64000},
      {"Audio for high quality (128 Kbps)",
       "WMA 8 stereo audio at 128 Kbps",
       {0x5b, 0x1e, 0x6a, 0x30, 0x8c, 0x41, 0x4f, 0x1a, 0x9d, 0x02, 0x11, 0x7e, 0x51, 0x40, 0x00, 0x07},
       false,
       true,
       0,
       128000},
  };
  return table;
}

bool KeepProfile(const TWmProfile& profile, bool bWantVideo, bool bWantAudio) {
  if (bWantVideo && !bWantAudio) return profile.bVideo && !profile.bAudio;
  if (bWantVideo && bWantAudio) return profile.bVideo && profile.bAudio;
  if (bWantAudio) return profile.bAudio && !profile.bVideo;
  return false;
}

bool ListWmProfiles(TWmProfileList& list) {
  list.nCount = 0;
  if (!list.bWantVideo && !list.bWantAudio) return false;
  for (const TWmProfile& profile : WmProfileTable()) {
    if (!KeepProfile(profile, list.bWantVideo, list.bWantAudio)) continue;
    if (!list.pNames) continue;  // counted only where they are stored
    list.pNames->push_back(profile.pName);
    if (list.pDescriptions) list.pDescriptions->push_back(profile.pDescription);
    if (list.pIds) list.pIds->push_back(profile.id);
    ++list.nCount;
  }
  return true;
}

}  // namespace DShowMgr
