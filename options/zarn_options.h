#pragma once
// The options sheet: the pages of one category (TOptionsCategory) in tabs, or
// for the document category in a list 150 pixels wide beside the page.
//
// Life of a sheet: construct (caption, owner, category) on the opener's
// stack, optionally SetReadOnly(true), DoModal(), act on IDOK. The owner is
// the window that answers the pages' exchanges; when it is a widget it is
// also the sheet's parent. Each page reads its block the first time it is
// shown; OK writes back every page that was shown; Cancel and the close box
// send nothing.
//
// Read-only mode (a document that plays): the OK button reads "Close",
// Cancel is disabled, and most pages carry the read-only mark (see
// IsReadOnlyMarkedKind).

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

#include "options/opts_page.h"

class QDialogButtonBox;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QTabWidget;

namespace ZarnOptions {

// The framework looks the sheet offers.
inline constexpr std::int32_t PropSheetLook_Tabs = 0;
inline constexpr std::int32_t PropSheetLook_List = 4;
inline constexpr int kNavigationListWidth = 150;

// The pages of a category in order, and which of them opens first (-1: no
// explicit choice, the first page).
struct TCategoryPages {
  std::vector<OptsPage::TOptsPageKind> pages;
  int active = -1;
};
TCategoryPages CategoryPages(std::int32_t category);

// Page kinds that take the sheet's read-only mark.
bool IsReadOnlyMarkedKind(OptsPage::TOptsPageKind kind);

class CZarnOptions : public QDialog {
  Q_OBJECT
 public:
  CZarnOptions(const QString& caption, QObject* owner, std::int32_t category, QWidget* parent = nullptr);
  ~CZarnOptions() override;

  void ResetState();
  void AddCategoryPages();

  // Set after construction and before DoModal.
  void SetReadOnly(bool readOnly) { m_bReadOnly = readOnly; }
  bool ReadOnly() const { return m_bReadOnly; }

  QObject* OwnerWindow() const { return m_pOwner; }
  std::int32_t Category() const { return m_category; }
  std::int32_t Look() const { return m_look; }
  std::int32_t DirectShowStartIndex() const { return m_directShowStartIndex; }

  // The pages in display order, and the page of a kind (nullptr when the
  // category did not create one).
  const std::vector<OptsPage::COptsPage*>& Pages() const { return m_order; }
  OptsPage::COptsPage* Page(OptsPage::TOptsPageKind kind) const;
  int ActiveIndex() const;
  OptsPage::COptsPage* ActivePage() const;
  // Shows another page (it reads its block if it is shown for the first
  // time). False when the page shown refuses to be left.
  bool SetActivePage(int index);

  // The sheet's own initialisation: read-only mode and the first page.
  // DoModal runs it; tests may call it to work without a modal loop.
  void OnInitDialog();
  // OK: every page that was shown accepts, then the sheet ends with IDOK.
  void AcceptSheet();
  int DoModal();

  QPushButton* OkButton() const;
  QPushButton* CancelButton() const;

 private:
  void AddPage(OptsPage::TOptsPageKind kind, OptsPage::COptsPage* page);
  void BuildLayout();
  bool ShowPage(int index);
  // Puts the list row or tab back on the page shown.
  void ShowCurrentSelection();
  // Grows the sheet to its size hint (never shrinks it).
  void GrowToContents();

  QObject* m_pOwner = nullptr;
  std::int32_t m_category = 0;
  bool m_bReadOnly = false;
  std::int32_t m_look = PropSheetLook_Tabs;
  std::array<OptsPage::COptsPage*, OptsPage::PAGE_KIND_COUNT> m_pages{};
  std::int32_t m_directShowStartIndex = 0;

  std::vector<OptsPage::COptsPage*> m_order;
  int m_initialActive = 0;
  int m_current = -1;  // the page shown
  bool m_bInitDone = false;
  QTabWidget* m_tabs = nullptr;
  QListWidget* m_list = nullptr;
  QStackedWidget* m_stack = nullptr;
  QDialogButtonBox* m_buttons = nullptr;
};

// Opens the sheet of a category that needs only a caption: 13 "Graph",
// 16 "Settings", 29 "Options: Customize", 34..36 "DVD", 39 "Options". Any
// other category returns false at once. True when the sheet ended with OK.
bool RunOptionsSheet(QObject* owner, std::int32_t category);

// The caption RunOptionsSheet uses for a category ("" when it refuses it).
QString RunOptionsSheetCaption(std::int32_t category);

}  // namespace ZarnOptions
