// The channel reader playing media files on its media-graph session: frames
// to the engine's owner callback, pause, resume and stop from every state,
// the position operations by stream type, and volume and sound.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "dshow_fixtures.h"
#include "io/read_stream.h"
#include "media/device_kinds.h"
#include "session_helpers.h"

using namespace ZarnTypes;
using namespace dshow_test;
using ReadStream::CReadStream;
using namespace std::chrono_literals;

namespace {

// The engine's side of a channel: its flags and a recording owner callback.
struct TEngineSide {
  std::atomic<bool> stop{false}, end{false}, paused{false}, recording{false};
  std::mutex lock;
  std::condition_variable cv;
  std::vector<TSeenFrame> frames;
  TMediaSender sender{};

  static bool Callback(void* pContext, TMediaNotify eCode, const TMediaSender* pSender, void* pData) {
    auto* self = static_cast<TEngineSide*>(pContext);
    if (eCode != MEDIA_NOTIFY_FRAME || pData == nullptr) return false;
    const auto* notice = static_cast<const TMediaFrameNotice*>(pData);
    TSeenFrame seen;
    seen.ePixelFormat = notice->ePixelFormat;
    seen.nWidth = notice->nWidth;
    seen.nHeight = notice->nHeight;
    seen.nRgbSize = notice->nRgbSize;
    if (notice->pHeader) {
      seen.nBits = notice->pHeader->biBitCount;
      seen.bHeaderBottomUp = notice->pHeader->biHeight > 0;
      seen.nStride = ((notice->nWidth * seen.nBits + 31) / 32) * 4;
    }
    seen.dTime = notice->dTime;
    if (notice->pRgbData && notice->nRgbSize > 0)
      seen.rgb.assign(notice->pRgbData, notice->pRgbData + notice->nRgbSize);
    {
      std::lock_guard guard(self->lock);
      self->sender = *pSender;
      self->frames.push_back(std::move(seen));
    }
    self->cv.notify_all();
    return true;
  }

  ReadStream::TReaderDelivery Delivery() {
    ReadStream::TReaderDelivery d;
    d.nProcId = 43;
    d.eSenderKind = MEDIA_SENDER_DSHOW;
    d.ePurpose = SRC_STREAM;
    d.pContext = this;
    d.pOwnerCallback = &TEngineSide::Callback;
    d.pStopFlag = &stop;
    d.pEndFlag = &end;
    d.pPauseFlag = &paused;
    d.pRecordingFlag = &recording;
    return d;
  }
  bool WaitFrames(std::size_t n, std::chrono::milliseconds limit = 10s) {
    std::unique_lock guard(lock);
    return cv.wait_for(guard, limit, [&] { return frames.size() >= n; });
  }
  std::size_t Count() {
    std::lock_guard guard(lock);
    return frames.size();
  }
};

ReadStream::TReaderSource FileSource(const std::filesystem::path& file, TStreamType eType,
                                     TFileFormat eFormat, TPixelFormat ePixel = PF_RGB32) {
  ReadStream::TReaderSource s;
  s.sPath = file.string();
  s.eStreamType = eType;
  s.eFileFormat = eFormat;
  s.ePixelFormat = ePixel;
  s.nWidth = kWidth;
  s.nHeight = kHeight;
  return s;
}

// A reader playing on its own thread, as the engine's channel process runs it.
struct TPlaying {
  TEngineSide engine;
  CReadStream reader{2};
  std::future<bool> result;

  void Start(const ReadStream::TReaderSource& source) {
    reader.SetDescription(source);
    reader.SetDelivery(engine.Delivery());
    result = std::async(std::launch::async, [this] { return reader.Run(); });
  }
  // The engine's stop: the flag, then the reader's stop of its session.
  bool StopWithin(std::chrono::milliseconds limit) {
    engine.stop = true;
    reader.Stop();
    return result.wait_for(limit) == std::future_status::ready;
  }
  ~TPlaying() {
    engine.stop = true;
    if (result.valid()) result.wait();
  }
};

bool WaitState(CReadStream& reader, DShowMgr::TGraphState state) {
  for (int i = 0; i < 300 && reader.MediaSession().GetState() != state; ++i)
    std::this_thread::sleep_for(10ms);
  return reader.MediaSession().GetState() == state;
}

double Gain(int millibel) { return millibel <= -10000 ? 0.0 : std::pow(10.0, millibel / 2000.0); }

}  // namespace

