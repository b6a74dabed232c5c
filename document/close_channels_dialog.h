#pragma once
// "Close Media Source": the channels of a document that the user closes.
// Each channel shows whether it is open; an open channel's box can be
// ticked. The primary channel can be closed only together with every other
// open channel: its box is enabled once all of theirs are ticked.

#include <QDialog>

#include <array>
#include <cstdint>

class QCheckBox;
class QLabel;

namespace CloseStreamFrom {

class CCloseStreamFrom : public QDialog {
  Q_OBJECT
 public:
  explicit CCloseStreamFrom(QWidget* parent = nullptr);

  // Shows the states and sets the boxes from `m_Open`; run before the
  // dialog is shown (DoModal runs it).
  void OnInitDialog();
  // The box of channel 2, 3 or 4 was clicked; `checked` is its new state.
  void UpdatePrimaryCheck(bool checked);
  // Takes the boxes into `m_Close` and ends with OK.
  void OnOK();
  // OnInitDialog, then the dialog modally: QDialog::Accepted for OK.
  int DoModal();

  QCheckBox* CheckBox(int channel) const { return m_Check[static_cast<std::size_t>(channel)]; }
  QLabel* StateLabel(int channel) const { return m_State[static_cast<std::size_t>(channel)]; }

  // In: channel i has an open source. Out (after OK): channel i is closed.
  std::array<std::uint8_t, 4> m_Open{};
  std::array<std::uint8_t, 4> m_Close{};

 private:
  std::array<QCheckBox*, 4> m_Check{};
  std::array<QLabel*, 4> m_State{};
};

}  // namespace CloseStreamFrom
