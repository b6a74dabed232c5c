#pragma once
// The channel reader: the source reader of one channel of a media document.
//
// Every media document embeds four readers, one per channel. When a session
// plays, the engine's channel-process thread binds the channel's reader to
// the channel's source record (SetSource), hands it its delivery fields by
// value (SetDelivery) and calls Run() in that thread; Run returns when the
// source is finished, stopped or failed. The reader plays a source in one of
// three ways, chosen by the stream type (GetReadPath):
//
//   - MNG animations through its MNG player (PlayMng);
//   - video and audio files and capture devices through its media-graph
//     session (PlayDirectShow);
//   - still images, folders of stills read as a sequence and raw YUV files
//     through its own frame loop (RunReadSequence), which hands each frame to
//     the engine's frame callback.
//
// The frame loop has no pause of its own: the engine's frame callback holds
// the reader thread while the channel is paused, waits at its frame limit or
// the decoded-picture buffer is full, and every such wait ends on the stop.
// The loop polls the stop and end flags (atomics owned by the engine)
// between frames; it never blocks anywhere else. So a single still is
// delivered again and again until the engine stops the channel, a raw YUV
// file frame by frame until its end, a sequence once per file.
//
// The reader also answers the document's navigation requests for the first,
// last, previous and next file of a file's folder (FindSiblingFile), in the
// channel's file-type and sort modes.
//
// Threads and ownership of the fields:
//   - the source description (SetDescription / Description) belongs to the
//     UI thread while the channel does not play and to the reader thread
//     while it does: the document's loaders write it only while no session
//     runs, and the session's thread start and join order the hand-over;
//   - the delivery fields are copied into the reader by SetDelivery on the
//     reader thread before Run and used only there;
//   - the frame range, the file-type and sort modes, the seek request, the
//     sound switch and the volume are atomics: the engine reads the frame
//     range on the reader thread and a playing media-graph session reads the
//     seek request and the sound settings, while the UI thread writes them;
//   - the controls of a playing session (pause, resume, stop, position,
//     seek, volume, sound) dispatch on a copy of the stream type that
//     SetDescription and SetSource publish, and the session takes its own
//     locks;
//   - the current file is shared by the loop (reader thread) and the
//     navigation (UI thread) under a lock; each keeps its working state
//     (path parts, pattern, finder, folder list) to itself.
//
// The reader is Qt-free; its messages go through platform::ShowMessage,
// which never blocks a worker thread.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "io/codecs/gif_mgr.h"
#include "io/codecs/jpeg2000_mgr.h"
#include "io/codecs/jpeg_mgr.h"
#include "io/codecs/mng_mgr.h"
#include "io/codecs/png_mgr.h"
#include "io/codecs/tiff_mgr.h"
#include "io/dshow/media_session.h"
#include "io/media_request.h"
#include "media/dib.h"
#include "media/file_types.h"
#include "media/file_utils.h"
#include "media/frame_buffer.h"
#include "media/media_source.h"
#include "media/yuv_frame.h"

