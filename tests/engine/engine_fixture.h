#pragma once
// Shared pieces of the engine tests: raw YUV fixtures whose frame k can be
// read back from its pixels, a stand-in channel reader with the frame loop
// of a raw YUV file or a still, and an engine owner that records what the
// engine tells it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "document/engine/zarn.h"
#include "document/video_port.h"
#include "media/file_types.h"

namespace engine_test {

// Pictures are 64 x 16: eight stripes of 8 columns, stripe i white when bit i
// of the frame number is set, black otherwise; neutral chroma.
inline constexpr int kWidth = 64;
inline constexpr int kHeight = 16;
inline constexpr int kYSize = kWidth * kHeight;
inline constexpr int kChromaSize = kYSize / 4;
inline constexpr int kFrameBytes = kYSize + 2 * kChromaSize;

// 4:2:0 centred, BT.601, 16-235: a raw YUV layout like any other.
inline constexpr std::int32_t kYuvFormat = ZarnTypes::ComposeYuvFileFormat(
    ZarnTypes::YUV_STD_BT601, ZarnTypes::YUV_LAYOUT_420_CENTRED, ZarnTypes::YUV_RANGE_16_235_240);

std::vector<std::uint8_t> CodedFrame(int k);
// Writes frames 0..count-1.
void WriteRawYuv(const std::filesystem::path& path, int count);
// The frame number shown by a 32-bit picture, or -1 when the picture is not a
// whole coded frame (wrong size, a stripe that differs between its top and
// bottom rows, a level that is neither black nor white).
int DecodePicture(const Dib::TDibSection& picture);
int DecodePort(VideoPortHub::CVideoPortHub& ports, int channel);

// The channel's source record of a raw YUV file.
ZarnTypes::TMediaSource YuvSource(const std::filesystem::path& path);

// Waits up to `limit` for the condition; true when it held.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// A channel reader reading a raw YUV file frame by frame, like the frame
// loop: every frame through the frame callback, the end flag at the end of
// the file, the stop flag polled between frames. `still` delivers frame 0
// again and again until the stop; `holdAtEnd` keeps the source open after
// its last frame (a live source) until the stop.
class TFileReader : public Zarn::IChannelReader {
 public:
  explicit TFileReader(std::filesystem::path path, bool still = false, bool holdAtEnd = false)
      : m_Path(std::move(path)), m_bStill(still), m_bHoldAtEnd(holdAtEnd) {}
  bool SetSource(int channel, const ZarnTypes::TMediaSource& source) override;
  void SetDelivery(const ReadStream::TReaderDelivery& delivery) override {
    m_Delivery = delivery;
    m_pStopFlag.store(delivery.pStopFlag);
  }
  bool Run() override;
  void Pause() override {}
  void Resume() override { m_nResumes.fetch_add(1); }
  void Stop() override {}
  std::int32_t GetFirstFrame() const override { return m_nFirst.load(); }
  std::int32_t GetFrameLimit() const override { return m_nLimit.load(); }
  void SetFrameRange(std::int32_t first, std::int32_t limit) {
    m_nFirst.store(first);
    m_nLimit.store(limit);
  }
  // Raises the reader's stop flag itself (a test's way out of a session the
  // engine failed to stop, so that it fails instead of hanging).
  void ForceStop() {
    if (std::atomic<bool>* stop = m_pStopFlag.load()) stop->store(true);
  }

  std::atomic<int> m_nRuns{0};
  std::atomic<int> m_nRunsEnded{0};
  std::atomic<int> m_nDelivered{0};
  std::atomic<int> m_nRefused{0};
  std::atomic<int> m_nResumes{0};
  std::atomic<int> m_nNiceness{-100};  // of the thread that ran the reader

 private:
  std::filesystem::path m_Path;
  bool m_bStill;
  bool m_bHoldAtEnd;
  ReadStream::TReaderDelivery m_Delivery;
  std::atomic<std::atomic<bool>*> m_pStopFlag{nullptr};
  std::atomic<std::int32_t> m_nFirst{0};
  std::atomic<std::int32_t> m_nLimit{0};
};

// A shown (or replayed) frame as the owner saw it on the pacing thread: the
// frame number the engine reports and the number the port's picture shows at
// that moment.
struct TShown {
  int channel;
  int frameNumber;
  int picture;
};

class TTestOwner : public Zarn::IEngineOwner {
 public:
  TTestOwner();
  void GetSessionConfig(Zarn::TSessionConfig& config) override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    config = m_Config;
  }
  Zarn::IChannelReader* ChannelReader(int channel) override { return m_pReader[channel]; }
  void PostEngineUpdate() override { m_nUpdatePosts.fetch_add(1); }
  void PostTimeTick() override { m_nTimeTicks.fetch_add(1); }
  void PostChannelSlider(int) override {}
  void PostSessionEnded() override { m_nSessionsEnded.fetch_add(1); }
  // Session thread, just before the channel processes start.
  void PrepareRecorders() override {
    if (m_OnPrepareRecorders) m_OnPrepareRecorders();
  }
  std::function<void()> m_OnPrepareRecorders;
  void FrameShown(int channel, std::int32_t frameNumber) override;
  void FrameReplayed(int channel, std::int32_t frameNumber) override;
  // Called on the engine's thread after each replayed frame (set it while
  // nothing replays).
  std::function<void()> m_OnReplayed;

  std::vector<TShown> Shown() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Shown;
  }
  std::vector<int> ShownFrames(int channel) const;
  void ClearShown() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Shown.clear();
    m_Replayed.clear();
  }
  std::vector<TShown> Replayed() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Replayed;
  }

  Zarn::TSessionConfig m_Config;
  Zarn::IChannelReader* m_pReader[4] = {};
  VideoPortHub::CVideoPortHub m_Ports;
  std::atomic<int> m_nUpdatePosts{0};
  std::atomic<int> m_nTimeTicks{0};
  std::atomic<int> m_nSessionsEnded{0};
  std::atomic<int> m_nPacingNiceness{-100};  // of the thread that reported the last shown frame

 private:
  mutable std::mutex m_Mutex;
  std::vector<TShown> m_Shown;
  std::vector<TShown> m_Replayed;
};

// An engine with a recording owner, fast periods and a temporary folder.
class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  ~EngineTest() override;
  std::filesystem::path File(const std::string& name) const { return m_Dir / name; }
  // Opens a raw YUV file of `frames` frames into the channel.
  TFileReader& OpenYuv(int channel, int frames, bool holdAtEnd = false);
  void PlayChannels(std::initializer_list<int> channels);
  // Stops the session and joins it; a session that does not end within
  // seconds fails the test (and a hang aborts the program with a message).
  void BoundedShutdown();
  bool WaitForSessionEnd() {
    return WaitFor([&] { return !engine.IsRunning(); });
  }

  std::filesystem::path m_Dir;
  TTestOwner owner;
  Zarn::CZarn engine{&owner, &owner.m_Ports};
  std::vector<std::unique_ptr<TFileReader>> m_Readers;
};

}  // namespace engine_test
