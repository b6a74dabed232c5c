#pragma once
// The "Capture image" page: per channel what the document's capture does
// with a captured picture (copy it to the clipboard, save it to a file),
// which of the six BMP depths the file is, and where it goes. The shown
// path is the file the channel's next capture of a stopped document
// writes. The page reads the four channels from its owner (topic
// OPTTOPIC_SAVE_IMAGE) when it opens and sends them back on OK.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "options/opts_channel_pages.h"
#include "options/opts_save_stream_exchange.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace OptsSaveStreamPath {
class COptsSaveStreamPath;
}

namespace OptsCaptureImage {

// The capture formats (TStreamType) a source offers, in list order: "Null
// stream", then the BMP depths 33, 32, 31, 30, 29, 27 for a capture device
// of category 2..6 and for stream types 3..15 and 22..96.
std::vector<std::int32_t> OfferedCaptureFormats(std::int32_t streamType, std::int32_t deviceCategory);

// The file a capture numbered `record.nextClipIndex` of channel `channel`
// writes: the capture writer's own naming (folder, prefix, the number in
// `clipDigits` digits, suffix, extension).
std::string ComposeCapturePath(const ZarnTypes::TSaveStreamChannel& record, int channel);

class CZarnOptsSaveImage : public OptsPage::CChannelFormatPage {
  Q_OBJECT
 public:
  explicit CZarnOptsSaveImage(QWidget* parent = nullptr);
  ~CZarnOptsSaveImage() override;

  void OnOK() override;

  const ZarnTypes::TSaveImageExchange& Block() const { return m_Block; }
  ZarnTypes::TSaveImageExchange& Block() { return m_Block; }

  void ShowChannel(int channel) override;
  void StoreChannel(int channel) override;
  bool FillFormatList(std::int32_t wanted, int channel);
  void ApplyFormat(std::int32_t code, int channel);
  bool UpdateTargetPath(bool redisplay);
  void OnTargetPathOptions();

  // How the page runs the path dialog (replaced by tests).
  std::function<int(OptsSaveStreamPath::COptsSaveStreamPath&)> m_RunPathDialog;

  QCheckBox* m_pClipboard = nullptr;
  QCheckBox* m_pSaveToFile = nullptr;
  QPushButton* m_pTargetOptions = nullptr;

 protected:
  bool OnInitDialog() override;

 private:
  ZarnTypes::TSaveImageChannel& Record(int channel) { return m_Block.channels[channel & 3]; }
  ZarnTypes::TSaveStreamChannel PathRecord(int channel) const;

  ZarnTypes::TSaveImageExchange m_Block;
};

}  // namespace OptsCaptureImage
