#pragma once
// The document-type chooser of File New: a list of the templates' File New
// names; OK (or a double click) takes the selected template.

#include <QDialog>

#include <vector>

class QListWidget;

namespace shell {
class CDocTemplate;
}

namespace NewTypeDlg {

class CNewTypeDlg : public QDialog {
  Q_OBJECT
 public:
  CNewTypeDlg(std::vector<shell::CDocTemplate*> candidates, QWidget* parent = nullptr);

  // 1 OK, 2 Cancel, -1 nothing to choose. With one named template it ends
  // with OK at once, without showing.
  int DoModal();
  // Fills the list; the result DoModal would end with before showing (0: show).
  int OnInitDialog();
  void OnOK();

  shell::CDocTemplate* SelectedTemplate() const { return m_selected; }
  QListWidget* List() const { return m_list; }

 private:
  std::vector<shell::CDocTemplate*> m_candidates;
  shell::CDocTemplate* m_selected = nullptr;
  QListWidget* m_list = nullptr;
};

}  // namespace NewTypeDlg