namespace ReadStream {

// The engine's direct frame callback of the frame loop: (sender kind,
// purpose, ProcID, owner context, frame). Called on the reader thread; the
// notice is valid only during the call. False means the frame was refused.
using TFrameCallback = bool (*)(ZarnTypes::TMediaSenderKind eSenderKind, ZarnTypes::TSourcePurpose ePurpose,
                                std::int32_t nProcId, void* pContext, ZarnTypes::TMediaFrameNotice* pFrame);

// Where the frame loop may read a raw YUV frame straight into the memory
// that keeps it: (owner context, ProcID, the frame's planar layout). Answers
// the memory, laid out as `layout` (luma, then Cb and Cr right behind it),
// or null when the owner cannot take the frame there; then the frame is
// read into the reader's own frame and copied by the owner as before.
using TSlotCallback = std::uint8_t* (*)(void* pContext, std::int32_t nProcId,
                                        const ZarnTypes::TYuvFrameBuffer& layout);

// How Run plays a stream type.
enum TReadPath : std::int32_t {
  READ_PATH_FRAME_LOOP = 1,   // stills, sequences, raw YUV (and every unknown type)
  READ_PATH_MEDIA_GRAPH = 2,  // files and devices played by a media-graph session
  READ_PATH_MNG = 3,          // MNG/JNG animations
};
TReadPath GetReadPath(std::int32_t eStreamType);
// Stream types a media-graph session plays: devices (2), OOV, MPEG-2, MPEG-4,
// DV..MOV and the sound files. MPEG-1, H.264 and the DVD file types are not.
inline bool IsMediaGraphType(std::int32_t eStreamType) {
  return GetReadPath(eStreamType) == READ_PATH_MEDIA_GRAPH;
}

// The channel's "Files of type" setting: which listed names navigation keeps.
enum TFileTypeMode : std::int32_t {
  FILE_TYPES_SUPPORTED = 1,  // every extension a sequence reader accepts
  FILE_TYPES_STREAMS = 2,    // stream and video files
  FILE_TYPES_STILLS = 3,     // raw YUV and still images
  FILE_TYPES_AUDIO = 4,      // audio files
  FILE_TYPES_SAME = 5,       // exactly the extension of the file navigated from
};

// The channel's "File sorting" setting.
enum TSortMode : std::int32_t {
  SORT_NONE = 0,     // the folder's listing order (by name, letters regardless of case)
  SORT_BY_TEXT = 1,  // CompareNamesByText
  SORT_NATURAL = 2,  // CompareNamesNatural
};

// Which sibling FindSiblingFile picks.
enum TSiblingFile : std::int32_t {
  SIBLING_FIRST = 1,
  SIBLING_LAST = 2,
  SIBLING_PREVIOUS = 3,  // the one before; from the first, the last
  SIBLING_NEXT = 4,      // the one after; from the last, the first
};

// Error left by ListSequenceFiles for a pattern that is too long.
inline constexpr int kErrorBadArguments = 160;
// Error the sequence walk keeps once it has reached its last file.
inline constexpr int kErrorNoMoreFiles = 18;
// Longest search pattern, in UTF-16 code units.
inline constexpr std::size_t kMaxPatternLength = 259;

// One entry of a folder listing.
struct TFindData {
  std::string sName;  // file name with extension, no folder
  bool bDirectory = false;
  std::int64_t nLength = 0;
};

// Strict orderings of two listing entries by their names (true: a before b).
// By text: letters compared regardless of case first, then lower case
// before upper case, then byte order. Natural: lower-cased names read as
// symbols, each run of digits one symbol ranked by its value (of any length)
// and placed where the digits sit among the characters, every other
// character by its code unit; so "img2" < "img10" and "x.png" < "x1.png".
// Names equal symbol by symbol ("a01", "a1") are equivalent, so a stable
// sort keeps their listing order.
bool CompareNamesByText(const TFindData& a, const TFindData& b);
bool CompareNamesNatural(const TFindData& a, const TFindData& b);

// What the document's loaders tell the reader about the channel's source.
struct TReaderSource {
  bool bSequence = false;  // read the start file's folder as a sequence; false: the path alone
  std::string sPath;       // the start file, device path or URL
  ZarnTypes::TStreamType eStreamType = ZarnTypes::ST_NULL_STREAM;
  std::int32_t nSourceCategory = 0;  // copied from the source record; not used by the reader
  ZarnTypes::TFileFormat eFileFormat = ZarnTypes::TFileFormat{0};
  ZarnTypes::TPixelFormat ePixelFormat = ZarnTypes::TPixelFormat{0};        // the frame layout to deliver
  ZarnTypes::TPixelFormat eNativePixelFormat = ZarnTypes::TPixelFormat{0};  // for media-graph sessions
  ZarnTypes::TPixelFormat eGrabPixelFormat = ZarnTypes::TPixelFormat{0};
  std::int32_t nWidth = 0;  // every frame of a sequence must have this size
  std::int32_t nHeight = 0;
  std::int32_t nDeviceCategory = 0;  // TSysDevCtgr the device was opened with; 0 for files
  std::int32_t nDeviceKind = 0;      // TSysDevCtgr detected
};

// Channel settings the document keeps in its reader for media-graph and
// capture sessions. Written by the document's settings exchange on the UI
// thread, never while the channel plays.
struct TReaderDeviceSettings {
  std::int32_t nCaptureWorkMode = 1;  // TCaptureWorkMode: 1 preview
  bool bAudioFromChannel = false;     // record another channel's audio device with this video device
  std::int32_t nAudioChannel = 0;     // that channel (0..3)
  std::int32_t nDeviceValue1 = 1;     // the "Master stream" value of the read-stream settings
  std::int32_t nDeviceValue2 = 0;
  std::int32_t nAudioSetting = -1;
  std::int32_t nDeviceValue3 = 0xFFFF;
  std::int32_t nDeviceValue4 = 0xFFFF;
  // The sound switch and the volume live in the reader itself (SetVolume,
  // EnableSound): a playing session reads them on other threads.
};

// The fields the engine hands a reader before each Run.
struct TReaderDelivery {
  std::int32_t nProcId = 0;  // channel + 41
  ZarnTypes::TMediaSenderKind eSenderKind = ZarnTypes::MEDIA_SENDER_NONE;
  ZarnTypes::TSourcePurpose ePurpose = ZarnTypes::SRC_STREAM;
  void* pContext = nullptr;                                 // the engine; first argument of both callbacks
  ZarnTypes::TMediaOwnerCallback pOwnerCallback = nullptr;  // media-graph and MNG sources
  TFrameCallback pFrameCallback = nullptr;                  // the frame loop
  TSlotCallback pSlotCallback = nullptr;                    // the frame loop's raw YUV files; may be null
  bool bTopDownRows = false;  // media-graph files: frames in the graph's memory, top-down (TSourceParams)
  std::atomic<bool>* pStopFlag =
      nullptr;  // stop requested; the loop raises it when the engine refuses a frame
  std::atomic<bool>* pEndFlag = nullptr;  // source ended; raised by the reader
  const std::atomic<bool>* pPauseFlag = nullptr;
  const std::atomic<bool>* pRecordingFlag = nullptr;
};

class CReadStream {
 public:
  static constexpr int kSequenceExtensionCount = 8;
  // The file kinds a sequence may consist of, in this order.
  static const char* const kSequenceExtensions[kSequenceExtensionCount];

