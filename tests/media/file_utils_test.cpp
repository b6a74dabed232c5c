#include "media/file_utils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/text.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using tovrin_test::TTempDir;

std::string Str(const fs::path& p) { return p.string(); }

// Runs a step with another current folder and restores the old one.
class TCurrentFolder {
 public:
  explicit TCurrentFolder(const fs::path& dir) : m_old(fs::current_path()) { fs::current_path(dir); }
  ~TCurrentFolder() { fs::current_path(m_old); }

 private:
  fs::path m_old;
};

TEST(MakeIniPath, DerivesTheParameterFileOfAProgramPath) {
  struct TCase {
    const char* path;
    const char* ini;
  };
  const TCase cases[] = {
      {"/a/prog.exe", "/a/prog.ini"},
      {"/a/p.INI", "/a/p.INI"},
      {"/opt/tovrin/tovrin", "/opt/tovrin/tovrin.ini"},
      {"prog.exe", "prog.ini"},
      {"/a.b/prog", "/a.b/prog.ini"},
      {"/a/prog.tar.gz", "/a/prog.tar.ini"},
      {"/a/p.Ini", "/a/p.Ini"},
  };
  for (const TCase& c : cases) {
    std::string out = "stale";
    EXPECT_TRUE(FileUtils::MakeIniPath(c.path, out)) << c.path;
    EXPECT_EQ(out, c.ini) << c.path;
  }
  std::string out = "kept";
  EXPECT_FALSE(FileUtils::MakeIniPath("", out));
  EXPECT_EQ(out, "kept");
}

