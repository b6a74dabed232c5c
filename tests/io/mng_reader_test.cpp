// The MNG reader: requests it refuses, one-frame requests with and without
// a callback, seeking by frame and by byte, pause, resume and stop from each
// state, hostile files made here, bounded memory on a long recording, and
// a JNG against ffmpeg's decode of its JPEG.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "io/codecs/mng_mgr.h"
#include "tests/io/mng_test_files.h"
#include "tests/support/message_fixture.h"

namespace {

using namespace ZarnTypes;
using namespace mng_test;
using MngMgr::CMngMgr;
using Clock = std::chrono::steady_clock;

class MngReaderTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  // A recorder-layout file of `count` index frames of w x h.
  std::string IndexFile(const std::string& name, std::uint32_t count, std::int32_t w = 4, std::int32_t h = 2,
                        std::uint32_t headerFrames = 0) {
    const auto bytes = RecorderLayoutFile(
        w, h, count, [&](std::uint32_t i) { return MakeIndexFrame(PF_RGB24, w, h, i); }, headerFrames);
    tovrin_test::WriteAll(dir / name, bytes);
    return Path(name);
  }
};

template <typename TPredicate>
bool WaitFor(TPredicate done, std::chrono::milliseconds bound = std::chrono::milliseconds(5000)) {
  const auto end = Clock::now() + bound;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::uint32_t FrameIndex(const TDelivered& d) { return IndexOf(CanvasPixel(d, 0, 0)); }

// ---------------------------------------------------------------------------

TEST_F(MngReaderTest, RequestsWithoutTagOrPathChangeNothing) {
  TReadSink sinkFrames;
  TReadRequest read(IndexFile("a.mng", 2), SRC_STREAM, PF_RGB24, &sinkFrames);
  read.request.eTag = MEDIA_REQ_DSHOW_SOURCE;
  CMngMgr reader;
  EXPECT_FALSE(reader.Run(&read.request));
  read.request.eTag = MEDIA_REQ_MNG;
  read.request.pPath = nullptr;
  EXPECT_FALSE(reader.Run(&read.request));
  EXPECT_FALSE(read.flags.stop.load());
  EXPECT_FALSE(read.flags.end.load());
  EXPECT_EQ(sinkFrames.frameCount.load(), 0);
  EXPECT_FALSE(reader.Run(nullptr));
}

// Files that cannot be opened, and paths that are not regular files, are
// error 17 at once (a FIFO never blocks the reader).
TEST_F(MngReaderTest, UnopenableFilesAreErrorSeventeen) {
  const std::string fifo = Path("fifo.mng");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {Path("missing.mng"), dir.Path().string(), fifo}) {
    SCOPED_TRACE(path);
    TReadSink frames;
    TReadRequest read(path, SRC_GRAB_FRAME_RGB24, PF_RGB32, &frames);
    CMngMgr reader;
    const auto start = Clock::now();
    EXPECT_FALSE(reader.Run(&read.request));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(read.request.eError, MEDIA_ERR_MNG_OPEN_INPUT);
    EXPECT_TRUE(read.flags.stop.load());
    EXPECT_TRUE(read.flags.end.load());
  }
}

// A second request on a busy reader is refused with 38; the playing one
// goes on delivering.
TEST_F(MngReaderTest, BusyReaderRefusesAndTheRunningRequestGoesOn) {
  TReadSink frames;
  TReadRequest play(IndexFile("play.mng", 40), SRC_STREAM, PF_RGB24, &frames);
  CMngMgr reader;
  bool result = false;
  std::thread t([&] { result = reader.Run(&play.request); });
  ASSERT_TRUE(WaitFor([&] { return frames.frameCount.load() >= 1; }));
  TReadSink other;
  TReadRequest second(Path("play.mng"), SRC_GRAB_FRAME_RGB24, PF_RGB24, &other);
  EXPECT_FALSE(reader.Run(&second.request));
  EXPECT_EQ(second.request.eError, MEDIA_ERR_MNG_BUSY);
  EXPECT_FALSE(second.flags.end.load());
  const int before = frames.frameCount.load();
  EXPECT_TRUE(WaitFor([&] { return frames.frameCount.load() > before + 1; }));
  play.flags.stop = true;
  t.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(other.frameCount.load(), 0);
}

