// The settings file across runs of the application object: what a damaged
// file still gets at exit.

#include <filesystem>
#include <string>
#include <vector>

#include "tests/app/app_test_support.h"

using namespace shell;

namespace {

// A line QSettings cannot parse: a line without "=" inside the program's own
// section, and a section of someone else's that must survive.
constexpr char kBadLine[] = "this line has no equals sign";
constexpr char kOtherSection[] = "[Other]\nKept=12\n";

std::string FileText(const std::string& path) {
  const std::vector<std::uint8_t> bytes = tovrin_test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

// The file with `line` put in after its first section header.
std::string WithLineAfterFirstSection(std::string text, const std::string& line) {
  const std::size_t header = text.find('[');
  const std::size_t end = header == std::string::npos ? std::string::npos : text.find('\n', header);
  if (end == std::string::npos) return text + line + "\n";
  return text.insert(end + 1, line + "\n");
}

}  // namespace

// A settings file with a line without "=" kept the store in its error state:
// the save at exit reported failure and the program's block was lost.
TEST_F(TAppTest, ASettingsFileWithALineWithoutAnEqualsSignStillGetsTheProgramsBlockAtExit) {
  // An earlier run's settings, then the damage and a section of another's.
  Run([](CTovrinApp& app) {
    app.ProgCfg().optionFlags = 0x21;
    app.ImageNaming()[1].extension = ".bmp";
  });
  const std::string file = Ini().toStdString();
  const std::string earlier = FileText(file);
  ASSERT_NE(earlier.find("ProgCfg"), std::string::npos) << earlier;
  tovrin_test::WriteAll(file, kOtherSection + WithLineAfterFirstSection(earlier, kBadLine));
  {
    // Checked on a copy: a store of the file itself would leave what it
    // parsed in the process for the program's store to take unchecked.
    const std::string probe = (dir / "damaged.ini").string();
    std::filesystem::copy_file(file, probe);
    ASSERT_TRUE(platform::qt::CRegistryAccess(QString::fromStdString(probe)).RewritePending())
        << "the fixture is a file the store cannot parse";
  }

  // A run that changes a setting and exits.
  auto second = MakeApp();
  ASSERT_TRUE(second->InitInstance());
  EXPECT_TRUE(second->SettingsRead()) << "what could be read was read";
  EXPECT_EQ(second->ProgCfg().optionFlags, 0x21u);
  EXPECT_EQ(second->ImageNaming()[1].extension, ".bmp");
  second->ProgCfg().optionFlags = 0x42;
  second->ImageNaming()[1].extension = ".png";
  second->ExitInstance();
  // The file as the exit left it, while the program's store still lives: the
  // save is the exit's own write. It is read from a copy, since stores of one
  // file share what they have not written yet.
  const std::string copy = (dir / "saved_at_exit.ini").string();
  std::filesystem::copy_file(file, copy);
  const std::string text = FileText(copy);
  EXPECT_EQ(text.find(kBadLine), std::string::npos) << "the file was not written anew";
  EXPECT_FALSE(std::filesystem::exists(file + ".new"));
  {
    platform::qt::CRegistryAccess saved(QString::fromStdString(copy));
    EXPECT_FALSE(saved.RewritePending()) << "the file written at exit parses";
    const std::vector<std::uint8_t> block = StoredProgCfg(saved);
    ASSERT_EQ(block.size(), kProgCfgSize);
    EXPECT_EQ(block[0], 1) << "saved marker";
    EXPECT_EQ(block[progcfg::kOptionFlags], 0x42) << "the change went into the block";
    std::string value;
    ASSERT_TRUE(saved.ReadStringValue(kProgCfgStrKey, "SaveImgFNameExt_1", value));
    EXPECT_EQ(value, ".png");
    std::int32_t kept = 0;
    ASSERT_TRUE(saved.ReadIntValue("Other", "Kept", kept)) << "another's section is kept";
    EXPECT_EQ(kept, 12);
  }
  second.reset();

  // The next start reads the change back.
  Run([](CTovrinApp& app) {
    EXPECT_TRUE(app.SettingsRead());
    EXPECT_EQ(app.ProgCfg().optionFlags, 0x42u);
    EXPECT_EQ(app.ImageNaming()[1].extension, ".png");
  });
}
