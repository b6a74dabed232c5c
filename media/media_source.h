#pragma once
// A channel's source record (what is open in the channel) and its stream
// format record (the first bytes of the information block the decoder
// reported), four of each per media document, and the abstract callback
// interface the document hands to the media-graph loads it builds.
//
// Every loader resets the channel's TMediaSource before it fills it and
// fills it only after the source decoded successfully, so a failed open
// leaves the channel closed.

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/file_types.h"
#include "media/frame_buffer.h"
#include "platform/types.h"

namespace ZarnTypes {

// Life of a channel's source.
enum TMediaSourceState : std::int32_t {
  SOURCE_STATE_CLOSED = 1,   // after Reset
  SOURCE_STATE_LOADED = 2,   // written by every loader, and again after a session
  SOURCE_STATE_RUNNING = 3,  // while the channel's process runs
};

// Where a channel's source comes from.
enum TSourceCategory : std::int32_t {
  SOURCE_CAT_OTHER_URL = 0,  // a URL of any other service
  SOURCE_CAT_FILE = 1,       // a media file (stills and media-graph files) or a FILE URL
  SOURCE_CAT_FTP = 3,
  SOURCE_CAT_HTTP = 4,  // HTTP or HTTPS
  SOURCE_CAT_GOPHER = 5,
  SOURCE_CAT_DEVICE = 6,  // a capture device or a DVD volume
  SOURCE_CAT_CLIPBOARD = 7,
  SOURCE_CAT_ACQUIRE = 8,  // a scanner or camera
};

// What is open in a channel.
struct TMediaSource {
  TMediaSource() { Reset(); }

  // Every field back to the state of a closed channel.
  void Reset();

  BOOL bOpen = FALSE_;  // TRUE_ once a source is open in the channel
  TMediaSourceState eState = SOURCE_STATE_CLOSED;
  BOOL bLoaded = FALSE_;                     // TRUE_ once a loader filled the record
  TStreamType eStreamType = ST_NULL_STREAM;  // shown as "Media source type"
  TSourceCategory eSourceCategory = SOURCE_CAT_OTHER_URL;
  TFileFormat eFileFormat = TFileFormat{0};  // the format the source was opened as
  std::string sPath;         // file path, or the generated name of a pasted or acquired picture
  std::string sOwnerText;    // kept for the owner
  std::string sDisplayName;  // the device or generated name shown for the source
  std::string sDisplayPath;  // display form of the path (name and extension, or the shortened URL)
  std::int32_t nWidth = 0;   // frame size in pixels (1 x 1 for a media-graph source without one)
  std::int32_t nHeight = 0;
  BOOL bRead = FALSE_;  // TRUE_ for stills and media-graph sources, FALSE_ for MNG animations
  TPixelFormat eFramePixelFormat = TPixelFormat{0};      // of the frames the channel delivers
  TPixelFormat eSourcePixelFormat = TPixelFormat{0};     // as the source reported it
  TPixelFormat eDeliveredPixelFormat = TPixelFormat{0};  // as asked of the decoder
  std::int32_t nPictureCount = 0;                        // 1 when a picture is available
  std::int32_t nReserved = 0;
  std::int32_t nDeviceCategory = 0;  // TSysDevCtgr the device or DVD was opened with; 0 for files
  std::int32_t nDeviceKind = 0;      // TSysDevCtgr detected; the sub-kind of the stream format
  std::int32_t nLast = -1;
};

// Bytes of the decoder's information record that a channel keeps per stream
// type: 0 when the stream type keeps none (it is then refused).
std::size_t GetStreamFormatParamsSize(std::int32_t streamType, std::int32_t subKind);

// A copy of the format information the decoder reported for a stream type.
struct TStreamFormat {
  static constexpr std::size_t kParamsSize = 56;
  static constexpr std::int32_t kDefaultSubKind = 4;

  // Stream type 0, sub-kind 4, parameter block zero.
  void Reset();

  // Keeps the first bytes of the information record (as many as the stream
  // type keeps; the rest of the block is zero) with the stream type and the
  // sub-kind. Refused with the record unchanged: a null record, a stream
  // type that keeps nothing, the system-device type with a sub-kind other
  // than 4, or an information record shorter than the bytes to keep.
  bool SetParams(TStreamType eType, const void* pInfo, std::size_t nInfoSize,
                 std::int32_t nSubKind = kDefaultSubKind);

  TStreamType eStreamType = TStreamType{0};
  alignas(8) std::uint8_t params[kParamsSize] = {};
  std::int32_t nSubKind = kDefaultSubKind;
};

}  // namespace ZarnTypes

namespace CallbackBase {

// The callback interface the document implements and puts into the
// media-graph requests it builds. Each operation takes three values and
// answers yes or no; what they mean is the implementer's.
class CCallbackBase {
 public:
  virtual ~CCallbackBase() = default;
  virtual BOOL Callback1(std::int32_t nArg1, std::int32_t nArg2, std::int32_t nArg3) = 0;
  virtual BOOL Callback2(std::int32_t nArg1, std::int32_t nArg2, std::int32_t nArg3) = 0;
  virtual BOOL Callback3(std::int32_t nArg1, std::int32_t nArg2, std::int32_t nArg3) = 0;
};

}  // namespace CallbackBase
