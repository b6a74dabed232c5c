#include "app/tovrin_app.h"

#include "app/about_dlg.h"
#include "app/console_window.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "media/file_utils.h"
#include "options/opts_general.h"
#include "platform/message_sink.h"
#include "platform/qt/settings_store.h"
#include "shell/command_ids.h"
#include "shell/doc_manager.h"
#include "shell/main_frame.h"
#include "shell/message_box_dlg.h"

using namespace shell;
using platform::qt::CRegistryAccess;
using platform::qt::TCmdUI;

namespace {

constexpr const char* kRecentKey = "Software\\Halvane\\Tovrin\\Recent File List";
constexpr const char* kWorkspaceKey = "Software\\Halvane\\Tovrin\\Workspace";
constexpr int kRecentFileCount = 10;

// The file arguments of a command line in their order: every argument that
// is not a flag and not the value of --screenshot.
std::vector<std::string> CommandLineFiles(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool value = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (value) {
      value = false;
      continue;
    }
    if (a.size() > 1 && a[0] == '-') {
      value = a == "--screenshot";
      continue;
    }
    files.push_back(a);
  }
  return files;
}

}  // namespace

TKnownFolders SystemKnownFolders() {
  TKnownFolders f;
  f.roamingAppData = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString();
  f.pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString();
  f.videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation).toStdString();
  return f;
}

CTovrinApp::CTovrinApp() {
  Q_INIT_RESOURCE(tovrin);
  InstallCommands();
  m_services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  // File Open without a media document: the document manager's plain open
  // prompt into channel 1 of a new document.
  m_services.askOpenFile = [this]() -> std::string {
    if (!m_pDocManager) return {};
    ZarnTypes::TFileDialogSettings& s = m_pDocManager->Settings();
    s.extended = true;
    s.mode = ZarnTypes::FDM_OPEN;
    s.destination = 0;
    s.channel = 0;
    s.channelAllowed = {true, false, false, false};
    m_pDocManager->SetParentWidget(MainWindowWidget());
    std::string name;
    if (!m_pDocManager->DoPromptFileName(name, DocManagerEx::AFX_IDS_OPENFILE,
                                         DocManagerEx::OFN_HIDEREADONLY | DocManagerEx::OFN_FILEMUSTEXIST,
                                         true, nullptr))
      return {};
    return name;
  };
}

CTovrinApp::~CTovrinApp() {
  if (TheApplication() == this) SetTheApplication(nullptr);
  MessageBoxDlg::ReleaseProfileStore(m_profile.get());
  delete m_pMainFrame;
}

void CTovrinApp::SetSettingsFile(QString iniFile) {
  m_settingsFile = std::move(iniFile);
  MessageBoxDlg::ReleaseProfileStore(m_profile.get());
  m_profile.reset();
}

void CTovrinApp::SetKnownFolders(TKnownFolders folders) {
  m_knownFolders = std::move(folders);
  m_knownFoldersSet = true;
}

void CTovrinApp::SetCommandLine(std::vector<std::string> args) { m_args = std::move(args); }

void CTovrinApp::SetDocumentFactory(CDocTemplate::TFactory factory) { m_docFactory = std::move(factory); }

CRegistryAccess& CTovrinApp::Profile() {
  if (!m_profile)
    m_profile = m_settingsFile.isEmpty() ? std::make_unique<CRegistryAccess>()
                                         : std::make_unique<CRegistryAccess>(m_settingsFile);
  return *m_profile;
}

QWidget* CTovrinApp::MainWindowWidget() { return m_pMainFrame; }

// --- start-up ---------------------------------------------------------------

