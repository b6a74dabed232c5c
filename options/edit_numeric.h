#pragma once
// CEditNumeric: an edit for one number, whole or real, on the option pages.
// It lets only the characters of a number be typed, checks its text at every
// change (empty, incomplete, invalid or a complete number within the enabled
// limits) and shows the result in its background: light red for invalid,
// light yellow for incomplete, the palette's own for empty, light green for
// valid. The owner sets the mode, the limits and the shown value, and reads
// the number back when both flags are set.
//
// Numbers are read and written without the C library's or Qt's locale: the
// decimal point is always ".".

#include <QLineEdit>
#include <QString>

#include <cstdint>
#include <optional>

class QColor;
class QKeyEvent;

// The plain edit the numeric one builds on.
class CEditEx : public QLineEdit {
  Q_OBJECT
 public:
  explicit CEditEx(QWidget* parent = nullptr);
  ~CEditEx() override;
};

class CEditNumeric : public CEditEx {
  Q_OBJECT
 public:
  // Modes: what may be typed and how the text is checked. Any other mode
  // lets nothing be typed and checks nothing.
  enum : std::int32_t { MODE_ANY = 0, MODE_INTEGER = 1, MODE_REAL = 3 };
  // Check results.
  enum TResult : int { RESULT_INVALID = 0, RESULT_INCOMPLETE = 1, RESULT_EMPTY = 2, RESULT_VALID = 3 };

  // The backgrounds by result (the empty one is the palette's Base).
  static const QColor& InvalidColor();
  static const QColor& IncompleteColor();
  static const QColor& ValidColor();

  explicit CEditNumeric(QWidget* parent = nullptr);
  ~CEditNumeric() override;

  // Sets the mode and clears both values, all four limits, both limit
  // switches and both flags; the 64-bit switch stays.
  void SetNumericMode(std::int32_t mode);
  // Whole numbers in the full 64-bit range instead of 32 bits.
  void Set64Bit(bool on) { m_b64Bit = on; }

  // Shows a real value ("%#g": 2.5 shows "2.50000"); both flags are set
  // when it is finite, cleared when it is not.
  void SetValue(double value);
  // Shows a whole value with every digit; both flags set when it fits the
  // current width (32 or 64 bits), cleared when it does not.
  void SetIntValue(std::int64_t value);

  // Reads a whole or real number from `text` (leading blanks, tabs and one
  // "+" allowed, nothing after it); false when it is not one, out of the
  // width's range, not finite, or outside an enabled limit. On success the
  // value member takes it.
  bool ParseInteger(const QString& text);
  bool ParseReal(const QString& text);

  // Checks the current text, updates both flags and returns the result.
  int Validate();

  // The syntax checks of the two modes: 0 invalid, 1 incomplete, 2 empty,
  // 3 complete.
  static int CheckIntegerSyntax(const QString& text);
  static int CheckRealSyntax(const QString& text);
  // The conversions without limits: nothing when `text` is not a number of
  // its kind in range (a real too small for a double reads as 0).
  static std::optional<std::int64_t> ReadInteger(const QString& text, bool wide64);
  static std::optional<double> ReadReal(const QString& text);

  // The last check's result (kept for the background).
  int LastResult() const { return m_nLastResult; }

  // --- read and written by the owner ---
  std::int32_t m_nMode = MODE_INTEGER;
  QString m_strText;  // the last text set by a value setter
  bool m_bTextComplete = false;
  bool m_bValueValid = false;
  double m_dValue = 0.0;
  double m_dMin = 0.0;
  double m_dMax = 0.0;
  std::int64_t m_nValue = 0;
  std::int64_t m_nMin = 0;
  std::int64_t m_nMax = 0;
  bool m_bMinEnabled = false;
  bool m_bMaxEnabled = false;
  bool m_b64Bit = false;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnTextChanged();
  bool WithinLimits(std::int64_t value) const;
  bool WithinLimits(double value) const;
  void ShowResult(int result);

  int m_nLastResult = RESULT_EMPTY;
};
