#include "io/dshow/sample_grabber.h"

#include <atomic>
#include <mutex>

#include <gst/base/gstbasesink.h>
#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>
#include <gst/video/video-info.h>

using namespace SampleGrabberFilter;

// ---------------------------------------------------------------------------
// The allocator of a delivery buffer: every memory it hands out is the
// caller's buffer, nPrefix bytes in; it never frees that buffer.

struct TovrinDeliveryAllocator {
  GstAllocator parent;
  std::uint8_t* buffer;  // the caller's, not owned
  gsize buffer_size;
  gsize prefix;
};
struct TovrinDeliveryAllocatorClass {
  GstAllocatorClass parent_class;
};

G_DEFINE_TYPE(TovrinDeliveryAllocator, tovrin_delivery_allocator, GST_TYPE_ALLOCATOR)

static GstMemory* tovrin_delivery_allocator_alloc(GstAllocator* allocator, gsize size, GstAllocationParams*) {
  auto* self = reinterpret_cast<TovrinDeliveryAllocator*>(allocator);
  if (!self->buffer || self->prefix > self->buffer_size || size > self->buffer_size - self->prefix)
    return nullptr;
  // Wrapped memory: released with its buffer, the bytes stay the caller's.
  // It starts after the prefix (pools reset a memory's offset to 0 when a
  // buffer comes back).
  return gst_memory_new_wrapped(GST_MEMORY_FLAG_NO_SHARE, self->buffer + self->prefix,
                                self->buffer_size - self->prefix, 0, size, nullptr, nullptr);
}

static void tovrin_delivery_allocator_free(GstAllocator*, GstMemory* memory) {
  // Never called: the memory handed out belongs to the system allocator.
  gst_memory_unref(memory);
}

static void tovrin_delivery_allocator_class_init(TovrinDeliveryAllocatorClass* klass) {
  GstAllocatorClass* allocator_class = GST_ALLOCATOR_CLASS(klass);
  allocator_class->alloc = tovrin_delivery_allocator_alloc;
  allocator_class->free = tovrin_delivery_allocator_free;
}

static void tovrin_delivery_allocator_init(TovrinDeliveryAllocator* self) {
  self->buffer = nullptr;
  self->buffer_size = 0;
  self->prefix = 0;
  GST_OBJECT_FLAG_SET(self, GST_ALLOCATOR_FLAG_CUSTOM_ALLOC);
}

// ---------------------------------------------------------------------------
// The grabber element: an in-place, pass-through transform.

struct TovrinSampleGrabber {
  GstBaseTransform parent;
  GMutex lock;                 // guards accepted, callback and type_changed
  GstCaps* accepted;           // null: accept anything
  CGrabberSampleCB* callback;  // not owned
  gboolean type_changed;
  // The caller's delivery buffer (null: upstream allocates as it likes).
  GstAllocator* delivery;  // a TovrinDeliveryAllocator
  TAllocatorProperties delivery_properties;
};
struct TovrinSampleGrabberClass {
  GstBaseTransformClass parent_class;
};

G_DEFINE_TYPE(TovrinSampleGrabber, tovrin_sample_grabber, GST_TYPE_BASE_TRANSFORM)

static GstStaticPadTemplate grabber_sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
static GstStaticPadTemplate grabber_src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

static TovrinSampleGrabber* AsGrabber(gpointer p) { return reinterpret_cast<TovrinSampleGrabber*>(p); }

static void tovrin_sample_grabber_finalize(GObject* object) {
  TovrinSampleGrabber* self = AsGrabber(object);
  if (self->accepted) gst_caps_unref(self->accepted);
  if (self->delivery) gst_object_unref(self->delivery);
  g_mutex_clear(&self->lock);
  G_OBJECT_CLASS(tovrin_sample_grabber_parent_class)->finalize(object);
}

// Both directions offer what the other side offers, narrowed to the
// accepted type: an upstream that cannot produce it cannot connect.
static GstCaps* tovrin_sample_grabber_transform_caps(GstBaseTransform* trans, GstPadDirection, GstCaps* caps,
                                                     GstCaps* filter) {
  TovrinSampleGrabber* self = AsGrabber(trans);
  GstCaps* result;
  g_mutex_lock(&self->lock);
  if (self->accepted)
    result = gst_caps_intersect_full(caps, self->accepted, GST_CAPS_INTERSECT_FIRST);
  else
    result = gst_caps_ref(caps);
  g_mutex_unlock(&self->lock);
  if (filter) {
    GstCaps* narrowed = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    result = narrowed;
  }
  return result;
}

