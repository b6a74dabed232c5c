#include "options/edit_numeric.h"

#include <QColor>
#include <QKeyEvent>
#include <QPalette>

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

#include "platform/qt/beep.h"

namespace {

bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }
bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// The kinds of character the syntax checks and the key filter tell apart.
enum TCharKind : int { KIND_BLANK, KIND_SIGN, KIND_DIGIT, KIND_POINT, KIND_MARK, KIND_OTHER, KIND_COUNT };

TCharKind KindOf(QChar c) {
  if (IsBlank(c)) return KIND_BLANK;
  if (c == u'+' || c == u'-') return KIND_SIGN;
  if (IsDigit(c)) return KIND_DIGIT;
  if (c == u'.') return KIND_POINT;
  if (c == u'E' || c == u'e') return KIND_MARK;
  return KIND_OTHER;
}

// One step of a syntax check: the state after a character and the result
// so far. A step to kReject ends the check as invalid; one with kKeep
// leaves the result as it was.
struct TStep {
  int next;
  int result;
};
constexpr int kReject = -1;
constexpr int kKeep = -1;

constexpr TStep Go(int next, int result) { return {next, result}; }
constexpr TStep kNo{kReject, kKeep};
constexpr int kIncomplete = CEditNumeric::RESULT_INCOMPLETE;
constexpr int kValid = CEditNumeric::RESULT_VALID;

// Whole numbers: blanks, then a sign or a digit, then digits.
enum { INT_START, INT_DIGITS, INT_STATES };
// clang-format off
constexpr TStep kIntegerSteps[INT_STATES][KIND_COUNT] = {
    //             blank                 sign                         digit                   point mark other
    /* start  */ {Go(INT_START, kKeep), Go(INT_DIGITS, kIncomplete), Go(INT_DIGITS, kValid), kNo,  kNo, kNo},
    /* digits */ {kNo,                  kNo,                         Go(INT_DIGITS, kValid), kNo,  kNo, kNo},
};
// clang-format on

// Reals: blanks, then a sign, digits, a point and digits, and an exponent
// mark with its own sign and digits, each part optional.
enum { REAL_START, REAL_WHOLE, REAL_FRACTION, REAL_MARK, REAL_EXPONENT, REAL_STATES };
// clang-format off
constexpr TStep kRealSteps[REAL_STATES][KIND_COUNT] = {
    //               blank                  sign                            digit                      point                           mark                        other
    /* start    */ {Go(REAL_START, kKeep), Go(REAL_WHOLE, kIncomplete),    Go(REAL_WHOLE, kValid),    Go(REAL_FRACTION, kIncomplete), Go(REAL_MARK, kIncomplete), kNo},
    /* whole    */ {kNo,                   kNo,                            Go(REAL_WHOLE, kValid),    Go(REAL_FRACTION, kValid),      Go(REAL_MARK, kIncomplete), kNo},
    /* fraction */ {kNo,                   kNo,                            Go(REAL_FRACTION, kValid), kNo,                            Go(REAL_MARK, kIncomplete), kNo},
    /* mark     */ {kNo,                   Go(REAL_EXPONENT, kIncomplete), Go(REAL_EXPONENT, kValid), kNo,                            kNo,                        kNo},
    /* exponent */ {kNo,                   kNo,                            Go(REAL_EXPONENT, kValid), kNo,                            kNo,                        kNo},
};
// clang-format on

// Runs `text` through a table of steps from its first state.
template <std::size_t States>
int RunSyntax(const QString& text, const TStep (&steps)[States][KIND_COUNT]) {
  int state = 0;
  int result = CEditNumeric::RESULT_EMPTY;
  for (const QChar c : text) {
    const TStep& step = steps[state][KindOf(c)];
    if (step.next == kReject) return CEditNumeric::RESULT_INVALID;
    state = step.next;
    if (step.result != kKeep) result = step.result;
  }
  return result;
}

// The text from its first character after leading blanks and tabs and one
// "+"; nothing when a second sign follows the "+" (which the conversions
// would take as the number's own).
std::optional<std::string> NumberPart(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i < text.size() && text[i] == u'+') {
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) return std::nullopt;
  }
  if (i == text.size()) return std::nullopt;
  return text.mid(i).toStdString();
}

