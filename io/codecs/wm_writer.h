#pragma once
// The Windows Media writer job of a recording channel: it runs on the
// recorder's writer thread, asks the recorder for frames through the owner
// callback (MEDIA_NOTIFY_RECORD_FRAME), keeps those the channel's frame
// sampling takes and writes them into one Windows Media file through an
// encoder sink.
//
// The sink comes from an installable factory, as media-graph sessions do:
// the GStreamer sink of tovrin_dshow installs itself (UseMediaGraph); a
// program without it, and the ThreadSanitizer builds, get a sink that fails
// to open, so the job and the recorder build, link and are tested without
// GStreamer.
//
// No Qt here. The document copies the channel's settings on the UI thread
// and hands them to the job by value in its block: the writer thread never
// asks the document for anything.
//
// Sample times: each written frame carries its own time, relative to the
// first frame written (a recording that starts in the middle of a file
// starts at 0), strictly increasing; a frame without a time, or whose time
// is not after the last one written, takes the last time plus one frame
// period.
//
// Ending: the job ends when the stop flag is raised and the recorder has no
// more frame to give; it first writes what it can still pull, then finishes
// the file. A frame that could not be written makes the file incomplete: the
// job then answers false (error 18) and its result block says how many
// frames were written and lost.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "io/codecs/save_stream.h"
#include "io/media_request.h"
#include "media/frame_buffer.h"
#include "media/frame_processor.h"

