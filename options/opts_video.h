#pragma once
// The "Video" page: the frame rate of playing (edited as frames per second
// and kept as the video-out period in milliseconds), the synchronisation of
// the channels and the controller pane's two information switches. The
// owner (a media document's controller pane) refuses the write while the
// document plays.

#include <cstdint>

#include "options/opts_page.h"
#include "options/opts_video_exchange.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace OptsVideo {

inline constexpr int kRateMin = 1;
inline constexpr int kRateMax = 200;

// Frames per second of a period (1000 / period, truncated); 0 for a period
// that is not positive.
std::int32_t RateOfPeriod(std::int32_t periodMs);
// The period of a rate (1000 / rate, truncated); 0 for a rate that is not
// positive.
std::int32_t PeriodOfRate(std::int32_t rate);

class COptsVideo : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsVideo(QWidget* parent = nullptr);
  ~COptsVideo() override;

  void OnOK() override;

  std::int32_t Rate() const { return m_nRate; }
  std::int32_t Period() const { return m_nPeriod; }
  // Moves the track bar as the user would; the bar keeps to 1..200.
  void TrackTo(int position);

  QSpinBox* RateEdit() const { return m_pRate; }
  QSlider* RateTrackBar() const { return m_pTrack; }
  QLineEdit* PeriodEdit() const { return m_pPeriod; }
  QRadioButton* SyncButton(std::int32_t mode) const;
  QCheckBox* FrameInfoBox() const { return m_pFrameInfo; }
  QCheckBox* FileNameInfoBox() const { return m_pFileNameInfo; }
  const ZarnTypes::TVideoExchange& Block() const { return m_Block; }

 protected:
  bool OnInitDialog() override;

 private:
  void SetRate(int rate);
  void ShowMembers();

  ZarnTypes::TVideoExchange m_Block;
  std::int32_t m_nRate = 0;
  std::int32_t m_nPeriod = 0;
  bool m_bShowing = false;
  QSpinBox* m_pRate = nullptr;
  QSlider* m_pTrack = nullptr;
  QLineEdit* m_pPeriod = nullptr;
  QRadioButton* m_pByFrames = nullptr;
  QRadioButton* m_pByTime = nullptr;
  QRadioButton* m_pNone = nullptr;
  QCheckBox* m_pFrameInfo = nullptr;
  QCheckBox* m_pFileNameInfo = nullptr;
};

}  // namespace OptsVideo