// For a decimal number out of a double's range: true when it is too small
// (so that it reads as 0), false when it is too large. `s` is a whole
// decimal number as std::from_chars took it (sign, digits, point, exponent).
bool IsTooSmall(const std::string& s) {
  std::size_t i = 0;
  if (i < s.size() && s[i] == '-') ++i;
  // The power of ten of the first digit that is not 0.
  long long lead = 0;
  bool found = false;
  long long intDigits = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (!found && s[i] != '0') {
      found = true;
      lead = intDigits;  // counted from the left; turned into a power below
    }
    ++intDigits;
  }
  if (found) lead = intDigits - 1 - lead;
  if (i < s.size() && s[i] == '.') {
    ++i;
    for (long long pos = 1; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++pos)
      if (!found && s[i] != '0') {
        found = true;
        lead = -pos;
      }
  }
  if (!found) return true;  // all zeros
  long long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (s[i] - '0');
    if (negative) exponent = -exponent;
  }
  return lead + exponent < 0;
}

// printf's "%#g" without the C library's locale: six significant digits,
// trailing zeros kept, always a decimal point; fixed when the exponent is
// from -4 to 5, else scientific.
QString FormatAltG(double value) {
  if (!std::isfinite(value)) return QString::asprintf("%g", value);
  constexpr int kDigits = 6;
  char buf[64];
  auto sci = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, kDigits - 1);
  const std::string scientific(buf, sci.ptr);
  // The exponent after rounding to six digits.
  const int exponent = std::atoi(scientific.c_str() + scientific.find('e') + 1);
  if (exponent < -4 || exponent >= kDigits) return QString::fromStdString(scientific);
  auto fixed = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, kDigits - 1 - exponent);
  std::string text(buf, fixed.ptr);
  if (text.find('.') == std::string::npos) text += '.';
  return QString::fromStdString(text);
}

}  // namespace

CEditEx::CEditEx(QWidget* parent) : QLineEdit(parent) {}
CEditEx::~CEditEx() = default;

const QColor& CEditNumeric::InvalidColor() {
  static const QColor c(255, 128, 128);
  return c;
}
const QColor& CEditNumeric::IncompleteColor() {
  static const QColor c(255, 255, 128);
  return c;
}
const QColor& CEditNumeric::ValidColor() {
  static const QColor c(192, 255, 192);
  return c;
}

CEditNumeric::CEditNumeric(QWidget* parent) : CEditEx(parent) {
  connect(this, &QLineEdit::textChanged, this, &CEditNumeric::OnTextChanged);
}

CEditNumeric::~CEditNumeric() = default;

void CEditNumeric::SetNumericMode(std::int32_t mode) {
  m_nMode = mode;
  m_dValue = m_dMin = m_dMax = 0.0;
  m_nValue = m_nMin = m_nMax = 0;
  m_bMinEnabled = m_bMaxEnabled = false;
  m_bTextComplete = m_bValueValid = false;
  ShowResult(Validate());
}

void CEditNumeric::SetValue(double value) {
  m_dValue = value;
  m_strText = FormatAltG(value);
  setText(m_strText);
  if (m_nMode == MODE_INTEGER || m_nMode == MODE_REAL)
    ShowResult(Validate());  // also when the text was already this one
  else
    m_bTextComplete = m_bValueValid = std::isfinite(value);
}

void CEditNumeric::SetIntValue(std::int64_t value) {
  m_nValue = value;
  m_strText = QString::number(value);
  setText(m_strText);
  if (m_nMode == MODE_INTEGER || m_nMode == MODE_REAL) {
    ShowResult(Validate());
  } else {
    const bool fits = m_b64Bit || (value >= std::numeric_limits<std::int32_t>::min() &&
                                   value <= std::numeric_limits<std::int32_t>::max());
    m_bTextComplete = m_bValueValid = fits;
  }
}

std::optional<std::int64_t> CEditNumeric::ReadInteger(const QString& text, bool wide64) {
  const std::optional<std::string> s = NumberPart(text);
  if (!s) return std::nullopt;
  std::int64_t value = 0;
  const char* end = s->data() + s->size();
  const auto [ptr, ec] = std::from_chars(s->data(), end, value, 10);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  if (!wide64 &&
      (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()))
    return std::nullopt;
  return value;
}

