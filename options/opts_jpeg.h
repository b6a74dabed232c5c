#pragma once
// The "JPEG" page: the quality of a JPEG file (1..100, a slider, an edit and
// its arrows) and whether it is written in colour or in greyscale.
//
// Owners: the extended file dialog and the save-stream page answer
// WM_APP_OPTS_JPEG with a TJpegExchange.

#include <cstddef>
#include <cstdint>

#include "options/opts_page.h"

#include <initializer_list>

class QAbstractButton;
class QLineEdit;
class QRadioButton;
class QSlider;
class QToolButton;

namespace ZarnTypes {

struct TJpegExchange {
  TOptsExchangeHeader header;
  std::int32_t format = 0;      // 38 colour, 39 greyscale
  std::int32_t quality = 0;     // 1..100
  std::int32_t qualityMin = 0;  // written by the page
  std::int32_t qualityMax = 0;  // written by the page
};
static_assert(offsetof(TJpegExchange, format) == 8);
static_assert(offsetof(TJpegExchange, quality) == 12);
static_assert(offsetof(TJpegExchange, qualityMin) == 16);
static_assert(offsetof(TJpegExchange, qualityMax) == 20);
static_assert(sizeof(TJpegExchange) == 24);

}  // namespace ZarnTypes

namespace OptsJpeg {

inline constexpr std::int32_t kFormatColor = 38;
inline constexpr std::int32_t kFormatGray = 39;
inline constexpr std::int32_t kQualityMin = 1;
inline constexpr std::int32_t kQualityMax = 100;
inline constexpr int kQualityTicks = 10;

// `value` held to lo..hi.
std::int32_t ClampValue(std::int32_t value, std::int32_t lo, std::int32_t hi);

// Checks `which` (nullptr: none) and unchecks the other buttons of its
// group; exclusive radio buttons cannot be unchecked otherwise.
void CheckOnly(std::initializer_list<QAbstractButton*> group, QAbstractButton* which);

// A whole number edit with up and down arrows. Only digits can be typed and
// the text may leave the range (the page clamps what it stores); the arrows
// step from the shown number, within the range, and report the new number.
class CDigitSpin : public QWidget {
  Q_OBJECT
 public:
  explicit CDigitSpin(QWidget* parent = nullptr);
  ~CDigitSpin() override;

  void SetRange(std::int32_t lo, std::int32_t hi);
  std::int32_t Minimum() const { return m_lo; }
  std::int32_t Maximum() const { return m_hi; }
  // Shows a number (no signal).
  void SetValue(std::int32_t value);
  // The number typed; `fallback` when the edit holds no digits. Numbers too
  // long for 32 bits read as the largest one.
  std::int32_t Value(std::int32_t fallback) const;

  QLineEdit* Edit() const { return m_edit; }
  QToolButton* UpButton() const { return m_up; }
  QToolButton* DownButton() const { return m_down; }

  // A click on an arrow: steps by `delta` and emits Stepped.
  void Step(int delta);

 signals:
  void Stepped(std::int32_t value);

 private:
  QLineEdit* m_edit = nullptr;
  QToolButton* m_up = nullptr;
  QToolButton* m_down = nullptr;
  std::int32_t m_lo = 0;
  std::int32_t m_hi = 0;
};

class COptsJpeg : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  static constexpr const char* kReadFailed = "Configuration data for Jpeg file are not available";
  static constexpr const char* kWriteFailed = "Configuration data for Jpeg file can not be set";

  explicit COptsJpeg(QWidget* parent = nullptr);
  ~COptsJpeg() override;

  void OnOK() override;

  const ZarnTypes::TJpegExchange& Block() const { return m_block; }
  std::int32_t Quality() const { return m_quality; }

  QSlider* QualitySlider() const { return m_slider; }
  CDigitSpin* QualitySpin() const { return m_spin; }
  QRadioButton* ColorButton() const { return m_color; }
  QRadioButton* GrayButton() const { return m_gray; }

 protected:
  bool OnInitDialog() override;

 private:
  ZarnTypes::TJpegExchange m_block;
  std::int32_t m_quality = kQualityMin;
  QSlider* m_slider = nullptr;
  CDigitSpin* m_spin = nullptr;
  QRadioButton* m_color = nullptr;
  QRadioButton* m_gray = nullptr;
};

}  // namespace OptsJpeg
