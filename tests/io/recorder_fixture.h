#pragma once
// The fixture of the stream recorder's tests: single-file recorders writing
// into the test's folder, and an engine of the test's own that their
// sessions report to and take their frames from.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "io/codecs/save_stream.h"
#include "io/media_request.h"
#include "media/frame_processor.h"
#include "tests/support/message_fixture.h"

namespace recorder_test {

// How long a test waits for what the recorders' threads should do.
constexpr std::chrono::milliseconds kWaitBound = std::chrono::seconds(20);

// Polls `condition` until it holds or `limit` has passed; whether it held.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = kWaitBound) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// What the engine is to the recorders: the owner callback that counts jobs,
// keeps the writer threads' notices and answers the writers' frame requests
// from the recorder of the sender's channel; per channel a stop and a finish
// flag, as the recorder slots have.
struct TFakeEngine {
  std::array<SaveStream::CSaveStream*, 4> recorders{};
  std::atomic<int> jobCount{0};
  std::atomic<int> threadsStarted{0};
  std::atomic<int> startedId{-1};
  std::array<std::atomic<bool>, 4> stop{};
  std::array<std::atomic<bool>, 4> finish{};
  std::atomic<bool> pause{false};

  static bool Callback(void* context, ZarnTypes::TMediaNotify code, const ZarnTypes::TMediaSender* sender,
                       void* data) {
    auto* engine = static_cast<TFakeEngine*>(context);
    if (!engine || !sender) return false;
    switch (code) {
      case ZarnTypes::MEDIA_NOTIFY_JOB_COUNT:
        engine->jobCount.fetch_add(static_cast<int>(ZarnTypes::PointerAsValue(data)));
        return true;
      case ZarnTypes::MEDIA_NOTIFY_THREAD_STARTED:
        engine->threadsStarted.fetch_add(1);
        engine->startedId.store(sender->nSenderId);
        return data != nullptr;
      case ZarnTypes::MEDIA_NOTIFY_RECORD_FRAME: {
        const int channel = sender->nSenderId - 45;
        if (sender->eSenderKind != ZarnTypes::MEDIA_SENDER_RECORDER || channel < 0 || channel > 3)
          return false;
        SaveStream::CSaveStream* recorder = engine->recorders[static_cast<std::size_t>(channel)];
        return recorder && recorder->PullFrame(sender, static_cast<ZarnTypes::TDataFrame*>(data));
      }
      default: return false;
    }
  }
};

// Recorded message boxes, a folder of the test's own and the fake engine.
class TRecorderTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  // A recorder in single-file mode writing `format` to `name` in the test's folder.
  void SetUpSingleFile(SaveStream::CSaveStream& recorder, std::int32_t format,
                       const std::string& name = "take.yuv") {
    recorder.m_bSingleFile = true;
    recorder.SetOutputFileFormat(format);
    recorder.m_sSingleFileName = Path(name);
  }
  // The recorder of `channel`: a session on the fake engine for frames of
  // that size and layout, its settings handed over, and the engine's frame
  // requests for the channel answered by it.
  void StartSession(SaveStream::CSaveStream& recorder, int channel, std::int32_t width, std::int32_t height,
                    ZarnTypes::TPixelFormat format, bool live) {
    const auto slot = static_cast<std::size_t>(channel);
    recorder.m_nChannel = channel;
    recorder.m_Session =
        SaveStream::MakeSession(channel, &engine, &engine.stop[slot], &engine.finish[slot], &engine.pause,
                                &TFakeEngine::Callback, width, height, format);
    recorder.HandOverSessionSettings(live);
    engine.recorders[slot] = &recorder;
  }

  TFakeEngine engine;
};

}  // namespace recorder_test
