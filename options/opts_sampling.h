#pragma once
// The "Save stream sampling method" page: which frames a channel's
// recording keeps. All of them; one per time interval between a begin and
// an end time (Windows Media video only); or one per interval of sample
// numbers between a begin and an end sample (the step fixed at 1 for every
// format but Windows Media video).
//
// The page is the only page of the "Settings" sheet that the "Save stream"
// page opens for its shown channel; that page, not the document, answers
// the exchange (topic OPTTOPIC_SAMPLING): the channel and copies of all
// four channel records on a read, the four records back on a write. The
// page hands its block back also in a read-only sheet.
//
// Sample numbers are shown and read in their full 64 bits.

#include <QString>

#include <cstdint>

#include "options/opts_page.h"
#include "options/opts_save_stream_exchange.h"

class CEditNumeric;
class QComboBox;
class QLabel;

namespace OptsSaveStreamSampling {

// The sampling methods (the channel record's sampling method).
enum : std::int32_t { METHOD_ALL_SAMPLES = 1, METHOD_TIME_INTERVAL = 2, METHOD_SAMPLE_INTERVAL = 3 };

class COptsSaveStreamSampling : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsSaveStreamSampling(QWidget* parent = nullptr);
  ~COptsSaveStreamSampling() override;

  void OnOK() override;

  // Fills the method list for a stream type (nothing for type 0, the time
  // interval only for Windows Media video) and selects the channel's
  // method, or the first entry; false when the list stays empty.
  bool FillMethodList(int channel, std::int32_t streamType);
  // Puts a method's labels, edit modes and values into the controls (the
  // six value controls hidden for any method but 2 and 3).
  void ShowMethod(std::int32_t method, std::int32_t streamType);
  // The list closed on entry `index`: the method becomes the channel's.
  void OnMethodChosen(int index);

  const ZarnTypes::TSamplingExchange& Block() const { return m_Block; }
  // The channel shown; -1 before a read or when the owner named none of
  // the four.
  int CurrentChannel() const { return m_nChannel; }

  // Controls.
  QLabel* m_pChannel = nullptr;
  QLabel* m_pMethodLabel = nullptr;
  QComboBox* m_pMethod = nullptr;
  QLabel* m_pHint = nullptr;
  QLabel* m_pIntervalLabel = nullptr;
  CEditNumeric* m_pInterval = nullptr;
  QLabel* m_pBeginLabel = nullptr;
  CEditNumeric* m_pBegin = nullptr;
  QLabel* m_pEndLabel = nullptr;
  CEditNumeric* m_pEnd = nullptr;

 protected:
  bool OnInitDialog() override;
  bool WritesWhenReadOnly() const override { return true; }

 private:
  std::int32_t StreamTypeOfChannel() const;
  // Fits the sheet to the controls shown.
  void FitSheet();

  ZarnTypes::TSamplingExchange m_Block;
  int m_nChannel = -1;
};

}  // namespace OptsSaveStreamSampling
