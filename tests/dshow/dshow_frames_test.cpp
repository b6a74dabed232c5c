// The grabber and null renderer elements, and the bounds of the frame sink
// driven with hand-made buffers.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "io/dshow/sample_grabber.h"
#include "session_helpers.h"

using namespace ZarnTypes;
using namespace SampleGrabberFilter;
using DShowMgr::CDShowMgr;

namespace {

class TCountingCallback : public CGrabberSampleCB {
 public:
  explicit TCountingCallback(TGrabAnswer answer) : m_answer(answer) {}
  TGrabAnswer SampleCB(const TGrabSample& sample, bool bTypeChanged) override {
    ++calls;
    if (bTypeChanged) ++typeChanges;
    lastSize = sample.nSize;
    return m_answer;
  }
  std::atomic<int> calls{0}, typeChanges{0};
  std::atomic<std::size_t> lastSize{0};

 private:
  TGrabAnswer m_answer;
};

// videotestsrc (5 frames of the caps) ! grabber ! null renderer, run to the end.
bool RunThrough(CSampleGrabber& grabber, CNullRenderer& renderer, const char* caps) {
  GstElement* pipeline = gst_pipeline_new("test");
  GstElement* source = gst_element_factory_make("videotestsrc", nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  g_object_set(source, "num-buffers", 5, nullptr);
  GstCaps* c = gst_caps_from_string(caps);
  g_object_set(filter, "caps", c, nullptr);
  gst_caps_unref(c);
  renderer.SetSync(false);
  gst_bin_add_many(GST_BIN(pipeline), source, filter, grabber.Element(), renderer.Element(), nullptr);
  bool ok = gst_element_link_many(source, filter, grabber.Element(), renderer.Element(), nullptr);
  if (ok) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return ok;
}

}  // namespace

TEST(SampleGrabber, HandsEveryBufferToTheCallbackAndPassesItOn) {
  CSampleGrabber grabber;
  CNullRenderer renderer;
  ASSERT_TRUE(grabber.Valid() && renderer.Valid());
  TConnectedMediaType type;
  EXPECT_EQ(grabber.GetConnectedMediaType(&type), GRAB_TYPE_NOT_CONNECTED);
  TCountingCallback callback(GRAB_PASS);
  grabber.SetCallback(&callback);
  ASSERT_TRUE(RunThrough(grabber, renderer, "video/x-raw,format=BGR,width=33,height=7,framerate=25/1"));
  EXPECT_EQ(callback.calls.load(), 5);
  EXPECT_EQ(callback.typeChanges.load(), 1);
  EXPECT_EQ(callback.lastSize.load(), 700u);  // 7 rows of 99 bytes, each padded to 100
  EXPECT_EQ(renderer.Rendered(), 5u);
}

TEST(SampleGrabber, ACallbackThatDropsKeepsBuffersFromTheRenderer) {
  CSampleGrabber grabber;
  CNullRenderer renderer;
  TCountingCallback callback(GRAB_DROP);
  grabber.SetCallback(&callback);
  ASSERT_TRUE(RunThrough(grabber, renderer, "video/x-raw,format=BGR,width=16,height=16,framerate=25/1"));
  EXPECT_EQ(callback.calls.load(), 5);
  EXPECT_EQ(renderer.Rendered(), 0u);
}

TEST(SampleGrabber, AcceptedTypeRefusesOtherUpstreamFormats) {
  {
    CSampleGrabber grabber;
    CNullRenderer renderer;
    ASSERT_TRUE(grabber.SetAcceptedMediaType("video/x-raw,format=BGR"));
    // An upstream that offers only YUY2 cannot connect.
    EXPECT_FALSE(RunThrough(grabber, renderer, "video/x-raw,format=YUY2,width=16,height=16,framerate=25/1"));
  }
  {
    CSampleGrabber grabber;
    CNullRenderer renderer;
    EXPECT_FALSE(grabber.SetAcceptedMediaType("not a media type ,,="));
    ASSERT_TRUE(grabber.SetAcceptedMediaType(""));  // anything again
    EXPECT_TRUE(RunThrough(grabber, renderer, "video/x-raw,format=YUY2,width=16,height=16,framerate=25/1"));
    EXPECT_EQ(renderer.Rendered(), 5u);
  }
}

namespace {
// Keeps where each buffer's data lay.
class TAddressCallback : public CGrabberSampleCB {
 public:
  TGrabAnswer SampleCB(const TGrabSample& sample, bool) override {
    std::lock_guard lock(m_lock);
    addresses.push_back(sample.pData);
    return GRAB_PASS;
  }
  std::vector<const std::uint8_t*> Addresses() {
    std::lock_guard lock(m_lock);
    return addresses;
  }

