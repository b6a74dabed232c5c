#include "options/zarn_options.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "options/opts_file_format.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsPage;
using namespace ZarnOptions;
using namespace ZarnTypes;
using tovrin_test::TScopedPageFactory;
using tovrin_test::TTestOwner;

namespace {

struct TTestBlock {
  TOptsExchangeHeader header;
  std::int32_t value = 0;
};
static_assert(offsetof(TTestBlock, value) == 8);

// A page that reads one number and writes it back plus what the user added.
class TTestPage : public COptsPage {
 public:
  explicit TTestPage(QString label) : COptsPage(std::move(label)) {}
  void OnOK() override {
    m_block.value += added;
    WriteBlock(platform::qt::WM_APP_OPTS_VIDEO, 0, m_block, "test write failed");
  }
  std::int32_t shown = -1;
  std::int32_t added = 0;

 protected:
  bool OnInitDialog() override {
    if (!ReadBlock(platform::qt::WM_APP_OPTS_VIDEO, 0, m_block, "test read failed")) return false;
    shown = m_block.value;
    if (ReadOnly()) setEnabled(false);
    return true;
  }

 private:
  TTestBlock m_block;
};

// Test pages for every kind, labelled by kind, for one test.
class TAllPages {
 public:
  TAllPages() {
    for (int k = 0; k < PAGE_KIND_COUNT; ++k)
      m_scopes.push_back(std::make_unique<TScopedPageFactory>(
          static_cast<TOptsPageKind>(k), [k] { return new TTestPage(QStringLiteral("kind%1").arg(k)); }));
  }

 private:
  std::vector<std::unique_ptr<TScopedPageFactory>> m_scopes;
};

std::vector<QString> Labels(const CZarnOptions& sheet) {
  std::vector<QString> out;
  for (COptsPage* p : sheet.Pages()) out.push_back(p->Label());
  return out;
}

QString K(TOptsPageKind kind) { return QStringLiteral("kind%1").arg(static_cast<int>(kind)); }

class ZarnOptionsTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  TAllPages pages;
  TTestOwner<TTestBlock> owner{platform::qt::WM_APP_OPTS_VIDEO};
};

}  // namespace

TEST_F(ZarnOptionsTest, CategoriesAddTheirPagesInOrderAndOpenOnTheMarkedPage) {
  struct TCase {
    std::int32_t category;
    std::vector<QString> labels;
    int active;
    std::int32_t look;
  };
  const std::vector<TCase> cases = {
      {28,
       {K(PAGE_GENERAL), K(PAGE_MEDIA_DOCUMENT), K(PAGE_OPEN_MEDIA_SOURCE), K(PAGE_READ_STREAM),
        K(PAGE_SAVE_STREAM), K(PAGE_SAVE_IMAGE), K(PAGE_VIDEO), K(PAGE_VIDEO_PANE), K(PAGE_PIP),
        K(PAGE_DIRECTSHOW)},
       1,
       PropSheetLook_List},
      {29,
       {K(PAGE_GENERAL), K(PAGE_APP_LOOK), K(PAGE_TOOLBAR), K(PAGE_MDI_TABS), K(PAGE_MSG_BOX)},
       1,
       PropSheetLook_Tabs},
      {7, {K(PAGE_READ_STREAM)}, 0, PropSheetLook_Tabs},
      {17, {K(PAGE_YUV)}, 0, PropSheetLook_Tabs},
      {22, {K(PAGE_TIFF)}, 0, PropSheetLook_Tabs},
      {37, {K(PAGE_DVD_NAVIGATE)}, 0, PropSheetLook_Tabs},
      {9, {"WMF"}, 0, PropSheetLook_Tabs},
      {10, {"WMV"}, 0, PropSheetLook_Tabs},
      {11, {"WMA"}, 0, PropSheetLook_Tabs},
      {12, {"ASF"}, 0, PropSheetLook_Tabs},
      {5, {}, -1, PropSheetLook_Tabs},
      {40, {}, -1, PropSheetLook_Tabs},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.category);
    CZarnOptions sheet("Options", &owner, c.category);
    sheet.OnInitDialog();
    EXPECT_EQ(Labels(sheet), c.labels);
    EXPECT_EQ(sheet.Look(), c.look);
    EXPECT_EQ(sheet.ActiveIndex(), c.active);
  }
}

