#include "app/dialog_screenshots.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QPlainTextEdit>
#include <QUrl>

#include <cstdio>
#include <iostream>

#include "app/about_dlg.h"
#include "app/console_window.h"
#include "options/opts_general.h"
#include "shell/command_ids.h"
#include "shell/icons.h"

namespace dialog_screenshots {

namespace {

bool SaveWidget(QWidget& w, const std::string& file) {
  w.show();
  QApplication::processEvents();
  const QImage image = w.grab().toImage();
  return !image.isNull() && image.save(QString::fromStdString(file), "PNG");
}

bool SaveAbout(const std::string& file) {
  // The program's icon, as the main window shows it.
  if (QApplication::windowIcon().isNull())
    QApplication::setWindowIcon(shell::CommandIcon(shell::ID_FILE_OPEN_DVD, 32));
  CAboutDlg dlg(nullptr, OptsGeneral::GeneralText(), QUrl::fromLocalFile("/tmp/tovrin-help.html").toString(),
                [](const QUrl&) { return false; });
  return SaveWidget(dlg, file);
}

bool SaveConsole(const std::string& file, const std::function<void(std::ostream&)>& writeXml) {
  ConsoleWindow::CConsoleWindow console;
  std::string why;
  if (!console.Open(why)) {
    std::fprintf(stderr, "Tovrin: the console could not be opened: %s\n", why.c_str());
    return false;
  }
  console.WriteDirect(QString::fromUtf8(ConsoleWindow::kStartLines));
  std::fputs(ConsoleWindow::kStdoutStartLine, stdout);
  std::fputs("iiii|iiii| columns line up\nWWWW|WWWW| columns line up\n", stdout);
  std::fputs("    four leading blanks kept; a line ended by CR LF next\r\n", stdout);
  std::string longLine = "a long line scrolls sideways:";
  while (longLine.size() < 200) longLine += " and on";
  std::fputs((longLine + "\n").c_str(), stdout);
  std::fflush(stdout);
  std::fputs("standard error: a warning a library printed\n", stderr);
  if (writeXml) writeXml(std::cout);
  std::cout << std::endl;
  std::fputs("the newest line\n", stdout);
  std::fflush(stdout);
  // Everything written is in the window once the newest line is.
  QElapsedTimer t;
  t.start();
  console.show();
  while (!console.TextEdit()->toPlainText().contains("the newest line") && t.elapsed() < 5000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  const bool saved = SaveWidget(console, file);
  console.Close();
  return saved;
}

}  // namespace

bool Handles(const std::string& name) { return name == "about" || name == "console"; }

bool Save(const std::string& name, const std::string& file,
          const std::function<void(std::ostream&)>& writeXml) {
  if (name == "about") return SaveAbout(file);
  if (name == "console") return SaveConsole(file, writeXml);
  return false;
}

}  // namespace dialog_screenshots
