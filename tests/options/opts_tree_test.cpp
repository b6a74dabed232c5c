// The tree sheet: its tree from the page captions, the group message, the
// keyboard order from wherever the focus is, a page that refuses to be left
// (also in the list and tab sheets), and what OK, Cancel and read-only send.
#include "options/opts_tree.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "options/tree_page_path.h"
#include "options/zarn_options.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

// Qt's own way into the shortcut map for a key press, as a key typed on the
// keyboard goes (exported by QtGui; QTest uses it the same way).
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                               const QString& text, bool autorep, ushort count);

using namespace OptsPage;
using namespace OptsTree;
using namespace ZarnTypes;
using tovrin_test::TScopedPageFactory;
using tovrin_test::TTestOwner;

namespace {

struct TStandInBlock {
  TOptsExchangeHeader header;
  std::int32_t value = 0;
};

// A page that reads one number from the owner, writes it back on OK, can
// refuse to be left, and holds a line edit, a read-only text and a spin box.
class TStandInPage : public COptsPage {
 public:
  explicit TStandInPage(QString label) : COptsPage(std::move(label)) {
    auto* layout = new QVBoxLayout(this);
    edit = new QLineEdit(this);
    text = new QPlainTextEdit(this);
    text->setReadOnly(true);
    spin = new QSpinBox(this);
    layout->addWidget(edit);
    layout->addWidget(text);
    layout->addWidget(spin);
  }
  void OnOK() override { WriteBlock(platform::qt::WM_APP_OPTS_VIDEO, 0, m_block, "stand-in write failed"); }
  bool OnKillActive() override {
    ++killAsked;
    return !refuse;
  }
  bool refuse = false;
  int killAsked = 0;
  QLineEdit* edit;
  QPlainTextEdit* text;
  QSpinBox* spin;

 protected:
  bool OnInitDialog() override {
    return ReadBlock(platform::qt::WM_APP_OPTS_VIDEO, 0, m_block, "stand-in read failed");
  }

 private:
  TStandInBlock m_block;
};

// Stand-in pages for General, Media document and the device pages.
class TStandInPages {
 public:
  TStandInPages()
      : m_general(PAGE_GENERAL, [] { return new TStandInPage("general"); }),
        m_media(PAGE_MEDIA_DOCUMENT, [] { return new TStandInPage("media"); }),
        m_previous(RegisterDevicePageFactory(
            [](TDevicePageKind, bool) -> COptsPage* { return new TStandInPage("device"); })) {}
  ~TStandInPages() { RegisterDevicePageFactory(std::move(m_previous)); }

 private:
  TScopedPageFactory m_general;
  TScopedPageFactory m_media;
  TDevicePageFactory m_previous;
};

std::string TreePath(const QTreeWidgetItem* item) {
  if (!item) return "(none)";
  std::string p = item->text(0).toStdString();
  for (const QTreeWidgetItem* up = item->parent(); up; up = up->parent())
    p = up->text(0).toStdString() + "/" + p;
  return p;
}

QTreeWidgetItem* ItemAt(QTreeWidget* tree, const std::string& path) {
  for (QTreeWidgetItem* item = TreePropSheet::NextTreeItem(tree->invisibleRootItem(), nullptr); item;) {
    if (TreePath(item) == path) return item;
    item = TreePropSheet::NextTreeItem(tree->invisibleRootItem(), item);
    if (item == tree->topLevelItem(0)) break;
  }
  return nullptr;
}

TStandInPage* StandIn(COptsPage* page) { return dynamic_cast<TStandInPage*>(page); }

// Presses a key in a widget as the keyboard would: shortcuts first.
void Press(QWidget* target, int key, Qt::KeyboardModifiers mods) {
  if (qt_sendShortcutOverrideEvent(target, 0, key, mods, QString(), false, 1)) return;
  QKeyEvent press(QEvent::KeyPress, key, mods);
  QApplication::sendEvent(target, &press);
}

class OptsTreeTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  void SetUp() override { owner.values.value = 7; }
  TStandInPages pages;
  TTestOwner<TStandInBlock> owner{platform::qt::WM_APP_OPTS_VIDEO};
};

}  // namespace

