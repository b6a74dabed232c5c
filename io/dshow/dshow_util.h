#pragma once
// Records and small rules of the media-graph sessions that need no media
// framework: the position records, the volume scale, the device list and
// Windows Media profile records with their selection rules.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace DShowMgr {

// Session state of a running graph.
enum TGraphState : std::int32_t { GRAPH_NONE = 0, GRAPH_STOPPED = 1, GRAPH_RUNNING = 2, GRAPH_PAUSED = 3 };

// Kind of a TMediaPosition.
enum TMediaPositionKind : std::int32_t { MEDIA_POS_STREAM_TIME = 1, MEDIA_POS_DVD_LOCATION = 3 };

struct TMediaPosition {
  TMediaPositionKind eKind = MEDIA_POS_STREAM_TIME;
  std::int64_t nPosition = 0;  // 100-ns units from the first frame (stream time)
  std::uint8_t nHours = 0;     // DVD time code
  std::uint8_t nMinutes = 0;
  std::uint8_t nSeconds = 0;
  std::uint8_t nFrames = 0;
  std::int32_t nTitle = 0;
  std::int32_t nChapter = 0;
};

struct TMediaProgress {
  std::int64_t nPosition = 0;  // 100-ns units
  std::int64_t nDuration = 0;  // 100-ns units
};

// Volume levels in hundredths of a decibel: 0 full, -10000 silence.
inline constexpr std::int32_t kVolumeSilence = -10000;
inline constexpr std::int32_t kVolumeFull = 0;

// The level of the volume a / b: (1 - a / b) x -10000 cut towards zero,
// limited to -10000..0 (a >= b full volume, a = 0 silence, b = 0 silence).
std::int32_t VolumeToMillibel(std::int32_t nLevel, std::int32_t nMaximum);
// The linear gain of a level (0.0 for silence, 1.0 for full volume).
double MillibelToGain(std::int32_t nMillibel);

// Device categories of the device list (TSysDevCtgr values).
inline constexpr std::int32_t kDeviceCategoryAudioInput = 1;
inline constexpr std::int32_t kDeviceCategoryVideoInput = 2;

// The caller's list of capture devices. The vectors belong to the caller;
// when pFriendlyNames is null nothing is stored and the count is 0.
struct TMediaDeviceList {
  std::int32_t nCount = 0;  // out
  std::vector<std::string>* pFriendlyNames = nullptr;
  std::vector<std::string>* pDescriptions = nullptr;
  std::vector<std::string>* pDevicePaths = nullptr;
  std::vector<std::int32_t>* pWaveInIds = nullptr;
  std::vector<std::int32_t>* pCategories = nullptr;
  std::vector<std::int32_t>* pCategoriesAgain = nullptr;
  bool bListVideo = false;
  bool bListAudio = false;
};

// One device as the platform describes it; nWaveInId -1 when it has none.
struct TFoundDevice {
  std::string friendlyName;
  std::string description;
  std::string devicePath;
  std::int32_t nWaveInId = -1;
};

// A device's properties as the platform's device list describes it, under
// the names the device list reads: "FriendlyName", "Description" and
// "DevicePath" (text) and "WaveInID" (a number, only on sound inputs).
inline constexpr const char* kPropFriendlyName = "FriendlyName";
inline constexpr const char* kPropDescription = "Description";
inline constexpr const char* kPropDevicePath = "DevicePath";
inline constexpr const char* kPropWaveInId = "WaveInID";

class CDevicePropertyBag {
 public:
  void Write(const std::string& name, const std::string& value);
  void Write(const std::string& name, std::int32_t value);
  // False when the bag has no value of that name and kind.
  bool Read(const std::string& name, std::string* pValue) const;
  bool Read(const std::string& name, std::int32_t* pValue) const;

 private:
  std::map<std::string, std::string> m_Text;
  std::map<std::string, std::int32_t> m_Numbers;
};

// The device a property bag describes: the three texts (empty when absent)
// and the wave-in id (-1 when absent).
TFoundDevice ReadFoundDevice(const CDevicePropertyBag& bag);

// A video input is kept when it has a name and a device path and no wave-in
// id; an audio input when it has a name and a wave-in id and no device path.
bool KeepDevice(std::int32_t nCategory, const TFoundDevice& device);
// Appends a kept device to the list (strings cut to 259 characters).
void AppendDevice(TMediaDeviceList& list, std::int32_t nCategory, const TFoundDevice& device);

// The caller's list of Windows Media profiles.
struct TWmProfileList {
  std::int32_t nCount = 0;  // out
  std::vector<std::string>* pNames = nullptr;
  std::vector<std::string>* pDescriptions = nullptr;
  std::vector<std::array<std::uint8_t, 16>>* pIds = nullptr;
  bool bWantVideo = false;
  bool bWantAudio = false;
};

// A Windows Media profile of the built-in table.
struct TWmProfile {
  const char* pName;
  const char* pDescription;
  std::array<std::uint8_t, 16> id;
  bool bVideo;
  bool bAudio;
  std::int32_t nVideoBitRate;  // bits per second, 0 without video
  std::int32_t nAudioBitRate;  // bits per second, 0 without audio
};
// The profiles the program's Windows Media writer can produce.
const std::vector<TWmProfile>& WmProfileTable();
// Video wanted, audio not: video and no audio; both: video and audio;
// only audio: audio and no video; neither: none.
bool KeepProfile(const TWmProfile& profile, bool bWantVideo, bool bWantAudio);
// Fills the list from the table; false when neither kind is wanted.
bool ListWmProfiles(TWmProfileList& list);

}  // namespace DShowMgr
