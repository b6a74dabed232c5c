// Save As with the image format pages: edits made through "Options..." of
// the save prompt become the document's encoder settings, the file is
// written with them, the next prompt opens every page on them, and they
// survive the document's close and a restart (the saved block written to a
// settings file and read by a new start). The document manager's own copy
// across a restart of the application is the application tests'.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/tovrin_app.h"
#include "document/zarn_doc.h"
#include "document/zarn_doc_blocks.h"
#include "document_fixture.h"
#include "open_fixture.h"
#include "platform/qt/settings_store.h"
#include "shell/command_ids.h"
#include "shell/doc_manager.h"
#include "shell/prog_cfg.h"
#include "tests/shell/image_format_edits.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

using namespace ZarnTypes;
namespace edits = image_format_edits;
namespace pq = platform::qt;
namespace fs = std::filesystem;

namespace {

// The encoder settings the edits leave, field by field.
void ExpectEditedEncoders(const TEncoderSettings& e) {
  EXPECT_EQ(e.nJpegQuality, edits::kJpegQuality);
  EXPECT_EQ(e.png.nColorType, edits::kPngColorType);
  EXPECT_EQ(e.png.nBitDepth, edits::kPngDepth);
  EXPECT_EQ(e.png.bInterlaced, 1);
  EXPECT_EQ(e.png.nCompressionLevel, edits::kPngCompression);
  EXPECT_EQ(e.png.nSignificantBits, edits::kPngSignificantBits);
  EXPECT_EQ(e.gif.nBitDepth, edits::kGifDepth);
  EXPECT_EQ(e.gif.nSignificantBits, edits::kGifSignificantBits);
  EXPECT_EQ(e.jpeg2000.nCompressionMode, edits::kJpeg2000Compression);
  EXPECT_EQ(e.jpeg2000.nFileFormat, FF_JPC);
  EXPECT_EQ(e.jpeg2000.nQuality, edits::kJpeg2000Quality);
  EXPECT_EQ(e.tiff.nColorSpace, edits::kTiffSpace);
  EXPECT_EQ(e.tiff.nBitDepth, edits::kTiffDepth);
  EXPECT_EQ(e.tiff.nCompression, edits::kTiffCompression);
  EXPECT_EQ(e.tiff.nQuality, edits::kTiffQuality);
  EXPECT_EQ(e.tiff.nColorBits, edits::kTiffSignificantBits);
}

// The settings block as a file of the settings store, read back by a new
// start.
bool ThroughSettingsFile(const QString& ini, shell::TProgCfg cfg, open_test::TSettingsApplication& next) {
  cfg.savedMarker = 1;
  const std::vector<std::uint8_t> bytes = shell::EncodeProgCfg(cfg);
  {
    pq::CRegistryAccess store(ini);
    if (!store.WriteBinaryValue(kProgCfgKey, "ProgCfg", bytes.data(), bytes.size()) || !store.Flush())
      return false;
  }
  pq::CRegistryAccess store(ini);
  std::vector<std::uint8_t> read;
  if (!store.ReadBinaryValue(kProgCfgKey, "ProgCfg", read) ||
      !shell::DecodeProgCfg(read.data(), read.size(), next.cfg))
    return false;
  next.settingsRead = next.cfg.savedMarker != 0;
  return true;
}

class ImageFormatSaveAs : public tovrin_test::TRecordedMessagesTest {
 protected:
  // A document with a 64 x 48 picture in channel 1.
  void Load(doc_test::TDocumentWindow& w) {
    picture = doc_test::MakePicture(64, 48, [](int x, int y) {
      return static_cast<std::uint32_t>((x * 4) << 16 | (y * 5) << 8 | ((x + y) * 2));
    });
    doc_test::LoadPicture(w.Doc(), 0, picture);
    w.Doc().m_Source[0].bOpen = TRUE_;
    w.Doc().m_Source[0].sPath = Path("channel0.bmp");
  }
  void Run(ZarnDoc::CZarnDoc& doc, UINT id) {
    EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Command, nullptr)) << id;
  }

  doc_test::TPicture picture;
};

}  // namespace

