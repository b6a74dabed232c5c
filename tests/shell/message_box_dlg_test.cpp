#include "shell/message_box_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "platform/qt/settings_store.h"
#include "tests/support/test_support.h"

using namespace MessageBoxDlg;

namespace {

std::vector<int> Ids(const TButtonSet& set) {
  std::vector<int> ids;
  for (const tagMSGBOXBTN& b : set.buttons) ids.push_back(b.id);
  return ids;
}

std::vector<QString> Captions(const TButtonSet& set) {
  std::vector<QString> out;
  for (const tagMSGBOXBTN& b : set.buttons) out.push_back(LoadCaption(b.captionId));
  return out;
}

// Runs `action` on the box once its modal loop has started.
void WhenShown(CMessageBoxDlg& box, std::function<void()> action) {
  QTimer::singleShot(0, &box, std::move(action));
}

void PressKey(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, mods);
  QApplication::sendEvent(w, &press);
}

class MessageBoxTest : public ::testing::Test {
 protected:
  MessageBoxTest() : store(std::make_unique<platform::qt::CRegistryAccess>(Ini())) {
    SetProfileStore(store.get());
  }
  ~MessageBoxTest() override { ReleaseProfileStore(store.get()); }
  QString Ini() const { return QString::fromStdString((dir / "profile.ini").string()); }
  // A new store on the same file: what the next run of the program sees.
  void Restart() {
    ReleaseProfileStore(store.get());
    store = std::make_unique<platform::qt::CRegistryAccess>(Ini());
    SetProfileStore(store.get());
  }
  tovrin_test::TTempDir dir;
  std::unique_ptr<platform::qt::CRegistryAccess> store;
};

}  // namespace

TEST(MessageBoxButtons, SetsDefaultsAndEscapes) {
  struct TCase {
    std::uint32_t style;
    std::vector<int> ids;
    int def;
    int esc;
  };
  const std::vector<TCase> cases = {
      {0, {1}, 1, 1},
      {12, {1}, 1, 1},
      {1, {1, 2}, 1, 2},
      {2, {3, 4, 5}, 3, -1},
      {3, {6, 7, 2}, 6, 2},
      {3 | MBX_YES_TO_ALL | MBX_NO_TO_ALL, {6, 14, 7, 15, 2}, 6, 2},
      {4 | MBX_NO_TO_ALL, {6, 7, 15}, 6, -1},
      {5, {4, 2}, 4, 2},
      {6, {2, 10, 11}, 2, 2},
      {7, {11, 3}, 11, -1},
      {8, {16, 17, 2}, 16, 2},
      {9, {5, 18, 2}, 5, 2},
      {1 | MBX_YES_TO_ALL, {1, 2}, 1, 2},  // all-buttons only in the Yes/No sets
      {0 | 0x4000, {1, 9}, 1, 1},
      {8 | 0x200, {16, 17, 2}, 2, 2},  // third button is the default
      {1 | 0x200, {1, 2}, 1, 2},       // two buttons keep the set's default
      {1 | 0x4000 | 0x200, {1, 2, 9}, 9, 2},
      {3 | 0x600, {6, 7, 2}, 6, 2},  // unknown default bits: the first
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.style);
    const TButtonSet set = BuildButtonSet(c.style);
    EXPECT_EQ(Ids(set), c.ids);
    EXPECT_EQ(set.defaultId, c.def);
    EXPECT_EQ(set.escapeId, c.esc);
  }
  EXPECT_EQ(Captions(BuildButtonSet(8)), (std::vector<QString>{"&Skip", "Skip &all", "&Cancel"}));
  EXPECT_EQ(Captions(BuildButtonSet(6)), (std::vector<QString>{"&Cancel", "&Retry", "&Continue"}));
  EXPECT_EQ(Captions(BuildButtonSet(4 | MBX_YES_TO_ALL | MBX_NO_TO_ALL)),
            (std::vector<QString>{"&Yes", "Yes to &all", "&No", "No to a&ll"}));
  EXPECT_EQ(Captions(BuildButtonSet(9 | 0x4000)),
            (std::vector<QString>{"&Ignore", "Ignore &all", "&Cancel", "&Help"}));
  EXPECT_EQ(LoadCaption(IDS_MBX_DONT_SHOW_AGAIN), "Don't display this &message again.");
  EXPECT_EQ(LoadCaption(IDS_MBX_DONT_ASK_AGAIN), "Don't ask this &question again.");
  EXPECT_EQ(LoadCaption(1), "");
}

