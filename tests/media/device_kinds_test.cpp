#include "media/device_kinds.h"

#include <gtest/gtest.h>

#include <string>

using namespace ZarnTypes;

TEST(DeviceKinds, CategoriesAndKindsShareOneNameTable) {
  struct {
    std::int32_t code;
    const char* name;
  } const cases[] = {
      {0, "None"},
      {1, "Audio input device"},
      {2, "Video input device"},
      {3, "DVCam"},
      {4, "WebCam"},
      {5, "TV tuner"},
      {6, "DVD"},
  };
  for (const auto& c : cases) {
    std::string name = "stale";
    EXPECT_TRUE(GetSysDevCtgrName(c.code, name)) << c.code;
    EXPECT_EQ(name, c.name) << c.code;
  }
  EXPECT_EQ(SDC_DVCAM, 3);
  EXPECT_EQ(SDC_DVD, 6);
}

TEST(DeviceKinds, CodesOutsideTheTableHaveNoName) {
  for (std::int32_t code : {-1, 7, 96}) {
    std::string name = "stale";
    EXPECT_FALSE(GetSysDevCtgrName(code, name)) << code;
    EXPECT_TRUE(name.empty()) << code;
    EXPECT_EQ(SysDevCtgrName(code), nullptr) << code;
  }
}