  explicit CReadStream(int nChannel = 0);
  ~CReadStream();
  CReadStream(const CReadStream&) = delete;
  CReadStream& operator=(const CReadStream&) = delete;

  // --- Document side (UI thread, while the channel does not play) ---------

  int GetChannel() const { return m_nChannel; }
  void SetChannel(int nChannel) { m_nChannel = nChannel; }

  // The source description the loaders fill after a successful open; the
  // loaders also clear the frame range.
  void SetDescription(const TReaderSource& source) {
    m_Source = source;
    PublishControlType();
  }
  const TReaderSource& Description() const { return m_Source; }

  TReaderDeviceSettings& DeviceSettings() { return m_DeviceSettings; }
  const TReaderDeviceSettings& DeviceSettings() const { return m_DeviceSettings; }

  // First frame and frame limit of the channel (0 and 0: every frame is
  // taken). Read by the engine's frame reception on the reader thread.
  void SetFrameRange(std::int32_t nFirstFrame, std::int32_t nFrameLimit) {
    m_nFirstFrame.store(nFirstFrame);
    m_nFrameLimit.store(nFrameLimit);
  }
  std::int32_t GetFirstFrame() const { return m_nFirstFrame.load(); }
  std::int32_t GetFrameLimit() const { return m_nFrameLimit.load(); }

