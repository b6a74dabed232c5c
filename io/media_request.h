#pragma once
// The request record handed to every media source, codec manager, stream
// writer and acquisition job, the parameter block of a media-graph session,
// and the callback through which running sources report frames and events to
// their owner.
//
// A request is built on the caller's stack, value-initialised (every field
// not named by the operation stays 0 / null), filled and handed to the callee
// synchronously. The callee answers three ways at once: its bool result, the
// success flag and, on failure, the error code (FailRequest / SucceedRequest).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "media/dib.h"
#include "media/file_types.h"
#include "media/file_utils.h"
#include "media/frame_buffer.h"
#include "media/media_source.h"
#include "media/yuv_frame.h"

namespace ZarnTypes {

struct TMediaFormatRecord;  // the saved format record of a capture stream

// ---------------------------------------------------------------------------
// Codes

// What a request asks for.
enum TMediaRequestOp : std::int32_t {
  MEDIA_OP_NONE = 0,
  MEDIA_OP_READ = 1,         // decode a file, grab a frame, play, enumerate, detect
  MEDIA_OP_WRITE_STILL = 2,  // write one still image
  MEDIA_OP_RUN_JOB = 3,      // run a stream-writer job (Windows Media or MNG recording)
};

// Error code left in a request when its operation failed; 0 otherwise.
enum TMediaRequestError : std::int32_t {
  MEDIA_ERR_NONE = 0,
  MEDIA_ERR_READ_JPEG = 5,
  MEDIA_ERR_READ_JPEG2000 = 6,
  MEDIA_ERR_READ_PNG = 7,
  MEDIA_ERR_READ_GIF = 8,
  MEDIA_ERR_READ_TIFF = 9,
  MEDIA_ERR_DSHOW_SESSION = 15,  // a media-graph session failed (any purpose, any cause, wrong tag)
  MEDIA_ERR_MNG_OPEN_INPUT = 17,
  MEDIA_ERR_WIA_ACQUIRE = 18,  // image acquisition failed ...
  MEDIA_ERR_WM_JOB = 18,       // ... or a Windows Media job failed: the two share the code
  MEDIA_ERR_WRITE_JPEG = 22,   // beside the other still writers' codes
  MEDIA_ERR_WRITE_JPEG2000 = 23,
  MEDIA_ERR_WRITE_PNG = 24,
  MEDIA_ERR_WRITE_GIF = 25,
  MEDIA_ERR_WRITE_TIFF = 26,
  MEDIA_ERR_MNG_CREATE_OUTPUT = 34,
  MEDIA_ERR_DSHOW_BUSY = 36,   // a session is already running in this session manager
  MEDIA_ERR_WM_JOB_BUSY = 37,  // a Windows Media job is already running in this writer
  MEDIA_ERR_MNG_BUSY = 38,     // the MNG reader/writer is busy
  MEDIA_ERR_WIA_BUSY = 39,     // an acquisition is already running
};

// Names the parameter block behind a request. One number space with the
// private window messages (three of the values are also option messages).
enum TMediaRequestTag : std::int32_t {
  MEDIA_REQ_NONE = 0,               // plain still decodes: no block
  MEDIA_REQ_JPEG2000 = 36876,       // JPEG 2000 write settings
  MEDIA_REQ_PNG = 36877,            // PNG write settings
  MEDIA_REQ_TIFF = 36879,           // TIFF write settings
  MEDIA_REQ_DSHOW_SOURCE = 36882,   // TSourceParams
  MEDIA_REQ_DEVICE_CONFIG = 36883,  // only as TSourceParams::eExtensionTag: device property-page record
  MEDIA_REQ_DVD = 36884,            // only as TSourceParams::eExtensionTag: TDvdDirectoryRecord
  MEDIA_REQ_WM_JOB = 36886,         // Windows Media job block
  MEDIA_REQ_MNG = 36887,            // MNG block
  MEDIA_REQ_WIA = 36888,            // image-acquisition block
  MEDIA_REQ_MNG_PARAMS = 36906,     // placed inside the MNG block by the document's MNG loader
};

// What a session is for. The same values appear in the sender head of the
// MNG, acquisition and Windows Media blocks.
enum TSourcePurpose : std::int32_t {
  SRC_GRAB_FRAME = 3,          // one-shot grab of the first frame, as fast as the graph runs
  SRC_GRAB_FRAME_RGB24 = 4,    // one-shot grab handed over as the grabber's RGB24 sample (preview)
  SRC_WRITE_STREAM = 5,        // write a stream (MNG writer, Windows Media job)
  SRC_STREAM = 6,              // play continuously with the reference clock
  SRC_ENUM_DEVICES = 7,        // list the audio and video input devices
  SRC_ENUM_WM_PROFILES = 8,    // list the Windows Media system profiles
  SRC_DETECT_DEVICE = 9,       // detect the kind of the device named by the path
  SRC_GRAB_FRAME_CONFIG = 10,  // as SRC_GRAB_FRAME, optionally after a device property page
  SRC_ACQUIRE = 12,            // acquire one image from a scanner or camera
};

// Who reports through the owner callback.
enum TMediaSenderKind : std::int32_t {
  MEDIA_SENDER_NONE = 0,    // one-shot enumerations
  MEDIA_SENDER_DSHOW = 14,  // a media-graph source: file, capture device, DVD
  MEDIA_SENDER_MNG = 16,
  MEDIA_SENDER_JPEG = 17,
  MEDIA_SENDER_JPEG2000 = 18,
  MEDIA_SENDER_PNG = 19,
  MEDIA_SENDER_GIF = 20,
  MEDIA_SENDER_TIFF = 21,
  MEDIA_SENDER_STILLS = 22,  // raw YUV and other still sequences
  MEDIA_SENDER_BMP = 23,
  MEDIA_SENDER_RECORDER = 24,  // a stream recorder
};

// Codes of the owner callback; the meaning of its data pointer per code.
enum TMediaNotify : std::int32_t {
  MEDIA_NOTIFY_FRAME = 36904,           // TMediaFrameNotice*
  MEDIA_NOTIFY_STREAM_INFO = 36905,     // std::int32_t[7]: width, height, ticks per second, layers,
                                        // frames, play time, simplicity profile
  MEDIA_NOTIFY_DEVICE_KIND = 36910,     // std::int32_t*: the detected device kind
  MEDIA_NOTIFY_THREAD_STARTED = 36919,  // the worker's thread object
  MEDIA_NOTIFY_JOB_COUNT = 36921,       // a signed delta carried in the pointer value (ValueAsPointer)
  MEDIA_NOTIFY_RECORD_FRAME = 36922,    // the writer's frame request
  MEDIA_NOTIFY_VIDEO_WINDOW = 36932,    // TDvdRequest*; the answer is the record's ok flag
};

// Senders whose MEDIA_NOTIFY_FRAME the engine accepts.
constexpr bool IsFrameSenderKind(std::int32_t kind) {
  return kind >= MEDIA_SENDER_DSHOW && kind <= MEDIA_SENDER_MNG;
}

// ---------------------------------------------------------------------------
// Records

// Kept by each source for its whole session; handed to every callback.
struct TMediaSender {
  std::int32_t nSenderId = 0;  // ProcID of the reporter (0..48), or a preview code
  TMediaSenderKind eSenderKind = MEDIA_SENDER_NONE;
  TSourcePurpose ePurpose{};
  void* pContext = nullptr;  // first argument of every callback
};

// The data of MEDIA_NOTIFY_FRAME and of the channel reader's direct frame
// callback. Owned by the sender and valid only during the call.
struct TMediaFrameNotice {
  TPixelFormat ePixelFormat = TPixelFormat{0};  // layout of the data
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  std::int32_t nChromaWidth = 0;  // Cb and Cr planes of a planar frame
  std::int32_t nChromaHeight = 0;
  const std::uint8_t* pRgbData = nullptr;  // packed RGB or DIB rows, bottom-up
  std::int32_t nRgbSize = 0;
  // Not 0: pRgbData holds the rows top-down, this many bytes apart, in the
  // memory a media graph decoded them into (only for an owner that asked
  // for them, TSourceParams::bTopDownRows).
  std::int32_t nTopDownStride = 0;
  const std::uint8_t* pColourTable = nullptr;  // logical palette of a 1-, 4- or 8-bit frame
  std::int32_t nColourTableSize = 0;           // 4 + 4 x entries
  const std::uint8_t* pY = nullptr;            // luma plane; for packed YUY2 the YUY2 data
  const std::uint8_t* pCb = nullptr;
  const std::uint8_t* pCr = nullptr;
  std::int32_t nYSize = 0;
  std::int32_t nCbSize = 0;
  std::int32_t nCrSize = 0;
  std::int32_t nYuy2Size = 0;
  const Dib::TBitmapInfoHeader* pHeader = nullptr;  // describes an RGB frame; the engine needs it
  TFrameBuffer* pFrameRecord = nullptr;             // layout of the RGB data
  TYuvFrameBuffer* pPlanarRecord = nullptr;         // layout of the planar data
  double dTime = 0.0;                               // sample start time in seconds
  std::int64_t nFrameNumber = 0;                    // capture graph: frames handed over so far; 0 otherwise
  // A file played by the media graph: nFrameNumber is the frame's index in
  // its file (0 = the first frame), whatever was sought or dropped before.
  bool bFileIndex = false;
  // The first frame after a seek: frames of the channel cached before it
  // and not shown yet are stale. The engine drops every frame that arrives
  // after a flush of the channel (CZarn::FlushChannel) until one with this
  // flag comes.
  bool bDiscontinuity = false;
};

// The owner callback: (context, code, sender, data). Called in the reporting
// thread; the callee may not keep sender or data after it returns.
using TMediaOwnerCallback = bool (*)(void* pContext, TMediaNotify eCode, const TMediaSender* pSender,
                                     void* pData);

// A callback that does nothing, for one-shot enumerations and detections.
bool IgnoreMediaNotify(void* pContext, TMediaNotify eCode, const TMediaSender* pSender, void* pData);

// The block of a MEDIA_REQ_DSHOW_SOURCE request. A session copies it whole at
// its start; the owner's live values are reached through the pointers, which
// point to the owner's variables and may be null where noted. Flags and
// values that a session reads while the owner changes them on another thread
// are atomics.
struct TSourceParams {
  std::int32_t nSenderId = 0;                        // ProcID of the channel reader, or the preview's code
  TMediaSenderKind eSenderKind = MEDIA_SENDER_NONE;  // MEDIA_SENDER_DSHOW, or none for enumerations
  TSourcePurpose ePurpose{};
  void* pContext = nullptr;                // first argument of every callback
  std::atomic<bool>* pStopFlag = nullptr;  // the session ends when it becomes true; set when it ends
  std::atomic<bool>* pEndFlag = nullptr;   // set when the session ends
  // Streaming: the owner's pause; a session that starts while it is set
  // starts paused (a pause asked for while the file opens is not lost).
  const std::atomic<bool>* pPauseFlag = nullptr;
  std::atomic<bool>* pSeekFlag = nullptr;  // seek once at the start of a file session, then cleared
  const std::atomic<std::int32_t>* pSeekNumerator = nullptr;  // position as a fraction of the duration
  const std::atomic<std::int32_t>* pSeekDenominator = nullptr;
  const std::atomic<bool>* pSoundFlag = nullptr;            // streaming: false mutes the audio
  const std::atomic<std::int32_t>* pVolumeLevel = nullptr;  // streaming: volume = level / maximum
  const std::atomic<std::int32_t>* pVolumeMaximum = nullptr;
  const std::atomic<bool>* pRecordFlag = nullptr;  // capture sources: the channel's recording switch
  TMediaOwnerCallback pCallback = nullptr;         // null: one-shot grabs go to the request's frame buffer
  // Streaming a file: the owner takes frames in the graph's own memory,
  // rows top-down (TMediaFrameNotice::nTopDownStride), without a copy.
  bool bTopDownRows = false;
  CallbackBase::CCallbackBase* pCallbackObject = nullptr;  // copied with the block, not used by sessions
  TPixelFormat eNativePixelFormat = TPixelFormat{0};       // out: the capture device's own format
  TPixelFormat eGrabPixelFormat = TPixelFormat{0};         // in: wanted grab format; out: format delivered
  TMediaFormatRecord* pVideoFormatRecord = nullptr;        // the channel's saved video format record
  TMediaFormatRecord* pAudioFormatRecord = nullptr;        // the same for the audio stream
  std::int32_t nWorkMode = 0;                              // TCaptureWorkMode of the capture graph
  const std::string* pOutputFile = nullptr;                // file recorded inside the capture graph
  bool bAudioCompanion = false;                            // capture another channel's audio device along
  const std::string* pCompanionDevice = nullptr;           // that audio device's path
  bool bLogEnabled = false;                                // when set, pLog is valid
  TLogTextFile* pLog = nullptr;                            // media-format log of the capture graph
  TMediaRequestTag eExtensionTag = MEDIA_REQ_NONE;         // MEDIA_REQ_DEVICE_CONFIG, MEDIA_REQ_DVD or none
  void* pRecordingBlock = nullptr;                         // channel reader: the recording settings block
  void* pExtension = nullptr;  // the record named by eExtensionTag; the caller's list record for
                               // enumerations; the channel index (ValueAsPointer) for the channel
                               // reader's capture sessions
};

// The extension of MEDIA_REQ_DVD: a purpose-3 DVD session asks the navigator
// for the volume's directory into the caller's buffer (StoreDvdDirectory).
struct TDvdDirectoryRecord {
  std::int32_t nReserved = 0;
  char* pBuffer = nullptr;       // the caller's buffer
  std::int32_t nBufferSize = 0;  // bytes in the buffer, the terminating zero included
  std::int32_t nLength = 0;      // out: bytes stored, the terminating zero excluded
};

// The request record.
struct TMediaRequest {
  TMediaRequestOp eOp = MEDIA_OP_NONE;
  bool bSuccess = false;  // set by the callee when the operation succeeded
  TMediaRequestError eError = MEDIA_ERR_NONE;
  TSourcePurpose ePurpose{};
  TFileFormat eSourceFormat = TFileFormat{0};   // of the source (op 1) or of the still to write (op 2)
  TStreamType eStreamType = TStreamType{0};     // of the source
  TFileFormat eOutputFormat = TFileFormat{0};   // written by a job: Windows Media or MNG
  TPixelFormat ePixelFormat = TPixelFormat{0};  // wanted; decoders overwrite it with the one produced
  const std::string* pPath = nullptr;           // source file, folder, device path or URL
  const std::string* pOutputPath = nullptr;     // file written by an MNG writer or a Windows Media job
  std::int32_t nDeviceCategory = 0;             // TSysDevCtgr as chosen by the user; 0 for files
  std::int32_t nDeviceKind = 0;                 // in/out: TSysDevCtgr as detected
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  std::int32_t nStride = 0;                 // out: bytes per row of the decoded picture
  std::uint8_t* pPixels = nullptr;          // out: first byte of the decoded pixel data
  std::int32_t nSize = 0;                   // out: bytes of decoded pixel data
  std::uint8_t* pPlanes = nullptr;          // out (raw YUV): the planar Y, Cb, Cr data
  TFrameBuffer* pFrameBuffer = nullptr;     // the caller's frame record to fill (op 1) or write from (op 2)
  TYuvFrameBuffer* pPlanarFrame = nullptr;  // a planar frame that goes with the request, or null
  TMediaRequestTag eTag = MEDIA_REQ_NONE;   // names the block in pParams
  void* pParams = nullptr;                  // the parameter block named by eTag
  void* pResults = nullptr;                 // the caller's result block (kMediaResultBlockSize bytes)
  std::int32_t nReserved[6] = {};           // unused, always 0

