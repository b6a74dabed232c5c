#pragma once
// CStaticLink: a static text that looks and acts like a hyperlink. It is
// drawn underlined in its own colours (blue, purple once a link was opened),
// shows the pointing hand, and a click anywhere on it opens its link. When
// the link is empty or cannot be opened, the text itself is tried, then the
// string the program keeps under the control's id; when all fail the
// warning sound plays.
//
// A static that shows a picture or a frame keeps its own look but still
// opens its link and shows the hand.

#include <QColor>
#include <QLabel>
#include <QString>
#include <QUrl>

#include <functional>

class QMouseEvent;
class QPaintEvent;

namespace StatLink {

class CStaticLink : public QLabel {
  Q_OBJECT
 public:
  // Opens a link; true when it was opened.
  using TOpener = std::function<bool(const QUrl&)>;
  // The program's string with an id ("" for none).
  using TStringLookup = std::function<QString(int id)>;

  static QColor UnvisitedColor() { return QColor(0, 0, 255); }
  static QColor VisitedColor() { return QColor(128, 0, 128); }

  // `id` is the control's id (its string is the last thing tried).
  explicit CStaticLink(const QString& text = {}, int id = 0, QWidget* parent = nullptr);
  ~CStaticLink() override;

  const QString& Link() const { return m_link; }
  void SetLink(const QString& link) { m_link = link; }
  int Id() const { return m_nId; }
  void SetId(int id) { m_nId = id; }
  QColor Colour() const { return m_colour; }
  void SetColour(const QColor& colour);

  // This control's opener (empty: the program's, see SetDefaultOpener).
  void SetOpener(TOpener opener) { m_opener = std::move(opener); }

  // The opener every link without its own uses; empty restores the
  // desktop's, which counts a link to a local file that is not there as
  // failed. The lookup of strings by id (empty: none).
  static void SetDefaultOpener(TOpener opener);
  static void SetStringLookup(TStringLookup lookup);
  // The desktop's opener.
  static bool OpenWithDesktop(const QUrl& url);
  // A link as the opener gets it: a URL with a scheme as it stands, a path
  // as a local file.
  static QUrl ToUrl(const QString& link);

  // What a click does: tries the link, the text, then the id's string, in
  // that order; true when one opened (the colour turns to the visited one).
  bool Open();

  // Whether the control draws itself as a link (a text, no picture, no
  // frame).
  bool IsTextStatic() const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool TryOpen(const QString& link);

  QString m_link;
  QColor m_colour = UnvisitedColor();
  int m_nId = 0;
  TOpener m_opener;
};

}  // namespace StatLink