  // Navigation settings (TFileTypeMode 1..5, TSortMode 0..2); any value is
  // stored, and values outside the lists keep no file / keep the listing
  // order. The sort mode also orders the files of a sequence (read at the
  // start of each Run).
  void SetFileTypeMode(std::int32_t nMode) { m_nFileTypeMode.store(nMode); }
  std::int32_t GetFileTypeMode() const { return m_nFileTypeMode.load(); }
  void SetSortMode(std::int32_t nMode) { m_nSortMode.store(nMode); }
  std::int32_t GetSortMode() const { return m_nSortMode.load(); }

  // Seek request and fraction of media-graph and MNG sessions: the request
  // is raised before each session; the fraction reads 0 of 100 after
  // construction and 0 of 1 after every session.
  std::atomic<bool> m_bSeekRequest{false};
  std::atomic<std::int32_t> m_nSeekNumerator{0};
  std::atomic<std::int32_t> m_nSeekDenominator{100};
  // Stores a seek request: flag raised, fraction n / d.
  void SetSeekRequest(std::int32_t nNumerator, std::int32_t nDenominator) {
    m_nSeekNumerator.store(nNumerator);
    m_nSeekDenominator.store(nDenominator);
    m_bSeekRequest.store(true);
  }

  // --- Position, volume and sound (UI thread, also while Run plays) -------
  //
  // By stream type: the media-graph types (2, 3, 5, 6, 8..14, 19..21) go to
  // the reader's media-graph session, MNG (15) to its MNG player; the
  // positionless types (4, 7, 16..18) and every other value have none of
  // these controls.

  // Position and duration (100-ns units for media-graph sessions, frames or
  // bytes for MNG; an MNG player without a header leaves the record as it
  // is). False for positionless and other types, and while a session
  // cannot tell (none running, duration not known yet).
  bool GetPositionAndDuration(DShowMgr::TMediaProgress* pProgress);
  // The stream position in milliseconds: media-graph types but 2: the
  // session's position (0 when it cannot tell); MNG: the animation's time
  // of the frame shown (0 before one); type 2, positionless and other
  // types -1.
  std::int64_t GetPositionMs();
  // The shown position: media-graph types through the session; MNG kind 1
  // at 0; others false.
  bool GetPosition(DShowMgr::TMediaPosition* pPosition);
  // Seeks the playing session to n / d of the duration: media-graph types
  // but 2 (type 2 only for a DVD volume), and MNG. False for the rest.
  bool Seek(std::int32_t nNumerator, std::int32_t nDenominator);
  // Remembers the volume level / maximum and applies it to an active
  // session. True for media-graph types (with or without a session), false
  // for the rest. Moving the volume while the sound is off keeps it off.
  bool SetVolume(std::int32_t nLevel, std::int32_t nMaximum);
  // Remembers the sound switch and applies it to an active session;
  // turning the sound on restores the volume last set.
  void EnableSound(bool bOn);
  bool IsSoundOn() const { return m_bSoundOn.load(); }
  std::int32_t GetVolumeLevel() const { return m_nVolumeLevel.load(); }
  std::int32_t GetVolumeScale() const { return m_nVolumeScale.load(); }

  // The reader's own media-graph session (state, gain; for the document's
  // controls and for tests).
  DShowMgr::IMediaSession& MediaSession() { return *m_DShow; }
  // The reader's MNG player (state, position; for the document and tests).
  MngMgr::CMngMgr& MngPlayer() { return m_Mng; }

  // --- Engine side (the channel-process thread) ---------------------------