static gboolean tovrin_sample_grabber_set_caps(GstBaseTransform* trans, GstCaps*, GstCaps*) {
  TovrinSampleGrabber* self = AsGrabber(trans);
  g_mutex_lock(&self->lock);
  self->type_changed = TRUE;
  g_mutex_unlock(&self->lock);
  return TRUE;
}

// With a delivery buffer, upstream is offered a pool of one buffer that lies
// in it (when a frame fits after the prefix); the other proposals of
// downstream are dropped, so that upstream takes this one.
static gboolean tovrin_sample_grabber_propose_allocation(GstBaseTransform* trans, GstQuery* decide_query,
                                                         GstQuery* query) {
  const gboolean downstream = GST_BASE_TRANSFORM_CLASS(tovrin_sample_grabber_parent_class)
                                  ->propose_allocation(trans, decide_query, query);
  TovrinSampleGrabber* self = AsGrabber(trans);
  g_mutex_lock(&self->lock);
  GstAllocator* allocator = self->delivery ? GST_ALLOCATOR(gst_object_ref(self->delivery)) : nullptr;
  const TAllocatorProperties properties = self->delivery_properties;
  g_mutex_unlock(&self->lock);
  if (!allocator) return downstream;
  GstCaps* caps = nullptr;
  gboolean need_pool = FALSE;
  gst_query_parse_allocation(query, &caps, &need_pool);
  GstVideoInfo info;
  gsize size = 0;
  if (caps && gst_video_info_from_caps(&info, caps)) size = GST_VIDEO_INFO_SIZE(&info);
  const gsize room = static_cast<gsize>(properties.nBufferSize) - static_cast<gsize>(properties.nPrefix);
  if (size == 0 || size > room) {
    gst_object_unref(allocator);
    return downstream;  // upstream's own memory
  }
  while (gst_query_get_n_allocation_params(query) > 0) gst_query_remove_nth_allocation_param(query, 0);
  while (gst_query_get_n_allocation_pools(query) > 0) gst_query_remove_nth_allocation_pool(query, 0);
  GstAllocationParams params;
  gst_allocation_params_init(&params);
  params.align = static_cast<gsize>(properties.nAlignment) - 1;
  gst_query_add_allocation_param(query, allocator, &params);
  if (need_pool) {
    GstBufferPool* pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(size), 1, 1);
    gst_buffer_pool_config_set_allocator(config, allocator, &params);
    if (gst_buffer_pool_set_config(pool, config))
      gst_query_add_allocation_pool(query, pool, static_cast<guint>(size), 1, 1);
    gst_object_unref(pool);
  }
  gst_object_unref(allocator);
  return TRUE;
}

static GstFlowReturn tovrin_sample_grabber_transform_ip(GstBaseTransform* trans, GstBuffer* buffer) {
  TovrinSampleGrabber* self = AsGrabber(trans);
  GstFlowReturn ret = GST_FLOW_OK;
  g_mutex_lock(&self->lock);
  if (self->callback) {
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      TGrabSample sample;
      sample.pData = map.data;
      sample.nSize = map.size;
      sample.pBuffer = buffer;
      const GstClockTime pts = GST_BUFFER_PTS(buffer);
      if (GST_CLOCK_TIME_IS_VALID(pts)) {
        sample.nTimestamp = static_cast<std::int64_t>(pts);
        const guint64 st = gst_segment_to_stream_time(&trans->segment, GST_FORMAT_TIME, pts);
        if (GST_CLOCK_TIME_IS_VALID(st)) sample.nStreamTime = static_cast<std::int64_t>(st);
      }
      if (GST_BUFFER_DURATION_IS_VALID(buffer))
        sample.nDuration = static_cast<std::int64_t>(GST_BUFFER_DURATION(buffer));
      const bool bChanged = self->type_changed;
      self->type_changed = FALSE;
      switch (self->callback->SampleCB(sample, bChanged)) {
        case GRAB_PASS: break;
        case GRAB_DROP: ret = GST_BASE_TRANSFORM_FLOW_DROPPED; break;
        case GRAB_ERROR: ret = GST_FLOW_ERROR; break;
      }
      gst_buffer_unmap(buffer, &map);
    }
  }
  g_mutex_unlock(&self->lock);
  if (ret == GST_FLOW_ERROR)
    GST_ELEMENT_ERROR(self, STREAM, FAILED, (nullptr), ("the frame consumer refused a frame"));
  return ret;
}

