#pragma once
// The stream recorder of one channel: its recording settings (output format,
// single file or one file per frame, the parts of the output names, the
// per-format encoder settings) and, while a session records, its output.
//
// Every media document embeds four recorders (channel 0..3). By the output
// stream type and the single-file switch a recording is:
//   - one file per frame (single file off): the recorder opens nothing; the
//     document writes each frame under GetOutputFileName(frame number);
//   - one raw YUV file (single file on, a YCbCr layout): Open creates the
//     file and the document appends each frame with WriteDibSectionYuv (per
//     frame) or WriteBitmapYuv (a reference picture);
//   - AVI, ASF, WMA, and WMV without "Enable custom sampling in writer"
//     (m_bWindowsMedia) on a capture device: nothing is opened here; the
//     device records inside its own graph. Any other source has no such
//     graph: AVI, ASF and WMA are refused when the recording starts, with a
//     message naming the channel, and no file is made;
//   - WMV of any other source, and of a capture device with the custom
//     sampling on (24- and 32-bit RGB channels): Open starts the frame
//     pipeline (a CFrameProcessor) and a writer thread that runs the Windows
//     Media job; the engine pushes the channel's frames into the pipeline
//     (PushFrame) and the job pulls them out (PullFrame, through the owner
//     callback) and encodes them. The custom-sampling switch decides only
//     whether the channel's frame sampling applies (clear: every frame);
//   - MNG (24- and 32-bit RGB channels): the same pipeline and writer
//     thread, running the MNG writer (MngMgr::CMngMgr::Write) instead; a
//     sample-number interval (sampling mode 3) keeps only the frames of its
//     range (InFrameRange), every other mode keeps every frame.
//
// The frame pipeline. Every recorder pushes its channel's frames as writer 1
// of its own processor, which is the writer its thread reads. A file source
// runs the processor blocking: a push into full rings waits for room (the
// producer slows to the writer's pace) and no frame is lost. A live source (a
// capture device) never waits: a frame without room is dropped and counted
// (FramesDropped), and the end of the recording names the channel and the
// count. The job count is raised before the writer thread starts and lowered
// when it ends. The end of a recording runs in this order: the input ends
// (the session's stop flag, or Close), the writer takes every frame the
// pipeline still holds and finishes the file, and only then the processor's
// buffers are freed.
//
// Settings are plain public members. The document keeps them in its saved
// block (the 288-byte recorder record and the channel's naming strings) and
// maps them field by field:
//   record flag          -> the document's own per-channel flag, not here
//   single file          -> m_bSingleFile
//   first / second digits-> m_nFirstWidth / m_nSecondWidth
//   sampling             -> m_Sampling (mode, times, frames)
//   numbered-name flag   -> m_bFirstNumber
//   output format        -> m_eOutputFormat (SetOutputFileFormat also sets
//                           m_eOutputStreamType)
//   JPEG quality, JPEG 2000, PNG, GIF, TIFF blocks, the 12-byte AVI block
//                        -> m_Encoder (nJpegQuality, jpeg2000, png, gif,
//                           tiff, nAviValue / bAviFlag / nAviValue2)
//   the 48-byte Windows Media block (the image of the Windows Media page's
//   block from its format on: the format copy, a reserved int, the profile
//   id at 8, the custom-sampling flag at 24, the new-profile flag at 32)
//                        -> m_Encoder.nWmValue / nWmValue2, m_WmProfileGuid,
//                           m_bWindowsMedia, m_bWmEmptyProfile; the profile
//                           version and the duration in the reserved bytes
//                           after the new-profile flag (36, 40); bWmFlag is
//                           not stored
//   picture-in-picture, pane layout -> m_bPictureInPicture, m_bPaneLayout
//   naming strings: single-file name -> m_sSingleFileName, output folder ->
//                           m_sOutputFolder, title -> m_sTitle, prefix ->
//                           m_sPrefix, suffix -> m_sSpareName2 (not part of
//                           the numbered names), extension -> m_sExtension
//
// Threads: settings are written by their owner while nothing records. Open,
// Close and the pause switch run on the controlling threads (session, UI),
// the YUV writers on the frame-delivery thread; the open / recording /
// pipeline flags are atomics, and opening, appending to and closing the
// output file happen under one recorder lock. Nothing here uses Qt.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "io/codecs/save_picture.h"
#include "io/media_request.h"
#include "media/dib.h"
#include "media/file_types.h"
#include "media/frame_buffer.h"
#include "media/frame_processor.h"
#include "media/yuv_frame.h"

