#pragma once
// The "Video Pane" page: per channel, how the channel's video pane stretches
// its picture while the document does not play ("View" mode) and while it
// plays ("Play" mode), each fast or smooth, and a switch that makes every
// playback stretch fast. All four channels are read when the page opens and
// written back on OK, also from a read-only sheet (the page is disabled
// there, so it hands back what it read).

#include <cstdint>

#include "options/opts_page.h"
#include "options/opts_video_pane_exchange.h"

class QCheckBox;
class QLabel;
class QSlider;

namespace OptsPage {
class CChannelRadios;
}

namespace OptsVideoPane {

// The slider position of a stretch mode: 1 for the smooth mode, else 0.
int ViewPosition(std::int32_t viewMode);
// The "Play" slider's position: 0 for the fast mode, 1 for the smooth one,
// the "View" slider's position for any other mode.
int PlayPosition(std::int32_t playMode, int viewPosition);
// The mode a slider position stores: smooth at 1, else fast.
std::int32_t ModeOfPosition(int position);

class COptsVideoPane : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsVideoPane(QWidget* parent = nullptr);
  ~COptsVideoPane() override;

  void OnOK() override;

  int CurrentChannel() const { return m_nChannel; }
  OptsPage::CChannelRadios* ChannelRadios() const { return m_pChannels; }
  QLabel* DocumentLabel() const { return m_pDocument; }
  QCheckBox* FastStretchBox() const { return m_pFastStretch; }
  QLabel* ScaleLabel() const { return m_pScale; }
  QSlider* ViewSlider() const { return m_pView; }
  QSlider* PlaySlider() const { return m_pPlay; }
  const ZarnTypes::TVideoPaneExchange& Block() const { return m_Block; }

 protected:
  bool OnInitDialog() override;
  bool WritesWhenReadOnly() const override { return true; }

 private:
  void ShowChannel(int channel);
  void StoreChannel(int channel);

  ZarnTypes::TVideoPaneExchange m_Block;
  int m_nChannel = 0;
  QLabel* m_pDocument = nullptr;
  OptsPage::CChannelRadios* m_pChannels = nullptr;
  QCheckBox* m_pFastStretch = nullptr;
  QLabel* m_pScale = nullptr;
  QSlider* m_pView = nullptr;
  QSlider* m_pPlay = nullptr;
};

}  // namespace OptsVideoPane