// The end of a flush tells the callback that the buffers from now on come
// from after a seek.
static gboolean tovrin_sample_grabber_sink_event(GstBaseTransform* trans, GstEvent* event) {
  if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
    TovrinSampleGrabber* self = AsGrabber(trans);
    g_mutex_lock(&self->lock);
    if (self->callback) self->callback->Flushed();
    g_mutex_unlock(&self->lock);
  }
  return GST_BASE_TRANSFORM_CLASS(tovrin_sample_grabber_parent_class)->sink_event(trans, event);
}

static void tovrin_sample_grabber_class_init(TovrinSampleGrabberClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  GstBaseTransformClass* trans_class = GST_BASE_TRANSFORM_CLASS(klass);
  object_class->finalize = tovrin_sample_grabber_finalize;
  gst_element_class_set_static_metadata(element_class, "SampleGrabber", "Filter/Video",
                                        "Hands every buffer to the program and passes it on", "Tovrin");
  gst_element_class_add_static_pad_template(element_class, &grabber_sink_template);
  gst_element_class_add_static_pad_template(element_class, &grabber_src_template);
  trans_class->transform_caps = tovrin_sample_grabber_transform_caps;
  trans_class->set_caps = tovrin_sample_grabber_set_caps;
  trans_class->transform_ip = tovrin_sample_grabber_transform_ip;
  trans_class->propose_allocation = tovrin_sample_grabber_propose_allocation;
  trans_class->sink_event = tovrin_sample_grabber_sink_event;
  trans_class->transform_ip_on_passthrough = TRUE;
  trans_class->passthrough_on_same_caps = TRUE;
}

static void tovrin_sample_grabber_init(TovrinSampleGrabber* self) {
  g_mutex_init(&self->lock);
  self->accepted = nullptr;
  self->callback = nullptr;
  self->type_changed = FALSE;
  self->delivery = nullptr;
  self->delivery_properties = TAllocatorProperties{};
  gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
  gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), TRUE);
}

// ---------------------------------------------------------------------------
// The null renderer: a sink that takes anything and keeps nothing.

struct TovrinNullRenderer {
  GstBaseSink parent;
  TNullRenderCallback callback;
  void* context;
  std::atomic<std::uint64_t>* rendered;
};
struct TovrinNullRendererClass {
  GstBaseSinkClass parent_class;
};

G_DEFINE_TYPE(TovrinNullRenderer, tovrin_null_renderer, GST_TYPE_BASE_SINK)

static GstStaticPadTemplate null_sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

static TovrinNullRenderer* AsRenderer(gpointer p) { return reinterpret_cast<TovrinNullRenderer*>(p); }

static GstFlowReturn tovrin_null_renderer_render(GstBaseSink* sink, GstBuffer* buffer) {
  TovrinNullRenderer* self = AsRenderer(sink);
  GST_OBJECT_LOCK(self);
  TNullRenderCallback callback = self->callback;
  void* context = self->context;
  GST_OBJECT_UNLOCK(self);
  if (callback) {
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      callback(context, map.data, map.size);
      gst_buffer_unmap(buffer, &map);
    }
  }
  self->rendered->fetch_add(1, std::memory_order_relaxed);
  return GST_FLOW_OK;
}

static void tovrin_null_renderer_finalize(GObject* object) {
  delete AsRenderer(object)->rendered;
  G_OBJECT_CLASS(tovrin_null_renderer_parent_class)->finalize(object);
}

static void tovrin_null_renderer_class_init(TovrinNullRendererClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  GstBaseSinkClass* sink_class = GST_BASE_SINK_CLASS(klass);
  object_class->finalize = tovrin_null_renderer_finalize;
  gst_element_class_set_static_metadata(element_class, "NullRenderer", "Sink",
                                        "Accepts any buffer and discards it", "Tovrin");
  gst_element_class_add_static_pad_template(element_class, &null_sink_template);
  sink_class->render = tovrin_null_renderer_render;
}

