#pragma once
// Pictures of the options sheets, for documentation and layout checks:
//
//   tovrin --screenshot-sheet <sheet> <file.png> [--page N] [files...]
//
// <sheet> is "properties" (File "Properties..."), "options" (Tools
// "Options..."), "options-readonly" (the same as a playing document opens
// it), "tree" (Tools "More Options...") or "tree-devices" (the same tree
// with its capture-device groups; while the program has no device pages,
// stand-in pages that only name themselves take their places, so the picture
// shows the groups and their items as the tree lists them). The files are
// opened into the
// first document's channels 1, 2, ... first; without files "properties"
// shows a generated 320 x 240 raw YUV picture of layout 94 in channel 1.
// --page N shows the sheet's page N (for the tree, its N-th item in the
// keyboard order, group items included: "tree-devices --page 2" selects the
// first group). "save-jpeg", "save-jpeg2000", "save-png", "save-gif" and
// "save-tiff" show the format's page as "Options..." of Save As opens it,
// on the first document's encoder settings (the TIFF page with its palette
// button clicked). The picture is saved as PNG and
// the program quits (exit code 0, or 1 when no picture was made). Run it
// without a display with QT_QPA_PLATFORM=offscreen. Only main.cpp includes
// this file.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/tovrin_app.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_doc_blocks.h"
#include "media/file_types.h"
#include "options/opts_tiff.h"
#include "options/opts_tree.h"
#include "options/tree_page_path.h"
#include "options/zarn_options.h"
#include "shell/file_dialog_ex.h"
#include "shell/main_frame.h"

namespace sheet_screenshots {

struct TRequest {
  std::string sheet;
  std::string file;
  int page = -1;
  std::vector<std::string> sources;
  bool Any() const { return !sheet.empty(); }
};

inline const char* Usage() {
  return "  --screenshot-sheet properties|options|options-readonly|tree|tree-devices <file> [--page N]\n"
         "                         [files...]\n"
         "  --screenshot-sheet save-jpeg|save-jpeg2000|save-png|save-gif|save-tiff <file>\n"
         "                         open the files into the first document, save a PNG\n"
         "                         picture of the options sheet (page N) and quit\n";
}

// Takes the option and its arguments out of the command line; the files
// after it are everything up to the next option.
inline TRequest TakeOptions(std::vector<std::string>& args) {
  TRequest request;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] != "--screenshot-sheet" || i + 2 >= args.size()) continue;
    std::size_t end = i + 3;
    request.sheet = args[i + 1];
    request.file = args[i + 2];
    while (end < args.size() && args[end].rfind("--", 0) != 0) request.sources.push_back(args[end++]);
    if (end + 1 < args.size() && args[end] == "--page") {
      request.page = std::atoi(args[end + 1].c_str());
      end += 2;
      while (end < args.size() && args[end].rfind("--", 0) != 0) request.sources.push_back(args[end++]);
    }
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(end));
    break;
  }
  return request;
}

namespace detail {

inline ZarnDoc::CZarnDoc* FirstDocument(CTovrinApp& app) {
  MainFrame::CMainFrame* frame = app.MainFrameWindow();
  return frame ? dynamic_cast<ZarnDoc::CZarnDoc*>(frame->ActiveDocument()) : nullptr;
}

// One 320 x 240 picture of layout 94: a luma ramp, neutral chroma.
inline bool WriteLayout94(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> frame(320 * 240 * 3 / 2, static_cast<char>(128));
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x)
      frame[static_cast<std::size_t>(y * 320 + x)] = static_cast<char>(16 + x * 219 / 320);
  out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
  return static_cast<bool>(out);
}

