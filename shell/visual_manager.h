#pragma once
// Application looks. A look id (1..13, as stored in the settings and listed
// by the application-look page) selects a widget style with its palette and
// the way toolbars and the menu bar are painted. Looks 12 and 13 are the
// program's own `CVisualManagerEx`, a Windows 7 style look whose toolbars and
// menu bar have a soft two-colour gradient in one of two colour schemes.

#include <QColor>
#include <QPalette>
#include <QProxyStyle>
#include <QString>

namespace shell {

struct TLook {
  int id = 0;         // the look id asked for
  QString name;       // the look's name on the application-look page
  QString baseStyle;  // Qt style the look is drawn with
  QPalette palette;
  bool gradientBars = false;
  QColor barStart;  // bar colour at the bottom (gradient start) ...
  QColor barEnd;    // ... and at the top; both the same for flat bars
};

// The look of an id; ids outside 1..13 give the Windows 7 look.
TLook LookOf(int lookId);

// The name the application-look page shows for an id ("" for none).
QString LookName(int lookId);

// The style that paints a look's bars.
class CLookStyle : public QProxyStyle {
  Q_OBJECT
 public:
  explicit CLookStyle(const TLook& look);

  const TLook& Look() const { return m_look; }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
  QPalette standardPalette() const override { return m_look.palette; }

 protected:
  void FillBar(QPainter* painter, const QRect& rect) const;
  TLook m_look;
};

// Applies a look to the running application (style and palette).
void ApplyLook(int lookId);

}  // namespace shell

namespace VisualManagerEx {

// The program's own look: toolbars and the menu bar in a two-colour
// gradient of the current colour scheme; popup menus flat.
class CVisualManagerEx : public shell::CLookStyle {
  Q_OBJECT
 public:
  CVisualManagerEx();

  // The class-wide colour scheme (0 or 1), written before the manager is
  // made the application's style; every new instance reads it.
  static void SetColorScheme(int scheme);
  static int ColorScheme();

  QColor GradientStart() const { return m_clrGradientStart; }
  QColor GradientEnd() const { return m_clrGradientEnd; }

  // Takes the colours of the current scheme.
  void OnUpdateSystemColors();

 private:
  QColor m_clrGradientStart;
  QColor m_clrGradientEnd;
};

}  // namespace VisualManagerEx