static void tovrin_null_renderer_init(TovrinNullRenderer* self) {
  self->callback = nullptr;
  self->context = nullptr;
  self->rendered = new std::atomic<std::uint64_t>(0);
  gst_base_sink_set_sync(GST_BASE_SINK(self), TRUE);
  // Nothing is kept of a rendered buffer: upstream gets it back at once
  // (a delivery buffer has only one).
  gst_base_sink_set_last_sample_enabled(GST_BASE_SINK(self), FALSE);
}

// ---------------------------------------------------------------------------

namespace SampleGrabberFilter {

namespace {
// A kept buffer and its read mapping.
struct TSampleLease {
  GstBuffer* buffer = nullptr;
  GstMapInfo map{};
};
}  // namespace

bool LeaseSample(const TGrabSample& sample, const std::uint8_t** ppData, std::size_t* pSize,
                 void** ppHandle) {
  if (!sample.pBuffer || !ppData || !pSize || !ppHandle) return false;
  auto* lease = new TSampleLease;
  lease->buffer = gst_buffer_ref(static_cast<GstBuffer*>(sample.pBuffer));
  if (!gst_buffer_map(lease->buffer, &lease->map, GST_MAP_READ)) {
    gst_buffer_unref(lease->buffer);
    delete lease;
    return false;
  }
  *ppData = lease->map.data;
  *pSize = lease->map.size;
  *ppHandle = lease;
  return true;
}

void ReleaseSampleLease(void* pHandle) {
  auto* lease = static_cast<TSampleLease*>(pHandle);
  if (!lease) return;
  gst_buffer_unmap(lease->buffer, &lease->map);
  gst_buffer_unref(lease->buffer);
  delete lease;
}

bool RegisterElements() {
  static const bool bRegistered = [] {
    if (!gst_init_check(nullptr, nullptr, nullptr)) return false;
    const bool a =
        gst_element_register(nullptr, kGrabberFactoryName, GST_RANK_NONE, tovrin_sample_grabber_get_type());
    const bool b = gst_element_register(nullptr, kNullRendererFactoryName, GST_RANK_NONE,
                                        tovrin_null_renderer_get_type());
    return a && b;
  }();
  return bRegistered;
}

CSampleGrabber::CSampleGrabber(const char* pName) {
  if (!RegisterElements()) return;
  m_pElement = GST_ELEMENT(g_object_new(tovrin_sample_grabber_get_type(), "name", pName, nullptr));
  if (m_pElement) gst_object_ref_sink(m_pElement);
}

CSampleGrabber::~CSampleGrabber() {
  if (m_pElement) {
    SetCallback(nullptr);
    gst_object_unref(m_pElement);
  }
}

bool CSampleGrabber::SetAcceptedMediaType(const std::string& caps) {
  if (!m_pElement) return false;
  GstCaps* parsed = nullptr;
  if (!caps.empty()) {
    parsed = gst_caps_from_string(caps.c_str());
    if (!parsed) return false;
  }
  TovrinSampleGrabber* self = AsGrabber(m_pElement);
  g_mutex_lock(&self->lock);
  if (self->accepted) gst_caps_unref(self->accepted);
  self->accepted = parsed;
  g_mutex_unlock(&self->lock);
  return true;
}

TGrabTypeResult CSampleGrabber::GetConnectedMediaType(TConnectedMediaType* pType) const {
  if (!m_pElement || !pType) return GRAB_TYPE_NOT_CONNECTED;
  GstPad* pad = gst_element_get_static_pad(m_pElement, "sink");
  if (!pad) return GRAB_TYPE_NOT_CONNECTED;
  GstCaps* caps = gst_pad_is_linked(pad) ? gst_pad_get_current_caps(pad) : nullptr;
  gst_object_unref(pad);
  if (!caps) return GRAB_TYPE_NOT_CONNECTED;
  GstVideoInfo info;
  const bool bVideo = gst_video_info_from_caps(&info, caps);
  gst_caps_unref(caps);
  if (!bVideo) return GRAB_TYPE_INVALID;
  pType->format = gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
  pType->nWidth = GST_VIDEO_INFO_WIDTH(&info);
  pType->nHeight = GST_VIDEO_INFO_HEIGHT(&info);
  pType->nStride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
  pType->nImageSize = static_cast<std::int32_t>(GST_VIDEO_INFO_SIZE(&info));
  pType->nFpsNumerator = GST_VIDEO_INFO_FPS_N(&info);
  pType->nFpsDenominator = GST_VIDEO_INFO_FPS_D(&info) > 0 ? GST_VIDEO_INFO_FPS_D(&info) : 1;
  return GRAB_TYPE_OK;
}

void CSampleGrabber::SetCallback(CGrabberSampleCB* pCallback) {
  if (!m_pElement) return;
  TovrinSampleGrabber* self = AsGrabber(m_pElement);
  g_mutex_lock(&self->lock);
  self->callback = pCallback;
  g_mutex_unlock(&self->lock);
}

TGrabDeliveryResult CSampleGrabber::SetDeliveryBuffer(const TAllocatorProperties& properties,
                                                      std::uint8_t* pBuffer) {
  if (!m_pElement) return GRAB_DELIVERY_NO_POINTER;
  GstPad* sink = gst_element_get_static_pad(m_pElement, "sink");
  GstPad* src = gst_element_get_static_pad(m_pElement, "src");
  const bool bPads = sink && src;
  const bool bLinked = bPads && (gst_pad_is_linked(sink) || gst_pad_is_linked(src));
  if (sink) gst_object_unref(sink);
  if (src) gst_object_unref(src);
  if (!bPads) return GRAB_DELIVERY_NO_POINTER;
  if (bLinked) return GRAB_DELIVERY_INVALID_ARGUMENT;
  if (properties.nBuffers != 1) return GRAB_DELIVERY_INVALID_ARGUMENT;
  if (!pBuffer) return GRAB_DELIVERY_NO_POINTER;
  const std::int32_t nAlign = properties.nAlignment;
  if (properties.nBufferSize <= 0 || properties.nPrefix < 0 || properties.nPrefix >= properties.nBufferSize ||
      nAlign <= 0 || (nAlign & (nAlign - 1)) != 0)
    return GRAB_DELIVERY_INVALID_ARGUMENT;
  // The frame's place starts at the buffer, aligned as asked.
  if (reinterpret_cast<std::uintptr_t>(pBuffer) % static_cast<std::uintptr_t>(nAlign) != 0)
    return GRAB_DELIVERY_INVALID_ARGUMENT;
  auto* allocator = static_cast<TovrinDeliveryAllocator*>(
      g_object_new(tovrin_delivery_allocator_get_type(), "name", kDeliveryAllocatorName, nullptr));
  if (!allocator) return GRAB_DELIVERY_OUT_OF_MEMORY;
  gst_object_ref_sink(allocator);
  allocator->buffer = pBuffer;
  allocator->buffer_size = static_cast<gsize>(properties.nBufferSize);
  allocator->prefix = static_cast<gsize>(properties.nPrefix);
  TovrinSampleGrabber* self = AsGrabber(m_pElement);
  g_mutex_lock(&self->lock);
  GstAllocator* previous = self->delivery;
  self->delivery = GST_ALLOCATOR(allocator);
  self->delivery_properties = properties;
  g_mutex_unlock(&self->lock);
  if (previous) gst_object_unref(previous);
  return GRAB_DELIVERY_OK;
}

CNullRenderer::CNullRenderer(const char* pName) {
  if (!RegisterElements()) return;
  m_pElement = GST_ELEMENT(g_object_new(tovrin_null_renderer_get_type(), "name", pName, nullptr));
  if (m_pElement) gst_object_ref_sink(m_pElement);
}

CNullRenderer::~CNullRenderer() {
  if (m_pElement) gst_object_unref(m_pElement);
}

void CNullRenderer::SetSync(bool bSync) {
  if (m_pElement) gst_base_sink_set_sync(GST_BASE_SINK(m_pElement), bSync);
}

void CNullRenderer::SetCallback(TNullRenderCallback pCallback, void* pContext) {
  if (!m_pElement) return;
  TovrinNullRenderer* self = AsRenderer(m_pElement);
  GST_OBJECT_LOCK(self);
  self->callback = pCallback;
  self->context = pContext;
  GST_OBJECT_UNLOCK(self);
}

std::uint64_t CNullRenderer::Rendered() const {
  return m_pElement ? AsRenderer(m_pElement)->rendered->load(std::memory_order_relaxed) : 0;
}

}  // namespace SampleGrabberFilter
