#pragma once
// Picks a folder with the ordinary file dialog: the filter "Show Folders
// Only" shows only folders, the name box is labelled "Folder name" and
// follows the selected or current folder, and OK closes the dialog only
// when the box names an existing folder (otherwise the box is emptied and
// the dialog stays open).

#include <QFileDialog>
#include <QString>

#include <string>

namespace FolderDialog {

// Replaces every "|" by a NUL in place (the length stays); how many.
int ReplaceBarsWithNul(std::string& text);

// The filter entries of a folder dialog in Qt's form, from the bar-separated
// text ("Show Folders Only|.|" + the extra filter, or + "All Files (*.*)|*.*||").
QStringList FolderDialogFilters(const QString& extraFilter);

class CFolderDialog : public QFileDialog {
  Q_OBJECT
 public:
  CFolderDialog(const QString& initialFolder = {}, const QString& extraFilter = {},
                QWidget* parent = nullptr);

  // The folder accepted with OK ("" before).
  QString GetFolderPath() const { return m_chosenFolder; }
  // The name box's text.
  QString FolderNameText() const;
  void SetFolderNameText(const QString& text);

  // What OK does with the box's text; true when the dialog ends.
  bool TakeFolderName();

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString m_chosenFolder;
};

}  // namespace FolderDialog
