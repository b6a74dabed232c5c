#include "shell/icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <functional>

#include "shell/command_ids.h"

namespace shell {
namespace {

// Everything is drawn on a 24 x 24 grid and scaled.
using TDraw = std::function<void(QPainter&)>;

const QColor kInk(52, 58, 70);
const QColor kBlue(46, 110, 190);
const QColor kGreen(40, 150, 70);
const QColor kRed(200, 50, 45);
const QColor kOrange(220, 130, 30);
const QColor kTeal(30, 140, 150);
const QColor kPaper(252, 252, 250);
const QColor kFolder(236, 190, 80);

QPen Pen(const QColor& c, double w = 1.4) { return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void Page(QPainter& p, QRectF r) {
  QPainterPath path;
  path.moveTo(r.left(), r.top());
  path.lineTo(r.right() - 5, r.top());
  path.lineTo(r.right(), r.top() + 5);
  path.lineTo(r.right(), r.bottom());
  path.lineTo(r.left(), r.bottom());
  path.closeSubpath();
  p.setPen(Pen(kInk, 1.2));
  p.setBrush(kPaper);
  p.drawPath(path);
  p.drawLine(QPointF(r.right() - 5, r.top()), QPointF(r.right() - 5, r.top() + 5));
  p.drawLine(QPointF(r.right() - 5, r.top() + 5), QPointF(r.right(), r.top() + 5));
}

void Folder(QPainter& p) {
  QPainterPath back;
  back.moveTo(2, 6);
  back.lineTo(9, 6);
  back.lineTo(11, 8);
  back.lineTo(21, 8);
  back.lineTo(21, 19);
  back.lineTo(2, 19);
  back.closeSubpath();
  p.setPen(Pen(kFolder.darker(150), 1.2));
  p.setBrush(kFolder.darker(110));
  p.drawPath(back);
  QPolygonF front({{2, 19}, {5, 11}, {23, 11}, {21, 19}});
  p.setBrush(kFolder);
  p.drawPolygon(front);
}

void Triangle(QPainter& p, double x, double y, double w, double h, bool right, const QColor& c) {
  QPolygonF t = right ? QPolygonF({{x, y}, {x + w, y + h / 2}, {x, y + h}})
                      : QPolygonF({{x + w, y}, {x, y + h / 2}, {x + w, y + h}});
  p.setPen(Pen(c.darker(130), 1.0));
  p.setBrush(c);
  p.drawPolygon(t);
}

void Bar(QPainter& p, double x, double y, double w, double h, const QColor& c) {
  p.setPen(Pen(c.darker(130), 1.0));
  p.setBrush(c);
  p.drawRoundedRect(QRectF(x, y, w, h), 0.8, 0.8);
}

void Magnifier(QPainter& p, const QString& sign) {
  p.setPen(Pen(kInk, 2.2));
  p.drawLine(QPointF(14.5, 14.5), QPointF(21, 21));
  p.setPen(Pen(kInk, 1.5));
  QRadialGradient g(QPointF(8, 8), 9);
  g.setColorAt(0, QColor(235, 245, 255));
  g.setColorAt(1, QColor(170, 205, 240));
  p.setBrush(g);
  p.drawEllipse(QPointF(10, 10), 7, 7);
  p.setPen(Pen(kBlue.darker(120), 1.8));
  if (sign == "+" || sign == "-") p.drawLine(QPointF(6.5, 10), QPointF(13.5, 10));
  if (sign == "+") p.drawLine(QPointF(10, 6.5), QPointF(10, 13.5));
  if (sign == "1") {
    QFont f;
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(3, 3, 14, 14), Qt::AlignCenter, "1:1");
  }
}

// A 2 x 2 channel grid; `set` bit 3 = channel 1 .. bit 0 = channel 4.
void ChannelSet(QPainter& p, int set) {
  const QColor colours[4] = {kBlue, kGreen, kOrange, kTeal};
  for (int ch = 0; ch < 4; ++ch) {
    const QRectF r(3 + (ch % 2) * 10, 3 + (ch / 2) * 10, 8, 8);
    const bool on = (set >> (3 - ch)) & 1;
    p.setPen(Pen(on ? colours[ch].darker(130) : QColor(150, 150, 150), 1.0));
    p.setBrush(on ? colours[ch] : QColor(235, 235, 235));
    p.drawRoundedRect(r, 1.5, 1.5);
  }
}

void Disc(QPainter& p) {
  QRadialGradient g(QPointF(9, 9), 12);
  g.setColorAt(0, QColor(250, 250, 255));
  g.setColorAt(0.6, QColor(200, 210, 235));
  g.setColorAt(1, QColor(170, 150, 210));
  p.setPen(Pen(kInk, 1.2));
  p.setBrush(g);
  p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(12, 12), 2.5, 2.5);
}

void Screen(QPainter& p) {
  p.setPen(Pen(kInk, 1.2));
  p.setBrush(QColor(60, 70, 90));
  p.drawRoundedRect(QRectF(2.5, 4.5, 19, 14), 1.5, 1.5);
}

TDraw DrawerOf(UINT id) {
  if (id >= ID_CHANNEL_SET_FIRST && id <= ID_CHANNEL_SET_LAST)
    return [id](QPainter& p) { ChannelSet(p, static_cast<int>(id - ID_CHANNEL_SET_FIRST)); };
  switch (id) {
    case ID_FILE_NEW:
    case ID_WINDOW_NEW:
      return [](QPainter& p) {
        Page(p, QRectF(5, 2.5, 14, 19));
        p.setPen(Pen(kOrange, 1.4));
        p.drawLine(QPointF(16, 14), QPointF(16, 22));
        p.drawLine(QPointF(12, 18), QPointF(20, 18));
      };
    case ID_FILE_OPEN: return [](QPainter& p) { Folder(p); };
    case ID_FILE_OPEN_TO:
      return [](QPainter& p) {
        Folder(p);
        p.setPen(Pen(kGreen.darker(110), 2.0));
        p.drawLine(QPointF(13, 4), QPointF(21, 4));
        Triangle(p, 19, 1, 4, 6, true, kGreen);
      };
    case ID_FILE_SAVE:
    case ID_FILE_SAVE_AS:
      return [](QPainter& p) {
        p.setPen(Pen(kBlue.darker(140), 1.2));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(3, 3, 18, 18), 1.5, 1.5);
        p.setBrush(kPaper);
        p.drawRect(QRectF(6, 3, 12, 7));
        p.setBrush(QColor(210, 215, 225));
        p.drawRect(QRectF(7, 14, 10, 7));
      };
    case ID_EDIT_CUT:
      return [](QPainter& p) {
        p.setPen(Pen(kInk, 1.4));
        p.drawLine(QPointF(8, 3), QPointF(15, 15));
        p.drawLine(QPointF(16, 3), QPointF(9, 15));
        p.setBrush(Qt::NoBrush);
        p.setPen(Pen(kRed, 1.6));
        p.drawEllipse(QPointF(7.5, 18), 3, 3);
        p.drawEllipse(QPointF(16.5, 18), 3, 3);
      };
    case ID_EDIT_COPY:
      return [](QPainter& p) {
        Page(p, QRectF(3, 2.5, 12, 15));
        Page(p, QRectF(9, 7.5, 12, 15));
      };
    case ID_EDIT_PASTE:
      return [](QPainter& p) {
        p.setPen(Pen(QColor(120, 80, 40), 1.2));
        p.setBrush(QColor(190, 140, 80));
        p.drawRoundedRect(QRectF(3, 4, 15, 18), 1.5, 1.5);
        p.setBrush(QColor(200, 200, 200));
        p.drawRoundedRect(QRectF(7, 2, 7, 4), 1, 1);
        Page(p, QRectF(10, 9, 11, 13));
      };
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_PREVIEW:
      return [](QPainter& p) {
        Page(p, QRectF(7, 2.5, 10, 8));
        p.setPen(Pen(kInk, 1.2));
        p.setBrush(QColor(190, 195, 205));
        p.drawRoundedRect(QRectF(2.5, 9, 19, 9), 2, 2);
        Page(p, QRectF(7, 15, 10, 7));
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(18, 12), 1, 1);
      };
    case ID_TOOLS_OPTIONS:
    case ID_TOOLS_CUSTOMIZE:
    case ID_APP_OPTIONS:
      return [](QPainter& p) {
        p.setPen(Pen(kInk, 1.2));
        p.setBrush(QColor(150, 160, 175));
        QPainterPath gear;
        for (int i = 0; i < 8; ++i) {
          QTransform t;
          t.translate(12, 12);
          t.rotate(45.0 * i);
          gear.addPolygon(t.map(QPolygonF({{-2, -10.5}, {2, -10.5}, {2.5, -6}, {-2.5, -6}})));
        }
        gear.addEllipse(QPointF(12, 12), 7.5, 7.5);
        gear.setFillRule(Qt::WindingFill);
        p.drawPath(gear.simplified());
        p.setBrush(kPaper);
        p.drawEllipse(QPointF(12, 12), 3, 3);
      };
    case ID_TOOLS_STATUS:
    case ID_FILE_PROPERTIES:
      return [](QPainter& p) {
        p.setPen(Pen(kBlue.darker(130), 1.2));
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
        p.setPen(Pen(Qt::white, 2.4));
        p.drawLine(QPointF(12, 11), QPointF(12, 17));
        p.drawPoint(QPointF(12, 7));
      };
    case ID_NAVIGATE_FIRST:
      return [](QPainter& p) {
        Bar(p, 4, 5, 3, 14, kBlue);
        Triangle(p, 8, 5, 12, 14, false, kBlue);
      };
    case ID_NAVIGATE_PREVIOUS: return [](QPainter& p) { Triangle(p, 6, 5, 12, 14, false, kBlue); };
    case ID_NAVIGATE_NEXT: return [](QPainter& p) { Triangle(p, 6, 5, 12, 14, true, kBlue); };
    case ID_NAVIGATE_LAST:
      return [](QPainter& p) {
        Triangle(p, 4, 5, 12, 14, true, kBlue);
        Bar(p, 17, 5, 3, 14, kBlue);
      };
    case ID_NAVIGATE_SOURCE_LIST:
    case ID_NAVIGATE_ENABLE_PLAYING:
    case ID_REPLAY_ENABLE:
    case ID_DVD_ENABLE_NAVIGATION: return [](QPainter& p) { ChannelSet(p, 0b1000); };
    case ID_NAVIGATE_START_PAUSE:
    case ID_NAVIGATE_START: return [](QPainter& p) { Triangle(p, 6, 4, 14, 16, true, kGreen); };
    case ID_NAVIGATE_PAUSE:
      return [](QPainter& p) {
        Bar(p, 6, 5, 4.5, 14, kGreen);
        Bar(p, 13.5, 5, 4.5, 14, kGreen);
      };
    case ID_NAVIGATE_STOP: return [](QPainter& p) { Bar(p, 5.5, 5.5, 13, 13, kRed); };
    case ID_REPLAY_FIRST:
      return [](QPainter& p) {
        Bar(p, 3, 6, 2.5, 12, kOrange);
        Triangle(p, 6.5, 6, 8, 12, false, kOrange);
        Triangle(p, 13, 6, 8, 12, false, kOrange);
      };
    case ID_REPLAY_BACK:
      return [](QPainter& p) {
        Triangle(p, 3, 6, 9, 12, false, kOrange);
        Triangle(p, 11, 6, 9, 12, false, kOrange);
      };
    case ID_REPLAY_PREVIOUS:
      return [](QPainter& p) {
        Triangle(p, 5, 6, 10, 12, false, kOrange);
        Bar(p, 16, 6, 2.5, 12, kOrange);
      };
    case ID_REPLAY_PAUSE:
      return [](QPainter& p) {
        Bar(p, 7, 6, 4, 12, kOrange);
        Bar(p, 13, 6, 4, 12, kOrange);
      };
    case ID_REPLAY_NEXT:
      return [](QPainter& p) {
        Bar(p, 5.5, 6, 2.5, 12, kOrange);
        Triangle(p, 9, 6, 10, 12, true, kOrange);
      };
    case ID_REPLAY_FORTH:
      return [](QPainter& p) {
        Triangle(p, 4, 6, 9, 12, true, kOrange);
        Triangle(p, 12, 6, 9, 12, true, kOrange);
      };
    case ID_REPLAY_LAST:
      return [](QPainter& p) {
        Triangle(p, 3, 6, 8, 12, true, kOrange);
        Triangle(p, 9.5, 6, 8, 12, true, kOrange);
        Bar(p, 18.5, 6, 2.5, 12, kOrange);
      };
    case ID_REPLAY_REVERSE:
    case ID_REPLAY_REVERSE_OFF_IMAGE:
    case ID_REPLAY_REVERSE_ON_IMAGE:
      return [id](QPainter& p) {
        const QColor c = id == ID_REPLAY_REVERSE_ON_IMAGE ? kRed : kTeal;
        p.setPen(Pen(c, 2.0));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4, 5, 16, 14), 30 * 16, 280 * 16);
        Triangle(p, 14, 2, 7, 8, true, c);
      };
    case ID_CAPTURE_RECORD:
    case ID_CAPTURE_RECORD_IDLE:
      return [](QPainter& p) {
        QRadialGradient g(QPointF(10, 9), 10);
        g.setColorAt(0, QColor(255, 140, 130));
        g.setColorAt(1, kRed);
        p.setPen(Pen(kRed.darker(140), 1.2));
        p.setBrush(g);
        p.drawEllipse(QPointF(12, 12), 8, 8);
      };
    case ID_CAPTURE_RECORD_ARMED:
    case ID_CAPTURE_RECORD_RUNNING:
      return [id](QPainter& p) {
        // Armed: a ring round the red dot; recording: the dot glows and the
        // ring is solid.
        const bool running = id == ID_CAPTURE_RECORD_RUNNING;
        p.setPen(Pen(running ? kRed : kRed.darker(120), running ? 2.2 : 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(12, 12), 10, 10);
        QRadialGradient g(QPointF(10, 9), 8);
        g.setColorAt(0, running ? QColor(255, 220, 200) : QColor(255, 140, 130));
        g.setColorAt(1, running ? QColor(240, 40, 30) : kRed);
        p.setPen(Pen(kRed.darker(140), 1.2));
        p.setBrush(g);
        p.drawEllipse(QPointF(12, 12), 6, 6);
      };
    case ID_CAPTURE_IMAGE:
    case ID_CAPTURE_IMAGE_BOTH:
    case ID_CAPTURE_IMAGE_FIRST:
    case ID_CAPTURE_IMAGE_SECOND:
    case ID_CAPTURE_IMAGE_NONE:
      return [id](QPainter& p) {
        p.setPen(Pen(kInk, 1.2));
        p.setBrush(QColor(90, 100, 115));
        p.drawRoundedRect(QRectF(2.5, 7, 19, 13), 2, 2);
        p.drawRect(QRectF(8, 4.5, 8, 3));
        p.setBrush(QColor(170, 205, 240));
        p.drawEllipse(QPointF(12, 13.5), 4.5, 4.5);
        if (id == ID_CAPTURE_IMAGE) return;
        // Which of the first two channels capture: two marks under the lens.
        const bool first = id == ID_CAPTURE_IMAGE_BOTH || id == ID_CAPTURE_IMAGE_FIRST;
        const bool second = id == ID_CAPTURE_IMAGE_BOTH || id == ID_CAPTURE_IMAGE_SECOND;
        p.setPen(Pen(kInk, 1.0));
        p.setBrush(first ? kBlue : QColor(235, 235, 235));
        p.drawRoundedRect(QRectF(1, 16, 8, 7), 1.5, 1.5);
        p.setBrush(second ? kGreen : QColor(235, 235, 235));
        p.drawRoundedRect(QRectF(15, 16, 8, 7), 1.5, 1.5);
      };
    case ID_VIEW_PRIMARY_PANE:
      return [](QPainter& p) {
        p.setPen(Pen(kInk, 1.2));
        p.setBrush(kPaper);
        p.drawRect(QRectF(2.5, 3.5, 19, 17));
        p.setBrush(kBlue);
        p.drawRect(QRectF(4.5, 5.5, 8, 7));
        p.setBrush(QColor(200, 210, 225));
        p.drawRect(QRectF(13.5, 5.5, 6, 7));
        p.drawRect(QRectF(4.5, 13.5, 8, 5));
        p.drawRect(QRectF(13.5, 13.5, 6, 5));
      };
    case ID_VIEW_FULL_SCREEN:
      return [](QPainter& p) {
        Screen(p);
        p.setPen(Pen(Qt::white, 1.6));
        for (QPointF c : {QPointF(6, 8), QPointF(18, 8), QPointF(6, 15), QPointF(18, 15)}) {
          const double dx = c.x() < 12 ? 3 : -3, dy = c.y() < 12 ? 2.5 : -2.5;
          p.drawLine(c, c + QPointF(dx, 0));
          p.drawLine(c, c + QPointF(0, dy));
        }
      };
    case ID_VIEW_PIP_PRIMARY:
    case ID_VIEW_PIP_ASSISTANT:
    case ID_VIEW_PIP_OPTIONS:
      return [](QPainter& p) {
        Screen(p);
        p.setPen(Pen(Qt::white, 1.0));
        p.setBrush(kOrange);
        p.drawRect(QRectF(12, 10, 7.5, 6));
      };
    case ID_ZOOM_OUT: return [](QPainter& p) { Magnifier(p, "-"); };
    case ID_ZOOM_IN: return [](QPainter& p) { Magnifier(p, "+"); };
    case ID_ZOOM_100:
    case ID_ZOOM_PRESET: return [](QPainter& p) { Magnifier(p, "1"); };
    case ID_DVD_ROOT_MENU:
    case ID_DVD_TITLE_MENU:
      return [](QPainter& p) {
        Disc(p);
        p.setPen(Pen(kInk, 1.6));
        for (int i = 0; i < 3; ++i) p.drawLine(QPointF(15, 15 + 2.6 * i), QPointF(22, 15 + 2.6 * i));
      };
    case ID_DVD_NEXT_CHAPTER:
      return [](QPainter& p) {
        Disc(p);
        Triangle(p, 12, 12, 8, 10, true, kGreen);
      };
    case ID_DVD_PREV_CHAPTER:
      return [](QPainter& p) {
        Disc(p);
        Triangle(p, 4, 12, 8, 10, false, kGreen);
      };
    case ID_FILE_OPEN_DVD: return [](QPainter& p) { Disc(p); };
    case ID_APP_ABOUT:
    case ID_HELP:
      return [](QPainter& p) {
        p.setPen(Pen(kBlue.darker(130), 1.2));
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
        QFont f;
        f.setPixelSize(14);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(2, 2, 20, 20), Qt::AlignCenter, "?");
      };
    default: return {};
  }
}

}  // namespace

bool HasCommandIcon(UINT id) { return static_cast<bool>(DrawerOf(id)); }

QIcon CommandIcon(UINT id, int size) {
  const TDraw draw = DrawerOf(id);
  if (!draw) return {};
  QIcon icon;
  for (int scale : {1, 2}) {
    QPixmap pm(size * scale, size * scale);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size * scale / 24.0, size * scale / 24.0);
    draw(p);
    p.end();
    pm.setDevicePixelRatio(scale);
    icon.addPixmap(pm);
  }
  return icon;
}

}  // namespace shell
