// One-shot grabs of a file's first frame, failures and re-entry of a session.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dshow_fixtures.h"
#include "session_helpers.h"
#include "tests/support/test_support.h"

using namespace ZarnTypes;
using namespace dshow_test;
using DShowMgr::CDShowMgr;

namespace {

struct VideoCase {
  const char* file;
  int width, height;
};

const VideoCase kVideoFiles[] = {
    {"mpeg1.mpg", 320, 240}, {"mpeg2.mpg", 320, 240}, {"test.mp4", 320, 240},
    {"test.mov", 320, 240},  {"test.avi", 320, 240},  {"test.dv", 720, 576},
    {"test.wmv", 320, 240},  {"test.asf", 320, 240},  {"test.flv", 320, 240},
};

class GrabFirstFrame : public ::testing::TestWithParam<VideoCase> {};

}  // namespace

// Without a callback the first frame lands in the request's frame buffer as
// bottom-up 32-bit pixels with the fourth byte 0; with a callback exactly one
// frame is handed over as 24-bit bottom-up rows. Both equal the file's first
// frame as an independent decoder sees it.
TEST_P(GrabFirstFrame, MatchesTheFilesFirstFrame) {
  const auto file = Fixture(GetParam().file);
  ASSERT_FALSE(file.empty()) << "fixture " << GetParam().file;
  const auto reference = DecodeFrames(file, 1);
  ASSERT_EQ(reference.size(), 1u);
  CDShowMgr session;

  TOwner owner;
  owner.Build(file.string(), SRC_GRAB_FRAME, PF_RGB32, false);
  ASSERT_TRUE(session.Run(&owner.request));
  EXPECT_TRUE(owner.request.bSuccess);
  EXPECT_EQ(owner.request.eError, 0);
  EXPECT_EQ(owner.request.nWidth, GetParam().width);
  EXPECT_EQ(owner.request.nHeight, GetParam().height);
  EXPECT_TRUE(owner.stop.load());
  EXPECT_TRUE(owner.end.load());
  ASSERT_EQ(owner.frame.ePixelFormat, PF_RGB32);
  ASSERT_EQ(owner.frame.nWidth, reference[0].nWidth);
  ASSERT_EQ(owner.frame.nHeight, reference[0].nHeight);
  EXPECT_EQ(MaxDifference(owner.frame.pBuffer, 32, owner.frame.nStride, reference[0]), 0);
  bool bTopBytesZero = true;
  for (int i = 3; i < owner.frame.nSize; i += 4) bTopBytesZero &= owner.frame.pBuffer[i] == 0;
  EXPECT_TRUE(bTopBytesZero);
  EXPECT_FALSE(session.IsBusy());

  TOwner viewer;
  viewer.Build(file.string(), SRC_GRAB_FRAME_RGB24, PF_RGB24, true);
  ASSERT_TRUE(session.Run(&viewer.request));
  const auto frames = viewer.Frames();
  ASSERT_EQ(frames.size(), 1u);
  const TSeenFrame& f = frames[0];
  EXPECT_EQ(f.ePixelFormat, PF_RGB24);
  EXPECT_EQ(f.nWidth, GetParam().width);
  EXPECT_EQ(f.nHeight, GetParam().height);
  EXPECT_EQ(f.nBits, 24);
  EXPECT_TRUE(f.bHeaderBottomUp);
  EXPECT_EQ(static_cast<std::uint32_t>(f.nRgbSize), f.nHeaderImageSize);
  EXPECT_EQ(f.nRgbSize, f.nStride * f.nHeight);
  EXPECT_DOUBLE_EQ(f.dTime, 0.0);
  EXPECT_EQ(f.nFrameNumber, 0);
  EXPECT_EQ(MaxDifference(f.rgb.data(), 24, f.nStride, reference[0]), 0);
  EXPECT_EQ(viewer.lastSender.nSenderId, 42);
  EXPECT_EQ(viewer.lastSender.eSenderKind, MEDIA_SENDER_DSHOW);

  // Purpose 4 without a callback stores only the size.
  TOwner plain;
  plain.Build(file.string(), SRC_GRAB_FRAME_RGB24, PF_RGB32, false);
  ASSERT_TRUE(session.Run(&plain.request));
  EXPECT_EQ(plain.request.nWidth, GetParam().width);
  EXPECT_EQ(plain.frame.pBuffer, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Containers, GrabFirstFrame, ::testing::ValuesIn(kVideoFiles), [](const auto& info) {
  std::string name = info.param.file;
  for (char& c : name)
    if (c == '.') c = '_';
  return name;
});

TEST(DShowGrab, ResultBlockOfAviWmvAndAsfHoldsFrameIntervalAndDuration) {
  struct Case {
    const char* file;
    TStreamType type;
    bool filled;
  } cases[] = {{"test.avi", ST_AVI, true},
               {"test.wmv", ST_WMV, true},
               {"test.asf", ST_ASF, true},
               {"test.mp4", TStreamType{8}, false}};
  for (const Case& c : cases) {
    const auto file = Fixture(c.file);
    ASSERT_FALSE(file.empty());
    TOwner owner;
    owner.Build(file.string(), SRC_GRAB_FRAME, PF_RGB32, false, c.type);
    std::memset(owner.results, 0, sizeof owner.results);
    CDShowMgr session;
    ASSERT_TRUE(session.Run(&owner.request)) << c.file;
    double values[2];
    std::memcpy(values, owner.results, sizeof values);
    if (c.filled) {
      EXPECT_NEAR(values[0], 0.04, 1e-6) << c.file;
      EXPECT_NEAR(values[1], 2.0, 0.1) << c.file;
    } else {
      EXPECT_EQ(values[0], 0.0) << c.file;
      EXPECT_EQ(values[1], 0.0) << c.file;
    }
  }
}

TEST(DShowGrab, AudioOnlyFilesSucceedWithoutAFrame) {
  for (const char* name : {"test.mp3", "test.wma", "test.wav"}) {
    const auto file = Fixture(name);
    ASSERT_FALSE(file.empty()) << name;
    TOwner owner;
    owner.Build(file.string(), SRC_GRAB_FRAME, PF_RGB32, false);
    CDShowMgr session;
    EXPECT_TRUE(session.Run(&owner.request)) << name;
    EXPECT_EQ(owner.frame.pBuffer, nullptr) << name;
    EXPECT_EQ(owner.request.nWidth, 0) << name;
    EXPECT_TRUE(owner.end.load()) << name;
  }
}

// Files the platform cannot play fail with the session code and still tell
// the owner that the session ended.
TEST(DShowGrab, UnplayableFilesFailWithCode15) {
  const auto missing = Fixture("test.avi").parent_path() / "no such file.avi";
  for (const std::string& path : {Fixture("test.swf").string(), Fixture("damaged.avi").string(),
                                  Fixture("truncated.mp4").string(), missing.string(), std::string()}) {
    TOwner owner;
    owner.Build(path, SRC_GRAB_FRAME, PF_RGB32, false);
    CDShowMgr session;
    EXPECT_FALSE(session.Run(&owner.request)) << path;
    EXPECT_FALSE(owner.request.bSuccess) << path;
    EXPECT_EQ(owner.request.eError, MEDIA_ERR_DSHOW_SESSION) << path;
    EXPECT_TRUE(owner.stop.load()) << path;
    EXPECT_TRUE(owner.end.load()) << path;
    EXPECT_FALSE(session.IsBusy());
  }
}

TEST(DShowGrab, APathTheSystemCannotNameIsRefused) {
  const auto real = Fixture("test.avi").string();
  for (const std::string& path : {real + std::string(1, '\0') + "x", std::string(5000, 'a')}) {
    TOwner owner;
    owner.Build(path, SRC_GRAB_FRAME, PF_RGB32, false);
    CDShowMgr session;
    EXPECT_FALSE(session.Run(&owner.request));
    EXPECT_EQ(owner.request.eError, MEDIA_ERR_DSHOW_SESSION);
  }
}

// A FIFO, or a folder, under a media file's name is refused at once: the
// graph never waits for a writer that may never come.
TEST(DShowGrab, AnythingButARegularFileIsRefusedWithoutWaiting) {
  tovrin_test::TTempDir dir;
  const auto folder = dir.Path() / "folder.avi";
  std::filesystem::create_directories(folder);
  for (const char* name : {"x.mp4", "x.avi"}) {
    const auto fifo = dir.Path() / name;
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << name;
  }
  for (const auto& path : {dir.Path() / "x.mp4", dir.Path() / "x.avi", folder}) {
    TOwner owner;
    owner.Build(path.string(), SRC_GRAB_FRAME, PF_RGB32, false);
    CDShowMgr session;
    auto run = std::async(std::launch::async, [&] { return session.Run(&owner.request); });
    const bool bEnded = run.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!bEnded) {
      // Release every open blocked on the FIFO (each open of it waits for a
      // writer) so that the test ends.
      owner.stop = true;
      for (int i = 0; i < 300 && run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready;
           ++i) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
      }
    }
    ASSERT_TRUE(bEnded) << path << ": the open waited on the FIFO";
    EXPECT_FALSE(run.get()) << path;
    EXPECT_EQ(owner.request.eError, MEDIA_ERR_DSHOW_SESSION) << path;
    EXPECT_TRUE(owner.end.load()) << path;
  }
}

