#include "platform/qt/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSettings>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_support.h"

using platform::qt::CRegistryAccess;
using namespace std::chrono_literals;

namespace {

constexpr const char* kKey = "Software\\Halvane\\Configuration Settings\\";
constexpr const char* kSubKey = "Software\\Halvane\\Configuration Settings\\ProgCfgStr";

class TSettingsStoreTest : public ::testing::Test {
 protected:
  QString Ini() const { return QString::fromStdString((dir / "store.ini").string()); }
  tovrin_test::TTempDir dir;
};

}  // namespace

TEST_F(TSettingsStoreTest, BinaryValuesKeepEveryByteAcrossStores) {
  std::vector<std::uint8_t> block(2168);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 37 + 11);
  block[0] = 0;
  block[1] = 0xFF;
  block[2] = '\n';
  block[3] = '=';
  {
    CRegistryAccess w(Ini());
    ASSERT_TRUE(w.WriteBinaryValue(kKey, "ProgCfg", block.data(), block.size()));
    ASSERT_TRUE(w.WriteBinaryValue(kKey, "Empty", nullptr, 0));
  }
  CRegistryAccess r(Ini());
  std::vector<std::uint8_t> back;
  ASSERT_TRUE(r.ReadBinaryValue(kKey, "ProgCfg", back));
  EXPECT_EQ(back, block);
  ASSERT_TRUE(r.ReadBinaryValue(kKey, "Empty", back));
  EXPECT_TRUE(back.empty());
}

TEST_F(TSettingsStoreTest, MissingValuesAndWritesWithoutANameOrDataFail) {
  CRegistryAccess s(Ini());
  std::vector<std::uint8_t> bytes{1, 2, 3};
  std::string text = "kept";
  EXPECT_FALSE(s.ReadBinaryValue(kKey, "ProgCfg", bytes));
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_FALSE(s.ReadStringValue(kSubKey, "SaveSeqDirOut_0", text));
  EXPECT_EQ(text, "kept");

  const std::uint8_t one = 1;
  EXPECT_FALSE(s.WriteBinaryValue(kKey, "ProgCfg", nullptr, 4));
  EXPECT_FALSE(s.WriteBinaryValue(kKey, "", &one, 1));
  EXPECT_FALSE(s.WriteStringValue(kSubKey, "", "x"));
  EXPECT_FALSE(s.WriteIntValue(kKey, "", 3));
  EXPECT_FALSE(s.KeyExists(kKey)) << "nothing was written";
}

TEST_F(TSettingsStoreTest, StringsEndAtTheirFirstNul) {
  CRegistryAccess s(Ini());
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {std::string("cut\0here", 8), "cut"},
      {"", ""},
      {"/home/me/Videos/Tovrin \xC3\xA9t\xC3\xA9", "/home/me/Videos/Tovrin \xC3\xA9t\xC3\xA9"},
  };
  int n = 0;
  for (const auto& [stored, read] : cases) {
    const std::string name = "Value_" + std::to_string(n++);
    ASSERT_TRUE(s.WriteStringValue(kSubKey, name, stored));
    std::string out = "old";
    ASSERT_TRUE(s.ReadStringValue(kSubKey, name, out)) << name;
    EXPECT_EQ(out, read) << name;
  }
}

TEST_F(TSettingsStoreTest, KeysNestAndDeletingOneLeavesItsNeighbours) {
  CRegistryAccess s(Ini());
  ASSERT_TRUE(s.WriteStringValue(kSubKey, "SaveSeqDirOut_0", "a"));
  ASSERT_TRUE(s.WriteIntValue(kKey, "Other", 5));
  ASSERT_TRUE(s.WriteStringValue("Software\\Halvane\\Tovrin\\Workspace", "Bars", "b"));
  EXPECT_TRUE(s.KeyExists(kKey));
  EXPECT_TRUE(s.KeyExists(kSubKey));
  EXPECT_TRUE(s.KeyExists("Software\\Halvane\\Configuration Settings"));  // the final "\" is optional
  EXPECT_FALSE(s.KeyExists("Software\\Halvane\\Nothing"));

  ASSERT_TRUE(s.DeleteKey(kSubKey));
  EXPECT_FALSE(s.KeyExists(kSubKey));
  EXPECT_FALSE(s.ValueExists(kSubKey, "SaveSeqDirOut_0"));
  std::int32_t v = 0;
  ASSERT_TRUE(s.ReadIntValue(kKey, "Other", v));
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(s.ValueExists("Software\\Halvane\\Tovrin\\Workspace", "Bars"));
  EXPECT_FALSE(s.DeleteKey("")) << "the whole store is never deleted as a key";
  EXPECT_TRUE(s.KeyExists("Software\\Halvane\\Tovrin\\Workspace"));
}

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// What the program saves at exit: the naming values, then the block.
bool SaveLikeTheProgram(CRegistryAccess& s, const std::vector<std::uint8_t>& block) {
  bool ok = s.WriteStringValue(kSubKey, "SaveSeqDirOut_0", "/home/me/Videos");
  ok = s.WriteBinaryValue(kKey, "ProgCfg", block.data(), block.size()) && ok;
  return ok && s.Flush();
}

}  // namespace

