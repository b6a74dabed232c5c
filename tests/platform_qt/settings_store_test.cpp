#include "platform/qt/settings_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

using platform::qt::CRegistryAccess;

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