// One frame with a callback: the stream information once, exactly one
// frame, also from a long animation.
TEST_F(MngReaderTest, OneFrameWithCallbackSendsInformationOnceAndOneFrame) {
  TMngBuilder b;
  b.Mhdr(6, 3, 12, 25);
  for (std::uint32_t i = 0; i < 12; ++i) b.Defi(0).Image(MakeIndexFrame(PF_RGB24, 6, 3, i + 7));
  b.Chunk("SHOW", {}).Mend();  // not the recorder layout: read as it is
  b.Save(dir / "twelve.mng");
  for (const TSourcePurpose purpose : {SRC_GRAB_FRAME, SRC_GRAB_FRAME_RGB24}) {
    TReadSink frames;
    TReadRequest read(Path("twelve.mng"), purpose, PF_RGB24, &frames);
    CMngMgr reader;
    EXPECT_TRUE(reader.Run(&read.request));
    EXPECT_TRUE(read.request.bSuccess);
    ASSERT_EQ(frames.infos.size(), 1u);
    EXPECT_EQ(frames.infos[0], (std::vector<std::int32_t>{6, 3, 25, 0, 12, 0, 7}));
    ASSERT_EQ(frames.frames.size(), 1u);
    EXPECT_EQ(FrameIndex(frames.frames[0]), 7u);
    EXPECT_FALSE(reader.ReadAsRecorderLayout());
    EXPECT_TRUE(read.flags.end.load());
  }
}

// Without a callback, purpose 3 copies the frame into the request's 32-bit
// frame buffer and the header values into the info record.
TEST_F(MngReaderTest, OneFrameWithoutCallbackFillsTheFrameBufferAndInfoRecord) {
  const TFrame picture = MakeFrame(PF_RGB24, 11, 5, 3);
  TMngBuilder b;
  b.Mhdr(11, 5, 2).Defi(1).Image(picture).Defi(2).Image(MakeFrame(PF_RGB24, 11, 5, 4)).Mend();
  b.Save(dir / "still.mng");
  for (const TPixelFormat canvas : {PF_RGB24, PF_RGB32}) {
    SCOPED_TRACE(canvas);
    TReadRequest read(Path("still.mng"), SRC_GRAB_FRAME, canvas, nullptr);
    CMngMgr reader;
    EXPECT_TRUE(reader.Run(&read.request));
    if (canvas == PF_RGB24) {
      EXPECT_EQ(read.frame.pBuffer, nullptr);  // only a 32-bit target gets the picture
      continue;
    }
    ASSERT_NE(read.frame.pBuffer, nullptr);
    EXPECT_EQ(read.frame.ePixelFormat, PF_RGB32);
    EXPECT_EQ(read.request.nWidth, 11);
    EXPECT_EQ(read.request.nHeight, 5);
    for (std::int32_t y = 0; y < 5; ++y)
      for (std::int32_t x = 0; x < 11; ++x) {
        const std::uint8_t* got =
            read.frame.pBuffer + static_cast<std::size_t>(4 - y) * read.frame.nStride + x * 4;
        const std::uint8_t* want = picture.Pixel(x, y);
        ASSERT_EQ(got[0], want[0]);
        ASSERT_EQ(got[1], want[1]);
        ASSERT_EQ(got[2], want[2]);
      }
    EXPECT_EQ(std::vector<std::int32_t>(read.info, read.info + 7),
              (std::vector<std::int32_t>{11, 5, 30, 0, 2, 0, 7}));
  }
}

