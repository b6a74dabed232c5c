#pragma once
// Helpers of the opening, life and tools tests: an application object with
// settings records, pictures made at test time, and what a channel's port
// shows.

#include <QImage>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "document/video_port.h"
#include "document/zarn_doc.h"
#include "shell/application.h"
#include "tests/support/test_support.h"

namespace open_test {

// An application object with the records a document copies.
class TSettingsApplication : public shell::IApplication {
 public:
  TSettingsApplication() { shell::SetTheApplication(this); }
  ~TSettingsApplication() override { shell::SetTheApplication(nullptr); }

  shell::TAppParams& Params() override { return params; }
  shell::TChannelParamsSet& ParamsSet() override { return set; }
  shell::TProgCfg& ProgCfg() override { return cfg; }
  std::array<shell::TChannelNaming, shell::kChannelCount>& SequenceNaming() override { return sequence; }
  std::array<shell::TChannelNaming, shell::kChannelCount>& ImageNaming() override { return images; }
  shell::TShellState& ShellState() override { return state; }
  bool SettingsRead() const override { return settingsRead; }
  bool StartFileLoaded() const override { return startFileLoaded; }
  std::int32_t NextClipboardNumber() override { return 0; }
  std::int32_t NextScanNumber() override { return 0; }
  std::int32_t NextSourceSerial() override { return 0; }
  std::int32_t NextRecordingNumber() override { return 0; }
  void RegisterDocument(shell::IMediaDocument*, std::int32_t& number, std::int32_t& serial) override {
    number = ++documents;
    serial = number;
  }
  bool UnregisterDocument(std::int32_t) override { return true; }
  const std::vector<shell::TDocRegistryEntry>& DocumentRegistry() const override { return registry; }
  std::vector<shell::TDocRegistryEntry>& DocumentRegistry() override { return registry; }
  QWidget* MainWindowWidget() override { return nullptr; }
  void AddToRecentFileList(const std::string& path) override { recent.push_back(path); }

  shell::TAppParams params;
  shell::TChannelParamsSet set;
  shell::TProgCfg cfg;
  std::array<shell::TChannelNaming, shell::kChannelCount> sequence;
  std::array<shell::TChannelNaming, shell::kChannelCount> images;
  shell::TShellState state;
  bool settingsRead = false;
  bool startFileLoaded = false;
  int documents = 0;
  std::vector<shell::TDocRegistryEntry> registry;
  std::vector<std::string> recent;
};

// A picture as 0xRRGGBB values, rows from the top.
struct TRgbPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

inline TRgbPicture MakeRgbPicture(int width, int height,
                                  const std::function<std::uint32_t(int, int)>& colour) {
  TRgbPicture p{width, height, {}};
  p.pixels.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.pixels[static_cast<std::size_t>(y) * width + x] = colour(x, y) & 0xFFFFFF;
  return p;
}

// A colourful pattern with no two neighbours alike.
inline TRgbPicture Pattern(int width, int height) {
  return MakeRgbPicture(width, height, [](int x, int y) {
    return static_cast<std::uint32_t>(((x * 37 + y * 11) & 0xFF) << 16 | ((x * 5 + y * 53) & 0xFF) << 8 |
                                      ((x * 91 + y * 29 + 7) & 0xFF));
  });
}

inline TRgbPicture FromImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  return MakeRgbPicture(image.width(), image.height(), [&image](int x, int y) { return image.pixel(x, y); });
}

inline QImage ToImage(const TRgbPicture& p) {
  QImage image(p.width, p.height, QImage::Format_RGB32);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) image.setPixel(x, y, 0xFF000000u | p.At(x, y));
  return image;
}

// What a channel's port shows, rows from the top.
inline TRgbPicture PortPicture(const ZarnDoc::CZarnDoc& doc, int channel) {
  const VideoPort::TPicture front = doc.m_VideoPortHub.Port(channel).FrontBitmap();
  if (!front || front->BitCount() != 32) return {};
  return MakeRgbPicture(front->Width(), front->Height(), [&front](int x, int y) {
    const std::uint8_t* p = front->RowFromTop(y) + 4 * x;
    return static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0];
  });
}

// The largest difference of one colour sample between two pictures of one
// size (-1 when the sizes differ).
inline int MaxDifference(const TRgbPicture& a, const TRgbPicture& b) {
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return -1;
  int worst = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i)
    for (int shift : {0, 8, 16}) {
      const int d = std::abs(static_cast<int>((a.pixels[i] >> shift) & 0xFF) -
                             static_cast<int>((b.pixels[i] >> shift) & 0xFF));
      worst = std::max(worst, d);
    }
  return worst;
}

// A binary PPM (P6) file of the picture.
inline void WritePpm(const std::filesystem::path& path, const TRgbPicture& p) {
  std::string bytes = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
  for (std::uint32_t c : p.pixels) {
    bytes.push_back(static_cast<char>((c >> 16) & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    bytes.push_back(static_cast<char>(c & 0xFF));
  }
  tovrin_test::WriteAll(path, bytes);
}

// Runs a command line; true when it ended with status 0.
inline bool RunTool(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool HaveTool(const char* name) { return RunTool(std::string("command -v ") + name); }

// A document whose ports hold their first 1 x 1 pictures, as after set-up.
inline void PreparePorts(ZarnDoc::CZarnDoc& doc) { ASSERT_TRUE(doc.m_VideoPortHub.ResetAll()); }

}  // namespace open_test
