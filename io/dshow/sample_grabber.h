#pragma once
// The program's own media-graph elements: the in-place sample grabber, which
// hands every video buffer that passes through it to a callback object and
// passes it on unchanged, and the null renderer, which accepts anything and
// discards every buffer. A session puts the grabber where a video sink would
// be and ends the branch with the null renderer, so decoded frames reach the
// program instead of a window.
//
// Both are GStreamer elements registered by the program itself (no plug-in
// file); the classes here own one element each. The callback runs on the
// streaming thread with the grabber's lock held: it copies what it needs and
// returns, and never waits on another thread.

#include <cstddef>
#include <cstdint>
#include <string>

struct _GstElement;

namespace SampleGrabberFilter {

// One buffer as the grabber hands it to its callback. Rows are top-down as
// the element negotiated them, nStride bytes apart.
struct TGrabSample {
  const std::uint8_t* pData = nullptr;
  std::size_t nSize = 0;          // bytes mapped: the buffer's real length
  std::int64_t nTimestamp = -1;   // presentation time, ns; -1 unknown
  std::int64_t nStreamTime = -1;  // the same in stream time, ns; -1 unknown
  std::int64_t nDuration = -1;    // ns; -1 unknown
  void* pBuffer = nullptr;        // the element's buffer, for LeaseSample
};

// Keeps a sample's buffer beyond the callback, without a copy: *ppData and
// *pSize describe its bytes, which stay valid and unchanged (upstream takes
// another buffer meanwhile) until ReleaseSampleLease(*ppHandle), which any
// thread may call, exactly once. False when the sample has no buffer or it
// cannot be read.
bool LeaseSample(const TGrabSample& sample, const std::uint8_t** ppData, std::size_t* pSize, void** ppHandle);
void ReleaseSampleLease(void* pHandle);

// The negotiated video type of the grabber's input.
struct TConnectedMediaType {
  std::string format;  // raw video format name, e.g. "BGR"
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  std::int32_t nStride = 0;        // bytes per row of the first plane
  std::int32_t nImageSize = 0;     // bytes of one frame
  std::int32_t nFpsNumerator = 0;  // 0/1 when the stream has no fixed rate
  std::int32_t nFpsDenominator = 1;
};

// What the callback wants done with the buffer.
enum TGrabAnswer {
  GRAB_PASS,   // deliver it downstream
  GRAB_DROP,   // keep it from the renderer; the stream goes on
  GRAB_ERROR,  // stop the stream with an error
};

// Result of GetConnectedMediaType.
enum TGrabTypeResult { GRAB_TYPE_OK, GRAB_TYPE_NOT_CONNECTED, GRAB_TYPE_INVALID };

// The memory a caller lends the grabber for the frames (SetDeliveryBuffer):
// buffer count (exactly 1), bytes of the buffer, alignment of a frame's
// place (a power of two) and bytes before each frame's data.
struct TAllocatorProperties {
  std::int32_t nBuffers = 0;
  std::int32_t nBufferSize = 0;
  std::int32_t nAlignment = 1;
  std::int32_t nPrefix = 0;
};

// Result of SetDeliveryBuffer.
enum TGrabDeliveryResult {
  GRAB_DELIVERY_OK,
  GRAB_DELIVERY_NO_POINTER,        // no buffer, or the element has no pads
  GRAB_DELIVERY_INVALID_ARGUMENT,  // a pad is linked, or the properties cannot be served
  GRAB_DELIVERY_OUT_OF_MEMORY,
};

class CGrabberSampleCB {
 public:
  virtual ~CGrabberSampleCB() = default;
  // Called on the streaming thread for every buffer; bTypeChanged is set on
  // the first buffer after the negotiated type changed.
  virtual TGrabAnswer SampleCB(const TGrabSample& sample, bool bTypeChanged) = 0;
  // Called on the thread that ends a flush (a flushing seek) when the flush
  // has reached the grabber: every buffer after this call is from after
  // the seek.
  virtual void Flushed() {}
};

// Registers both element types once per process (also done by the
// constructors). False when GStreamer cannot be initialised.
bool RegisterElements();

class CSampleGrabber {
 public:
  explicit CSampleGrabber(const char* pName = "SGvid");  // Valid() tells whether the element exists
  ~CSampleGrabber();
  CSampleGrabber(const CSampleGrabber&) = delete;
  CSampleGrabber& operator=(const CSampleGrabber&) = delete;

  bool Valid() const { return m_pElement != nullptr; }
  _GstElement* Element() const { return m_pElement; }

  // The type the input accepts, as caps text ("video/x-raw,format=BGR");
  // empty accepts anything. False for text that is not a media type.
  bool SetAcceptedMediaType(const std::string& caps);
  TGrabTypeResult GetConnectedMediaType(TConnectedMediaType* pType) const;
  // Not owned; must outlive the element's streaming. Null removes it.
  void SetCallback(CGrabberSampleCB* pCallback);
  // Lends the grabber the caller's memory: upstream then writes every frame
  // into it, nPrefix bytes into the buffer, one frame at a time (the next
  // one only after the previous has been rendered). Only before the pads
  // are linked; the buffer must outlive the element's streaming and is
  // never freed by it. A frame larger than the buffer after its prefix is
  // written into upstream's own memory instead.
  TGrabDeliveryResult SetDeliveryBuffer(const TAllocatorProperties& properties, std::uint8_t* pBuffer);

 private:
  _GstElement* m_pElement = nullptr;
};

// A sample callback of the null renderer: (context, buffer data, size).
using TNullRenderCallback = void (*)(void* pContext, const std::uint8_t* pData, std::size_t nSize);

class CNullRenderer {
 public:
  explicit CNullRenderer(const char* pName = "NullRenderer");
  ~CNullRenderer();
  CNullRenderer(const CNullRenderer&) = delete;
  CNullRenderer& operator=(const CNullRenderer&) = delete;

  bool Valid() const { return m_pElement != nullptr; }
  _GstElement* Element() const { return m_pElement; }
  // Pacing against the pipeline clock (true) or as fast as the data comes.
  void SetSync(bool bSync);
  void SetCallback(TNullRenderCallback pCallback, void* pContext);
  // Buffers rendered so far (prerolled ones included).
  std::uint64_t Rendered() const;

 private:
  _GstElement* m_pElement = nullptr;
};

// Object name of the allocator that places frames in a delivery buffer.
inline constexpr const char* kDeliveryAllocatorName = "SampleGrabberAllocator";

// Element factory names under which the two are registered.
inline constexpr const char* kGrabberFactoryName = "tovrinsamplegrabber";
inline constexpr const char* kNullRendererFactoryName = "tovrinnullrenderer";

}  // namespace SampleGrabberFilter
