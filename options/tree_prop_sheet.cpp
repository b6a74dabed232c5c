#include "options/tree_prop_sheet.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "options/tree_page_path.h"

using OptsPage::COptsPage;

namespace TreePropSheet {

CTreePropSheet::CTreePropSheet(const QString& caption, QWidget* parent) : QDialog(parent) {
  setWindowTitle(caption);
  auto* outer = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  m_tree = new QTreeWidget(this);
  m_tree->setObjectName("IDC_32494");
  m_tree->setHeaderHidden(true);
  m_tree->setColumnCount(1);
  m_tree->setMinimumWidth(kTreeWidth);
  // Sized to its items (FitTree): it never needs a scroll bar.
  m_tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_tree->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_tree->setTextElideMode(Qt::ElideNone);
  m_tree->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  m_frame = new QStackedWidget(this);
  m_emptyPage = new QWidget(m_frame);
  auto* emptyLayout = new QVBoxLayout(m_emptyPage);
  m_emptyLabel = new QLabel(m_emptyPage);
  m_emptyLabel->setAlignment(Qt::AlignCenter);
  m_emptyLabel->setTextFormat(Qt::PlainText);
  m_emptyLabel->setWordWrap(false);
  emptyLayout->addWidget(m_emptyLabel);
  m_frame->addWidget(m_emptyPage);
  row->addWidget(m_tree);
  row->addWidget(m_frame, 1);
  outer->addLayout(row, 1);
  m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  outer->addWidget(m_buttons);
  connect(m_buttons, &QDialogButtonBox::accepted, this, &CTreePropSheet::AcceptSheet);
  connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_tree, &QTreeWidget::currentItemChanged, this, &CTreePropSheet::OnCurrentItemChanged);

  // Ctrl+Tab moves on, Ctrl+Shift+Tab back; with Shift held the key comes
  // as Backtab, so both forms of the backward key are registered.
  auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
  auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), this);
  auto* previousBacktab = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
  for (QShortcut* s : {next, previous, previousBacktab}) s->setContext(Qt::WindowShortcut);
  connect(next, &QShortcut::activated, this, &CTreePropSheet::SelectNextTreeItem);
  connect(previous, &QShortcut::activated, this, &CTreePropSheet::SelectPreviousTreeItem);
  connect(previousBacktab, &QShortcut::activated, this, &CTreePropSheet::SelectPreviousTreeItem);
}

CTreePropSheet::~CTreePropSheet() = default;  // the pages are children of the frame

void CTreePropSheet::AddPage(COptsPage* page) {
  if (!page) return;
  m_frame->addWidget(page);
  m_pages.push_back(page);
  if (m_active < 0 && !m_bInitDone) m_active = 0;
  if (m_bInitDone) {
    RebuildPageTree();
    SelectTreeItemOfActivePage();
  }
}

COptsPage* CTreePropSheet::Page(int index) const {
  return index >= 0 && index < PageCount() ? m_pages[static_cast<std::size_t>(index)] : nullptr;
}

QTreeWidgetItem* CTreePropSheet::TreeItemOfPage(int index) const {
  if (index < 0 || index >= PageCount()) return nullptr;
  // Depth first, as the tree shows the items.
  for (QTreeWidgetItem* item = NextTreeItem(m_tree->invisibleRootItem(), nullptr); item;) {
    if (PageIndexOf(item) == index) return item;
    item = NextTreeItem(m_tree->invisibleRootItem(), item);
    if (item == m_tree->topLevelItem(0)) break;  // wrapped
  }
  return nullptr;
}

void CTreePropSheet::RebuildPageTree() {
  const QSignalBlocker blocker(m_tree);
  m_tree->clear();
  for (int i = 0; i < PageCount(); ++i) {
    QTreeWidgetItem* item = InsertPagePath(Page(i)->Label(), m_tree->invisibleRootItem());
    item->setData(0, Qt::UserRole, i);
  }
  m_tree->expandAll();
  FitTree();
}

