#pragma once
// The MNG reader and writer: plays MNG and JNG animations and writes MNG
// files through libmng. One object serves one request at a time and runs it
// synchronously in the caller's thread:
//
//   - reading (Run): a MEDIA_REQ_MNG request with purpose 3 or 4 (one frame)
//     or 6 (play the animation at its own timing). libmng draws each frame
//     into a bottom-up 24- or 32-bit canvas owned here (target pixel format
//     27 or 28); frames go to the owner callback with MEDIA_NOTIFY_FRAME,
//     the header values once before them with MEDIA_NOTIFY_STREAM_INFO.
//     Without a callback a one-frame request copies its frame into the
//     request's 32-bit frame buffer and the values into the block's info
//     record.
//   - writing (Write): purpose 5 pulls frames from the recorder through the
//     owner callback (MEDIA_NOTIFY_RECORD_FRAME) until the owner's stop flag
//     is raised and the recorder has nothing more, and writes MHDR, SAVE,
//     SEEK "start", TERM, then per frame DEFI (object id = frame index
//     modulo 65,536), IHDR, IDAT, IEND, and MEND at the end.
//
// Memory stays bounded while reading: libmng keeps no chunks, and every
// allocation it makes counts against a budget (the frame-size cap unless
// set lower); a file that needs more ends with a clear message. Files laid
// out as the recorder writes them (a DEFI before each image, no chunk that
// shows, copies or moves objects, no LOOP) would make libmng keep every
// frame: they are read with playback caching off and each DEFI handed to
// libmng with object id 0, which reads the same pictures.
//
// Threads: Run and Write block the calling thread. Pause, Resume, Stop and
// SeekToFraction come from other threads while Run plays; they only change
// atomics (the state word, the seek targets and requests) that the display
// loop acts on between libmng calls: libmng itself is called from the
// running thread only.
//
// No Qt here; messages go through platform::ShowMessage.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/media_request.h"
#include "media/dib.h"
#include "media/frame_buffer.h"

namespace ZarnTypes {
struct TDataFrame;  // media/frame_processor.h: the writer's frame request
}