 private:
  std::mutex m_lock;
  std::vector<const std::uint8_t*> addresses;
};
}  // namespace

// With the caller's memory lent as a delivery buffer, upstream writes every
// frame into it, after the prefix; a buffer too small for a frame leaves
// upstream to its own memory, and every frame still passes.
TEST(SampleGrabber, DeliveryBufferHoldsEveryFrame) {
  const char* caps = "video/x-raw,format=BGR,width=33,height=7,framerate=25/1";  // 700 bytes a frame
  struct Case {
    int size, prefix;
    bool bUsed;
  } cases[] = {{1024, 64, true}, {764, 64, true}, {763, 64, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    alignas(64) static std::uint8_t memory[1024];
    CSampleGrabber grabber;
    CNullRenderer renderer;
    TAddressCallback callback;
    grabber.SetCallback(&callback);
    TAllocatorProperties properties;
    properties.nBuffers = 1;
    properties.nBufferSize = c.size;
    properties.nAlignment = 16;
    properties.nPrefix = c.prefix;
    ASSERT_EQ(grabber.SetDeliveryBuffer(properties, memory), GRAB_DELIVERY_OK);
    ASSERT_TRUE(RunThrough(grabber, renderer, caps));
    const auto addresses = callback.Addresses();
    ASSERT_EQ(addresses.size(), 5u);
    for (const std::uint8_t* p : addresses) EXPECT_EQ(p == memory + c.prefix, c.bUsed);
    EXPECT_EQ(renderer.Rendered(), 5u);
  }
}

// The lent memory is refused unless it is exactly one buffer that exists,
// with properties that can be served, and only before the pads are linked.
TEST(SampleGrabber, DeliveryBufferRefusals) {
  alignas(64) static std::uint8_t memory[256];
  const TAllocatorProperties good{1, 256, 16, 0};
  struct Case {
    TAllocatorProperties properties;
    std::uint8_t* buffer;
    TGrabDeliveryResult expected;
  } cases[] = {
      {{2, 256, 16, 0}, memory, GRAB_DELIVERY_INVALID_ARGUMENT},
      {{0, 256, 16, 0}, memory, GRAB_DELIVERY_INVALID_ARGUMENT},
      {good, nullptr, GRAB_DELIVERY_NO_POINTER},
      {{2, 256, 16, 0}, nullptr, GRAB_DELIVERY_INVALID_ARGUMENT},  // the count is looked at first
      {{1, 0, 16, 0}, memory, GRAB_DELIVERY_INVALID_ARGUMENT},
      {{1, 256, 16, 256}, memory, GRAB_DELIVERY_INVALID_ARGUMENT},  // no room after the prefix
      {{1, 256, 16, -1}, memory, GRAB_DELIVERY_INVALID_ARGUMENT},
      {{1, 256, 12, 0}, memory, GRAB_DELIVERY_INVALID_ARGUMENT},      // not a power of two
      {{1, 255, 16, 0}, memory + 1, GRAB_DELIVERY_INVALID_ARGUMENT},  // not aligned
      {good, memory, GRAB_DELIVERY_OK},
  };
  for (const Case& c : cases) {
    CSampleGrabber grabber;
    EXPECT_EQ(grabber.SetDeliveryBuffer(c.properties, c.buffer), c.expected)
        << c.properties.nBuffers << " " << c.properties.nBufferSize << " " << c.properties.nAlignment << " "
        << c.properties.nPrefix;
  }
  // Linked pads: refused.
  CSampleGrabber grabber;
  CNullRenderer renderer;
  GstElement* bin = gst_bin_new(nullptr);
  gst_bin_add_many(GST_BIN(bin), grabber.Element(), renderer.Element(), nullptr);
  ASSERT_TRUE(gst_element_link(grabber.Element(), renderer.Element()));
  EXPECT_EQ(grabber.SetDeliveryBuffer(good, memory), GRAB_DELIVERY_INVALID_ARGUMENT);
  gst_object_unref(bin);
}

namespace {
// A 4 x 3 frame of 24-bit rows (stride 12), top-down, each row one value.
std::vector<std::uint8_t> TopDownFrame() {
  std::vector<std::uint8_t> rows(36);
  for (int y = 0; y < 3; ++y) std::memset(rows.data() + y * 12, 10 * (y + 1), 12);
  return rows;
}
}  // namespace

// The size a grab notice claims is the size of the data behind it: a
// buffer shorter than a frame is not handed to the owner.
TEST(DShowFrameSink, ShortBufferIsNotHandedToTheOwner) {
  dshow_test::TOwner owner;
  owner.Build("x", SRC_GRAB_FRAME_RGB24, PF_RGB24, true);
  CDShowMgr session;
  session.BeginSessionForTest(&owner.request, 4, 3, 24);
  const auto frame = TopDownFrame();
  session.OnSample(frame.data(), 35, 0.0);  // one byte short
  EXPECT_EQ(owner.FrameCount(), 0u);
  session.OnSample(frame.data(), frame.size(), 0.5);
  const auto frames = owner.Frames();
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_EQ(frames[0].rgb.size(), 36u);
  // Bottom-up: the last row of the picture comes first.
  EXPECT_EQ(frames[0].rgb[0], 30);
  EXPECT_EQ(frames[0].rgb[12], 20);
  EXPECT_EQ(frames[0].rgb[24], 10);
  EXPECT_DOUBLE_EQ(frames[0].dTime, 0.5);
  // A grab hands over one frame only.
  session.OnSample(frame.data(), frame.size(), 1.0);
  EXPECT_EQ(owner.FrameCount(), 1u);
  session.EndSessionForTest();
}

// Without a callback a grab converts only the rows the buffer holds; the
// rows it lacks stay black.
TEST(DShowFrameSink, RequestFrameTakesOnlyTheRowsTheBufferHolds) {
  dshow_test::TOwner owner;
  owner.Build("x", SRC_GRAB_FRAME, PF_RGB32, false);
  CDShowMgr session;
  session.BeginSessionForTest(&owner.request, 4, 3, 24);
  const auto frame = TopDownFrame();
  session.OnSample(frame.data(), 24, 0.0);  // two rows of three
  ASSERT_NE(owner.frame.pBuffer, nullptr);
  EXPECT_EQ(owner.request.nWidth, 4);
  EXPECT_EQ(owner.request.nHeight, 3);
  const std::uint8_t* p = owner.frame.pBuffer;
  const int stride = owner.frame.nStride;
  EXPECT_EQ(stride, 16);
  // Bottom-up: memory row 2 is the top row of the picture.
  EXPECT_EQ(p[2 * stride + 0], 10);
  EXPECT_EQ(p[2 * stride + 3], 0);
  EXPECT_EQ(p[1 * stride + 4], 20);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0) << i;  // the missing bottom row
  session.EndSessionForTest();
}

// A streaming owner gets whole frames through the notification thread, in
// the requested pixel format, each with its layout record.
TEST(DShowFrameSink, StreamedFramesReachTheOwnerWhole) {
  dshow_test::TOwner owner;
  owner.Build("x", SRC_STREAM, PF_RGB24, true);
  CDShowMgr session;
  session.BeginSessionForTest(&owner.request, 4, 3, 24);
  const auto frame = TopDownFrame();
  session.OnSample(frame.data(), 20, 0.0);  // short: dropped
  session.OnSample(frame.data(), frame.size(), 0.04);
  ASSERT_TRUE(owner.WaitFrames(1, 5000));
  session.EndSessionForTest();
  const auto frames = owner.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].ePixelFormat, PF_RGB24);
  EXPECT_EQ(frames[0].rgb.size(), 36u);
  EXPECT_EQ(frames[0].rgb[0], 30);
  EXPECT_DOUBLE_EQ(frames[0].dTime, 0.04);
}

