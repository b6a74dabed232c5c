#pragma once
// The document manager: File New (with the document-type chooser), File
// Open, and every file prompt of the program through DoPromptFileName and
// its one TFileDialogSettings record.
//
// A caller fills Settings() (extended, mode, destination and channel
// choices, format fields), calls DoPromptFileName and, when it returns
// true, reads the answers from Settings(): the chosen destination and
// channel, the format, the raw-YUV layout and the encoder blocks. On Cancel
// the record is left exactly as it was.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/file_dialog_settings.h"
#include "shell/prog_cfg.h"

class QWidget;

namespace shell {
class CDocTemplate;
}
namespace FileDialogEx {
class CFileDialogEx;
}

namespace DocManagerEx {

// Framework string ids the prompts use.
inline constexpr int AFX_IDS_OPENFILE = 61440;      // "Open"
inline constexpr int AFX_IDS_SAVEFILE = 61441;      // "Save As"
inline constexpr int AFX_IDS_SAVEFILECOPY = 61444;  // "Save Copy As"
inline constexpr int AFX_IDP_FAILED_TO_CREATE_DOC = 61700;

inline constexpr std::uint32_t OFN_HIDEREADONLY = 0x00000004;
inline constexpr std::uint32_t OFN_PATHMUSTEXIST = 0x00000800;
inline constexpr std::uint32_t OFN_FILEMUSTEXIST = 0x00001000;

inline constexpr const char* kFailedToCreateDoc = "Failed to create empty document.";

// The text of a framework string id ("" for an unknown id).
std::string LoadFrameworkString(int id);

class CDocManagerEx {
 public:
  CDocManagerEx();
  virtual ~CDocManagerEx();

  // The class name the manager is known by at run time.
  virtual const char* RuntimeClassName() const { return "CDocManagerEx"; }

  ZarnTypes::TFileDialogSettings& Settings() { return m_settings; }
  const ZarnTypes::TFileDialogSettings& Settings() const { return m_settings; }

  // The registered templates (not owned).
  void AddDocTemplate(shell::CDocTemplate* docTemplate) { m_templates.push_back(docTemplate); }
  const std::vector<shell::CDocTemplate*>& Templates() const { return m_templates; }

  // Makes the dialog of a prompt with a copy of the settings.
  virtual std::unique_ptr<FileDialogEx::CFileDialogEx> CreateFileDialog(
      bool open, std::vector<std::int32_t> filterCodes);

  // Runs a file prompt. `fileName` is the proposed name on entry and the
  // chosen path on return. True when the user pressed OK.
  virtual bool DoPromptFileName(std::string& fileName, int titleId, std::uint32_t flags, bool open,
                                shell::CDocTemplate* docTemplate);

  // File New: one candidate template opens a document at once; several are
  // offered in the chooser.
  void OnFileNew();
  // File Open: the prompt, then the opener with the chosen path.
  void OnFileOpen();
  // Opens a file in a new document with the opener (the application's);
  // the document reads the channel and format answers from Settings().
  bool OpenDocumentFile(const std::string& path) { return m_opener ? m_opener(path) : false; }

  // How the manager shows a dialog (tests replace it): the dialog's exec().
  using TRunner = std::function<int(FileDialogEx::CFileDialogEx&)>;
  void SetDialogRunner(TRunner runner) { m_runner = std::move(runner); }
  // What File Open does with the chosen path; what File New does with the
  // chosen template (both the application's).
  void SetOpener(std::function<bool(const std::string&)> opener) { m_opener = std::move(opener); }
  void SetNewDocumentMaker(std::function<bool(shell::CDocTemplate*)> maker) { m_maker = std::move(maker); }
  // Whether a template has an open document (for the "Tovrin" rule).
  void SetHasDocumentQuery(std::function<bool(shell::CDocTemplate*)> query) {
    m_hasDocument = std::move(query);
  }
  void SetParentWidget(QWidget* parent) { m_parent = parent; }

  // The saved settings block's part: restored at start-up (all but the
  // format), saved at exit.
  void ApplyCfg(const shell::TDocManagerCfg& cfg);
  void StoreCfg(shell::TDocManagerCfg& cfg) const;

  // What the last prompt showed (title and filter entries), for callers'
  // tests and diagnostics.
  const QString& LastTitle() const { return m_lastTitle; }
  const std::vector<std::int32_t>& LastFilterCodes() const { return m_lastCodes; }
  int LastInitialFilter() const { return m_lastInitialFilter; }

 private:
  ZarnTypes::TFileDialogSettings m_settings;
  std::vector<shell::CDocTemplate*> m_templates;
  TRunner m_runner;
  std::function<bool(const std::string&)> m_opener;
  std::function<bool(shell::CDocTemplate*)> m_maker;
  std::function<bool(shell::CDocTemplate*)> m_hasDocument;
  QWidget* m_parent = nullptr;
  QString m_lastTitle;
  std::vector<std::int32_t> m_lastCodes;
  int m_lastInitialFilter = -1;
};

// The one document manager of the program (nullptr before the application
// made it). Documents reach their prompts through it.
CDocManagerEx* TheDocManager();
void SetTheDocManager(CDocManagerEx* manager);

}  // namespace DocManagerEx