TEST_F(ZarnOptionsTest, OnlyTheActivePageReadsAtOpeningAndOkWritesOnlyVisitedPages) {
  owner.values.value = 41;
  CZarnOptions sheet("Options: Customize", &owner, OPTCAT_CUSTOMIZE);
  sheet.OnInitDialog();
  auto* look = static_cast<TTestPage*>(sheet.Page(PAGE_APP_LOOK));
  auto* tabs = static_cast<TTestPage*>(sheet.Page(PAGE_MDI_TABS));
  auto* general = static_cast<TTestPage*>(sheet.Page(PAGE_GENERAL));
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  EXPECT_EQ(look->shown, 41);
  EXPECT_FALSE(general->Initialized());

  sheet.SetActivePage(3);  // MDI tabs: read on first display only
  sheet.SetActivePage(1);
  sheet.SetActivePage(3);
  EXPECT_EQ(owner.ops.size(), 2u);
  EXPECT_EQ(tabs->shown, 41);

  look->added = 1;
  tabs->added = 2;
  sheet.AcceptSheet();
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  ASSERT_EQ(owner.written.size(), 2u);
  EXPECT_EQ(owner.written[0].value, 42);
  EXPECT_EQ(owner.written[1].value, 43);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ZarnOptionsTest, CancelWritesNothing) {
  CZarnOptions sheet("Options", &owner, OPTCAT_PIP);
  QTimer::singleShot(0, &sheet, [&] { sheet.CancelButton()->click(); });
  EXPECT_EQ(sheet.DoModal(), 2);
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  EXPECT_TRUE(owner.written.empty());
}

TEST_F(ZarnOptionsTest, OkButtonEndsTheModalRunWithIdOkAfterTheWrites) {
  owner.values.value = 5;
  CZarnOptions sheet("Options", &owner, OPTCAT_PIP);
  QTimer::singleShot(0, &sheet, [&] { sheet.OkButton()->click(); });
  EXPECT_EQ(sheet.DoModal(), 1);
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].value, 5);
}

TEST_F(ZarnOptionsTest, UnansweredReadIsReportedAndNothingIsWrittenOnOk) {
  owner.answer = false;
  CZarnOptions sheet("Options", &owner, OPTCAT_PIP);
  sheet.OnInitDialog();
  auto* page = static_cast<TTestPage*>(sheet.Page(PAGE_PIP));
  EXPECT_FALSE(page->InitResult());
  EXPECT_TRUE(page->ReadFailed());
  EXPECT_EQ(page->shown, -1);  // controls stay unfilled
  EXPECT_TRUE(page->isEnabled());
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"test read failed"}));

  // Now the owner would answer, but the page holds none of its values: it
  // must not overwrite them with unfilled controls.
  owner.answer = true;
  sheet.AcceptSheet();
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  EXPECT_TRUE(owner.written.empty());
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"test read failed", "test write failed"}));
  EXPECT_EQ(sheet.result(), QDialog::Accepted);  // the sheet closes all the same
}

TEST_F(ZarnOptionsTest, UnansweredWriteIsReported) {
  CZarnOptions sheet("Options", &owner, OPTCAT_PIP);
  sheet.OnInitDialog();
  owner.answer = false;
  sheet.AcceptSheet();
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ, OPTS_XCHG_WRITE}));
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"test write failed"}));
}

