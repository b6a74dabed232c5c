#include "io/codecs/save_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace {

using SaveImage::CSaveImage;
using tovrin_test::TScopedEnv;

TEST(SaveImageTest, BuildsNamesFromItsParts) {
  struct Case {
    const char* folder;
    const char* prefix;
    const char* suffix;
    const char* extension;
    int digits;
    int index;
    const char* path;
    const char* numberFormat;
  };
  const Case cases[] = {
      {"D:\\Shots", "Image", "", ".bmp", 5, 7, "D:/Shots/Image00007.bmp", "%05d"},
      {"D:\\Shots", "Image", "", ".bmp", 0, 7, "D:/Shots/Image7.bmp", "%00d"},
      {"/tmp/shots/", "cap_", "_left", ".png", 3, 42, "/tmp/shots/cap_042_left.png", "%03d"},
      {"/tmp/shots", "", "", ".jpg", 2, 12345, "/tmp/shots/12345.jpg", "%02d"},
      // A name that begins with a separator stays inside the folder.
      {"/tmp/shots", "/etc/x", "", ".gif", 1, 3, "/tmp/shots//etc/x3.gif", "%01d"},
      // Digit counts outside 0..32 are taken as the nearest bound.
      {"/tmp/shots", "a", "", ".bmp", -4, 7, "/tmp/shots/a7.bmp", "%00d"},
  };
  for (const Case& c : cases) {
    CSaveImage writer;
    writer.m_sOutputFolder = c.folder;
    writer.m_sPrefix = c.prefix;
    writer.m_sSuffix = c.suffix;
    writer.m_sExtension = c.extension;
    writer.m_nDigitCount = c.digits;
    EXPECT_EQ(writer.BuildFileName(c.index), c.path) << c.folder << " " << c.digits;
    EXPECT_EQ(writer.m_sNumberFormat, c.numberFormat);
    EXPECT_EQ(writer.m_sBuiltPath, c.path);
  }
}

TEST(SaveImageTest, EachCallReplacesTheKeptPath) {
  CSaveImage writer;
  writer.m_sOutputFolder = "/pics";
  writer.m_sPrefix = "Image";
  writer.m_nDigitCount = 4;
  const std::string& path = writer.BuildFileName(1);
  EXPECT_EQ(path, "/pics/Image0001.bmp");
  EXPECT_EQ(writer.m_sBuiltName, "Image0001");
  writer.BuildFileName(2);
  EXPECT_EQ(path, "/pics/Image0002.bmp");
  EXPECT_EQ(writer.m_sBuiltName, "Image0002");
}

TEST(SaveImageTest, EmptyFolderMeansTheChannelsCaptureFolder) {
  tovrin_test::TTempDir pictures;
  TScopedEnv env("XDG_PICTURES_DIR", pictures.Path().string());
  const std::string base = pictures.Path().string() + "/Tovrin/CaptureImage_";
  for (int channel = 0; channel < 4; ++channel) {
    // A newly made writer: no folder, no prefix, no digits, ".bmp".
    CSaveImage writer(channel);
    EXPECT_EQ(writer.BuildFileName(7), base + std::to_string(channel + 1) + "/7.bmp");
  }
}

TEST(SaveImageTest, PicturesFolderComesFromTheUserDirectoryFile) {
  tovrin_test::TTempDir home;
  tovrin_test::TTempDir config;
  tovrin_test::WriteAll(config / "user-dirs.dirs", std::string("# written by xdg-user-dirs-update\n"
                                                               "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                               "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"));
  TScopedEnv noPictures("XDG_PICTURES_DIR", std::nullopt);
  TScopedEnv homeEnv("HOME", home.Path().string());
  {
    TScopedEnv configEnv("XDG_CONFIG_HOME", config.Path().string());
    EXPECT_EQ(SaveImage::GetDefaultCaptureFolder(2), home.Path().string() + "/Bilder/Tovrin/CaptureImage_3");
  }
  {
    // Without the file: ~/Pictures.
    tovrin_test::TTempDir emptyConfig;
    TScopedEnv configEnv("XDG_CONFIG_HOME", emptyConfig.Path().string());
    EXPECT_EQ(SaveImage::GetDefaultCaptureFolder(0),
              home.Path().string() + "/Pictures/Tovrin/CaptureImage_1");
  }
}

}  // namespace