// SeekToFraction's edge cases before and during a run.
TEST_F(MngReaderTest, SeekToFractionEdgeCases) {
  CMngMgr idle;
  EXPECT_FALSE(idle.SeekToFraction(1, 2));  // no header yet
  EXPECT_TRUE(idle.SeekToFraction(1, 1));   // nothing to do
  EXPECT_TRUE(idle.SeekToFraction(3, 0));

  // While playing a 10-frame file that counts its frames.
  TReadSink frames;
  TReadRequest play(IndexFile("ten.mng", 10, 4, 2, 10), SRC_STREAM, PF_RGB24, &frames);
  CMngMgr reader;
  struct TCase {
    std::int32_t n, d;
    bool result;
    std::int64_t target;  // -1: no seek
  };
  std::vector<std::int64_t> targets;
  std::vector<bool> results;
  frames.onFrame = [&](TReadSink&, const TMediaFrameNotice&) {
    if (frames.frameCount.load() != 2) return;
    for (const TCase c :
         {TCase{1, 1, true, -1}, TCase{4, 0, true, -1}, TCase{1, 2, true, 5}, TCase{7, 10, true, 7}}) {
      results.push_back(reader.SeekToFraction(c.n, c.d) == c.result);
      targets.push_back(c.target);
    }
  };
  reader.SetPaced(false);
  EXPECT_TRUE(reader.Run(&play.request));
  // 1 of 1 and 4 of 0 did nothing; 7 of 10 came before the loop took up
  // 1 of 2 and replaced it: the latest position wins.
  ASSERT_EQ(results.size(), 4u);
  for (bool r : results) EXPECT_TRUE(r);
  std::vector<std::uint32_t> shown;
  for (const TDelivered& d : frames.frames) shown.push_back(FrameIndex(d));
  EXPECT_EQ(shown, (std::vector<std::uint32_t>{0, 1, 7, 8, 9}));
  EXPECT_TRUE(frames.frames[2].bDiscontinuity);
  EXPECT_FALSE(frames.frames[3].bDiscontinuity);
  EXPECT_EQ(frames.frames[2].nNumber, 7);
  EXPECT_EQ(reader.GetSeekMode(), MngMgr::MNG_SEEK_BY_FRAME);
}

// A request that comes while a seek runs does nothing (and answers true);
// a pause then is refused. The seek lands where it was going.
TEST_F(MngReaderTest, SeekAndPauseWhileSeekingChangeNothing) {
  TReadSink frames;
  frames.bKeepBytes = false;
  std::vector<std::uint32_t> marked;
  TReadRequest play(IndexFile("seek.mng", 3000, 64, 64, 3000), SRC_STREAM, PF_RGB24, &frames);
  CMngMgr reader;
  reader.SetPaced(false);
  std::atomic<bool> started{false};
  frames.onFrame = [&](TReadSink& s, const TMediaFrameNotice& n) {
    if (n.bDiscontinuity) marked.push_back(IndexOf(n.pRgbData));
    if (s.frameCount.load() == 2) {
      reader.SeekToFraction(9, 10);
      started = true;
    }
  };
  bool during = false, answer = false;
  int pause = -1;
  std::thread poller([&] {
    if (!WaitFor([&] { return started.load() && reader.GetState() == MngMgr::MNG_STATE_SEEKING; })) return;
    answer = reader.SeekToFraction(1, 10);
    pause = reader.Pause();
    during = reader.GetState() == MngMgr::MNG_STATE_SEEKING;
  });
  EXPECT_TRUE(reader.Run(&play.request));
  poller.join();
  ASSERT_TRUE(during) << "the seek ended before the requests came";
  EXPECT_TRUE(answer);
  EXPECT_EQ(pause, 1);
  EXPECT_EQ(marked, (std::vector<std::uint32_t>{2700}));
}