TEST_F(ZarnOptionsTest, ReadOnlySheetClosesOnlyAndMarkedPagesSendNoWrite) {
  owner.values.value = 9;
  CZarnOptions sheet("Options (Read only)", &owner, OPTCAT_DOCUMENT);
  sheet.SetReadOnly(true);
  sheet.OnInitDialog();
  EXPECT_EQ(sheet.OkButton()->text(), "Close");
  EXPECT_FALSE(sheet.CancelButton()->isEnabled());
  for (int k = 0; k < PAGE_KIND_COUNT; ++k) {
    COptsPage* page = sheet.Page(static_cast<TOptsPageKind>(k));
    if (!page) continue;
    const bool unmarked = k == PAGE_OPEN_MEDIA_SOURCE || k == PAGE_DIRECTSHOW;
    EXPECT_EQ(page->ReadOnly(), !unmarked) << k;
  }
  auto* doc = static_cast<TTestPage*>(sheet.Page(PAGE_MEDIA_DOCUMENT));
  EXPECT_EQ(doc->shown, 9);  // read-only pages still show the owner's values
  EXPECT_FALSE(doc->isEnabled());

  sheet.SetActivePage(9);  // DirectShow: not marked, so it writes
  sheet.AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ, OPTS_XCHG_READ, OPTS_XCHG_WRITE}));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ZarnOptionsTest, APageThatWritesWhenReadOnlySendsInAReadOnlySheet) {
  // The files-of-type page hands its block back even while marked read-only.
  class TAlwaysWrites : public TTestPage {
   public:
    TAlwaysWrites() : TTestPage(QStringLiteral("Files of type")) {}

   protected:
    bool WritesWhenReadOnly() const override { return true; }
  };
  TScopedPageFactory filesOfType(PAGE_FILES_OF_TYPE, [] { return new TAlwaysWrites; });
  owner.values.value = 4;
  for (const bool special : {true, false}) {
    SCOPED_TRACE(special ? "writes when read-only" : "an ordinary page");
    owner.written.clear();
    CZarnOptions sheet("Files of type", &owner, special ? OPTCAT_FILES_OF_TYPE : OPTCAT_PIP);
    sheet.SetReadOnly(true);
    sheet.OnInitDialog();
    ASSERT_TRUE(sheet.ActivePage());
    EXPECT_TRUE(sheet.ActivePage()->ReadOnly());
    static_cast<TTestPage*>(sheet.ActivePage())->added = 1;
    sheet.AcceptSheet();
    ASSERT_EQ(owner.written.size(), special ? 1u : 0u);
    if (special) {
      EXPECT_EQ(owner.written[0].value, 5);
    }
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ZarnOptionsTest, ReadOnlyMarksCoverTheCustomizeAndDvdKinds) {
  EXPECT_TRUE(IsReadOnlyMarkedKind(PAGE_GENERAL));
  EXPECT_TRUE(IsReadOnlyMarkedKind(PAGE_MSG_BOX));
  EXPECT_TRUE(IsReadOnlyMarkedKind(PAGE_DVD_NAVIGATE));
  EXPECT_TRUE(IsReadOnlyMarkedKind(PAGE_TRANSFORM_2D));
  EXPECT_TRUE(IsReadOnlyMarkedKind(PAGE_YUV));
  EXPECT_FALSE(IsReadOnlyMarkedKind(PAGE_TOOLBAR));
  EXPECT_FALSE(IsReadOnlyMarkedKind(PAGE_DVD));
  EXPECT_FALSE(IsReadOnlyMarkedKind(PAGE_OPEN_MEDIA_SOURCE));
  EXPECT_FALSE(IsReadOnlyMarkedKind(PAGE_DIRECTSHOW));
}

TEST_F(ZarnOptionsTest, DvdPagesLearnTheirCategory) {
  for (std::int32_t category : {34, 35, 36}) {
    CZarnOptions sheet("DVD", &owner, category);
    ASSERT_NE(sheet.Page(PAGE_DVD), nullptr);
    EXPECT_EQ(sheet.Page(PAGE_DVD)->Category(), category);
  }
}

TEST_F(ZarnOptionsTest, RunOptionsSheetRefusesCategoriesWithoutACaption) {
  for (std::int32_t category : {0, 1, 17, 28, 38, 40}) {
    EXPECT_FALSE(RunOptionsSheet(&owner, category)) << category;
    EXPECT_TRUE(RunOptionsSheetCaption(category).isEmpty());
  }
  EXPECT_TRUE(owner.ops.empty());  // no sheet was built
  EXPECT_EQ(RunOptionsSheetCaption(13), "Graph");
  EXPECT_EQ(RunOptionsSheetCaption(16), "Settings");
  EXPECT_EQ(RunOptionsSheetCaption(29), "Options: Customize");
  EXPECT_EQ(RunOptionsSheetCaption(35), "DVD");
  EXPECT_EQ(RunOptionsSheetCaption(39), "Options");
}

TEST_F(ZarnOptionsTest, RunOptionsSheetReportsOkOnly) {
  bool ok = false;
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* s = qobject_cast<CZarnOptions*>(w); s && s->isVisible()) s->OkButton()->click();
  });
  ok = RunOptionsSheet(&owner, OPTCAT_TRANSFORM_2D);
  EXPECT_TRUE(ok);
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* s = qobject_cast<CZarnOptions*>(w); s && s->isVisible()) s->CancelButton()->click();
  });
  EXPECT_FALSE(RunOptionsSheet(&owner, OPTCAT_TRANSFORM_2D));
}

