#include "shell/doc_manager.h"

#include <QDialog>
#include <QFileInfo>

#include <cstring>

#include "platform/message_sink.h"
#include "shell/document_template.h"
#include "shell/file_dialog_ex.h"
#include "shell/new_type_dlg.h"

using namespace ZarnTypes;

namespace DocManagerEx {

namespace {
CDocManagerEx* g_manager = nullptr;
}

CDocManagerEx* TheDocManager() { return g_manager; }
void SetTheDocManager(CDocManagerEx* manager) { g_manager = manager; }

std::string LoadFrameworkString(int id) {
  switch (id) {
    case AFX_IDS_OPENFILE: return "Open";
    case AFX_IDS_SAVEFILE: return "Save As";
    case AFX_IDS_SAVEFILECOPY: return "Save Copy As";
    case AFX_IDP_FAILED_TO_CREATE_DOC: return kFailedToCreateDoc;
    default: return {};
  }
}

CDocManagerEx::CDocManagerEx() = default;  // the record's own defaults
CDocManagerEx::~CDocManagerEx() {
  if (g_manager == this) g_manager = nullptr;
}

std::unique_ptr<FileDialogEx::CFileDialogEx> CDocManagerEx::CreateFileDialog(
    bool open, std::vector<std::int32_t> codes) {
  return std::make_unique<FileDialogEx::CFileDialogEx>(open, m_settings, std::move(codes), m_parent);
}

bool CDocManagerEx::DoPromptFileName(std::string& fileName, int titleId, std::uint32_t flags, bool open,
                                     shell::CDocTemplate* docTemplate) {
  (void)flags;        // the dialog's modes already ask for an existing file (open) or path (save)
  (void)docTemplate;  // the media template declares no filter entry of its own
  const bool extended = m_settings.extended;
  const std::int32_t mode = m_settings.mode;
  std::string title = titleId == AFX_IDS_SAVEFILECOPY ? "Save Copy As" : LoadFrameworkString(titleId);
  if (extended) {
    if (mode < FDM_OPEN || mode > FDM_SAVE_IMAGE_AS) return false;  // nothing shown
    title = FileDialogModeTitle(mode);
  }
  std::vector<std::int32_t> codes;
  if (extended) codes = BuildFilterList(mode);

  auto dialog = CreateFileDialog(open, std::move(codes));
  dialog->setWindowTitle(QString::fromStdString(title));
  m_lastTitle = dialog->windowTitle();
  m_lastCodes = dialog->Logic().FilterCodes();

  std::string proposed = fileName;
  if (extended && IsSaveMode(mode) && proposed.empty()) proposed = ProposeSaveName(m_settings);
  if (!proposed.empty()) {
    const QFileInfo info(QString::fromStdString(proposed));
    if (info.isAbsolute())
      dialog->selectFile(info.absoluteFilePath());
    else
      dialog->selectFile(QString::fromStdString(proposed));
  }

  m_lastInitialFilter = -1;
  if (extended) {
    const std::int32_t wanted =
        IsSaveMode(mode) ? FileFormatToFileFilter(m_settings.format) : m_settings.filterCode;
    m_lastInitialFilter = InitialFilterIndex(m_lastCodes, wanted);
    dialog->SelectFilterIndex(m_lastInitialFilter);
    if (IsSaveMode(mode)) {
      // The filter's own type change must not replace the format the caller
      // passed when the list had no entry of its own for it.
      dialog->Logic().Settings().format = m_settings.format;
      dialog->Logic().EnableOptionsButton(m_settings.format);
    }
  }

  const int result = m_runner ? m_runner(*dialog) : dialog->exec();
  const bool ok = result == QDialog::Accepted;
  if (ok) {
    const QStringList files = dialog->selectedFiles();
    if (!files.isEmpty()) fileName = files.first().toStdString();
    // Only OK hands the answers back; Cancel leaves the record unchanged.
    if (extended) CopyFileDialogAnswers(dialog->Settings(), m_settings);
  }
  return ok;
}

void CDocManagerEx::OnFileNew() {
  std::vector<shell::CDocTemplate*> candidates;
  for (shell::CDocTemplate* t : m_templates) {
    const std::string name = t->DocStringField(1);
    if (name.empty()) continue;
    if (name == "Tovrin" && m_hasDocument && m_hasDocument(t)) continue;
    candidates.push_back(t);
  }
  if (candidates.empty()) {
    platform::ShowMessage(kFailedToCreateDoc);
    return;
  }
  shell::CDocTemplate* chosen = candidates.front();
  if (candidates.size() > 1) {
    NewTypeDlg::CNewTypeDlg chooser(candidates, m_parent);
    if (chooser.DoModal() != 1 || !chooser.SelectedTemplate()) return;
    chosen = chooser.SelectedTemplate();
  }
  if (m_maker) m_maker(chosen);
}

void CDocManagerEx::OnFileOpen() {
  std::string name;
  if (!DoPromptFileName(name, AFX_IDS_OPENFILE, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, true, nullptr)) return;
  if (m_opener) m_opener(name);
}

void CDocManagerEx::ApplyCfg(const shell::TDocManagerCfg& cfg) {
  m_settings.pixelFormat = cfg.pixelFormat;
  m_settings.singleImage = cfg.singleImage;
  m_settings.width = cfg.width;
  m_settings.height = cfg.height;
  m_settings.yuvFormat = cfg.yuvFormat;
  m_settings.yuvSingleImage = cfg.yuvSingleImage;
  m_settings.yuvWidth = cfg.yuvWidth;
  m_settings.yuvHeight = cfg.yuvHeight;
  m_settings.jpegQuality = cfg.jpegQuality;
  m_settings.png = cfg.png;
  m_settings.gif = cfg.gif;
  m_settings.tiff = cfg.tiff;
}

void CDocManagerEx::StoreCfg(shell::TDocManagerCfg& cfg) const {
  cfg.format = m_settings.format;
  cfg.pixelFormat = m_settings.pixelFormat;
  cfg.singleImage = m_settings.singleImage;
  cfg.width = m_settings.width;
  cfg.height = m_settings.height;
  cfg.yuvFormat = m_settings.yuvFormat;
  cfg.yuvSingleImage = m_settings.yuvSingleImage;
  cfg.yuvWidth = m_settings.yuvWidth;
  cfg.yuvHeight = m_settings.yuvHeight;
  cfg.jpegQuality = m_settings.jpegQuality;
  cfg.png = m_settings.png;
  cfg.gif = m_settings.gif;
  cfg.tiff = m_settings.tiff;
}

}  // namespace DocManagerEx
