#include "platform/paths.h"

#include <cstdlib>
#include <vector>

namespace platform {

std::string ToNativeSeparators(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = kPathSeparator;
  return out;
}

TSplitPath SplitPath(std::string_view path) {
  TSplitPath parts;
  const std::size_t slash = path.find_last_of("/\\");
  std::string_view file = path;
  if (slash != std::string_view::npos) {
    parts.folder = std::string(path.substr(0, slash + 1));
    file = path.substr(slash + 1);
  }
  const std::size_t dot = file.find_last_of('.');
  if (dot != std::string_view::npos && dot != 0) {
    parts.name = std::string(file.substr(0, dot));
    parts.extension = std::string(file.substr(dot));
  } else if (dot == 0 && file.size() > 1 && file.find('.', 1) == std::string_view::npos) {
    // ".ini" alone: a name that is only an extension.
    parts.extension = std::string(file);
  } else {
    parts.name = std::string(file);
  }
  return parts;
}

std::filesystem::path MakeTempFolder(std::string_view prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) return {};
  return std::filesystem::path(buf.data());
}

}  // namespace platform