// The frames of an AVI and an MP4 file reach the engine's owner callback as
// the channel's RGB layout, bottom-up, with the decoded pictures' pixels, and
// from the reader's ProcID as a media-graph sender.
TEST(ReadStreamMedia, PlaysAFileIntoTheOwnerCallbackWithTheRightPixels) {
  struct Case {
    const char* file;
    TStreamType eType;
    TFileFormat eFormat;
    TPixelFormat ePixel;
    int nBits;
  };
  for (const Case& c :
       {Case{"test.avi", ST_AVI, FF_AVI, PF_RGB32, 32}, Case{"test.mp4", ST_MPEG4, FF_MPEG4, PF_RGB24, 24}}) {
    const auto file = Fixture(c.file);
    ASSERT_FALSE(file.empty()) << c.file;
    const std::vector<TDecodedFrame> decoded = DecodeFrames(file, 3);
    ASSERT_FALSE(decoded.empty());
    TPlaying play;
    play.Start(FileSource(file, c.eType, c.eFormat, c.ePixel));
    ASSERT_TRUE(play.engine.WaitFrames(3)) << c.file;
    EXPECT_TRUE(play.StopWithin(3s)) << c.file;
    EXPECT_TRUE(play.result.get()) << c.file;

    std::lock_guard guard(play.engine.lock);
    const TSeenFrame& first = play.engine.frames.front();
    EXPECT_EQ(first.ePixelFormat, c.ePixel) << c.file;
    EXPECT_EQ(first.nBits, c.nBits) << c.file;
    EXPECT_EQ(first.nWidth, kWidth);
    EXPECT_EQ(first.nHeight, kHeight);
    EXPECT_TRUE(first.bHeaderBottomUp);
    EXPECT_EQ(first.nRgbSize, first.nStride * kHeight);
    EXPECT_NEAR(first.dTime, 0.0, 1e-3) << c.file;
    EXPECT_LE(MaxDifference(first.rgb.data(), first.nBits, first.nStride, decoded[0]), 2) << c.file;
    EXPECT_EQ(play.engine.sender.nSenderId, 43);
    EXPECT_EQ(play.engine.sender.eSenderKind, MEDIA_SENDER_DSHOW);
    EXPECT_EQ(play.engine.sender.ePurpose, SRC_STREAM);
    EXPECT_EQ(play.reader.m_nSeekNumerator.load(), 0);
    EXPECT_EQ(play.reader.m_nSeekDenominator.load(), 1);
  }
}

// A file played to its end raises the end flag; the session is over.
TEST(ReadStreamMedia, PlaysToTheEndAndRaisesTheEndFlag) {
  const auto file = Fixture("test.avi");
  TPlaying play;
  play.Start(FileSource(file, ST_AVI, FF_AVI));
  ASSERT_EQ(play.result.wait_for(15s), std::future_status::ready);
  EXPECT_TRUE(play.result.get());
  EXPECT_TRUE(play.engine.end.load());
  EXPECT_GE(play.engine.Count(), static_cast<std::size_t>(kFrames - 2));
  EXPECT_FALSE(play.reader.MediaSession().IsBusy());
}

// A seek request stored before the session resumes the file there; the
// fraction is 0 of 1 again after the session.
TEST(ReadStreamMedia, ResumesAtTheStoredSeekRequest) {
  const auto file = Fixture("test.mp4");
  TPlaying play;
  play.reader.SetSeekRequest(1, 2);
  play.Start(FileSource(file, ST_MPEG4, FF_MPEG4));
  ASSERT_TRUE(play.engine.WaitFrames(1));
  {
    std::lock_guard guard(play.engine.lock);
    EXPECT_NEAR(play.engine.frames.front().dTime, 1.0, 0.1);
  }
  EXPECT_FALSE(play.reader.m_bSeekRequest.load());  // the session acted on it
  EXPECT_TRUE(play.StopWithin(3s));
  EXPECT_EQ(play.reader.m_nSeekNumerator.load(), 0);
  EXPECT_EQ(play.reader.m_nSeekDenominator.load(), 1);
}