std::optional<double> CEditNumeric::ReadReal(const QString& text) {
  const std::optional<std::string> s = NumberPart(text);
  if (!s) return std::nullopt;
  double value = 0.0;
  const char* end = s->data() + s->size();
  const auto [ptr, ec] = std::from_chars(s->data(), end, value, std::chars_format::general);
  if (ptr != end) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    if (!IsTooSmall(*s)) return std::nullopt;
    return (*s)[0] == '-' ? -0.0 : 0.0;
  }
  if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
  return value;
}

bool CEditNumeric::WithinLimits(std::int64_t value) const {
  return !(m_bMinEnabled && value < m_nMin) && !(m_bMaxEnabled && value > m_nMax);
}

bool CEditNumeric::WithinLimits(double value) const {
  return !(m_bMinEnabled && value < m_dMin) && !(m_bMaxEnabled && value > m_dMax);
}

bool CEditNumeric::ParseInteger(const QString& text) {
  const std::optional<std::int64_t> v = ReadInteger(text, m_b64Bit);
  if (!v || !WithinLimits(*v)) return false;
  m_nValue = *v;
  return true;
}

bool CEditNumeric::ParseReal(const QString& text) {
  const std::optional<double> v = ReadReal(text);
  if (!v || !WithinLimits(*v)) return false;
  m_dValue = *v;
  return true;
}

int CEditNumeric::CheckIntegerSyntax(const QString& text) { return RunSyntax(text, kIntegerSteps); }

int CEditNumeric::CheckRealSyntax(const QString& text) { return RunSyntax(text, kRealSteps); }

int CEditNumeric::Validate() {
  const QString t = text();
  int result;
  if (m_nMode == MODE_INTEGER)
    result = CheckIntegerSyntax(t);
  else if (m_nMode == MODE_REAL)
    result = CheckRealSyntax(t);
  else
    return RESULT_EMPTY;
  m_bTextComplete = result == RESULT_VALID;
  if (result != RESULT_VALID) {
    m_bValueValid = false;
    return result;
  }
  // A complete number is read in every case: one outside the mode's range
  // (or not finite) is as invalid as one outside an enabled limit.
  if (m_nMode == MODE_INTEGER) {
    const std::optional<std::int64_t> v = ReadInteger(t, m_b64Bit);
    m_bValueValid = v && WithinLimits(*v);
  } else {
    const std::optional<double> v = ReadReal(t);
    m_bValueValid = v && WithinLimits(*v);
  }
  return m_bValueValid ? RESULT_VALID : RESULT_INVALID;
}

void CEditNumeric::OnTextChanged() { ShowResult(Validate()); }

void CEditNumeric::ShowResult(int result) {
  m_nLastResult = result;
  // Only the background is the edit's own; every other colour, and the
  // empty background, follow the application's palette and its changes.
  QPalette p;
  p.setResolveMask(0);
  switch (result) {
    case RESULT_INVALID: p.setColor(QPalette::Base, InvalidColor()); break;
    case RESULT_INCOMPLETE: p.setColor(QPalette::Base, IncompleteColor()); break;
    case RESULT_VALID: p.setColor(QPalette::Base, ValidColor()); break;
    default: break;
  }
  setPalette(p);
}

void CEditNumeric::keyPressEvent(QKeyEvent* event) {
  const QString typed = event->text();
  if (typed.isEmpty() || (event->modifiers() & Qt::ControlModifier)) {
    CEditEx::keyPressEvent(event);
    return;
  }
  bool pass = true;
  for (const QChar c : typed) {
    const bool backspace = c == u'\b';
    // Keys that type no printable character (Enter, Escape, Tab, Delete)
    // are not the filter's: dialogs' OK and Cancel keep working.
    if (!backspace && (c.unicode() < 0x20 || c.unicode() == 0x7f)) continue;
    const TCharKind kind = KindOf(c);
    const bool signOrDigit = kind == KIND_SIGN || kind == KIND_DIGIT;
    switch (m_nMode) {
      case MODE_ANY: break;
      case MODE_INTEGER: pass = backspace || signOrDigit; break;
      case MODE_REAL: pass = backspace || signOrDigit || kind == KIND_POINT || kind == KIND_MARK; break;
      default: pass = false; break;
    }
    if (!pass) break;
  }
  if (!pass) {
    platform::qt::Beep();
    event->accept();
    return;
  }
  CEditEx::keyPressEvent(event);
}
