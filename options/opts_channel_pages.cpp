#include "options/opts_channel_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "options/channel_radios.h"
#include "options/media_document_text.h"

namespace OptsPage {

QWidget* NameControl(QWidget* widget, int id) {
  widget->setObjectName(QStringLiteral("IDC_%1").arg(id));
  return widget;
}

std::int32_t CChannelFormatPage::SelectedFormat() const {
  const int i = m_pFormat->currentIndex();
  const auto& codes = m_Codes[static_cast<std::size_t>(m_nChannel)];
  return i >= 0 && static_cast<std::size_t>(i) < codes.size() ? codes[static_cast<std::size_t>(i)] : 0;
}

void CChannelFormatPage::AddChannelHeader(QVBoxLayout* layout) {
  m_pDocument = Named(new QLabel("AppObject", this), 1045);
  layout->addWidget(m_pDocument);
  m_pChannels = new CChannelRadios(this);
  m_pChannels->onStore = [this](int channel) { StoreChannel(channel); };
  m_pChannels->onLoad = [this](int channel) {
    m_nChannel = channel;
    ShowChannel(channel);
  };
  layout->addWidget(m_pChannels);
  m_pChannelText = Named(new QPlainTextEdit(this), 1046);
  m_pChannelText->setReadOnly(true);
  m_pChannelText->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_pChannelText->setFixedHeight(m_pChannelText->fontMetrics().lineSpacing() * 3 +
                                 2 * m_pChannelText->frameWidth() + 10);
  layout->addWidget(m_pChannelText);
}

QGridLayout* CChannelFormatPage::AddPropertiesBox(QVBoxLayout* layout, int boxId, const TCheck& first,
                                                  const TCheck& second,
                                                  const std::vector<std::int32_t>& candidates,
                                                  bool (*nameOf)(std::int32_t, std::string&),
                                                  const TRowIds& ids, const char* targetButton,
                                                  QPushButton** target) {
  auto* box = Named(new QGroupBox("\"Save stream\" properties", this), boxId);
  auto* grid = new QGridLayout(box);
  *first.control = Named(new QCheckBox(first.text, box), first.id);
  grid->addWidget(*first.control, 0, 0, 1, 3);
  *second.control = Named(new QCheckBox(second.text, box), second.id);
  grid->addWidget(*second.control, 1, 0, 1, 3);
  grid->addWidget(Named(new QLabel("Save stream file format", box), ids.formatLabel), 2, 0);
  m_pFormat = Named(new QComboBox(box), ids.format);
  int widest = 0;
  std::string name;
  for (std::int32_t code : candidates)
    if (nameOf(code, name))
      widest = std::max(widest, m_pFormat->fontMetrics().horizontalAdvance(QString::fromStdString(name)));
  m_pFormat->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  m_pFormat->setMinimumContentsLength(1);
  m_pFormat->setMinimumWidth(widest + 48);
  grid->addWidget(m_pFormat, 2, 1);
  m_pFormatOptions = Named(new QPushButton("Options...", box), ids.formatOptions);
  grid->addWidget(m_pFormatOptions, 2, 2);
  grid->addWidget(Named(new QLabel("Save stream target path", box), ids.targetLabel), 3, 0);
  m_pTarget = Named(new QLineEdit(box), ids.target);
  m_pTarget->setReadOnly(true);
  grid->addWidget(m_pTarget, 3, 1);
  *target = Named(new QPushButton(targetButton, box), ids.targetButton);
  grid->addWidget(*target, 3, 2);
  grid->setColumnStretch(1, 1);
  layout->addWidget(box);
  return grid;
}

void CChannelFormatPage::ResetChannels() {
  m_pChannels->Reset();
  ShowChannel(0);
  if (ReadOnly()) setEnabled(false);
}

const ZarnTypes::TMediaSource& CChannelFormatPage::SourceOrClosed(const ZarnTypes::TMediaSource* source) {
  static const ZarnTypes::TMediaSource kClosed;
  return source ? *source : kClosed;
}

const ZarnTypes::TMediaSource& CChannelFormatPage::ShowSource(const std::string* identifier,
                                                              const ZarnTypes::TMediaSource* source) {
  const ZarnTypes::TMediaSource& shown = SourceOrClosed(source);
  const OptsMediaDocument::TChannelDescription d =
      OptsMediaDocument::DescribeChannel(identifier ? *identifier : std::string(), shown);
  m_pDocument->setText(QString::fromStdString(d.headerText));
  m_pChannelText->setPlainText(QString::fromStdString(d.channelText));
  return shown;
}

bool CChannelFormatPage::FillList(int channel, std::int32_t wanted, std::vector<std::int32_t> codes,
                                  bool (*nameOf)(std::int32_t, std::string&)) {
  if (wanted == 0) wanted = SelectedFormat();
  auto& listed = m_Codes[static_cast<std::size_t>(channel & 3)];
  listed = std::move(codes);
  m_pFormat->clear();
  std::string name;
  for (std::int32_t code : listed) {
    nameOf(code, name);
    m_pFormat->addItem(QString::fromStdString(name));
  }
  for (std::size_t i = 0; i < listed.size(); ++i)
    if (listed[i] == wanted) {
      m_pFormat->setCurrentIndex(static_cast<int>(i));
      return true;
    }
  m_pFormat->setCurrentIndex(0);  // "Null stream"
  return false;
}

}  // namespace OptsPage
