#include "io/codecs/save_image.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/paths.h"

namespace SaveImage {

namespace {

constexpr std::int32_t kMaxDigitCount = 32;

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

// The XDG_PICTURES_DIR entry of user-dirs.dirs, with $HOME expanded.
std::string PicturesFromUserDirs(const std::string& home) {
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    config = xdg;
  } else if (!home.empty()) {
    config = std::filesystem::path(home) / ".config";
  } else {
    return {};
  }
  std::ifstream in(config / "user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_PICTURES_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) {
      if (home.empty()) return {};
      value = home + value.substr(5);
    }
    if (!value.empty() && value.front() == '/') return value;
  }
  return {};
}

std::string PicturesFolder() {
  if (const char* dir = std::getenv("XDG_PICTURES_DIR"); dir && *dir) return dir;
  const std::string home = HomeFolder();
  if (std::string fromConfig = PicturesFromUserDirs(home); !fromConfig.empty()) return fromConfig;
  if (!home.empty()) return (std::filesystem::path(home) / "Pictures").string();
  return (std::filesystem::temp_directory_path() / "Pictures").string();
}

}  // namespace

std::string GetDefaultCaptureFolder(std::int32_t nChannel) {
  const std::int32_t channel = std::clamp(nChannel, 0, 3);
  return (std::filesystem::path(PicturesFolder()) / "Tovrin" /
          ("CaptureImage_" + std::to_string(channel + 1)))
      .string();
}

const std::string& CSaveImage::BuildFileName(std::int32_t nIndex) {
  const std::int32_t digits = std::clamp(m_nDigitCount, 0, kMaxDigitCount);
  m_sNumberFormat = "%0" + std::to_string(digits) + "d";

  char number[64];
  std::snprintf(number, sizeof number, "%0*d", static_cast<int>(digits), static_cast<int>(nIndex));
  m_sBuiltName = m_sPrefix + number + m_sSuffix;

  std::string folder = platform::ToNativeSeparators(m_sOutputFolder);
  if (folder.empty()) folder = GetDefaultCaptureFolder(m_nChannel);
  // Joined as text: a name that starts with a separator must not replace the folder.
  if (folder.back() != platform::kPathSeparator) folder += platform::kPathSeparator;
  m_sBuiltPath = folder + m_sBuiltName + m_sExtension;
  return m_sBuiltPath;
}

}  // namespace SaveImage
