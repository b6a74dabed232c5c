// Feeds arbitrary bytes to the start parameter file reader (as the file's
// contents: UTF-16 text with or without its byte-order mark, or anything
// else) and, split at NUL bytes, to the command line parser. Both must
// refuse or take what they can, never crash or run away.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "shell/start_params.h"

namespace {

std::filesystem::path StartFile() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("tovrin-start-params-fuzz-" + std::to_string(::getpid()) + ".ini");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = StartFile();
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    shell::TAppParams params;
    shell::TChannelParamsSet set;
    const shell::TStartFileStatus status = shell::ReadChannelParamFile(path, params, set);
    (void)shell::StartFileProblemText(path, status);
    // One line straight to the parser too (the file reader cuts lines).
    shell::ParseChannelParamLine(std::string_view(reinterpret_cast<const char*>(data), size), params, set);
  }

  // The command line: arguments split at NUL bytes, argument 0 the program.
  std::vector<std::string> args{"tovrin"};
  std::string arg;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(arg);
      arg.clear();
    } else {
      arg.push_back(static_cast<char>(data[i]));
    }
  }
  if (!arg.empty()) args.push_back(arg);
  shell::CCommandLineInfoEx info;
  info.ParseCommandLine(args);
  return 0;
}
