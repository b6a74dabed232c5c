#pragma once
// The "Picture In Picture" page: the insets of the primary and the
// assistant video pane (shown or not, the video port inserted, where the
// inset sits and how large it is, the whole source picture or a crop of
// it). Read when the page opens; on OK written back and, once the owner
// took it, the owner is asked to repaint its panes. The page stays editable
// and writes also in a read-only sheet.

#include <array>
#include <cstdint>

#include "options/opts_page.h"
#include "options/opts_pict_in_pict_exchange.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class QSpinBox;

namespace OptsPictInPict {

inline constexpr int kPosMin = -5000;
inline constexpr int kSizeMax = 5000;

// The numbers of a pane, in the order of the record.
enum TPipNumber : int {
  PIP_X,
  PIP_Y,
  PIP_WIDTH,
  PIP_HEIGHT,
  PIP_CROP_X,
  PIP_CROP_Y,
  PIP_CROP_WIDTH,
  PIP_CROP_HEIGHT
};
inline constexpr int kPipNumberCount = 8;

struct TPipPaneControls {
  QGroupBox* group = nullptr;
  QCheckBox* enabled = nullptr;
  QSpinBox* port = nullptr;
  QRadioButton* fromPane = nullptr;
  QRadioButton* fromPicture = nullptr;
  QRadioButton* entire = nullptr;
  QRadioButton* crop = nullptr;
  std::array<QSpinBox*, kPipNumberCount> numbers{};
  std::array<QLabel*, kPipNumberCount> labels{};
};

class COptsPictInPict : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsPictInPict(QWidget* parent = nullptr);
  ~COptsPictInPict() override;

  void OnOK() override;

  // Pane 0 is the primary, 1 the assistant.
  const TPipPaneControls& Pane(int pane) const { return m_panes[static_cast<std::size_t>(pane & 1)]; }
  const ZarnTypes::TPictInPictExchange& Block() const { return m_Block; }

 protected:
  bool OnInitDialog() override;
  bool WritesWhenReadOnly() const override { return true; }

 private:
  void BuildPane(int pane, const char* title, const std::array<int, 17>& ids);
  void EnablePane(int pane, bool enabled);

  ZarnTypes::TPictInPictExchange m_Block;
  std::array<TPipPaneControls, 2> m_panes{};
};

}  // namespace OptsPictInPict
