#include "document/video_port.h"

#include <cstring>
#include <utility>

namespace VideoPort {

using ZarnTypes::TFrameBuffer;
using ZarnTypes::TVideoPortUpdate;

namespace {

// Bytes a frame of `rows` rows `stride` apart with `rowBytes` picture bytes
// in each row needs.
std::int64_t SpanBytes(std::int64_t rows, std::int64_t stride, std::int64_t rowBytes) {
  return (rows - 1) * stride + rowBytes;
}

// The layout of a copy: where source pixel (0, 0) lands and how far the
// target moves (in bytes) for one step of x and of y in the source.
struct TCopyPlan {
  std::int32_t width = 0;   // source W
  std::int32_t height = 0;  // source H
  std::int64_t origin = 0;  // byte offset of source (0, 0) in the target
  std::int64_t stepX = 0;
  std::int64_t stepY = 0;
};

// Checks the target against the source size and the code and plans the copy.
bool PlanCopy(std::int32_t orientation, std::int32_t width, std::int32_t height, const TFrameBuffer& target,
              TCopyPlan& plan) {
  if (orientation < 0 || orientation > 8) return false;
  if (width <= 0 || height <= 0) return false;
  const std::int32_t code = orientation == 8 ? 0 : orientation;
  const bool swaps = OrientationSwapsSize(code);
  const std::int32_t tw = swaps ? height : width;
  const std::int32_t th = swaps ? width : height;
  if (!target.pBuffer || target.nBitsPerPixel != 32 || target.nWidth != tw || target.nHeight != th)
    return false;
  const std::int64_t rowBytes = std::int64_t{tw} * 4;
  if (target.nStride < rowBytes || target.nSize < SpanBytes(th, target.nStride, rowBytes)) return false;
  const auto& m = kOrientationMatrix[static_cast<std::size_t>(code)];
  // x' = m00 x + m01 y (+ shift), y' = m10 x + m11 y (+ shift).
  const std::int64_t x0 = (m[0] < 0 ? width - 1 : 0) + (m[1] < 0 ? height - 1 : 0);
  const std::int64_t y0 = (m[2] < 0 ? width - 1 : 0) + (m[3] < 0 ? height - 1 : 0);
  plan.width = width;
  plan.height = height;
  plan.origin = y0 * target.nStride + x0 * 4;
  plan.stepX = std::int64_t{m[2]} * target.nStride + std::int64_t{m[0]} * 4;
  plan.stepY = std::int64_t{m[3]} * target.nStride + std::int64_t{m[1]} * 4;
  return true;
}

// True when the frame's buffer holds all of its rows as the copy routines
// will read them (a 24-bit frame without a stride as it will be laid out).
bool FrameHoldsRows(const TFrameBuffer& frame) {
  if (!frame.pBuffer || frame.nWidth <= 0 || frame.nHeight <= 0) return false;
  const std::int64_t bytesPerPixel = frame.nBitsPerPixel / 8;
  const std::int64_t rowBytes = std::int64_t{frame.nWidth} * bytesPerPixel;
  std::int64_t stride = frame.nStride;
  if (frame.nBitsPerPixel == 24 && stride < 1) {
    TFrameBuffer laid = frame;
    if (ZarnTypes::GetPixelFormatBitsPerPixel(laid.ePixelFormat) != 24)
      laid.ePixelFormat = ZarnTypes::PF_RGB24;
    laid.nRowAlignment = 4;
    laid.nHeightAlignment = 1;
    if (!ZarnTypes::LayoutFrameBuffer(&laid) || frame.nSize < laid.nSize) return false;
    stride = laid.nStride;
  } else if (frame.nBitsPerPixel == 32 && stride <= 0) {
    stride = rowBytes;
  }
  return stride >= rowBytes && frame.nSize >= SpanBytes(frame.nHeight, stride, rowBytes);
}

}  // namespace

bool OrientCopy24To32(std::int32_t orientation, TFrameBuffer& source, TFrameBuffer& target) {
  if (orientation < 0 || orientation > 8) return false;
  if (source.nBitsPerPixel != 24 || !source.pBuffer || source.nWidth <= 0 || source.nHeight <= 0)
    return false;
  TCopyPlan plan;
  if (!PlanCopy(orientation, source.nWidth, source.nHeight, target, plan)) return false;
  const std::int64_t rowBytes = std::int64_t{source.nWidth} * 3;
  if (source.nStride < 1) {
    // Lay the rows out padded to 4 bytes. The bytes the frame says it holds
    // must cover that layout, or the copy would read past its buffer.
    TFrameBuffer laid = source;
    if (ZarnTypes::GetPixelFormatBitsPerPixel(laid.ePixelFormat) != 24)
      laid.ePixelFormat = ZarnTypes::PF_RGB24;
    laid.nRowAlignment = 4;
    laid.nHeightAlignment = 1;
    if (!ZarnTypes::LayoutFrameBuffer(&laid)) return false;
    if (source.nSize < laid.nSize) return false;
    source.nSize = laid.nSize;
    source.nStride = laid.nStride;
    source.nPaddedHeight = laid.nPaddedHeight;
    source.nRowAlignment = 4;
  }
  if (source.nStride < rowBytes || source.nSize < SpanBytes(source.nHeight, source.nStride, rowBytes))
    return false;

  std::uint8_t* const out = target.pBuffer;
  for (std::int32_t y = 0; y < plan.height; ++y) {
    const std::uint8_t* s = source.pBuffer + std::int64_t{y} * source.nStride;
    std::int64_t at = plan.origin + plan.stepY * y;
    for (std::int32_t x = 0; x < plan.width; ++x, s += 3, at += plan.stepX) {
      std::uint8_t* d = out + at;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 0;
    }
  }
  return true;
}

bool OrientCopy32To32(std::int32_t orientation, const TFrameBuffer& source, TFrameBuffer& target) {
  if (orientation < 0 || orientation > 8) return false;
  if (source.nBitsPerPixel != 32 || !source.pBuffer || source.nWidth <= 0 || source.nHeight <= 0)
    return false;
  TCopyPlan plan;
  if (!PlanCopy(orientation, source.nWidth, source.nHeight, target, plan)) return false;
  const std::int64_t rowBytes = std::int64_t{source.nWidth} * 4;
  const std::int64_t stride = source.nStride > 0 ? source.nStride : rowBytes;
  if (stride < rowBytes || source.nSize < SpanBytes(source.nHeight, stride, rowBytes)) return false;

  std::uint8_t* const out = target.pBuffer;
  if ((orientation == 0 || orientation == 8)) {
    if (stride == rowBytes && target.nStride == rowBytes) {
      std::memcpy(out, source.pBuffer, static_cast<std::size_t>(rowBytes * source.nHeight));
    } else {
      for (std::int32_t y = 0; y < source.nHeight; ++y)
        std::memcpy(out + std::int64_t{y} * target.nStride, source.pBuffer + y * stride,
                    static_cast<std::size_t>(rowBytes));
    }
    return true;
  }
  for (std::int32_t y = 0; y < plan.height; ++y) {
    const std::uint8_t* s = source.pBuffer + std::int64_t{y} * stride;
    std::int64_t at = plan.origin + plan.stepY * y;
    for (std::int32_t x = 0; x < plan.width; ++x, s += 4, at += plan.stepX) std::memcpy(out + at, s, 4);
  }
  return true;
}

// ---------------------------------------------------------------------------

bool CVideoPort::UpdateVideoPort(TVideoPortUpdate& update) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  switch (update.nCommand) {
    case ZarnTypes::VPU_RESET: return ResetPort(update);
    case ZarnTypes::VPU_ORIENT: return ChangeOrientation(update);
    case ZarnTypes::VPU_COPY_FRAME: return CopyFrame(update);
    case ZarnTypes::VPU_KEEP: return true;
    case ZarnTypes::VPU_RENDER_BITMAP: return RenderBitmap(update);
    default: return false;
  }
}