namespace ImageColorConversion {
class CImageColorConversion;
}
namespace WmWriter {
struct TWmChannelSettings;
}

namespace ProcessingNode {

// ProcIDs run 0..48.
inline constexpr std::int32_t kProcIdCount = 49;

// Maps the ProcIDs of a pipeline's inputs to their order (1-based, 0 for
// none) and counts the writer threads started.
class CProcessingNode {
 public:
  // Input count 0, threads started 0, table cleared.
  void ResetNode();
  // Gives the ProcID the next order (table[procId] = ++input count). False,
  // nothing changed, for a ProcID outside 0..48 or one already listed.
  bool AddInput(std::int32_t nProcId);
  // The order of a ProcID; 0 when it is not an input or out of range.
  std::int32_t InputOrder(std::int32_t nProcId) const;

  std::int32_t m_nInputCount = 0;
  std::int32_t m_nThreadsStarted = 0;
  std::array<std::int32_t, kProcIdCount> m_nInputOrder{};
};

}  // namespace ProcessingNode

namespace ZarnTypes {

// Which frames a recording takes (read by the Windows Media writer; the
// per-frame writer reads the mode and the frame range).
struct TSamplingRecord {
  std::int32_t nMode = 1;  // 1 all frames, 2 by time, 3 by frame number
  std::int32_t nReserved = 0;
  double dStartTime = 0;  // seconds
  double dEndTime = 0;
  double dStepTime = 0;
  std::int64_t nStartFrame = 0;
  std::int64_t nEndFrame = 0;
  std::int64_t nStepFrame = 0;
};
static_assert(sizeof(TSamplingRecord) == 56, "the sampling record is kept whole with the settings");

// Whether a recording that writes every frame of a range (separate files,
// raw YUV, MNG) takes the frame numbered `nFrame`: in mode 3 (a sample-number
// interval) only frames from the start frame to the end frame, each bound
// used only when it is above 0; every other mode takes every frame.
bool InFrameRange(const TSamplingRecord& sampling, std::int64_t nFrame);

}  // namespace ZarnTypes

namespace SaveStream {

// The ProcIDs of the recorders (channel + 45) and of the channel readers
// whose frames they take (41..44).
inline constexpr std::int32_t kFirstRecorderProcId = 45;
inline constexpr std::int32_t kFirstReaderProcId = 41;
inline constexpr std::int32_t kChannelCount = 4;
// Room for input ProcIDs in the session record.
inline constexpr std::int32_t kSessionInputCapacity = 64;

// The recorder's per-format encoder settings (160 bytes), exchanged whole
// with the settings page, in field order, with their defaults.
struct TStreamEncoderSettings {
  std::int32_t nJpegQuality = 80;
  ZarnTypes::TJpeg2000Settings jpeg2000{.nFileFormat = 0,
                                        .bReserved1 = 1,
                                        .nColorSpace = ZarnTypes::J2K_CS_RGB,
                                        .nBitDepth = 8,
                                        .bReserved2 = 0,
                                        .nPaletteKind = 3,
                                        .nColorBits = 6,
                                        .nCompressionMode = ZarnTypes::J2K_MODE_JP2,
                                        .nQuality = 300};
  PngMgr::TPngSettings png{.nFileFormat = 0};
  ZarnTypes::TGifSettings gif;
  ZarnTypes::TTiffSettings tiff{.nReserved = 0, .bReserved1 = 1};
  // The AVI block: kept for the settings page.
  std::int32_t nAviValue = 0;
  std::uint8_t bAviFlag = 0;
  std::int32_t nAviValue2 = 1;
  // The head of the Windows Media block: kept for the settings page.
  std::int32_t nWmValue = 0;
  std::int32_t nWmValue2 = 10;
  std::uint8_t bWmFlag = 0;