TEST_F(ImageFormatSaveAs, PageEditsAreSavedWithAndOpenTheNextPromptAlsoAfterARestart) {
  const fs::path file = dir / "copy.tif";
  std::vector<std::uint8_t> closed;
  {
    open_test::TSettingsApplication app;
    DocManagerEx::CDocManagerEx manager;
    DocManagerEx::SetTheDocManager(&manager);
    doc_test::TDocumentWindow w;
    ZarnDoc::CZarnDoc& doc = w.Doc();
    Load(w);

    int prompts = 0;
    manager.SetDialogRunner([&](FileDialogEx::CFileDialogEx& dialog) {
      ++prompts;
      edits::EditEveryPage(dialog);
      EXPECT_EQ(dialog.Logic().CurrentFormat(), FF_TIFF);
      dialog.selectFile(QString::fromStdString(file.string()));
      dialog.accept();
      return dialog.result();
    });
    Run(doc, shell::ID_FILE_SAVE_AS);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(doc.m_Encoders.nValue, FF_TIFF);
    ExpectEditedEncoders(doc.m_Encoders);

    // The file carries the TIFF page's choices.
    const auto info = tovrin_test::RunCapture("{ tiffinfo " + tovrin_test::Quote(file) + " 2>&1; }");
    ASSERT_TRUE(info.has_value()) << "no readable file";
    const std::string text(info->begin(), info->end());
    EXPECT_NE(text.find("Compression Scheme: PackBits"), std::string::npos) << text;
    EXPECT_NE(text.find("Bits/Sample: 4"), std::string::npos) << text;
    EXPECT_NE(text.find("palette color"), std::string::npos) << text;

    // The next Save opens every page on the edits.
    manager.SetDialogRunner([&](FileDialogEx::CFileDialogEx& dialog) {
      ++prompts;
      edits::ExpectEveryPageShowsTheEdits(dialog);
      dialog.reject();
      return dialog.result();
    });
    Run(doc, shell::ID_FILE_SAVE);
    EXPECT_EQ(prompts, 2);

    // Closing keeps the document's records.
    doc.OnCloseDocument();
    closed = shell::EncodeProgCfg(app.cfg);
    DocManagerEx::SetTheDocManager(nullptr);
  }
  ASSERT_EQ(closed.size(), shell::kProgCfgSize);
  // The document's records at 1956..2091: JPEG quality, then the JPEG 2000,
  // PNG, GIF and TIFF records in the page blocks' field order.
  edits::ExpectEditedRecords(closed, 1956, 1996, 2024, 2056);
  EXPECT_EQ(edits::Le32(closed, 1960), FF_JPC);
  EXPECT_EQ(edits::Le32(closed, 1960 + 28), edits::kJpeg2000Compression);
  EXPECT_EQ(edits::Le32(closed, 1960 + 32), edits::kJpeg2000Quality);

  // A restart: the block through the settings file, a new document from
  // it, and Save As on the new document.
  shell::TProgCfg cfg;
  ASSERT_TRUE(shell::DecodeProgCfg(closed.data(), closed.size(), cfg));
  open_test::TSettingsApplication next;
  ASSERT_TRUE(ThroughSettingsFile(QString::fromStdString(Path("Tovrin.ini")), cfg, next));
  ASSERT_TRUE(next.settingsRead);
  DocManagerEx::CDocManagerEx manager;
  DocManagerEx::SetTheDocManager(&manager);
  doc_test::TDocumentWindow w;
  ExpectEditedEncoders(w.Doc().m_Encoders);
  Load(w);
  int prompts = 0;
  manager.SetDialogRunner([&](FileDialogEx::CFileDialogEx& dialog) {
    ++prompts;
    edits::ExpectEveryPageShowsTheEdits(dialog);
    dialog.reject();
    return dialog.result();
  });
  Run(w.Doc(), shell::ID_FILE_SAVE_AS);
  EXPECT_EQ(prompts, 1);
  DocManagerEx::SetTheDocManager(nullptr);
  EXPECT_TRUE(sink.Texts().empty()) << sink.Texts().front();
}
