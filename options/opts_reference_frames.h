#pragma once
// The "Reference frames" page: the start and stop frame of the primary and
// the assistant channel's readers. Channels 3 and 4 go back as they were
// read. The owner (a media document's controller pane) accepts the frames
// at any time.

#include <cstdint>

#include "options/opts_page.h"
#include "options/opts_reference_frames_exchange.h"

class QLineEdit;

namespace OptsReferenceFrames {

// Control ids of the page's form.
inline constexpr int IDC_PRIMARY_START = 1185;
inline constexpr int IDC_PRIMARY_STOP = 1186;
inline constexpr int IDC_ASSISTANT_START = 1200;
inline constexpr int IDC_ASSISTANT_STOP = 1202;

class COptsReferenceFrames : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsReferenceFrames(QWidget* parent = nullptr);
  ~COptsReferenceFrames() override;

  void OnOK() override;

  // The edit of a control id, or null.
  QLineEdit* Edit(int id) const;
  const ZarnTypes::TReferenceFramesExchange& Block() const { return m_Block; }

 protected:
  bool OnInitDialog() override;

 private:
  ZarnTypes::TReferenceFramesExchange m_Block;
  QLineEdit* m_pPrimaryStart = nullptr;
  QLineEdit* m_pPrimaryStop = nullptr;
  QLineEdit* m_pAssistantStart = nullptr;
  QLineEdit* m_pAssistantStop = nullptr;
};

}  // namespace OptsReferenceFrames
