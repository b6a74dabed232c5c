// The Windows Media page on a test owner: which profiles each format lists
// and how they are numbered, the profile selected for the owner's id, the
// description of the chosen entry, what OK sends (also without a
// selection), the sheet that ends when no profile fits, the silent owner,
// and the shown sheet's layout with every profile's description.

#include "options/opts_wmf.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "io/dshow/dshow_util.h"
#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"

using namespace ZarnTypes;
using OptsWmf::COptsWmf;

namespace {

using TId = std::array<std::uint8_t, 16>;

// The table's profiles with exactly the given streams, in table order.
std::vector<const DShowMgr::TWmProfile*> TableProfiles(bool video, bool audio) {
  std::vector<const DShowMgr::TWmProfile*> out;
  for (const DShowMgr::TWmProfile& p : DShowMgr::WmProfileTable())
    if (p.bVideo == video && p.bAudio == audio) out.push_back(&p);
  return out;
}

std::vector<std::string> Entries(const QComboBox* list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->count(); ++i) out.push_back(list->itemText(i).toStdString());
  return out;
}

TId IdOf(std::uint8_t last) {
  TId id{};
  id[0] = 0xEE;
  id[15] = last;
  return id;
}

// Puts a lister in place for one test and restores the program's own.
class TScopedLister {
 public:
  explicit TScopedLister(OptsWmf::TProfileLister lister)
      : m_previous(OptsWmf::SetProfileLister(std::move(lister))) {}
  ~TScopedLister() { OptsWmf::SetProfileLister(std::move(m_previous)); }
  TScopedLister(const TScopedLister&) = delete;
  TScopedLister& operator=(const TScopedLister&) = delete;

 private:
  OptsWmf::TProfileLister m_previous;
};

// A lister of fixed profiles (name, id), every one whatever was asked;
// the description is the name with " text".
OptsWmf::TProfileLister FixedLister(std::vector<std::pair<std::string, TId>> profiles) {
  return [profiles = std::move(profiles)](DShowMgr::TWmProfileList& list) {
    for (const auto& [name, id] : profiles) {
      list.pNames->push_back(name);
      list.pDescriptions->push_back(name + " text");
      list.pIds->push_back(id);
    }
    list.nCount = static_cast<std::int32_t>(profiles.size());
    return true;
  };
}

class WmfPage : public tovrin_test::TPageSheetTest<TWmfExchange, COptsWmf> {
 protected:
  WmfPage() : TPageSheetTest(platform::qt::WM_APP_OPTS_WMF, OPTCAT_WMV, OptsPage::PAGE_WMF) {
    owner.values.format = 10;
    owner.values.reserved12 = 0x0BADF00D;
    for (std::size_t i = 0; i < 7; ++i) owner.values.reserved33[i] = static_cast<std::uint8_t>(0x30 + i);
    for (std::size_t i = 0; i < 15; ++i) owner.values.reserved41[i] = static_cast<std::uint8_t>(0x90 + i);
  }
};

}  // namespace

// The kinds each format asks for, the entries numbered from "0: " in the
// table's order, entry 0 chosen for a null id with its description shown,
// and an untouched OK sending that entry's id with the owner's other bytes.
TEST_F(WmfPage, EachFormatListsTheProfilesOfItsKindNumberedFromZero) {
  struct TCase {
    std::int32_t format;
    bool video, audio;
  };
  const TCase cases[] = {{10, true, true}, {11, true, true}, {20, false, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.format);
    owner.values.format = c.format;
    COptsWmf* page = Open();
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->InitResult());
    EXPECT_EQ(page->WantsVideo(), c.video);
    EXPECT_EQ(page->WantsAudio(), c.audio);
    const auto profiles = TableProfiles(c.video, c.audio);
    ASSERT_FALSE(profiles.empty());
    std::vector<std::string> want;
    for (std::size_t i = 0; i < profiles.size(); ++i)
      want.push_back(std::to_string(i) + ": " + profiles[i]->pName);
    EXPECT_EQ(Entries(page->ProfileList()), want);
    EXPECT_EQ(page->ProfileList()->currentIndex(), 0);
    EXPECT_EQ(page->Description()->text().toStdString(), profiles[0]->pDescription);
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    const TWmfExchange& w = owner.written[0];
    EXPECT_EQ(w.profile, profiles[0]->id);
    EXPECT_EQ(w.format, c.format);
    TWmfExchange expected = owner.values;
    expected.profile = profiles[0]->id;
    EXPECT_TRUE(tovrin_test::SameOwnerBytes(w, expected, 48));
  }
  EXPECT_TRUE(sink.Texts().empty());
}

