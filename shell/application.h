#pragma once
// What documents and the shell's windows use of the application object: its
// records, counters, the registry of open documents, the look and the
// start-playing switches. The application installs itself at start-up;
// TheApplication() is nullptr before and after.

#include <array>
#include <cstdint>
#include <vector>

#include "shell/app_params.h"
#include "shell/prog_cfg.h"

class QWidget;

namespace shell {

class IMediaDocument;

// One entry of the registry of media documents.
struct TDocRegistryEntry {
  std::int32_t kind = 0;     // 1 media document, 0 free
  std::int32_t number = -1;  // -1 when free
  std::int32_t serial = -1;  // -1 when free
  std::int32_t spare1 = 0;
  IMediaDocument* document = nullptr;
  std::int32_t spare2 = 0;
  void* treeItem = nullptr;  // the document's item in the explorer pane
};

// The look and start-playing state shared by the application and the main
// frame (carried in the last bytes of the settings block).
struct TShellState {
  std::int32_t lookId = 13;
  std::uint8_t lookChanged = 0;
  std::int32_t toolbarImageStyle = 3;
  std::array<std::uint8_t, kStartPlayingSwitchCount> startPlaying{1, 1, 1, 1, 1, 1, 1};
  std::uint8_t resetLayoutAtExit = 0;
};

class IApplication {
 public:
  virtual ~IApplication() = default;

  virtual TAppParams& Params() = 0;
  virtual TChannelParamsSet& ParamsSet() = 0;
  virtual TProgCfg& ProgCfg() = 0;
  virtual std::array<TChannelNaming, kChannelCount>& SequenceNaming() = 0;
  virtual std::array<TChannelNaming, kChannelCount>& ImageNaming() = 0;
  virtual TShellState& ShellState() = 0;

  // Set when the saved settings were read completely at start-up.
  virtual bool SettingsRead() const = 0;
  // Set when at least one start parameter file was read.
  virtual bool StartFileLoaded() const = 0;

  // Counters that documents pre-increment to name what they create.
  virtual std::int32_t NextClipboardNumber() = 0;
  virtual std::int32_t NextScanNumber() = 0;
  virtual std::int32_t NextSourceSerial() = 0;
  // The take number of a recorder: every recorder of every document takes
  // the next one when it is numbered.
  virtual std::int32_t NextRecordingNumber() = 0;

  // Registers a new document: its number and serial are returned.
  virtual void RegisterDocument(IMediaDocument* document, std::int32_t& number, std::int32_t& serial) = 0;
  virtual bool UnregisterDocument(std::int32_t number) = 0;
  virtual const std::vector<TDocRegistryEntry>& DocumentRegistry() const = 0;
  virtual std::vector<TDocRegistryEntry>& DocumentRegistry() = 0;

  // The main window (nullptr before it exists).
  virtual QWidget* MainWindowWidget() = 0;
  // Adds a path to the recent-file list.
  virtual void AddToRecentFileList(const std::string& path) = 0;
};

IApplication* TheApplication();
void SetTheApplication(IApplication* app);

}  // namespace shell
