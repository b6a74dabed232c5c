// Feeds arbitrary bytes to the settings block and to the settings file that
// holds it. As a stored block: decoding must take a block of up to 2,168
// bytes (refusing a longer one), encode back to 2,168 bytes, and decoding
// that again must change nothing. As the settings file: the store must read
// it (or keep what it could parse), hand out the block it finds, save the
// program's block in one write and read that block back byte for byte.

#include <unistd.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/qt/settings_store.h"
#include "shell/prog_cfg.h"

namespace {

constexpr const char* kKey = "Software\\Halvane\\Configuration Settings\\";

std::filesystem::path SettingsFile() {
  static const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                            ("tovrin-prog-cfg-fuzz-" + std::to_string(::getpid()) + ".ini");
  return path;
}

void CheckBlock(const std::uint8_t* data, std::size_t size) {
  shell::TProgCfg cfg;
  if (!shell::DecodeProgCfg(data, size, cfg)) {
    if (size <= shell::kProgCfgSize) __builtin_trap();  // a block that fits is always taken
    return;
  }
  const std::vector<std::uint8_t> bytes = shell::EncodeProgCfg(cfg);
  if (bytes.size() != shell::kProgCfgSize) __builtin_trap();
  shell::TProgCfg again;
  if (!shell::DecodeProgCfg(bytes.data(), bytes.size(), again) || shell::EncodeProgCfg(again) != bytes)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckBlock(data, size);

  // The same bytes as the settings file.
  const std::filesystem::path path = SettingsFile();
  std::error_code ec;
  std::filesystem::remove(path, ec);
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const QString file = QString::fromStdString(path.string());
  std::vector<std::uint8_t> saved(shell::kProgCfgSize);
  for (std::size_t i = 0; i < saved.size(); ++i) saved[i] = static_cast<std::uint8_t>(i * 13 + size);
  {
    platform::qt::CRegistryAccess store(file);
    std::vector<std::uint8_t> stored;
    if (store.ReadBinaryValue(kKey, "ProgCfg", stored)) CheckBlock(stored.data(), stored.size());
    std::string text;
    (void)store.ReadStringValue(std::string(kKey) + "ProgCfgStr", "SaveSeqDirOut_0", text);
    // The program's save at exit: it must succeed whatever the file held.
    if (!store.WriteBinaryValue(kKey, "ProgCfg", saved.data(), saved.size()) || !store.Flush())
      __builtin_trap();
  }
  platform::qt::CRegistryAccess back(file);
  std::vector<std::uint8_t> read;
  if (!back.ReadBinaryValue(kKey, "ProgCfg", read) || read != saved) __builtin_trap();
  return 0;
}