// A known id selects its entry; an id the list does not hold selects and
// sends the first profile.
TEST_F(WmfPage, TheOwnersIdSelectsItsEntryAndAnUnknownOneTheFirst) {
  const auto profiles = TableProfiles(true, true);
  ASSERT_GE(profiles.size(), 3u);
  const auto audioOnly = TableProfiles(false, true);
  ASSERT_FALSE(audioOnly.empty());
  struct TCase {
    const char* name;
    TId id;
    int selected;
  };
  const TCase cases[] = {
      {"third", profiles[2]->id, 2},
      {"second", profiles[1]->id, 1},
      {"unknown", IdOf(0x42), 0},
      {"of another kind", audioOnly[0]->id, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    owner.values.profile = c.id;
    COptsWmf* page = Open();
    EXPECT_EQ(page->ProfileList()->currentIndex(), c.selected);
    EXPECT_EQ(page->Description()->text().toStdString(),
              profiles[static_cast<std::size_t>(c.selected)]->pDescription);
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].profile, profiles[static_cast<std::size_t>(c.selected)]->id);
  }
}

// A list with an empty name ends there: the profiles after it are neither
// shown nor selected by their id.
TEST_F(WmfPage, AnEmptyNameEndsTheList) {
  TScopedLister lister(
      FixedLister({{"Alpha", IdOf(1)}, {"Beta", IdOf(2)}, {"", IdOf(3)}, {"Delta", IdOf(4)}}));
  owner.values.profile = IdOf(4);
  COptsWmf* page = Open();
  EXPECT_EQ(Entries(page->ProfileList()), (std::vector<std::string>{"0: Alpha", "1: Beta"}));
  EXPECT_EQ(page->ProfileList()->currentIndex(), 0);
  EXPECT_EQ(page->Description()->text(), "Alpha text");
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].profile, IdOf(1));

  owner.values.profile = IdOf(2);
  page = Open();
  EXPECT_EQ(page->ProfileList()->currentIndex(), 1);
  EXPECT_EQ(page->Description()->text(), "Beta text");
}

// Choosing an entry shows its description; OK sends its id and both
// check boxes, every reserved byte as read.
TEST_F(WmfPage, TheChosenProfileAndBothFlagsAreSentWithTheReservedBytes) {
  const auto profiles = TableProfiles(true, true);
  ASSERT_GE(profiles.size(), 2u);
  struct TCase {
    std::uint8_t custom, fresh;  // as the owner holds them
    bool clickCustom, clickFresh;
  };
  const TCase cases[] = {{0, 0, true, false},
                         {0, 0, false, true},
                         {1, 1, true, true},
                         {1, 0, false, false},
                         {0, 1, false, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.custom} << int{c.fresh} << c.clickCustom << c.clickFresh);
    owner.values.customSampling = c.custom;
    owner.values.newProfile = c.fresh;
    COptsWmf* page = Open();
    EXPECT_EQ(page->CustomSamplingBox()->isChecked(), c.custom != 0);
    EXPECT_EQ(page->NewProfileBox()->isChecked(), c.fresh != 0);
    page->ProfileList()->setCurrentIndex(1);
    emit page->ProfileList()->activated(1);
    EXPECT_EQ(page->Description()->text().toStdString(), profiles[1]->pDescription);
    if (c.clickCustom) page->CustomSamplingBox()->click();
    if (c.clickFresh) page->NewProfileBox()->click();
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    TWmfExchange expected = owner.values;
    expected.profile = profiles[1]->id;
    expected.customSampling = static_cast<std::uint8_t>((c.custom != 0) != c.clickCustom);
    expected.newProfile = static_cast<std::uint8_t>((c.fresh != 0) != c.clickFresh);
    EXPECT_TRUE(tovrin_test::SameOwnerBytes(owner.written[0], expected, 48));
  }
}

