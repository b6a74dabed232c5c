// Sessions over the document's own channel reader (CReadStream): a raw YUV
// file and a folder of YUV stills read as a sequence in natural order.

#include <gtest/gtest.h>

#include <numeric>

#include "io/read_stream.h"
#include "platform/message_sink.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

using namespace ZarnTypes;

class ReadStreamSessionTest : public EngineTest {
 protected:
  void UseReader(int channel) {
    adapters[channel] = std::make_unique<Zarn::CReadStreamChannel>(&readers[channel]);
    owner.m_pReader[channel] = adapters[channel].get();
  }
  std::vector<int> Pictures(int channel) const {
    std::vector<int> pictures;
    for (const TShown& shown : owner.Shown())
      if (shown.channel == channel) pictures.push_back(shown.picture);
    return pictures;
  }

  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope{&sink};
  ReadStream::CReadStream readers[4] = {ReadStream::CReadStream(0), ReadStream::CReadStream(1),
                                        ReadStream::CReadStream(2), ReadStream::CReadStream(3)};
  std::unique_ptr<Zarn::CReadStreamChannel> adapters[4];
};

TEST_F(ReadStreamSessionTest, ARawYuvFilePlaysFrameByFrameToItsEnd) {
  const std::filesystem::path path = File("clip.yuv");
  WriteRawYuv(path, 45);
  owner.m_Config.source[0] = YuvSource(path);
  UseReader(0);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  std::vector<int> expected(45);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(owner.ShownFrames(0), expected);
  EXPECT_EQ(Pictures(0), expected);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ReadStreamSessionTest, AFolderSequencePlaysInNaturalOrder) {
  // img1 .. img12: in natural order 1, 2, ..., 12; by plain name 1, 10, 11, 12, 2, ...
  const std::filesystem::path folder = File("seq");
  std::filesystem::create_directories(folder);
  for (int n = 1; n <= 12; ++n) {
    const std::vector<std::uint8_t> frame = CodedFrame(n);
    char name[32];
    std::snprintf(name, sizeof name, "img%d.yuv", n);
    std::FILE* f = std::fopen((folder / name).string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(frame.data(), 1, frame.size(), f);
    std::fclose(f);
  }
  TMediaSource source = YuvSource(folder / "img1.yuv");
  source.bRead = TRUE_;  // read the start file's folder as a sequence
  owner.m_Config.source[1] = source;
  readers[1].SetSortMode(ReadStream::SORT_NATURAL);
  UseReader(1);
  PlayChannels({1});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  std::vector<int> expected(12);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(Pictures(1), expected);
  EXPECT_EQ(owner.ShownFrames(1).size(), 12u);
}

TEST_F(ReadStreamSessionTest, FourChannelsOfTheirOwnReadersPlayTogether) {
  const int counts[4] = {7, 31, 12, 40};
  for (int ch = 0; ch < 4; ++ch) {
    char name[32];
    std::snprintf(name, sizeof name, "c%d.yuv", ch);
    const std::filesystem::path path = File(name);
    WriteRawYuv(path, counts[ch]);
    owner.m_Config.source[ch] = YuvSource(path);
    UseReader(ch);
  }
  PlayChannels({0, 1, 2, 3});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  for (int ch = 0; ch < 4; ++ch) {
    std::vector<int> expected(static_cast<std::size_t>(counts[ch]));
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(Pictures(ch), expected) << "channel " << ch;
  }
}

// A 24-bit BMP of the coded picture of frame k.
void WriteBmp(const std::filesystem::path& path, int k) {
  const int stride = kWidth * 3;
  const std::uint32_t bitsSize = static_cast<std::uint32_t>(stride * kHeight);
  std::vector<std::uint8_t> file(54 + bitsSize, 0);
  auto put32 = [&](int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      file[static_cast<std::size_t>(at + i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, 54 + bitsSize);
  put32(10, 54);
  put32(14, 40);
  put32(18, kWidth);
  put32(22, kHeight);
  file[26] = 1;
  file[28] = 24;
  put32(34, bitsSize);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c)
        file[static_cast<std::size_t>(54 + y * stride + 3 * x + c)] = (k >> (x / 8)) & 1 ? 255 : 0;
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
}

TEST_F(ReadStreamSessionTest, AStillIsDeliveredUntilStoppedAndStopsCleanlyWhilePaused) {
  const std::filesystem::path path = File("still.bmp");
  WriteBmp(path, 0x5A);
  TMediaSource source;
  source.bOpen = TRUE_;
  source.bLoaded = TRUE_;
  source.eStreamType = TStreamType{26};
  source.eFileFormat = TFileFormat{27};
  source.eFramePixelFormat = PF_RGB24;
  source.nWidth = kWidth;
  source.nHeight = kHeight;
  source.sPath = path.string();
  owner.m_Config.source[0] = source;
  UseReader(0);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return owner.Shown().size() >= 40; }));  // past the first scene
  engine.PausePlaying();
  ASSERT_TRUE(WaitFor([&] { return engine.m_Dpb.FreeSpaceWaiters(0) == 1; }));
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  for (int picture : Pictures(0)) EXPECT_EQ(picture, 0x5A);
  EXPECT_TRUE(sink.Texts().empty());
}

}  // namespace
}  // namespace engine_test
