#include "options/opts_pict_in_pict.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsPictInPict;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

namespace {

// The owner of the page's block that also counts its repaint requests.
class TPipOwner : public TTestOwner<TPictInPictExchange> {
 public:
  TPipOwner() : TTestOwner<TPictInPictExchange>(platform::qt::WM_APP_OPTS_PIP) {
    auto* map = new platform::qt::TMessageMap(this);
    map->On(platform::qt::WM_APP_REPAINT_PANES, [this](platform::qt::WPARAM, platform::qt::LPARAM) {
      ++repaints;
      return platform::qt::LRESULT{1};
    });
  }
  int repaints = 0;
};

TPipPaneRecord Record(int seed) {
  TPipPaneRecord r;
  r.enabled = static_cast<std::uint8_t>(seed % 2);
  r.optionsValue = 1000 + seed;
  r.port = seed % 4;
  r.placement = seed % 2;
  r.x = 10 + seed;
  r.y = 20 + seed;
  r.width = 160 + seed;
  r.height = 120 + seed;
  r.sourceMode = (seed + 1) % 2;
  r.cropX = 1 + seed;
  r.cropY = 2 + seed;
  r.cropWidth = 300 + seed;
  r.cropHeight = 200 + seed;
  r.last = 4000 + seed;
  return r;
}

void Key(QWidget* target, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

// What typing a text into an emptied spin box leaves in it.
QString Typed(QSpinBox* box, const char* text) {
  box->setFocus();
  box->findChild<QLineEdit*>()->selectAll();
  Key(box, Qt::Key_Delete);
  for (const char* p = text; *p; ++p) {
    const QChar ch = QLatin1Char(*p);
    Key(box, ch == QLatin1Char('-') ? int(Qt::Key_Minus) : int(Qt::Key_0) + (*p - '0'), QString(ch));
  }
  return box->findChild<QLineEdit*>()->text();
}

}  // namespace

class PipPage : public tovrin_test::TRecordedMessagesTest {
 protected:
  TPipOwner owner;
  void SetUp() override {
    for (int pane = 0; pane < 4; ++pane) owner.values.panes[pane] = Record(pane);
  }
};

TEST_F(PipPage, ShowsBothPanesAndWritesEveryFieldThenAsksForOneRepaint) {
  COptsPictInPict page;
  page.SetOwner(&owner);
  page.Initialize();
  ASSERT_TRUE(page.InitResult());
  for (int pane = 0; pane < 2; ++pane) {
    SCOPED_TRACE(pane);
    const TPipPaneControls& c = page.Pane(pane);
    const TPipPaneRecord want = Record(pane);
    EXPECT_EQ(c.enabled->isChecked(), want.enabled != 0);
    EXPECT_EQ(c.port->value(), want.port + 1);
    EXPECT_EQ(c.fromPicture->isChecked(), want.placement != 0);
    EXPECT_EQ(c.crop->isChecked(), want.sourceMode != 0);
    const int values[kPipNumberCount] = {want.x,     want.y,     want.width,     want.height,
                                         want.cropX, want.cropY, want.cropWidth, want.cropHeight};
    for (int i = 0; i < kPipNumberCount; ++i)
      EXPECT_EQ(c.numbers[static_cast<std::size_t>(i)]->value(), values[i]);
  }
  EXPECT_EQ(owner.repaints, 0);

  // primary: on, port 1, from the picture, crop; assistant: off, port 4
  const TPipPaneControls& p = page.Pane(0);
  p.enabled->setChecked(true);
  p.port->setValue(1);
  p.fromPicture->setChecked(true);
  p.crop->setChecked(true);
  const int edits[kPipNumberCount] = {-5000, 5000, 5000, 0, 0, 5000, 64, 48};
  for (int i = 0; i < kPipNumberCount; ++i) p.numbers[static_cast<std::size_t>(i)]->setValue(edits[i]);
  const TPipPaneControls& a = page.Pane(1);
  a.enabled->setChecked(false);
  a.port->setValue(4);
  a.fromPane->setChecked(true);
  a.entire->setChecked(true);
  page.OnOK();

  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.repaints, 1);
  const TPictInPictExchange& w = owner.written[0];
  const TPipPaneRecord& r0 = w.panes[0];
  EXPECT_EQ(r0.enabled, 1);
  EXPECT_EQ(r0.port, 0);
  EXPECT_EQ(r0.placement, 1);
  EXPECT_EQ(r0.sourceMode, 1);
  EXPECT_EQ(
      (std::vector<int>{r0.x, r0.y, r0.width, r0.height, r0.cropX, r0.cropY, r0.cropWidth, r0.cropHeight}),
      (std::vector<int>(edits, edits + kPipNumberCount)));
  EXPECT_EQ(w.panes[1].enabled, 0);
  EXPECT_EQ(w.panes[1].port, 3);
  EXPECT_EQ(w.panes[1].placement, 0);
  EXPECT_EQ(w.panes[1].sourceMode, 0);
  // the reserved words and records 3 and 4 come back byte for byte
  for (int pane = 0; pane < 2; ++pane) {
    EXPECT_EQ(w.panes[pane].optionsValue, 1000 + pane);
    EXPECT_EQ(w.panes[pane].last, 4000 + pane);
  }
  for (int pane = 2; pane < 4; ++pane) {
    const TPipPaneRecord want = Record(pane);
    EXPECT_EQ(std::memcmp(&w.panes[pane], &want, sizeof want), 0) << "pane " << pane;
  }
}