bool CVideoPort::ResetBitmaps(std::int32_t depth) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return ResetBitmapsLocked(depth);
}

TPicture CVideoPort::FrontBitmap() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Bitmap[m_nFront];
}

TPicture CVideoPort::FrontBitmap(std::uint64_t& generation) const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  generation = m_nGeneration;
  return m_Bitmap[m_nFront];
}

void CVideoPort::SetSwapObserver(TSwapObserver observer) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_SwapObserver = std::move(observer);
  // The picture on screen now, under the same lock: no swap falls between
  // it and the first one told.
  if (m_SwapObserver) m_SwapObserver(m_Bitmap[m_nFront]);
}

std::int32_t CVideoPort::Orientation() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_nOrientation;
}

std::int32_t CVideoPort::Depth() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_nDepth;
}

std::int32_t CVideoPort::FrontIndex() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_nFront;
}

bool CVideoPort::ResetBitmapsLocked(std::int32_t depth) {
  m_nDepth = depth;
  for (auto& bitmap : m_Bitmap) {
    Dib::TDibPtr section = Dib::CreateDibSectionEx(1, 1, depth);
    if (!section) return false;
    // Panes that still hold the old picture keep it alive by themselves.
    bitmap = std::shared_ptr<Dib::TDibSection>(std::move(section));
    ++m_nGeneration;
  }
  return true;
}