TEST_F(OptsTreeTest, TreeFromTheCaptionsOpensOnTheMediaDocument) {
  COptsTree sheet("Options", &owner);
  sheet.OnInitDialog();
  QTreeWidget* tree = sheet.Tree();
  EXPECT_TRUE(tree->isHeaderHidden());
  ASSERT_EQ(tree->topLevelItemCount(), 5);
  std::vector<std::string> top;
  int deviceItems = 0;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    top.push_back(tree->topLevelItem(i)->text(0).toStdString());
    deviceItems += tree->topLevelItem(i)->childCount();
  }
  EXPECT_EQ(top,
            (std::vector<std::string>{"General", "Media document", "DV Camcoder", "WebCam", "TV Tuner"}));
  EXPECT_EQ(deviceItems, 6);
  EXPECT_EQ(sheet.PageCount(), 14);
  EXPECT_EQ(TreePath(tree->currentItem()), "Media document");
  EXPECT_EQ(sheet.ActivePage(), sheet.MediaDocumentPage());
  EXPECT_TRUE(sheet.MediaDocumentPage()->Initialized());
  EXPECT_EQ(sheet.MediaDocumentPage()->Owner(), &owner);
  EXPECT_EQ(sheet.GeneralPage()->Owner(), nullptr);
  // The three assistant pages of a kind share one item, which leads to the
  // page of the last pass.
  EXPECT_EQ(TreePropSheet::PageIndexOf(ItemAt(tree, "WebCam/Assistant Channel")), 12);
  EXPECT_EQ(TreePropSheet::PageIndexOf(ItemAt(tree, "WebCam/Primary Channel")), 3);
  EXPECT_EQ(sheet.Page(12)->Label().toStdString(), "WebCam::Assistant Channel");

  // The tree is as wide as its widest item needs, never below 150 pixels.
  EXPECT_GE(tree->width(), TreePropSheet::kTreeWidth);
  const QTreeWidgetItem* widest = ItemAt(tree, "DV Camcoder/Assistant Channel");
  sheet.show();
  EXPECT_FALSE(tree->verticalScrollBar()->isVisible());
  EXPECT_FALSE(tree->horizontalScrollBar()->isVisible());
  EXPECT_GE(tree->viewport()->width(),
            tree->visualItemRect(widest).left() + tree->fontMetrics().horizontalAdvance(widest->text(0)));
}

TEST_F(OptsTreeTest, GroupItemShowsItsMessageInsteadOfAPage) {
  COptsTree sheet("Options", &owner);
  sheet.OnInitDialog();
  for (const char* group : {"WebCam", "TV Tuner"}) {
    sheet.Tree()->setCurrentItem(ItemAt(sheet.Tree(), group));
    EXPECT_EQ(sheet.ActiveIndex(), -1);
    EXPECT_TRUE(sheet.EmptyPageShown());
    EXPECT_EQ(sheet.EmptyPageText().toStdString(),
              std::string("Please select a child item of '") + group + "'.");
    EXPECT_EQ(sheet.EmptyPageLabel()->alignment(), Qt::AlignCenter);
  }
  sheet.Tree()->setCurrentItem(ItemAt(sheet.Tree(), "General"));
  EXPECT_EQ(sheet.ActivePage(), sheet.GeneralPage());
  EXPECT_FALSE(sheet.EmptyPageShown());
}

TEST_F(OptsTreeTest, CtrlTabWalksTheTreeFromEveryKindOfFocusAndBothBackwardFormsStepOnce) {
  COptsTree sheet("Options", &owner);
  sheet.OnInitDialog();
  sheet.show();
  QApplication::setActiveWindow(&sheet);
  auto* media = StandIn(sheet.MediaDocumentPage());
  ASSERT_NE(media, nullptr);

  struct Step {
    const char* focus;
    int key;
    Qt::KeyboardModifiers mods;
    const char* expected;
  };
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
  const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
  // From "Media document": on, then back by each backward form, then across
  // the ends both ways.
  const Step steps[] = {
      {"edit", Qt::Key_Tab, ctrl, "DV Camcoder"},
      {"tree", Qt::Key_Tab, ctrlShift, "Media document"},
      {"text", Qt::Key_Tab, ctrl, "DV Camcoder"},
      {"tree", Qt::Key_Backtab, ctrlShift, "Media document"},
      {"spin", Qt::Key_Backtab, ctrlShift, "General"},
      {"tree", Qt::Key_Backtab, ctrlShift, "TV Tuner/Assistant Channel"},
      {"tree", Qt::Key_Tab, ctrl, "General"},
  };
  for (const Step& s : steps) {
    QWidget* focus = sheet.Tree();
    if (std::string(s.focus) == "edit") focus = media->edit;
    if (std::string(s.focus) == "text") focus = media->text;
    if (std::string(s.focus) == "spin") focus = media->spin;
    ASSERT_TRUE(focus->isVisible()) << s.focus;
    focus->setFocus();
    Press(focus, s.key, s.mods);
    EXPECT_EQ(TreePath(sheet.Tree()->currentItem()), s.expected) << s.focus << " " << s.key;
  }
}

TEST_F(OptsTreeTest, RefusingPageKeepsTheSelectionAndTheSheetOpen) {
  COptsTree sheet("Options", &owner);
  sheet.OnInitDialog();
  auto* media = StandIn(sheet.MediaDocumentPage());
  media->refuse = true;
  for (const char* other : {"General", "WebCam", "WebCam/Primary Channel"}) {
    sheet.Tree()->setCurrentItem(ItemAt(sheet.Tree(), other));
    EXPECT_EQ(TreePath(sheet.Tree()->currentItem()), "Media document") << other;
    EXPECT_EQ(sheet.ActivePage(), media) << other;
    EXPECT_FALSE(sheet.EmptyPageShown());
  }
  sheet.SelectNextTreeItem();
  EXPECT_EQ(TreePath(sheet.Tree()->currentItem()), "Media document");
  sheet.AcceptSheet();
  EXPECT_EQ(sheet.result(), 0) << "OK must not close over a refusing page";
  EXPECT_TRUE(owner.written.empty());
  media->refuse = false;
  sheet.Tree()->setCurrentItem(ItemAt(sheet.Tree(), "WebCam"));
  EXPECT_EQ(sheet.ActiveIndex(), -1);
}