  // The still writers' settings for a picture of `format` (TFileFormat).
  ZarnTypes::TEncoderSettings ToEncoderSettings(std::int32_t format) const;
};
static_assert(sizeof(TStreamEncoderSettings) == 160, "the encoder settings are exchanged whole");

// Written by the engine at each session start, before Open (cleared at
// construction). MakeSession fills it the way the engine does.
struct TSaveStreamSession {
  std::int32_t nProcId = 0;  // the recorder's ProcID: channel + 45
  ZarnTypes::TMediaSenderKind eSenderKind = ZarnTypes::MEDIA_SENDER_NONE;  // MEDIA_SENDER_RECORDER
  ZarnTypes::TSourcePurpose ePurpose{};                                    // SRC_WRITE_STREAM
  std::array<std::int32_t, kSessionInputCapacity> nInputProcIds{};         // 41, 42, 43, 44
  std::int32_t nInputCount = 0;                                            // 4
  void* pContext = nullptr;                                                // the engine
  std::atomic<bool>* pStopFlag = nullptr;                                  // the recorder's slot stop flag
  std::atomic<bool>* pFinishFlag = nullptr;                                // its end flag
  std::atomic<bool>* pPauseFlag = nullptr;                                 // the engine's pause
  std::uint8_t bFlag = 0;                                                  // 1
  ZarnTypes::TMediaOwnerCallback pCallback = nullptr;
  std::int32_t nWidth = 0;  // the channel's frame size and layout
  std::int32_t nHeight = 0;
  ZarnTypes::TPixelFormat ePixelFormat = ZarnTypes::TPixelFormat{0};
};

// The session record of channel `nChannel` (0..3): ProcID channel + 45,
// sender kind 24, purpose 5, inputs 41..44 (count 4), flag byte 1, and the
// given context, flags, callback and frame layout.
TSaveStreamSession MakeSession(std::int32_t nChannel, void* pContext, std::atomic<bool>* pStopFlag,
                               std::atomic<bool>* pFinishFlag, std::atomic<bool>* pPauseFlag,
                               ZarnTypes::TMediaOwnerCallback pCallback, std::int32_t nWidth,
                               std::int32_t nHeight, ZarnTypes::TPixelFormat ePixelFormat);

class CSaveStream;

// What the writer thread is started with: 0, the recorder, its ProcID, the
// thread ordinal, 3.
struct TWriterThreadRecord {
  std::int32_t nZero = 0;
  CSaveStream* pRecorder = nullptr;
  std::int32_t nProcId = 0;
  std::int32_t nThreadOrdinal = 0;
  std::int32_t nThree = 3;
};

// The writer thread's body: -1 when the record or its recorder is missing or
// the ProcID is not a recorder's (45..48); else runs the recorder's job and
// answers 0. The job count is the starter's (raised before the thread
// starts, lowered after this returns).
int RunSaveStreamJob(TWriterThreadRecord* pRecord);

// Frames the writer pipeline holds: scenes in the scene ring, frames in the
// frame ring (three scenes of 30).
inline constexpr std::int32_t kPipelineScenes = 100;
inline constexpr std::int32_t kPipelineFrames = 90;
// The writer number every recorder gives its channel's frames, and the
// reader number of its writer thread.
inline constexpr std::int32_t kPipelineWriter = 1;
inline constexpr std::int32_t kPipelineReader = 1;

class CSaveStream : public ProcessingNode::CProcessingNode {
 public:
  explicit CSaveStream(std::int32_t nChannel = 0);
  virtual ~CSaveStream();
  CSaveStream(const CSaveStream&) = delete;
  CSaveStream& operator=(const CSaveStream&) = delete;