TEST(FileExists, FindsFilesFoldersAndPatternsByTheirExactNames) {
  TTempDir dir;
  tovrin_test::WriteAll(dir / "Frame1.BMP", std::string("x"));
  fs::create_directory(dir / "sub");
  fs::create_symlink(dir / "gone", dir / "dangling");
  struct TCase {
    std::string path;
    bool exists;
  };
  const TCase cases[] = {
      {Str(dir / "Frame1.BMP"), true},
      {Str(dir / "sub"), true},
      {Str(dir / "dangling"), true},  // the entry is there, whatever it points to
      {Str(dir / "*.BMP"), true},
      {Str(dir / "Frame?.*"), true},
      {Str(dir / "F*1.B?P"), true},
      {Str(dir / "*.*"), true},
      {Str(dir / "s*"), true},
      // A case variant is another name.
      {Str(dir / "frame1.bmp"), false},
      {Str(dir / "FRAME1.BMP"), false},
      {Str(dir / "Frame1.bmp"), false},
      {Str(dir / "SUB"), false},
      {Str(dir / "*.bmp"), false},
      {Str(dir / "frame?.*"), false},
      {Str(dir / "*.png"), false},
      {Str(dir / "missing.bmp"), false},
      {Str(dir / "Frame1.BMP") + "/", false},
      {Str(dir / "nofolder" / "*.*"), false},
      {Str(dir / "nofolder" / "Frame1.BMP"), false},
      {"", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(FileUtils::FileExists(c.path), c.exists) << c.path;

  // A relative pattern searches the current folder.
  TCurrentFolder cwd(dir.Path());
  EXPECT_TRUE(FileUtils::FileExists("Frame1.BMP"));
  EXPECT_TRUE(FileUtils::FileExists("*1.BMP"));
  EXPECT_FALSE(FileUtils::FileExists("*1.bmp"));
}

// The start parameter file beside the program is found only under the name
// derived from the program's, spelt exactly.
TEST(FileExists, StartFileBesideTheProgramIsLookedUpByItsExactName) {
  TTempDir dir;
  std::string ini;
  ASSERT_TRUE(FileUtils::MakeIniPath(Str(dir / "tovrin"), ini));
  EXPECT_EQ(ini, Str(dir / "tovrin.ini"));
  tovrin_test::WriteAll(dir / "Tovrin.ini", std::string("x"));
  tovrin_test::WriteAll(dir / "tovrin.INI", std::string("x"));
  EXPECT_FALSE(FileUtils::FileExists(ini));
  tovrin_test::WriteAll(dir / "tovrin.ini", std::string("x"));
  EXPECT_TRUE(FileUtils::FileExists(ini));
}

TEST(MatchesWildcard, LettersIgnoreCaseUnlessExactIsAsked) {
  using FindFileEx::MatchesWildcard;
  using FindFileEx::TLetterCase;
  EXPECT_TRUE(MatchesWildcard("Frame1.BMP", "*.bmp"));
  EXPECT_FALSE(MatchesWildcard("Frame1.BMP", "*.bmp", TLetterCase::Exact));
  EXPECT_TRUE(MatchesWildcard("Frame1.BMP", "*.BMP", TLetterCase::Exact));
  EXPECT_TRUE(MatchesWildcard("Frame1.BMP", "?rame1.BM?", TLetterCase::Exact));
  EXPECT_FALSE(MatchesWildcard("Frame1.BMP", "frame1.BMP", TLetterCase::Exact));
  EXPECT_TRUE(MatchesWildcard("noext", "*.*", TLetterCase::Exact));
}

TEST(CreateDirectoryTree, CreatesEveryMissingFolderOfAnAbsolutePath) {
  TTempDir dir;
  const fs::path deep = dir / "x" / "y" / "z";
  EXPECT_EQ(FileUtils::CreateDirectoryTree(Str(deep)), 0);
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_EQ(FileUtils::CreateDirectoryTree(Str(deep)), 0);                   // already there
  EXPECT_EQ(FileUtils::CreateDirectoryTree(Str(dir / "t" / "u") + "/"), 0);  // trailing separator
  EXPECT_TRUE(fs::is_directory(dir / "t" / "u"));
}

TEST(CreateDirectoryTree, ReportsTheFailingStep) {
  TTempDir dir;
  tovrin_test::WriteAll(dir / "file", std::string("x"));
  EXPECT_EQ(FileUtils::CreateDirectoryTree(""), ENOENT);
  // A file in the way fails the first creation, which is returned as it is.
  EXPECT_EQ(FileUtils::CreateDirectoryTree(Str(dir / "file" / "sub")), ENOTDIR);
  // A file where the folder should be counts as existing, as it always has.
  EXPECT_EQ(FileUtils::CreateDirectoryTree(Str(dir / "file")), 0);
  // The walk stops at its first error and returns it; the folders made
  // before it stay.
  const std::string tooLong(300, 'n');
  EXPECT_EQ(FileUtils::CreateDirectoryTree(Str(dir / "made" / tooLong)), ENAMETOOLONG);
  EXPECT_TRUE(fs::is_directory(dir / "made"));
}

TEST(CreateDirectoryTree, RelativePathsAndBareNames) {
  TTempDir dir;
  {
    TCurrentFolder cwd(dir.Path());
    // Every folder of a relative path is created, the first one included.
    EXPECT_EQ(FileUtils::CreateDirectoryTree("r1/r2/r3"), 0);
  }
  EXPECT_TRUE(fs::is_directory(dir / "r1" / "r2" / "r3"));

  // A bare name whose parent is gone cannot be made.
  fs::create_directory(dir / "gone");
  {
    TCurrentFolder cwd(dir / "gone");
    fs::remove(dir / "gone");
    EXPECT_EQ(FileUtils::CreateDirectoryTree("z"), ENOENT);
    EXPECT_EQ(FileUtils::CreateDirectoryTree("z/y"), ENOENT);
  }
}

TEST(GetStdioFileSize, MeasuresAndKeepsThePosition) {
  TTempDir dir;
  tovrin_test::WriteAll(dir / "f.bin", std::vector<std::uint8_t>(1000, 7));
  std::FILE* f = std::fopen(Str(dir / "f.bin").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, 123, SEEK_SET), 0);
  std::int64_t size = -1;
  EXPECT_TRUE(FileUtils::GetStdioFileSize(f, size));
  EXPECT_EQ(size, 1000);
  EXPECT_EQ(std::ftell(f), 123);
  std::fclose(f);

  std::int64_t untouched = 5;
  EXPECT_FALSE(FileUtils::GetStdioFileSize(nullptr, untouched));
  EXPECT_EQ(untouched, 5);

  // A pipe has no size.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::FILE* p = ::fdopen(fds[0], "rb");
  ASSERT_NE(p, nullptr);
  EXPECT_FALSE(FileUtils::GetStdioFileSize(p, untouched));
  EXPECT_EQ(untouched, 5);
  std::fclose(p);
  ::close(fds[1]);
}

TEST(BuildNumberedFileName, ComposesFolderNameNumbersAndExtension) {
  struct TCase {
    const char *folder, *prefix, *title, *ext;
    bool first, second;
    int firstWidth, firstNumber, secondWidth, secondNumber;
    const char* expected;
  };
  const TCase cases[] = {
      {"/out", "Clip", "", ".bmp", true, false, 6, 7, 0, 0, "/out/Clip_000007.bmp"},
      {"/out", "", "", ".bmp", true, false, 6, 7, 0, 0, "/out/000007.bmp"},
      {"/Clips", "CLIP", "", ".yuv", true, false, 3, 7, 4, 0, "/Clips/CLIP_007.yuv"},
      {"/Clips", "CLIP", "", ".yuv", true, true, 3, 7, 4, 0, "/Clips/CLIP_007_0000.yuv"},
      {"/v", "Clip", "Take", ".bmp", true, true, 3, 12, 5, 345, "/v/ClipTake_012_00345.bmp"},
      {"/v", "Clip", "", ".bmp", true, false, 0, 7, 0, 0, "/v/Clip_7.bmp"},
      {"/v", "Clip", "", ".bmp", true, false, 2, 1234, 0, 0, "/v/Clip_1234.bmp"},
      {"/v", "Clip", "Title", ".bmp", false, false, 3, 7, 3, 1, "/v/ClipTitle.bmp"},
      {"/v", "Clip", "", ".bmp", false, true, 3, 7, 3, 1,
       "/v/Clip.bmp"},  // never the second without the first
      {"/v/", "Clip", "", ".bmp", true, false, 3, 7, 0, 0, "/v//Clip_007.bmp"},
      {"", "Clip", "", ".bmp", true, false, 3, 7, 0, 0, "Clip_007.bmp"},  // current folder, not the root
  };
  for (const TCase& c : cases) {
    std::string out = "stale";
    EXPECT_TRUE(FileUtils::BuildNumberedFileName(c.folder, c.prefix, c.title, c.ext, out, c.first, c.second,
                                                 c.firstWidth, c.firstNumber, c.secondWidth, c.secondNumber));
    EXPECT_EQ(out, c.expected);
  }
}

TEST(BuildNumberedFileName, RefusesWidthsThatWouldNotGiveANumberedName) {
  std::string out = "stale";
  EXPECT_FALSE(FileUtils::BuildNumberedFileName("/v", "Clip", "", ".bmp", out, true, false, -3, 7, 0, 0));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(FileUtils::BuildNumberedFileName("/v", "Clip", "", ".bmp", out, true, true, 3, 7, -1, 0));
  EXPECT_FALSE(FileUtils::BuildNumberedFileName("/v", "Clip", "", ".bmp", out, true, false,
                                                FileUtils::kMaxNumberWidth + 1, 7, 0, 0));
  EXPECT_TRUE(FileUtils::BuildNumberedFileName("/v", "Clip", "", ".bmp", out, true, false,
                                               FileUtils::kMaxNumberWidth, 7, 0, 0));
  EXPECT_EQ(out.size(), std::string("/v/Clip_.bmp").size() + FileUtils::kMaxNumberWidth);
  // A width that is not written does not matter.
  EXPECT_TRUE(FileUtils::BuildNumberedFileName("/v", "Clip", "", ".bmp", out, true, false, 3, 7, -1, 0));
  EXPECT_EQ(out, "/v/Clip_007.bmp");
}

TEST(MakeNumberedPath, NumbersTheNameInThreeDigits) {
  struct TCase {
    const char* path;
    int number;
    const char* expected;
  };
  const TCase cases[] = {
      {"/v/cap.avi", 4, "/v//cap_004.avi"}, {"/v/cap.avi", 1234, "/v//cap_1234.avi"},
      {"/v/cap", 12, "/v//cap_012"},        {"/v/.avi", 4, "/v//004.avi"},
      {"cap.avi", 4, "cap_004.avi"},
  };
  for (const TCase& c : cases) {
    std::string out;
    EXPECT_TRUE(FileUtils::MakeNumberedPath(c.path, out, c.number));
    EXPECT_EQ(out, c.expected);
  }

  // The doubled separator names the file beside the original.
  TTempDir dir;
  std::string numbered;
  ASSERT_TRUE(FileUtils::MakeNumberedPath(Str(dir / "cap.avi"), numbered, 4));
  tovrin_test::WriteAll(numbered, std::string("x"));
  EXPECT_TRUE(fs::exists(dir / "cap_004.avi"));
}

TEST(FilePathParts, BuildsTheFullPathFromItsParts) {
  ZarnTypes::TFilePathParts parts;
  EXPECT_EQ(parts.sExtension, ".txt");
  parts.sFolder = "/data";
  parts.sName1 = "frame";
  parts.sName2 = "ignored";
  parts.sName3 = "pre_";
  parts.sName4 = "_01";
  EXPECT_EQ(parts.BuildPath(), "/data/pre_frame_01.txt");
  EXPECT_EQ(parts.sFullPath, "/data/pre_frame_01.txt");
  parts.sFolder.clear();
  parts.sExtension = ".bmp";
  EXPECT_EQ(parts.BuildPath(), "pre_frame_01.bmp");
}

TEST(LogTextFile, AppendsUtf16LeWithOneByteOrderMark) {
  TTempDir dir;
  const std::string text1 = "Video: 720 x 576\n";
  const std::string text2 = "Caf\xC3\xA9 \xE2\x86\x92 DV\n";
  const std::string text3 = "Audio: 48000 Hz\n";
  {
    ZarnTypes::TLogTextFile log;
    EXPECT_FALSE(log.Open());  // no path yet
    EXPECT_FALSE(log.WriteString("lost"));
    log.sPath = Str(dir / "media.log");
    ASSERT_TRUE(log.Open());
    EXPECT_FALSE(log.Open());  // already open
    EXPECT_TRUE(log.WriteString(text1));
    EXPECT_TRUE(log.WriteString(text2));
  }
  {
    ZarnTypes::TLogTextFile log;
    log.sPath = Str(dir / "media.log");
    ASSERT_TRUE(log.Open());
    EXPECT_TRUE(log.WriteString(text3));
    log.Close();
    EXPECT_FALSE(log.WriteString("lost"));
  }
  std::vector<std::uint8_t> expected = platform::EncodeUtf16Le(text1 + text2 + text3, /*withBom=*/true);
  EXPECT_EQ(tovrin_test::ReadAll(dir / "media.log"), expected);

  ZarnTypes::TLogTextFile bad;
  bad.sPath = Str(dir / "missing" / "media.log");
  EXPECT_FALSE(bad.Open());
  EXPECT_FALSE(bad.IsOpen());
}

TEST(FindFileEx, MatchesWildcards) {
  struct TCase {
    const char *name, *pattern;
    bool match;
  };
  const TCase cases[] = {
      {"a.tmp", "*.tm*", true},
      {"clip.yuv", "*.yu*", true},
      {"a.txt", "*.tm*", false},
      {"README", "*.*", true},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"x.BMP", "*.bmp", true},
      {"000012.bmp", "*.bmp", true},
      {"x.bmpx", "*.bmp", false},
      {"a*b", "a*b", true},
      {"aXbYb", "a*b", true},
      {"ab", "a*b*", true},
      {"", "*", true},
      {"a", "", false},
      {"abc", "*c*d", false},
      {"mississippi", "m*iss*ppi", true},
      {"file.bmp", "file.bmp", true},
      {"file.bmp", "File.BMP", true},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(FindFileEx::MatchesWildcard(c.name, c.pattern), c.match) << c.name << " ~ " << c.pattern;
}

TEST(FindFileEx, WalksMatchesInNameOrderAndFlagsTheLast) {
  TTempDir dir;
  tovrin_test::WriteAll(dir / "b2.bmp", std::string(20, 'b'));
  tovrin_test::WriteAll(dir / "A1.BMP", std::string(10, 'a'));
  tovrin_test::WriteAll(dir / "c3.png", std::string("c"));
  tovrin_test::WriteAll(dir / "README", std::string("r"));
  fs::create_directory(dir / "d.bmp");

  FindFileEx::CFileFindEx finder;
  const std::string folder = Str(dir.Path()) + "/";
  ASSERT_TRUE(finder.FindFile(folder + "*.bmp"));
  EXPECT_EQ(finder.GetFileName(), "");  // nothing current before the first move
  EXPECT_EQ(finder.GetRoot(), folder);

  struct TSeen {
    std::string name, path;
    bool directory;
    std::int64_t length;
    bool more;
  };
  std::vector<TSeen> seen;
  bool more = true;
  while (more) {
    more = finder.FindNextFile();
    seen.push_back(
        {finder.GetFileName(), finder.GetFilePath(), finder.IsDirectory(), finder.GetLength(), more});
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].name, "A1.BMP");
  EXPECT_EQ(seen[0].path, folder + "A1.BMP");
  EXPECT_EQ(seen[0].length, 10);
  EXPECT_TRUE(seen[0].more);
  EXPECT_EQ(seen[1].name, "b2.bmp");
  EXPECT_EQ(seen[1].length, 20);
  EXPECT_FALSE(seen[1].directory);
  EXPECT_EQ(seen[2].name, "d.bmp");
  EXPECT_TRUE(seen[2].directory);
  EXPECT_EQ(seen[2].length, 0);
  EXPECT_FALSE(seen[2].more);  // the last match is still current
  EXPECT_FALSE(finder.FindNextFile());
  EXPECT_EQ(finder.GetFileName(), "d.bmp");

  // "*.*" takes every name, with or without a dot; a restart forgets the old search.
  ASSERT_TRUE(finder.FindFile(folder + "*.*"));
  std::vector<std::string> all;
  for (bool again = true; again;) {
    again = finder.FindNextFile();
    all.push_back(finder.GetFileName());
  }
  EXPECT_EQ(all, (std::vector<std::string>{"A1.BMP", "b2.bmp", "c3.png", "d.bmp", "README"}));

  // A plain path finds the entry itself.
  ASSERT_TRUE(finder.FindFile(folder + "c3.png"));
  EXPECT_FALSE(finder.FindNextFile());
  EXPECT_EQ(finder.GetFilePath(), folder + "c3.png");
}

TEST(FindFileEx, FindsNothingWithoutAMatchOrAFolder) {
  TTempDir dir;
  FindFileEx::CFileFindEx finder;
  EXPECT_FALSE(finder.FindFile(Str(dir / "*.bmp")));
  EXPECT_FALSE(finder.FindNextFile());
  EXPECT_EQ(finder.GetFilePath(), "");
  EXPECT_FALSE(finder.FindFile(Str(dir / "missing" / "*.*")));
  EXPECT_FALSE(finder.FindFile(""));
  EXPECT_FALSE(finder.FindFile(Str(dir.Path()) + "/"));  // a folder name without a pattern

  tovrin_test::WriteAll(dir / "x.bmp", std::string("x"));
  {
    TCurrentFolder cwd(dir.Path());
    ASSERT_TRUE(finder.FindFile("*.bmp"));  // relative to the current folder
    finder.FindNextFile();
    EXPECT_EQ(finder.GetFilePath(), "x.bmp");
  }
}

}  // namespace