// Pause and resume move the reader's session between paused and running;
// the engine's stop ends Run within the bound from every state.
TEST(ReadStreamMedia, PauseResumeAndStopFromEveryState) {
  const auto file = Fixture("test.mp4");
  enum Where { OPENING, RUNNING, PAUSED, RESUMED };
  for (Where where : {OPENING, RUNNING, PAUSED, RESUMED}) {
    TPlaying play;
    if (where == OPENING) play.engine.stop = true;
    play.Start(FileSource(file, ST_MPEG4, FF_MPEG4));
    if (where != OPENING) {
      ASSERT_TRUE(play.engine.WaitFrames(1)) << where;
      ASSERT_TRUE(WaitState(play.reader, DShowMgr::GRAPH_RUNNING)) << where;
    }
    if (where == PAUSED || where == RESUMED) {
      play.reader.Pause();
      EXPECT_EQ(play.reader.MediaSession().GetState(), DShowMgr::GRAPH_PAUSED) << where;
    }
    if (where == RESUMED) {
      const std::size_t before = play.engine.Count();
      play.reader.Resume();
      EXPECT_EQ(play.reader.MediaSession().GetState(), DShowMgr::GRAPH_RUNNING);
      EXPECT_TRUE(play.engine.WaitFrames(before + 2)) << "frames go on after resume";
    }
    EXPECT_TRUE(play.StopWithin(2500ms)) << "state " << where;
    EXPECT_TRUE(play.engine.end.load()) << where;
    EXPECT_FALSE(play.reader.MediaSession().IsBusy()) << where;
  }
}

// A pause that comes while the file still opens is not lost: the session
// starts paused on its first frame and plays on when resumed.
TEST(ReadStreamMedia, PauseWhileOpeningStartsPausedOnTheFirstFrame) {
  const auto file = Fixture("test.mp4");
  TPlaying play;
  play.engine.paused = true;
  play.reader.Pause();  // nothing runs yet
  play.Start(FileSource(file, ST_MPEG4, FF_MPEG4));
  ASSERT_TRUE(play.engine.WaitFrames(1));
  ASSERT_TRUE(WaitState(play.reader, DShowMgr::GRAPH_PAUSED));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(play.engine.Count(), 1u) << "a paused session shows its first frame only";
  play.engine.paused = false;
  play.reader.Resume();
  EXPECT_EQ(play.reader.MediaSession().GetState(), DShowMgr::GRAPH_RUNNING);
  EXPECT_TRUE(play.engine.WaitFrames(3));
  EXPECT_TRUE(play.StopWithin(2500ms));
}

// The position operations by stream-type set, with no session running.
TEST(ReadStreamMedia, PositionOperationsWithoutASessionByStreamType) {
  struct Case {
    std::int32_t eType;
    std::int32_t nDeviceCategory;
    bool bProgress;    // GetPositionAndDuration
    std::int64_t nMs;  // GetPositionMs
    bool bPosition;    // GetPosition
    bool bVolume;      // SetVolume
  };
  const Case cases[] = {
      // media-graph types: the session answers (none runs: no progress, no
      // position); the volume is taken
      {ST_AVI, 0, false, 0, false, true},
      {ST_MP3, 0, false, 0, false, true},
      {ST_OOV, 0, false, 0, false, true},
      {ST_SYSTEM_DEVICE, 0, false, -1, false, true},
      {ST_SYSTEM_DEVICE, SDC_DVD, false, -1, false, true},
      // MNG: a record left as it is, position 0
      {ST_MNG, 0, true, 0, true, false},
      // positionless and other types
      {ST_MPEG1, 0, false, -1, false, false},
      {ST_H264, 0, false, -1, false, false},
      {ST_IFO, 0, false, -1, false, false},
      {ST_BUP, 0, false, -1, false, false},
      {ST_VOB, 0, false, -1, false, false},
      {ST_NULL_STREAM, 0, false, -1, false, false},
      {22, 0, false, -1, false, false},
      {60, 0, false, -1, false, false},
  };
  for (const Case& c : cases) {
    CReadStream reader(0);
    ReadStream::TReaderSource s;
    s.eStreamType = TStreamType{c.eType};
    s.nDeviceCategory = c.nDeviceCategory;
    reader.SetDescription(s);
    DShowMgr::TMediaProgress progress{1234, 5678};
    EXPECT_EQ(reader.GetPositionAndDuration(&progress), c.bProgress) << c.eType;
    EXPECT_EQ(progress.nPosition, 1234) << c.eType;
    EXPECT_EQ(progress.nDuration, 5678) << c.eType;
    EXPECT_EQ(reader.GetPositionMs(), c.nMs) << c.eType;
    DShowMgr::TMediaPosition position;
    position.nPosition = 99;
    EXPECT_EQ(reader.GetPosition(&position), c.bPosition) << c.eType;
    if (c.bPosition) {
      EXPECT_EQ(position.eKind, DShowMgr::MEDIA_POS_STREAM_TIME);
      EXPECT_EQ(position.nPosition, 0);
    }
    EXPECT_FALSE(reader.Seek(1, 2)) << c.eType;
    EXPECT_EQ(reader.SetVolume(30, 40), c.bVolume) << c.eType;
    // The level is remembered whatever the type.
    EXPECT_EQ(reader.GetVolumeLevel(), 30);
    EXPECT_EQ(reader.GetVolumeScale(), 40);
    reader.EnableSound(false);
    EXPECT_FALSE(reader.IsSoundOn());
  }
}