TEST_F(WmfPage, OkWithoutASelectionSendsNothing) {
  owner.values.customSampling = 1;
  COptsWmf* page = Open();
  page->CustomSamplingBox()->click();
  page->ProfileList()->setCurrentIndex(-1);
  sheet->AcceptSheet();
  EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
  EXPECT_TRUE(sink.Texts().empty());
}

// Formats other than WMV, ASF and WMA ask for no kind, and a lister that
// finds nothing lists nothing: the page says so and the sheet ends with
// Cancel, sending nothing.
TEST_F(WmfPage, NoProfileOfTheKindEndsTheSheetWithCancel) {
  auto expectEnded = [this] {
    COptsWmf* page = Open();
    EXPECT_FALSE(page->InitResult());
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{OptsWmf::kNoProfiles});
    EXPECT_EQ(std::string(OptsWmf::kNoProfiles),
              "There are no Windows Media Format profiles of the selected type(s) available");
    bool rejected = false;
    QObject::connect(sheet.get(), &QDialog::rejected, sheet.get(), [&rejected] { rejected = true; });
    QApplication::processEvents();
    EXPECT_TRUE(rejected);
    EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
    sink.Clear();
  };
  for (std::int32_t format : {9, 0, 12, 15}) {
    SCOPED_TRACE(format);
    owner.values.format = format;
    expectEnded();
  }
  owner.values.format = 10;
  TScopedLister none([](DShowMgr::TWmProfileList& list) {
    list.nCount = 0;
    return true;
  });
  expectEnded();
  // A modal run of such a sheet returns Cancel by itself.
  ZarnOptions::CZarnOptions modal(QStringLiteral("Options"), &owner, OPTCAT_WMV);
  QTimer::singleShot(5000, &modal, [&modal] { modal.done(QDialog::Accepted); });  // bound on a fault
  EXPECT_EQ(modal.DoModal(), 2);
  sink.Clear();
}

TEST_F(WmfPage, SheetsLabelThePageByCategory) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {OPTCAT_WMF, "WMF"}, {OPTCAT_WMV, "WMV"}, {OPTCAT_WMA, "WMA"}, {OPTCAT_ASF, "ASF"}};
  for (const auto& [category, label] : cases) {
    ZarnOptions::CZarnOptions s(QStringLiteral("Options"), &owner, category);
    ASSERT_NE(s.Page(OptsPage::PAGE_WMF), nullptr) << label;
    EXPECT_EQ(s.Page(OptsPage::PAGE_WMF)->Label(), label);
  }
}

TEST_F(WmfPage, SilentOwnerReadOnlyAndRefusedWrite) {
  ExpectSilentOwnerReported("Configuration data for Wmf file/stream are not available",
                            "Configuration data for Wmf file/stream can not be set");
  ExpectReadOnlySendsNothing(false);
}

// Shown: every text whole, the longest entry in the closed list, and each
// profile's description wrapped inside its box.
TEST_F(WmfPage, ShownSheetShowsEveryEntryAndDescriptionWhole) {
  COptsWmf* page = OpenShown();
  ASSERT_NE(page, nullptr);
  EXPECT_LE(sheet->width(), 1280);
  const auto profiles = TableProfiles(true, true);
  ASSERT_EQ(page->ProfileList()->count(), static_cast<int>(profiles.size()));
  EXPECT_EQ(page->ProfileList()->itemText(0), "0: Video for local area network (768 Kbps)");
  for (int i = 0; i < page->ProfileList()->count(); ++i) {
    SCOPED_TRACE(i);
    page->ProfileList()->setCurrentIndex(i);
    emit page->ProfileList()->activated(i);
    QApplication::processEvents();
    QLabel* d = page->Description();
    EXPECT_EQ(d->text().toStdString(), profiles[static_cast<std::size_t>(i)]->pDescription);
    EXPECT_TRUE(d->wordWrap());
    EXPECT_LE(d->heightForWidth(d->width()), d->height());
    EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  }
  page->ProfileList()->setCurrentIndex(0);
  emit page->ProfileList()->activated(0);
  QApplication::processEvents();
  if (const char* folder = std::getenv("TOVRIN_SHOT_DIR")) {
    EXPECT_TRUE(sheet->grab().save(QDir(QString::fromLocal8Bit(folder)).filePath("wmv_page.png"), "PNG"));
  }
  sheet->hide();
}
