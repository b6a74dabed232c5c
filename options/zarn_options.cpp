#include "options/zarn_options.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include <QApplication>
#include <QMainWindow>

using namespace OptsPage;
using namespace ZarnTypes;

namespace ZarnOptions {

TCategoryPages CategoryPages(std::int32_t category) {
  switch (category) {
    case OPTCAT_MEDIA_DOCUMENT: return {{PAGE_MEDIA_DOCUMENT}, 0};
    case OPTCAT_FILES_OF_TYPE: return {{PAGE_FILES_OF_TYPE}, 0};
    case OPTCAT_FILE_SORTING: return {{PAGE_FILE_SORTING}, 0};
    case OPTCAT_READ_STREAM: return {{PAGE_READ_STREAM}, -1};
    case OPTCAT_AVI: return {{PAGE_AVI}, 0};
    case OPTCAT_WMF:
    case OPTCAT_WMV:
    case OPTCAT_WMA:
    case OPTCAT_ASF: return {{PAGE_WMF}, 0};
    case OPTCAT_GRAPH: return {{PAGE_DIRECTSHOW}, 0};
    case OPTCAT_SAVE_IMAGE: return {{PAGE_SAVE_IMAGE}, 0};
    case OPTCAT_SAVE_STREAM: return {{PAGE_SAVE_STREAM}, 0};
    case OPTCAT_SAMPLING: return {{PAGE_SAMPLING}, 0};
    case OPTCAT_YUV: return {{PAGE_YUV}, 0};
    case OPTCAT_JPEG: return {{PAGE_JPEG}, 0};
    case OPTCAT_JPEG2000: return {{PAGE_JPEG2000}, 0};
    case OPTCAT_PNG: return {{PAGE_PNG}, 0};
    case OPTCAT_GIF: return {{PAGE_GIF}, 0};
    case OPTCAT_TIFF: return {{PAGE_TIFF}, 0};
    case OPTCAT_REFERENCE_FRAMES: return {{PAGE_REFERENCE_FRAMES}, 0};
    case OPTCAT_VIDEO: return {{PAGE_VIDEO}, 0};
    case OPTCAT_VIDEO_PANE: return {{PAGE_VIDEO_PANE}, 0};
    case OPTCAT_PIP: return {{PAGE_PIP}, 0};
    case OPTCAT_DOCUMENT:
      return {{PAGE_GENERAL, PAGE_MEDIA_DOCUMENT, PAGE_OPEN_MEDIA_SOURCE, PAGE_READ_STREAM, PAGE_SAVE_STREAM,
               PAGE_SAVE_IMAGE, PAGE_VIDEO, PAGE_VIDEO_PANE, PAGE_PIP, PAGE_DIRECTSHOW},
              1};
    case OPTCAT_CUSTOMIZE:
      return {{PAGE_GENERAL, PAGE_APP_LOOK, PAGE_TOOLBAR, PAGE_MDI_TABS, PAGE_MSG_BOX}, 1};
    case OPTCAT_DVD_AUDIO:
    case OPTCAT_DVD_CAPTION:
    case OPTCAT_DVD_ANGLE: return {{PAGE_DVD}, 0};
    case OPTCAT_DVD_NAVIGATE: return {{PAGE_DVD_NAVIGATE}, 0};
    case OPTCAT_TRANSFORM_2D: return {{PAGE_TRANSFORM_2D}, 0};
    default: return {};
  }
}

bool IsReadOnlyMarkedKind(TOptsPageKind kind) {
  switch (kind) {
    case PAGE_OPEN_MEDIA_SOURCE:
    case PAGE_TOOLBAR:
    case PAGE_DIRECTSHOW:
    case PAGE_DVD: return false;
    default: return kind >= 0 && kind < PAGE_KIND_COUNT;
  }
}

namespace {

QWidget* ParentOf(QObject* owner, QWidget* parent) {
  if (parent) return parent;
  return qobject_cast<QWidget*>(owner);
}

QString WmfLabel(std::int32_t category) {
  switch (category) {
    case OPTCAT_WMF: return QStringLiteral("WMF");
    case OPTCAT_WMV: return QStringLiteral("WMV");
    case OPTCAT_WMA: return QStringLiteral("WMA");
    case OPTCAT_ASF: return QStringLiteral("ASF");
    default: return {};
  }
}

// The application's main window (the first top-level main window).
QObject* MainWindowObject() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<QMainWindow*>(w)) return main;
  return nullptr;
}

}  // namespace