namespace WmWriter {

// Windows Media profile versions the writer knows; any other becomes
// kWmProfileVersionDefault.
inline constexpr std::int32_t kWmProfileVersion4 = 0x40000;
inline constexpr std::int32_t kWmProfileVersion7 = 0x70000;
inline constexpr std::int32_t kWmProfileVersionDefault = 0x80000;
inline constexpr std::int32_t kWmProfileVersion9 = 0x90000;
std::int32_t NormaliseProfileVersion(std::int32_t nVersion);

// 100-ns units per second (the sample time unit of Windows Media files).
inline constexpr std::int64_t kTimeUnitsPerSecond = 10'000'000;

// What the job uses of the channel's recording settings, copied by the
// document on the UI thread.
struct TWmChannelSettings {
  ZarnTypes::TSamplingRecord sampling;
  std::int32_t nProfileVersion = kWmProfileVersionDefault;
  // "Create a new profile according to the features of input streams":
  // carried to the writer, which builds one video stream from the input
  // either way, so it changes nothing in the file.
  bool bCustomProfile = true;
  // A profile of DShowMgr::WmProfileTable(): its video rate chooses the
  // encoder's quantizer range; zero: none chosen (the full range).
  std::array<std::uint8_t, 16> profileId{};
};

// Filled by the job when it ends (the caller's record).
struct TWmJobResult {
  std::int64_t nFramesPulled = 0;   // frames the recorder gave
  std::int64_t nFramesSkipped = 0;  // left out by the frame sampling
  std::int64_t nFramesWritten = 0;
  std::int64_t nFramesLost = 0;  // kept by the sampling but not in the file
  bool bFileFinished = false;    // the file was closed as a complete stream
  std::string message;           // why the job failed or the file is incomplete; empty otherwise
};

// The block of a MEDIA_REQ_WM_JOB request. The job copies it when it starts;
// the flags are read through their pointers while it runs.
struct TWmJobParams {
  std::int32_t nProcId = 0;         // the recorder's ProcID (45..48)
  std::int32_t nThreadOrdinal = 0;  // the recorder's writer ordinal
  ZarnTypes::TMediaSenderKind eSenderKind = ZarnTypes::MEDIA_SENDER_RECORDER;
  ZarnTypes::TSourcePurpose ePurpose = ZarnTypes::SRC_WRITE_STREAM;  // 5 write; 8 true without work
  void* pContext = nullptr;                                          // first argument of the callback
  const std::atomic<bool>* pStopFlag = nullptr;    // input ended: drain, finish the file, end
  const std::atomic<bool>* pFinishFlag = nullptr;  // not consulted here
  const std::atomic<bool>* pPauseFlag = nullptr;   // not consulted here
  ZarnTypes::TMediaOwnerCallback pCallback = nullptr;
  std::string outputFile;  // the file to write; empty: the request's output path
  std::int32_t nFrameRate = 30;
  bool bHaveSettings = false;  // false: the document gave no settings (the job fails)
  TWmChannelSettings settings;
  std::int32_t nChannel = 0;        // 0..3
  TWmJobResult* pResult = nullptr;  // may be null
};

// The frame record handed to the recorder with MEDIA_NOTIFY_RECORD_FRAME: a
// TDataFrame whose data pointer points at the job's TMediaFrameNotice. On a
// true answer the notice describes a frame (pixel format, width, height,
// RGB data and size, time in seconds, frame number), valid until the next
// request; the recorder may also fill the record's own fields.
using TWmFrameRequest = ZarnTypes::TDataFrame;
// The notice a frame request points at (what the recorder fills).
inline ZarnTypes::TMediaFrameNotice* RecordFrameNotice(TWmFrameRequest* pRequest) {
  return pRequest ? reinterpret_cast<ZarnTypes::TMediaFrameNotice*>(pRequest->pData) : nullptr;
}
// Points a frame request at a notice.
inline void PointRecordFrameAt(TWmFrameRequest* pRequest, ZarnTypes::TMediaFrameNotice* pNotice) {
  pRequest->pData = reinterpret_cast<std::uint8_t*>(pNotice);
}

// ---------------------------------------------------------------------------
// The encoder sink

// What a sink is opened with.
struct TWmSinkFormat {
  std::string path;
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  ZarnTypes::TPixelFormat ePixelFormat = ZarnTypes::PF_RGB32;  // PF_RGB24 or PF_RGB32
  std::int32_t nStride = 0;      // bytes per row: bottom-up rows padded to 4 bytes
  std::int32_t nFrameRate = 30;  // frames per second of the stream
  std::int32_t nProfileVersion = kWmProfileVersionDefault;
  std::int32_t nVideoBitRate = 0;  // bits per second the profile asks for; 0: the encoder's own
  std::int32_t nQuantizerMin = 2;  // the encoder's quantizer range (see WmQuantizerRange)
  std::int32_t nQuantizerMax = 31;
  std::int32_t nKeyFrameSpacing = 150;  // frames between key frames
  // The job's stop flag: a write that waits for room ends when it is raised
  // and the encoder has taken nothing for a while.
  const std::atomic<bool>* pStopFlag = nullptr;
};

class IWmSink {
 public:
  virtual ~IWmSink() = default;
  // Creates the file and starts the encoder. False with LastError set.
  virtual bool Open(const TWmSinkFormat& format) = 0;
  // Writes one frame (bottom-up rows as opened, nSize bytes) at a time and
  // for a duration in 100-ns units. Waits while the encoder is behind. False
  // when the encoder failed or stopped taking frames: the frame is not in
  // the file, nor will later ones be.
  virtual bool Write(const std::uint8_t* pData, std::size_t nSize, std::int64_t nTime,
                     std::int64_t nDuration) = 0;
  // Ends the stream and closes the file; true when the file was completed.
  virtual bool Finish() = 0;
  virtual std::string LastError() const = 0;
};

using TWmSinkFactory = std::unique_ptr<IWmSink> (*)();
// Installs the factory of encoder sinks (null: sinks that fail to open).
void SetWmSinkFactory(TWmSinkFactory pFactory);
// A new sink of the installed kind.
std::unique_ptr<IWmSink> MakeWmSink();
// A sink that cannot open ("no Windows Media encoder in this program").
std::unique_ptr<IWmSink> MakeUnavailableWmSink();

// The encoder's quantizer range that comes nearest a profile's video bit
// rate (measured on the 640 x 480 moving test picture of the Windows Media
// writer's benchmark, where each profile's target and achieved rate are
// printed too); 0 gives the encoder's full range. The rates are approximate:
// the encoder has no rate control, and the rate follows the picture.
struct TWmQuantizerRange {
  std::int32_t nMin = 2;
  std::int32_t nMax = 31;
};
TWmQuantizerRange WmQuantizerRange(std::int32_t nBitRate);

// ---------------------------------------------------------------------------
// The job

// The sink format a job block and request ask for: false with a message
// when they cannot be written (a channel of another layout than 24- or
// 32-bit RGB, no size, no file, an unknown profile).
bool MakeSinkFormat(const ZarnTypes::TMediaRequest& request, const TWmJobParams& params,
                    TWmSinkFormat* pFormat, std::string* pMessage);

// The time of a sample in 100-ns units from its frame's time in seconds.
class CSampleClock {
 public:
  explicit CSampleClock(std::int32_t nFrameRate);
  // The time of the next frame written: its own, relative to the first
  // frame written, or the last plus one period when it has none or is not
  // after the last.
  std::int64_t Next(double dFrameTime);
  std::int64_t Period() const { return m_nPeriod; }

 private:
  std::int64_t m_nPeriod;
  bool m_bFirst = true;
  bool m_bOrigin = false;
  double m_dOrigin = 0.0;  // seconds: the frame time that is sample time 0
  std::int64_t m_nLast = 0;
};

class CWmWriter {
 public:
  CWmWriter() = default;
  CWmWriter(const CWmWriter&) = delete;
  CWmWriter& operator=(const CWmWriter&) = delete;

  // Runs one job; see ConvertToWindowsMedia. A job already running on this
  // writer: error 37, false, nothing else touched.
  bool Run(ZarnTypes::TMediaRequest* pRequest);
  bool IsBusy() const { return m_bBusy.load(); }

 private:
  bool WriteJob(ZarnTypes::TMediaRequest& request, TWmJobResult& result);

  std::atomic<bool> m_bBusy{false};
  TWmJobParams m_Params;
  ZarnTypes::TMediaSender m_Sender;
};

// The job (op 3, tag MEDIA_REQ_WM_JOB): purpose 5 writes the file, purpose
// 8 answers true without work. False with error 18 for a wrong tag, another
// purpose, no settings, a channel outside 0..3, a layout the encoder cannot
// take, an encoder that cannot start, or a file left incomplete.
bool ConvertToWindowsMedia(ZarnTypes::TMediaRequest* pRequest);

}  // namespace WmWriter
