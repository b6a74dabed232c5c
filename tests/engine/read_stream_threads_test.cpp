// The channel reader between threads: its frame loop on a reader thread held
// by a frame callback that waits as the engine does, a stop from another
// thread, and navigation and settings from the UI thread while the loop
// runs. Run under ThreadSanitizer as well.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "io/read_stream.h"
#include "platform/paths.h"

namespace {

using namespace ZarnTypes;
using ReadStream::CReadStream;
using ReadStream::TReaderDelivery;
using ReadStream::TReaderSource;

constexpr int kW = 8;
constexpr int kH = 4;
constexpr std::size_t kFrameBytes = kW * kH * 3 / 2;  // 4:2:0
constexpr TFileFormat kFormat = TFileFormat{65};

class TFolder {
 public:
  TFolder() : m_path(platform::MakeTempFolder("tovrin-reader-threads-")) {}
  ~TFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

// Frame k: every byte k.
void WriteFrames(const std::string& path, int first, int count) {
  std::ofstream out(path, std::ios::binary);
  for (int k = first; k < first + count; ++k) {
    const std::vector<char> frame(kFrameBytes, static_cast<char>(k));
    out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
  }
}

TReaderSource YuvSource(const std::string& path, bool sequence) {
  TReaderSource s;
  s.bSequence = sequence;
  s.sPath = path;
  s.eStreamType = TStreamType{static_cast<std::int32_t>(kFormat)};
  s.eFileFormat = kFormat;
  s.ePixelFormat = TPixelFormat{static_cast<std::int32_t>(kFormat) - 2};
  s.nWidth = kW;
  s.nHeight = kH;
  return s;
}

// Holds the reader inside the frame callback while "paused", as the
// engine's frame reception does; the wait ends on resume and on stop, also
// on a stop that came before the wait began.
struct THoldingSink {
  std::mutex lock;
  std::condition_variable changed;
  bool paused = false;
  int heldFrames = 0;  // frames that reached the callback while paused
  std::vector<int> frames;
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  int pauseAtFrame = -1;

  static bool Callback(TMediaSenderKind, TSourcePurpose, std::int32_t, void* context, TMediaFrameNotice* f) {
    auto* self = static_cast<THoldingSink*>(context);
    std::unique_lock<std::mutex> guard(self->lock);
    self->frames.push_back(f->pY[0]);
    if (static_cast<int>(self->frames.size()) == self->pauseAtFrame) self->paused = true;
    if (self->paused) {
      ++self->heldFrames;
      self->changed.notify_all();
      self->changed.wait(guard, [self] { return !self->paused || self->stop.load(); });
    }
    return !self->stop.load();
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> guard(lock);
      stop = true;
    }
    changed.notify_all();
  }
  void Resume() {
    {
      std::lock_guard<std::mutex> guard(lock);
      paused = false;
    }
    changed.notify_all();
  }
  bool WaitUntilHeld(int count) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(10), [&] { return heldFrames >= count; });
  }

  TReaderDelivery Delivery() {
    TReaderDelivery d;
    d.nProcId = 42;
    d.eSenderKind = MEDIA_SENDER_STILLS;
    d.pContext = this;
    d.pFrameCallback = &THoldingSink::Callback;
    d.pStopFlag = &stop;
    d.pEndFlag = &end;
    return d;
  }
};

TEST(ReadStreamThreads, AStopFromAnotherThreadEndsAReaderHeldInTheCallback) {
  TFolder folder;
  const std::string clip = folder / "clip.yuv";
  WriteFrames(clip, 0, 50);
  CReadStream reader(1);
  reader.SetDescription(YuvSource(clip, false));
  THoldingSink sink;
  sink.pauseAtFrame = 3;
  reader.SetDelivery(sink.Delivery());

  bool result = false;
  std::thread worker([&] { result = reader.Run(); });
  const bool held = sink.WaitUntilHeld(1);
  // While the reader is held: the UI thread changes the frame range and
  // reads the current file.
  reader.SetFrameRange(5, 20);
  const std::string current = reader.GetCurrentFile();
  sink.Stop();
  worker.join();

  EXPECT_TRUE(held);
  EXPECT_TRUE(result);
  EXPECT_EQ(current, clip);
  EXPECT_EQ(reader.GetFirstFrame(), 5);
  EXPECT_EQ(reader.GetFrameLimit(), 20);
  EXPECT_EQ(sink.frames, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(sink.end.load());
}

TEST(ReadStreamThreads, AResumedReaderGoesOnWithTheNextFrame) {
  TFolder folder;
  const std::string clip = folder / "clip.yuv";
  WriteFrames(clip, 0, 6);
  CReadStream reader(0);
  reader.SetDescription(YuvSource(clip, false));
  THoldingSink sink;
  sink.pauseAtFrame = 2;
  reader.SetDelivery(sink.Delivery());

  bool result = false;
  std::thread worker([&] { result = reader.Run(); });
  const bool held = sink.WaitUntilHeld(1);
  sink.Resume();
  worker.join();

  EXPECT_TRUE(held);
  EXPECT_TRUE(result);
  EXPECT_EQ(sink.frames, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(sink.end.load());
}

TEST(ReadStreamThreads, NavigationAndSettingsFromTheUiThreadWhileASequencePlays) {
  TFolder folder;
  constexpr int kFiles = 40;
  for (int i = 0; i < kFiles; ++i) {
    WriteFrames(folder / ("f" + std::to_string(i) + ".yuv"), i, 1);
  }
  CReadStream reader(0);
  reader.SetSortMode(ReadStream::SORT_NATURAL);
  reader.SetDescription(YuvSource(folder / "f0.yuv", true));
  THoldingSink sink;
  reader.SetDelivery(sink.Delivery());

  bool result = false;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = reader.Run();
    done = true;
  });
  int navigations = 0;
  int found = 0;
  while (!done.load()) {
    std::string next;
    if (reader.FindSiblingFile(ReadStream::SIBLING_NEXT, folder / "f7.yuv", &next) &&
        next == folder / "f8.yuv") {
      ++found;
    }
    (void)reader.GetCurrentFile();
    reader.SetFileTypeMode(navigations % 2 == 0 ? ReadStream::FILE_TYPES_SUPPORTED
                                                : ReadStream::FILE_TYPES_STILLS);
    reader.SetFrameRange(0, navigations);
    ++navigations;
  }
  worker.join();

  EXPECT_TRUE(result);
  EXPECT_EQ(found, navigations);
  ASSERT_EQ(sink.frames.size(), static_cast<std::size_t>(kFiles));
  for (int i = 0; i < kFiles; ++i) EXPECT_EQ(sink.frames[i], i);
  EXPECT_TRUE(sink.end.load());
  ASSERT_TRUE(reader.FindSiblingFile(ReadStream::SIBLING_NEXT, folder / "f7.yuv"));
  EXPECT_EQ(reader.GetCurrentFile(), folder / "f8.yuv");
}

}  // namespace
