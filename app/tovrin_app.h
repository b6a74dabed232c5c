#pragma once
// The application object: start-up, the first idle pass, the settings saved
// at exit, the registry of open media documents and the application-level
// commands (File New and Open, About, Help, Close All Documents).

#include <QString>
#include <QUrl>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/commands.h"
#include "shell/application.h"
#include "shell/document_template.h"
#include "shell/start_params.h"

namespace platform::qt {
class CRegistryAccess;
class TIdleNotifier;
}  // namespace platform::qt
namespace MainFrame {
class CMainFrame;
}
namespace ConsoleWindow {
class CConsoleWindow;
}

// Where the settings live in the user's settings store.
inline constexpr const char* kProgCfgKey = "Software\\Halvane\\Configuration Settings\\";
inline constexpr const char* kProgCfgStrKey = "Software\\Halvane\\Configuration Settings\\ProgCfgStr";

// The value names of the naming strings by slot ("" where there is none);
// each is stored with "_" and the channel index appended.
inline constexpr const char* kSequenceNamingValues[6] = {"SaveSeqFNameSaveSingle", "SaveSeqDirOut",
                                                         "SaveSeqFNameTitleBase",  "SaveSeqFNamePref",
                                                         "SaveSeqFNameSuf",        "SaveSeqFNameExt"};
inline constexpr const char* kImageNamingValues[6] = {
    "", "SaveImgDirOut", "SaveImgFNameTitleBase", "SaveImgFNamePref", "SaveImgFNameSuf", "SaveImgFNameExt"};

// The user's folders the per-user paths are built from.
struct TKnownFolders {
  std::string roamingAppData;
  std::string pictures;
  std::string videos;
};

// The folders of the running user (roaming application data, pictures,
// videos); a folder that cannot be located is "".
TKnownFolders SystemKnownFolders();

// The system services start-up relies on; tests replace them.
struct TStartupServices {
  // Network and component start-up; false ends start-up with their message.
  std::function<bool()> initSockets = [] { return true; };
  std::function<bool()> initOle = [] { return true; };
  // Opens a page in the user's browser.
  std::function<bool(const QUrl&)> openUrl;
  // Asks for a file to open ("" when cancelled).
  std::function<std::string()> askOpenFile;
};

// A rectangle as the window placement stores it (right and bottom outside).
struct TPlacementRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const TPlacementRect&) const = default;
};

class QPrinter;
namespace DocManagerEx {
class CDocManagerEx;
}

class CTovrinApp : public shell::IApplication, public platform::qt::CCmdTarget {
 public:
  // The messages of the start-up steps that can fail.
  static constexpr const char* kSocketsFailed = "Windows sockets initialization failed.";
  static constexpr const char* kOleFailed =
      "OLE initialization failed.  Make sure that the OLE libraries are the correct version.";

  CTovrinApp();
  ~CTovrinApp() override;
  CTovrinApp(const CTovrinApp&) = delete;
  CTovrinApp& operator=(const CTovrinApp&) = delete;

  // --- set-up before InitInstance ---
  // The settings file ("": the user's own).
  void SetSettingsFile(QString iniFile);
  void SetKnownFolders(TKnownFolders folders);
  TStartupServices& Services() { return m_services; }
  void SetCommandLine(std::vector<std::string> args);
  // How a media document with its frame is made (the document layer's);
  // without one start-up fails.
  void SetDocumentFactory(shell::CDocTemplate::TFactory factory);

  // --- the program's life ---
  bool InitInstance();
  bool OnIdle(LONG count);
  int ExitInstance();

  // --- settings and folders ---
  void InitFolderPaths();
  void CreateFolders();
  bool ReadProgCfg();
  bool WriteProgCfg();
  bool ApplyDocManagerSettings();
  // The document manager's file-dialog settings (when one exists).
  void SetDocManagerSettings(shell::TDocManagerCfg* settings) { m_pDocManagerCfg = settings; }
  // The document manager: every file prompt goes through it (nullptr
  // before InitInstance).
  DocManagerEx::CDocManagerEx* DocManager() const { return m_pDocManager.get(); }
  // Deletes the saved window and bar layout.
  void CleanState();

  // --- documents ---
  bool OnFileNew();
  void OnFileOpen();
  // Opens a file in a new document; false when it could not be opened.
  bool OpenDocumentFile(const std::string& path);
  void OnAppHelp();
  void OnAppAbout();
  // The help page copied where the browser can read it ("" when it could
  // not be).
  QString PrepareHelpPage();
  // Tools "Open console" and "Close console".
  void OpenConsole();
  void CloseConsole();
  // The console window (nullptr until first opened).
  ConsoleWindow::CConsoleWindow* Console() const { return m_pConsole.get(); }
  void OnCloseAllDocuments();
  void CompactDocumentRegistry();

  // Moves a restored window rectangle into the work area; true when moved.
  static bool ClampToWorkArea(TPlacementRect& r, const TPlacementRect& work);

