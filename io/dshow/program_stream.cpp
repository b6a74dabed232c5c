#include "io/dshow/program_stream.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/files.h"

namespace DShowMgr {

namespace {

// A 33-bit time stamp in the five bytes of a PES header, or -1 when its
// marker bits are not those of a time stamp.
std::int64_t ReadTimeStamp(const std::uint8_t* p) {
  if ((p[0] & 0x01) != 1 || (p[2] & 0x01) != 1 || (p[4] & 0x01) != 1) return -1;
  return (static_cast<std::int64_t>((p[0] >> 1) & 0x07) << 30) | (static_cast<std::int64_t>(p[1]) << 22) |
         (static_cast<std::int64_t>(p[2] >> 1) << 15) | (static_cast<std::int64_t>(p[3]) << 7) |
         static_cast<std::int64_t>(p[4] >> 1);
}

// The presentation time of the PES packet whose header starts at p (after
// the start code and the length), or -1, and where its payload starts.
// nAvail bytes are readable.
std::int64_t PacketTime(const std::uint8_t* p, std::size_t nAvail, std::size_t* pPayload) {
  *pPayload = nAvail;
  if (nAvail < 1) return -1;
  if ((p[0] & 0xC0) == 0x80) {
    // MPEG-2: flags, header length, then the time stamp when present.
    if (nAvail < 3) return -1;
    *pPayload = std::min<std::size_t>(nAvail, 3 + static_cast<std::size_t>(p[2]));
    if (nAvail < 8 || (p[1] & 0x80) == 0) return -1;
    if ((p[3] >> 4) != ((p[1] & 0x40) ? 0x3 : 0x2)) return -1;
    return ReadTimeStamp(p + 3);
  }
  // MPEG-1: stuffing, an optional buffer size, then the time stamps or a
  // byte that says there are none.
  std::size_t i = 0;
  while (i < nAvail && i < 16 && p[i] == 0xFF) ++i;
  if (i + 2 <= nAvail && (p[i] & 0xC0) == 0x40) i += 2;
  if (i >= nAvail) return -1;
  const int kind = p[i] >> 4;
  if (kind != 0x2 && kind != 0x3) {
    *pPayload = i + 1;
    return -1;
  }
  const std::size_t nStamps = kind == 0x2 ? 5 : 10;
  if (i + nStamps > nAvail) return -1;
  *pPayload = i + nStamps;
  return ReadTimeStamp(p + i);
}

}  // namespace

TVideoTimeSpan ScanVideoTimes(const std::uint8_t* pData, std::size_t nSize, std::int64_t nPeriod) {
  TVideoTimeSpan span;
  if (!pData) return span;
  const auto note = [&span](std::int64_t t) {
    if (span.nFirst < 0 || t < span.nFirst) span.nFirst = t;
    if (t > span.nLast) span.nLast = t;
  };
  // A packet's time stamp is the time of the first picture that starts in
  // it. The pictures after it in its group of pictures, stamped or not,
  // are that time plus their distance in display order (the temporal
  // reference) times the frame period.
  std::int64_t nStampedTime = -1;
  int nStampedReference = 0;
  for (std::size_t i = 0; i + 6 < nSize; ++i) {
    if (pData[i] != 0 || pData[i + 1] != 0 || pData[i + 2] != 1 || (pData[i + 3] & 0xF0) != 0xE0) continue;
    const std::size_t nLength = static_cast<std::size_t>(pData[i + 4]) << 8 | pData[i + 5];
    const std::size_t nHeader = i + 6;
    // The whole packet must be in the piece (a length of 0 is open-ended).
    if (nLength == 0 || nHeader + nLength > nSize) continue;
    const std::uint8_t* p = pData + nHeader;
    std::size_t nPayload = 0;
    std::int64_t t = PacketTime(p, nLength, &nPayload);
    bool bFirstPicture = true;
    bool bPictures = false;
    for (std::size_t k = nPayload; k + 6 <= nLength; ++k) {
      if (p[k] != 0 || p[k + 1] != 0 || p[k + 2] != 1) continue;
      if (p[k + 3] == 0xB8) {
        nStampedTime = -1;  // a new group: references start again
      } else if (p[k + 3] == 0x00) {
        const int reference = (p[k + 4] << 2) | (p[k + 5] >> 6);
        bPictures = true;
        if (bFirstPicture && t >= 0) {
          nStampedTime = t;
          nStampedReference = reference;
          note(t);
        } else if (nStampedTime >= 0 && nPeriod > 0) {
          note(nStampedTime + (reference - nStampedReference) * nPeriod);
        }
        bFirstPicture = false;
      }
    }
    if (t >= 0 && !bPictures) note(t);
    i = nHeader + nLength - 1;
  }
  return span;
}

TVideoTimeSpan ReadVideoTimeSpan(const std::string& path, std::int64_t nPeriod, std::size_t nWindow) {
  TVideoTimeSpan span;
  std::FILE* f = platform::OpenRegularFileStream(path);
  if (!f) return span;
  std::vector<std::uint8_t> buffer(nWindow);
  std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
  const TVideoTimeSpan head = ScanVideoTimes(buffer.data(), n, nPeriod);
  TVideoTimeSpan tail = head;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size > static_cast<long>(nWindow) &&
        std::fseek(f, size - static_cast<long>(nWindow), SEEK_SET) == 0) {
      n = std::fread(buffer.data(), 1, buffer.size(), f);
      tail = ScanVideoTimes(buffer.data(), n, nPeriod);
    }
  }
  std::fclose(f);
  span.nFirst = head.nFirst;
  span.nLast = tail.nLast;
  return span;
}

std::int64_t VideoSpanDuration(const TVideoTimeSpan& span, std::int64_t nFrameInterval) {
  if (!span.Valid()) return 0;
  return (span.nLast - span.nFirst) * 1000 / 9 + std::max<std::int64_t>(0, nFrameInterval);
}

}  // namespace DShowMgr