  // Back to the state of a freshly built request.
  void Clear() { *this = TMediaRequest{}; }
};

// Size of the result block that still decodes and the media-graph loader
// fill and the caller passes on to the channel's stream format record.
inline constexpr std::size_t kMediaResultBlockSize = 56;

// ---------------------------------------------------------------------------
// Helpers shared by the callees

// Marks the request failed with the code and returns false.
bool FailRequest(TMediaRequest& request, TMediaRequestError eError);
// Marks the request successful (error 0) and returns true.
bool SucceedRequest(TMediaRequest& request);

// The parameter block of a request when its tag is the one the callee
// requires and a block is present; null otherwise (the callee then fails
// with its own code).
void* RequestParams(const TMediaRequest& request, TMediaRequestTag eRequired);
inline TSourceParams* SourceParamsOf(const TMediaRequest& request) {
  return static_cast<TSourceParams*>(RequestParams(request, MEDIA_REQ_DSHOW_SOURCE));
}

// The sender a session keeps for its whole run.
TMediaSender MakeSender(const TSourceParams& params);

// Calls the owner's callback; false when there is no callback or the
// callback answered false.
bool NotifyOwner(TMediaOwnerCallback pCallback, const TMediaSender& sender, TMediaNotify eCode, void* pData);
// The same with a sender built from the block.
bool NotifyOwner(const TSourceParams& params, TMediaNotify eCode, void* pData);

// Stores a DVD volume's directory into the caller's record. False when the
// record has no buffer or the text does not fit; an empty text is then
// stored whenever there is a buffer.
bool StoreDvdDirectory(TDvdDirectoryRecord& record, std::string_view directory);

// Small integers carried in a pointer-sized field (the job-count delta of
// MEDIA_NOTIFY_JOB_COUNT, the channel index in TSourceParams::pExtension).
inline void* ValueAsPointer(std::intptr_t nValue) { return reinterpret_cast<void*>(nValue); }
inline std::intptr_t PointerAsValue(const void* pValue) { return reinterpret_cast<std::intptr_t>(pValue); }

}  // namespace ZarnTypes
