#pragma once
// The "Media document" page: what a media document holds. The document's
// type, identifier and title, and for the channel chosen with the selector
// its source (type, device, title, whole path, picture size) and the format
// details of its kind. It changes nothing: OK sends nothing. For a DVD
// channel "More info..." fetches a further text, kept per channel for the
// life of the sheet.

#include <array>
#include <string>

#include "options/opts_media_document_exchange.h"
#include "options/opts_page.h"

class QPlainTextEdit;
class QPushButton;

namespace OptsPage {
class CChannelRadios;
}

namespace OptsMediaDocument {

inline constexpr const char* kReadFailed = "Configuration data for channels is not available";
inline constexpr const char* kMoreInfoFailed = "Data is not available.";

class COptsMediaDocument : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsMediaDocument(QWidget* parent = nullptr);
  ~COptsMediaDocument() override;

  // Shows a channel's text (0..3).
  void ShowChannelInfo(int channel);
  // "More info...".
  void OnMoreInfo();

  int CurrentChannel() const;
  OptsPage::CChannelRadios* Selector() const { return m_pSelector; }
  QPlainTextEdit* DocumentEdit() const { return m_pDocument; }
  QPlainTextEdit* ChannelEdit() const { return m_pChannel; }
  QPushButton* OptionsButton() const { return m_pOptions; }
  QPushButton* MoreInfoButton() const { return m_pMoreInfo; }
  const std::string& MoreInfoText(int channel) const;

 protected:
  bool OnInitDialog() override;
  void showEvent(QShowEvent* event) override;

 private:
  void FitChannelText();
  void GrowToShowAll();

  ZarnTypes::TMediaDocumentExchange m_Block;
  std::array<std::string, 4> m_moreInfo;
  OptsPage::CChannelRadios* m_pSelector = nullptr;
  QPlainTextEdit* m_pDocument = nullptr;
  QPlainTextEdit* m_pChannel = nullptr;
  QPushButton* m_pOptions = nullptr;
  QPushButton* m_pMoreInfo = nullptr;
};

}  // namespace OptsMediaDocument
