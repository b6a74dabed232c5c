#pragma once
// The "Save stream" page: per channel whether it records, into which file
// format (only what the channel's source can give), where (a folder of
// numbered files or one file, composed from prefix, title base, index
// suffix and digits, and the next clip index), which picture is recorded
// for picture-in-picture, the format's own options, and the document's
// recording switch.
//
// The page reads the four channels from its owner (topic
// OPTTOPIC_SAVE_STREAM) when it opens and sends them back on OK. It is
// itself the owner of the sheets it opens for a format's options: they
// change this page's records only, nothing reaches the document before
// this page's OK.

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "options/opts_channel_pages.h"
#include "options/opts_save_stream_exchange.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace OptsSaveStreamPath {
class COptsSaveStreamPath;
}

namespace OptsSaveStream {

// The output formats a source offers, in list order ("Null stream" first):
// a capture device of category 1 AVI and WMA, of categories 2..5 every
// candidate; files, streams and stills (stream types 3..15, 22..94) MNG
// and every candidate from 22 on; every other source nothing more.
std::vector<std::int32_t> OfferedFormats(std::int32_t streamType, std::int32_t deviceCategory);

// The sheet category of a format's options (0: none).
std::int32_t FormatSheetCategory(std::int32_t format);

// The sampling text of a method (with its leading blank; "" for none).
const char* SamplingText(std::int32_t method);

class CZarnOptsSaveStream : public OptsPage::CChannelFormatPage {
  Q_OBJECT
 public:
  explicit CZarnOptsSaveStream(QWidget* parent = nullptr);
  ~CZarnOptsSaveStream() override;

  void OnOK() override;

  // The page's block.
  const ZarnTypes::TSaveStreamExchange& Block() const { return m_Block; }
  ZarnTypes::TSaveStreamExchange& Block() { return m_Block; }

  // What the page does (also from its controls).
  void ShowChannel(int channel) override;
  void StoreChannel(int channel) override;
  bool FillFormatList(int channel, std::int32_t wanted);
  void ApplyFormat(std::int32_t format, int channel);
  bool UpdateTargetPath(bool redisplay);
  void UpdatePipControls(std::int32_t format);
  bool DescribeSampling(int channel, std::int32_t streamType);
  void SelectFormat(std::int32_t format);
  // "Options..." of the format, "Settings..." of the target path.
  void OnFormatOptions();
  void OnTargetPathSettings();
  // "Settings..." of the sampling: the sampling sheet for the shown
  // channel with this page as owner; on OK the channel's sampling text.
  void OnSamplingSettings();

  // How the page runs its sub-dialogs (replaced by tests): the format sheet
  // of a category with this page as owner (true on OK), and the path dialog.
  std::function<bool(std::int32_t category)> m_RunFormatSheet;
  std::function<int(OptsSaveStreamPath::COptsSaveStreamPath&)> m_RunPathDialog;
  // The sampling sheet (true on OK).
  std::function<bool()> m_RunSamplingSheet;

  // The owner role towards the format sheets: answers a format page's read
  // and write for the format-sheet channel (true when answered).
  bool ExchangeFormatBlock(UINT message, ZarnTypes::TOptsExchangeHeader& header);
  // ... and towards the sampling sheet: a read gets the shown channel and
  // copies of the four channel records, a write gives all four back.
  bool ExchangeSamplingBlock(ZarnTypes::TSamplingExchange& block);
  int m_nSheetChannel = 0;

  // Controls.
  QCheckBox* m_pEnable = nullptr;
  QCheckBox* m_pRecordingOn = nullptr;
  QPushButton* m_pTargetSettings = nullptr;
  QLineEdit* m_pSampling = nullptr;
  QPushButton* m_pSamplingSettings = nullptr;
  QGroupBox* m_pPipGroup = nullptr;
  QCheckBox* m_pPip = nullptr;
  QRadioButton* m_pPipPort = nullptr;
  QRadioButton* m_pPipPrimary = nullptr;

 protected:
  bool OnInitDialog() override;

 private:
  ZarnTypes::TSaveStreamChannel& Record(int channel) { return m_Block.channels[channel & 3]; }

  ZarnTypes::TSaveStreamExchange m_Block;
};

}  // namespace OptsSaveStream