namespace MngMgr {

// The stream's header values, as libmng reports them after the header.
struct TMngStreamInfo {
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  std::int32_t nTicksPerSecond = 0;
  std::int32_t nLayerCount = 0;
  std::int32_t nFrameCount = 0;
  std::int32_t nPlayTime = 0;
  std::int32_t nSimplicity = 0;
};
static_assert(sizeof(TMngStreamInfo) == 28, "seven ints: the stream format keeps them as 28 bytes");

// The block of a MEDIA_REQ_MNG request, copied whole when a request starts;
// the owner's live values are read through the pointers.
struct TMngParams {
  std::int32_t nProcId = 0;         // 41..44 channel readers, 45..48 recorders; others their own
  std::int32_t nWriterOrdinal = 0;  // a recorder's writer ordinal; 0 for readers
  ZarnTypes::TMediaSenderKind eSenderKind = ZarnTypes::MEDIA_SENDER_MNG;
  ZarnTypes::TSourcePurpose ePurpose{};           // 3 or 4 one frame, 6 play, 5 write
  void* pContext = nullptr;                       // first argument of the callback
  std::atomic<bool>* pStopFlag = nullptr;         // stop asked; raised when a request ends
  std::atomic<bool>* pEndFlag = nullptr;          // raised when a request ends
  const std::atomic<bool>* pPauseFlag = nullptr;  // not consulted
  void* pReserved = nullptr;
  // When raised with a non-zero denominator at the start of playing, the
  // reader clears it and seeks to numerator / denominator.
  std::atomic<bool>* pSeekRequest = nullptr;
  const std::atomic<std::int32_t>* pSeekNumerator = nullptr;
  const std::atomic<std::int32_t>* pSeekDenominator = nullptr;
  bool bFlag = false;                                  // set by the callers, not consulted
  const std::atomic<bool>* pRecordingFlag = nullptr;   // not consulted
  ZarnTypes::TMediaOwnerCallback pCallback = nullptr;  // may be null
  // Writing: how many frames are compressed at once (1..8; 0 counts as 1).
  // Files are byte for byte the same whatever the count.
  std::int32_t nCompressionWorkers = 1;
  std::uint8_t reserved[36] = {};
  ZarnTypes::TMediaRequestTag eInfoTag = ZarnTypes::MEDIA_REQ_NONE;  // MEDIA_REQ_MNG_PARAMS: pInfo is valid
  std::int32_t nReserved = 0;
  std::int32_t* pInfo = nullptr;  // seven ints (TMngStreamInfo) filled when there is no callback
};

// Display states.
enum TMngState : std::int32_t {
  MNG_STATE_IDLE = 0,
  MNG_STATE_STOPPED = 1,
  MNG_STATE_RUNNING = 2,
  MNG_STATE_PAUSED = 3,
  MNG_STATE_SEEKING = 6,
};

// How a seek finds its target.
enum TMngSeekMode : std::int32_t {
  MNG_SEEK_NONE = 0,      // no header yet
  MNG_SEEK_BY_FRAME = 1,  // the header counts the frames
  MNG_SEEK_BY_BYTE = 3,   // it does not: a share of the file's bytes
};

// Writer steps.
enum TMngWriterStep : std::int32_t {
  MNG_WRITE_NONE = 0,
  MNG_WRITE_START = 1,
  MNG_WRITE_FRAMES = 2,
  MNG_WRITE_FINISH = 3,
  MNG_WRITE_DONE = 4,
};

// The largest canvas side libmng is allowed (and the reader accepts).
inline constexpr std::int32_t kMaxCanvasSide = 10000;
// libmng's error for a header larger than the canvas limit.
inline constexpr std::int32_t kMngErrorImageTooLarge = 4097;

// Whether frames of this layout and size can be written: 24- and 32-bit
// RGB (27, 28) of 1..10,000 pixels a side within the frame-size cap.
// Otherwise false with a message naming the channel (0..3, as the
// recorder's other messages do).
bool CanWriteFormat(ZarnTypes::TPixelFormat ePixelFormat, std::int32_t nWidth, std::int32_t nHeight,
                    int nChannel, std::string* pMessage);

// The rows of one frame as an MNG image holds them: each row a filter byte
// 0 and red, green, blue per pixel, the top row first. The source is a
// bottom-up frame of format 27 (blue, green, red) or 28 (blue, green, red,
// a fourth byte dropped) with the given stride. pOut holds
// (1 + 3 x width) x height bytes.
void FrameToRows(const std::uint8_t* pFrame, std::int32_t nStride, ZarnTypes::TPixelFormat ePixelFormat,
                 std::int32_t nWidth, std::int32_t nHeight, std::uint8_t* pOut);

// Runs a request of the file dialog's preview (MEDIA_REQ_MNG, purpose 4,
// with the preview's callback) on a reader of its own: the stream
// information once and the first frame go to the callback. Sets the
// request's success.
void RunPreviewRequest(ZarnTypes::TMediaRequest& request);

// What libmng or the reader last reported.
struct TMngError {
  std::int32_t nCode = 0;  // libmng's code; 0 none
  std::string text;        // a sentence for the user
};

class CMngMgr {
 public:
  CMngMgr();
  ~CMngMgr();
  CMngMgr(const CMngMgr&) = delete;
  CMngMgr& operator=(const CMngMgr&) = delete;

  // Read requests (purposes 3, 4, 6). True when the display ran without a
  // libmng error and brought at least one frame (or was stopped before);
  // false otherwise, with the reason shown once and kept (LastError). A
  // request on a busy object: error 38, false, the running one untouched.
  // A file that cannot be opened: error 17. Whenever the request got past
  // its tag and path, the owner's stop and end flags are raised at the end.
  bool Run(ZarnTypes::TMediaRequest* pRequest);
  // The same from bytes in memory instead of the request's path (the fuzz
  // target); the request needs no path.
  bool RunMemory(ZarnTypes::TMediaRequest* pRequest, const std::uint8_t* pData, std::size_t nSize);

