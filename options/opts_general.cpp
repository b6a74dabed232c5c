#include "options/opts_general.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <QVBoxLayout>

#ifndef TOVRIN_OPTIONS_VERSION
#error "the build gives the options the program's version"
#endif

namespace OptsGeneral {

QString ProductVersion() { return QStringLiteral(TOVRIN_OPTIONS_VERSION); }

QString HelpPageFile() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (folder.isEmpty()) folder = QDir::tempPath() + "/tovrin";
  return folder + "/help/tovrin.html";
}

QString HelpPageUrl() { return QUrl::fromLocalFile(HelpPageFile()).toString(); }

QString GeneralText() {
  const QStringList parts = {
      QStringLiteral("Tovrin"),
      QStringLiteral("Video inspection and comparison tool"),
      QStringLiteral("Version %1, Desktop edition").arg(ProductVersion()),
      QStringLiteral("Copyright (C) Halvane. All rights reserved."),
      QStringLiteral("Halvane"),
      HelpPageUrl(),
  };
  return parts.join(QStringLiteral("\n\n"));
}

COptsGeneral::COptsGeneral(QWidget* parent) : COptsPage(QStringLiteral("General"), parent) {
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  m_pIcon = new QLabel(this);
  m_pIcon->setObjectName("IDC_1025");
  m_pIcon->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_pText = new QLabel(QStringLiteral("General options"), this);
  m_pText->setObjectName("IDC_1024");
  m_pText->setTextFormat(Qt::PlainText);
  m_pText->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_pText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  row->addWidget(m_pIcon, 0, Qt::AlignTop);
  row->addWidget(m_pText, 1);
  layout->addLayout(row);
  layout->addStretch(1);
}

COptsGeneral::~COptsGeneral() = default;

bool COptsGeneral::OnInitDialog() {
  m_text = GeneralText();
  m_pText->setText(m_text);
  const QIcon icon = QApplication::windowIcon();
  if (!icon.isNull()) m_pIcon->setPixmap(icon.pixmap(32, 32));
  if (ReadOnly()) setEnabled(false);
  return true;
}

}  // namespace OptsGeneral