CZarnOptions::CZarnOptions(const QString& caption, QObject* owner, std::int32_t category, QWidget* parent)
    : QDialog(ParentOf(owner, parent)) {
  setWindowTitle(caption);
  ResetState();
  m_pOwner = owner;
  m_category = category;
  m_look = category == OPTCAT_DOCUMENT ? PropSheetLook_List : PropSheetLook_Tabs;
  m_directShowStartIndex = 0;
  AddCategoryPages();
  BuildLayout();
}

CZarnOptions::~CZarnOptions() = default;  // the pages are children of the sheet

void CZarnOptions::ResetState() {
  m_pOwner = nullptr;
  m_category = 0;
  m_bReadOnly = false;
  m_look = 0;
  m_pages.fill(nullptr);
  m_directShowStartIndex = 0;
}

void CZarnOptions::AddPage(TOptsPageKind kind, COptsPage* page) {
  if (!page) return;
  page->setParent(this);
  m_pages[static_cast<std::size_t>(kind)] = page;
  m_order.push_back(page);
}

void CZarnOptions::AddCategoryPages() {
  const TCategoryPages set = CategoryPages(m_category);
  m_initialActive = 0;
  for (std::size_t i = 0; i < set.pages.size(); ++i) {
    const TOptsPageKind kind = set.pages[i];
    COptsPage* page = CreateOptionsPage(kind);
    if (!page) continue;  // a page kind the program does not have yet
    if (kind == PAGE_OPEN_MEDIA_SOURCE) {
      page->SetOwner(MainWindowObject());
    } else {
      page->SetOwner(m_pOwner);
    }
    if (kind == PAGE_WMF) page->SetLabel(WmfLabel(m_category));
    if (kind == PAGE_DVD) page->SetCategory(m_category);
    if (kind == PAGE_DIRECTSHOW && m_category == OPTCAT_GRAPH) page->SetStartIndex(m_directShowStartIndex);
    if (static_cast<int>(i) == set.active) m_initialActive = static_cast<int>(m_order.size());
    AddPage(kind, page);
  }
}

void CZarnOptions::BuildLayout() {
  auto* outer = new QVBoxLayout(this);
  if (m_look == PropSheetLook_List) {
    auto* row = new QHBoxLayout;
    m_list = new QListWidget(this);
    m_list->setFixedWidth(kNavigationListWidth);
    m_stack = new QStackedWidget(this);
    for (COptsPage* page : m_order) {
      m_list->addItem(page->Label());
      m_stack->addWidget(page);
    }
    row->addWidget(m_list);
    row->addWidget(m_stack, 1);
    outer->addLayout(row, 1);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
      if (row >= 0) ShowPage(row);
    });
  } else {
    m_tabs = new QTabWidget(this);
    for (COptsPage* page : m_order) m_tabs->addTab(page, page->Label());
    outer->addWidget(m_tabs, 1);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
      if (index >= 0) ShowPage(index);
    });
  }
  m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  outer->addWidget(m_buttons);
  connect(m_buttons, &QDialogButtonBox::accepted, this, &CZarnOptions::AcceptSheet);
  connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

COptsPage* CZarnOptions::Page(TOptsPageKind kind) const {
  if (kind < 0 || kind >= PAGE_KIND_COUNT) return nullptr;
  return m_pages[static_cast<std::size_t>(kind)];
}

int CZarnOptions::ActiveIndex() const {
  if (m_tabs) return m_tabs->currentIndex();
  if (m_stack) return m_stack->currentIndex();
  return -1;
}