bool CVideoPort::ResetPort(TVideoPortUpdate& update) {
  if (update.bResetOrientation) m_nOrientation = ZarnTypes::ORIENT_IDENTITY;
  if (update.bResetBitmaps) {
    if (!ResetBitmapsLocked(m_nDepth)) return false;
    update.bSizeChanged = 1;
  }
  return true;
}

bool CVideoPort::WriteFrame(std::int32_t width, std::int32_t height,
                            const std::function<bool(ZarnTypes::TFrameBuffer& target)>& write,
                            bool* pSizeChanged) {
  if (pSizeChanged) *pSizeChanged = false;
  if (width <= 0 || height <= 0 || !write) return false;
  std::lock_guard<std::mutex> lock(m_Mutex);
  const int back = 1 - m_nFront;
  if (!m_Bitmap[back] || m_nOrientation != ZarnTypes::ORIENT_IDENTITY || m_nDepth != 32) return false;
  if (m_Bitmap[back]->Width() != width || m_Bitmap[back]->Height() != height) {
    if (!CreateBackBitmap(back, width, height)) return false;
    if (pSizeChanged) *pSizeChanged = true;
  }
  Dib::TDibSection* target = WritableBack();
  if (!target || target->BitCount() != 32) return false;
  TFrameBuffer description;
  description.ePixelFormat = ZarnTypes::PF_RGB32;
  description.nBitsPerPixel = 32;
  description.nWidth = target->Width();
  description.nHeight = target->Height();
  description.nStride = static_cast<std::int32_t>(target->Stride());
  description.nPaddedHeight = description.nHeight;
  description.nSize = static_cast<std::int32_t>(target->bits.size());
  description.nRowAlignment = 4;
  description.nHeightAlignment = 1;
  description.pBuffer = target->bits.data();
  if (!write(description)) return false;
  m_nFront = back;
  ++m_nGeneration;
  if (m_SwapObserver) m_SwapObserver(m_Bitmap[m_nFront]);
  return true;
}

bool CVideoPort::CreateBackBitmap(int index, int width, int height) {
  Dib::TDibPtr section = Dib::CreateDibSectionEx(width, height, m_nDepth);
  if (!section) return false;
  m_Bitmap[index] = std::shared_ptr<Dib::TDibSection>(std::move(section));
  return true;
}

Dib::TDibSection* CVideoPort::WritableBack() {
  const int back = 1 - m_nFront;
  std::shared_ptr<Dib::TDibSection>& bitmap = m_Bitmap[back];
  if (!bitmap) return nullptr;
  // References are only ever taken under the port's mutex, so a count of 1
  // cannot grow before the write. Copying the pointer is an acquire-release
  // step on its count, which orders the write after the last reader's
  // release of its reference (and is a step the race detector follows).
  if (const std::shared_ptr<Dib::TDibSection> probe = bitmap; probe.use_count() == 2) return bitmap.get();
  // A pane still paints this picture: draw into a fresh one of the same size.
  if (!CreateBackBitmap(back, bitmap->Width(), bitmap->Height())) return nullptr;
  return m_Bitmap[back].get();
}

bool CVideoPort::CopyFrame(TVideoPortUpdate& update) {
  TFrameBuffer* frame = update.pSourceFrame;
  if (!frame) return false;
  const int back = 1 - m_nFront;
  if (!m_Bitmap[back]) return false;
  if (m_nOrientation < 0 || m_nOrientation > 8) return false;
  if (frame->nWidth <= 0 || frame->nHeight <= 0) return false;
  const bool swaps = OrientationSwapsSize(m_nOrientation);
  const int width = swaps ? frame->nHeight : frame->nWidth;
  const int height = swaps ? frame->nWidth : frame->nHeight;
  if (frame->nBitsPerPixel != 24 && frame->nBitsPerPixel != 32) return false;
  if (m_nDepth != 32) return false;
  // A frame that does not hold its rows is refused before the back picture
  // is made to its size.
  if (!FrameHoldsRows(*frame)) return false;

  if (m_Bitmap[back]->Width() != width || m_Bitmap[back]->Height() != height) {
    if (!CreateBackBitmap(back, width, height)) return false;
    update.bSizeChanged = 1;
  }
  Dib::TDibSection* target = WritableBack();
  if (!target || target->BitCount() != 32) return false;

  TFrameBuffer description;
  description.ePixelFormat = ZarnTypes::PF_RGB32;
  description.nBitsPerPixel = target->BitCount();
  description.nWidth = target->Width();
  description.nHeight = target->Height();
  description.nStride = static_cast<std::int32_t>(target->Stride());
  description.nSize = static_cast<std::int32_t>(target->bits.size());
  description.nRowAlignment = 4;
  description.pBuffer = target->bits.data();

  const bool copied = frame->nBitsPerPixel == 24 ? OrientCopy24To32(m_nOrientation, *frame, description)
                                                 : OrientCopy32To32(m_nOrientation, *frame, description);
  if (!copied) return false;
  if (update.bSwap) {
    m_nFront = back;
    ++m_nGeneration;
    if (m_SwapObserver) m_SwapObserver(m_Bitmap[m_nFront]);
  }
  return true;
}

