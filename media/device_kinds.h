#pragma once
// System media devices: the category a device is opened with (audio input,
// video input, or a DVD volume) and the kind detected for it (audio input,
// DV camcorder, webcam, TV tuner, DVD). Categories and kinds share one
// enumeration and one table of display names, used wherever a device's
// category or kind is shown.

#include <cstdint>
#include <string>

namespace ZarnTypes {

enum TSysDevCtgr : std::int32_t {
  SDC_NONE = 0,
  SDC_AUDIO_INPUT = 1,
  SDC_VIDEO_INPUT = 2,  // kind not yet known
  SDC_DVCAM = 3,        // DV camcorder
  SDC_WEBCAM = 4,       // video capture device without a TV tuner
  SDC_TV_TUNER = 5,     // video capture device with a TV tuner upstream
  SDC_DVD = 6,          // DVD volume
};

inline constexpr std::int32_t kSysDevCtgrCount = 7;

// The display name of a device category or kind; nullptr outside 0..6.
inline const char* SysDevCtgrName(std::int32_t code) {
  static constexpr const char* kNames[kSysDevCtgrCount] = {
      "None", "Audio input device", "Video input device", "DVCam", "WebCam", "TV tuner", "DVD",
  };
  return (code >= 0 && code < kSysDevCtgrCount) ? kNames[code] : nullptr;
}

// The same into a string: false, with the string left empty, for a code
// without a name.
inline bool GetSysDevCtgrName(std::int32_t code, std::string& name) {
  const char* text = SysDevCtgrName(code);
  name = text ? text : "";
  return text != nullptr;
}

}  // namespace ZarnTypes
