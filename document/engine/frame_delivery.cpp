// Frame delivery: cached frames from the decoded-picture buffer into the
// channels' video ports, while playing (in order, freeing each scene once it
// was fully shown) and while paused (replay over the cached slots).

#include <algorithm>
#include <cstring>
#include <functional>

#include "document/engine/zarn.h"
#include "media/color_kernels.h"
#include "media/dib.h"
#include "platform/message_sink.h"

namespace Zarn {

using namespace ZarnTypes;

namespace {

// Grows a bottom-up 32-bit conversion target to the picture's size.
bool PrepareRgb32(TFrameBuffer& target, std::int32_t width, std::int32_t height) {
  if (target.pBuffer && target.ePixelFormat == PF_RGB32 && target.nWidth == width && target.nHeight == height)
    return true;
  target.ePixelFormat = PF_RGB32;
  target.nWidth = width;
  target.nHeight = height;
  target.nRowAlignment = 4;
  target.nHeightAlignment = 1;
  return AllocFrameBuffer(&target) && target.pBuffer;
}

// 1-, 4- and 8-bit DIB rows through their colour table (a logical palette:
// version and count as 16-bit words, then red, green, blue, flags).
bool ExpandPalette(const std::uint8_t* bits, const TFrameBuffer& layout, const std::uint8_t* table,
                   std::int32_t tableSize, TFrameBuffer& target) {
  const int bpp = layout.nBitsPerPixel;
  std::uint32_t colours[256] = {};
  const int entries = std::min<int>(256, tableSize > 4 ? (tableSize - 4) / 4 : 0);
  for (int i = 0; i < entries; ++i) {
    const std::uint8_t* e = table + 4 + 4 * i;
    colours[i] = static_cast<std::uint32_t>(e[2]) | static_cast<std::uint32_t>(e[1]) << 8 |
                 static_cast<std::uint32_t>(e[0]) << 16;
  }
  for (int y = 0; y < layout.nHeight; ++y) {
    const std::uint8_t* row = bits + static_cast<std::size_t>(y) * layout.nStride;
    auto* out =
        reinterpret_cast<std::uint32_t*>(target.pBuffer + static_cast<std::size_t>(y) * target.nStride);
    for (int x = 0; x < layout.nWidth; ++x) {
      int index = 0;
      if (bpp == 8)
        index = row[x];
      else if (bpp == 4)
        index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
      else
        index = (row[x / 8] >> (7 - x % 8)) & 1;
      out[x] = colours[index];
    }
  }
  return true;
}

// 16-bit DIB rows (5-5-5) into 32 bits.
void Expand555(const std::uint8_t* bits, const TFrameBuffer& layout, TFrameBuffer& target) {
  for (int y = 0; y < layout.nHeight; ++y) {
    const std::uint8_t* row = bits + static_cast<std::size_t>(y) * layout.nStride;
    auto* out =
        reinterpret_cast<std::uint32_t*>(target.pBuffer + static_cast<std::size_t>(y) * target.nStride);
    for (int x = 0; x < layout.nWidth; ++x) {
      const std::uint32_t v =
          static_cast<std::uint32_t>(row[2 * x]) | static_cast<std::uint32_t>(row[2 * x + 1]) << 8;
      const std::uint32_t b = (v & 0x1F) << 3, g = ((v >> 5) & 0x1F) << 3, r = ((v >> 10) & 0x1F) << 3;
      out[x] = b | g << 8 | r << 16;
    }
  }
}

}  // namespace

// Converts a cached slot into the channel's port and asks for the panes to
// be repainted (or rescaled when the picture's size changed). Pacing thread.
// Converted formats go straight into the port's back picture; only a port
// turned by an orientation takes them through the channel's own picture.
bool CZarn::ShowSlot(int channel, const TVideoFrame& frame) {
  if (!m_pPorts || !frame.pData) return false;
  const std::int32_t format = m_Dpb.m_ePixelFormat[channel];
  const std::int32_t width = m_Dpb.m_nWidth[channel];
  const std::int32_t height = m_Dpb.m_nHeight[channel];
  const std::uint8_t* data = frame.pData;
  std::function<bool(TFrameBuffer&)> convert;

  if (format == PF_PACKED_24) {
    convert = [&](TFrameBuffer& target) {
      if (target.nStride != width * 4) {
        for (int y = 0; y < height; ++y)
          Dib::CopyRgb24ToRgb32Flipped(
              data + static_cast<std::size_t>(y) * width * 3,
              target.pBuffer + static_cast<std::size_t>(height - 1 - y) * target.nStride, width, 1);
      } else {
        Dib::CopyRgb24ToRgb32Flipped(data, target.pBuffer, width, height);
      }
      return true;
    };
  } else if (format == PF_YUV420_601 || format == PF_YUV420_709) {
    convert = [&](TFrameBuffer& target) {
      const std::uint8_t* u = data + m_Dpb.m_nPlaneSize[channel];
      const std::uint8_t* v = u + m_Dpb.m_nHalfPlane[channel] / 2;
      m_ColorConversion.ConvertYuv420ToRgb32Flip(data, u, v, target.pBuffer, width, height, target.nStride);
      return true;
    };
  } else if (format == PF_DIB_1 || format == PF_DIB_4 || format == PF_DIB_8) {
    convert = [&](TFrameBuffer& target) {
      const std::int32_t tableSize = m_Dpb.m_nColourTableSize[channel];
      const std::uint8_t* table = data + m_Dpb.m_nFrameSize[channel] - tableSize;
      return ExpandPalette(data, m_Dpb.m_FrameRecord[channel], table, tableSize, target);
    };
  } else if (format == PF_DIB_16) {
    convert = [&](TFrameBuffer& target) {
      Expand555(data, m_Dpb.m_FrameRecord[channel], target);
      return true;
    };
  } else if ((format >= PF_YCBCR_FIRST && format <= PF_YCBCR_LAST) || format == PF_YUY2) {
    convert = [&](TFrameBuffer& target) {
      TYuvFrameBuffer yuv = m_Dpb.m_YuvFrameRecord[channel];
      yuv.pBuffer = frame.pData;
      if (format == PF_YUY2) {
        yuv.pCb = yuv.pCr = frame.pData;
      } else {
        yuv.pCb = frame.pData + yuv.nYSize;
        yuv.pCr = yuv.pCb + yuv.nCbSize;
      }
      return ConvertYuvToRgb(yuv, target);
    };
  } else if (format == PF_RGB24) {
    // DIB rows, bottom-up like the port's picture: widened row by row with
    // the widest vector unit the processor has.
    convert = [&](TFrameBuffer& target) {
      const TFrameBuffer& layout = m_Dpb.m_FrameRecord[channel];
      if (layout.nWidth != width || layout.nHeight != height || layout.nStride < width * 3) return false;
      const auto widen = ImageColorConversion::detail::WidenBgrRowKernel();
      for (int y = 0; y < height; ++y)
        widen(data + static_cast<std::size_t>(y) * layout.nStride,
              target.pBuffer + static_cast<std::size_t>(y) * target.nStride, static_cast<std::size_t>(width));
      return true;
    };
  } else if (format != PF_RGB32) {
    return false;
  }

  bool sizeChanged = false;
  VideoPort::CVideoPort& port = m_pPorts->Port(channel);
  if (!convert || port.Orientation() != ORIENT_IDENTITY ||
      !port.WriteFrame(width, height, convert, &sizeChanged)) {
    TFrameBuffer source{};
    TFrameBuffer* toPort = &source;
    if (convert) {
      TFrameBuffer& rgb = m_ChannelFrame[channel];
      if (!PrepareRgb32(rgb, width, height) || !convert(rgb)) return false;
      toPort = &rgb;
    } else {
      source = m_Dpb.m_FrameRecord[channel];
      source.pBuffer = frame.pData;
    }
    TVideoPortUpdate update{};
    update.nCommand = VPU_COPY_FRAME;
    update.nPortIndex = channel;
    update.pSourceFrame = toPort;
    update.bSwap = 1;
    if (!m_pPorts->UpdatePort(update)) return false;
    sizeChanged = update.bSizeChanged != 0;
  }
  RequestUpdate(sizeChanged ? ENGINE_UPDATE_RESCALE_0 << channel : ENGINE_UPDATE_REPAINT_0 << channel);
  return true;
}

bool CZarn::DeliverChannelFrame(int channel, std::int32_t* shownCounter, bool stopping) {
  TEngineChannel& state = m_Channel[channel];
  std::lock_guard<std::mutex> step(state.stepMutex);  // no seek's flush meanwhile
  auto& scenes = m_Dpb.SceneQueue(channel);
  auto& frames = m_Dpb.FrameQueue(channel);
  std::unique_lock<std::mutex> lock(m_Dpb.HandOffLock(channel));
  if (!scenes.HasStorage() || !frames.HasStorage()) return false;
  TVideoSceneBuffer* scene = scenes.Peek(0);
  if (!scene || scene->nTaken >= scene->nStored || scene->nTaken >= scene->nFrames) {
    state.bChannelIdle.store(true);
    return true;
  }
  state.bChannelIdle.store(false);
  const std::int32_t n = scene->nFrames;
  const std::int32_t first = scene->nFirstSlot;
  const std::int32_t slot = frames.Step(first, scene->nTaken);
  const TVideoFrame frame = *frames.SlotAt(slot);
  state.nLastCached.store(slot);
  state.nReplayTarget.store(slot);
  state.nFirstCached.store(frame.nFrameNumber > n - 1 ? frames.Step(first, scene->nStored) : first);

  // The slot belongs to the oldest scene, which only this thread frees; the
  // producer writes other slots meanwhile, so the conversion runs unlocked.
  lock.unlock();
  bool ok = true;
  if (!stopping) ok = ShowSlot(channel, frame);
  state.nShownFrame.store(frame.nFrameNumber);
  if (!stopping) {
    // The repaint notice ShowSlot raised may have been taken before the
    // number was stored: then the counters are asked for once more, or the
    // counter would stay one frame behind the picture. (A notice still
    // pending is taken after the store and reads the new number.)
    const std::uint32_t shownBits = (ENGINE_UPDATE_REPAINT_0 | ENGINE_UPDATE_RESCALE_0) << channel;
    if (m_bFrameInfo.load() || (m_nPendingUpdates.load() & shownBits) == 0)
      RequestUpdate(ENGINE_UPDATE_COUNTERS);
    if (ok && m_pOwner) m_pOwner->FrameShown(channel, frame.nFrameNumber);
  }
  lock.lock();

  scene = scenes.Peek(0);
  if (scene && ++scene->nTaken >= n) {
    // Fully shown: free its slots and wake a producer waiting for room.
    frames.Release(std::min(n, frames.GetCapacity()));
    scenes.Release(1);
    m_Dpb.SignalFreeSpace(channel);
    if (scenes.IsEmpty()) state.bChannelIdle.store(true);
  }
  if (shownCounter) ++*shownCounter;
  return ok;
}

// A layer frame (planar 4:2:0 of the layer's size) into a channel's port.
bool CZarn::ShowLayerFrame(int channel, const std::uint8_t* data) {
  const std::int32_t width = m_Dpb.m_nLayerWidth;
  const std::int32_t height = m_Dpb.m_nLayerHeight;
  if (!m_pPorts || !data || width <= 0 || height <= 0 || channel < 0 || channel >= kEngineChannels)
    return false;
  const std::uint8_t* u = data + m_Dpb.m_nLayerSize[3];
  const std::uint8_t* v = u + m_Dpb.m_nLayerSize[3] / 4;
  auto convert = [&](TFrameBuffer& target) {
    m_ColorConversion.ConvertYuv420ToRgb32Flip(data, u, v, target.pBuffer, width, height, target.nStride);
    return true;
  };
  bool sizeChanged = false;
  VideoPort::CVideoPort& port = m_pPorts->Port(channel);
  if (port.Orientation() != ORIENT_IDENTITY || !port.WriteFrame(width, height, convert, &sizeChanged)) {
    TFrameBuffer& rgb = m_ChannelFrame[channel];
    if (!PrepareRgb32(rgb, width, height)) {
      ReportFault("Can not resize BGRA 32-bit buffer");
      return false;
    }
    convert(rgb);
    TVideoPortUpdate update{};
    update.nCommand = VPU_COPY_FRAME;
    update.nPortIndex = channel;
    update.pSourceFrame = &rgb;
    update.bSwap = 1;
    if (!m_pPorts->UpdatePort(update)) return false;
    sizeChanged = update.bSizeChanged != 0;
  }
  RequestUpdate(sizeChanged ? ENGINE_UPDATE_RESCALE_0 << channel : ENGINE_UPDATE_REPAINT_0 << channel);
  if (m_pOwner) m_pOwner->DecodedFrameShown(m_Channel[0].nShownFrame.load(), data, width, height);
  return true;
}

bool CZarn::DeliverLayerFrame() {
  auto& scenes = m_Dpb.LayerSceneQueue();
  auto& frames = m_Dpb.LayerFrameQueue();
  std::lock_guard<std::mutex> lock(m_Dpb.LayerLock());
  if (!scenes.HasStorage() || !frames.HasStorage()) return false;
  TVideoSceneBuffer* scene = scenes.Peek(0);
  if (!scene || scene->nTaken >= scene->nStored || scene->nTaken >= scene->nFrames) {
    m_bLayerIdle.store(true);
    return true;
  }
  m_bLayerIdle.store(false);
  const std::int32_t slot = frames.Step(scene->nFirstSlot, scene->nTaken);
  m_nLayerSlot.store(slot);
  if (!ShowLayerFrame(1, frames.SlotAt(slot)->pData)) {
    ReportFault("Video data were not processed");
    return false;
  }
  m_Channel[0].nShownFrame.fetch_add(1);
  m_Channel[1].nShownFrame.fetch_add(1);
  RequestUpdate(ENGINE_UPDATE_COUNTERS);
  if (++scene->nTaken >= scene->nFrames) {
    frames.Release(std::min(scene->nFrames, frames.GetCapacity()));
    scenes.Release(1);
    m_Dpb.SignalLayerFreeSpace();
    if (scenes.IsEmpty()) m_bLayerIdle.store(true);
  }
  return true;
}

bool CZarn::StepLayerFrame(bool forwards, int channel) {
  auto& frames = m_Dpb.LayerFrameQueue();
  std::lock_guard<std::mutex> lock(m_Dpb.LayerLock());
  const int step = forwards ? 1 : -1;
  const TVideoFrame* frame =
      frames.HasStorage() ? frames.SlotAt(frames.Step(m_nLayerSlot.load(), step)) : nullptr;
  if (!frame || !ShowLayerFrame(channel, frame->pData)) {
    ReportFault("Video data were not processed");
    return false;
  }
  m_nLayerSlot.store(frames.Step(m_nLayerSlot.load(), step));
  if (channel >= 0 && channel < kEngineChannels) m_Channel[channel].nShownFrame.fetch_add(step);
  RequestUpdate(ENGINE_UPDATE_COUNTERS);
  return true;
}

bool CZarn::ChannelCacheShown(int channel) {
  std::lock_guard<std::mutex> lock(m_Dpb.HandOffLock(channel));
  const TVideoSceneBuffer* scene = m_Dpb.SceneQueue(channel).Peek(0);
  const bool shown = !scene || scene->nTaken >= scene->nStored || scene->nTaken >= scene->nFrames;
  m_Channel[channel].bChannelIdle.store(shown);
  return shown;
}

bool CZarn::ReplayChannelFrame(int channel, int step) { return ReplayTo(channel, step, REPLAY_STEP); }

bool CZarn::GoToChannelFrame(int channel, bool first) {
  return ReplayTo(channel, 0, first ? REPLAY_FIRST : REPLAY_LAST);
}

bool CZarn::ReplayTo(int channel, int step, TReplayGoal goal) {
  TEngineChannel& state = m_Channel[channel];
  std::lock_guard<std::mutex> stepLock(state.stepMutex);
  auto& frames = m_Dpb.FrameQueue(channel);
  TVideoFrame frame{};
  bool ok = false;
  {
    // Under the hand-off lock while the slot is converted: a producer that
    // keeps running cannot begin to rewrite it meanwhile. The message and
    // the owner's hook come after the lock is given back, so that a hook
    // may use the buffer.
    std::lock_guard<std::mutex> lock(m_Dpb.HandOffLock(channel));
    const std::int32_t size = frames.GetSize();
    if (size <= 0) return true;
    std::int32_t target = -1;
    if (goal == REPLAY_FIRST) {
      // The oldest frame held now: the producer may have stored frames since
      // the last one was shown.
      target = m_Dpb.OldestStoredSlot(channel);
      if (target < 0) return true;  // nothing cached yet
      state.nFirstCached.store(target);
    } else {
      const std::int32_t from = goal == REPLAY_LAST ? state.nLastCached.load() : state.nReplayTarget.load();
      target = frames.Step(from, step);
      // Only slots that hold whole frames are shown; the others are passed
      // over (a slot no longer holding the last frame: the newest before it).
      const int direction = step != 0 ? step : (goal == REPLAY_LAST ? -1 : 1);
      int tries = 0;
      while (m_Dpb.SlotState(channel, target) != SLOT_STORED && ++tries < size)
        target = frames.Step(target, direction);
      if (m_Dpb.SlotState(channel, target) != SLOT_STORED) return true;  // nothing cached yet
    }
    state.nReplayTarget.store(target);
    frame = *frames.SlotAt(target);
    ok = ShowSlot(channel, frame);
  }
  if (!ok) {
    ReportFault("Video data can not be processed");
    return false;
  }
  state.nShownFrame.store(frame.nFrameNumber);
  RequestUpdate(ENGINE_UPDATE_COUNTERS);
  if (m_pOwner) m_pOwner->FrameReplayed(channel, frame.nFrameNumber);
  return true;
}

}  // namespace Zarn