// Writes stay in memory until the settings are saved, then go in one write.
TEST_F(TSettingsStoreTest, ValuesReachTheFileOnlyWhenTheSettingsAreSaved) {
  const std::string file = Ini().toStdString();
  CRegistryAccess s(Ini());
  for (int i = 0; i < 45; ++i) ASSERT_TRUE(s.WriteIntValue(kKey, "Value" + std::to_string(i), i));
  ASSERT_TRUE(s.DeleteValue(kKey, "Value3"));
  // Nor by QSettings' own writing from the event loop.
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  EXPECT_FALSE(std::filesystem::exists(file)) << "no value was written to the file before the save";
  ASSERT_TRUE(s.Flush());
  CRegistryAccess back(Ini());
  std::int32_t v = -1;
  ASSERT_TRUE(back.ReadIntValue(kKey, "Value44", v));
  EXPECT_EQ(v, 44);
  EXPECT_FALSE(back.ValueExists(kKey, "Value3"));
}

TEST_F(TSettingsStoreTest, TheStoreWritesWhatItHoldsWhenItGoes) {
  {
    CRegistryAccess s(Ini());
    ASSERT_TRUE(s.WriteStringValue(kSubKey, "SaveImgDirOut_1", "pictures"));
  }
  CRegistryAccess back(Ini());
  std::string text;
  ASSERT_TRUE(back.ReadStringValue(kSubKey, "SaveImgDirOut_1", text));
  EXPECT_EQ(text, "pictures");
}

// A settings file the store cannot parse kept QSettings in its error state:
// every save then reported failure and the settings block was never written.
TEST_F(TSettingsStoreTest, AFileThatCannotBeParsedIsRewrittenWholeWithWhatTheProgramHolds) {
  const std::string good = "[Old]\nKept=12\n";
  struct TCase {
    const char* name;
    std::string text;
    bool keepsKept;  // the readable value before the damage survives
  };
  const TCase cases[] = {
      {"a line without =", good + "this line has no equals sign\n", true},
      {"a cut line", good + "[Software]\nHalvane%5CConf", true},
      {"garbage", std::string("\x01\x02[[\xff\xfe=\n\x7f\x80garbage\n") + good, true},
      {"a group that never closes", "[Old\nKept=12\n", false},
  };
  std::vector<std::uint8_t> block(2168);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + 1);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Ini().toStdString();
    std::filesystem::remove(file);
    WriteText(file, c.text);
    {
      CRegistryAccess s(Ini());
      EXPECT_TRUE(s.RewritePending());
      std::int32_t kept = 0;
      if (c.keepsKept) {
        ASSERT_TRUE(s.ReadIntValue("Old", "Kept", kept));
        EXPECT_EQ(kept, 12);
      }
      ASSERT_TRUE(SaveLikeTheProgram(s, block)) << "the save is judged by its own write";
      EXPECT_FALSE(s.RewritePending());
      // A later save of the same store works as usual.
      ASSERT_TRUE(s.WriteIntValue(kKey, "Later", 1));
      EXPECT_TRUE(s.Flush());
    }
    CRegistryAccess back(Ini());
    EXPECT_FALSE(back.RewritePending()) << "the rewritten file parses:\n" << ReadText(file);
    std::vector<std::uint8_t> read;
    ASSERT_TRUE(back.ReadBinaryValue(kKey, "ProgCfg", read));
    EXPECT_EQ(read, block);
    std::string text;
    ASSERT_TRUE(back.ReadStringValue(kSubKey, "SaveSeqDirOut_0", text));
    EXPECT_EQ(text, "/home/me/Videos");
    std::int32_t v = 0;
    EXPECT_TRUE(back.ReadIntValue(kKey, "Later", v));
    if (c.keepsKept) {
      ASSERT_TRUE(back.ReadIntValue("Old", "Kept", v));
      EXPECT_EQ(v, 12);
    }
    EXPECT_FALSE(std::filesystem::exists(file + ".new"));
  }
}

// A settings file that is a FIFO blocked the start in the store's first
// read; a folder or a device is no settings file either.
TEST_F(TSettingsStoreTest, ANameThatIsNotARegularFileIsNeverOpenedAndNothingIsSavedThere) {
  const std::string fifo = (dir / "fifo.ini").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = (dir / "folder.ini").string();
  std::filesystem::create_directory(folder);
  for (const std::string& path : {fifo, folder, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    auto opened = std::async(std::launch::async, [&] {
      CRegistryAccess s(QString::fromStdString(path));
      std::vector<std::uint8_t> block(16, 1);
      std::int32_t v = 0;
      const bool empty = !s.ReadIntValue(kKey, "Anything", v) && !s.KeyExists(kKey);
      // The program keeps working on its values in memory.
      const bool held = s.WriteIntValue(kKey, "Held", 4) && s.ReadIntValue(kKey, "Held", v) && v == 4;
      const bool saved = SaveLikeTheProgram(s, block);
      return std::tuple<bool, bool, bool, bool>{s.Refused(), empty, held, saved};
    });
    if (opened.wait_for(5s) != std::future_status::ready) {
      // Release a read or write blocked on the FIFO so that the test ends.
      // Ends of the FIFO that come and go: a blocked open returns, and
      // reads and writes end.
      for (int i = 0; i < 50 && opened.wait_for(100ms) != std::future_status::ready; ++i) {
        const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        if (reader >= 0) ::close(reader);
      }
      opened.wait();
      FAIL() << "the store blocked on " << path;
    }
    const auto [refused, empty, held, saved] = opened.get();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(empty) << "the program starts with its defaults";
    EXPECT_TRUE(held);
    EXPECT_FALSE(saved) << "nothing can be saved there";
  }
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was left as it was";
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(TSettingsStoreTest, TheDefaultStoreIsTheUsersTovrinIniAsQSettingsNamesIt) {
  const QSettings qt(QSettings::IniFormat, QSettings::UserScope, "Halvane", "Tovrin");
  EXPECT_EQ(CRegistryAccess().FileName(), qt.fileName());
}