  // Starts a recording by the output stream type (see the top of the file).
  // True with nothing opened for separate files, and for what a capture
  // device records in its own graph (the open and recording flags stay
  // clear). AVI, ASF and WMA of a source without such a graph are refused
  // with a message naming the channel ("... AVI, ASF and WMA files are
  // recorded only from capture devices ..."), whatever the single-file
  // switch.
  // A YCbCr layout opens m_sSingleFileName (created or emptied) and sets the
  // open and recording flags. WMV with the Windows Media writer starts the
  // frame pipeline and the writer thread for the session record's frame
  // layout, once the settings were handed over; a channel of another layout
  // than 24- or 32-bit RGB, no settings, no file name or a pipeline that
  // cannot start are refused with a message naming the channel, before any
  // file is made; MNG likewise, without settings. Refused (false):
  // FLV, SWF, MOV, every
  // type without a single-file writer, and an output file that cannot be
  // opened (the message "Open "Save Sequence" channel <n> ... disabled").
  // Only a regular file (or a new one) is opened; a folder or FIFO at the
  // path is refused without being touched. An open recorder is closed first.
  bool Open();
  // Ends the recording: clears the open and recording flags and closes the
  // output file. With the frame pipeline: the input ends, the writer takes
  // what the pipeline holds and finishes its file, the thread is joined,
  // and only then the processor frees its buffers; frames dropped on the
  // way are reported, naming the channel and the count. True when nothing
  // was open. False when closing the file failed (a message with the
  // system's error text is shown).
  bool Close();

  // Pause (false) and resume (true) of an open recording; the file stays
  // open and later frames go on at its end. False, nothing changed, when the
  // recorder is not open.
  bool SetRecording(bool bRecording);
  bool IsOpen() const { return m_bOpen.load(); }
  bool IsRecording() const { return m_bRecording.load(); }
  bool IsPipelineRunning() const { return m_bPipelineRunning.load(); }

  // Sets the output TFileFormat and the stream type that goes with it.
  void SetOutputFileFormat(std::int32_t eFileFormat);

  // The engine's step at each session start: m_sSingleFileName = folder,
  // prefix and title, then "_" and the session number in the first width
  // when the first-number flag is set, then the extension. False, with the
  // name cleared, when the name cannot be built (a width outside 0..32).
  bool BuildSingleFileName();

  // The file a frame is written to: in single-file mode the single-file
  // name; otherwise folder, prefix and title, "_" session number in the
  // first width (only with the first-number flag), "_" frame number in the
  // second width, extension (defaults: "<prefix><title>_000_00012"); the
  // frame number is always there, so no frame overwrites another. The text is
  // kept in the recorder (m_sLastName) until the next call; null when the
  // name cannot be built. Call from one thread at a time.
  const char* GetOutputFileName(std::int32_t nFrameNumber);

  // Appends one 24- or 32-bit picture (either row order) to the open raw
  // YUV file, converted to the output format's layout. WriteBitmapYuv (a
  // reference picture the user saves) writes whenever the file is open,
  // paused or not; WriteDibSectionYuv (the per-frame writer) only while the
  // recording is open and on. False, nothing written: another depth, an
  // output format without a YCbCr layout, no open file (or paused, for
  // WriteDibSectionYuv). A failed or short write leaves the file as it was
  // before the frame (only whole frames) and answers false without a
  // message: the caller reports.
  bool WriteBitmapYuv(const Dib::TDibSection& bitmap);
  bool WriteDibSectionYuv(const Dib::TDibSection& section);