TEST(MessageBoxKey, HelpIdOrTheWrappingWeightedSumOfTheText) {
  EXPECT_EQ(RememberKey("anything", 1234), "1234");
  EXPECT_EQ(RememberKey("A", 0), "0");      // the first character has weight 0
  EXPECT_EQ(RememberKey("AB", 0), "66");    // 0*65 + 1*66
  EXPECT_EQ(RememberKey("abc", 0), "296");  // 98 + 2*99
  // The sum wraps at 32 bits and prints signed: 70,000 characters U+FFFF
  // sum to 65535 * (0 + ... + 69999) = 160,558,456,275,000, which is
  // 3,988,815,928 modulo 2^32, printed as -306,151,368.
  EXPECT_EQ(RememberKey(QString(70000, QChar(0xFFFF)), 0), "-306151368");
  EXPECT_EQ(RememberKey("x", 0xFFFFFFFFu), "-1");
  EXPECT_EQ(RememberKey("Same text", 0), RememberKey("Same text", 0));
  EXPECT_NE(RememberKey("Same text", 7), RememberKey("Same text", 0));
}

TEST_F(MessageBoxTest, SkipSetWithTickedBoxReturnsSkipAllAndReportsChecked) {
  const QString text = "Can not open file\n\nx\n\nSkip inaccessible file(s) and continue a search?";
  CMessageBoxDlg box(nullptr, text, "Media source list", 0x01000018);
  WhenShown(box, [&] {
    ASSERT_NE(box.CheckBox(), nullptr);
    EXPECT_EQ(box.CheckBox()->text(), "Don't display this &message again.");
    EXPECT_FALSE(box.CheckBox()->isChecked());
    box.CheckBox()->setChecked(true);
    box.Button(IDSKIPALL)->click();
  });
  EXPECT_EQ(box.DoModal(), IDSKIPALL);
  EXPECT_TRUE(box.m_bChecked);
  EXPECT_EQ(box.windowTitle(), "Media source list");
  // Not remembered unless asked to: nothing under the key of this text.
  Restart();
  EXPECT_FALSE(store->ValueExists(kProfileKey, RememberKey(text, 0)));
}

