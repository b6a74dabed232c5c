#include "shell/static_link.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QStyle>

#include <utility>

#include "platform/qt/beep.h"

namespace StatLink {

namespace {

CStaticLink::TOpener& DefaultOpener() {
  static CStaticLink::TOpener opener;
  return opener;
}

CStaticLink::TStringLookup& StringLookup() {
  static CStaticLink::TStringLookup lookup;
  return lookup;
}

}  // namespace

CStaticLink::CStaticLink(const QString& text, int id, QWidget* parent) : QLabel(text, parent), m_nId(id) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  // As large as its text: the whole of it is the link, nothing beside it.
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  // The underline is part of the font, so the size follows it.
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
}

CStaticLink::~CStaticLink() = default;

void CStaticLink::SetColour(const QColor& colour) {
  m_colour = colour;
  update();
}

void CStaticLink::SetDefaultOpener(TOpener opener) { DefaultOpener() = std::move(opener); }

void CStaticLink::SetStringLookup(TStringLookup lookup) { StringLookup() = std::move(lookup); }

bool CStaticLink::OpenWithDesktop(const QUrl& url) {
  // The desktop only says that it handed the link on; a local file that is
  // not there is known to fail.
  if (!url.isValid()) return false;
  if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).exists()) return false;
  return QDesktopServices::openUrl(url);
}

QUrl CStaticLink::ToUrl(const QString& link) {
  const QString t = link.trimmed();
  if (t.startsWith(u'/')) return QUrl::fromLocalFile(t);
  const QUrl url(t, QUrl::StrictMode);
  if (url.isValid() && url.scheme().size() > 1) return url;
  return QUrl::fromUserInput(t);
}

bool CStaticLink::TryOpen(const QString& link) {
  if (link.trimmed().isEmpty()) return false;
  const QUrl url = ToUrl(link);
  if (m_opener) return m_opener(url);
  if (DefaultOpener()) return DefaultOpener()(url);
  return OpenWithDesktop(url);
}

bool CStaticLink::Open() {
  bool opened = TryOpen(m_link);
  if (!opened) {
    m_link = text();
    opened = TryOpen(m_link);
  }
  if (!opened) {
    const TStringLookup& lookup = StringLookup();
    const QString s = lookup ? lookup(m_nId) : QString();
    if (!s.isEmpty()) {
      m_link = s;
      opened = TryOpen(m_link);
    }
  }
  if (!opened) {
    platform::qt::Beep();
    return false;
  }
  SetColour(VisitedColor());
  return true;
}

bool CStaticLink::IsTextStatic() const {
  return pixmap().isNull() && picture().isNull() && !movie() && frameShape() == QFrame::NoFrame;
}

void CStaticLink::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QLabel::mousePressEvent(event);
    return;
  }
  event->accept();
  Open();
}

void CStaticLink::paintEvent(QPaintEvent* event) {
  if (!IsTextStatic()) {
    QLabel::paintEvent(event);
    return;
  }
  // The link's own colour whatever the look's palette says.
  QPainter p(this);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, m_colour);
  p.setFont(font());
  const int flags =
      QStyle::visualAlignment(layoutDirection(), alignment()) | (wordWrap() ? int(Qt::TextWordWrap) : 0);
  style()->drawItemText(&p, contentsRect().adjusted(margin(), margin(), -margin(), -margin()), flags, pal,
                        true, text(), QPalette::WindowText);
}

}  // namespace StatLink
