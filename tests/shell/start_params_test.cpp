#include "shell/start_params.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/support/test_support.h"

using namespace shell;

namespace {

struct TParsed {
  TAppParams params;
  TChannelParamsSet set;
};

TParsed Parse(std::initializer_list<std::string> lines, TParsed start = {}) {
  for (const std::string& l : lines) ParseChannelParamLine(l, start.params, start.set);
  return start;
}

void WriteUtf16(const std::filesystem::path& path, const std::string& text, bool bom) {
  tovrin_test::WriteAll(path, platform::EncodeUtf16Le(text, bom));
}

int IndexOf(const char* key) {
  const auto& keys = ChannelParamKeys();
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (std::string(keys[i].name) == key) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST(StartParams, KeysAreTheEightyTwoInTheParsersOrder) {
  const auto& keys = ChannelParamKeys();
  ASSERT_EQ(keys.size(), 82u);
  EXPECT_EQ(IndexOf("ch_nDecoderID"), 0);
  EXPECT_EQ(IndexOf("ch_bIsClientDecoder"), 2);
  EXPECT_EQ(IndexOf("ch_sNetworkID_Client_00"), 6);
  EXPECT_EQ(IndexOf("ch_sServer_ClientDir_07"), 45);
  EXPECT_EQ(IndexOf("ch_bEnableDecoderOOV"), 46);
  EXPECT_EQ(IndexOf("ch_bEnableProcess_00"), 61);
  EXPECT_EQ(IndexOf("ch_bEnableClientProcess_03"), 68);
  EXPECT_EQ(IndexOf("ch_nDecoderCtrlPeriod"), 71);
  EXPECT_EQ(IndexOf("ch_nFramesCount_RQ"), 75);
  EXPECT_EQ(IndexOf("ch_nDelayFtpBuffer"), 81);
}

// One line each, starting from empty records: the value and flag it leaves.
struct TFlagCase {
  const char* line;
  bool set;
  std::uint8_t value;
};

TEST(StartParams, FlagValues) {
  const TFlagCase cases[] = {
      {"ch_bIsServerDecoder = 1", true, 1},      {"ch_bIsServerDecoder=TRUE", true, 1},
      {"ch_bIsServerDecoder = yes", true, 1},    {"ch_bIsServerDecoder = TRUE \r\n", true, 1},
      {"ch_bIsServerDecoder = 10", true, 1},     {"ch_bIsServerDecoder = YES7", true, 1},
      {"ch_bIsServerDecoder = 0", true, 0},      {"ch_bIsServerDecoder = no", true, 0},
      {"ch_bIsServerDecoder = False;", true, 0}, {"ch_bIsServerDecoder = 00", true, 0},
      {"ch_bIsServerDecoder = on", false, 0},    {"ch_bIsServerDecoder = 2", false, 0},
      {"ch_bIsServerDecoder = YESX", false, 0},  {"ch_bIsServerDecoder =", false, 0},
      {"CH_BISSERVERDECODER\t=\ttrue", true, 1}, {"ch_bIsServerDecoder 1 = 1", true, 1},
  };
  for (const auto& c : cases) {
    const TParsed p = Parse({c.line});
    EXPECT_EQ(p.set.IsSet(1), c.set) << c.line;
    EXPECT_EQ(p.params.channel.ch_bIsServerDecoder, c.value) << c.line;
  }
}

TEST(StartParams, NumbersAndStrings) {
  struct TCase {
    const char* line;
    bool set;
    std::int32_t number;
  };
  const TCase numbers[] = {
      {"ch_nDecoderID = 7", true, 7},
      {"ch_nDecoderID=  -12\r\n", true, -12},
      {"ch_nDecoderID = +5", true, 5},
      {"ch_nDecoderID = 12abc", true, 12},
      {"ch_nDecoderID = abc", false, 0},
      {"ch_nDecoderID =", false, 0},
      {"ch_nDecoderID = 99999999999", false, 0},
      {"ch_nDecoderID2 = 3", true, 3},
      {"ch_nDecoderID = +-5", false, 0},
      {"ch_nDecoderID = + 5", false, 0},
      {"ch_nDecoderID = -+5", false, 0},
      {"ch_nDecoderID = +", false, 0},
  };
  for (const auto& c : numbers) {
    const TParsed p = Parse({c.line});
    EXPECT_EQ(p.set.IsSet(0), c.set) << c.line;
    EXPECT_EQ(p.params.channel.ch_nDecoderID, c.number) << c.line;
  }
  const std::pair<const char*, const char*> strings[] = {
      {"ch_sIPAddressServer = 10.0.0.7,backup", "10.0.0.7"},
      {"ch_sIPAddressServer = 10.0.0.7;comment", "10.0.0.7"},
      {"ch_sIPAddressServer = /srv/my folder/x", "/srv/my"},
      {"ch_sIPAddressServer =\t\thost\tmore", "host"},
      {"ch_sIPAddressServer = host\r\n", "host"},
  };
  for (const auto& [line, value] : strings) {
    const TParsed p = Parse({line});
    EXPECT_TRUE(p.set.IsSet(4)) << line;
    EXPECT_EQ(p.params.channel.ch_sIPAddressServer, value) << line;
  }
}

TEST(StartParams, LinesThatAreNotKeysChangeNothing) {
  const TParsed empty;
  for (const char* line : {"", "; ch_nDecoderID = 4", " ch_nDecoderID = 4", "ch_nDecoderID 4",
                           "ch_nDecoderIDx = 4", "ch_nDecoderID_ = 4", "unknown_key = 4",
                           "\xEF\xBB\xBF"
                           "ch_nDecoderID=4"}) {
    const TParsed p = Parse({line});
    EXPECT_EQ(p.params, empty.params) << line;
    EXPECT_EQ(p.set, empty.set) << line;
  }
}

TEST(StartParams, TheLastLineOfAKeyWinsAndAnInvalidOneOnlyClearsTheFlag) {
  TParsed p = Parse({"ch_nDecoderCtrlPeriod = 40", "ch_nDecoderCtrlPeriod = -40"});
  EXPECT_EQ(p.params.channel.ch_nDecoderCtrlPeriod, -40);
  EXPECT_TRUE(p.set.IsSet(71));
  p = Parse({"ch_nDecoderCtrlPeriod = x"}, p);
  EXPECT_EQ(p.params.channel.ch_nDecoderCtrlPeriod, -40);
  EXPECT_FALSE(p.set.IsSet(71));
  p = Parse({"ch_sFtpUserName = ann", "ch_sFtpUserName = ;", "ch_bIsClientDecoder = TRUE",
             "ch_bIsClientDecoder = maybe"});
  EXPECT_EQ(p.params.channel.ch_sFtpUserName, "ann");
  EXPECT_FALSE(p.set.IsSet(77));
  EXPECT_EQ(p.params.channel.ch_bIsClientDecoder, 1);
  EXPECT_FALSE(p.set.IsSet(2));
}

TEST(StartParams, APeriodOfZeroIsNotAValue) {
  for (const char* key :
       {"ch_nDecoderCtrlPeriod", "ch_nDecoderRequestToStopPeriod", "ch_nDecoderVideoOutPeriod"}) {
    TParsed p = Parse({std::string(key) + " = 33", std::string(key) + " = 0"});
    const int i = IndexOf(key);
    EXPECT_FALSE(p.set.IsSet(i)) << key;
  }
  const TParsed p = Parse({"ch_nDecoderVideoOutPeriod = 0"});
  EXPECT_EQ(p.params.channel.ch_nDecoderVideoOutPeriod, 0);
  EXPECT_FALSE(p.set.IsSet(73));
  // Other numbers take 0.
  EXPECT_TRUE(Parse({"ch_nDecoderVideoOutDelay = 0"}).set.IsSet(74));
}

TEST(StartParams, EveryKindOfKeyReachesItsMember) {
  const TParsed p =
      Parse({"ch_sNetworkID_Client_07 = c7", "ch_sClientDir_Out_03 = /out/3",
             "ch_bEnableClientProcess_02 = 1", "ch_bEnableProcess_03 = yes", "ch_nFramesCount_RQ = 250",
             "ch_sLocalFile = /tmp/x.oov", "ch_nDelayFtpBuffer = 15"});
  EXPECT_EQ(p.params.channel.ch_sNetworkID_Client[7], "c7");
  EXPECT_EQ(p.params.channel.ch_sClientDir_Out[3], "/out/3");
  EXPECT_EQ(p.params.channel.ch_bEnableClientProcess[2], 1);
  EXPECT_EQ(p.params.channel.ch_bEnableProcess[3], 1);
  EXPECT_EQ(p.params.channel.ch_nFramesCount_RQ, 250);
  EXPECT_EQ(p.set.nFramesCount_RQ_Set, 1u) << "its was-set flag is the 32-bit one";
  EXPECT_EQ(p.params.channel.ch_sLocalFile, "/tmp/x.oov");
  EXPECT_EQ(p.params.channel.ch_nDelayFtpBuffer, 15);
  for (int i : {13, 25, 67, 64, 75, 80, 81}) EXPECT_TRUE(p.set.IsSet(i)) << i;
}

TEST(StartParamsFile, AByteOrderMarkIsSkippedAndEveryLineIsRead) {
  tovrin_test::TTempDir dir;
  for (bool bom : {false, true}) {
    const auto path = dir / (bom ? "bom.ini" : "plain.ini");
    WriteUtf16(path, "ch_nDecoderID = 3\r\nch_sIPAddressServer = 192.168.1.2\r\nch_bIsServerDecoder=1", bom);
    TParsed p;
    EXPECT_EQ(ReadChannelParamFile(path, p.params, p.set), TStartFileStatus::Read);
    EXPECT_EQ(p.params.channel.ch_nDecoderID, 3) << "the first line counts, mark or not";
    EXPECT_EQ(p.params.channel.ch_sIPAddressServer, "192.168.1.2");
    EXPECT_EQ(p.params.channel.ch_bIsServerDecoder, 1) << "a last line without a line break counts";
  }
}

TEST(StartParamsFile, EightBitAndMissingFilesAreReportedAndSetNothing) {
  tovrin_test::TTempDir dir;
  tovrin_test::WriteAll(dir / "utf8.ini", std::string("ch_nDecoderID = 3\r\n"));
  tovrin_test::WriteAll(dir / "utf8bom.ini", std::string("\xEF\xBB\xBF"
                                                         "ch_nDecoderID = 3\r\n"));
  TParsed p;
  EXPECT_EQ(ReadChannelParamFile(dir / "utf8.ini", p.params, p.set), TStartFileStatus::NotUtf16);
  EXPECT_EQ(ReadChannelParamFile(dir / "utf8bom.ini", p.params, p.set), TStartFileStatus::NotUtf16);
  EXPECT_EQ(ReadChannelParamFile(dir / "missing.ini", p.params, p.set), TStartFileStatus::CannotOpen);
  EXPECT_EQ(ReadChannelParamFile(dir.Path(), p.params, p.set), TStartFileStatus::CannotOpen);
  EXPECT_EQ(p.params, TAppParams{});
  EXPECT_EQ(p.set, TChannelParamsSet{});
  const std::string text = StartFileProblemText(dir / "utf8.ini", TStartFileStatus::NotUtf16);
  EXPECT_NE(text.find("utf8.ini"), std::string::npos);
  EXPECT_NE(text.find("UTF-16"), std::string::npos);
  EXPECT_TRUE(StartFileProblemText(dir / "missing.ini", TStartFileStatus::CannotOpen).empty());
  // An empty file is read and sets nothing.
  tovrin_test::WriteAll(dir / "empty.ini", std::string());
  EXPECT_EQ(ReadChannelParamFile(dir / "empty.ini", p.params, p.set), TStartFileStatus::Read);
}

TEST(StartParamsFile, LongLinesAreReadInPiecesOf255Characters) {
  tovrin_test::TTempDir dir;
  // A key line whose value runs past 255 characters: the first piece holds
  // the key and is parsed; the rest of the line is a piece that starts with
  // a letter but holds no "=".
  const std::string value(300, 'a');
  // The second piece starts with a key of its own: read as a line.
  const std::string filler(255 - std::string("ch_sSrcDirOOV = ").size(), 'b');
  WriteUtf16(dir / "long.ini",
             "ch_sSysDirOOV = " + value + "\r\nch_sSrcDirOOV = " + filler + "ch_nDecoderID = 9\r\n", false);
  TParsed p;
  ASSERT_EQ(ReadChannelParamFile(dir / "long.ini", p.params, p.set), TStartFileStatus::Read);
  EXPECT_EQ(p.params.channel.ch_sSysDirOOV.size(), 255u - std::string("ch_sSysDirOOV = ").size());
  EXPECT_EQ(p.params.channel.ch_sSrcDirOOV, filler);
  EXPECT_EQ(p.params.channel.ch_nDecoderID, 9);
}

TEST(StartParamsFile, TheSecondFileOverlaysTheFirst) {
  tovrin_test::TTempDir dir;
  WriteUtf16(dir / "exe.ini",
             "ch_bIsClientDecoder = TRUE\r\nch_nDecoderID = 1\r\nch_sFtpSiteAddr = ftp.one\r\n", true);
  WriteUtf16(dir / "cmd.ini", "ch_bIsClientDecoder = perhaps\r\nch_nDecoderID = 2\r\n", true);
  TParsed p;
  ReadChannelParamFile(dir / "exe.ini", p.params, p.set);
  ReadChannelParamFile(dir / "cmd.ini", p.params, p.set);
  EXPECT_EQ(p.params.channel.ch_nDecoderID, 2);
  EXPECT_EQ(p.params.channel.ch_sFtpSiteAddr, "ftp.one");
  EXPECT_TRUE(p.set.IsSet(76));
  EXPECT_EQ(p.params.channel.ch_bIsClientDecoder, 1);
  EXPECT_FALSE(p.set.IsSet(2)) << "no client session starts";
}

TEST(StartParamsCommandLine, Arguments) {
  struct TCase {
    std::vector<std::string> args;
    std::string startFile;
    bool flag;
    CCommandLineInfoEx::TShellCommand command;
    std::string file;
    std::string screenshot;
  };
  const TCase cases[] = {
      {{"/opt/tovrin/bin/tovrin"}, "", false, CCommandLineInfoEx::FileNew, "", ""},
      {{"tovrin", "-i/home/me/start.ini"}, "/home/me/start.ini", true, CCommandLineInfoEx::FileNew, "", ""},
      {{"tovrin", "-Irel.ini", "clip.avi"}, "rel.ini", true, CCommandLineInfoEx::FileOpen, "clip.avi", ""},
      {{"tovrin", "-I"}, "", true, CCommandLineInfoEx::FileNew, "", ""},
      {{"tovrin", "-ia.ini", "-ib.ini"}, "b.ini", true, CCommandLineInfoEx::FileNew, "", ""},
      {{"tovrin", "/home/me/video.mpg"}, "", false, CCommandLineInfoEx::FileOpen, "/home/me/video.mpg", ""},
      {{"tovrin", "/index.ini"}, "", false, CCommandLineInfoEx::FileOpen, "/index.ini", ""},
      {{"tovrin", "a.png", "b.png"}, "", false, CCommandLineInfoEx::FileOpen, "a.png", ""},
      {{"tovrin", "--screenshot", "out.png"}, "", false, CCommandLineInfoEx::FileNew, "", "out.png"},
      {{"tovrin", "--screenshot=-x.png", "-unknown"}, "", false, CCommandLineInfoEx::FileNew, "", "-x.png"},
  };
  for (const auto& c : cases) {
    CCommandLineInfoEx info;
    info.ParseCommandLine(c.args);
    const std::string where = c.args.size() > 1 ? c.args[1] : c.args[0];
    EXPECT_EQ(info.m_strStartFile, c.startFile) << where;
    EXPECT_EQ(info.m_bHasStartFileFlag, c.flag) << where;
    EXPECT_EQ(info.m_nShellCommand, c.command) << where;
    EXPECT_EQ(info.m_strFileName, c.file) << where;
    EXPECT_EQ(info.m_strScreenshot, c.screenshot) << where;
    EXPECT_EQ(info.m_strProgramPath, c.args[0]);
  }
}