TEST_F(MessageBoxTest, EscapeUsesTheEscapeButtonOrDoesNothingWithoutOne) {
  CMessageBoxDlg box(nullptr, "m", "c", 8 | MBX_DONT_SHOW_AGAIN | MBX_CHECKED);
  WhenShown(box, [&] {
    EXPECT_TRUE(box.CheckBox()->isChecked());
    PressKey(&box, Qt::Key_Escape);
  });
  EXPECT_EQ(box.DoModal(), IDCANCEL);
  EXPECT_TRUE(box.m_bChecked);

  CMessageBoxDlg yesNo(nullptr, "m", "c", 4);
  WhenShown(yesNo, [&] {
    EXPECT_FALSE(yesNo.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    PressKey(&yesNo, Qt::Key_Escape);
    yesNo.close();
    EXPECT_TRUE(yesNo.isVisible());  // neither Escape nor Close ends it
    yesNo.Button(IDNO)->click();
  });
  EXPECT_EQ(yesNo.DoModal(), IDNO);
}

TEST_F(MessageBoxTest, EnterPressesTheDefaultButtonAndHelpLeavesTheBoxOpen) {
  CMessageBoxDlg box(nullptr, "m", "", 3 | 0x100 | 0x4000);  // default: the second button, No
  WhenShown(box, [&] {
    EXPECT_TRUE(box.Button(IDNO)->isDefault());
    box.Button(IDHELP)->click();
    EXPECT_TRUE(box.isVisible());
    PressKey(&box, Qt::Key_Return);
  });
  EXPECT_EQ(box.DoModal(), IDNO);
  EXPECT_FALSE(box.windowTitle().isEmpty());  // the application's name
}

TEST_F(MessageBoxTest, CountdownWithoutLockPressesTheDefaultButton) {
  CMessageBoxDlg box(nullptr, "m", "c", 0);
  box.m_nCountdown = 5;
  std::vector<QString> captions;
  WhenShown(box, [&] {
    EXPECT_EQ(box.Button(IDOK)->text(), "&Ok");
    EXPECT_TRUE(box.CountdownRunning());
    for (int i = 0; i < 4; ++i) {
      box.OnTimer();
      captions.push_back(box.Button(IDOK)->text());
    }
    EXPECT_TRUE(box.isVisible());
    box.OnTimer();  // the fifth second ends the box
  });
  EXPECT_EQ(box.DoModal(), IDOK);
  EXPECT_EQ(captions, (std::vector<QString>{"&Ok = 4", "&Ok = 3", "&Ok = 2", "&Ok = 1"}));
}

TEST_F(MessageBoxTest, LockedCountdownDisablesEverythingThenWaitsForAPress) {
  CMessageBoxDlg box(nullptr, "m", "c", 1 | MBX_DONT_ASK_AGAIN);
  box.m_nCountdown = 5;
  box.m_bLockButtons = true;
  WhenShown(box, [&] {
    EXPECT_FALSE(box.Button(IDOK)->isEnabled());
    EXPECT_FALSE(box.Button(IDCANCEL)->isEnabled());
    EXPECT_FALSE(box.CheckBox()->isEnabled());
    EXPECT_EQ(box.CheckBox()->text(), "Don't ask this &question again.");
    PressKey(&box, Qt::Key_Escape);
    box.close();
    for (int i = 0; i < 5; ++i) box.OnTimer();
    EXPECT_TRUE(box.isVisible());  // the box waits for a press
    EXPECT_TRUE(box.Button(IDOK)->isEnabled());
    EXPECT_TRUE(box.CheckBox()->isEnabled());
    EXPECT_EQ(box.Button(IDOK)->text(), "&Ok");
    EXPECT_FALSE(box.CountdownRunning());
    PressKey(&box, Qt::Key_Escape);
  });
  EXPECT_EQ(box.DoModal(), IDCANCEL);
}

TEST_F(MessageBoxTest, RememberedAnswerSurvivesARestartAndSkipsTheBox) {
  const QString text = "Skip inaccessible file(s)?";
  {
    CMessageBoxDlg box(nullptr, text, "c", 8 | MBX_DONT_SHOW_AGAIN);
    box.m_bRemember = true;
    WhenShown(box, [&] {
      box.CheckBox()->setChecked(true);
      box.Button(IDSKIP)->click();
    });
    EXPECT_EQ(box.DoModal(), IDSKIP);
  }
  Restart();
  std::int32_t stored = 0;
  ASSERT_TRUE(store->ReadIntValue(kProfileKey, RememberKey(text, 0), stored));
  EXPECT_EQ(stored, IDSKIP);
  {
    CMessageBoxDlg again(nullptr, text, "other caption", 8 | MBX_DONT_SHOW_AGAIN);
    again.m_bRemember = true;
    bool shown = false;
    WhenShown(again, [&] { shown = again.isVisible(); });
    EXPECT_EQ(again.DoModal(), IDSKIP);
    QApplication::processEvents();
    EXPECT_FALSE(shown);
  }
  {
    // Without the remember flag, or with another text, the box shows.
    CMessageBoxDlg other(nullptr, text + "!", "c", 8 | MBX_DONT_SHOW_AGAIN);
    other.m_bRemember = true;
    WhenShown(other, [&] { other.Button(IDCANCEL)->click(); });
    EXPECT_EQ(other.DoModal(), IDCANCEL);
  }
}

TEST_F(MessageBoxTest, UncheckedOrNoCheckBoxStyleStoresNothing) {
  {
    CMessageBoxDlg box(nullptr, "t", "c", 8 | MBX_DONT_SHOW_AGAIN);
    box.m_bRemember = true;
    WhenShown(box, [&] { box.Button(IDSKIP)->click(); });
    EXPECT_EQ(box.DoModal(), IDSKIP);
  }
  {
    CMessageBoxDlg box(nullptr, "t", "c", 8, 77);
    box.m_bRemember = true;
    WhenShown(box, [&] { box.Button(IDSKIP)->click(); });
    EXPECT_EQ(box.DoModal(), IDSKIP);
    EXPECT_EQ(box.CheckBox(), nullptr);
  }
  EXPECT_FALSE(store->ValueExists(kProfileKey, RememberKey("t", 0)));
  EXPECT_FALSE(store->ValueExists(kProfileKey, "77"));
}

TEST_F(MessageBoxTest, HelpIdKeysTheAnswerWhateverTheText) {
  ASSERT_TRUE(store->WriteIntValue(kProfileKey, "4242", IDNO));
  CMessageBoxDlg box(nullptr, "first wording", "c", 4 | MBX_DONT_ASK_AGAIN, 4242);
  box.m_bRemember = true;
  EXPECT_EQ(box.DoModal(), IDNO);
  // A stored answer that the set lacks is still returned as stored.
  ASSERT_TRUE(store->WriteIntValue(kProfileKey, "4243", IDSKIPALL));
  CMessageBoxDlg other(nullptr, "second wording", "c", 1 | MBX_DONT_ASK_AGAIN, 4243);
  other.m_bRemember = true;
  EXPECT_EQ(other.DoModal(), IDSKIPALL);
}

TEST_F(MessageBoxTest, TextAlignmentIconAndRightButtons) {
  const QString wide = "A message wide enough that a single button cannot fill the row of buttons";
  CMessageBoxDlg box(nullptr, wide, "c", 0x10 | 0x80000 | MBX_RIGHT_BUTTONS | MBX_NO_SOUND);
  box.OnInitDialog();
  EXPECT_TRUE(box.TextLabel()->alignment().testFlag(Qt::AlignRight));
  EXPECT_FALSE(box.m_hIcon.isNull());
  box.show();
  const QRect right = box.Button(IDOK)->geometry();
  const int rightWidth = box.width();
  box.hide();

  CMessageBoxDlg plain(nullptr, wide, "c", 0x0);
  plain.OnInitDialog();
  EXPECT_TRUE(plain.m_hIcon.isNull());
  EXPECT_TRUE(plain.TextLabel()->alignment().testFlag(Qt::AlignLeft));
  plain.show();
  const QRect centred = plain.Button(IDOK)->geometry();
  const int plainWidth = plain.width();
  plain.hide();

  EXPECT_LE(std::abs(centred.center().x() - plainWidth / 2), 2);
  EXPECT_GT(right.left(), rightWidth / 2);  // at the right edge, not centred
  EXPECT_LE(rightWidth - right.right(), plainWidth - centred.right() - 20);
}

TEST_F(MessageBoxTest, TheIconIsDrawnInItsOwnColoursNotGreyed) {
  CMessageBoxDlg box(nullptr, "Can not open file", "c", MBX_ICONHAND | MBX_NO_SOUND);
  box.OnInitDialog();
  box.show();
  QApplication::processEvents();
  ASSERT_NE(box.IconLabel(), nullptr);
  const QImage shown = box.IconLabel()->grab().toImage();
  box.hide();
  // The stop sign is red: a greyed one has no saturated pixel left.
  int coloured = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x)
      coloured += QColor(shown.pixel(x, y)).hsvSaturation() > 120 ? 1 : 0;
  const QImage icon = box.m_hIcon.pixmap(32, 32).toImage();
  int iconColoured = 0;
  for (int y = 0; y < icon.height(); ++y)
    for (int x = 0; x < icon.width(); ++x)
      iconColoured +=
          QColor::fromRgba(icon.pixel(x, y)).hsvSaturation() > 120 && qAlpha(icon.pixel(x, y)) > 200;
  ASSERT_GT(iconColoured, 20) << "the style's stop icon has colour";
  EXPECT_GT(coloured, iconColoured / 2);
}

