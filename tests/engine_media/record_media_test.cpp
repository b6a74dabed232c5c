// Recording a media file played by the engine while the recording writer is
// slow on purpose: the file's session waits for the engine instead of
// dropping frames, so every frame of the file is recorded, in order.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "document/engine/zarn.h"
#include "document/record_writer.h"
#include "io/codecs/save_stream.h"
#include "io/dshow/media_session.h"
#include "io/read_stream.h"
#include "media/dib.h"
#include "platform/message_sink.h"
#include "tests/dshow/dshow_fixtures.h"
#include "tests/engine/engine_fixture.h"

namespace {

using namespace ZarnTypes;
using engine_test::WaitFor;

// Writes each shown frame only after a pause far longer than the file's
// frame period (40 ms).
class TSlowRecordOwner : public engine_test::TTestOwner {
 public:
  void FrameShown(int channel, std::int32_t frameNumber) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    if (m_pWriter) m_pWriter->FrameShown(channel, frameNumber);
    engine_test::TTestOwner::FrameShown(channel, frameNumber);
  }
  void PrepareRecorders() override {
    if (m_pWriter) m_pWriter->PrepareRecorders();
  }
  void CloseRecorders() override {
    if (m_pWriter) m_bClosedOk.store(m_pWriter->CloseRecorders());
  }
  RecordWriter::CRecordWriter* m_pWriter = nullptr;
  std::atomic<bool> m_bClosedOk{false};
};

TEST(RecordMediaTest, ASlowWriterStillRecordsEveryFrameOfAMediaFile) {
  const std::filesystem::path clip = dshow_test::Fixture("test.avi");
  if (clip.empty()) GTEST_SKIP() << "cannot make test.avi on this machine";
  DShowMgr::UseMediaGraph();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tovrin-record-media-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  platform::TRecordingMessageSink messages;
  platform::TScopedMessageSink scope(&messages);

  TSlowRecordOwner owner;
  owner.m_Config.nCtrlPeriod = 1;
  owner.m_Config.nVideoOutPeriod = 1;
  owner.m_Config.nVideoOutDelay = 0;
  ReadStream::CReadStream stream(0);
  Zarn::CReadStreamChannel reader(&stream);
  TMediaSource& source = owner.m_Config.source[0];
  source.bOpen = TRUE_;
  source.bLoaded = TRUE_;
  source.eState = SOURCE_STATE_LOADED;
  source.eFileFormat = TFileFormat{FF_AVI};
  source.eStreamType = TStreamType{FileFormatToStreamType(FF_AVI)};
  source.eFramePixelFormat = PF_RGB24;
  source.nWidth = dshow_test::kWidth;
  source.nHeight = dshow_test::kHeight;
  source.sPath = clip.string();
  owner.m_pReader[0] = &reader;

  SaveStream::CSaveStream recorder(0);
  recorder.SetOutputFileFormat(FF_BMP_24BIT);
  recorder.m_sOutputFolder = dir.string();
  recorder.m_sPrefix = "media";
  recorder.m_sExtension = ".bmp";
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  // A cache of one scene: the file's frames soon wait for the slow writer.
  engine.m_Dpb.m_nRequestedFrames = 30;
  RecordWriter::CRecordWriter writer(engine, owner.m_Ports, {&recorder, nullptr, nullptr, nullptr});
  owner.m_pWriter = &writer;

  RecordWriter::TRecordStart start;
  start.bPrepare[0] = true;
  start.nSession = 1;
  start.settings[0] = RecordWriter::SettingsOfRecorder(recorder);
  writer.SetSessionStart(start);
  engine.m_Channel[0].bRecordChannel.store(true);
  engine.m_bRecording.store(true);
  ASSERT_TRUE(engine.StartPlaying());
  // 50 frames of at least 60 ms each: a few seconds.
  const bool ended = WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(60));
  if (!ended) engine.StopPlaying();
  engine.Shutdown();
  ASSERT_TRUE(ended) << "the session did not end";

  EXPECT_TRUE(owner.m_bClosedOk.load());
  EXPECT_TRUE(messages.Texts().empty());
  const std::vector<int> shown = owner.ShownFrames(0);
  ASSERT_EQ(shown.size(), static_cast<std::size_t>(dshow_test::kFrames)) << "frames were dropped";
  EXPECT_EQ(writer.FramesWritten(0), dshow_test::kFrames);
  const std::vector<dshow_test::TDecodedFrame> decoded = dshow_test::DecodeFrames(clip);
  ASSERT_EQ(decoded.size(), static_cast<std::size_t>(dshow_test::kFrames));
  for (int k = 0; k < dshow_test::kFrames; ++k) {
    EXPECT_EQ(shown[static_cast<std::size_t>(k)], k);
    Dib::TDibSection picture;
    ASSERT_TRUE(Dib::ReadBmpFile(recorder.GetOutputFileName(k), picture)) << "frame " << k;
    ASSERT_EQ(picture.BitCount(), 24);
    ASSERT_FALSE(picture.TopDown());
    EXPECT_LE(dshow_test::MaxDifference(picture.bits.data(), 24, static_cast<int>(picture.Stride()),
                                        decoded[static_cast<std::size_t>(k)]),
              12)
        << "frame " << k;
  }
  EXPECT_FALSE(std::filesystem::exists(recorder.GetOutputFileName(dshow_test::kFrames)));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
