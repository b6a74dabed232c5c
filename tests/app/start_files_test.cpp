#include <QApplication>

#include "platform/text.h"
#include "shell/main_frame.h"
#include "tests/app/app_test_support.h"

using namespace shell;

namespace {

void WriteStartFile(const std::filesystem::path& path, const std::string& text) {
  tovrin_test::WriteAll(path, platform::EncodeUtf16Le(text, true));
}

CPlaceholderDocument* FirstDocument(CTovrinApp& app) {
  auto frames = app.MainFrameWindow()->ChildFrames();
  return frames.empty() ? nullptr : dynamic_cast<CPlaceholderDocument*>(frames.front());
}

}  // namespace

TEST_F(TAppTest, TheProgramsStartFileThenTheCommandLinesAndAClientSessionOnce) {
  std::filesystem::create_directories(dir / "bin");
  WriteStartFile(dir / "bin/tovrin.ini",
                 "ch_bIsClientDecoder = 1\r\nch_nDecoderID = 1\r\nch_sFtpUserName = ann\r\n");
  WriteStartFile(dir / "cmd.ini", "ch_nDecoderID = 2\r\n");
  auto app = MakeApp({(dir / "bin/tovrin").string(), "-i" + (dir / "cmd.ini").string()});
  ASSERT_TRUE(app->InitInstance());
  EXPECT_EQ(app->ExeStartFilePath(), (dir / "bin/tovrin.ini").string());
  EXPECT_EQ(app->CmdStartFilePath(), (dir / "cmd.ini").string());
  EXPECT_TRUE(app->StartFileLoaded());
  EXPECT_EQ(app->Params().channel.ch_nDecoderID, 2);
  EXPECT_EQ(app->Params().channel.ch_sFtpUserName, "ann");
  EXPECT_TRUE(app->ParamsSet().IsSet(kIsClientDecoderIndex));

  CPlaceholderDocument* doc = FirstDocument(*app);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->StartCount(), 0);
  app->OnIdle(0);
  EXPECT_EQ(doc->StartCount(), 0) << "the first pass with count 1 starts it";
  app->OnIdle(1);
  EXPECT_EQ(doc->StartCount(), 1);
  app->OnIdle(0);
  app->OnIdle(1);
  EXPECT_EQ(doc->StartCount(), 1) << "never again in this run";
  EXPECT_TRUE(app->FirstIdleDone());
  app->ExitInstance();
}

TEST_F(TAppTest, StartFilesThatStartNoSession) {
  struct TCase {
    const char* name;
    std::string exeFile;  // "" none
    std::string cmdArg;   // "" none
    bool loaded;
  };
  const TCase cases[] = {
      {"client off", "ch_bIsClientDecoder = 0\r\n", "", true},
      {"client word unknown in the second file", "ch_bIsClientDecoder = TRUE\r\n", "bad", true},
      {"no files", "", "", false},
      {"command-line file missing", "", "-i" + (dir / "nowhere.ini").string(), false},
      {"empty -I", "", "-I", false},
  };
  for (const TCase& c : cases) {
    std::filesystem::remove_all(dir / "bin");
    std::filesystem::create_directories(dir / "bin");
    if (!c.exeFile.empty()) WriteStartFile(dir / "bin/tovrin.ini", c.exeFile);
    std::vector<std::string> args = {(dir / "bin/tovrin").string()};
    if (c.cmdArg == "bad") {
      WriteStartFile(dir / "second.ini", "ch_bIsClientDecoder = sometimes\r\n");
      args.push_back("-i" + (dir / "second.ini").string());
    } else if (!c.cmdArg.empty()) {
      args.push_back(c.cmdArg);
    }
    auto app = MakeApp(args);
    ASSERT_TRUE(app->InitInstance()) << c.name;
    EXPECT_EQ(app->StartFileLoaded(), c.loaded) << c.name;
    app->OnIdle(0);
    app->OnIdle(1);
    ASSERT_NE(FirstDocument(*app), nullptr);
    EXPECT_EQ(FirstDocument(*app)->StartCount(), 0) << c.name;
    EXPECT_TRUE(sink.Texts().empty()) << c.name;
    app->ExitInstance();
  }
}

TEST_F(TAppTest, AnEightBitStartFileIsReportedAndNotRead) {
  std::filesystem::create_directories(dir / "bin");
  tovrin_test::WriteAll(dir / "bin/tovrin.ini", std::string("ch_bIsClientDecoder = 1\r\n"));
  auto app = MakeApp({(dir / "bin/tovrin").string()});
  ASSERT_TRUE(app->InitInstance());
  EXPECT_FALSE(app->StartFileLoaded());
  EXPECT_EQ(app->Params().channel.ch_bIsClientDecoder, 0);
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_NE(sink.Texts()[0].find((dir / "bin/tovrin.ini").string()), std::string::npos);
  app->ExitInstance();
}