// A play session started with its seek request raised at 0 of 100 decodes
// the first frame, rewinds and delivers the first frame again.
TEST_F(MngReaderTest, PlayStartedWithSeekAtZeroDeliversTheFirstFrameAgain) {
  TReadSink frames;
  TReadRequest play(IndexFile("z.mng", 4, 4, 2, 4), SRC_STREAM, PF_RGB24, &frames);
  play.flags.seek = true;
  play.flags.numerator = 0;
  play.flags.denominator = 100;
  CMngMgr reader;
  reader.SetPaced(false);
  EXPECT_TRUE(reader.Run(&play.request));
  EXPECT_FALSE(play.flags.seek.load());  // taken
  std::vector<std::uint32_t> shown;
  for (const TDelivered& d : frames.frames) shown.push_back(FrameIndex(d));
  EXPECT_EQ(shown, (std::vector<std::uint32_t>{0, 0, 1, 2, 3}));
}

// Without a frame count the seek goes by bytes: half of the file lands in
// the middle of the animation.
TEST_F(MngReaderTest, FileWithoutFrameCountIsSoughtByBytes) {
  TReadSink frames;
  TReadRequest play(IndexFile("bytes.mng", 40), SRC_STREAM, PF_RGB24, &frames);
  CMngMgr reader;
  bool seekResult = false;
  frames.onFrame = [&](TReadSink& s, const TMediaFrameNotice&) {
    if (s.frameCount.load() == 3) seekResult = reader.SeekToFraction(1, 2);
  };
  reader.SetPaced(false);
  EXPECT_TRUE(reader.Run(&play.request));
  EXPECT_TRUE(seekResult);
  EXPECT_EQ(reader.GetSeekMode(), MngMgr::MNG_SEEK_BY_BYTE);
  ASSERT_GT(frames.frames.size(), 4u);
  EXPECT_TRUE(frames.frames[3].bDiscontinuity);
  const std::uint32_t landed = FrameIndex(frames.frames[3]);
  EXPECT_GE(landed, 19u);
  EXPECT_LE(landed, 21u);
  EXPECT_EQ(FrameIndex(frames.frames.back()), 39u);
}

// Pause, resume and stop from each state, within bounded waits.
TEST_F(MngReaderTest, PauseResumeAndStopFromEachState) {
  CMngMgr reader;
  EXPECT_EQ(reader.Pause(), 1);  // idle
  EXPECT_FALSE(reader.Resume());
  reader.Stop();
  EXPECT_EQ(reader.GetState(), MngMgr::MNG_STATE_IDLE);

  TReadSink frames;
  TReadRequest play(IndexFile("long.mng", 400), SRC_STREAM, PF_RGB24, &frames);
  bool result = false;
  std::thread t([&] { result = reader.Run(&play.request); });
  ASSERT_TRUE(WaitFor([&] { return frames.frameCount.load() >= 2; }));
  EXPECT_EQ(reader.GetState(), MngMgr::MNG_STATE_RUNNING);
  EXPECT_FALSE(reader.Resume());  // running: nothing to resume
  EXPECT_EQ(reader.Pause(), 0);
  EXPECT_EQ(reader.GetState(), MngMgr::MNG_STATE_PAUSED);
  EXPECT_EQ(reader.Pause(), 1);  // already paused
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const int paused = frames.frameCount.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(frames.frameCount.load(), paused);  // frozen
  EXPECT_TRUE(reader.Resume());
  EXPECT_EQ(reader.GetState(), MngMgr::MNG_STATE_RUNNING);
  EXPECT_TRUE(WaitFor([&] { return frames.frameCount.load() >= paused + 2; }));
  // Paused, then stopped: the stop ends the run promptly.
  EXPECT_EQ(reader.Pause(), 0);
  const auto stopAt = Clock::now();
  reader.Stop();
  EXPECT_FALSE(reader.Resume());  // a stopped display stays stopped
  t.join();
  EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(500));
  EXPECT_TRUE(result);
  EXPECT_EQ(reader.GetState(), MngMgr::MNG_STATE_STOPPED);
  EXPECT_TRUE(play.flags.end.load());
  EXPECT_LT(frames.frameCount.load(), 400);
}

