#pragma once
// The raw YUV clip the engine benchmarks play: 120 frames of 1920 x 1080
// 4:2:0 (BT.601 studio range) in a temporary folder, read once so that it
// sits in the page cache, with the channel's source record that plays it
// and the process's CPU time.

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "media/media_source.h"
#include "platform/paths.h"

namespace bench_support {

inline constexpr std::int32_t kClipWidth = 1920;
inline constexpr std::int32_t kClipHeight = 1080;
inline constexpr int kClipFrames = 120;
inline constexpr std::size_t kClipFrameBytes = std::size_t{kClipWidth} * kClipHeight * 3 / 2;
// 4:2:0 BT.601 studio range (file format 65, pixel format 63).
inline constexpr std::int32_t kClipFormat = 65;

// CPU seconds (user and system) of RUSAGE_SELF or RUSAGE_CHILDREN.
inline double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Context switches of the process so far (voluntary and forced, every
// thread, ended ones included): how often its threads slept and woke.
inline std::int64_t ContextSwitches() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

class TRawYuvClip {
 public:
  explicit TRawYuvClip(const char* folderPrefix) : m_folder(platform::MakeTempFolder(folderPrefix)) {
    m_clip = (m_folder / "clip_1920x1080_420.yuv").string();
    std::vector<std::uint8_t> frame(kClipFrameBytes);
    std::FILE* out = std::fopen(m_clip.c_str(), "wb");
    if (!out) std::abort();
    for (int n = 0; n < kClipFrames; ++n) {
      for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>((i % 1920) / 8 + n * 3);
      if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) std::abort();
    }
    if (std::fclose(out) != 0) std::abort();
    // Into the page cache.
    std::ifstream in(m_clip, std::ios::binary);
    std::vector<char> sink(1 << 20);
    while (in.read(sink.data(), static_cast<std::streamsize>(sink.size()))) {
    }
  }
  ~TRawYuvClip() {
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
  }
  TRawYuvClip(const TRawYuvClip&) = delete;
  TRawYuvClip& operator=(const TRawYuvClip&) = delete;

  const std::string& Clip() const { return m_clip; }
  const std::filesystem::path& Folder() const { return m_folder; }

  // The source record of a channel that plays the clip.
  ZarnTypes::TMediaSource Source() const {
    ZarnTypes::TMediaSource source;
    source.bOpen = TRUE_;
    source.bLoaded = TRUE_;
    source.eStreamType = ZarnTypes::TStreamType{kClipFormat};
    source.eFileFormat = ZarnTypes::TFileFormat{kClipFormat};
    source.eFramePixelFormat = ZarnTypes::TPixelFormat{kClipFormat - 2};
    source.nWidth = kClipWidth;
    source.nHeight = kClipHeight;
    source.sPath = m_clip;
    return source;
  }

 private:
  std::filesystem::path m_folder;
  std::string m_clip;
};

}  // namespace bench_support
