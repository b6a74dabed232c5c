#pragma once
// The document's recording: per channel, the frames the engine shows while
// the document records go into the channel's recorder (SaveStream::
// CSaveStream): as numbered picture files in any still format, or appended
// to one raw YUV file.
//
// No Qt here: the writer runs on the engine's pacing thread, the session
// set-up on its session thread, so the whole recording is tested on plain
// threads under ThreadSanitizer.
//
// Threads and hand-over:
//   - What the writer reads of a recorder (TRecordSettings) is copied on the
//     UI thread when a session starts or when the recording command opens a
//     recorder, and handed over by value under the channel's lock; the
//     pacing thread never reads the document's records.
//   - The session's numbers (session, takes) are made on the UI thread too
//     (TRecordStart) and handed to the session thread by value.
//   - Every use of a channel's recorder (open, pause, resume, append, close)
//     runs under that channel's lock, so a pause from the UI thread never
//     meets an append half-way, and a write never finds a recorder that is
//     being opened.
//   - The recording switch (the engine's m_bRecording) and the channel's
//     record flag are the engine's atomics. A channel whose frame cannot be
//     written is reported once ("Can not save image to file\n%s", posted)
//     and its record flag is cleared at once: it leaves the recording and
//     the other channels go on.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "document/engine/zarn.h"
#include "document/video_port.h"
#include "io/codecs/save_picture.h"
#include "io/codecs/save_stream.h"
#include "media/dib.h"
#include "media/pip_composite.h"

namespace RecordWriter {

inline constexpr int kRecordChannels = 4;

// The picture-in-picture composite a channel records instead of its own
// picture: its recorder asks for it and the channel's picture-in-picture
// record is enabled.
struct TRecordPip {
  bool bEnabled = false;
  // The picture the inset is drawn on: the channel itself (channels 0 and 1
  // only) or, with the recorder's pane-layout switch, the channel its pane
  // shows; -1 when there is none (the channel's own picture is recorded).
  std::int32_t nMainChannel = -1;
  std::int32_t nInsetChannel = 0;
  PipComposite::TPipRect insetRect;
  bool bSourceRect = false;
  PipComposite::TPipRect sourceRect;
  std::int32_t nStretchCode = 3;  // the pane's stretch mode while playing
};

// What the writer reads of one channel's recorder.
struct TRecordSettings {
  // Frame range: mode 3 records first..last, each bound used only when it
  // is above 0; every other mode records every frame.
  std::int32_t nRangeMode = 1;
  std::int64_t nFirstFrame = 0;
  std::int64_t nLastFrame = 0;
  std::int32_t nFormat = ZarnTypes::FF_BMP_24BIT;  // TFileFormat of the output
  bool bSingleFile = false;
  ZarnTypes::TEncoderSettings encoders;  // the recorder's own
  // A capture device that records inside its own graph: nothing to write.
  bool bGraphRecording = false;
  TRecordPip pip;
};

// The recorder's own values as the writer reads them (the document adds the
// device and picture-in-picture parts).
TRecordSettings SettingsOfRecorder(const SaveStream::CSaveStream& recorder);

// Whether a range mode and its bounds take a frame.
bool FrameInRange(const TRecordSettings& settings, std::int64_t frameNumber);

// What a session starts the recorders with, made on the UI thread.
struct TRecordStart {
  bool bPrepare[kRecordChannels] = {};  // the channel's source is open and it is selected
  std::int32_t nSession = 0;
  // Added to the session number per channel: each channel numbers its
  // recordings from its own next clip index.
  std::int32_t nSessionShift[kRecordChannels] = {};
  std::int32_t nTake[kRecordChannels] = {};
  TRecordSettings settings[kRecordChannels];
};

class CRecordWriter {
 public:
  CRecordWriter(Zarn::CZarn& engine, VideoPortHub::CVideoPortHub& ports,
                const std::array<SaveStream::CSaveStream*, kRecordChannels>& recorders);
  CRecordWriter(const CRecordWriter&) = delete;
  CRecordWriter& operator=(const CRecordWriter&) = delete;

  // Any thread: the settings the writer reads for the channel.
  void SetSettings(int channel, const TRecordSettings& settings);
  TRecordSettings Settings(int channel) const;

  // UI thread, when a session starts (before its thread does): the
  // writer takes the settings, and each selected recorder the session and
  // take numbers and its output name.
  void SetSessionStart(const TRecordStart& start);
  // Session thread, before the channels' processes start: each selected
  // recorder takes the session's record and, when the document records,
  // opens. A recorder that cannot open takes its channel out of the
  // recording.
  void PrepareRecorders();
  // Session thread, once every other thread of the session is joined:
  // closes every recorder; false when one could not be closed or a
  // recording of the session lost a frame it should have written.
  bool CloseRecorders();

  // UI thread, "Start / Stop recording" for one channel's recorder (a
  // recorder, not a capture graph): on opens a recorder that is not open
  // with the given settings, or resumes an open one; off pauses an open one
  // (its file stays open until the session ends). False when it could not
  // be opened.
  bool SetRecorderRecording(bool on, int channel, const TRecordSettings& settings);

  // Pacing thread, after a frame of the channel was shown while playing:
  // written while the document records, the channel is selected and its
  // recorder is open and recording (or writes separate files).
  void FrameShown(int channel, std::int32_t frameNumber);
  // The shown picture of the channel as frame `frameNumber` of its
  // recording (range, composite and writer as the settings say); reports
  // and takes the channel out of the recording when the write fails.
  bool WriteRecordedFrame(int channel, std::int32_t frameNumber);

  // Frames written since the recorder was last prepared (tests and
  // benchmarks look at it).
  std::int64_t FramesWritten(int channel) const;

 private:
  struct TChannel {
    mutable std::mutex lock;
    TRecordSettings settings;
    Dib::TDibSection composite;  // the picture-in-picture composite (pacing thread)
    std::int64_t nWritten = 0;
    bool bFailed = false;  // a frame of this session's recording could not be written
  };
  bool WriteLocked(TChannel& state, int channel, std::int32_t frameNumber);
  static bool OpenRecorder(SaveStream::CSaveStream& recorder);
  static bool Valid(int channel) { return channel >= 0 && channel < kRecordChannels; }

  Zarn::CZarn& m_Engine;
  VideoPortHub::CVideoPortHub& m_Ports;
  std::array<SaveStream::CSaveStream*, kRecordChannels> m_pRecorder;
  std::array<TChannel, kRecordChannels> m_Channel;
  std::mutex m_StartLock;
  TRecordStart m_Start;  // under m_StartLock
};

}  // namespace RecordWriter
