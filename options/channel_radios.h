#pragma once
// The per-channel selector of the option pages: "Channel:" and four radio
// buttons "1".."4" (controls 1047..1050) for channels 1 to 4. Radio "1" is
// set at opening. A click first lets the page store its controls into the
// channel being left, then makes the clicked channel current, then lets the
// page load that channel's values into its controls and redraw.

#include <QWidget>

#include <array>
#include <functional>

class QButtonGroup;
class QLabel;
class QRadioButton;

namespace OptsPage {

class CChannelRadios : public QWidget {
  Q_OBJECT
 public:
  explicit CChannelRadios(QWidget* parent = nullptr);

  // Called with the channel left, then with the channel clicked.
  std::function<void(int channel)> onStore;
  std::function<void(int channel)> onLoad;

  int Current() const { return m_current; }
  // Back to radio "1" and channel 0, without calling the page.
  void Reset();
  // As a click on a radio button (0..3); other values do nothing.
  void Select(int channel);
  QRadioButton* Radio(int channel) const;

 private:
  int m_current = 0;
  std::array<QRadioButton*, 4> m_radios{};
  QButtonGroup* m_group = nullptr;
};

}  // namespace OptsPage