// With a file playing: progress, position in milliseconds and a seek that
// lands at the fraction asked; a capture device type without a DVD is not
// sought.
TEST(ReadStreamMedia, PositionOperationsOfAPlayingFile) {
  const auto file = Fixture("test.mp4");
  TPlaying play;
  play.Start(FileSource(file, ST_MPEG4, FF_MPEG4));
  ASSERT_TRUE(play.engine.WaitFrames(1));
  ASSERT_TRUE(WaitState(play.reader, DShowMgr::GRAPH_RUNNING));
  play.reader.Pause();

  DShowMgr::TMediaProgress progress;
  ASSERT_TRUE(play.reader.GetPositionAndDuration(&progress));
  EXPECT_NEAR(static_cast<double>(progress.nDuration) / 1e7, 2.0, 0.1);
  EXPECT_LE(progress.nPosition, progress.nDuration);

  EXPECT_TRUE(play.reader.Seek(3, 4));
  EXPECT_EQ(play.reader.MediaSession().GetState(), DShowMgr::GRAPH_PAUSED);  // still paused
  const std::int64_t ms = play.reader.GetPositionMs();
  EXPECT_NEAR(static_cast<double>(ms), 1500.0, 60.0);
  DShowMgr::TMediaPosition position;
  ASSERT_TRUE(play.reader.GetPosition(&position));
  EXPECT_EQ(position.eKind, DShowMgr::MEDIA_POS_STREAM_TIME);
  EXPECT_EQ(position.nPosition / 10000, ms);
  EXPECT_FALSE(play.reader.Seek(1, 1));  // the very end is not sought
  EXPECT_FALSE(play.reader.Seek(1, 0));
  EXPECT_TRUE(play.StopWithin(3s));
}

// Volume and sound while a file plays: the reader's level and switch reach
// the session at its start and while it plays; moving the volume while the
// sound is off keeps it off, and sound on restores the level last set.
TEST(ReadStreamMedia, VolumeAndSoundFollowTheUsersLastChoice) {
  const auto file = Fixture("test.mp4");
  TPlaying play;
  play.reader.SetVolume(50, 100);
  play.reader.EnableSound(false);
  play.Start(FileSource(file, ST_MPEG4, FF_MPEG4));
  ASSERT_TRUE(play.engine.WaitFrames(1));
  DShowMgr::IMediaSession& session = play.reader.MediaSession();
  EXPECT_NEAR(session.AppliedGain(), 0.0, 1e-6);  // started muted

  EXPECT_TRUE(play.reader.SetVolume(9, 10));
  EXPECT_NEAR(session.AppliedGain(), 0.0, 1e-6);  // still muted
  play.reader.EnableSound(true);
  EXPECT_NEAR(session.AppliedGain(), Gain(-1000), 1e-6);  // the level set while muted
  EXPECT_TRUE(play.reader.SetVolume(1, 4));
  EXPECT_NEAR(session.AppliedGain(), Gain(-7500), 1e-6);
  play.reader.EnableSound(false);
  EXPECT_NEAR(session.AppliedGain(), 0.0, 1e-6);
  play.reader.EnableSound(true);
  EXPECT_NEAR(session.AppliedGain(), Gain(-7500), 1e-6);
  EXPECT_TRUE(play.reader.SetVolume(12, 10));
  EXPECT_NEAR(session.AppliedGain(), 1.0, 1e-6);
  EXPECT_TRUE(play.StopWithin(3s));
}

// Files the media graph cannot play: the session fails, Run answers false
// and the end flag lets the engine wind the channel down.
TEST(ReadStreamMedia, FilesThatCannotPlayEndTheChannel) {
  for (const char* name : {"damaged.avi", "test.swf"}) {
    const auto file = Fixture(name);
    if (file.empty()) continue;
    TPlaying play;
    play.Start(FileSource(file, ST_AVI, FF_AVI));
    ASSERT_EQ(play.result.wait_for(20s), std::future_status::ready) << name;
    EXPECT_FALSE(play.result.get()) << name;
    EXPECT_TRUE(play.engine.end.load()) << name;
    EXPECT_EQ(play.engine.Count(), 0u) << name;
  }
}
