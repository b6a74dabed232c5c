// The "AVI" page on a test owner: the file type shown and sent for every
// value the owner may hold, the owner's other bytes carried, the silent
// owner and the read-only sheet, and the shown sheet's layout.

#include "options/opts_avi.h"

#include <QApplication>
#include <QDir>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"

using namespace ZarnTypes;
using OptsAvi::COptsAvi;

namespace {

class AviPage : public tovrin_test::TPageSheetTest<TAviExchange, COptsAvi> {
 protected:
  AviPage() : TPageSheetTest(platform::qt::WM_APP_OPTS_AVI, OPTCAT_AVI, OptsPage::PAGE_AVI) {
    owner.values.format = 9;
    owner.values.reserved12 = 0x1234567;
    owner.values.reserved20 = -77;
  }
};

}  // namespace

// Type 2 alone opens as "AVI file Type 2"; every other value as type 1,
// and an untouched OK sends what is shown, the other bytes as read.
TEST_F(AviPage, EveryTypeOtherThanTwoOpensAndIsSentAsTypeOne) {
  struct TCase {
    std::int32_t held, sent;
  };
  const TCase cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 1}, {-2, 1}, {0x102, 1}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.held);
    owner.values.aviFileType = c.held;
    COptsAvi* page = Open();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->Label(), "AVI");
    EXPECT_EQ(page->Type2Button()->isChecked(), c.held == 2);
    EXPECT_EQ(page->Type1Button()->isChecked(), c.held != 2);
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    const TAviExchange& w = owner.written[0];
    EXPECT_EQ(w.aviFileType, c.sent);
    EXPECT_EQ(w.format, 9);
    EXPECT_EQ(w.reserved12, 0x1234567);
    EXPECT_EQ(w.reserved20, -77);
    EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ, OPTS_XCHG_WRITE}));
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(AviPage, TheChosenTypeIsSentAndCancelSendsNothing) {
  for (std::int32_t from : {1, 2}) {
    SCOPED_TRACE(from);
    owner.values.aviFileType = from;
    COptsAvi* page = Open();
    (from == 1 ? page->Type2Button() : page->Type1Button())->click();
    EXPECT_NE(page->Type1Button()->isChecked(), page->Type2Button()->isChecked());
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].aviFileType, 3 - from);
  }
  COptsAvi* page = Open();
  page->Type1Button()->click();
  sheet->reject();
  EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
}

TEST_F(AviPage, SilentOwnerReadOnlyAndRefusedWrite) {
  ExpectSilentOwnerReported("Configuration data for Avi file are not available",
                            "Configuration data for Avi file can not be set");
  ExpectReadOnlySendsNothing(false);
}

TEST_F(AviPage, ShownSheetShowsEveryTextWhole) {
  owner.values.aviFileType = 2;
  COptsAvi* page = OpenShown();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  EXPECT_LE(sheet->width(), 1280);
  if (const char* folder = std::getenv("TOVRIN_SHOT_DIR")) {
    EXPECT_TRUE(sheet->grab().save(QDir(QString::fromLocal8Bit(folder)).filePath("avi_page.png"), "PNG"));
  }
  sheet->hide();
}