// The text is broken where half the screen width plus 100 pixels makes it
// break, not at Qt's own preferred width.
TEST_F(MessageBoxTest, TextBreaksOnlyPastHalfTheScreenWidthPlus100) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  const int widest = screen->geometry().width() / 2 + 100;
  struct TCase {
    QString text;
    std::uint32_t icon;
  };
  const TCase cases[] = {
      {"Closing in five seconds.", 0},
      {"Closing in five seconds.", MBX_ICONEXCLAMATION},
      {"Can not open file\n\n/home/me/clip.avi\n\nSkip inaccessible file(s) and continue a search?",
       MBX_ICONHAND},
      {QString("A long message of many words ").repeated(12), MBX_ICONQUESTION},
      {"Can not open file\n\n/home/me/" + QString("a_folder_with_a_long_name/").repeated(12) + "clip.avi",
       MBX_ICONHAND},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    CMessageBoxDlg box(nullptr, c.text, "c", c.icon | MBX_NO_SOUND);
    box.OnInitDialog();
    box.show();
    QApplication::processEvents();
    QLabel* label = box.TextLabel();
    const QFontMetrics fm(label->font());
    int lines = 0;
    for (const QString& line : c.text.split('\n')) {
      // Lines that fit the width stay whole; a longer one wraps.
      const int w = fm.horizontalAdvance(line);
      lines += w == 0 ? 1 : (w + widest - 1) / widest;
      if (w < widest - 200) {
        EXPECT_GE(label->width(), w) << "a line that fits is not broken";
      }
    }
    EXPECT_LE(label->width(), widest);
    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << "no line is cut off";
    EXPECT_LE(label->height(), (lines + 1) * fm.lineSpacing()) << "no more lines than the width makes";
    if (c.text.size() < 40) {
      EXPECT_LT(label->height(), 2 * fm.lineSpacing()) << "one line";
    }
    EXPECT_LE(box.width(), screen->geometry().width());
    box.hide();
  }
}

TEST_F(MessageBoxTest, TheBoxPlaysItsIconsSoundAndTheDefaultOneWithoutAnIcon) {
  std::vector<std::uint32_t> played;
  SetBeepHook([&](std::uint32_t bits) { played.push_back(bits); });
  const std::pair<std::uint32_t, std::vector<std::uint32_t>> cases[] = {
      {0x00, {0x00}},
      {MBX_ICONHAND | 1, {0x10}},
      {MBX_ICONQUESTION, {0x20}},
      {MBX_ICONASTERISK | MBX_DONT_SHOW_AGAIN, {0x40}},
      {0x50, {0x50}},  // no icon for it, its sound all the same
      {MBX_ICONHAND | MBX_NO_SOUND, {}},
      {MBX_NO_SOUND, {}},
  };
  for (const auto& [style, expected] : cases) {
    played.clear();
    CMessageBoxDlg box(nullptr, "text", "c", style);
    box.OnInitDialog();
    EXPECT_EQ(played, expected) << std::hex << style;
  }
  SetBeepHook({});
}
