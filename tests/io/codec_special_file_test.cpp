// Every still-picture reader opens only regular files: a FIFO or a folder
// that carries a picture's name is refused at once, with the request
// failed, instead of blocking the reader in open() or read() until someone
// writes to it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>

#include "io/codecs/gif_mgr.h"
#include "io/codecs/image.h"
#include "io/codecs/jpeg2000_mgr.h"
#include "io/codecs/jpeg_mgr.h"
#include "io/codecs/png_mgr.h"
#include "io/codecs/tiff_mgr.h"
#include "media/frame_buffer.h"
#include "tests/support/codecs/picture_support.h"
#include "tests/support/message_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace ZarnTypes;

struct TReaderCase {
  const char* name;
  const char* file;
  std::function<bool(TMediaRequest&)> read;
};

class SpecialFileTest : public tovrin_test::TRecordedMessagesTest,
                        public ::testing::WithParamInterface<TReaderCase> {};

// Runs one read of `path` with a bound: a read that blocks is released by
// opening the FIFO's write end, and the test fails.
bool ReadBounded(const TReaderCase& c, const std::string& path, bool& blocked) {
  TFrameBuffer frame{};
  TMediaRequest request = tovrin_test::ReadRequest(path, PF_RGB32, frame);
  request.bSuccess = true;  // the reader must clear it
  auto result = std::async(std::launch::async, [&] { return c.read(request) || request.bSuccess; });
  blocked = result.wait_for(5s) != std::future_status::ready;
  if (blocked) {
    // A writer that comes and goes: the open returns and reads end at once.
    const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
    result.wait();
  }
  const bool ok = result.get();
  FreeFrameBuffer(&frame);
  return ok;
}

TEST_P(SpecialFileTest, AFifoOrAFolderWithThePicturesNameFailsAtOnce) {
  const TReaderCase& c = GetParam();
  const std::string fifo = Path(c.file);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = Path(std::string("folder_") + c.file);
  std::filesystem::create_directory(folder);
  for (const std::string& path : {fifo, folder}) {
    SCOPED_TRACE(path);
    bool blocked = false;
    EXPECT_FALSE(ReadBounded(c, path, blocked));
    EXPECT_FALSE(blocked) << "the reader waited for a writer";
  }
  // The FIFO is still what it was: nothing replaced or removed it.
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

INSTANTIATE_TEST_SUITE_P(
    Readers, SpecialFileTest,
    ::testing::Values(
        TReaderCase{"png", "x.png", [](TMediaRequest& r) { return PngMgr::CPngMgr().ReadPng(r); }},
        TReaderCase{"jpeg", "x.jpg", [](TMediaRequest& r) { return JpegMgr::CJpegMgr().ReadJpeg(r); }},
        TReaderCase{"gif", "x.gif", [](TMediaRequest& r) { return GifMgr::CGifMgr().ReadGif(r); }},
        TReaderCase{"tiff", "x.tif", [](TMediaRequest& r) { return TiffMgr::CTiffMgr().ReadTiff(r); }},
        TReaderCase{"jpeg2000", "x.jp2",
                    [](TMediaRequest& r) { return Jpeg2000Mgr::CJpeg2000Mgr().ReadJpeg2000(r); }},
        TReaderCase{"bmp", "x.bmp",
                    [](TMediaRequest& r) {
                      // The image holder keeps the picture: read into its own frame.
                      Image::CImage image;
                      r.pFrameBuffer = nullptr;
                      return image.ReadBmp(r);
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