// A stop during the wait before playing, and the owner's stop flag while
// running, both end the run within a bound.
TEST_F(MngReaderTest, StopBeforeTheFirstFrameAndByTheOwnersFlag) {
  for (const bool byFlag : {false, true}) {
    TReadSink frames;
    TReadRequest play(IndexFile("s.mng", 400), SRC_STREAM, PF_RGB24, &frames);
    CMngMgr reader;
    std::thread t([&] { reader.Run(&play.request); });
    ASSERT_TRUE(WaitFor([&] { return reader.GetState() == MngMgr::MNG_STATE_RUNNING; }));
    const auto stopAt = Clock::now();
    if (byFlag)
      play.flags.stop = true;
    else
      reader.Stop();
    t.join();
    EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(300));
    EXPECT_EQ(frames.frameCount.load(), 0);
  }
}

// Hostile files made here: a clear error, no crash, flags raised.
struct THostile {
  const char* name;
  std::function<std::vector<std::uint8_t>()> make;
  std::uint64_t budget;    // 0: the default
  bool bPlayOnly = false;  // a one-frame read never gets to the fault
};

void PrintTo(const THostile& c, std::ostream* os) { *os << c.name; }

class MngReaderHostile : public MngReaderTest, public ::testing::WithParamInterface<THostile> {};

TEST_P(MngReaderHostile, ClearErrorNoCrash) {
  const THostile& c = GetParam();
  tovrin_test::WriteAll(dir / "bad.mng", c.make());
  for (const TSourcePurpose purpose : {SRC_GRAB_FRAME, SRC_STREAM}) {
    if (c.bPlayOnly && purpose != SRC_STREAM) continue;
    sink.Clear();
    TReadSink frames;
    TReadRequest read(Path("bad.mng"), purpose, PF_RGB32, &frames);
    CMngMgr reader;
    reader.SetPaced(false);
    if (c.budget) reader.SetMemoryBudget(c.budget);
    EXPECT_FALSE(reader.Run(&read.request));
    EXPECT_FALSE(read.request.bSuccess);
    EXPECT_FALSE(reader.LastError().text.empty());
    ASSERT_EQ(sink.Texts().size(), 1u) << "reported once";
    EXPECT_NE(sink.Texts()[0].find("MNG"), std::string::npos) << sink.Texts()[0];
    EXPECT_TRUE(read.flags.end.load());
    if (c.budget) {
      EXPECT_LE(reader.PeakLibraryMemory(), c.budget);
    }
  }
}

std::vector<std::uint8_t> Header(std::uint32_t w, std::uint32_t h) {
  TMngBuilder b;
  b.Mhdr(w, h, 1).Defi(0).Image(MakeFrame(PF_RGB24, 4, 4, 1)).Mend();
  return b.bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, MngReaderHostile,
    ::testing::Values(THostile{"huge20000", [] { return Header(20000, 20000); }, 0},
                      THostile{"huge65535", [] { return Header(65535, 65535); }, 0},
                      THostile{"zeroWidth", [] { return Header(0, 10); }, 0},
                      THostile{"truncated",
                               [] {
                                 auto bytes = RecorderLayoutFile(16, 16, 1, [](std::uint32_t i) {
                                   return MakeFrame(PF_RGB24, 16, 16, i);
                                 });
                                 bytes.resize(bytes.size() / 2);
                                 return bytes;
                               },
                               0},
                      THostile{"badCrc",
                               [] {
                                 auto bytes = RecorderLayoutFile(16, 16, 1, [](std::uint32_t i) {
                                   return MakeFrame(PF_RGB24, 16, 16, i);
                                 });
                                 bytes[8 + 8 + 28] ^= 0x40;  // the MHDR's CRC
                                 return bytes;
                               },
                               0},
                      // Cut at a chunk's boundary before its end: libmng asks for more
                      // data that never comes (the first frame still reads).
                      THostile{"cutAtChunkBoundary",
                               [] {
                                 auto bytes = RecorderLayoutFile(16, 16, 3, [](std::uint32_t i) {
                                   return MakeFrame(PF_RGB24, 16, 16, i);
                                 });
                                 bytes.resize(bytes.size() - 12);  // no MEND
                                 return bytes;
                               },
                               0, true},
                      THostile{"notMng", [] { return std::vector<std::uint8_t>(100, 0x41); }, 0},
                      THostile{"empty", [] { return std::vector<std::uint8_t>{}; }, 0},
                      // Objects kept by a file that shows them: more than the budget holds.
                      THostile{"objectsBeyondBudget",
                               [] {
                                 TMngBuilder b;
                                 b.Mhdr(256, 256, 40);
                                 for (std::uint16_t i = 1; i <= 40; ++i)
                                   b.Defi(i).Image(MakeFrame(PF_RGB24, 256, 256, i));
                                 b.Chunk("SHOW", {}).Mend();
                                 return b.bytes;
                               },
                               4u << 20, true}),
    [](const ::testing::TestParamInfo<THostile>& info) { return std::string(info.param.name); });

