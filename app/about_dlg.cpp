#include "app/about_dlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/beep.h"

CAboutDlg::CAboutDlg(QWidget* parent, const QString& aboutText, const QString& target,
                     StatLink::CStaticLink::TOpener opener)
    : QDialog(parent), m_strAbout(aboutText), m_strTarget(target), m_opener(std::move(opener)) {
  setWindowTitle(QStringLiteral("About Tovrin"));
  setObjectName(QStringLiteral("IDD_%1").arg(IDD));
  setModal(true);

  m_pIcon = new QLabel(this);
  m_pIcon->setObjectName("IDC_ICON");
  const QIcon icon = QApplication::windowIcon();
  if (!icon.isNull()) m_pIcon->setPixmap(icon.pixmap(32, 32));
  m_pIcon->setFixedSize(32, 32);

  m_pText = new QLabel(m_strAbout, this);
  m_pText->setObjectName(QStringLiteral("IDC_%1").arg(IDC_ABOUT_TEXT));
  m_pText->setTextFormat(Qt::PlainText);
  m_pText->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_pText->setTextInteractionFlags(Qt::TextSelectableByMouse);

  m_pLink = new StatLink::CStaticLink(QString::fromUtf8(kLinkText), IDC_LINK, this);
  m_pLink->setObjectName(QStringLiteral("IDC_%1").arg(IDC_LINK));
  m_pLink->SetLink(m_strTarget);
  if (m_opener) m_pLink->SetOpener(m_opener);

  m_pVisit = new QPushButton(QStringLiteral("<<  Visit"), this);
  m_pVisit->setObjectName(QStringLiteral("IDC_%1").arg(IDC_VISIT));
  m_pVisit->setAutoDefault(false);
  m_pOk = new QPushButton(QStringLiteral("OK"), this);
  m_pOk->setObjectName("IDOK");
  m_pOk->setDefault(true);

  // The icon beside the text, level with its first line; the link under
  // the text; the buttons on one row at the bottom right.
  auto* texts = new QVBoxLayout;
  texts->setSpacing(m_pText->fontMetrics().lineSpacing());
  texts->addWidget(m_pText);
  texts->addWidget(m_pLink, 0, Qt::AlignLeft);
  auto* top = new QHBoxLayout;
  top->setSpacing(16);
  top->addWidget(m_pIcon, 0, Qt::AlignTop);
  top->addLayout(texts, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_pVisit);
  buttons->addWidget(m_pOk);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(top);
  outer->addSpacing(8);
  outer->addLayout(buttons);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  connect(m_pVisit, &QPushButton::clicked, this, [this] { OnVisit(); });
  connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

bool CAboutDlg::OnVisit() {
  const QUrl url = StatLink::CStaticLink::ToUrl(m_strTarget);
  const bool opened =
      !m_strTarget.isEmpty() && (m_opener ? m_opener(url) : StatLink::CStaticLink::OpenWithDesktop(url));
  if (!opened) platform::qt::Beep();
  return opened;
}
