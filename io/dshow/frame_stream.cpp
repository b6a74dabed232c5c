#include "io/dshow/frame_stream.h"

#include <climits>
#include <cmath>
#include <cstring>

using namespace ZarnTypes;

namespace DShowMgr {

namespace {
constexpr auto kThreadWait = std::chrono::milliseconds(100);
}

std::int32_t DibStride(std::int32_t nWidth, std::int32_t nBitsPerPixel) {
  return static_cast<std::int32_t>(((static_cast<std::int64_t>(nWidth) * nBitsPerPixel + 31) / 32) * 4);
}

Dib::TBitmapInfoHeader LayoutHeader(const TFrameLayout& layout) {
  Dib::TBitmapInfoHeader header{};
  header.biWidth = layout.nWidth;
  header.biHeight = layout.nHeight;
  header.biBitCount = static_cast<std::uint16_t>(layout.nBitsPerPixel);
  header.biSizeImage = static_cast<std::uint32_t>(
      static_cast<std::int64_t>(DibStride(layout.nWidth, layout.nBitsPerPixel)) * layout.nHeight);
  return header;
}

// ---------------------------------------------------------------------------

void CFrameClock::Reset() {
  m_nInterval = 0;
  m_nBaseTime = -1;
  m_nCount = 0;
}

void CFrameClock::SetFrameInterval(std::int64_t nInterval) { m_nInterval = nInterval > 0 ? nInterval : 0; }

void CFrameClock::Restart(std::int64_t nFirstIndex) { m_nCount = nFirstIndex > 0 ? nFirstIndex : 0; }

std::int64_t CFrameClock::IndexOf(std::int64_t nTime) const {
  const std::int64_t interval = m_nInterval.load();
  if (interval <= 0 || nTime <= 0) return 0;
  return static_cast<std::int64_t>(std::llround(static_cast<double>(nTime) / static_cast<double>(interval)));
}

TFrameStamp CFrameClock::Stamp(std::int64_t nStreamTime, std::int64_t nDuration) {
  TFrameStamp stamp;
  if (nStreamTime < 0) {
    // No time: the frame after the last one counted.
    stamp.nIndex = m_nCount.fetch_add(1);
    stamp.dTime = static_cast<double>(stamp.nIndex) * static_cast<double>(m_nInterval.load()) / 1e7;
    return stamp;
  }
  std::int64_t base = -1;
  m_nBaseTime.compare_exchange_strong(base, nStreamTime);
  base = m_nBaseTime.load();
  const std::int64_t fromFirst = std::max<std::int64_t>(0, nStreamTime - base);  // ns
  stamp.dTime = static_cast<double>(fromFirst) / 1e9;
  // A stream that names no frame rate: the first frame's duration is the period.
  if (m_nInterval.load() <= 0 && nDuration > 0) {
    std::int64_t none = 0;
    m_nInterval.compare_exchange_strong(none, nDuration / 100);
  }
  if (m_nInterval.load() > 0) {
    stamp.nIndex = IndexOf(fromFirst / 100);
    m_nCount = stamp.nIndex + 1;
  } else {
    stamp.nIndex = m_nCount.fetch_add(1);
  }
  return stamp;
}

// ---------------------------------------------------------------------------

void CStreamGate::Open() {
  {
    std::lock_guard lock(m_Lock);
    m_bOpen = true;
  }
  m_Changed.notify_all();
}

void CStreamGate::Close() {
  std::lock_guard lock(m_Lock);
  m_bOpen = false;
}

void CStreamGate::BeginFlush() {
  {
    std::lock_guard lock(m_Lock);
    m_bFlushing = true;
  }
  m_Changed.notify_all();
}

void CStreamGate::EndFlush() {
  std::lock_guard lock(m_Lock);
  m_bFlushing = false;
}

void CStreamGate::Release() {
  {
    std::lock_guard lock(m_Lock);
    m_bReleased = true;
  }
  m_Changed.notify_all();
}

void CStreamGate::Reset() {
  std::lock_guard lock(m_Lock);
  m_bOpen = true;
  m_bFlushing = false;
  m_bReleased = false;
}

bool CStreamGate::Pass(const std::function<bool()>& bStopped) {
  std::unique_lock lock(m_Lock);
  ++m_nWaiting;
  // The streaming thread waits here only while nobody needs it: a seek
  // (BeginFlush), Play (Open) and the end of the session (Release) all
  // free it first, and none of them waits for it before doing so.
  while (!m_bOpen && !m_bFlushing && !m_bReleased && !(bStopped && bStopped()))
    m_Changed.wait_for(lock, kThreadWait);
  --m_nWaiting;
  return !m_bReleased && !(bStopped && bStopped());
}

bool CStreamGate::IsWaiting() const {
  std::lock_guard lock(m_Lock);
  return m_nWaiting > 0;
}

// ---------------------------------------------------------------------------

void CFrameStream::SetLayout(const TFrameLayout& layout) {
  std::lock_guard lock(m_LayoutLock);
  m_Layout = layout;
}

TFrameLayout CFrameStream::Layout() const {
  std::lock_guard lock(m_LayoutLock);
  return m_Layout;
}

bool CFrameStream::Start(TPixelFormat ePixelFormat, bool bFile, TDeliver deliver,
                         std::chrono::milliseconds liveGrace) {
  Stop();
  const TFrameLayout layout = Layout();
  if (!(ePixelFormat == PF_RGB24 && layout.nBitsPerPixel == 24) &&
      !(ePixelFormat == PF_RGB32 && layout.nBitsPerPixel == 32))
    return false;
  if (layout.nWidth <= 0 || layout.nHeight <= 0) return false;
  m_Streaming = layout;
  m_Header = LayoutHeader(layout);
  if (!m_Handoff.Configure(m_Header.biSizeImage)) return false;
  if (bFile) {
    m_Handoff.SetWriterPolicy(CFrameHandoff::WRITER_WAITS);
  } else {
    m_Handoff.SetWriterPolicy(CFrameHandoff::WRITER_DROPS_OLDEST, liveGrace);
  }
  m_ePixelFormat = ePixelFormat;
  m_bFile = bFile;
  m_Deliver = std::move(deliver);
  m_Record = TFrameBuffer{};
  m_Record.ePixelFormat = ePixelFormat;
  m_Record.nWidth = layout.nWidth;
  m_Record.nHeight = layout.nHeight;
  m_Record.nRowAlignment = 4;
  m_Record.nHeightAlignment = 1;
  if (!LayoutFrameBuffer(&m_Record)) return false;
  m_bRunning = true;
  try {
    m_Thread = std::thread(&CFrameStream::ThreadLoop, this);
  } catch (...) {
    m_bRunning = false;
    m_Handoff.Stop();
    return false;
  }
  return true;
}

void CFrameStream::Stop() {
  m_Handoff.Stop();
  if (m_Thread.joinable()) m_Thread.join();
  m_bRunning = false;
}

bool CFrameStream::HoldsFrame(std::size_t nSize, std::size_t* pSourceStride) const {
  // A frame of another layout than the slots were made for is not handed
  // on (the notices describe the layout of Start).
  const TFrameLayout layout = Layout();
  if (!(layout == m_Streaming)) return false;
  const std::size_t nRowBytes = static_cast<std::size_t>(layout.nWidth) * (layout.nBitsPerPixel / 8);
  const std::int32_t nDibStride = DibStride(layout.nWidth, layout.nBitsPerPixel);
  const std::size_t nSourceStride = layout.nSourceStride > 0 ? static_cast<std::size_t>(layout.nSourceStride)
                                                             : static_cast<std::size_t>(nDibStride);
  if (nRowBytes == 0 || nSourceStride < nRowBytes) return false;
  // The owner is told the frame's full size: a buffer that does not hold
  // every row of the frame is not a frame.
  if (nSize < nSourceStride * static_cast<std::size_t>(layout.nHeight - 1) + nRowBytes) return false;
  *pSourceStride = nSourceStride;
  return true;
}

bool CFrameStream::Write(const std::uint8_t* pData, std::size_t nSize, const TFrameStamp& stamp) {
  if (!pData || !m_bRunning.load()) return false;
  std::size_t nSourceStride = 0;
  if (!HoldsFrame(nSize, &nSourceStride)) return false;
  const TFrameLayout& layout = m_Streaming;
  const std::size_t nRowBytes = static_cast<std::size_t>(layout.nWidth) * (layout.nBitsPerPixel / 8);
  const std::int32_t nDibStride = DibStride(layout.nWidth, layout.nBitsPerPixel);
  std::uint8_t* pSlot = m_Handoff.BeginWrite();
  if (!pSlot) return false;
  for (std::int32_t y = 0; y < layout.nHeight; ++y)
    std::memcpy(pSlot + static_cast<std::size_t>(layout.nHeight - 1 - y) * nDibStride,
                pData + static_cast<std::size_t>(y) * nSourceStride, nRowBytes);
  m_Handoff.CommitWrite(m_Header.biSizeImage, stamp.dTime, stamp.nIndex);
  return true;
}

bool CFrameStream::WriteLease(const TFrameLease& lease, const TFrameStamp& stamp) {
  std::size_t nSourceStride = 0;
  if (!lease.pData || !m_bRunning.load() || !HoldsFrame(lease.nBytes, &nSourceStride) ||
      nSourceStride > static_cast<std::size_t>(INT32_MAX) ||
      lease.nBytes > static_cast<std::size_t>(INT32_MAX)) {
    if (lease.pRelease) lease.pRelease(lease.pHandle);
    return false;
  }
  return m_Handoff.CommitLease(lease, stamp.dTime, stamp.nIndex);
}

void CFrameStream::ThreadLoop() {
  for (;;) {
    const auto result = m_Handoff.WaitAndConsume(kThreadWait, [this](const THandoffFrame& f) {
      if (!m_Deliver) return;
      TMediaFrameNotice notice;
      TFrameBuffer record = m_Record;
      record.pBuffer = const_cast<std::uint8_t*>(f.pData);
      // The owner may not keep the header beyond the call: a copy of its own.
      const Dib::TBitmapInfoHeader header = m_Header;
      notice.ePixelFormat = m_ePixelFormat;
      notice.nWidth = header.biWidth;
      notice.nHeight = header.biHeight;
      notice.pRgbData = f.pData;
      notice.nRgbSize = static_cast<std::int32_t>(f.nBytes);
      notice.pHeader = &header;
      // A leased frame keeps the graph's top-down rows; the record
      // describes the bottom-up rows of a copied one.
      if (f.bLeased)
        notice.nTopDownStride = m_Streaming.nSourceStride > 0
                                    ? m_Streaming.nSourceStride
                                    : DibStride(m_Streaming.nWidth, m_Streaming.nBitsPerPixel);
      else
        notice.pFrameRecord = &record;
      notice.dTime = f.dTime;
      notice.nFrameNumber = m_bFile ? f.nFrameNumber : 0;
      notice.bFileIndex = m_bFile;
      notice.bDiscontinuity = f.bDiscontinuity;
      m_Deliver(notice);
    });
    if (result == CFrameHandoff::WAIT_STOPPED) break;
  }
}

}  // namespace DShowMgr
