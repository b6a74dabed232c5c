// Volume scale, device and profile selection rules of the media-graph sessions.

#include "io/dshow/dshow_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>

using namespace DShowMgr;

// (1 - a / b) x -10000, cut towards zero (not rounded) and limited to
// -10000..0: a non-zero level is never quite silence.
TEST(DShowVolume, LevelOfTheSliderInHundredthsOfADecibel) {
  struct Case {
    std::int32_t a, b, expected;
  } cases[] = {
      {5, 10, -5000},
      {12, 10, 0},
      {10, 10, 0},
      {0, 10, -10000},
      {1, 4, -7500},
      {1, 3, -6666},
      {2, 7, -7142},
      {99, 100, -100},
      {-5, 10, -10000},
      {5, 0, -10000},
      {0, 0, -10000},
      {-5, 0, -10000},
      {INT_MAX, 1, 0},
      {1, INT_MAX, -9999},
      {9, 10, -1000},
      {2, 3, -3333},
      {3, -10, -10000},
      {7, 10, -3000},
      {INT_MIN, INT_MAX, -10000},
  };
  for (const Case& c : cases) EXPECT_EQ(VolumeToMillibel(c.a, c.b), c.expected) << c.a << "/" << c.b;
}

TEST(DShowVolume, GainOfALevel) {
  EXPECT_DOUBLE_EQ(MillibelToGain(0), 1.0);
  EXPECT_DOUBLE_EQ(MillibelToGain(-10000), 0.0);
  EXPECT_DOUBLE_EQ(MillibelToGain(-20000), 0.0);
  EXPECT_NEAR(MillibelToGain(-2000), 0.1, 1e-12);  // -20 dB
  EXPECT_NEAR(MillibelToGain(-600), 0.501187, 1e-6);
  EXPECT_DOUBLE_EQ(MillibelToGain(500), 1.0);
}

TEST(DShowDevices, KeptOnlyWithTheRightIdentity) {
  const TFoundDevice camera{"Camera", "USB camera", "/dev/video0", -1};
  const TFoundDevice microphone{"Microphone", "", "", 0};
  const TFoundDevice both{"Odd", "", "/dev/x", 1};
  const TFoundDevice unnamed{"", "", "/dev/video1", -1};
  EXPECT_TRUE(KeepDevice(kDeviceCategoryVideoInput, camera));
  EXPECT_FALSE(KeepDevice(kDeviceCategoryAudioInput, camera));
  EXPECT_TRUE(KeepDevice(kDeviceCategoryAudioInput, microphone));
  EXPECT_FALSE(KeepDevice(kDeviceCategoryVideoInput, microphone));
  EXPECT_FALSE(KeepDevice(kDeviceCategoryVideoInput, both));
  EXPECT_FALSE(KeepDevice(kDeviceCategoryAudioInput, both));
  EXPECT_FALSE(KeepDevice(kDeviceCategoryVideoInput, unnamed));
}

// A device is read from its property bag by name; a wave-in id that is
// missing, or stored as text, is no id. A device with both a path and a
// wave-in id is kept in neither pass.
TEST(DShowDevices, ReadFromThePropertyBagByName) {
  CDevicePropertyBag camera;
  camera.Write("FriendlyName", std::string("Camera"));
  camera.Write("Description", std::string("USB camera"));
  camera.Write("DevicePath", std::string("/dev/video0"));
  TFoundDevice found = ReadFoundDevice(camera);
  EXPECT_EQ(found.friendlyName, "Camera");
  EXPECT_EQ(found.description, "USB camera");
  EXPECT_EQ(found.devicePath, "/dev/video0");
  EXPECT_EQ(found.nWaveInId, -1);
  EXPECT_TRUE(KeepDevice(kDeviceCategoryVideoInput, found));

  CDevicePropertyBag microphone;
  microphone.Write("FriendlyName", std::string("Microphone"));
  microphone.Write("WaveInID", 0);
  found = ReadFoundDevice(microphone);
  EXPECT_EQ(found.nWaveInId, 0);
  EXPECT_TRUE(found.devicePath.empty());
  EXPECT_TRUE(KeepDevice(kDeviceCategoryAudioInput, found));

  CDevicePropertyBag textId = microphone;
  textId.Write("WaveInID", std::string("0"));
  EXPECT_EQ(ReadFoundDevice(textId).nWaveInId, -1);
  EXPECT_FALSE(KeepDevice(kDeviceCategoryAudioInput, ReadFoundDevice(textId)));

  CDevicePropertyBag both = camera;
  both.Write("WaveInID", 2);
  found = ReadFoundDevice(both);
  EXPECT_FALSE(KeepDevice(kDeviceCategoryVideoInput, found));
  EXPECT_FALSE(KeepDevice(kDeviceCategoryAudioInput, found));

  // Names are matched exactly.
  CDevicePropertyBag otherNames;
  otherNames.Write("friendlyname", std::string("Camera"));
  otherNames.Write("Device Path", std::string("/dev/video0"));
  found = ReadFoundDevice(otherNames);
  EXPECT_TRUE(found.friendlyName.empty());
  EXPECT_TRUE(found.devicePath.empty());
}