void CTreePropSheet::FitTree() {
  // Wide enough for the widest item at its depth, never below the minimum,
  // and tall enough for every item.
  const auto* view = static_cast<const QAbstractItemView*>(m_tree);
  const int frame = 2 * m_tree->frameWidth();
  m_tree->setFixedWidth(std::max(kTreeWidth, view->sizeHintForColumn(0) + frame));
  int rows = 0;
  for (QTreeWidgetItem* item = NextTreeItem(m_tree->invisibleRootItem(), nullptr); item;) {
    ++rows;
    item = NextTreeItem(m_tree->invisibleRootItem(), item);
    if (item == m_tree->topLevelItem(0)) break;
  }
  m_tree->setMinimumHeight(rows * std::max(1, view->sizeHintForRow(0)) + frame);
}

void CTreePropSheet::SelectTreeItem(QTreeWidgetItem* item) {
  const QSignalBlocker blocker(m_tree);
  m_tree->setCurrentItem(item);
}

void CTreePropSheet::SelectTreeItemOfActivePage() {
  if (QTreeWidgetItem* item = TreeItemOfPage(m_active)) SelectTreeItem(item);
  ShowFrame();
}

bool CTreePropSheet::DeactivateCurrentPage() {
  COptsPage* shown = ActivePage();
  if (!shown) return true;
  return !shown->Initialized() || shown->OnKillActive();
}

bool CTreePropSheet::SetActivePage(int index) {
  if (index < 0 || index >= PageCount()) return false;
  if (index != m_active && !DeactivateCurrentPage()) return false;
  m_active = index;
  if (m_bInitDone) {
    SelectTreeItemOfActivePage();
    Page(index)->Initialize();
    // What the page filled in may need more room than the sheet had.
    if (layout()) layout()->activate();
    const QSize wanted = size().expandedTo(sizeHint());
    if (wanted != size()) resize(wanted);
  }
  return true;
}

void CTreePropSheet::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
  if (m_bSelectionGuard || !current) return;
  m_bSelectionGuard = true;
  const int index = PageIndexOf(current);
  bool changed = true;
  if (index >= 0 && index < PageCount()) {
    changed = SetActivePage(index);
  } else if (DeactivateCurrentPage()) {
    m_active = -1;
    ShowFrame();
  } else {
    changed = false;
  }
  if (!changed && previous) SelectTreeItem(previous);  // the page refused: keep the selection
  m_bSelectionGuard = false;
}

void CTreePropSheet::ShowFrame() {
  if (COptsPage* page = ActivePage()) {
    m_frame->setCurrentWidget(page);
    m_emptyLabel->clear();
    return;
  }
  QTreeWidgetItem* item = m_tree->currentItem();
  m_emptyLabel->setText(item ? FormatEmptyPageMessage(m_emptyPageMessage, item->text(0)) : QString());
  m_frame->setCurrentWidget(m_emptyPage);
}

QString CTreePropSheet::EmptyPageText() const { return EmptyPageShown() ? m_emptyLabel->text() : QString(); }

bool CTreePropSheet::EmptyPageShown() const { return m_frame->currentWidget() == m_emptyPage; }

void CTreePropSheet::SelectNextTreeItem() {
  if (QTreeWidgetItem* item = NextTreeItem(m_tree->invisibleRootItem(), m_tree->currentItem()))
    m_tree->setCurrentItem(item);
}

void CTreePropSheet::SelectPreviousTreeItem() {
  if (QTreeWidgetItem* item = PreviousTreeItem(m_tree->invisibleRootItem(), m_tree->currentItem()))
    m_tree->setCurrentItem(item);
}

void CTreePropSheet::OnInitDialog() {
  if (m_bInitDone) return;
  m_bInitDone = true;
  RebuildPageTree();
  SelectTreeItemOfActivePage();
  if (COptsPage* page = ActivePage()) page->Initialize();
}

void CTreePropSheet::AcceptSheet() {
  if (!DeactivateCurrentPage()) return;
  for (COptsPage* page : m_pages)
    if (page->Initialized()) page->OnOK();
  done(QDialog::Accepted);
}

int CTreePropSheet::DoModal() {
  OnInitDialog();
  return exec() == QDialog::Accepted ? 1 : 2;
}

void CTreePropSheet::CancelToClose() {
  OkButton()->setText(tr("Close"));
  CancelButton()->setEnabled(false);
}

QPushButton* CTreePropSheet::OkButton() const { return m_buttons->button(QDialogButtonBox::Ok); }
QPushButton* CTreePropSheet::CancelButton() const { return m_buttons->button(QDialogButtonBox::Cancel); }

}  // namespace TreePropSheet