  // --- state ---
  MainFrame::CMainFrame* MainFrameWindow() const { return m_pMainFrame; }
  shell::CDocTemplate* DocTemplate() const { return m_pDocTemplate.get(); }
  const shell::CCommandLineInfoEx& CommandLine() const { return m_cmdInfo; }
  platform::qt::CRegistryAccess& Profile();
  bool FirstRun() const { return m_bFirstRun; }
  bool InitSucceeded() const { return m_bInitSucceeded; }
  bool FirstIdleDone() const { return m_bFirstIdleDone; }
  const std::string& ExeStartFilePath() const { return m_strExeStartFile; }
  const std::string& CmdStartFilePath() const { return m_strCmdStartFile; }
  std::int32_t FreedEntryCount() const { return m_nFreedEntries; }
  const std::vector<std::string>& RecentFiles() const { return m_recentFiles; }
  // The naming value that could not be stored at the last write ("" none).
  const std::vector<std::string>& SkippedNamingValues() const { return m_skippedNaming; }

  // --- shell::IApplication ---
  shell::TAppParams& Params() override { return m_params; }
  shell::TChannelParamsSet& ParamsSet() override { return m_paramsSet; }
  shell::TProgCfg& ProgCfg() override { return m_progCfg; }
  std::array<shell::TChannelNaming, shell::kChannelCount>& SequenceNaming() override { return m_seqNaming; }
  std::array<shell::TChannelNaming, shell::kChannelCount>& ImageNaming() override { return m_imgNaming; }
  shell::TShellState& ShellState() override { return m_shell; }
  bool SettingsRead() const override { return m_bSettingsRead != 0; }
  bool StartFileLoaded() const override { return m_bStartFileLoaded != 0; }
  std::int32_t NextClipboardNumber() override { return ++m_nClipboardCounter; }
  std::int32_t NextScanNumber() override { return ++m_nScanCounter; }
  std::int32_t NextSourceSerial() override { return ++m_nSourceCounter; }
  std::int32_t NextRecordingNumber() override { return ++m_nRecordingCounter; }
  void RegisterDocument(shell::IMediaDocument* document, std::int32_t& number, std::int32_t& serial) override;
  bool UnregisterDocument(std::int32_t number) override;
  const std::vector<shell::TDocRegistryEntry>& DocumentRegistry() const override { return m_registry; }
  std::vector<shell::TDocRegistryEntry>& DocumentRegistry() override { return m_registry; }
  QWidget* MainWindowWidget() override;
  void AddToRecentFileList(const std::string& path) override;

 private:
  void InstallCommands();
  void LoadRecentFiles();
  void SaveRecentFiles();
  bool SaveNamingSettings();
  bool LoadNamingSettings();
  void ReadStartFiles();

  // Counters.
  std::int32_t m_nDocNumberCounter = 0;
  std::int32_t m_nDocSerialCounter = 0;
  std::int32_t m_nClipboardCounter = 0;
  std::int32_t m_nScanCounter = 0;
  std::int32_t m_nSourceCounter = 0;
  std::int32_t m_nRecordingCounter = 0;
  std::vector<shell::TDocRegistryEntry> m_registry;
  std::int32_t m_nFreedEntries = 0;

  std::string m_strExeStartFile;
  std::string m_strCmdStartFile;
  shell::TAppParams m_params;
  shell::TProgCfg m_progCfg;
  std::array<shell::TChannelNaming, shell::kChannelCount> m_seqNaming;
  std::array<shell::TChannelNaming, shell::kChannelCount> m_imgNaming;
  shell::TChannelParamsSet m_paramsSet;
  std::uint8_t m_bSettingsRead = 0;
  std::uint8_t m_bStartFileLoaded = 0;
  bool m_bFirstRun = false;
  shell::TShellState m_shell;

  bool m_bInitSucceeded = false;
  bool m_bFirstIdleDone = false;
  QString m_settingsFile;
  bool m_knownFoldersSet = false;
  TKnownFolders m_knownFolders;
  TStartupServices m_services;
  std::vector<std::string> m_args;
  shell::CDocTemplate::TFactory m_docFactory;
  std::unique_ptr<shell::CDocTemplate> m_pDocTemplate;
  shell::CCommandLineInfoEx m_cmdInfo;
  std::unique_ptr<platform::qt::CRegistryAccess> m_profile;
  MainFrame::CMainFrame* m_pMainFrame = nullptr;
  std::unique_ptr<platform::qt::TIdleNotifier> m_idle;
  shell::TDocManagerCfg* m_pDocManagerCfg = nullptr;
  std::unique_ptr<DocManagerEx::CDocManagerEx> m_pDocManager;
  shell::TDocManagerCfg m_docManagerCfg;  // the manager's part of the settings block
  std::vector<std::string> m_recentFiles;
  std::vector<std::string> m_skippedNaming;
  std::unique_ptr<QPrinter> m_printer;
  std::unique_ptr<ConsoleWindow::CConsoleWindow> m_pConsole;
};