bool CVideoPort::RenderBitmap(TVideoPortUpdate& update) {
  const Dib::TDibSection* source = update.pSourceBitmap;
  if (!source) return false;
  const int bits = source->BitCount();
  if (bits != 24 && bits != 32) return false;
  const std::int64_t bytes = std::int64_t{source->Height()} * static_cast<std::int64_t>(source->Stride());
  if (bytes > static_cast<std::int64_t>(source->bits.size())) return false;
  update.nCommand = ZarnTypes::VPU_COPY_FRAME;
  TFrameBuffer frame;
  frame.ePixelFormat = bits == 24 ? ZarnTypes::PF_RGB24 : ZarnTypes::PF_RGB32;
  frame.nBitsPerPixel = bits;
  frame.nWidth = source->Width();
  frame.nHeight = source->Height();
  frame.nSize = static_cast<std::int32_t>(bytes);
  frame.nRowAlignment = 4;
  frame.nStride = 0;
  // The copy only reads the source.
  frame.pBuffer = const_cast<std::uint8_t*>(source->bits.data());
  if (frame.nWidth == 0 || frame.nHeight == 0 || !frame.pBuffer) return false;

  // A top-down section holds its rows in the other order than the port's
  // pictures: turn it upright first.
  std::int32_t saved = m_nOrientation;
  if (source->TopDown()) {
    std::int32_t upright = ZarnTypes::ORIENT_INVALID;
    if (!ComposeOrientation(ZarnTypes::ORIENT_REFLECT_VERTICAL, saved == 8 ? 0 : saved, upright) ||
        upright == ZarnTypes::ORIENT_INVALID)
      return false;
    m_nOrientation = upright;
  }
  update.pSourceFrame = &frame;
  const bool ok = CopyFrame(update);
  update.pSourceFrame = nullptr;
  m_nOrientation = saved;
  return ok;
}

bool CVideoPort::ChangeOrientation(TVideoPortUpdate& update) {
  const std::int32_t saved = m_nOrientation;
  const std::int32_t current = saved > 7 ? 0 : saved;
  std::int32_t next = ZarnTypes::ORIENT_INVALID;
  std::int32_t delta = ZarnTypes::ORIENT_INVALID;
  if (update.bAbsolute) {
    if (!ComposeOrientation(InverseOrientation(current), update.nOrientation, delta)) return false;
    next = update.nOrientation;
  } else {
    if (!ComposeOrientation(current, update.nOrientation, next)) return false;
    delta = update.nOrientation;
  }
  if (next == ZarnTypes::ORIENT_INVALID || delta == ZarnTypes::ORIENT_INVALID) return false;

  if (update.bStoreOnly) {
    m_nOrientation = next;
    return true;
  }
  if (update.pSourceFrame) {
    m_nOrientation = next;
    update.nCommand = ZarnTypes::VPU_COPY_FRAME;
    if (!CopyFrame(update)) {
      m_nOrientation = saved;
      return false;
    }
    return true;
  }
  if (update.pSourceBitmap) {
    m_nOrientation = next;
    update.nCommand = ZarnTypes::VPU_RENDER_BITMAP;
    if (!RenderBitmap(update)) {
      m_nOrientation = saved;
      return false;
    }
    return true;
  }
  // Re-draw the picture on show through the delta. The reference keeps the
  // front picture alive while the back one is drawn.
  const std::shared_ptr<const Dib::TDibSection> front = m_Bitmap[m_nFront];
  if (!front) return false;
  update.nCommand = ZarnTypes::VPU_RENDER_BITMAP;
  update.pSourceBitmap = front.get();
  m_nOrientation = delta;
  const bool ok = RenderBitmap(update);
  update.pSourceBitmap = nullptr;
  m_nOrientation = ok ? next : saved;
  return ok;
}

}  // namespace VideoPort

namespace VideoPortHub {

bool CVideoPortHub::UpdatePort(ZarnTypes::TVideoPortUpdate& update) {
  if (update.nPortIndex < 0 || update.nPortIndex >= kPortCount) return false;
  return m_Port[update.nPortIndex].UpdateVideoPort(update);
}

bool CVideoPortHub::ResetAll() {
  for (auto& port : m_Port)
    if (!port.ResetBitmaps(32)) return false;
  return true;
}

}  // namespace VideoPortHub