// A file damaged after some frames: the frames before it play, the run
// answers false and says why once.
TEST_F(MngReaderTest, DamageWhilePlayingEndsThePlayReportedOnce) {
  auto bytes = RecorderLayoutFile(8, 8, 6, [](std::uint32_t i) { return MakeIndexFrame(PF_RGB24, 8, 8, i); });
  // Damage the fourth frame's IDAT CRC: find it by walking.
  std::vector<TChunk> chunks;
  ASSERT_TRUE(WalkChunks(bytes, chunks, kMngSignature));
  std::size_t pos = 8;
  int idat = 0;
  for (const TChunk& c : chunks) {
    if (c.type == "IDAT" && idat++ == 3) {
      bytes[pos + 8 + c.data.size()] ^= 0xFF;
      break;
    }
    pos += 12 + c.data.size();
  }
  tovrin_test::WriteAll(dir / "damaged.mng", bytes);
  TReadSink frames;
  TReadRequest play(Path("damaged.mng"), SRC_STREAM, PF_RGB24, &frames);
  CMngMgr reader;
  reader.SetPaced(false);
  EXPECT_FALSE(reader.Run(&play.request));
  EXPECT_EQ(frames.frames.size(), 3u);
  EXPECT_EQ(sink.Texts().size(), 1u);
  EXPECT_TRUE(play.flags.end.load());
}

#if defined(__SANITIZE_ADDRESS__)
}  // namespace
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
namespace {
// Under AddressSanitizer freed blocks stay resident in its quarantine: the
// heap's live bytes are the measure there.
std::int64_t ResidentBytes() { return static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes()); }
#else
std::int64_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  long size = 0, resident = 0;
  if (f) {
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<std::int64_t>(resident) * ::sysconf(_SC_PAGESIZE);
}
#endif

// A long recorder-layout file (a new object id per frame) plays to its end
// in bounded memory: the resident size stays within a few MB of its start.
TEST_F(MngReaderTest, LongRecordingPlaysInBoundedMemory) {
  constexpr std::uint32_t kFrames = 2000;
  // One picture, compressed once, under a new object id per frame.
  const TFrame picture = MakeFrame(PF_RGB24, 640, 480, 9);
  TMngBuilder one;
  one.Image(picture);
  const std::vector<std::uint8_t> image(one.bytes.begin() + 8, one.bytes.end());
  TMngBuilder b;
  b.Mhdr(640, 480, 0);
  for (std::uint32_t i = 0; i < kFrames; ++i) {
    b.Defi(static_cast<std::uint16_t>(i));
    b.bytes.insert(b.bytes.end(), image.begin(), image.end());
  }
  b.Mend();
  b.Save(dir / "long.mng");

  TReadSink frames;
  frames.bKeepBytes = false;
  std::int64_t start = 0;
  std::int64_t peak = 0;
  bool exact = true;
  frames.onFrame = [&](TReadSink& s, const TMediaFrameNotice& n) {
    const int count = s.frameCount.load();
    if (count == 1 || count % 100 == 0) {
      TDelivered d;
      d.nWidth = n.nWidth;
      d.nHeight = n.nHeight;
      d.nBits = 24;
      d.bytes.assign(n.pRgbData, n.pRgbData + n.nRgbSize);
      exact = exact && SamePicture(d, picture);
    }
    if (count == 20) start = ResidentBytes();
    if (count > 20) peak = std::max(peak, ResidentBytes());
  };
  TReadRequest play(Path("long.mng"), SRC_STREAM, PF_RGB24, &frames);
  CMngMgr reader;
  reader.SetPaced(false);
  EXPECT_TRUE(reader.Run(&play.request));
  EXPECT_TRUE(reader.ReadAsRecorderLayout());
  EXPECT_EQ(frames.frameCount.load(), static_cast<int>(kFrames));
  EXPECT_TRUE(exact);
  EXPECT_LT(peak - start, std::int64_t{8} << 20) << "start " << start << " peak " << peak;
  EXPECT_LT(reader.PeakLibraryMemory(), std::uint64_t{16} << 20);
}

