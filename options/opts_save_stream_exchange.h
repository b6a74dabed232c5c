#pragma once
// The blocks of the "Save stream" and "Capture image" pages (topics
// OPTTOPIC_SAVE_STREAM and OPTTOPIC_SAVE_IMAGE of WM_APP_OPTS_CATEGORY):
// the document's identifier, title and channel sources, and per channel
// what its recorder or capture writer does. Fields are in the order the
// document and the pages agree on; the per-format settings are carried as
// the byte images their format pages exchange (each from the page's own
// format field on).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "media/media_source.h"
#include "options/opts_exchange.h"

namespace ZarnTypes {

struct TSaveStreamChannel {
  std::uint8_t enabled = 0;      // the channel records when recording is on
  std::int32_t streamType = 0;   // of the output format; the document derives it
  std::int32_t format = 0;       // output TFileFormat
  std::uint8_t singleFile = 0;   // every frame into one file
  std::string singlePath;        // that file
  std::string folder;            // the folder of numbered files
  std::string spare;             // carried
  std::string titleBase;         // file-name title base
  std::string prefix;            // file-name prefix
  std::string suffix;            // carried; not in composed names
  std::string extension;         // with its dot
  std::int32_t clipDigits = 0;   // least digits of the clip index (1..10)
  std::int32_t frameDigits = 0;  // least digits of the frame index (1..10)
  std::int32_t reserved52 = 0;
  std::int32_t samplingMethod = 0;  // 1 all samples, 2 time interval, 3 sample-number interval
  std::int32_t reserved60 = 0;
  double timeBegin = 0;
  double timeEnd = 0;
  double timeStep = 0;
  std::int64_t sampleBegin = 0;
  std::int64_t sampleEnd = 0;
  std::int64_t sampleStep = 0;
  std::uint8_t addSuffix = 0;      // the clip (and frame) index follow the title base
  std::int32_t nextClipIndex = 0;  // the number of the channel's next recording (0..1073741823)
  std::int32_t reserved120[2] = {};
  std::int32_t jpegQuality = 0;
  std::uint8_t reserved132[12] = {};
  std::array<std::uint8_t, 36> jpeg2000{};      // JPEG 2000 block bytes 8..43
  std::array<std::uint8_t, 28> png{};           // PNG block bytes 8..35
  std::array<std::uint8_t, 32> gif{};           // GIF block bytes 8..39
  std::array<std::uint8_t, 36> tiff{};          // TIFF block bytes 8..43
  std::array<std::uint8_t, 12> avi{};           // AVI block bytes 8..19 (file type at 8)
  std::array<std::uint8_t, 48> windowsMedia{};  // Windows Media block bytes 8..55
  std::uint8_t pipEnabled = 0;                  // record the picture-in-picture picture
  std::uint8_t primaryAsIs = 0;                 // the primary pane as shown, not video port 1
  std::int32_t captureWorkMode = 0;             // a capture device's graph work mode
};

struct TSaveStreamExchange {
  TOptsExchangeHeader header;
  const std::string* identifier = nullptr;
  const std::string* title = nullptr;
  const TMediaSource* sources[4] = {};
  std::uint8_t recordingOn = 0;  // the document's recording switch
  TSaveStreamChannel channels[4];
};

// The sampling page's block (topic OPTTOPIC_SAMPLING, answered by the
// "Save stream" page): the channel to edit and copies of all four channel
// records; only that channel's sampling fields change on the way back.
struct TSamplingExchange {
  TOptsExchangeHeader header;
  std::int32_t channel = 0;  // 0..3, filled by the owner on a read
  std::int32_t reserved = 0;
  TSaveStreamChannel channels[4];
};
static_assert(offsetof(TSamplingExchange, channel) == 8);
static_assert(offsetof(TSamplingExchange, channels) == 16);

struct TSaveImageChannel {
  std::uint8_t copyToClipboard = 0;
  std::uint8_t saveToFile = 0;
  std::int32_t format = 0;  // TStreamType of the captured file
  std::uint8_t singleFile = 0;
  std::string singlePath;
  std::string folder;
  std::string prefix;
  std::string titleBase;
  std::string suffix;
  std::string extension;
  std::int32_t clipDigits = 0;  // digits of the capture number
  std::int32_t frameDigits = 0;
  std::uint8_t addSuffix = 0;
  std::int32_t nextClipIndex = 0;  // the number the next capture of a stopped document carries
  std::uint8_t documentFlag = 0;   // carried
};

struct TSaveImageExchange {
  TOptsExchangeHeader header;
  const std::string* identifier = nullptr;
  const std::string* title = nullptr;
  const TMediaSource* sources[4] = {};
  TSaveImageChannel channels[4];
};

// The work mode a capture device's graph runs in for an output format:
// DV AVI of file type 1 (2) or 2 (6), Windows Media video (10) or audio
// (11) with a profile; preview only (1) for every other format.
constexpr std::int32_t CaptureWorkModeOf(std::int32_t format, std::int32_t aviFileType) {
  switch (format) {
    case 9: return aviFileType == 2 ? 6 : 2;
    case 10: return 10;
    case 20: return 11;
    default: return 1;
  }
}

// The AVI file type inside the AVI settings image.
inline std::int32_t AviFileTypeOf(const std::array<std::uint8_t, 12>& avi) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(avi[8]) | static_cast<std::uint32_t>(avi[9]) << 8 |
      static_cast<std::uint32_t>(avi[10]) << 16 | static_cast<std::uint32_t>(avi[11]) << 24);
}

// The largest next clip index the pages and the document keep.
inline constexpr std::int32_t kMaxClipIndex = 0x3FFFFFFF;

}  // namespace ZarnTypes