  // Write requests (purpose 5, op 3): true when every frame and the closing
  // chunk were written. A layout the writer cannot write is refused before
  // the file is made; a file that cannot be made: error 34. A failure is
  // not shown here: its reason, naming the channel, is in LastError for the
  // recorder to report.
  bool Write(ZarnTypes::TMediaRequest* pRequest);

  // Freezes a running display: 0 (state 3) when it ran, 1 otherwise.
  int Pause();
  // Resumes a paused display (state 3 -> 2): true when it was paused. A
  // stopped display stays stopped.
  bool Resume();
  // Stops a running display: state 1; the loop ends at its next check.
  void Stop();
  // Asks the running display to seek to n / d: by frame when the header
  // counts frames, else by byte. Nothing (true) while a seek runs, for d 0
  // or n equal to d; false before the header. The next frame delivered
  // after the call is marked as a discontinuity either way.
  bool SeekToFraction(std::int32_t nNumerator, std::int32_t nDenominator);

  // Frees the file, the canvas and the writer's buffers and libmng's handle.
  void Close();
  // Back to the state after construction (not while a request runs).
  void Reset();

  bool IsBusy() const { return m_bBusy.load(); }
  std::int32_t GetState() const { return m_nState.load(); }
  std::int32_t GetSeekMode() const { return m_nSeekMode.load(); }
  // Frames refreshed since the start or the last seek's rewind, minus one
  // (the index of the frame shown); -1 before the first.
  std::int64_t GetFrameNumber() const { return m_nRefreshCount.load(); }
  std::int64_t GetFrameCount() const { return m_nFrameCount.load(); }
  // The animation's time of the frame shown, in milliseconds: the sum of
  // the delays of the frames before it (0 before the first).
  std::int64_t GetPositionMs() const { return m_nPositionMs.load(); }
  std::int64_t GetBytesRead() const { return m_nBytesRead.load(); }
  std::int64_t GetFileSize() const { return m_nFileSize.load(); }
  std::int64_t FramesDelivered() const { return m_nFramesDelivered.load(); }
  std::int64_t FramesWritten() const { return m_nFramesWritten; }
  const TMngStreamInfo& StreamInfo() const { return m_Info; }
  const TMngError& LastError() const { return m_Error; }
  // Whether the last read used the bounded layout (object ids rewritten).
  bool ReadAsRecorderLayout() const { return m_bRecorderLayout; }

  // The most bytes libmng may hold at once while reading (0: the frame-size
  // cap). Set before Run.
  void SetMemoryBudget(std::uint64_t nBytes) { m_nBudgetLimit = nBytes; }
  // Playing at the animation's own timing (the default), or with no wait
  // between frames and none before the first: for decoding a whole file as
  // fast as it goes (benchmarks, checks of long files). Set before Run.
  void SetPaced(bool bPaced) { m_bPaced = bPaced; }

  // The largest amount libmng held during the last request.
  std::uint64_t PeakLibraryMemory() const;

  // --- Used by libmng's callbacks (not for callers) ----------------------
  struct TBudget;
  struct TChunkReader;
  bool OnReadData(void* pBuffer, std::uint32_t nLength, std::uint32_t* pRead);
  bool OnWriteData(const void* pBuffer, std::uint32_t nLength, std::uint32_t* pWritten);
  bool OnProcessHeader(std::uint32_t nWidth, std::uint32_t nHeight);
  void* OnGetCanvasLine(std::uint32_t nLine);
  bool OnRefresh();
  bool OnSetTimer(std::uint32_t nMilliseconds);
  bool OnError(std::int32_t nCode, std::int32_t nSeverity, std::uint32_t nChunk, std::int32_t nExtra1,
               std::int32_t nExtra2, const char* pText);

