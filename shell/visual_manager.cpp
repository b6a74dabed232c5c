#include "shell/visual_manager.h"

#include <QApplication>
#include <QLinearGradient>
#include <QMenuBar>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolBar>

#include <atomic>

namespace shell {
namespace {

// A light palette from a window colour, with the usual derived roles.
QPalette MakePalette(QColor window, QColor highlight, QColor highlightedText = Qt::white,
                     QColor windowText = QColor(20, 20, 20), QColor base = Qt::white,
                     QColor text = QColor(20, 20, 20), QColor button = QColor()) {
  if (!button.isValid()) button = window;
  QPalette p(button, window);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, windowText);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, base.darker(104));
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, button);
  p.setColor(QPalette::ButtonText, windowText);
  p.setColor(QPalette::Highlight, highlight);
  p.setColor(QPalette::HighlightedText, highlightedText);
  p.setColor(QPalette::ToolTipBase, QColor(255, 255, 255));
  p.setColor(QPalette::ToolTipText, QColor(60, 60, 60));
  p.setColor(QPalette::PlaceholderText, text.lighter(250));
  p.setColor(QPalette::Link, QColor(0, 102, 204));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, QColor(150, 150, 150));
  return p;
}

TLook Make(int id, const char* name, const char* style, QPalette palette, bool gradient, QColor start,
           QColor end) {
  TLook l;
  l.id = id;
  l.name = name;
  l.baseStyle = style;
  l.palette = std::move(palette);
  l.gradientBars = gradient;
  l.barStart = start;
  l.barEnd = end;
  return l;
}

TLook Windows7Look(int id) {
  return Make(id, "Windows 7", "Fusion", MakePalette(QColor(240, 240, 240), QColor(51, 153, 255)), true,
              QColor(218, 226, 238), QColor(250, 251, 253));
}

}  // namespace

TLook LookOf(int lookId) {
  switch (lookId) {
    case 1:
      return Make(1, "Windows 2000", "Windows", MakePalette(QColor(212, 208, 200), QColor(10, 36, 106)),
                  false, QColor(212, 208, 200), QColor(212, 208, 200));
    case 2:
      return Make(2, "Windows Vista / XP", "Fusion", MakePalette(QColor(236, 233, 216), QColor(49, 106, 197)),
                  true, QColor(225, 221, 200), QColor(250, 249, 244));
    case 3: return Windows7Look(3);
    case 4:
      return Make(4, "MSO XP", "Fusion", MakePalette(QColor(239, 237, 230), QColor(49, 106, 197)), false,
                  QColor(239, 237, 222), QColor(239, 237, 222));
    case 5:
      return Make(5, "MSO 2003", "Fusion", MakePalette(QColor(222, 234, 250), QColor(49, 106, 197)), true,
                  QColor(129, 169, 226), QColor(221, 236, 254));
    case 6:
      return Make(6, "MSO 2007 : Blue", "Fusion",
                  MakePalette(QColor(213, 228, 242), QColor(255, 218, 120), QColor(20, 20, 20)), true,
                  QColor(173, 209, 255), QColor(227, 239, 255));
    case 7:
      return Make(
          7, "MSO 2007 : Black", "Fusion",
          MakePalette(QColor(83, 83, 86), QColor(255, 218, 120), QColor(20, 20, 20), QColor(240, 240, 240),
                      QColor(250, 250, 250), QColor(20, 20, 20), QColor(105, 105, 108)),
          true, QColor(70, 70, 72), QColor(140, 140, 143));
    case 8:
      return Make(8, "MSO 2007 : Silver", "Fusion",
                  MakePalette(QColor(226, 229, 235), QColor(255, 218, 120), QColor(20, 20, 20)), true,
                  QColor(200, 206, 216), QColor(245, 246, 248));
    case 9:
      return Make(9, "MSO 2007 : Aqua", "Fusion",
                  MakePalette(QColor(210, 228, 240), QColor(255, 218, 120), QColor(20, 20, 20)), true,
                  QColor(174, 213, 232), QColor(233, 244, 250));
    // The page lists look 10 as "MSVS 2008" and 11 as "MSVS 2005": each
    // shows the look its name says.
    case 10:
      return Make(10, "MSVS 2008", "Fusion", MakePalette(QColor(233, 236, 245), QColor(51, 94, 168)), true,
                  QColor(196, 203, 219), QColor(250, 250, 253));
    case 11:
      return Make(11, "MSVS 2005", "Fusion", MakePalette(QColor(236, 233, 216), QColor(49, 106, 197)), true,
                  QColor(214, 210, 196), QColor(251, 250, 247));
    case 12:
    case 13: {
      TLook l = Windows7Look(lookId);
      l.name = lookId == 12 ? "Tovrin 2012 : Silver Blue" : "Tovrin 2012 : White Night";
      return l;
    }
    default: return Windows7Look(lookId);
  }
}