TEST(OptionsExchange, HeaderLayoutAndSendWithoutOwner) {
  // A block with its own header fields: a byte right after them sits at 5.
  struct TBlock {
    std::int32_t op = 0;
    std::uint8_t answered = 0;
    std::uint8_t flag = 0;
    std::int32_t value = 0;
  };
  static_assert(offsetof(TBlock, flag) == 5);
  static_assert(offsetof(TBlock, value) == 8);
  TBlock block;
  block.answered = 1;
  EXPECT_FALSE(SendOptsBlock(nullptr, platform::qt::WM_APP_OPTS_YUV, 0, block, OPTS_XCHG_WRITE));
  EXPECT_EQ(block.op, OPTS_XCHG_WRITE);
  EXPECT_EQ(block.answered, 0);

  // Sent to an owner, the flattened block is answered like any other.
  TTestOwner<TTestBlock> owner{platform::qt::WM_APP_OPTS_VIDEO};
  TBlock flat;
  flat.flag = 3;
  EXPECT_TRUE(SendOptsBlock(&owner, platform::qt::WM_APP_OPTS_VIDEO, 0, flat, OPTS_XCHG_WRITE));
  EXPECT_EQ(flat.flag, 3);
  EXPECT_EQ(flat.answered, 1);
}

TEST(OptionsExchange, KindsWithoutAPageAreLeftOut) {
  TScopedPageFactory none(PAGE_JPEG, {});
  EXPECT_FALSE(HasOptionsPage(PAGE_JPEG));
  CZarnOptions sheet("Options", nullptr, OPTCAT_JPEG);
  EXPECT_TRUE(sheet.Pages().empty());
  EXPECT_TRUE(HasOptionsPage(PAGE_YUV));  // the program's own YUV page
  EXPECT_NE(dynamic_cast<OptsFileFormat::COptsFileFormat*>(
                CZarnOptions("Options", nullptr, OPTCAT_YUV).Page(PAGE_YUV)),
            nullptr);
}

TEST(OptionsExchange, FailureTextsOfThePages) {
  EXPECT_STREQ(ReadFailedText(PAGE_YUV), OptsFileFormat::COptsFileFormat::kReadFailed);
  EXPECT_STREQ(WriteFailedText(PAGE_YUV), OptsFileFormat::COptsFileFormat::kWriteFailed);
  EXPECT_STREQ(ReadFailedText(PAGE_TIFF), "Configuration data for Tiff file are not available");
  EXPECT_STREQ(WriteFailedText(PAGE_TIFF), "Configuration data for TIFF file can not be set");
  EXPECT_STREQ(ReadFailedText(PAGE_READ_STREAM),
               "Configuration data for \"Read stream\" operatinos are not available");
  EXPECT_STREQ(WriteFailedText(PAGE_REFERENCE_FRAMES),
               "Configuration data for \"Set reference frames\" operation  can not be set");
  EXPECT_STREQ(WriteFailedText(PAGE_MEDIA_DOCUMENT), "");  // it sends nothing on OK
  EXPECT_STREQ(ReadFailedText(PAGE_GENERAL), "");
  EXPECT_STREQ(ReadFailedText(PAGE_MSG_BOX), "");
}