bool CTovrinApp::InitInstance() {
  SetTheApplication(this);

  // Network and component services.
  if (!m_services.initSockets || !m_services.initSockets()) {
    platform::ShowMessage(kSocketsFailed, {}, platform::MB_OK | platform::MB_ICONEXCLAMATION);
    return false;
  }
  if (!m_services.initOle || !m_services.initOle()) {
    platform::ShowMessage(kOleFailed, {}, platform::MB_OK | platform::MB_ICONEXCLAMATION);
    return false;
  }

  InitFolderPaths();

  // No saved settings block: this is the first run.
  std::vector<std::uint8_t> stored;
  m_bFirstRun = !Profile().ReadBinaryValue(kProgCfgKey, "ProgCfg", stored);
  if (m_bFirstRun) {
    m_progCfg.optionFlags = 0;
    m_progCfg.optionResetMask = 0;
    CreateFolders();
    CleanState();
  }

  LoadRecentFiles();

  // The document manager, with its part of the saved settings.
  m_pDocManager = std::make_unique<DocManagerEx::CDocManagerEx>();
  DocManagerEx::SetTheDocManager(m_pDocManager.get());
  m_pDocManager->StoreCfg(m_docManagerCfg);
  SetDocManagerSettings(&m_docManagerCfg);
  // Remembered message-box answers live in the same profile.
  MessageBoxDlg::SetProfileStore(&Profile());
  m_pDocManager->SetOpener([this](const std::string& path) { return OpenDocumentFile(path); });
  if (!m_bFirstRun && ReadProgCfg() && ApplyDocManagerSettings()) m_pDocManager->ApplyCfg(m_docManagerCfg);

  if (!m_docFactory) return false;
  m_pDocTemplate = std::make_unique<CDocTemplate>(kMediaDocString, m_docFactory);

  m_pMainFrame = new MainFrame::CMainFrame(m_shell, m_progCfg, this);
  m_pMainFrame->SetProfile(&Profile());
  if (!m_pMainFrame->LoadFrame()) {
    delete m_pMainFrame;
    m_pMainFrame = nullptr;
    return false;
  }
  m_pMainFrame->SetRecentFileSource([this] { return m_recentFiles; });

  m_cmdInfo = CCommandLineInfoEx();
  m_cmdInfo.ParseCommandLine(m_args);

  m_strExeStartFile.clear();
  m_strCmdStartFile.clear();
  m_bFirstIdleDone = false;
  ReadStartFiles();

  // The saved placement, kept inside the work area; or the default size.
  if (m_pMainFrame->RestoreWorkspace()) {
    const QRect g = m_pMainFrame->geometry();
    TPlacementRect r{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect a = screen->availableGeometry();
      const TPlacementRect work{a.left(), a.top(), a.right() + 1, a.bottom() + 1};
      if (ClampToWorkArea(r, work))
        m_pMainFrame->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
  }
  m_pMainFrame->show();

  m_idle = std::make_unique<platform::qt::TIdleNotifier>([this](LONG count) { return OnIdle(count); });

  // The shell command: an empty document, or the file of the command line.
  bool ok = true;
  if (m_cmdInfo.m_nShellCommand == CCommandLineInfoEx::FileOpen) {
    ok = OpenDocumentFile(m_cmdInfo.m_strFileName);
    // Further files go into the next channels of the same document.
    const std::vector<std::string> files = CommandLineFiles(m_args);
    IMediaDocument* doc = ok && m_pMainFrame ? m_pMainFrame->ActiveDocument() : nullptr;
    for (std::size_t k = 1; doc && k < files.size() && k < static_cast<std::size_t>(kChannelCount); ++k)
      doc->OpenInChannel(files[k], static_cast<int>(k));
  } else if (m_cmdInfo.m_nShellCommand == CCommandLineInfoEx::FileNew) {
    ok = OnFileNew();
  }
  // A file that could not be opened was reported; the program still runs.
  (void)ok;
  m_bInitSucceeded = true;
  return true;
}

void CTovrinApp::ReadStartFiles() {
  std::vector<std::string> candidates;
  if (FileUtils::MakeIniPath(m_cmdInfo.m_strProgramPath, m_strExeStartFile) &&
      FileUtils::FileExists(m_strExeStartFile))
    candidates.push_back(m_strExeStartFile);
  if (!m_cmdInfo.m_strStartFile.empty()) {
    m_strCmdStartFile = m_cmdInfo.m_strStartFile;
    if (FileUtils::FileExists(m_strCmdStartFile)) candidates.push_back(m_strCmdStartFile);
  }
  for (const std::string& file : candidates) {
    const TStartFileStatus status = ReadChannelParamFile(file, m_params, m_paramsSet);
    if (status == TStartFileStatus::Read) m_bStartFileLoaded = 1;
    const std::string problem = StartFileProblemText(file, status);
    if (!problem.empty()) platform::ShowMessage(problem, {}, platform::MB_OK | platform::MB_ICONEXCLAMATION);
  }
}

bool CTovrinApp::ClampToWorkArea(TPlacementRect& r, const TPlacementRect& work) {
  const TPlacementRect before = r;
  auto axis = [](int& lo, int& hi, int workLo, int workHi) {
    if (lo < workLo) {
      const int d = workLo - lo;
      lo = workLo;
      hi = std::min(hi + d, workHi);
    }
    if (hi > workHi) {
      const int d = workHi - hi;
      hi = workHi;
      lo = std::max(lo + d, workLo);
    }
  };
  axis(r.left, r.right, work.left, work.right);
  axis(r.top, r.bottom, work.top, work.bottom);
  return !(r == before);
}

bool CTovrinApp::OnIdle(LONG count) {
  if (count == 1 && !m_bFirstIdleDone) {
    IMediaDocument* first = nullptr;
    if (m_pMainFrame) {
      const auto frames = m_pMainFrame->ChildFrames();
      if (!frames.empty()) first = frames.front()->Document();
    }
    if (first && m_bStartFileLoaded && m_paramsSet.IsSet(kIsClientDecoderIndex) &&
        m_params.channel.ch_bIsClientDecoder)
      first->StartPlaying();
    m_bFirstIdleDone = true;
  }
  return count < 1;
}

int CTovrinApp::ExitInstance() {
  // An open console ends first: 1 and 2 go back, its reader ends.
  if (m_pConsole) m_pConsole->Close();
  m_pConsole.reset();
  // The frame hands its group back into the block when it goes.
  delete m_pMainFrame;
  m_pMainFrame = nullptr;
  m_idle.reset();
  if (m_bInitSucceeded) {
    if (m_pDocManager) m_pDocManager->StoreCfg(m_docManagerCfg);
    // Everything goes to the settings file in the one write of WriteProgCfg.
    SaveRecentFiles();
    if (m_shell.resetLayoutAtExit) CleanState();
    WriteProgCfg();
  }
  if (TheApplication() == this) SetTheApplication(nullptr);
  MessageBoxDlg::ReleaseProfileStore(m_profile.get());
  return 0;
}

void CTovrinApp::CleanState() { Profile().DeleteKey(kWorkspaceKey); }

// --- recent files ------------------------------------------------------------

void CTovrinApp::LoadRecentFiles() {
  m_recentFiles.clear();
  for (int i = 1; i <= kRecentFileCount; ++i) {
    std::string path;
    if (Profile().ReadStringValue(kRecentKey, "File" + std::to_string(i), path) && !path.empty())
      m_recentFiles.push_back(path);
  }
}

void CTovrinApp::SaveRecentFiles() {
  Profile().DeleteKey(kRecentKey);
  for (std::size_t i = 0; i < m_recentFiles.size(); ++i)
    Profile().WriteStringValue(kRecentKey, "File" + std::to_string(i + 1), m_recentFiles[i]);
}

void CTovrinApp::AddToRecentFileList(const std::string& path) {
  if (path.empty()) return;
  std::error_code ec;
  std::string full = std::filesystem::absolute(path, ec).string();
  if (ec) full = path;
  std::erase(m_recentFiles, full);
  m_recentFiles.insert(m_recentFiles.begin(), full);
  if (m_recentFiles.size() > kRecentFileCount) m_recentFiles.resize(kRecentFileCount);
  SaveRecentFiles();
}

// --- documents ---------------------------------------------------------------

bool CTovrinApp::OnFileNew() {
  if (!m_pMainFrame || !m_pDocTemplate) return false;
  IChildFrame* frame = m_pDocTemplate->CreateNewFrame(m_pMainFrame->MdiClient());
  if (!frame) return false;
  m_pMainFrame->AddChildFrame(frame);
  return true;
}

bool CTovrinApp::OpenDocumentFile(const std::string& path) {
  if (!OnFileNew()) return false;
  IChildFrame* frame = m_pMainFrame->ActiveChildFrame();
  IMediaDocument* doc = frame ? frame->Document() : nullptr;
  if (!doc || !doc->OnOpenDocument(path)) {
    // The document reported why; its empty window goes again.
    if (frame) delete frame->Widget();
    return false;
  }
  AddToRecentFileList(path);
  return true;
}

void CTovrinApp::OnFileOpen() {
  // With a media document active, the file opens into one of its channels.
  if (m_pMainFrame) {
    if (IMediaDocument* doc = m_pMainFrame->ActiveDocument();
        doc && doc->OnCmdMsg(ID_FILE_OPEN_TO, platform::qt::TCmdCode::Command, nullptr))
      return;
  }
  const std::string path = m_services.askOpenFile ? m_services.askOpenFile() : std::string();
  if (!path.empty()) OpenDocumentFile(path);
}

using OptsGeneral::HelpPageFile;

QString CTovrinApp::PrepareHelpPage() {
  // The help page is part of the program; it is handed to the browser as a
  // file of the user's cache folder.
  const QString page = HelpPageFile();
  QDir().mkpath(QFileInfo(page).path());
  QFile::remove(page);
  if (!QFile::copy(":/help/tovrin.html", page)) return {};
  QFile::setPermissions(page, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
  return page;
}

void CTovrinApp::OnAppHelp() {
  const QString page = PrepareHelpPage();
  if (page.isEmpty() || !m_services.openUrl || !m_services.openUrl(QUrl::fromLocalFile(page)))
    platform::ShowMessage("The help page can not be opened.\n" + HelpPageFile().toStdString(), {},
                          platform::MB_OK | platform::MB_ICONEXCLAMATION);
}

void CTovrinApp::OnAppAbout() {
  // The link and "<<  Visit" open the help page.
  const QString page = PrepareHelpPage();
  const QString target = page.isEmpty() ? QString() : QUrl::fromLocalFile(page).toString();
  CAboutDlg dlg(m_pMainFrame, OptsGeneral::GeneralText(), target, m_services.openUrl);
  dlg.exec();
}

void CTovrinApp::OpenConsole() {
  if (m_pConsole && m_pConsole->IsOpen()) {
    // Open already: said so, and it is shown and started again.
    platform::ShowMessage("Console window can not be open...", {}, platform::MB_OK);
  } else {
    if (!m_pConsole) m_pConsole = std::make_unique<ConsoleWindow::CConsoleWindow>();
    std::string why;
    if (!m_pConsole->Open(why)) {
      platform::ShowMessage("Console window can not be open...", {}, platform::MB_OK);
      return;
    }
  }
  m_pConsole->show();
  m_pConsole->raise();
  m_pConsole->WriteDirect(QString::fromUtf8(ConsoleWindow::kStartLines));
  std::fputs(ConsoleWindow::kStdoutStartLine, stdout);
  std::fflush(stdout);
}

void CTovrinApp::CloseConsole() {
  if (!m_pConsole || !m_pConsole->IsOpen()) {
    platform::ShowMessage("Console window can not be closed...", {}, platform::MB_OK);
    return;
  }
  m_pConsole->Close();
}

void CTovrinApp::OnCloseAllDocuments() {
  if (m_pMainFrame) m_pMainFrame->CloseAllDocuments();
}

void CTovrinApp::InstallCommands() {
  OnCommand(ID_FILE_NEW, [this] { OnFileNew(); });
  OnCommand(ID_WINDOW_NEW, [this] { OnFileNew(); });
  OnCommand(ID_FILE_OPEN, [this] { OnFileOpen(); });
  OnCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
  OnCommand(ID_TOOLS_OPEN_CONSOLE, [this] { OpenConsole(); });
  OnCommand(ID_TOOLS_CLOSE_CONSOLE, [this] { CloseConsole(); });
  OnCommand(ID_HELP, [this] { OnAppHelp(); });
  OnCommand(ID_HELP_FINDER, [this] { OnAppHelp(); });
  OnCommand(ID_DEFAULT_HELP, [this] { OnAppHelp(); });
  OnCommand(ID_FILE_PRINT_SETUP, [this] {
    // The printer and page chosen here stay for the run.
    if (!m_printer) m_printer = std::make_unique<QPrinter>();
    QPageSetupDialog dlg(m_printer.get(), m_pMainFrame);
    dlg.exec();
  });
  OnCommand(ID_WINDOW_CLOSE_ALL, [this] { OnCloseAllDocuments(); });
  OnUpdate(ID_WINDOW_CLOSE_ALL,
           [this](TCmdUI& ui) { ui.Enable(m_pMainFrame && !m_pMainFrame->ChildFrames().empty()); });
  OnCommandRange(ID_FILE_MRU_FILE1, ID_FILE_MRU_LAST, [this](UINT id) {
    const std::size_t i = id - ID_FILE_MRU_FILE1;
    if (i >= m_recentFiles.size()) return;
    const std::string path = m_recentFiles[i];
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      platform::ShowMessage("Can not open file\n " + path, {},
                            platform::MB_OK | platform::MB_ICONEXCLAMATION);
      std::erase(m_recentFiles, path);
      SaveRecentFiles();
      return;
    }
    OpenDocumentFile(path);
  });
}

// --- the document registry -----------------------------------------------------

void CTovrinApp::RegisterDocument(IMediaDocument* document, std::int32_t& number, std::int32_t& serial) {
  number = ++m_nDocNumberCounter;
  serial = ++m_nDocSerialCounter;
  CompactDocumentRegistry();
  m_registry.push_back({1, number, serial, 0, document, 0, nullptr});
}

bool CTovrinApp::UnregisterDocument(std::int32_t number) {
  for (TDocRegistryEntry& e : m_registry) {
    if (e.number != number) continue;
    e.kind = 0;
    e.number = -1;
    e.serial = -1;
    e.document = nullptr;
    ++m_nFreedEntries;
    break;
  }
  return true;
}

void CTovrinApp::CompactDocumentRegistry() {
  if (m_nFreedEntries <= 127) return;
  // Live entries move forward into free slots, keeping their order.
  std::size_t freeSlot = 0;
  bool haveFree = false;
  for (std::size_t i = 0; i < m_registry.size(); ++i) {
    if (m_registry[i].number == -1) {
      if (!haveFree) {
        freeSlot = i;
        haveFree = true;
      }
      continue;
    }
    if (!haveFree) continue;
    m_registry[freeSlot] = m_registry[i];
    m_registry[i] = TDocRegistryEntry{};
    ++freeSlot;  // the next free slot is the one after the slot just filled
  }
  if (m_registry.size() <= 1024 && m_registry.capacity() > 1024) m_registry.shrink_to_fit();
  m_nFreedEntries = 0;
}
