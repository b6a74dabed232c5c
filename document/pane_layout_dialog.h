#pragma once
// The "Video Pane / Channel Layout" dialog: which channel each of the four
// video panes of the active document shows. The dialog reads and writes the
// document's pane-to-channel map through its owner (the document's child
// frame) with WM_APP_PANE_COMMAND 6 and a TPaneLayoutExchange: operation 1
// when it opens, operation 2 on "Apply" and OK.
//
// Presets (channel of panes 0, 1, 2, 3): horizontal (0, 1, 2, 3), vertical
// (0, 2, 1, 3). A map that is neither opens as a custom layout.

#include <QDialog>

#include <array>
#include <cstdint>

#include "document/pane_messages.h"

class QComboBox;
class QPushButton;
class QRadioButton;

namespace VideoPortPaneLayout {

// Control ids of the dialog's template.
inline constexpr int IDC_RADIO_HORIZONTAL = 1032;
inline constexpr int IDC_RADIO_VERTICAL = 1001;
inline constexpr int IDC_RADIO_CUSTOM = 1002;
inline constexpr int IDC_COMBO_PANE_1 = 1003;  // .. 1006 for panes 0..3
inline constexpr int IDC_BUTTON_APPLY = 1007;

class CVideoPortPaneLayout : public QDialog {
  Q_OBJECT
 public:
  // The layout state: nothing recognised yet, a preset, or custom.
  enum TLayoutState : std::int32_t { LAYOUT_NONE = 0, LAYOUT_PRESET = 1, LAYOUT_CUSTOM = 3 };

  // `owner` answers the exchange (the child frame) and parents the dialog.
  explicit CVideoPortPaneLayout(QWidget* owner);

  // Fills the lists and reads the current map from the owner; when the owner
  // does not answer, tells the user that the default layout is used. Run
  // once by the first show (exec); callable before that.
  void OnInitDialog();

  // "Apply": sends the chosen map; false (after telling the user) when the
  // owner did not take it.
  bool OnApply();
  // OK: Apply, then closes with OK whatever the answer.
  void accept() override;

  QComboBox* PaneCombo(int pane) const { return m_pCombo[static_cast<std::size_t>(pane)]; }
  QRadioButton* HorizontalButton() const { return m_pHorizontal; }
  QRadioButton* VerticalButton() const { return m_pVertical; }
  QRadioButton* CustomButton() const { return m_pCustom; }
  QPushButton* ApplyButton() const { return m_pApply; }
  std::int32_t LayoutState() const { return m_nLayoutState; }
  // The channels the four lists show now.
  std::array<std::int32_t, 4> SelectedChannels() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnPreset(const std::array<std::int32_t, 4>& channels);
  void OnCustom();

  QWidget* m_pOwner;
  std::array<QComboBox*, 4> m_pCombo{};
  QRadioButton* m_pHorizontal = nullptr;
  QRadioButton* m_pVertical = nullptr;
  QRadioButton* m_pCustom = nullptr;
  QPushButton* m_pApply = nullptr;
  ZarnTypes::TPaneLayoutExchange m_Block;
  std::int32_t m_nLayoutState = LAYOUT_NONE;
  bool m_bInitialised = false;
};

}  // namespace VideoPortPaneLayout