COptsPage* CZarnOptions::ActivePage() const {
  const int i = ActiveIndex();
  return i >= 0 && i < static_cast<int>(m_order.size()) ? m_order[static_cast<std::size_t>(i)] : nullptr;
}

bool CZarnOptions::ShowPage(int index) {
  if (index < 0 || index >= static_cast<int>(m_order.size())) return false;
  if (m_current >= 0 && m_current != index) {
    COptsPage* shown = m_order[static_cast<std::size_t>(m_current)];
    if (shown->Initialized() && !shown->OnKillActive()) {
      ShowCurrentSelection();
      return false;
    }
  }
  m_current = index;
  ShowCurrentSelection();
  // Pages read their settings when first shown, once the sheet is set up;
  // what they fill in may need more room than the sheet had.
  if (m_bInitDone) {
    m_order[static_cast<std::size_t>(index)]->Initialize();
    GrowToContents();
  }
  return true;
}

void CZarnOptions::GrowToContents() {
  if (layout()) layout()->activate();
  const QSize wanted = size().expandedTo(sizeHint());
  if (wanted != size()) resize(wanted);
}

void CZarnOptions::ShowCurrentSelection() {
  if (m_current < 0) return;
  const QSignalBlocker listBlocker(m_list);
  const QSignalBlocker tabBlocker(m_tabs);
  if (m_stack && m_stack->currentIndex() != m_current) m_stack->setCurrentIndex(m_current);
  if (m_list && m_list->currentRow() != m_current) m_list->setCurrentRow(m_current);
  if (m_tabs && m_tabs->currentIndex() != m_current) m_tabs->setCurrentIndex(m_current);
}

bool CZarnOptions::SetActivePage(int index) { return ShowPage(index); }

void CZarnOptions::OnInitDialog() {
  if (m_bInitDone) return;
  if (m_bReadOnly) {
    // Cancel-to-close: nothing can be changed, only closed.
    OkButton()->setText(tr("Close"));
    CancelButton()->setEnabled(false);
    for (int k = 0; k < PAGE_KIND_COUNT; ++k) {
      const auto kind = static_cast<TOptsPageKind>(k);
      if (m_pages[static_cast<std::size_t>(k)] && IsReadOnlyMarkedKind(kind))
        m_pages[static_cast<std::size_t>(k)]->SetReadOnly(true);
    }
  }
  m_bInitDone = true;
  if (!m_order.empty()) ShowPage(m_initialActive);
  if (ActivePage()) ActivePage()->Initialize();
}

void CZarnOptions::AcceptSheet() {
  // A page that refuses to be left keeps the sheet open.
  if (COptsPage* shown = ActivePage(); shown && shown->Initialized() && !shown->OnKillActive()) return;
  for (COptsPage* page : m_order)
    if (page->Initialized()) page->OnOK();
  done(QDialog::Accepted);
}

int CZarnOptions::DoModal() {
  OnInitDialog();
  return exec() == QDialog::Accepted ? 1 : 2;
}

QPushButton* CZarnOptions::OkButton() const { return m_buttons->button(QDialogButtonBox::Ok); }
QPushButton* CZarnOptions::CancelButton() const { return m_buttons->button(QDialogButtonBox::Cancel); }

QString RunOptionsSheetCaption(std::int32_t category) {
  switch (category) {
    case OPTCAT_GRAPH: return QStringLiteral("Graph");
    case OPTCAT_SAMPLING: return QStringLiteral("Settings");
    case OPTCAT_CUSTOMIZE: return QStringLiteral("Options: Customize");
    case OPTCAT_DVD_AUDIO:
    case OPTCAT_DVD_CAPTION:
    case OPTCAT_DVD_ANGLE: return QStringLiteral("DVD");
    case OPTCAT_TRANSFORM_2D: return QStringLiteral("Options");
    default: return {};
  }
}

bool RunOptionsSheet(QObject* owner, std::int32_t category) {
  const QString caption = RunOptionsSheetCaption(category);
  if (caption.isEmpty()) return false;
  CZarnOptions sheet(caption, owner, category);
  return sheet.DoModal() == 1;
}

}  // namespace ZarnOptions
