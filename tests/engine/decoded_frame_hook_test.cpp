// The owner hears of every decoded layer frame the engine shows, with the
// planar picture and channel 0's shown-frame number: the decoded-frame BMP
// files are written from there.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "document/engine/zarn.h"
#include "document/video_port.h"

namespace {

using namespace ZarnTypes;

class TLayerOwner : public Zarn::IEngineOwner {
 public:
  void GetSessionConfig(Zarn::TSessionConfig&) override {}
  Zarn::IChannelReader* ChannelReader(int) override { return nullptr; }
  void PostEngineUpdate() override {}
  void PostTimeTick() override {}
  void PostChannelSlider(int) override {}
  void PostSessionEnded() override {}
  void DecodedFrameShown(std::int32_t frameNumber, const std::uint8_t* yuv420, std::int32_t width,
                         std::int32_t height) override {
    seen.push_back({frameNumber, yuv420, width, height});
  }
  struct TSeen {
    std::int32_t frameNumber;
    const std::uint8_t* data;
    std::int32_t width, height;
  };
  std::vector<TSeen> seen;
};

TEST(DecodedFrameHookTest, ADeliveredLayerFrameReachesTheOwnerWithChannelZerosFrameNumber) {
  TLayerOwner owner;
  VideoPortHub::CVideoPortHub ports;
  ASSERT_TRUE(ports.ResetAll());
  Zarn::CZarn engine(&owner, &ports);
  // A 4 x 2 layer: 8 luma samples, then 2 + 2 chroma samples.
  engine.m_Dpb.m_nLayerWidth = 4;
  engine.m_Dpb.m_nLayerHeight = 2;
  engine.m_Dpb.m_nLayerSize[3] = 8;
  std::vector<std::uint8_t> frame = {235, 235, 235, 235, 16, 16, 16, 16, 128, 128, 128, 128};
  auto& scenes = engine.m_Dpb.LayerSceneQueue();
  auto& frames = engine.m_Dpb.LayerFrameQueue();
  ASSERT_TRUE(scenes.Allocate(2));
  ASSERT_TRUE(frames.Allocate(2));
  TVideoSceneBuffer scene{};
  scene.nFrames = 1;
  scene.nStored = 1;
  scene.nFirstSlot = frames.GetWriteIndex();
  ASSERT_TRUE(frames.Push(TVideoFrame{0, 0, frame.data()}));
  ASSERT_TRUE(scenes.Push(scene));
  engine.m_Channel[0].nShownFrame.store(42);

  ASSERT_TRUE(engine.DeliverLayerFrame());
  ASSERT_EQ(owner.seen.size(), 1u);
  EXPECT_EQ(owner.seen[0].frameNumber, 42);
  EXPECT_EQ(owner.seen[0].data, frame.data());
  EXPECT_EQ(owner.seen[0].width, 4);
  EXPECT_EQ(owner.seen[0].height, 2);
  // The frame is shown in channel 1's port too.
  const VideoPort::TPicture shown = ports.Port(1).FrontBitmap();
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->Width(), 4);
  EXPECT_EQ(shown->Height(), 2);
  // Nothing more to deliver: no further notice.
  EXPECT_TRUE(engine.DeliverLayerFrame());
  EXPECT_EQ(owner.seen.size(), 1u);
}

}  // namespace
