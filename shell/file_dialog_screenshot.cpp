#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>

#include "options/zarn_options.h"
#include "shell/file_dialog_ex.h"

using namespace ZarnTypes;

namespace FileDialogEx {

namespace {

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool Save(QWidget& widget, const std::string& outPath) {
  widget.show();
  Settle();
  const QImage image = widget.grab().toImage();
  widget.hide();
  return !image.isNull() && image.save(QString::fromStdString(outPath), "PNG");
}

// A small colourful still to select in the dialog.
bool MakeSampleStill(const QString& path) {
  QImage image(480, 270, QImage::Format_RGB32);
  QPainter p(&image);
  QLinearGradient g(0, 0, 480, 270);
  g.setColorAt(0, QColor(20, 60, 160));
  g.setColorAt(1, QColor(240, 180, 40));
  p.fillRect(image.rect(), g);
  p.setBrush(QColor(200, 30, 40));
  p.drawEllipse(QPoint(170, 140), 70, 70);
  p.end();
  return image.save(path, "PNG");
}

TFileDialogSettings OpenToRequest() {
  TFileDialogSettings s;
  s.extended = true;
  s.mode = FDM_OPEN_TO;
  s.newDocAllowed = true;
  s.activeDocAllowed = true;
  s.destination = 1;
  s.channelAllowed = {true, true, true, true};
  return s;
}

}  // namespace

bool SaveDialogScreenshot(const std::string& which, const std::string& outPath) {
  QTemporaryDir folder;
  if (!folder.isValid()) return false;
  if (which == "open-to") {
    const QString still = folder.filePath(QStringLiteral("sample_frame.png"));
    if (!MakeSampleStill(still)) return false;
    std::ofstream(folder.filePath(QStringLiteral("clip_352x288.yuv")).toStdString())
        << std::string(1000, '\x80');
    QDir(folder.path()).mkdir(QStringLiteral("captures"));
    CFileDialogEx dialog(true, OpenToRequest(), BuildFilterList(FDM_OPEN_TO));
    dialog.setWindowTitle(QStringLiteral("Open to"));
    dialog.resize(900, 640);
    {
      // The folder is listed in the background: wait for it (at most 3 s).
      QEventLoop loop;
      QTimer::singleShot(3000, &loop, &QEventLoop::quit);
      dialog.setDirectory(folder.path());
      dialog.show();
      if (auto* model = dialog.findChild<QFileSystemModel*>()) {
        QObject::connect(model, &QFileSystemModel::directoryLoaded, &loop, &QEventLoop::quit);
        loop.exec();
      }
    }
    Settle();
    // The list has the focus, as after a click on the file.
    if (auto* list = dialog.findChild<QAbstractItemView*>(QStringLiteral("treeView"))) list->setFocus();
    dialog.selectFile(still);
    Settle();
    dialog.UpdateFileInfo(still);
    return Save(dialog, outPath);
  }
  if (which == "yuv") {
    TFileDialogSettings s = OpenToRequest();
    s.yuvFormat = 70;
    s.yuvWidth = 720;
    s.yuvHeight = 576;
    CFileDialogEx owner(true, s, BuildFilterList(FDM_OPEN_TO));
    ZarnOptions::CZarnOptions sheet(QStringLiteral("Options"), &owner, OPTCAT_YUV);
    sheet.OnInitDialog();
    sheet.resize(sheet.sizeHint());
    return Save(sheet, outPath);
  }
  return false;
}

}  // namespace FileDialogEx
