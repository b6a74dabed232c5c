#pragma once
// Paths. Stored names written with the backslash (settings, parameter files)
// become native paths here; everything else works on std::filesystem.

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char kPathSeparator = '/';

// Turns every backslash into the native separator.
std::string ToNativeSeparators(std::string_view path);

// UTF-8 text of a path and back (the file system takes the bytes as they are).
inline std::string PathToUtf8(const std::filesystem::path& p) { return p.string(); }
inline std::filesystem::path PathFromUtf8(std::string_view s) {
  return std::filesystem::path(std::string(s));
}

// A path split the way the numbered-name functions want it: folder (ending
// with its separator, or empty), name without extension, extension with its dot.
struct TSplitPath {
  std::string folder;
  std::string name;
  std::string extension;
};
TSplitPath SplitPath(std::string_view path);

// Unique empty folder below the system's temporary folder.
std::filesystem::path MakeTempFolder(std::string_view prefix);

}  // namespace platform
