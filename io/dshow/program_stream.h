#pragma once
// What an MPEG program or system stream says about the span of its video,
// read from the time stamps of the video packets near its start and its end.
//
// The demuxer of the media framework estimates a program stream's duration
// from its pack clock, which runs behind the pictures (2.952 s for a file
// of 75 frames at 25 frames per second): the first and last presentation
// times of the video give the real span. Only the first and last parts of
// the file are read.

#include <cstddef>
#include <cstdint>
#include <string>

namespace DShowMgr {

// Presentation times of the video in 90 kHz ticks: the earliest near the
// start and the latest near the end.
struct TVideoTimeSpan {
  std::int64_t nFirst = -1;
  std::int64_t nLast = -1;
  bool Valid() const { return nFirst >= 0 && nLast >= nFirst; }
};

// The earliest and latest presentation time of the pictures in the video
// packets (stream ids 0xE0-0xEF) of a piece of a program stream; -1 where
// none is found. A packet's time stamp belongs to the first picture that
// starts in it; the pictures without a stamp of their own are timed from
// the last stamped one of their group by their temporal reference, nPeriod
// (90 kHz ticks, 0: unknown) apart. Packets cut off by the end of the piece
// are skipped.
TVideoTimeSpan ScanVideoTimes(const std::uint8_t* pData, std::size_t nSize, std::int64_t nPeriod);

// The span of a file: the earliest time in its first nWindow bytes and the
// latest in its last nWindow bytes. Invalid when the file cannot be read or
// holds no video time stamps there.
TVideoTimeSpan ReadVideoTimeSpan(const std::string& path, std::int64_t nPeriod,
                                 std::size_t nWindow = 512 * 1024);

// The span in 100-ns units, one frame period added: the time from the start
// of the first picture to the end of the last. 0 when the span is invalid.
std::int64_t VideoSpanDuration(const TVideoTimeSpan& span, std::int64_t nFrameInterval);

}  // namespace DShowMgr