  // Binds the reader to a channel's source record: false, with nothing
  // changed, for a channel outside 0..3; otherwise stores the channel and
  // copies the stream type, source category, file format, frame pixel
  // format, size, read flag (as the sequence flag) and path.
  bool SetSource(int nChannel, const ZarnTypes::TMediaSource& source);
  int GetBoundChannel() const { return m_nBoundChannel; }

  // Copies the engine's delivery fields (by value).
  void SetDelivery(const TReaderDelivery& delivery) { m_Delivery = delivery; }
  const TReaderDelivery& Delivery() const { return m_Delivery; }

  // Plays the source in the calling thread until it ends, is stopped or
  // fails. True when the source was read to its end or stopped; false when
  // it could not be started.
  bool Run();

  // Pause, resume and stop of the embedded media-graph session (types 2, 3,
  // 5, 6, 8..14, 19..21) or MNG player (15), from the UI or session thread
  // while Run is in progress: the session pauses, plays on, or stops and
  // keeps its position (Run then ends on the engine's stop flag). The frame
  // loop ignores them: it ends on the stop flag and is held by the engine's
  // frame callback while paused.
  void Pause();
  void Resume();
  void Stop();

  // --- The frame loop (stills, sequences, raw YUV) ------------------------

  bool RunReadSequence();

  // --- Navigation (UI thread) ---------------------------------------------

  // Picks the first, last, previous or next file (TSiblingFile) of the
  // path's folder in the file-type and sort modes. On success the chosen
  // file's full path is the reader's current file (GetCurrentFile) and,
  // when pFound is given, is also stored there (a frame loop running at the
  // same time may replace the current file at once).
  bool FindSiblingFile(int nWhich, const std::string& path, std::string* pFound = nullptr);

  // Fills the folder list with the entries of the pattern ("/dir/*.ext")
  // that the file-type mode keeps (mode 5: those of extension code
  // nExtCode), sorted by the sort mode. False, with the list empty, for an
  // empty pattern, a pattern longer than kMaxPatternLength (GetListError()
  // then answers kErrorBadArguments) or when nothing matches.
  bool ListSequenceFiles(const std::string& pattern, std::int32_t nExtCode);
  const std::vector<TFindData>& FolderList() const { return m_FolderList; }
  int GetListError() const { return m_nListError; }

  // Whether the file-type mode keeps a name of the extension code.
  static bool FileTypeModeKeeps(std::int32_t nMode, std::int32_t nExtCode, std::int32_t nSiblingExtCode);

  // The file the loop reads now, or the result of the last navigation.
  std::string GetCurrentFile() const;

 private:
  // Media-graph sources: a session of the reader's own session manager on
  // a request built here; MNG animations: the reader's own MNG player at
  // the animation's timing. The seek fraction reads 0 of 1 afterwards.
  bool PlayDirectShow();
  bool PlayMng();
  void FillReadRequest(ZarnTypes::TMediaRequest& request, const std::string& path,
                       ZarnTypes::TMediaRequestTag tag, void* params);

  // Steps of the frame loop.
  bool OpenInputFile(const std::string& path);
  bool PrepareFrameBuffers();
  bool FillFrameNotice();
  bool ReadFrame();
  void BuildSearchPattern();
  bool ListSequence();
  bool NextSequenceFile();
  bool CheckSequenceFile();
  bool SkipToStartFile();
  void FreeFrameBuffers();
  bool CloseInputFile();
  bool ReadBmpFrame();
  bool ReadRawYuvFrame();
  bool ReadYuvSequenceFrame();
  bool ReadCodecFrame();
  void SetLoopFile(const std::string& path);
  void RaiseEnd();
  void RaiseStop();
  bool StopRaised() const;
  bool EndRaised() const;
  static void ReportFileError(int nErrno);

  // Settings and description.
  int m_nChannel;
  TReaderSource m_Source;
  TReaderDeviceSettings m_DeviceSettings;
  std::atomic<std::int32_t> m_nFirstFrame{0};
  std::atomic<std::int32_t> m_nFrameLimit{0};
  std::atomic<std::int32_t> m_nFileTypeMode{FILE_TYPES_SUPPORTED};
  std::atomic<std::int32_t> m_nSortMode{SORT_NONE};