inline bool OpenSources(ZarnDoc::CZarnDoc& doc, const TRequest& request, QTemporaryDir& folder) {
  if (request.sources.empty() && request.sheet == "properties") {
    const std::string path = QDir(folder.path()).filePath("layout94.yuv").toStdString();
    if (!WriteLayout94(path)) return false;
    ZarnTypes::TOpenSourceArgs args;
    args.path = path;
    args.channel = 0;
    args.format = 94;
    args.width = 320;
    args.height = 240;
    return doc.OpenSourceInChannel(args);
  }
  for (std::size_t i = 0; i < request.sources.size() && i < 4; ++i)
    if (!doc.OpenSource(request.sources[i], static_cast<int>(i))) return false;
  return true;
}

template <class TSheet>
bool Shoot(TSheet& sheet, const std::string& file, const char* what) {
  sheet.show();
  sheet.resize(sheet.sizeHint());
  // Pages fit themselves to the texts they show once laid out.
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  sheet.resize(sheet.size().expandedTo(sheet.sizeHint()));
  QCoreApplication::processEvents();
  const QImage image = sheet.grab().toImage();
  if (!image.isNull() && image.save(QString::fromStdString(file), "PNG")) {
    std::fprintf(stdout, "Saved %dx%d picture of %s to %s\n", image.width(), image.height(), what,
                 file.c_str());
    return true;
  }
  std::fprintf(stderr, "Tovrin: could not save the picture to %s\n", file.c_str());
  return false;
}

// A page standing in for a capture-device page in a picture of the tree.
class TStandInDevicePage : public OptsPage::COptsPage {
 public:
  explicit TStandInDevicePage(const QString& caption) : COptsPage(caption) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("%1 (stand-in page)").arg(caption), this));
    layout->addStretch(1);
  }
};

// Registers stand-in device pages while the program registers none.
class TStandInDevicePages {
 public:
  TStandInDevicePages() {
    m_previous = OptsTree::RegisterDevicePageFactory(
        [](OptsTree::TDevicePageKind kind, bool primary) -> OptsPage::COptsPage* {
          return new TStandInDevicePage(OptsTree::DevicePageCaption(kind, primary));
        });
    if (m_previous) {
      // The program's own device pages are shown.
      OptsTree::RegisterDevicePageFactory(m_previous);
      m_restore = false;
    }
  }
  ~TStandInDevicePages() {
    if (m_restore) OptsTree::RegisterDevicePageFactory(std::move(m_previous));
  }
  TStandInDevicePages(const TStandInDevicePages&) = delete;
  TStandInDevicePages& operator=(const TStandInDevicePages&) = delete;

 private:
  OptsTree::TDevicePageFactory m_previous;
  bool m_restore = true;
};

// The sheet of a format's page from "Options..." of the save dialog as the
// document's Save As sets it up.
inline bool SaveFormatSheet(ZarnDoc::CZarnDoc& doc, const TRequest& request) {
  struct TFormatSheet {
    const char* name;
    std::int32_t category;
  };
  static constexpr TFormatSheet kSheets[] = {{"save-jpeg", ZarnTypes::OPTCAT_JPEG},
                                             {"save-jpeg2000", ZarnTypes::OPTCAT_JPEG2000},
                                             {"save-png", ZarnTypes::OPTCAT_PNG},
                                             {"save-gif", ZarnTypes::OPTCAT_GIF},
                                             {"save-tiff", ZarnTypes::OPTCAT_TIFF}};
  std::int32_t category = 0;
  for (const TFormatSheet& f : kSheets)
    if (request.sheet == f.name) category = f.category;
  if (category == 0) return false;
  ZarnTypes::TFileDialogSettings s;
  s.extended = true;
  s.mode = ZarnTypes::FDM_SAVE_IMAGE_AS;
  s.channelAllowed = {true, false, false, false};
  s.format = doc.m_Encoders.nValue;
  s.jpegQuality = doc.m_Encoders.nJpegQuality;
  ZarnDoc::Blocks::EncodeJpeg2000(doc.m_Encoders.jpeg2000, s.jpeg2000);
  ZarnDoc::Blocks::EncodePng(doc.m_Encoders.png, s.png);
  ZarnDoc::Blocks::EncodeGif(doc.m_Encoders.gif, s.gif);
  ZarnDoc::Blocks::EncodeTiff(doc.m_Encoders.tiff, s.tiff);
  FileDialogEx::CFileDialogEx dialog(false, s, ZarnTypes::BuildFilterList(ZarnTypes::FDM_SAVE_IMAGE_AS));
  const auto& codes = dialog.Logic().FilterCodes();
  for (int i = 0; i < static_cast<int>(codes.size()); ++i) {
    if (dialog.Logic().OptionsCategory(i) == category) {
      dialog.SelectFilterIndex(i);
      break;
    }
  }
  if (!dialog.OptionsButton()->isEnabled()) {
    std::fprintf(stderr, "Tovrin: the save dialog offers no \"Options...\" for %s\n", request.sheet.c_str());
    return false;
  }
  ZarnOptions::CZarnOptions sheet(QStringLiteral("Options"), &dialog, category);
  sheet.OnInitDialog();
  if (auto* tiff = dynamic_cast<OptsTiff::COptsTiff*>(sheet.ActivePage())) tiff->SpaceButton(3)->click();
  return Shoot(sheet, request.file, "the format's options sheet");
}