  // The UI thread's hand-over before a session (or the recording command)
  // opens the recorder: the Windows Media writer's settings are copied from
  // the recorder's own (sampling, profile), and whether the channel's source
  // is a capture device: live (frames are dropped rather than waited for),
  // and able to record AVI, ASF, WMA, and WMV without the custom sampling,
  // inside its own graph. The writer thread uses the copy only.
  void HandOverSessionSettings(bool bCaptureDevice);
  // The same with the settings given (tests).
  void HandOverSessionSettings(const WmWriter::TWmChannelSettings& settings, bool bCaptureDevice);
  // The settings the recorder's own members give the Windows Media writer:
  // the channel's sampling only with "Enable custom sampling in writer"
  // (m_bWindowsMedia), otherwise every frame; the profile and its flags as
  // they are.
  WmWriter::TWmChannelSettings WindowsMediaSettings() const;
  // Whether the output format is recorded inside a capture device's graph
  // for a channel whose source is (or is not) a capture device: AVI, ASF,
  // WMA, and WMV without the custom sampling, of a capture device.
  bool RecordsInCaptureGraph(bool bCaptureDevice) const;

  // The producer's call per frame of the channel (its ProcID, one of the
  // session's inputs): true when the frame is in the pipeline. False when
  // the pipeline does not run, the recording is closed or paused, the
  // input has ended (the session's stop or finish flag, Close, or a job
  // that ended), the frame lies outside an MNG recording's frame range
  // (InFrameRange with m_Sampling, taken at Open; not counted as dropped),
  // or the frame could not be stored; a frame of a recording that was
  // refused for want of room (live) or that does not fit the pipeline
  // counts as dropped. A blocking push waits for room and ends with the
  // input. A frame without a frame number (0, not a file index) takes the
  // count of frames offered so far.
  bool PushFrame(std::int32_t nProcId, const ZarnTypes::TMediaFrameNotice* pFrame);
  // The writer job's request (MEDIA_NOTIFY_RECORD_FRAME through the
  // engine): fills the notice the TDataFrame points at (and the record's own
  // numbers, time) with the next frame of the pipeline, waiting a little for
  // one. False without a frame; once the session's stop flag is seen the
  // job's own stop is raised, so it takes what is left and finishes.
  bool PullFrame(const ZarnTypes::TMediaSender* pSender, ZarnTypes::TDataFrame* pFrame);

  // Frames of this recording dropped so far (live sources, frames that did
  // not fit); kept after Close until the next Open.
  std::int64_t FramesDropped() const { return m_nDropped.load(); }
  // Frames stored into the pipeline so far.
  std::int64_t FramesQueued() const { return m_nQueued.load(); }
  // True while the writer thread runs its job.
  bool IsWriterRunning() const { return m_bJobRunning.load(); }
  // Whether the last writer job succeeded, and its message (empty on
  // success); kept until the next Open.
  bool LastJobSucceeded() const;
  std::string LastJobMessage() const;
  // Frames the last job wrote into its file.
  std::int64_t LastJobFramesWritten() const;

  // The still writers' settings for the output format, for the per-frame
  // writer's SavePicture::SaveImageByFormat.
  ZarnTypes::TEncoderSettings GetEncoderSettings() const {
    return m_Encoder.ToEncoderSettings(m_eOutputFormat);
  }

