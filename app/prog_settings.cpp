// The application's settings: per-user folders, the settings block and the
// per-channel naming strings in the user's settings store.

#include <cstdio>
#include <filesystem>

#include "app/tovrin_app.h"
#include "media/file_utils.h"
#include "platform/qt/settings_store.h"
#include "platform/text.h"

using namespace shell;

namespace {

constexpr std::size_t kMaxNamingUnits = 1023;  // a value holds 2,048 bytes with its NUL

std::string ValueName(const char* name, int channel) {
  return std::string(name) + "_" + std::to_string(channel);
}

}  // namespace

void CTovrinApp::InitFolderPaths() {
  if (!m_knownFoldersSet) {
    m_knownFolders = SystemKnownFolders();
  }
  const TKnownFolders& k = m_knownFolders;
  TAppFolders& f = m_params.folders;
  f = TAppFolders{};
  // A folder that could not be located leaves its strings empty.
  if (!k.roamingAppData.empty()) {
    const std::string base = k.roamingAppData + "/Halvane";
    f.configIni = f.configIni2 = base + "/Tovrin/Config_Ini";
    f.configXml = f.configXml2 = base + "/Tovrin/Config_Xml";
    f.log = base + "/Tovrin/Log";
  }
  f.configIniName = "Config";
  f.configXmlName = "Config";
  f.logName = "Log";
  for (int c = 0; c < kChannelCount; ++c) {
    const auto i = static_cast<std::size_t>(c);
    if (!k.videos.empty()) f.recording[i].folder = k.videos + "/Tovrin/SaveStream_" + std::to_string(c + 1);
    f.recording[i].prefix = "Clip";
    if (!k.pictures.empty())
      f.capture[i].folder = k.pictures + "/Tovrin/CaptureImage_" + std::to_string(c + 1);
    f.capture[i].prefix = "Image";
  }
}

void CTovrinApp::CreateFolders() {
  const TAppFolders& f = m_params.folders;
  std::vector<std::string> folders = {f.configIni, f.configIni2, f.configXml, f.configXml2, f.log};
  for (int c = 0; c < kChannelCount; ++c) {
    folders.push_back(f.recording[static_cast<std::size_t>(c)].folder);
    folders.push_back(f.capture[static_cast<std::size_t>(c)].folder);
  }
  for (const std::string& folder : folders) {
    if (folder.empty() || FileUtils::FileExists(folder)) continue;
    FileUtils::CreateDirectoryTree(folder);  // errors are ignored
  }
}

bool CTovrinApp::ReadProgCfg() {
  m_progCfg.savedMarker = 0;
  if (!Profile().KeyExists(kProgCfgKey)) return false;
  std::vector<std::uint8_t> bytes;
  if (!Profile().ReadBinaryValue(kProgCfgKey, "ProgCfg", bytes)) return false;
  // A longer stored value is refused; a shorter one fills the beginning.
  if (!DecodeProgCfg(bytes.data(), bytes.size(), m_progCfg)) return false;
  if (!LoadNamingSettings()) return false;
  m_bSettingsRead = m_progCfg.savedMarker;
  return true;
}

bool CTovrinApp::ApplyDocManagerSettings() {
  if (m_progCfg.optionResetMask != 0) m_progCfg.optionFlags &= ~m_progCfg.optionResetMask;
  if (!m_pDocManagerCfg) return false;
  const std::int32_t format = m_pDocManagerCfg->format;  // saved, never applied
  *m_pDocManagerCfg = m_progCfg.docManager;
  m_pDocManagerCfg->format = format;
  return true;
}

bool CTovrinApp::WriteProgCfg() {
  if (m_pDocManagerCfg) m_progCfg.docManager = *m_pDocManagerCfg;
  if (!SaveNamingSettings()) return false;
  m_progCfg.savedMarker = 1;
  const std::vector<std::uint8_t> bytes = EncodeProgCfg(m_progCfg);
  // The settings reach the file in this one write, judged by its own result.
  return Profile().WriteBinaryValue(kProgCfgKey, "ProgCfg", bytes.data(), bytes.size()) && Profile().Flush();
}

bool CTovrinApp::SaveNamingSettings() {
  m_skippedNaming.clear();
  platform::qt::CRegistryAccess& store = Profile();
  bool ok = true;
  auto put = [&](const char* name, int channel, const std::string& value) {
    const std::string valueName = ValueName(name, channel);
    if (platform::Utf8ToUtf16(value).size() > kMaxNamingUnits) {
      // Too long for its value: this one value is not stored (the one
      // stored before, if any, stays) and everything else still is.
      m_skippedNaming.push_back(valueName);
      std::fprintf(stderr, "Tovrin: the setting %s is longer than %zu characters and was not saved.\n",
                   valueName.c_str(), kMaxNamingUnits);
      if (!store.ValueExists(kProgCfgStrKey, valueName))
        ok = store.WriteStringValue(kProgCfgStrKey, valueName, "") && ok;
      return;
    }
    ok = store.WriteStringValue(kProgCfgStrKey, valueName, value) && ok;
  };
  for (int c = 0; c < kChannelCount; ++c) {
    const auto i = static_cast<std::size_t>(c);
    for (int slot = 0; slot <= 5; ++slot) put(kSequenceNamingValues[slot], c, m_seqNaming[i].Slot(slot));
    for (int slot = 1; slot <= 5; ++slot) put(kImageNamingValues[slot], c, m_imgNaming[i].Slot(slot));
  }
  return ok;
}

bool CTovrinApp::LoadNamingSettings() {
  platform::qt::CRegistryAccess& store = Profile();
  if (!store.KeyExists(kProgCfgStrKey)) return false;
  // The title bases (slot 2) are not read back.
  for (int c = 0; c < kChannelCount; ++c) {
    const auto i = static_cast<std::size_t>(c);
    for (int slot : {0, 1, 3, 4, 5}) {
      std::string v;
      if (!store.ReadStringValue(kProgCfgStrKey, ValueName(kSequenceNamingValues[slot], c), v)) return false;
      m_seqNaming[i].Slot(slot) = v;
    }
    for (int slot : {1, 3, 4, 5}) {
      std::string v;
      if (!store.ReadStringValue(kProgCfgStrKey, ValueName(kImageNamingValues[slot], c), v)) return false;
      m_imgNaming[i].Slot(slot) = v;
    }
  }
  return true;
}
