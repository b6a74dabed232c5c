#pragma once
// The "General" page: the product's identification text beside the
// application's icon. It exchanges nothing; in a read-only sheet it is
// disabled.

#include <QString>

#include "options/opts_page.h"

class QLabel;

namespace OptsGeneral {

// The program's version (the build's project version).
QString ProductVersion();

// The program's help page: a file of the user's cache folder, where Help
// and About copy it from the program's resources before they open it.
QString HelpPageFile();
// Its address, which the program gives as its own.
QString HelpPageUrl();

// The six parts of the text, joined by a blank line: name, descriptive
// title, version and edition, rights notice, maker, the program's address
// (its help page).
QString GeneralText();

class COptsGeneral : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsGeneral(QWidget* parent = nullptr);
  ~COptsGeneral() override;

  QLabel* TextLabel() const { return m_pText; }
  QLabel* IconLabel() const { return m_pIcon; }
  const QString& Text() const { return m_text; }

 protected:
  bool OnInitDialog() override;

 private:
  QString m_text;
  QLabel* m_pText = nullptr;
  QLabel* m_pIcon = nullptr;
};

}  // namespace OptsGeneral