// A path longer than 259 characters is opened whole, never cut short (a
// shortened path would name another file, or none).
TEST(DShowGrab, ALongPathIsOpenedWhole) {
  const auto real = Fixture("test.avi");
  ASSERT_FALSE(real.empty());
  const auto reference = DecodeFrames(real, 1);
  ASSERT_EQ(reference.size(), 1u);
  tovrin_test::TTempDir dir;
  std::filesystem::path folder = dir.Path();
  for (int i = 0; i < 4; ++i) folder /= std::string(70, static_cast<char>('a' + i));
  std::filesystem::create_directories(folder);
  const auto path = folder / "first frame.avi";
  std::filesystem::copy_file(real, path);
  ASSERT_GT(path.string().size(), 300u);
  TOwner owner;
  owner.Build(path.string(), SRC_GRAB_FRAME, PF_RGB32, false);
  CDShowMgr session;
  ASSERT_TRUE(session.Run(&owner.request));
  EXPECT_EQ(owner.request.nWidth, kWidth);
  ASSERT_NE(owner.frame.pBuffer, nullptr);
  EXPECT_EQ(MaxDifference(owner.frame.pBuffer, 32, owner.frame.nStride, reference[0]), 0);
  // The same path with its name cut at 259 characters names nothing.
  TOwner cut;
  cut.Build(path.string().substr(0, 259), SRC_GRAB_FRAME, PF_RGB32, false);
  EXPECT_FALSE(session.Run(&cut.request));
  EXPECT_EQ(cut.request.eError, MEDIA_ERR_DSHOW_SESSION);
}

