#pragma once
// A property sheet that lists its pages in a tree on the left instead of a
// row of tabs. A page's place in the tree comes from its label, a path of
// levels separated by "::" (options/tree_page_path.h): "WebCam::Primary
// Channel" puts the page "Primary Channel" under a group item "WebCam".
// Selecting a page item shows the page; selecting a group item hides it and
// shows a one-line message in the page frame.
//
// Pages live as in CZarnOptions: each reads its block when it is first
// shown, OK accepts every page that was shown, Cancel and the close box send
// nothing. A page that refuses to be left (COptsPage::OnKillActive) keeps
// the tree's selection, and keeps the sheet open on OK.
//
// Ctrl+Tab and Ctrl+Shift+Tab walk the tree's items in order, group items
// included, wrapping at either end, wherever the focus is in the sheet.

#include <QDialog>
#include <QString>

#include <vector>

#include "options/opts_page.h"

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace TreePropSheet {

// The narrowest the tree gets; it widens to its widest item.
inline constexpr int kTreeWidth = 150;

class CTreePropSheet : public QDialog {
  Q_OBJECT
 public:
  CTreePropSheet(const QString& caption, QWidget* parent = nullptr);
  ~CTreePropSheet() override;

  // Adds a page (the sheet owns it). On an open sheet the tree is rebuilt
  // and the active page's item selected.
  void AddPage(OptsPage::COptsPage* page);
  int PageCount() const { return static_cast<int>(m_pages.size()); }
  OptsPage::COptsPage* Page(int index) const;
  // The page shown; -1 while a group item is selected.
  int ActiveIndex() const { return m_active; }
  OptsPage::COptsPage* ActivePage() const { return Page(m_active); }
  // Shows a page; false when the page shown refuses to be left.
  bool SetActivePage(int index);

  // The format of the group item's message, with one "%s" for its text.
  void SetEmptyPageMessage(const QString& format) { m_emptyPageMessage = format; }
  // The message shown while a group item is selected ("" while a page is).
  QString EmptyPageText() const;
  bool EmptyPageShown() const;

  // Keyboard order (Ctrl+Tab, Ctrl+Shift+Tab).
  void SelectNextTreeItem();
  void SelectPreviousTreeItem();

  // The sheet's own initialisation; DoModal runs it first, tests may call it
  // to work without a modal loop.
  virtual void OnInitDialog();
  // OK: the page shown may refuse to be left; otherwise every page that was
  // shown accepts and the sheet ends with IDOK.
  void AcceptSheet();
  int DoModal();

  // Cancel-to-close: OK reads "Close" and Cancel is disabled.
  void CancelToClose();

  QTreeWidget* Tree() const { return m_tree; }
  QLabel* EmptyPageLabel() const { return m_emptyLabel; }
  QPushButton* OkButton() const;
  QPushButton* CancelButton() const;
  QTreeWidgetItem* TreeItemOfPage(int index) const;

 protected:
  bool InitDone() const { return m_bInitDone; }

 private:
  void RebuildPageTree();
  void SelectTreeItemOfActivePage();
  void SelectTreeItem(QTreeWidgetItem* item);
  void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
  bool DeactivateCurrentPage();
  void ShowFrame();
  void FitTree();

  std::vector<OptsPage::COptsPage*> m_pages;
  int m_active = -1;
  bool m_bInitDone = false;
  bool m_bSelectionGuard = false;
  QString m_emptyPageMessage;
  QTreeWidget* m_tree = nullptr;
  QStackedWidget* m_frame = nullptr;
  QLabel* m_emptyLabel = nullptr;
  QWidget* m_emptyPage = nullptr;
  QDialogButtonBox* m_buttons = nullptr;
};

}  // namespace TreePropSheet