inline bool SaveSheet(CTovrinApp& app, const TRequest& request) {
  ZarnDoc::CZarnDoc* doc = FirstDocument(app);
  QTemporaryDir folder;
  if (!doc || !doc->ControllerView() || !folder.isValid()) return false;
  if (!OpenSources(*doc, request, folder)) {
    std::fprintf(stderr, "Tovrin: the files of the picture could not be opened\n");
    return false;
  }
  if (request.sheet.rfind("save-", 0) == 0) return SaveFormatSheet(*doc, request);
  QWidget* owner = doc->ControllerView();
  if (request.sheet == "tree" || request.sheet == "tree-devices") {
    std::unique_ptr<TStandInDevicePages> standIns;
    if (request.sheet == "tree-devices") standIns = std::make_unique<TStandInDevicePages>();
    OptsTree::COptsTree sheet("Options", owner);
    sheet.OnInitDialog();
    if (request.page >= 0) {
      QTreeWidget* tree = sheet.Tree();
      QTreeWidgetItem* item = TreePropSheet::NextTreeItem(tree->invisibleRootItem(), nullptr);
      for (int i = 0; i < request.page && item; ++i)
        item = TreePropSheet::NextTreeItem(tree->invisibleRootItem(), item);
      if (item) tree->setCurrentItem(item);
    }
    return Shoot(sheet, request.file, "the options tree");
  }
  std::int32_t category = 0;
  QString caption;
  bool readOnly = false;
  if (request.sheet == "properties") {
    category = ZarnTypes::OPTCAT_MEDIA_DOCUMENT;
    caption = "Document properties";
  } else if (request.sheet == "options" || request.sheet == "options-readonly") {
    category = ZarnTypes::OPTCAT_DOCUMENT;
    readOnly = request.sheet == "options-readonly";
    caption = readOnly ? "Options (Read only)" : "Options";
  } else {
    std::fprintf(stderr,
                 "Tovrin: no sheet \"%s\" (properties, options, options-readonly, tree or tree-devices)\n",
                 request.sheet.c_str());
    return false;
  }
  ZarnOptions::CZarnOptions sheet(caption, owner, category);
  sheet.SetReadOnly(readOnly);
  sheet.OnInitDialog();
  if (request.page >= 0) sheet.SetActivePage(request.page);
  return Shoot(sheet, request.file, "the options sheet");
}

}  // namespace detail

// Takes the picture once the main window stands, then quits.
inline void Schedule(CTovrinApp& app, const TRequest& request) {
  QTimer::singleShot(0, [&app, request] { QCoreApplication::exit(detail::SaveSheet(app, request) ? 0 : 1); });
}

}  // namespace sheet_screenshots