TEST_F(OptsTreeTest, OkWritesOnlyTheShownPagesCancelNothingAndReadOnlyNothing) {
  {
    COptsTree sheet("Options", &owner);
    sheet.OnInitDialog();
    sheet.Tree()->setCurrentItem(ItemAt(sheet.Tree(), "WebCam/Primary Channel"));
    sheet.AcceptSheet();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    // The media page and the one device page shown; the General page has
    // no owner and sends nothing.
    EXPECT_EQ(owner.written.size(), 2u);
    int initialized = 0;
    for (int i = 0; i < sheet.PageCount(); ++i) initialized += sheet.Page(i)->Initialized() ? 1 : 0;

    EXPECT_EQ(initialized, 3);
  }
  owner.written.clear();
  {
    COptsTree sheet("Options", &owner);
    sheet.OnInitDialog();
    sheet.Tree()->setCurrentItem(ItemAt(sheet.Tree(), "TV Tuner/Primary Channel"));
    sheet.reject();
    EXPECT_TRUE(owner.written.empty());
  }
  {
    COptsTree sheet("Options (Read only)", &owner);
    sheet.SetReadOnly(true);
    sheet.OnInitDialog();
    EXPECT_EQ(sheet.windowTitle().toStdString(), "Options (Read only)");
    EXPECT_EQ(sheet.OkButton()->text().toStdString(), "Close");
    EXPECT_FALSE(sheet.CancelButton()->isEnabled());
    EXPECT_FALSE(sheet.GeneralPage()->isEnabled());
    EXPECT_TRUE(sheet.MediaDocumentPage()->ReadOnly());
    for (int i = 2; i < sheet.PageCount(); ++i) EXPECT_TRUE(sheet.Page(i)->ReadOnly()) << i;
    sheet.Tree()->setCurrentItem(ItemAt(sheet.Tree(), "DV Camcoder/Primary Channel"));
    sheet.AcceptSheet();
    EXPECT_TRUE(owner.written.empty());
  }
}

TEST_F(OptsTreeTest, AddingAPageToAnOpenSheetRebuildsTheTreeAndKeepsTheActiveItem) {
  COptsTree sheet("Options", &owner);
  sheet.OnInitDialog();
  sheet.AddPage(new TStandInPage("Extra::Late page"));
  EXPECT_NE(ItemAt(sheet.Tree(), "Extra/Late page"), nullptr);
  EXPECT_EQ(TreePath(sheet.Tree()->currentItem()), "Media document");
}

// The list and tab sheets honour a page that refuses to be left too.
TEST_F(OptsTreeTest, ListAndTabSheetsKeepARefusingPage) {
  for (std::int32_t category : {OPTCAT_DOCUMENT, OPTCAT_CUSTOMIZE}) {
    SCOPED_TRACE(category);
    std::vector<std::unique_ptr<TScopedPageFactory>> scopes;
    for (TOptsPageKind kind : {PAGE_OPEN_MEDIA_SOURCE, PAGE_APP_LOOK, PAGE_TOOLBAR})
      scopes.push_back(std::make_unique<TScopedPageFactory>(kind, [] { return new TStandInPage("other"); }));
    ZarnOptions::CZarnOptions sheet("Options", &owner, category);
    sheet.OnInitDialog();
    auto* shown = StandIn(sheet.ActivePage());
    ASSERT_NE(shown, nullptr);
    shown->refuse = true;
    const int before = sheet.ActiveIndex();
    EXPECT_FALSE(sheet.SetActivePage(0));
    EXPECT_EQ(sheet.ActiveIndex(), before);
    EXPECT_EQ(sheet.ActivePage(), shown);
    // Through the list row or the tab, as the user picks them.
    if (auto* list = sheet.findChild<QListWidget*>()) {
      list->setCurrentRow(2);
      EXPECT_EQ(list->currentRow(), before);
    }
    if (auto* tabs = sheet.findChild<QTabWidget*>()) {
      tabs->setCurrentIndex(2);
      EXPECT_EQ(tabs->currentIndex(), before);
      EXPECT_EQ(tabs->currentWidget(), shown);
    }
    EXPECT_EQ(sheet.ActivePage(), shown);
    EXPECT_FALSE(sheet.Page(PAGE_GENERAL)->Initialized());
    sheet.AcceptSheet();
    EXPECT_EQ(sheet.result(), 0);
    EXPECT_TRUE(owner.written.empty());
    shown->refuse = false;
    EXPECT_TRUE(sheet.SetActivePage(0));
    EXPECT_EQ(sheet.ActiveIndex(), 0);
  }
}
