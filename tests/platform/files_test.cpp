#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "platform/paths.h"

namespace {

using namespace std::chrono_literals;

class RegularFileTest : public ::testing::Test {
 protected:
  void SetUp() override { m_Folder = platform::MakeTempFolder("tovrin-files"); }
  void TearDown() override { std::filesystem::remove_all(m_Folder); }
  std::string PathOf(const char* name) const { return (m_Folder / name).string(); }
  std::filesystem::path m_Folder;
};

TEST_F(RegularFileTest, ARegularFileOpensAndReadsBlocking) {
  const std::string path = PathOf("a.png");
  std::ofstream(path) << "abc";
  std::FILE* f = platform::OpenRegularFileStream(path);
  ASSERT_NE(f, nullptr);
  char buf[4] = {};
  EXPECT_EQ(std::fread(buf, 1, 3, f), 3u);
  EXPECT_STREQ(buf, "abc");
  std::fclose(f);
  EXPECT_TRUE(platform::IsRegularFile(path));
}

// Each case would block a plain open() or read(), or is not a file at all.
TEST_F(RegularFileTest, AFifoAFolderAndAMissingNameAreRefusedAtOnce) {
  const std::string fifo = PathOf("x.mp4");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = PathOf("d.avi");
  std::filesystem::create_directory(folder);
  for (const std::string& path : {fifo, folder, PathOf("gone.png")}) {
    SCOPED_TRACE(path);
    // A plain fopen of the FIFO would wait for a writer for ever: run the
    // open on another thread and bound the wait.
    auto opened = std::async(std::launch::async, [&] { return platform::OpenRegularFileForRead(path); });
    if (opened.wait_for(5s) != std::future_status::ready) {
      // Release the blocked open (a writer end) so that the test ends.
      const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
      opened.wait();
      if (writer >= 0) ::close(writer);
      FAIL() << "the open blocked";
    }
    const int fd = opened.get();
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(platform::OpenRegularFileStream(path), nullptr);
    EXPECT_FALSE(platform::IsRegularFile(path));
  }
}

}  // namespace