// Grabbed rows may lie further apart than DIB rows (padding) or closer
// (packed); the owner always gets DIB rows, bottom-up, with only the pixels
// of each grabbed row, and a buffer without every pixel of the last row is
// no frame.
TEST(DShowFrameSink, GrabbedRowsOfAnyStrideBecomeDibRows) {
  constexpr int kW = 5, kH = 2, kRow = kW * 3, kDib = 16;
  struct Case {
    TSourcePurpose purpose;
    int sourceStride;
  } cases[] = {{SRC_GRAB_FRAME_RGB24, 20}, {SRC_GRAB_FRAME_RGB24, 15}, {SRC_STREAM, 24}, {SRC_STREAM, 15}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "purpose " << c.purpose << ", stride " << c.sourceStride);
    // Top-down rows: pixel bytes 1 + 40 y + i, padding 0xEE.
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(c.sourceStride) * (kH - 1) + kRow, 0xEE);
    for (int y = 0; y < kH; ++y)
      for (int i = 0; i < kRow; ++i) rows[static_cast<std::size_t>(y * c.sourceStride + i)] = 1 + 40 * y + i;
    dshow_test::TOwner owner;
    owner.Build("x", c.purpose, PF_RGB24, true);
    CDShowMgr session;
    session.BeginSessionForTest(&owner.request, kW, kH, 24, c.sourceStride);
    session.OnSample(rows.data(), rows.size() - 1, 0.0);  // the last pixel is missing
    session.OnSample(rows.data(), rows.size(), 0.25);
    ASSERT_TRUE(owner.WaitFrames(1, 5000));
    session.EndSessionForTest();
    const auto frames = owner.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_DOUBLE_EQ(frames[0].dTime, 0.25);
    EXPECT_EQ(frames[0].nRgbSize, kDib * kH);
    ASSERT_EQ(frames[0].rgb.size(), static_cast<std::size_t>(kDib * kH));
    for (int y = 0; y < kH; ++y) {
      const std::uint8_t* dib = frames[0].rgb.data() + (kH - 1 - y) * kDib;
      for (int i = 0; i < kRow; ++i) EXPECT_EQ(dib[i], 1 + 40 * y + i) << "row " << y << " byte " << i;
    }
  }
}
