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

#include <cstdlib>
#include <fstream>

#include "options/channel_selector.h"
#include "options/zarn_options.h"
#include "platform/qt/app_messages.h"
#include "shell/file_dialog_ex.h"
#include "shell/folder_dialog.h"
#include "shell/message_box_dlg.h"

using namespace ZarnTypes;

namespace FileDialogEx {

namespace {

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// Shows a file dialog and waits (at most 3 s) for its folder's listing.
void ShowListed(QFileDialog& dialog) {
  QEventLoop loop;
  QTimer::singleShot(3000, &loop, &QEventLoop::quit);
  dialog.show();
  if (auto* model = dialog.findChild<QFileSystemModel*>()) {
    QObject::connect(model, &QFileSystemModel::directoryLoaded, &loop, &QEventLoop::quit);
    loop.exec();
  }
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

// The open dialog in "Open to" mode on `folder` with `still` selected, at
// `size` (at its first size when empty); `listFocused` as after a click on
// the file.
bool SaveOpenToShot(const QString& folder, const QString& still, QSize size, bool listFocused,
                    const std::string& outPath) {
  CFileDialogEx dialog(true, OpenToRequest(), BuildFilterList(FDM_OPEN_TO));
  dialog.setWindowTitle(QStringLiteral("Open to"));
  if (!size.isEmpty()) dialog.resize(size);
  dialog.setDirectory(folder);
  ShowListed(dialog);
  Settle();
  if (listFocused)
    if (auto* list = dialog.findChild<QAbstractItemView*>(QStringLiteral("treeView"))) list->setFocus();
  dialog.selectFile(still);
  Settle();
  dialog.UpdateFileInfo(still);
  return Save(dialog, outPath);
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
    return SaveOpenToShot(folder.path(), still, QSize(900, 640),
                          /*listFocused=*/true, outPath);
  }
  if (which == "open-long-name") {
    // The open dialog at its first size with a 164-character name selected.
    const QString still = folder.filePath(QString(160, QLatin1Char('n')) + QStringLiteral(".png"));
    if (!MakeSampleStill(still)) return false;
    for (int i = 0; i < 16; ++i)
      if (!MakeSampleStill(folder.filePath(QStringLiteral("frame_%1.png").arg(100 + i)))) return false;
    return SaveOpenToShot(folder.path(), still, QSize(), /*listFocused=*/false, outPath);
  }
  if (which == "message-box") {
    MessageBoxDlg::CMessageBoxDlg box(
        nullptr,
        QStringLiteral("Can not open file\n\n/home/me/Videos/clip_of_the_evening.avi\n\n"
                       "Skip inaccessible file(s) and continue a search?"),
        QStringLiteral("Media source list"), 0x01000018 | MessageBoxDlg::MBX_NO_SOUND);
    box.OnInitDialog();
    return Save(box, outPath);
  }
  if (which == "message-box-short") {
    MessageBoxDlg::CMessageBoxDlg box(nullptr, QStringLiteral("Closing in five seconds."), QString(),
                                      MessageBoxDlg::MBX_ICONEXCLAMATION | MessageBoxDlg::MBX_NO_SOUND);
    box.m_nCountdown = 5;
    box.OnInitDialog();
    return Save(box, outPath);
  }
  if (which == "folder") {
    QDir(folder.path()).mkdir(QStringLiteral("SaveStream_1"));
    QDir(folder.path()).mkdir(QStringLiteral("CaptureImage_1"));
    FolderDialog::CFolderDialog dialog(folder.path());
    ShowListed(dialog);
    return Save(dialog, outPath);
  }
  if (which.rfind("channel-selector-", 0) == 0) {
    // The selector in one mode (30, 31, 32, 33 or 38) on an owner that
    // answers its read.
    const int mode = std::atoi(which.c_str() + 17);
    QWidget owner;
    auto* messages = new platform::qt::TMessageMap(&owner);
    messages->On(platform::qt::WM_APP_OPTS_NAVIGATE, [](platform::qt::WPARAM, platform::qt::LPARAM l) {
      auto* block = OptsBlockOf<TNavigateExchange>(l);
      for (int c = 0; c < 4; ++c) block->channel[c].navigate = block->channel[c].play = c % 2 == 0;
      block->header.answered = 1;
      return platform::qt::LRESULT{1};
    });
    OptsNavigate::COptsNavigate dialog(&owner);
    dialog.SetMode(mode);
    if (!dialog.OnInitDialog()) return false;
    return Save(dialog, outPath);
  }
  if (which == "save-as") {
    // Save As of a document with pictures in channels 1 and 2: the save-copy
    // prompt with "Save from:" and the channel the copy is taken from.
    const QString still = folder.filePath(QStringLiteral("sample_frame.png"));
    if (!MakeSampleStill(still)) return false;
    if (!MakeSampleStill(folder.filePath(QStringLiteral("earlier_copy.bmp")))) return false;
    TFileDialogSettings s;
    s.extended = true;
    s.mode = FDM_SAVE_IMAGE_AS;
    s.channelAllowed = {true, true, false, false};
    s.channelPaths = {still.toStdString(), folder.filePath(QStringLiteral("clip_352x288.yuv")).toStdString(),
                      "", ""};
    s.channel = 0;
    s.format = FF_BMP_24BIT;
    s.width = s.yuvWidth = 480;
    s.height = s.yuvHeight = 270;
    CFileDialogEx dialog(false, s, BuildFilterList(FDM_SAVE_IMAGE_AS));
    dialog.setWindowTitle(QStringLiteral("Save Copy As"));
    dialog.resize(900, 640);
    dialog.setDirectory(folder.path());
    // As the document manager starts a save prompt: the filter of the
    // format and a name from the first channel's path, before it shows.
    dialog.SelectFilterIndex(
        InitialFilterIndex(dialog.Logic().FilterCodes(), FileFormatToFileFilter(s.format)));
    dialog.Logic().Settings().format = s.format;
    dialog.selectFile(QString::fromStdString(ProposeSaveName(s)));
    ShowListed(dialog);
    Settle();
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