  // The stream type and device category the position, volume, pause and
  // stop operations dispatch on: copies of the description that other
  // threads may read while the reader thread binds a new source.
  void PublishControlType() {
    m_nControlStreamType.store(m_Source.eStreamType);
    m_nControlDeviceCategory.store(m_Source.nDeviceCategory);
  }
  std::atomic<std::int32_t> m_nControlStreamType{ZarnTypes::ST_NULL_STREAM};
  std::atomic<std::int32_t> m_nControlDeviceCategory{0};

  // Sound of media-graph sessions: written on the UI thread, read by a
  // playing session through its parameter block.
  std::atomic<bool> m_bSoundOn{true};
  std::atomic<std::int32_t> m_nVolumeLevel{100};
  std::atomic<std::int32_t> m_nVolumeScale{100};

  // Engine binding.
  int m_nBoundChannel = 0;
  TReaderDelivery m_Delivery;

  // Frame loop state (reader thread only).
  bool m_bRunning = false;
  bool m_bHaveFile = false;
  bool m_bFirstPass = true;
  bool m_bStillLoaded = false;  // a single still decoded once is delivered again from its buffer
  int m_nFindError = 0;
  std::string m_sSearchPattern;
  std::string m_sLoopFile;  // the file the loop reads now
  FindFileEx::CFileFindEx m_Finder;
  std::vector<std::string> m_SequenceFiles;  // the sequence's files in reading order
  std::size_t m_nSequenceNext = 0;           // index of the file the next step moves to
  std::FILE* m_pRawYuvFile = nullptr;
  ZarnTypes::TFrameBuffer m_FrameBuffer{};
  ZarnTypes::TYuvFrameBuffer m_YuvFrame{};
  // The owner's memory the current raw YUV frame was read into (null: the
  // frame is in m_YuvFrame).
  std::uint8_t* m_pFrameSlot = nullptr;
  Dib::TDibPtr m_pBitmap;                   // the last loaded bitmap
  bool m_bBitmapLoaded = false;             // m_pBitmap holds a picture read by this loop
  ZarnTypes::TFrameBuffer m_BitmapFrame{};  // layout of the bitmap's rows; does not own them
  Dib::TBitmapInfoHeader m_FrameHeader{};   // describes the RGB frame handed over
  std::vector<std::uint8_t> m_ColourTable;  // version, count, entries (red, green, blue, flags)
  std::int32_t m_nColourTableSize = 0;      // bytes as delivered: 4 + 4 per entry, 0 when none
  ZarnTypes::TMediaFrameNotice m_FrameNotice{};
  ZarnTypes::TMediaRequest m_CodecRequest{};

  // Codec managers used by the loop.
  JpegMgr::CJpegMgr m_JpegMgr;
  Jpeg2000Mgr::CJpeg2000Mgr m_Jpeg2000Mgr;
  PngMgr::CPngMgr m_PngMgr;
  GifMgr::CGifMgr m_GifMgr;
  TiffMgr::CTiffMgr m_TiffMgr;

  // Navigation state (UI thread only).
  std::vector<TFindData> m_FolderList;
  int m_nListError = 0;

  // The current file, shared by loop and navigation.
  mutable std::mutex m_CurrentFileLock;
  std::string m_sCurrentFile;

  // The media-graph session that plays files (PlayDirectShow), made by the
  // installed session factory with the reader; controlled from other
  // threads while Run plays.
  std::unique_ptr<DShowMgr::IMediaSession> m_DShow;

  // The MNG player (PlayMng); paused, resumed, stopped, sought and asked
  // for its position from other threads while Run plays.
  MngMgr::CMngMgr m_Mng;
};

}  // namespace ReadStream
