#include "shell/message_box_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/qt/beep.h"
#include "platform/qt/settings_store.h"

namespace MessageBoxDlg {

namespace {

TBeepHook& BeepHook() {
  static TBeepHook hook;
  return hook;
}

constexpr std::uint32_t kCaptionBase = 4530;  // caption id = base + button id

struct TCaption {
  std::uint32_t id;
  const char* text;
};

constexpr TCaption kCaptions[] = {
    {kCaptionBase + IDOK, "&Ok"},
    {kCaptionBase + IDCANCEL, "&Cancel"},
    {kCaptionBase + IDABORT, "&Abort"},
    {kCaptionBase + IDRETRY, "&Retry"},
    {kCaptionBase + IDIGNORE, "&Ignore"},
    {kCaptionBase + IDYES, "&Yes"},
    {kCaptionBase + IDNO, "&No"},
    {kCaptionBase + IDHELP, "&Help"},
    {kCaptionBase + IDTRYAGAIN, "&Retry"},
    {kCaptionBase + IDCONTINUE, "&Continue"},
    {kCaptionBase + IDYESTOALL, "Yes to &all"},
    {kCaptionBase + IDNOTOALL, "No to a&ll"},
    {kCaptionBase + IDSKIP, "&Skip"},
    {kCaptionBase + IDSKIPALL, "Skip &all"},
    {kCaptionBase + IDIGNOREALL, "Ignore &all"},
    {IDS_MBX_DONT_SHOW_AGAIN, "Don't display this &message again."},
    {IDS_MBX_DONT_ASK_AGAIN, "Don't ask this &question again."},
};

tagMSGBOXBTN B(int id) { return {id, kCaptionBase + static_cast<std::uint32_t>(id)}; }

platform::qt::CRegistryAccess* g_store = nullptr;

}  // namespace

void SetBeepHook(TBeepHook hook) { BeepHook() = std::move(hook); }

QString LoadCaption(std::uint32_t captionId) {
  for (const TCaption& c : kCaptions)
    if (c.id == captionId) return QString::fromUtf8(c.text);
  return {};
}

QString ButtonCaption(int buttonId) {
  if (buttonId <= 0) return {};
  return LoadCaption(kCaptionBase + static_cast<std::uint32_t>(buttonId));
}

TButtonSet BuildButtonSet(std::uint32_t style) {
  TButtonSet set;
  const bool yesAll = (style & MBX_YES_TO_ALL) != 0;
  const bool noAll = (style & MBX_NO_TO_ALL) != 0;
  auto yesNo = [&](TButtonSet& s) {
    s.buttons.push_back(B(IDYES));
    if (yesAll) s.buttons.push_back(B(IDYESTOALL));
    s.buttons.push_back(B(IDNO));
    if (noAll) s.buttons.push_back(B(IDNOTOALL));
  };
  switch (style & MBX_TYPEMASK) {
    case 1: set = {{B(IDOK), B(IDCANCEL)}, IDOK, IDCANCEL}; break;
    case 2: set = {{B(IDABORT), B(IDRETRY), B(IDIGNORE)}, IDABORT, -1}; break;
    case 3:
      yesNo(set);
      set.buttons.push_back(B(IDCANCEL));
      set.defaultId = IDYES;
      set.escapeId = IDCANCEL;
      break;
    case 4:
      yesNo(set);
      set.defaultId = IDYES;
      set.escapeId = -1;
      break;
    case 5: set = {{B(IDRETRY), B(IDCANCEL)}, IDRETRY, IDCANCEL}; break;
    case 6: set = {{B(IDCANCEL), B(IDTRYAGAIN), B(IDCONTINUE)}, IDCANCEL, IDCANCEL}; break;
    case 7: set = {{B(IDCONTINUE), B(IDABORT)}, IDCONTINUE, -1}; break;
    case 8: set = {{B(IDSKIP), B(IDSKIPALL), B(IDCANCEL)}, IDSKIP, IDCANCEL}; break;
    case 9: set = {{B(IDIGNORE), B(IDIGNOREALL), B(IDCANCEL)}, IDIGNORE, IDCANCEL}; break;
    default: set = {{B(IDOK)}, IDOK, IDOK}; break;  // 0 and 10..15
  }
  if (style & MBX_HELP) set.buttons.push_back(B(IDHELP));
  const std::uint32_t def = (style & MBX_DEFMASK) >> 8;
  const std::size_t index = def <= 5 ? def : 0;
  if (index < set.buttons.size()) set.defaultId = set.buttons[index].id;
  return set;
}

std::string RememberKey(const QString& message, std::uint32_t helpId) {
  std::uint32_t value = helpId;
  if (value == 0) {
    std::uint32_t sum = 0;
    for (qsizetype i = 0; i < message.size(); ++i)
      sum += static_cast<std::uint32_t>(i) * static_cast<std::uint32_t>(message.at(i).unicode());
    value = sum;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<std::int32_t>(value));
  return text;
}

void SetProfileStore(platform::qt::CRegistryAccess* store) { g_store = store; }

void ReleaseProfileStore(const platform::qt::CRegistryAccess* store) {
  if (store && g_store == store) g_store = nullptr;
}

platform::qt::CRegistryAccess& ProfileStore() {
  if (g_store) return *g_store;
  static platform::qt::CRegistryAccess defaultStore;
  return defaultStore;
}

// --- the box -----------------------------------------------------------------

CMessageBoxDlg::CMessageBoxDlg(QWidget* parent, const QString& message, const QString& caption,
                               std::uint32_t style, std::uint32_t helpId)
    : QDialog(parent), m_strMessage(message), m_strCaption(caption), m_nStyle(style), m_nHelpId(helpId) {
  if (m_strCaption.isEmpty()) {
    m_strCaption = QGuiApplication::applicationDisplayName();
    if (m_strCaption.isEmpty()) m_strCaption = QStringLiteral("Tovrin");
  }
}

CMessageBoxDlg::~CMessageBoxDlg() = default;

bool CMessageBoxDlg::HasCheckBoxStyle() const {
  return (m_nStyle & (MBX_DONT_SHOW_AGAIN | MBX_DONT_ASK_AGAIN)) != 0;
}

int CMessageBoxDlg::DoModal() {
  if (m_bRemember && HasCheckBoxStyle()) {
    if (m_strRememberKey.empty()) m_strRememberKey = RememberKey(m_strMessage, m_nHelpId);
    std::int32_t stored = -1;
    if (ProfileStore().ReadIntValue(kProfileKey, m_strRememberKey, stored) && stored != -1) return stored;
  }
  OnInitDialog();
  return exec();
}

void CMessageBoxDlg::OnInitDialog() {
  if (m_bInitDone) return;
  m_bInitDone = true;
  setWindowTitle(m_strCaption);
  setObjectName(QStringLiteral("CMessageBoxDlg"));

  const TButtonSet set = BuildButtonSet(m_nStyle);
  m_aButtons = set.buttons;
  m_nDefaultButton = set.defaultId;
  m_nEscapeButton = set.escapeId;

  // Icon.
  if (m_hIcon.isNull()) {
    QStyle::StandardPixmap pixmap = QStyle::SP_CustomBase;
    switch (m_nStyle & MBX_ICONMASK) {
      case MBX_ICONHAND: pixmap = QStyle::SP_MessageBoxCritical; break;
      case MBX_ICONQUESTION: pixmap = QStyle::SP_MessageBoxQuestion; break;
      case MBX_ICONEXCLAMATION: pixmap = QStyle::SP_MessageBoxWarning; break;
      case MBX_ICONASTERISK: pixmap = QStyle::SP_MessageBoxInformation; break;
      default: break;
    }
    if (pixmap != QStyle::SP_CustomBase) m_hIcon = style()->standardIcon(pixmap, nullptr, this);
  }

  auto* outer = new QVBoxLayout(this);
  const QFontMetrics fm(font());
  const int dluX = std::max(1, fm.averageCharWidth());  // 4 dialog units
  const int dluY = fm.height();                         // 8 dialog units
  outer->setContentsMargins(2 * dluX, dluY, 2 * dluX, dluY);
  outer->setSpacing(dluY / 2);

  auto* top = new QHBoxLayout;
  top->setSpacing(2 * dluX);
  if (!m_hIcon.isNull()) {
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    m_pIcon = new QLabel(this);
    // Drawn as the icon is: a disabled label would grey it.
    m_pIcon->setPixmap(m_hIcon.pixmap(side, side));
    top->addWidget(m_pIcon, 0, Qt::AlignTop);
  }
  m_pText = new QLabel(m_strMessage, this);
  m_pText->setTextFormat(Qt::PlainText);
  m_pText->setWordWrap(true);
  m_pText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // The text is measured in a square as wide as half the screen plus 100
  // pixels (less the icon and its margins) and breaks only where it must (a
  // path longer than the width breaks inside, as the label does); the
  // control gets the measured size.
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int screenWidth = screen ? screen->geometry().width() : 1024;
  int widest = screenWidth / 2 + 100;
  if (m_pIcon) widest -= m_pIcon->sizeHint().width() + 4 * dluX;
  widest = std::max(100, widest);
  const QRect measured =
      QFontMetrics(m_pText->font())
          .boundingRect(QRect(0, 0, widest, widest),
                        Qt::TextWordWrap | Qt::TextWrapAnywhere | Qt::TextExpandTabs | Qt::AlignLeft,
                        m_strMessage);
  // Two pixels of slack: the label lays its lines out with fractional widths.
  // (The label's own size hint would guess a narrower width and more lines.)
  const int textWidth = std::min(widest, measured.width() + 2);
  m_pText->setFixedSize(textWidth, std::max(measured.height(), m_pText->heightForWidth(textWidth)));
  m_pText->setAlignment((m_nStyle & MBX_RIGHT) ? (Qt::AlignRight | Qt::AlignTop)
                                               : (Qt::AlignLeft | Qt::AlignTop));
  if (m_nStyle & MBX_RTLREADING) m_pText->setLayoutDirection(Qt::RightToLeft);
  top->addWidget(m_pText, 1);
  outer->addLayout(top);

  if (HasCheckBoxStyle()) {
    const std::uint32_t id =
        (m_nStyle & MBX_DONT_SHOW_AGAIN) ? IDS_MBX_DONT_SHOW_AGAIN : IDS_MBX_DONT_ASK_AGAIN;
    m_pCheckBox = new QCheckBox(LoadCaption(id), this);
    m_pCheckBox->setObjectName(QStringLiteral("IDC_MBX_CHECKBOX"));
    m_pCheckBox->setChecked((m_nStyle & MBX_CHECKED) != 0);
    auto* row = new QHBoxLayout;
    if (m_pIcon) row->addSpacing(m_pIcon->sizeHint().width() + 2 * dluX);
    row->addWidget(m_pCheckBox);
    row->addStretch(1);
    outer->addLayout(row);
  }

  // One common button size, wide enough for the countdown caption.
  int width = 10 * dluX;
  int height = 14 * dluY / 8;
  for (const tagMSGBOXBTN& b : m_aButtons) {
    QString text = LoadCaption(b.captionId);
    if (m_nCountdown > 0) text = QStringLiteral("%1 = %2").arg(text).arg(m_nCountdown);
    text.remove(QLatin1Char('&'));
    width = std::max(width, fm.horizontalAdvance(text));
    height = std::max(height, fm.height());
  }
  width += 2 * dluX;
  height += dluY / 2;
  auto* row = new QHBoxLayout;
  row->setSpacing(dluX);
  row->addStretch(1);  // right-aligned, or centred with the stretch after the row
  for (const tagMSGBOXBTN& b : m_aButtons) {
    auto* button = new QPushButton(LoadCaption(b.captionId), this);
    button->setObjectName(QStringLiteral("button%1").arg(b.id));
    button->setFixedSize(width, height);
    button->setAutoDefault(true);
    const int id = b.id;
    connect(button, &QPushButton::clicked, this, [this, id] {
      if (id == IDHELP) return;  // help leaves the box open
      EndWith(id);
    });
    m_buttonWidgets.push_back(button);
    row->addWidget(button);
  }
  if (!(m_nStyle & MBX_RIGHT_BUTTONS)) row->addStretch(1);
  outer->addLayout(row);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  // The icon's sound; a box without an icon plays the default one.
  if (!(m_nStyle & MBX_NO_SOUND)) {
    if (BeepHook())
      BeepHook()(m_nStyle & MBX_ICONMASK);
    else
      platform::qt::Beep();
  }
  Qt::WindowFlags flags = windowFlags() | Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  flags &= ~(Qt::WindowContextHelpButtonHint | Qt::WindowMinMaxButtonsHint);
  if (m_nEscapeButton >= 0)
    flags |= Qt::WindowCloseButtonHint;
  else
    flags &= ~Qt::WindowCloseButtonHint;  // no escape button: Close is grey
  if (m_nStyle & MBX_TOPMOST) flags |= Qt::WindowStaysOnTopHint;
  setWindowFlags(flags);
  setModal(true);
  if (m_nStyle & MBX_SYSTEMMODAL) setWindowModality(Qt::ApplicationModal);

  if (m_nCountdown > 0) {
    if (m_bLockButtons) {
      for (QPushButton* b : m_buttonWidgets) b->setEnabled(false);
      if (m_pCheckBox) m_pCheckBox->setEnabled(false);
    }
    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(1000);
    connect(m_pTimer, &QTimer::timeout, this, &CMessageBoxDlg::OnTimer);
    m_pTimer->start();
  }
  if (QPushButton* def = Button(m_nDefaultButton)) {
    def->setDefault(true);
    def->setFocus();
  }
  if (m_nStyle & MBX_SETFOREGROUND) {
    raise();
    activateWindow();
  }
}

QPushButton* CMessageBoxDlg::Button(int id) const {
  for (std::size_t i = 0; i < m_aButtons.size() && i < m_buttonWidgets.size(); ++i)
    if (m_aButtons[i].id == id) return m_buttonWidgets[i];
  return nullptr;
}

bool CMessageBoxDlg::CountdownRunning() const { return m_pTimer && m_pTimer->isActive(); }

bool CMessageBoxDlg::Locked() const { return m_bLockButtons && CountdownRunning(); }

void CMessageBoxDlg::SetCountdownCaption() {
  QPushButton* def = Button(m_nDefaultButton);
  if (!def) return;
  const QString caption = ButtonCaption(m_nDefaultButton);
  def->setText(m_nCountdown > 0 ? QStringLiteral("%1 = %2").arg(caption).arg(m_nCountdown) : caption);
}

void CMessageBoxDlg::OnTimer() {
  if (m_nCountdown <= 0) return;
  --m_nCountdown;
  if (m_nCountdown == 0) {
    if (m_pTimer) m_pTimer->stop();
    if (m_bLockButtons) {
      for (QPushButton* b : m_buttonWidgets) b->setEnabled(true);
      if (m_pCheckBox) m_pCheckBox->setEnabled(true);
    } else {
      SetCountdownCaption();
      if (m_nDefaultButton >= 0) EndWith(m_nDefaultButton);
      return;
    }
  }
  SetCountdownCaption();
}

void CMessageBoxDlg::EndWith(int id) {
  if (m_pTimer) m_pTimer->stop();
  m_bChecked = m_pCheckBox && m_pCheckBox->isChecked();
  if (m_bRemember && HasCheckBoxStyle() && m_bChecked) {
    if (m_strRememberKey.empty()) m_strRememberKey = RememberKey(m_strMessage, m_nHelpId);
    ProfileStore().WriteIntValue(kProfileKey, m_strRememberKey, id);
    ProfileStore().Flush();
  }
  done(id);
}

void CMessageBoxDlg::reject() {
  // Escape and Ctrl+Break act as the escape button; nothing without one, and
  // nothing while a locked countdown runs.
  if (Locked() || m_nEscapeButton < 0) return;
  EndWith(m_nEscapeButton);
}

void CMessageBoxDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

void CMessageBoxDlg::keyPressEvent(QKeyEvent* event) {
  if (Locked()) {
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Cancel ||
      (event->key() == Qt::Key_Pause && (event->modifiers() & Qt::ControlModifier))) {
    reject();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace MessageBoxDlg
