#pragma once
// The "AVI" page: the DV AVI file type of an AVI recording. The save-stream
// page answers WM_APP_OPTS_AVI with a TAviExchange and turns the type into
// the work mode of a DV device's capture graph (type 1: 2, type 2: 6).

#include <cstddef>
#include <cstdint>

#include "options/opts_page.h"

class QRadioButton;

namespace ZarnTypes {

struct TAviExchange {
  TOptsExchangeHeader header;
  std::int32_t format = 0;       // the owner's output format, kept by it
  std::int32_t reserved12 = 0;   // carried
  std::int32_t aviFileType = 0;  // 1 type 1, 2 type 2
  std::int32_t reserved20 = 0;   // carried
};
static_assert(offsetof(TAviExchange, format) == 8);
static_assert(offsetof(TAviExchange, reserved12) == 12);
static_assert(offsetof(TAviExchange, aviFileType) == 16);
static_assert(sizeof(TAviExchange) == 24);

}  // namespace ZarnTypes

namespace OptsAvi {

class COptsAvi : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsAvi(QWidget* parent = nullptr);
  ~COptsAvi() override;

  void OnOK() override;

  const ZarnTypes::TAviExchange& Block() const { return m_block; }
  QRadioButton* Type1Button() const { return m_type1; }
  QRadioButton* Type2Button() const { return m_type2; }

 protected:
  bool OnInitDialog() override;

 private:
  ZarnTypes::TAviExchange m_block;
  QRadioButton* m_type1 = nullptr;
  QRadioButton* m_type2 = nullptr;
};

}  // namespace OptsAvi