QString LookName(int lookId) { return lookId >= 1 && lookId <= 13 ? LookOf(lookId).name : QString(); }

namespace {
QStyle* CreateBaseStyle(const QString& name) {
  if (QStyle* s = QStyleFactory::create(name)) return s;
  return QStyleFactory::create("Fusion");
}
}  // namespace

CLookStyle::CLookStyle(const TLook& look) : QProxyStyle(CreateBaseStyle(look.baseStyle)), m_look(look) {}

void CLookStyle::FillBar(QPainter* painter, const QRect& rect) const {
  if (m_look.gradientBars && m_look.barStart != m_look.barEnd) {
    QLinearGradient g(rect.topLeft(), rect.bottomLeft());
    g.setColorAt(0, m_look.barEnd);
    g.setColorAt(1, m_look.barStart);
    painter->fillRect(rect, g);
  } else {
    painter->fillRect(rect, m_look.barStart);
  }
}

void CLookStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
  switch (element) {
    case CE_ToolBar:
      // The whole toolbar in the bar colours; the bar's own rectangle, so
      // that the gradient runs over its full height.
      FillBar(painter, widget ? widget->rect() : option->rect);
      return;
    case CE_MenuBarEmptyArea: FillBar(painter, widget ? widget->rect() : option->rect); return;
    case CE_MenuBarItem: {
      const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
      if (!mi) break;
      painter->save();
      // The item's part of the bar gradient.
      if (widget) {
        painter->setClipRect(option->rect);
        FillBar(painter, widget->rect());
      } else {
        FillBar(painter, option->rect);
      }
      const bool active = (option->state & State_Selected) && (option->state & State_Enabled);
      const bool down = option->state & State_Sunken;
      if (active || down) {
        QColor hl = m_look.palette.color(QPalette::Highlight);
        QColor fill = hl;
        fill.setAlpha(down ? 110 : 60);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(hl.darker(110));
        painter->setBrush(fill);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(1.5, 2.5, -1.5, -2.5), 2, 2);
      }
      const int flags = Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextDontClip | Qt::TextSingleLine;
      drawItemText(painter, option->rect, flags, option->palette, option->state & State_Enabled, mi->text,
                   QPalette::WindowText);
      painter->restore();
      return;
    }
    default: break;
  }
  QProxyStyle::drawControl(element, option, painter, widget);
}

void CLookStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                               const QWidget* widget) const {
  if (element == PE_PanelMenuBar) {
    FillBar(painter, widget ? widget->rect() : option->rect);
    return;
  }
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void ApplyLook(int lookId) {
  QStyle* style = nullptr;
  if (lookId == 12 || lookId == 13) {
    // The scheme is written before the manager is made, so the new colours
    // apply at once.
    VisualManagerEx::CVisualManagerEx::SetColorScheme(lookId == 12 ? 0 : 1);
    style = new VisualManagerEx::CVisualManagerEx;
  } else {
    style = new CLookStyle(LookOf(lookId));
  }
  QApplication::setStyle(style);  // the application owns and replaces it
  QApplication::setPalette(style->standardPalette());
}

}  // namespace shell

namespace VisualManagerEx {
namespace {
std::atomic<int> g_scheme{1};
}

void CVisualManagerEx::SetColorScheme(int scheme) { g_scheme = scheme; }
int CVisualManagerEx::ColorScheme() { return g_scheme; }

CVisualManagerEx::CVisualManagerEx() : shell::CLookStyle(shell::LookOf(g_scheme == 1 ? 13 : 12)) {
  OnUpdateSystemColors();
}

void CVisualManagerEx::OnUpdateSystemColors() {
  if (g_scheme == 1) {
    m_clrGradientStart = QColor(205, 205, 205);
    m_clrGradientEnd = QColor(238, 238, 238);
  } else {
    m_clrGradientStart = QColor(220, 231, 245);
    m_clrGradientEnd = QColor(251, 253, 255);
  }
  m_look.gradientBars = true;
  m_look.barStart = m_clrGradientStart;
  m_look.barEnd = m_clrGradientEnd;
}

}  // namespace VisualManagerEx