 private:
  bool RunRequest(ZarnTypes::TMediaRequest* pRequest, std::FILE* pFile, bool bPathNeeded);
  bool StartRead(ZarnTypes::TMediaRequest& request);
  bool ApplyReadSettings();
  bool InstallCallbacks(bool bWriting);
  int DisplayLoop();
  int BeginSeek();
  void EndSeek();
  bool DeliverFrame();
  bool PrepareCanvas(std::int32_t nWidth, std::int32_t nHeight);
  bool ScanChunks();
  bool WriterLoop();
  bool WriterStep(const ZarnTypes::TMediaFrameNotice* pFrame);
  bool WriteHeader();
  bool WriteFrameChunks(const std::uint8_t* pCompressed, std::size_t nCompressed);
  bool WriteEnd();
  bool CompressRows(const std::uint8_t* pRows, std::size_t nRows, std::vector<std::uint8_t>& out) const;
  void Fail(std::int32_t nCode, std::string text);
  void RaiseOwnerFlags();
  bool StopRaised() const;
  bool SleepFor(int nMilliseconds);

  std::atomic<bool> m_bBusy{false};
  ZarnTypes::TMediaRequest* m_pRequest = nullptr;
  TMngParams m_Params;
  ZarnTypes::TMediaFrameNotice m_Notice;
  std::unique_ptr<ZarnTypes::TDataFrame> m_pFrameRequest;  // points at m_Notice
  ZarnTypes::TMediaSender m_Sender;

  // The stream record.
  std::FILE* m_pFile = nullptr;
  bool m_bOwnFile = false;
  std::uint32_t m_nTimer = 0;
  std::int32_t m_nCanvasWidth = 0;
  std::int32_t m_nCanvasHeight = 0;
  std::int32_t m_nCanvasStride = 0;
  std::int32_t m_nCanvasBits = 0;
  std::atomic<std::int64_t> m_nRefreshCount{-1};
  std::int64_t m_nRefreshTotal = 0;  // every refresh of the request, seeks included
  bool m_bDeliveryFailed = false;
  std::atomic<std::int64_t> m_nFrameCount{0};
  std::atomic<std::int64_t> m_nPositionMs{0};
  std::int64_t m_nElapsedMs = 0;  // delays of the frames refreshed so far

  TMngStreamInfo m_Info;
  void* m_hMng = nullptr;  // mng_handle
  bool m_bHeaderSeen = false;
  Dib::TBitmapInfoHeader m_CanvasHeader;
  ZarnTypes::TFrameBuffer m_Canvas;
  ZarnTypes::TScanlineBuffer m_Rows;
  std::vector<std::uint8_t> m_Compressed;
  bool m_bSingleFrame = true;
  bool m_bInfoSent = false;
  std::atomic<std::int64_t> m_nFramesDelivered{0};
  std::atomic<std::int32_t> m_nState{MNG_STATE_IDLE};
  std::atomic<std::int32_t> m_nSavedState{MNG_STATE_IDLE};
  std::atomic<bool> m_bStopAsked{false};
  bool m_bDeliver = true;
  std::atomic<std::int64_t> m_nFileSize{0};
  std::atomic<std::int64_t> m_nBytesRead{0};
  std::atomic<std::int32_t> m_nSeekMode{MNG_SEEK_NONE};
  std::atomic<std::int64_t> m_nSeekTargetFrame{-1};
  std::atomic<std::int64_t> m_nSeekTargetByte{-1};
  std::atomic<bool> m_bSeekPending{false};
  std::atomic<bool> m_bSeeking{false};
  std::atomic<bool> m_bMarkNextFrame{false};
  std::int32_t m_nWriterStep = MNG_WRITE_NONE;
  std::int64_t m_nFramesWritten = 0;
  std::int64_t m_nNextObjectId = -1;

  // Bounded reading.
  bool m_bRecorderLayout = false;
  std::unique_ptr<TChunkReader> m_pChunks;
  std::unique_ptr<TBudget> m_pBudget;
  std::uint64_t m_nBudgetLimit = 0;
  bool m_bPaced = true;

  TMngError m_Error;
  bool m_bLibraryError = false;
};

}  // namespace MngMgr
