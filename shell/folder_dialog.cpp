#include "shell/folder_dialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

namespace FolderDialog {

int ReplaceBarsWithNul(std::string& text) {
  int count = 0;
  for (char& c : text)
    if (c == '|') {
      c = '\0';
      ++count;
    }
  return count;
}

QStringList FolderDialogFilters(const QString& extraFilter) {
  std::string text = extraFilter.isEmpty() ? std::string("Show Folders Only|.|All Files (*.*)|*.*||")
                                           : "Show Folders Only|.|" + extraFilter.toStdString();
  ReplaceBarsWithNul(text);
  // Pairs of description and pattern, up to the empty pair at the end.
  QStringList parts;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\0', start);
    parts << QString::fromStdString(
        text.substr(start, (end == std::string::npos ? text.size() : end) - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    QString pattern = parts[i + 1];
    if (pattern == ".") {
      filters << parts[i];  // folders only: no file matches
      continue;
    }
    QString description = parts[i];
    const QString given = QStringLiteral("(%1)").arg(pattern);
    pattern.replace(';', ' ');
    pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
    // A description that names its own patterns gets them in Qt's form.
    if (description.endsWith(given)) description.chop(given.size());
    filters << QStringLiteral("%1 (%2)").arg(description.trimmed(), pattern);
  }
  return filters;
}

CFolderDialog::CFolderDialog(const QString& initialFolder, const QString& extraFilter, QWidget* parent)
    : QFileDialog(parent) {
  setObjectName(QStringLiteral("CFolderDialog"));
  setOption(QFileDialog::DontUseNativeDialog, true);
  setFileMode(QFileDialog::Directory);
  setOption(QFileDialog::ShowDirsOnly, true);
  setAcceptMode(QFileDialog::AcceptOpen);
  setWindowTitle(tr("Select Folder"));
  setNameFilters(FolderDialogFilters(extraFilter));
  if (!initialFolder.isEmpty()) setDirectory(initialFolder);
  setLabelText(QFileDialog::FileName, tr("Folder name"));
  setLabelText(QFileDialog::Accept, tr("OK"));
  if (auto* typeLabel = findChild<QLabel*>(QStringLiteral("fileTypeLabel"))) typeLabel->hide();
  if (auto* typeCombo = findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) typeCombo->hide();
  auto follow = [this](const QString& path) {
    if (!path.isEmpty()) SetFolderNameText(path);
  };
  connect(this, &QFileDialog::currentChanged, this, follow);
  connect(this, &QFileDialog::directoryEntered, this, follow);
  // No folder change is reported for the folder the dialog opens on: it goes
  // into the box now, so that OK accepts it as it is.
  SetFolderNameText(QDir::toNativeSeparators(directory().absolutePath()));
}

void CFolderDialog::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  if (FolderNameText().isEmpty()) SetFolderNameText(QDir::toNativeSeparators(directory().absolutePath()));
}

QString CFolderDialog::FolderNameText() const {
  auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  return edit ? edit->text() : QString();
}

void CFolderDialog::SetFolderNameText(const QString& text) {
  if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) edit->setText(text);
}

bool CFolderDialog::TakeFolderName() {
  QString text = FolderNameText().trimmed();
  if (!text.isEmpty() && QFileInfo(text).isRelative()) text = directory().absoluteFilePath(text);
  const QFileInfo info(text);
  if (!text.isEmpty() && info.exists() && info.isDir()) {
    m_chosenFolder = info.absoluteFilePath();
    return true;
  }
  m_chosenFolder.clear();
  SetFolderNameText({});
  return false;
}

void CFolderDialog::accept() {
  if (TakeFolderName()) done(QDialog::Accepted);
}

}  // namespace FolderDialog
