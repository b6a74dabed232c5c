#pragma once
// The "Channel Selector": a modal dialog over a media document's controller
// pane that chooses, per channel, which operations the channel takes part
// in: walking the media-source list, playing, replaying from the cache and
// DVD navigation. The document's command sets the dialog's mode before it
// runs; the mode decides the caption, the prompt, which rows show and which
// selection the first row holds (options/channel_selector_exchange.h).
//
// The dialog reads the selections from its owner when it opens and writes
// them back on OK (WM_APP_OPTS_NAVIGATE). When the owner does not answer the
// write the dialog stays open, so the user can cancel. Cancel sends nothing.

#include <QDialog>

#include <array>
#include <cstdint>
#include <string>

#include "options/channel_selector_exchange.h"

class QAbstractButton;
class QButtonGroup;
class QGridLayout;
class QLabel;

namespace OptsNavigate {

// What a mode shows.
struct TNavigateModeTexts {
  const char* caption;
  const char* prompt;
  const char* rowLabel;  // the label of the first row
  bool allRows;          // the play and replay rows show too
  bool radio;            // the first row chooses one channel at most
};

// The texts of a mode; false for a mode the dialog does not know.
bool NavigateModeTexts(std::int32_t mode, TNavigateModeTexts& texts);

// The twelve boxes: [row][channel], row 0 the first row.
using TBoxes = std::array<std::array<bool, 4>, 3>;

// The boxes a block shows in a mode (rows the mode hides stay clear).
TBoxes ShowSelections(std::int32_t mode, const ZarnTypes::TNavigateExchange& block);
// Takes the boxes into the block as the mode asks; every byte the mode does
// not show goes back as it was.
void StoreSelections(std::int32_t mode, const TBoxes& boxes, ZarnTypes::TNavigateExchange& block);

class COptsNavigate : public QDialog {
  Q_OBJECT
 public:
  // `owner` answers the exchange (the controller pane) and is the parent.
  explicit COptsNavigate(QWidget* owner);
  ~COptsNavigate() override;

  void SetMode(std::int32_t mode) { m_nModeRequested = mode; }
  std::int32_t Mode() const { return m_nMode; }

  // Reads the selections and shows the mode; false when the mode is unknown
  // or the owner did not answer (the dialog then shows empty boxes). exec()
  // runs it first.
  bool OnInitDialog();
  // Writes the selections; closes with OK when the owner took them.
  void OnOK();

  QAbstractButton* Box(int row, int channel) const;
  QLabel* Prompt() const { return m_pPrompt; }
  QLabel* RowLabel(int row) const { return m_pRowLabel[static_cast<std::size_t>(row)]; }
  const ZarnTypes::TNavigateExchange& Block() const { return m_Block; }

  int exec() override;
  void accept() override { OnOK(); }

 private:
  void BuildRow(int row, bool radio);

  QWidget* m_pOwner;
  std::int32_t m_nModeRequested = 0;
  std::int32_t m_nMode = 0;
  bool m_bInitDone = false;
  // The owner answered the read: only then does OK write the block back.
  bool m_bReadAnswered = false;
  ZarnTypes::TNavigateExchange m_Block;
  QLabel* m_pPrompt = nullptr;
  std::array<QLabel*, 3> m_pRowLabel{};
  std::array<std::array<QAbstractButton*, 4>, 3> m_pBoxes{};
  QButtonGroup* m_pRadioGroup = nullptr;
  QGridLayout* m_pGrid = nullptr;
};

}  // namespace OptsNavigate
