#pragma once
// The about box (Help "About Tovrin..."): the application's icon, the
// product's identification text (the same as the General options page's),
// a link to the program's help page, "<<  Visit" and OK.

#include <QDialog>
#include <QString>

#include "shell/static_link.h"

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int IDD = 103;
  static constexpr int IDC_ABOUT_TEXT = 1207;
  static constexpr int IDC_LINK = 1208;
  static constexpr int IDC_VISIT = 1209;
  // What the link shows.
  static constexpr const char* kLinkText = "Tovrin help";

  // `target`: what the link and "<<  Visit" open; `opener`: how (empty:
  // the desktop's).
  CAboutDlg(QWidget* parent, const QString& aboutText, const QString& target,
            StatLink::CStaticLink::TOpener opener = {});
  ~CAboutDlg() override;

  const QString& AboutText() const { return m_strAbout; }
  const QString& Target() const { return m_strTarget; }
  QLabel* IconLabel() const { return m_pIcon; }
  QLabel* TextLabel() const { return m_pText; }
  StatLink::CStaticLink* LinkLabel() const { return m_pLink; }
  QPushButton* VisitButton() const { return m_pVisit; }
  QPushButton* OkButton() const { return m_pOk; }

  // "<<  Visit": opens the target; false (with the warning sound) when it
  // could not be opened.
  bool OnVisit();

 private:
  QString m_strAbout;
  QString m_strTarget;
  StatLink::CStaticLink::TOpener m_opener;
  QLabel* m_pIcon = nullptr;
  QLabel* m_pText = nullptr;
  StatLink::CStaticLink* m_pLink = nullptr;
  QPushButton* m_pVisit = nullptr;
  QPushButton* m_pOk = nullptr;
};
