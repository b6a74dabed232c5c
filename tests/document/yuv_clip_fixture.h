#pragma once
// The fixture of the playing and recording tests: a media document in its
// window, over an application object of the test's choosing, that opens raw
// YUV clips made at test time whose pictures show their frame number.
//
// Frame k is 64 x 16: eight stripes of 8 columns, stripe i white when bit i
// of k is set; neutral chroma. 4:2:0 centred, BT.601, 16-235.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "document_fixture.h"
#include "media/file_types.h"
#include "open_fixture.h"
#include "platform/qt/commands.h"
#include "platform/types.h"
#include "tests/support/message_fixture.h"

namespace clip_test {

constexpr int kWidth = 64;
constexpr int kHeight = 16;
constexpr std::size_t kFrameBytes = kWidth * kHeight * 3 / 2;
constexpr std::int32_t kYuvFormat = ZarnTypes::ComposeYuvFileFormat(
    ZarnTypes::YUV_STD_BT601, ZarnTypes::YUV_LAYOUT_420_CENTRED, ZarnTypes::YUV_RANGE_16_235_240);

// The bytes of frame k as the clips hold it.
inline std::vector<std::uint8_t> CodedFrame(int k) {
  std::vector<std::uint8_t> frame(kFrameBytes, 128);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      frame[static_cast<std::size_t>(y * kWidth + x)] = (k >> (x / 8)) & 1 ? 235 : 16;
  return frame;
}

// A clip of frames 0 .. frames - 1.
inline void WriteClip(const std::filesystem::path& path, int frames) {
  std::ofstream out(path, std::ios::binary);
  for (int k = 0; k < frames; ++k) {
    const std::vector<std::uint8_t> frame = CodedFrame(k);
    out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
  }
}

// A document set to open the clips, with recorded message boxes and a
// folder of its own; it stops a playing engine before it goes.
template <class TApplication>
class TClipDocumentTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  TApplication app;
  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();

  TClipDocumentTest() {
    doc.ch_nDecoderVideoOutDelay = 0;
    doc.m_YuvOpen.nFormat = kYuvFormat;
    doc.m_YuvOpen.nWidth = kWidth;
    doc.m_YuvOpen.nHeight = kHeight;
  }
  ~TClipDocumentTest() override {
    if (doc.m_Engine.IsRunning()) {
      doc.m_Engine.StopPlaying();
      doc_test::RunUntil([this] { return !doc.m_Engine.IsRunning(); });
    }
  }

  // "c0.yuv" .. "c3.yuv".
  static std::string ClipName(int channel) {
    std::string name = "c";
    name += std::to_string(channel) + ".yuv";
    return name;
  }
  // A clip of `frames` frames in the test's folder.
  std::filesystem::path Clip(const std::string& name, int frames) {
    const std::filesystem::path path = dir / name;
    WriteClip(path, frames);
    return path;
  }
  bool Open(int channel, const std::filesystem::path& path) { return doc.OpenSource(path.string(), channel); }
  // Whether a command's update enables it (the document must answer it).
  bool Enabled(UINT id) {
    platform::qt::TCmdUI ui(id);
    EXPECT_TRUE(doc.OnCmdMsg(id, platform::qt::TCmdCode::Update, &ui)) << id;
    return ui.Enabled();
  }
  // Runs a command through the document (which must take it).
  void Run(UINT id) { EXPECT_TRUE(doc.OnCmdMsg(id, platform::qt::TCmdCode::Command, nullptr)) << id; }
};

}  // namespace clip_test