TEST(DShowSession, WrongTagFailsWithoutTouchingTheOwner) {
  TOwner owner;
  owner.Build(Fixture("test.avi").string(), SRC_GRAB_FRAME, PF_RGB32, false);
  owner.request.eTag = MEDIA_REQ_NONE;
  CDShowMgr session;
  EXPECT_FALSE(session.Run(&owner.request));
  EXPECT_EQ(owner.request.eError, MEDIA_ERR_DSHOW_SESSION);
  EXPECT_FALSE(owner.request.bSuccess);
  EXPECT_FALSE(owner.stop.load());
  EXPECT_FALSE(owner.end.load());
}

TEST(DShowSession, PurposesItCannotServeFailAndEndTheOwnersSession) {
  for (TSourcePurpose purpose : {SRC_WRITE_STREAM, TSourcePurpose{2}, TSourcePurpose{11}, SRC_ACQUIRE,
                                 SRC_GRAB_FRAME_CONFIG, SRC_DETECT_DEVICE}) {
    TOwner owner;
    owner.Build(Fixture("test.avi").string(), purpose, PF_RGB32, false);
    CDShowMgr session;
    EXPECT_FALSE(session.Run(&owner.request)) << purpose;
    EXPECT_EQ(owner.request.eError, MEDIA_ERR_DSHOW_SESSION) << purpose;
    EXPECT_TRUE(owner.stop.load()) << purpose;
    EXPECT_TRUE(owner.end.load()) << purpose;
  }
}