TEST(DShowDevices, AppendedWithTheSameIndexInEveryArrayAndNamesCut) {
  std::vector<std::string> names, descriptions, paths;
  std::vector<std::int32_t> waves, categories, again;
  TMediaDeviceList list;
  list.pFriendlyNames = &names;
  list.pDescriptions = &descriptions;
  list.pDevicePaths = &paths;
  list.pWaveInIds = &waves;
  list.pCategories = &categories;
  list.pCategoriesAgain = &again;
  AppendDevice(list, kDeviceCategoryVideoInput, {std::string(300, 'n'), "d", "/dev/video0", -1});
  AppendDevice(list, kDeviceCategoryAudioInput, {"Mic", "m", "", 3});
  EXPECT_EQ(list.nCount, 2);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].size(), 259u);
  EXPECT_EQ(names[1], "Mic");
  EXPECT_EQ(paths[0], "/dev/video0");
  EXPECT_EQ(waves, (std::vector<std::int32_t>{-1, 3}));
  EXPECT_EQ(categories, (std::vector<std::int32_t>{2, 1}));
  EXPECT_EQ(again, categories);

  TMediaDeviceList nowhere;  // no name array: nothing stored, nothing counted
  AppendDevice(nowhere, kDeviceCategoryVideoInput, {"Camera", "", "/dev/video0", -1});
  EXPECT_EQ(nowhere.nCount, 0);
}

TEST(DShowProfiles, SelectionByWantedStreams) {
  struct Case {
    bool video, audio;
  } cases[] = {{true, false}, {true, true}, {false, true}};
  for (const Case& c : cases) {
    std::vector<std::string> names, descriptions;
    std::vector<std::array<std::uint8_t, 16>> ids;
    TWmProfileList list;
    list.pNames = &names;
    list.pDescriptions = &descriptions;
    list.pIds = &ids;
    list.bWantVideo = c.video;
    list.bWantAudio = c.audio;
    ASSERT_TRUE(ListWmProfiles(list));
    ASSERT_GT(list.nCount, 0);
    ASSERT_EQ(names.size(), static_cast<std::size_t>(list.nCount));
    ASSERT_EQ(ids.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      const auto& table = WmProfileTable();
      const auto it =
          std::find_if(table.begin(), table.end(), [&](const TWmProfile& p) { return p.id == ids[i]; });
      ASSERT_NE(it, table.end());
      EXPECT_EQ(names[i], it->pName);
      EXPECT_EQ(it->bVideo, c.video) << names[i];
      EXPECT_EQ(it->bAudio, c.audio) << names[i];
    }
  }
  // Profile ids are distinct: settings name a profile by its id.
  std::set<std::array<std::uint8_t, 16>> ids;
  for (const TWmProfile& p : WmProfileTable()) ids.insert(p.id);
  EXPECT_EQ(ids.size(), WmProfileTable().size());
}

TEST(DShowProfiles, NeitherKindWantedFailsWithNothingListed) {
  std::vector<std::string> names;
  TWmProfileList list;
  list.pNames = &names;
  list.nCount = 5;
  EXPECT_FALSE(ListWmProfiles(list));
  EXPECT_EQ(list.nCount, 0);
  EXPECT_TRUE(names.empty());
}
