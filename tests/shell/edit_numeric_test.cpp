// The numeric edit of the option pages: its checks, its colours under the
// program's looks, its key filter and its value setters, in the C locale
// and again under a German locale (decimal comma) set for the C library and
// for Qt.
#include "options/edit_numeric.h"

#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QImage>
#include <QKeyEvent>
#include <QLocale>
#include <QPalette>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

#include "platform/qt/beep.h"
#include "shell/visual_manager.h"
#include "tests/support/test_support.h"

namespace {

constexpr std::int32_t I = CEditNumeric::MODE_INTEGER;
constexpr std::int32_t R = CEditNumeric::MODE_REAL;

enum TFlags { NONE, COMPLETE, BOTH };

struct TCase {
  const char* text;
  std::int32_t mode;
  bool wide64 = false;
  // Limits: whole in integer mode, real in real mode.
  bool minOn = false;
  double min = 0;
  bool maxOn = false;
  double max = 0;
  int result = 0;
  TFlags flags = NONE;
};

const TCase kCases[] = {
    // The integer syntax: blanks, a sign, digits.
    {"", I, false, false, 0, false, 0, CEditNumeric::RESULT_EMPTY, NONE},
    {" \t ", I, false, false, 0, false, 0, CEditNumeric::RESULT_EMPTY, NONE},
    {"-", I, false, false, 0, false, 0, CEditNumeric::RESULT_INCOMPLETE, NONE},
    {"+", I, false, false, 0, false, 0, CEditNumeric::RESULT_INCOMPLETE, NONE},
    {"42", I, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {" 12", I, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"+5", I, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"-17", I, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"1 ", I, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    {"1-2", I, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    {"1.5", I, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    {"x", I, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    // Limits, each end included.
    {"-1", I, false, true, 0, false, 0, CEditNumeric::RESULT_INVALID, COMPLETE},
    {"0", I, false, true, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"100", I, false, true, 0, true, 100, CEditNumeric::RESULT_VALID, BOTH},
    {"101", I, false, true, 0, true, 100, CEditNumeric::RESULT_INVALID, COMPLETE},
    {"-5", I, false, false, 0, true, 100, CEditNumeric::RESULT_VALID, BOTH},
    // The width: 32 bits unless widened.
    {"2147483647", I, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"-2147483648", I, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"9999999999", I, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, COMPLETE},
    {"-2147483649", I, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, COMPLETE},
    {"5000000000", I, true, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"9223372036854775807", I, true, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"-9223372036854775808", I, true, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"9223372036854775808", I, true, false, 0, false, 0, CEditNumeric::RESULT_INVALID, COMPLETE},
    // The real syntax.
    {"", R, false, false, 0, false, 0, CEditNumeric::RESULT_EMPTY, NONE},
    {"-", R, false, false, 0, false, 0, CEditNumeric::RESULT_INCOMPLETE, NONE},
    {".", R, false, false, 0, false, 0, CEditNumeric::RESULT_INCOMPLETE, NONE},
    {"1e", R, false, false, 0, false, 0, CEditNumeric::RESULT_INCOMPLETE, NONE},
    {"1e-", R, false, false, 0, false, 0, CEditNumeric::RESULT_INCOMPLETE, NONE},
    {"e", R, false, false, 0, false, 0, CEditNumeric::RESULT_INCOMPLETE, NONE},
    {"1.", R, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {".5", R, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"+.5", R, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {" 2.5", R, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"-1.25E+3", R, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"1 ", R, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    {"1-2", R, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    {"2,5", R, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    {"1e5.", R, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    {"inf", R, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    {"nan", R, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, NONE},
    // Reals at and beyond their limits and a double's range.
    {"2.5", R, false, true, 0, true, 2.5, CEditNumeric::RESULT_VALID, BOTH},
    {"0", R, false, true, 0, true, 2.5, CEditNumeric::RESULT_VALID, BOTH},
    {"2.50001", R, false, true, 0, true, 2.5, CEditNumeric::RESULT_INVALID, COMPLETE},
    {"-0.1", R, false, true, 0, false, 0, CEditNumeric::RESULT_INVALID, COMPLETE},
    {"1e999", R, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, COMPLETE},
    {"-1e999", R, false, false, 0, false, 0, CEditNumeric::RESULT_INVALID, COMPLETE},
    {"1e-999", R, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"0.000001e-400", R, false, true, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    {"1000e-310", R, false, false, 0, false, 0, CEditNumeric::RESULT_VALID, BOTH},
    // Other modes check nothing.
    {"abc", 0, false, false, 0, false, 0, CEditNumeric::RESULT_EMPTY, NONE},
    {"12", 5, false, false, 0, false, 0, CEditNumeric::RESULT_EMPTY, NONE},
};

void Prepare(CEditNumeric& edit, const TCase& c) {
  edit.Set64Bit(c.wide64);
  edit.SetNumericMode(c.mode);
  if (c.mode == R) {
    edit.m_dMin = c.min;
    edit.m_dMax = c.max;
  } else {
    edit.m_nMin = static_cast<std::int64_t>(c.min);
    edit.m_nMax = static_cast<std::int64_t>(c.max);
  }
  edit.m_bMinEnabled = c.minOn;
  edit.m_bMaxEnabled = c.maxOn;
}

// The edit's background, away from its text.
QColor Background(QLineEdit& edit) {
  QApplication::processEvents();
  const QImage img = edit.grab().toImage();
  return img.pixelColor(img.width() - 6, img.height() / 2);
}

QColor ExpectedBackground(int result) {
  switch (result) {
    case CEditNumeric::RESULT_INVALID: return CEditNumeric::InvalidColor();
    case CEditNumeric::RESULT_INCOMPLETE: return CEditNumeric::IncompleteColor();
    case CEditNumeric::RESULT_VALID: return CEditNumeric::ValidColor();
    default: return QApplication::palette().color(QPalette::Base);
  }
}

void SendKey(QWidget& w, int key, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(&w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(&w, &release);
}

// The locales the tables run under.
enum class TLocale { C, German };

// A German UTF-8 locale of our own (the system may have none installed),
// compiled once into a folder the C library finds through LOCPATH.
class TGermanLocale {
 public:
  static bool Install() {
    static TGermanLocale locale;
    return locale.m_ok;
  }

 private:
  TGermanLocale() {
    const std::string target = (m_dir / "de_DE.UTF-8").string();
    const std::string cmd = "localedef -i de_DE -f UTF-8 " + tovrin_test::Quote(target) + " >/dev/null 2>&1";
    // localedef warns (and exits 1) about trifles while still writing the
    // locale; whether it works is what counts.
    [[maybe_unused]] const int rc = std::system(cmd.c_str());
    ::setenv("LOCPATH", m_dir.Path().c_str(), 1);
    m_ok = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    std::setlocale(LC_ALL, "C");
  }
  tovrin_test::TTempDir m_dir;
  bool m_ok = false;
};

class EditNumericTest : public ::testing::TestWithParam<TLocale> {
 protected:
  void SetUp() override {
    shell::ApplyLook(13);
    if (GetParam() == TLocale::German) {
      ASSERT_TRUE(TGermanLocale::Install()) << "no German locale could be made with localedef";
      ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
      ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "the German locale is in force";
      QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    m_edit.resize(220, m_edit.sizeHint().height());
    m_edit.show();
  }
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
    shell::ApplyLook(13);
  }

  CEditNumeric m_edit;
};

}  // namespace

TEST_P(EditNumericTest, TheTextIsCheckedAndColouredAtEveryChange) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\" mode " + std::to_string(c.mode) +
                 (c.wide64 ? " 64-bit" : ""));
    Prepare(m_edit, c);
    m_edit.setText(c.text);
    // The flags follow the text at once, without a repaint.
    EXPECT_EQ(m_edit.m_bTextComplete, c.flags != NONE);
    EXPECT_EQ(m_edit.m_bValueValid, c.flags == BOTH);
    EXPECT_EQ(m_edit.Validate(), c.result);
    EXPECT_EQ(Background(m_edit), ExpectedBackground(c.result));
  }
}

TEST_P(EditNumericTest, TheOwnerReadsTheNumberBackByParsing) {
  m_edit.SetNumericMode(R);
  ASSERT_TRUE(m_edit.ParseReal(" +2.5"));
  EXPECT_EQ(m_edit.m_dValue, 2.5);
  ASSERT_TRUE(m_edit.ParseReal("1e-999"));
  EXPECT_EQ(m_edit.m_dValue, 0.0);
  m_edit.m_dValue = 7;
  for (const char* bad : {"", "+", "+-1", "++1", "2,5", "1e999", "inf", "-nan", "1 ", "0x10"})
    EXPECT_FALSE(m_edit.ParseReal(bad)) << bad;
  EXPECT_EQ(m_edit.m_dValue, 7) << "a failed read keeps the value";
  m_edit.m_bMaxEnabled = true;
  m_edit.m_dMax = 3;
  EXPECT_TRUE(m_edit.ParseReal("3"));
  EXPECT_FALSE(m_edit.ParseReal("3.0001"));

  m_edit.SetNumericMode(I);
  ASSERT_TRUE(m_edit.ParseInteger("\t+12"));
  EXPECT_EQ(m_edit.m_nValue, 12);
  EXPECT_FALSE(m_edit.ParseInteger("9999999999"));
  EXPECT_EQ(m_edit.m_nValue, 12);
  m_edit.Set64Bit(true);
  m_edit.SetNumericMode(I);
  EXPECT_TRUE(m_edit.m_b64Bit) << "the mode keeps the width";
  ASSERT_TRUE(m_edit.ParseInteger("9999999999"));
  EXPECT_EQ(m_edit.m_nValue, 9999999999);
  EXPECT_FALSE(m_edit.ParseInteger("9223372036854775808"));
}

TEST_P(EditNumericTest, ValueSettersShowLocaleFreeTextAndSetTheFlags) {
  m_edit.SetNumericMode(R);
  m_edit.SetValue(2.5);
  EXPECT_EQ(m_edit.text(), "2.50000");
  EXPECT_EQ(m_edit.m_strText, "2.50000");
  EXPECT_TRUE(m_edit.m_bTextComplete && m_edit.m_bValueValid);
  EXPECT_EQ(m_edit.m_dValue, 2.5);
  // The C library's "%#g", with a point whatever the locale.
  const std::pair<double, const char*> shown[] = {
      {0.000125, "0.000125000"}, {-3.0, "-3.00000"},        {123456.0, "123456."}, {1234567.0, "1.23457e+06"},
      {0.00001, "1.00000e-05"},  {999999.5, "1.00000e+06"}, {0.0, "0.00000"},      {1e-300, "1.00000e-300"},
  };
  for (const auto& [value, text] : shown) {
    m_edit.SetValue(value);
    EXPECT_EQ(m_edit.text().toStdString(), text);
    EXPECT_TRUE(m_edit.m_bValueValid) << text;
  }
  for (double bad : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
    m_edit.SetValue(bad);
    EXPECT_FALSE(m_edit.m_bTextComplete || m_edit.m_bValueValid) << m_edit.text().toStdString();
    EXPECT_EQ(Background(m_edit), CEditNumeric::InvalidColor());
  }

  m_edit.Set64Bit(false);
  m_edit.SetNumericMode(I);
  m_edit.SetIntValue(7);
  EXPECT_EQ(m_edit.text(), "7");
  EXPECT_TRUE(m_edit.m_bTextComplete && m_edit.m_bValueValid);
  m_edit.SetIntValue(-1234567);
  EXPECT_EQ(m_edit.text(), "-1234567") << "no group separators";
  m_edit.SetIntValue(5000000000);
  EXPECT_EQ(m_edit.text(), "5000000000");
  EXPECT_FALSE(m_edit.m_bValueValid) << "too wide for 32 bits";
  m_edit.Set64Bit(true);
  m_edit.SetNumericMode(I);
  m_edit.SetIntValue(5000000000);
  EXPECT_EQ(m_edit.text(), "5000000000");
  EXPECT_TRUE(m_edit.m_bTextComplete && m_edit.m_bValueValid);
  EXPECT_EQ(m_edit.m_nValue, 5000000000);
  // The same text again still sets the flags.
  m_edit.m_bValueValid = false;
  m_edit.SetIntValue(5000000000);
  EXPECT_TRUE(m_edit.m_bValueValid);
}

TEST_P(EditNumericTest, TypedCharactersAreFilteredByMode) {
  platform::qt::TBeepCounter beeps;
  m_edit.SetNumericMode(I);
  m_edit.setFocus();
  SendKey(m_edit, Qt::Key_1, "1");
  SendKey(m_edit, Qt::Key_A, "a");
  SendKey(m_edit, Qt::Key_Period, ".");
  EXPECT_EQ(m_edit.text(), "1");
  EXPECT_EQ(beeps.Count(), 2);
  SendKey(m_edit, Qt::Key_Backspace, "\b");
  EXPECT_EQ(m_edit.text(), "");
  EXPECT_EQ(beeps.Count(), 2);

  beeps.Reset();
  m_edit.SetNumericMode(R);
  for (const char* c : {"-", "1", ".", "5", "e", "+", "2", "x", ","}) SendKey(m_edit, 0, c);
  EXPECT_EQ(m_edit.text(), "-1.5e+2");
  EXPECT_EQ(beeps.Count(), 2);

  // With Ctrl held everything passes: Ctrl+V pastes any text, which is
  // checked and coloured like typed text.
  beeps.Reset();
  m_edit.SetNumericMode(I);
  m_edit.clear();
  QApplication::clipboard()->setText("abc");
  SendKey(m_edit, Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier);
  EXPECT_EQ(m_edit.text(), "abc");
  EXPECT_EQ(beeps.Count(), 0);
  EXPECT_EQ(Background(m_edit), CEditNumeric::InvalidColor());

  // Keys that type no printable character pass; Enter reaches the owner.
  int returns = 0;
  QObject::connect(&m_edit, &QLineEdit::returnPressed, [&] { ++returns; });
  SendKey(m_edit, Qt::Key_Return, "\r");
  SendKey(m_edit, Qt::Key_Home, "");
  SendKey(m_edit, Qt::Key_Delete, QString(QChar(0x7f)));
  EXPECT_EQ(returns, 1);
  EXPECT_EQ(m_edit.text(), "bc");
  EXPECT_EQ(beeps.Count(), 0);

  // Mode 0 takes everything; other modes nothing.
  m_edit.SetNumericMode(0);
  m_edit.clear();
  SendKey(m_edit, Qt::Key_A, "a");
  EXPECT_EQ(m_edit.text(), "a");
  m_edit.SetNumericMode(2);
  SendKey(m_edit, Qt::Key_1, "1");
  SendKey(m_edit, Qt::Key_Backspace, "\b");
  EXPECT_EQ(m_edit.text(), "a");
  EXPECT_EQ(beeps.Count(), 2);
}

TEST_P(EditNumericTest, AnEmptyEditTakesTheBaseOfANewLook) {
  m_edit.SetNumericMode(I);
  m_edit.setText("5");
  m_edit.clear();
  EXPECT_EQ(Background(m_edit), QApplication::palette().color(QPalette::Base));
  shell::ApplyLook(7);
  const QColor base = shell::LookOf(7).palette.color(QPalette::Base);
  ASSERT_NE(base, shell::LookOf(13).palette.color(QPalette::Base)) << "the looks differ in their Base";
  QLineEdit plain;
  plain.resize(m_edit.size());
  plain.show();
  EXPECT_EQ(Background(plain), base) << "the look paints a plain edit's background in its Base";
  EXPECT_EQ(Background(m_edit), base);
  m_edit.setText("-");
  EXPECT_EQ(Background(m_edit), CEditNumeric::IncompleteColor()) << "a checked text keeps its colour";
  m_edit.clear();
  EXPECT_EQ(Background(m_edit), base);
}

INSTANTIATE_TEST_SUITE_P(Locales, EditNumericTest, ::testing::Values(TLocale::C, TLocale::German),
                         [](const auto& info) { return info.param == TLocale::C ? "C" : "German"; });
