#pragma once
// The fields in which two "Save stream" channel records differ, by name
// (the reserved words at 52 and 60 left out: whole-record copies skip them).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "options/opts_save_stream_exchange.h"

namespace tovrin_test {

inline std::vector<std::string> ChannelDiffs(const ZarnTypes::TSaveStreamChannel& a,
                                             const ZarnTypes::TSaveStreamChannel& b) {
  std::vector<std::string> out;
  auto field = [&](const char* name, bool same) {
    if (!same) out.push_back(name);
  };
#define TOVRIN_FIELD(f) field(#f, a.f == b.f)
  TOVRIN_FIELD(enabled);
  TOVRIN_FIELD(streamType);
  TOVRIN_FIELD(format);
  TOVRIN_FIELD(singleFile);
  TOVRIN_FIELD(singlePath);
  TOVRIN_FIELD(folder);
  TOVRIN_FIELD(spare);
  TOVRIN_FIELD(titleBase);
  TOVRIN_FIELD(prefix);
  TOVRIN_FIELD(suffix);
  TOVRIN_FIELD(extension);
  TOVRIN_FIELD(clipDigits);
  TOVRIN_FIELD(frameDigits);
  TOVRIN_FIELD(samplingMethod);
  TOVRIN_FIELD(timeBegin);
  TOVRIN_FIELD(timeEnd);
  TOVRIN_FIELD(timeStep);
  TOVRIN_FIELD(sampleBegin);
  TOVRIN_FIELD(sampleEnd);
  TOVRIN_FIELD(sampleStep);
  TOVRIN_FIELD(addSuffix);
  TOVRIN_FIELD(nextClipIndex);
  field("reserved120", a.reserved120[0] == b.reserved120[0] && a.reserved120[1] == b.reserved120[1]);
  TOVRIN_FIELD(jpegQuality);
  field("reserved132",
        std::equal(std::begin(a.reserved132), std::end(a.reserved132), std::begin(b.reserved132)));
  TOVRIN_FIELD(jpeg2000);
  TOVRIN_FIELD(png);
  TOVRIN_FIELD(gif);
  TOVRIN_FIELD(tiff);
  TOVRIN_FIELD(avi);
  TOVRIN_FIELD(windowsMedia);
  TOVRIN_FIELD(pipEnabled);
  TOVRIN_FIELD(primaryAsIs);
  TOVRIN_FIELD(captureWorkMode);
#undef TOVRIN_FIELD
  return out;
}

// A record whose every field holds a value of its own, different per `seed`.
inline ZarnTypes::TSaveStreamChannel DistinctChannel(int seed) {
  ZarnTypes::TSaveStreamChannel c;
  const std::string n = std::to_string(seed);
  c.enabled = static_cast<std::uint8_t>(seed & 1);
  c.streamType = 33;
  c.format = 33;
  c.singleFile = 0;
  c.singlePath = "/single" + n;
  c.folder = "/folder" + n;
  c.spare = "spare" + n;
  c.titleBase = "title" + n;
  c.prefix = "pre" + n;
  c.suffix = "suf" + n;
  c.extension = ".bmp";
  c.clipDigits = 2 + seed;
  c.frameDigits = 3 + seed;
  c.samplingMethod = 3;
  c.timeBegin = 0.5 + seed;
  c.timeEnd = 7.25 + seed;
  c.timeStep = 0.125 * (seed + 1);
  c.sampleBegin = 100 + seed;
  c.sampleEnd = 5'000'000'000LL + seed;
  c.sampleStep = 4 + seed;
  c.addSuffix = 1;
  c.nextClipIndex = 20 + seed;
  c.reserved120[0] = 7 + seed;
  c.reserved120[1] = 9 + seed;
  c.jpegQuality = 50 + seed;
  for (std::size_t i = 0; i < sizeof c.reserved132; ++i)
    c.reserved132[i] = static_cast<std::uint8_t>(seed + i);
  for (std::size_t i = 0; i < c.jpeg2000.size(); ++i) c.jpeg2000[i] = static_cast<std::uint8_t>(seed * 3 + i);
  for (std::size_t i = 0; i < c.png.size(); ++i) c.png[i] = static_cast<std::uint8_t>(seed * 5 + i);
  for (std::size_t i = 0; i < c.gif.size(); ++i) c.gif[i] = static_cast<std::uint8_t>(seed * 7 + i);
  for (std::size_t i = 0; i < c.tiff.size(); ++i) c.tiff[i] = static_cast<std::uint8_t>(seed * 11 + i);
  for (std::size_t i = 0; i < c.avi.size(); ++i) c.avi[i] = static_cast<std::uint8_t>(seed * 13 + i);
  for (std::size_t i = 0; i < c.windowsMedia.size(); ++i)
    c.windowsMedia[i] = static_cast<std::uint8_t>(seed * 17 + i);
  c.pipEnabled = 1;
  c.primaryAsIs = static_cast<std::uint8_t>(seed & 1);
  c.captureWorkMode = 1;
  return c;
}

}  // namespace tovrin_test