TEST(DShowSession, EnumerationsLeaveTheOwnersFlagsAlone) {
  std::vector<std::string> names;
  DShowMgr::TWmProfileList profiles;
  profiles.pNames = &names;
  profiles.bWantAudio = true;
  TOwner owner;
  owner.Build("", SRC_ENUM_WM_PROFILES, PF_RGB32, false);
  owner.params.pExtension = &profiles;
  CDShowMgr session;
  EXPECT_TRUE(session.Run(&owner.request));
  EXPECT_GT(profiles.nCount, 0);
  EXPECT_FALSE(owner.stop.load());
  EXPECT_FALSE(owner.end.load());
  // Without a record the profile session fails.
  owner.params.pExtension = nullptr;
  EXPECT_FALSE(session.Run(&owner.request));
  EXPECT_EQ(owner.request.eError, MEDIA_ERR_DSHOW_SESSION);
  EXPECT_FALSE(owner.end.load());

  std::vector<std::string> devices;
  DShowMgr::TMediaDeviceList list;
  list.pFriendlyNames = &devices;
  list.bListVideo = list.bListAudio = true;
  owner.Build("", SRC_ENUM_DEVICES, PF_RGB32, false);
  owner.params.pExtension = &list;
  EXPECT_TRUE(session.Run(&owner.request));
  EXPECT_EQ(list.nCount, static_cast<std::int32_t>(devices.size()));
  EXPECT_FALSE(owner.end.load());
  // Asked for neither kind: fails.
  list.bListVideo = list.bListAudio = false;
  EXPECT_FALSE(session.Run(&owner.request));
}

TEST(DShowSession, OneShotListsOfProfilesAndDevices) {
  std::vector<std::string> names, descriptions;
  std::vector<std::array<std::uint8_t, 16>> ids;
  DShowMgr::TWmProfileList profiles;
  profiles.pNames = &names;
  profiles.pDescriptions = &descriptions;
  profiles.pIds = &ids;
  profiles.bWantVideo = true;
  EXPECT_TRUE(DShowMgr::EnumWindowsMediaProfiles(this, &profiles));
  EXPECT_GT(profiles.nCount, 0);
  for (const auto& id : ids) {
    const auto& table = DShowMgr::WmProfileTable();
    const auto it = std::find_if(table.begin(), table.end(), [&](const auto& p) { return p.id == id; });
    ASSERT_NE(it, table.end());
    EXPECT_TRUE(it->bVideo && !it->bAudio);
  }
  DShowMgr::TMediaDeviceList none;  // no name array: nothing listed
  none.bListVideo = true;
  EXPECT_TRUE(DShowMgr::EnumMediaDevices(this, &none));
  EXPECT_EQ(none.nCount, 0);
  std::int32_t kind = 4;
  EXPECT_FALSE(DShowMgr::DetectMediaDeviceKind(this, "/dev/video9", 2, &kind));
  EXPECT_EQ(kind, 4);
}

// A second Run on the same object while a session runs is refused at once
// with 36; the running session goes on and ends normally.
TEST(DShowSession, SecondRunWhileBusyFailsWith36) {
  const auto file = Fixture("test.mp4");
  ASSERT_FALSE(file.empty());
  TOwner first;
  first.Build(file.string(), SRC_STREAM, PF_RGB24, true);
  CDShowMgr session;
  auto running = std::async(std::launch::async, [&] { return session.Run(&first.request); });
  ASSERT_TRUE(first.WaitFrames(1));
  TOwner second;
  second.Build(file.string(), SRC_GRAB_FRAME, PF_RGB32, false);
  EXPECT_FALSE(session.Run(&second.request));
  EXPECT_EQ(second.request.eError, MEDIA_ERR_DSHOW_BUSY);
  EXPECT_FALSE(second.stop.load());
  EXPECT_FALSE(second.end.load());
  EXPECT_EQ(second.frame.pBuffer, nullptr);
  first.stop = true;
  ASSERT_EQ(running.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(running.get());
  EXPECT_TRUE(first.request.bSuccess);
  // Free again: a new session runs.
  EXPECT_TRUE(session.Run(&second.request));
}
