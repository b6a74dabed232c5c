#pragma once
// What the "Save stream" and "Capture image" pages share: one of the four
// channels shown at a time under the document's name, the channel radios
// and the channel's description, a list of the formats the channel's
// source offers and the path the channel's next file takes.

#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "media/media_source.h"
#include "options/opts_page.h"
#include "platform/qt/app_messages.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace OptsPage {

class CChannelRadios;

// A control named after its dialog id ("IDC_<id>").
QWidget* NameControl(QWidget* widget, int id);
template <class T>
T* Named(T* widget, int id) {
  NameControl(widget, id);
  return widget;
}

class CChannelFormatPage : public COptsPage {
 public:
  // The channel shown (0..3).
  int CurrentChannel() const { return m_nChannel; }
  // The formats of a channel's list, in list order.
  const std::vector<std::int32_t>& Codes(int channel) const {
    return m_Codes[static_cast<std::size_t>(channel & 3)];
  }
  // The code of the list's selected entry (0 when none).
  std::int32_t SelectedFormat() const;
  const std::string& TargetPath() const { return m_sTargetPath; }

  virtual void ShowChannel(int channel) = 0;
  virtual void StoreChannel(int channel) = 0;

  QLabel* m_pDocument = nullptr;
  CChannelRadios* m_pChannels = nullptr;
  QPlainTextEdit* m_pChannelText = nullptr;
  QComboBox* m_pFormat = nullptr;
  QPushButton* m_pFormatOptions = nullptr;
  QLineEdit* m_pTarget = nullptr;

 protected:
  using COptsPage::COptsPage;

  // The ids of the format and target rows' controls.
  struct TRowIds {
    int formatLabel, format, formatOptions, targetLabel, target, targetButton;
  };
  // The document's name, the channel radios (storing the channel left and
  // showing the one chosen) and the channel's description.
  void AddChannelHeader(QVBoxLayout* layout);
  // The ""Save stream" properties" box (id `boxId`) added to `layout`: a
  // check box on each of its first two rows, then the format list, wide
  // enough for the longest name of `candidates` (named by `nameOf`) so that
  // switching channels does not resize the page, with its "Options..."
  // button, and the read-only target path (it follows from the settings)
  // with a button captioned `targetButton`. Returns the box's grid for rows
  // of the page's own.
  struct TCheck {
    const char* text;
    int id;
    QCheckBox** control;
  };
  QGridLayout* AddPropertiesBox(QVBoxLayout* layout, int boxId, const TCheck& first, const TCheck& second,
                                const std::vector<std::int32_t>& candidates,
                                bool (*nameOf)(std::int32_t, std::string&), const TRowIds& ids,
                                const char* targetButton, QPushButton** target);

  // Reads the page's block of `topic` from the owner (an empty block
  // first) and shows channel 0; false when the owner did not answer.
  template <class TBlock>
  bool ReadChannels(TBlock& block, std::int32_t topic, TOptsPageKind kind) {
    block = TBlock{};
    m_nChannel = 0;
    if (!ReadBlock(platform::qt::WM_APP_OPTS_CATEGORY, topic, block, ReadFailedText(kind))) return false;
    ResetChannels();
    return true;
  }
  // Keeps the shown channel's controls (unless the read failed) and sends
  // the block back to the owner.
  template <class TBlock>
  void WriteChannels(TBlock& block, std::int32_t topic, TOptsPageKind kind) {
    if (!ReadFailed()) StoreChannel(m_nChannel);
    WriteBlock(platform::qt::WM_APP_OPTS_CATEGORY, topic, block, WriteFailedText(kind));
  }
  // The radios back on channel 0, channel 0 shown, and the page disabled
  // when it is read-only.
  void ResetChannels();
  // Shows the document's name and the description of a channel's source
  // (a closed one when there is none) and returns that source.
  const ZarnTypes::TMediaSource& ShowSource(const std::string* identifier,
                                            const ZarnTypes::TMediaSource* source);
  // Fills the list with channel `channel`'s formats `codes`, named by
  // `nameOf`, and selects `wanted` (0: the selected entry's format); true
  // when it was among them, else the first entry is selected.
  bool FillList(int channel, std::int32_t wanted, std::vector<std::int32_t> codes,
                bool (*nameOf)(std::int32_t, std::string&));
  static const ZarnTypes::TMediaSource& SourceOrClosed(const ZarnTypes::TMediaSource* source);

  int m_nChannel = 0;
  std::array<std::vector<std::int32_t>, 4> m_Codes;
  std::string m_sTargetPath;
};

}  // namespace OptsPage