// A JNG around a baseline JPEG reads within 3 of ffmpeg's decode of it.
TEST_F(MngReaderTest, JngReadsWithinThreeOfFfmpeg) {
  const std::string jpeg = Path("t.jpg");
  const auto made = tovrin_test::RunCapture(
      "ffmpeg -v error -f lavfi -i 'gradients=s=48x32:n=3:seed=5' -frames:v 1 -pix_fmt yuvj444p -q:v 2 -y " +
      tovrin_test::Quote(jpeg) + " && echo ok");
  if (!made) GTEST_SKIP() << "no ffmpeg";
  const auto reference = tovrin_test::RunCapture("ffmpeg -v error -i " + tovrin_test::Quote(jpeg) +
                                                 " -f rawvideo -pix_fmt bgr24 -");
  ASSERT_TRUE(reference);
  ASSERT_EQ(reference->size(), 48u * 32u * 3u);
  const std::vector<std::uint8_t> jpegBytes = tovrin_test::ReadAll(jpeg);
  TMngBuilder b(kJngSignature);
  std::vector<std::uint8_t> jhdr;
  TMngBuilder::Append32(jhdr, 48);
  TMngBuilder::Append32(jhdr, 32);
  jhdr.insert(jhdr.end(), {10, 8, 8, 0, 0, 0, 0, 0});
  b.Chunk("JHDR", jhdr).Chunk("JDAT", jpegBytes).Chunk("IEND", {});
  b.Save(dir / "t.jng");

  TReadSink frames;
  TReadRequest read(Path("t.jng"), SRC_GRAB_FRAME_RGB24, PF_RGB24, &frames);
  CMngMgr reader;
  ASSERT_TRUE(reader.Run(&read.request));
  ASSERT_EQ(frames.frames.size(), 1u);
  const TDelivered& d = frames.frames[0];
  ASSERT_EQ(d.nWidth, 48);
  ASSERT_EQ(d.nHeight, 32);
  int worst = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x)
      for (int k = 0; k < 3; ++k)
        worst = std::max(worst, std::abs(CanvasPixel(d, x, y)[k] - (*reference)[(y * 48 + x) * 3 + k]));
  EXPECT_LE(worst, 3);
  EXPECT_EQ(reader.GetSeekMode(), MngMgr::MNG_SEEK_BY_BYTE);
}

// The whole file from memory (the fuzz target's way in) reads the same.
TEST_F(MngReaderTest, MemoryInputReadsLikeTheFile) {
  const auto bytes =
      RecorderLayoutFile(5, 4, 3, [](std::uint32_t i) { return MakeIndexFrame(PF_RGB24, 5, 4, i); });
  TReadSink frames;
  TReadRequest read("", SRC_STREAM, PF_RGB24, &frames);
  read.request.pPath = nullptr;
  CMngMgr reader;
  reader.SetPaced(false);
  EXPECT_TRUE(reader.RunMemory(&read.request, bytes.data(), bytes.size()));
  ASSERT_EQ(frames.frames.size(), 3u);
  EXPECT_EQ(FrameIndex(frames.frames[2]), 2u);
}

}  // namespace