  // Settings (see the top of the file for the saved fields they map to).
  std::int32_t m_nChannel = 0;     // 0..3, set by the document
  void* m_pOwnerWindow = nullptr;  // the controller pane, set by the pane
  bool m_bSingleFile = false;
  std::string m_sSingleFileName;  // rebuilt at every session start
  std::string m_sOutputFolder;
  std::string m_sSpareName1;  // kept for the settings page
  std::string m_sTitle;
  std::string m_sPrefix;
  std::string m_sSpareName2;        // kept for the settings page
  std::string m_sExtension;         // default: the extension of TFileFormat 1 ("")
  std::int32_t m_nFirstWidth = 3;   // digits of the session number
  std::int32_t m_nSecondWidth = 5;  // digits of the frame number
  std::string m_sSpareString;       // kept
  std::string m_sLastName;          // the last numbered name built
  ZarnTypes::TSamplingRecord m_Sampling;
  bool m_bFirstNumber = true;         // numbered names carry the session number
  std::int32_t m_nSessionNumber = 0;  // replaced at every session start
  std::int32_t m_nRecordingNumber = 0;
  ZarnTypes::TStreamType m_eOutputStreamType = ZarnTypes::ST_NULL_STREAM;
  ZarnTypes::TFileFormat m_eOutputFormat = ZarnTypes::FF_NULL_STREAM;
  const ImageColorConversion::CImageColorConversion* m_pColorConversion = nullptr;  // the document's
  TStreamEncoderSettings m_Encoder;
  std::array<std::uint8_t, 16> m_WmProfileGuid{};  // zero: none chosen
  // "Enable custom sampling in writer": a capture device's WMV goes through
  // the recorder's own writer, and the writer applies m_Sampling.
  bool m_bWindowsMedia = false;
  std::int32_t m_nWmProfileVersion = 0x80000;
  bool m_bWmEmptyProfile = true;  // "Create a new profile according to the features of input streams"
  std::int64_t m_nDuration = -1;
  std::int32_t m_nReserved15 = 15;   // not used by the recorder
  bool m_bPictureInPicture = false;  // read by the per-frame writer
  bool m_bPaneLayout = false;
  TSaveStreamSession m_Session;

  // Internal steps of Open and Close for the pipeline types (see Open).
  bool StartFramePipeline();
  bool RunJob();
  bool RunWindowsMediaJob();
  bool RunMngJob();
  bool NotifyThreadStarted();

 private:
  struct TWriterJob;
  // Ends the input, lets the writer drain and finish, joins it, then frees
  // the processor; a message names dropped frames. Under m_FileLock.
  void StopFramePipeline(std::string& message);
  // The input ends: PushFrame refuses and a waiting push returns.
  void CloseInput();
  // Raises the job's stop (the session's stop flag and the recorder's own).
  void RaiseWriterStop();
  bool InputStopped() const;
  void EndJob(bool bOk);

  // Under m_FileLock; a message for the user is handed back, to be shown
  // once the lock is released.
  bool OpenLocked(std::string& message);
  bool CloseLocked(std::string& message);
  bool OpenOutputFile(std::string& message);
  bool CloseOutputFile(std::string& message);
  // Converts and appends under m_FileLock; bNeedRecording: only while on.
  bool AppendPicture(const Dib::TDibSection& picture, bool bNeedRecording);

  std::atomic<bool> m_bOpen{false};
  std::atomic<bool> m_bRecording{false};
  std::atomic<bool> m_bPipelineRunning{false};
  std::mutex m_FileLock;
  int m_nFile = -1;                       // the raw YUV output file
  ZarnTypes::TFrameBuffer m_RgbFrame;     // the picture, 32-bit bottom-up; reused
  ZarnTypes::TYuvFrameBuffer m_YuvFrame;  // the converted frame; reused

  // The pipeline.
  FrameProcessor::CFrameProcessor m_Processor;
  std::thread m_WriterThread;
  TWriterThreadRecord m_ThreadRecord;
  std::unique_ptr<TWriterJob> m_pJob;                           // the job's request and block, made by Open
  std::unique_ptr<WmWriter::TWmChannelSettings> m_pWmSettings;  // handed over; null: none yet
  bool m_bLiveSource = false;                                   // handed over: a capture device
  ZarnTypes::TSamplingRecord m_PushRange;   // the frame range PushFrame applies, set by Open
  std::atomic<bool> m_bAcceptInput{false};  // PushFrame may store
  std::atomic<bool> m_bWriterStop{false};   // the job's stop: input ended, drain, finish
  std::atomic<bool> m_bJobRunning{false};
  std::atomic<std::int32_t> m_nActivePushes{0};
  std::atomic<std::int64_t> m_nOffered{0};
  std::atomic<std::int64_t> m_nQueued{0};
  std::atomic<std::int64_t> m_nDropped{0};
  mutable std::mutex m_JobLock;  // the last job's outcome
  bool m_bJobOk = true;
  std::string m_sJobMessage;
  std::int64_t m_nJobWritten = 0;
};

}  // namespace SaveStream
