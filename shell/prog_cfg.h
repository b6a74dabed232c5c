#pragma once
// The program's saved settings block (`TProgCfg`): 2,168 bytes, little-endian,
// stored unchanged as the value "ProgCfg". The application owns it; the main
// frame, the documents, the document manager and the option pages fill their
// parts while the program runs. The block is encoded and decoded field by
// field at fixed offsets; reserved bytes are written as zero.
//
// The settings blocks of the image and stream formats (JPEG 2000, PNG, GIF,
// TIFF, AVI, Windows Media) and the video-pane and picture-in-picture
// records are carried as their bytes; their owners give them meaning.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace shell {

inline constexpr std::size_t kProgCfgSize = 2168;

template <std::size_t N>
using TBlock = std::array<std::uint8_t, N>;

// The document manager's file-dialog settings (offsets 28..163).
struct TDocManagerCfg {
  std::int32_t format = 0;
  std::int32_t pixelFormat = 0;
  std::uint8_t singleImage = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t yuvFormat = 0;
  std::uint8_t yuvSingleImage = 0;
  std::int32_t yuvWidth = 0;
  std::int32_t yuvHeight = 0;
  std::int32_t jpegQuality = 0;
  TBlock<28> png{};
  TBlock<32> gif{};
  TBlock<36> tiff{};
  bool operator==(const TDocManagerCfg&) const = default;
};

// A channel's files-of-type and file-sorting modes.
struct TChannelFilesCfg {
  std::int32_t filesOfType = 0;
  std::int32_t sorting = 0;
  bool operator==(const TChannelFilesCfg&) const = default;
};

// A channel's recorder settings (288 bytes).
struct TRecorderCfg {
  std::uint8_t enabled = 0;
  std::uint8_t singleFile = 0;
  std::int32_t clipDigits = 0;
  std::int32_t frameDigits = 0;
  std::int32_t samplingMethod = 0;
  double timeBegin = 0;
  double timeEnd = 0;
  double timeStep = 0;
  std::int64_t sampleBegin = 0;
  std::int64_t sampleEnd = 0;
  std::int64_t sampleStep = 0;
  std::uint8_t addSuffix = 0;
  std::int32_t format = 0;
  std::int32_t jpegQuality = 0;
  TBlock<36> jpeg2000{};
  TBlock<28> png{};
  TBlock<32> gif{};
  TBlock<36> tiff{};
  TBlock<12> avi{};
  TBlock<48> windowsMedia{};
  std::uint8_t pipEnabled = 0;
  std::uint8_t primaryAsShown = 0;
  // Compared by bits, so that any stored double (NaN included) round-trips.
  bool operator==(const TRecorderCfg& o) const;
};

// A channel's capture-writer settings (28 bytes).
struct TCaptureCfg {
  std::uint8_t copyToClipboard = 0;
  std::uint8_t saveToFile = 0;
  std::int32_t nextClipIndex = 0;
  std::int32_t clipDigits = 0;
  std::int32_t frameDigits = 0;
  std::uint8_t addSuffix = 0;
  std::int32_t format = 0;
  std::uint8_t documentFlag = 0;
  bool operator==(const TCaptureCfg&) const = default;
};

// The document's image-save settings (offsets 1936..2091).
struct TImageSaveCfg {
  std::int32_t documentValue = 0;
  std::int32_t yuvFormat = 0;
  std::uint8_t yuvSingleImage = 0;
  std::int32_t yuvWidth = 0;
  std::int32_t yuvHeight = 0;
  std::int32_t jpegQuality = 0;
  TBlock<36> jpeg2000{};
  TBlock<28> png{};
  TBlock<32> gif{};
  TBlock<36> tiff{};
  bool operator==(const TImageSaveCfg&) const = default;
};

inline constexpr int kMdiTabSettingCount = 13;
inline constexpr int kStartPlayingSwitchCount = 7;

struct TProgCfg {
  std::uint8_t savedMarker = 0;                    // 0: 1 once the block was written
  std::uint32_t optionFlags = 0;                   // 20: don't-show-again answers
  std::uint32_t optionResetMask = 0;               // 24: flag bits cleared at every start
  TDocManagerCfg docManager;                       // 28
  std::array<TChannelFilesCfg, 4> channelFiles{};  // 292
  std::uint8_t recordingOn = 0;                    // 328
  std::array<TRecorderCfg, 4> recorder{};          // 336 + 288 c
  std::array<TCaptureCfg, 4> capture{};            // 1488 + 28 c
  std::array<TBlock<28>, 4> videoPane{};           // 1600 + 28 c
  std::array<TBlock<56>, 4> pictureInPicture{};    // 1712 + 56 c
  TImageSaveCfg imageSave;                         // 1936
  // The main frame's group (2092..2166).
  std::array<std::int32_t, kMdiTabSettingCount> mdiTabs{};
  std::uint8_t resetChildWindows = 0;
  std::uint8_t mdiTabsChanged = 0;
  std::int32_t lookId = 0;
  std::uint8_t lookChanged = 0;
  std::int32_t toolbarImageStyle = 0;
  std::array<std::uint8_t, kStartPlayingSwitchCount> startPlaying{};

  bool operator==(const TProgCfg&) const = default;
};

// Offsets of the block's fields.
namespace progcfg {
inline constexpr std::size_t kSavedMarker = 0;
inline constexpr std::size_t kOptionFlags = 20;
inline constexpr std::size_t kOptionResetMask = 24;
inline constexpr std::size_t kDocManager = 28;
inline constexpr std::size_t kChannelFiles = 292;
inline constexpr std::size_t kRecordingOn = 328;
inline constexpr std::size_t kRecorder = 336;
inline constexpr std::size_t kRecorderSize = 288;
inline constexpr std::size_t kCapture = 1488;
inline constexpr std::size_t kCaptureSize = 28;
inline constexpr std::size_t kVideoPane = 1600;
inline constexpr std::size_t kPictureInPicture = 1712;
inline constexpr std::size_t kImageSave = 1936;
inline constexpr std::size_t kMdiTabs = 2092;
inline constexpr std::size_t kResetChildWindows = 2144;
inline constexpr std::size_t kMdiTabsChanged = 2145;
inline constexpr std::size_t kLookId = 2148;
inline constexpr std::size_t kLookChanged = 2152;
inline constexpr std::size_t kToolbarImageStyle = 2156;
inline constexpr std::size_t kStartPlaying = 2160;
}  // namespace progcfg

// The stored bytes of a block.
std::vector<std::uint8_t> EncodeProgCfg(const TProgCfg& cfg);

// Reads a stored block. A shorter block fills the beginning of the block
// byte by byte (the bytes it does not reach keep the values already in
// `cfg`, also inside a field it covers only in part); a longer one is
// refused (false, `cfg` unchanged). A picture-in-picture record out of
// range (PipRecordInRange) is not taken: it keeps what `cfg` held.
bool DecodeProgCfg(const std::uint8_t* data, std::size_t size, TProgCfg& cfg);

// The largest distance, in pixels, a picture-in-picture record may give for
// its inset's place and size and for its source rectangle.
inline constexpr std::int32_t kPipCoordinateLimit = 1 << 20;

// True when every place and size of a picture-in-picture record (inset x, y,
// width, height at 16..28 and source x, y, width, height at 36..48) lies
// within +-kPipCoordinateLimit, so that no rectangle made of them, nor one
// moved by a pane's position, overflows.
bool PipRecordInRange(const TBlock<56>& record);

// True for the offsets that carry a field (false for reserved bytes).
bool IsProgCfgFieldByte(std::size_t offset);

}  // namespace shell