TEST_F(PipPage, EnablingFollowsTheCheckBoxAndTheCropRadio) {
  owner.values.panes[0].enabled = 0;
  owner.values.panes[0].sourceMode = 0;
  COptsPictInPict page;
  page.SetOwner(&owner);
  page.Initialize();
  const TPipPaneControls& c = page.Pane(0);
  auto enabledSet = [&c] {
    std::vector<bool> on{c.enabled->isEnabled(),     c.port->isEnabled(),   c.fromPane->isEnabled(),
                         c.fromPicture->isEnabled(), c.entire->isEnabled(), c.crop->isEnabled()};
    for (QSpinBox* box : c.numbers) on.push_back(box->isEnabled());
    return on;
  };
  using V = std::vector<bool>;
  EXPECT_EQ(enabledSet(), (V{true, false, false, false, false, false, false, false, false, false, false,
                             false, false, false}));
  c.enabled->click();
  EXPECT_EQ(enabledSet(),
            (V{true, true, true, true, true, true, true, true, true, true, false, false, false, false}));
  c.crop->click();
  EXPECT_EQ(enabledSet(), V(14, true));
  c.entire->click();
  EXPECT_EQ(enabledSet(),
            (V{true, true, true, true, true, true, true, true, true, true, false, false, false, false}));
  c.crop->click();
  c.enabled->click();
  EXPECT_EQ(enabledSet(), (V{true, false, false, false, false, false, false, false, false, false, false,
                             false, false, false}));
  // the assistant pane is not touched by the primary's controls
  EXPECT_TRUE(page.Pane(1).port->isEnabled());
}

TEST_F(PipPage, SpinBoxesRefuseKeystrokesThatLeaveTheirRange) {
  COptsPictInPict page;
  page.SetOwner(&owner);
  page.Initialize();
  page.show();
  const TPipPaneControls& c = page.Pane(0);
  c.enabled->setChecked(true);
  c.crop->setChecked(true);
  struct Case {
    QSpinBox* box;
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {
      {c.port, "5", ""},
      {c.port, "4", "4"},
      {c.numbers[PIP_WIDTH], "-1", "1"},
      {c.numbers[PIP_X], "-6000", "-600"},
      {c.numbers[PIP_X], "-5000", "-5000"},
      {c.numbers[PIP_WIDTH], "5000", "5000"},
      {c.numbers[PIP_CROP_X], "-3", "3"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.typed));
    EXPECT_EQ(Typed(k.box, k.typed).toStdString(), k.shown);
    EXPECT_GE(k.box->value(), k.box->minimum());
    EXPECT_LE(k.box->value(), k.box->maximum());
  }
  page.OnOK();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].panes[0].port, 3);
  EXPECT_EQ(owner.written[0].panes[0].x, -5000);
  EXPECT_EQ(owner.written[0].panes[0].width, 5000);
  EXPECT_EQ(owner.written[0].panes[0].cropX, 3);
}

TEST_F(PipPage, SilentOwnerGetsTheTextsAndNoRepaint) {
  owner.answer = false;
  {
    COptsPictInPict page;
    page.SetOwner(&owner);
    page.Initialize();
    EXPECT_FALSE(page.InitResult());
    page.OnOK();
  }
  ASSERT_EQ(sink.Texts().size(), 2u);
  EXPECT_EQ(sink.Texts()[0], "Configuration data for 'Picture In Picture' operation are not available");
  EXPECT_EQ(sink.Texts()[1], "Configuration data for 'Picture In Picture' operation can not be set");
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  owner.answer = true;
  COptsPictInPict page;
  page.SetOwner(&owner);
  page.Initialize();
  owner.answer = false;
  page.OnOK();
  ASSERT_EQ(sink.Texts().size(), 3u);
  EXPECT_EQ(owner.repaints, 0);
}

TEST_F(PipPage, ReadOnlySheetLeavesThePageEditableAndWriting) {
  COptsPictInPict page;
  page.SetOwner(&owner);
  page.SetReadOnly(true);
  page.Initialize();
  EXPECT_TRUE(page.isEnabled());
  page.Pane(1).enabled->setChecked(true);
  page.OnOK();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].panes[1].enabled, 1);
  EXPECT_EQ(owner.repaints, 1);
}

TEST_F(PipPage, SheetShowsEveryTextAndNumberWhole) {
  auto sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, OPTCAT_PIP);
  ASSERT_EQ(sheet->Pages().size(), 1u);
  auto* page = dynamic_cast<COptsPictInPict*>(sheet->Pages()[0]);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Label().toStdString(), "Picture In Picture");
  sheet->show();
  sheet->resize(sheet->sizeHint());
  QApplication::processEvents();
  sheet->OnInitDialog();
  QApplication::processEvents();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  for (int pane = 0; pane < 2; ++pane) {
    const TPipPaneControls& c = page->Pane(pane);
    for (std::size_t i = 0; i < c.numbers.size(); ++i) {
      QSpinBox* box = c.numbers[i];
      const int textWidth = box->fontMetrics().horizontalAdvance("-5000");
      EXPECT_GE(box->findChild<QLineEdit*>()->width(), textWidth) << box->objectName().toStdString();
      // each label sits just left of its box, on the same row
      EXPECT_LT(c.labels[i]->geometry().right(), box->geometry().left());
      EXPECT_LT(box->geometry().left() - c.labels[i]->geometry().right(), 20);
      EXPECT_EQ(c.labels[i]->geometry().center().y() / 4, box->geometry().center().y() / 4);
    }
  }
  // both panes are laid out alike
  for (std::size_t i = 0; i < kPipNumberCount; ++i) {
    EXPECT_EQ(page->Pane(0).numbers[i]->geometry(), page->Pane(1).numbers[i]->geometry());
  }
  EXPECT_EQ(page->Pane(0).group->width(), page->Pane(1).group->width());
}
