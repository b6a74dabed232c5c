// The round trip of the option pages through a real document: a table with
// one row per page, which the later pages extend. Per row the sheet its
// command opens is shown (not run modally) over a document whose channels
// hold distinct values; the test checks the controls, makes the row's
// edits, accepts, checks the document, opens the sheet again and checks the
// controls, closes the document and checks what it kept in TProgCfg, then
// writes the block into a settings file as the application does at exit,
// reads it back from the file and checks a new document.

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/tovrin_app.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "open_fixture.h"
#include "options/channel_radios.h"
#include "options/opts_media_document.h"
#include "options/opts_transform_2d.h"
#include "options/opts_video_pane.h"
#include "options/zarn_options.h"
#include "platform/qt/settings_store.h"
#include "shell/command_ids.h"
#include "shell/prog_cfg.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;

namespace {

// The sheet a command opens, as the command builds it.
struct TOpener {
  UINT command;
  const char* caption;
  std::int32_t category;
};
constexpr TOpener kOpeners[] = {
    {shell::ID_FILE_PROPERTIES, "Document properties", OPTCAT_MEDIA_DOCUMENT},
    {shell::ID_TOOLS_OPTIONS, "Options", OPTCAT_DOCUMENT},
    {shell::ID_TRANSFORM_CUSTOM, "Options", OPTCAT_TRANSFORM_2D},
};

// One page's round trip.
struct TRoundTripRow {
  const char* name;
  UINT opener;
  OptsPage::TOptsPageKind page;
  // Gives the document distinct, non-default values per channel.
  std::function<void(ZarnDoc::CZarnDoc&, const std::string& folder)> prepare;
  // The controls show the document's values.
  std::function<void(OptsPage::COptsPage&, ZarnDoc::CZarnDoc&)> checkControls;
  // The user's edits, by control id ("IDC_<id>").
  std::function<void(OptsPage::COptsPage&)> edit;
  // What the document holds after OK.
  std::function<void(ZarnDoc::CZarnDoc&)> checkOwner;
  // The TProgCfg offsets the page's values are kept at (empty: not kept,
  // the block stays byte for byte as a document without the sheet leaves it).
  std::vector<std::size_t> keptAt;
  // What a new document takes from the re-read block.
  std::function<void(ZarnDoc::CZarnDoc&)> checkNewDocument;
};

std::string ChannelText(OptsPage::COptsPage& page, int channel) {
  auto& media = dynamic_cast<OptsMediaDocument::COptsMediaDocument&>(page);
  media.Selector()->Radio(channel)->click();
  return media.ChannelEdit()->toPlainText().toStdString();
}

// Four channels: three pictures of other sizes and a closed one.
void PrepareChannels(ZarnDoc::CZarnDoc& doc, const std::string& folder) {
  for (int ch = 0; ch < 3; ++ch) {
    const std::string file = folder + "/ch" + std::to_string(ch) + ".png";
    ASSERT_TRUE(
        open_test::ToImage(open_test::Pattern(8 + ch, 5 + 2 * ch)).save(QString::fromStdString(file), "PNG"));
    ASSERT_TRUE(doc.OpenSource(file, ch));
  }
}

// The video pane records a row starts from: every channel different, and
// values of the document's own that the page must carry back.
void PrepareVideoPanes(ZarnDoc::CZarnDoc& doc, const std::string&) {
  for (int ch = 0; ch < 4; ++ch) {
    TVideoPaneSettings& pane = doc.m_VideoPane[ch];
    pane.bFastStretch = ch % 2 == 0;
    pane.nViewMode = ch < 2 ? 3 : 4;
    pane.nPlayMode = ch % 2 == 1 ? 3 : 4;
    for (int i = 0; i < 3; ++i) pane.nValue[i] = 100 * (ch + 1) + i;
    pane.bFlag = ch != 2;
  }
}

// What the row's edits leave: every switch and slider of every channel
// turned over.
void ExpectEditedVideoPanes(const ZarnDoc::CZarnDoc& doc) {
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE("channel " + std::to_string(ch));
    const TVideoPaneSettings& pane = doc.m_VideoPane[ch];
    EXPECT_EQ(pane.bFastStretch, ch % 2 == 1);
    EXPECT_EQ(pane.nViewMode, ch < 2 ? 4 : 3);
    EXPECT_EQ(pane.nPlayMode, ch % 2 == 1 ? 4 : 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pane.nValue[i], 100 * (ch + 1) + i);
    EXPECT_EQ(pane.bFlag, ch != 2);
  }
}

std::vector<std::size_t> VideoPaneOffsets() {
  std::vector<std::size_t> at;
  for (std::size_t ch = 0; ch < 4; ++ch) {
    at.push_back(1600 + 28 * ch);
    for (std::size_t i = 4; i < 12; ++i) at.push_back(1600 + 28 * ch + i);
  }
  return at;
}

const std::vector<TRoundTripRow>& Rows() {
  static const std::vector<TRoundTripRow> rows = {
      {"media document changes nothing",
       shell::ID_FILE_PROPERTIES,
       OptsPage::PAGE_MEDIA_DOCUMENT,
       PrepareChannels,
       [](OptsPage::COptsPage& page, ZarnDoc::CZarnDoc& doc) {
         for (int ch = 0; ch < 3; ++ch) {
           const std::string text = ChannelText(page, ch);
           EXPECT_NE(text.find("Path:\t\t" + doc.m_Source[ch].sPath + "\n"), std::string::npos) << text;
           EXPECT_NE(
               text.find("Width, Height:\t" + std::to_string(8 + ch) + " x " + std::to_string(5 + 2 * ch)),
               std::string::npos)
               << text;
         }
         EXPECT_EQ(ChannelText(page, 3), "Media source type:\tNull stream\nTitle:\t\t\nPath:\t\t\n");
       },
       // Nothing on the page can be edited: the channels are only looked at.
       [](OptsPage::COptsPage& page) {
         for (int ch : {3, 1, 0}) ChannelText(page, ch);
       },
       [](ZarnDoc::CZarnDoc& doc) {
         for (int ch = 0; ch < 3; ++ch) {
           EXPECT_EQ(doc.m_Source[ch].nWidth, 8 + ch);
           EXPECT_TRUE(doc.m_Source[ch].bOpen);
         }
         EXPECT_FALSE(doc.m_Source[3].bOpen);
       },
       {},
       [](ZarnDoc::CZarnDoc& doc) {
         for (int ch = 0; ch < 4; ++ch) EXPECT_FALSE(doc.m_Source[ch].bOpen) << ch;
       }},
      {"video pane stretch modes per channel", shell::ID_TOOLS_OPTIONS, OptsPage::PAGE_VIDEO_PANE,
       PrepareVideoPanes,
       [](OptsPage::COptsPage& page, ZarnDoc::CZarnDoc& doc) {
         auto& pane = dynamic_cast<OptsVideoPane::COptsVideoPane&>(page);
         for (int ch : {0, 1, 2, 3}) {
           SCOPED_TRACE("channel " + std::to_string(ch));
           pane.ChannelRadios()->Radio(ch)->click();
           const TVideoPaneSettings& want = doc.m_VideoPane[ch];
           EXPECT_EQ(pane.FastStretchBox()->isChecked(), want.bFastStretch);
           EXPECT_EQ(pane.ViewSlider()->value(), want.nViewMode == 4 ? 1 : 0);
           EXPECT_EQ(pane.PlaySlider()->value(), want.nPlayMode == 4 ? 1 : 0);
         }
       },
       [](OptsPage::COptsPage& page) {
         auto& pane = dynamic_cast<OptsVideoPane::COptsVideoPane&>(page);
         for (int ch : {2, 0, 3, 1}) {
           pane.ChannelRadios()->Radio(ch)->click();
           pane.FastStretchBox()->click();
           pane.ViewSlider()->setValue(1 - pane.ViewSlider()->value());
           pane.PlaySlider()->setValue(1 - pane.PlaySlider()->value());
         }
       },
       ExpectEditedVideoPanes, VideoPaneOffsets(), ExpectEditedVideoPanes},
      {"transform 2D turns the ports, keeps nothing",
       shell::ID_TRANSFORM_CUSTOM,
       OptsPage::PAGE_TRANSFORM_2D,
       [](ZarnDoc::CZarnDoc& doc, const std::string& folder) {
         PrepareChannels(doc, folder);
         doc.TransformPane(1, 3, true);
       },
       [](OptsPage::COptsPage& page, ZarnDoc::CZarnDoc& doc) {
         auto& grid = dynamic_cast<OptsTransform2D::COptsTransform2D&>(page);
         for (int ch = 0; ch < 4; ++ch)
           EXPECT_EQ(grid.Items().Pending(ch), ch < 3 ? doc.m_VideoPortHub.Port(ch).Orientation() : 8) << ch;
       },
       [](OptsPage::COptsPage& page) {
         auto& grid = dynamic_cast<OptsTransform2D::COptsTransform2D&>(page);
         grid.Grid()->OnClick(0, 1);  // " Rotate right 90°", channel 1
         grid.Grid()->OnClick(2, 2);  // " Rotate 180°", channel 2
       },
       [](ZarnDoc::CZarnDoc& doc) {
         const std::int32_t want[4] = {6, 7, 0, 0};
         for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(doc.m_VideoPortHub.Port(ch).Orientation(), want[ch]) << ch;
       },
       {},
       [](ZarnDoc::CZarnDoc& doc) {
         for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(doc.m_VideoPortHub.Port(ch).Orientation(), 0) << ch;
       }},
  };
  return rows;
}

class OptionsRoundTrip : public tovrin_test::TRecordedMessagesTest {};

const TOpener* OpenerOf(UINT command) {
  for (const TOpener& o : kOpeners)
    if (o.command == command) return &o;
  return nullptr;
}

// Shows the row's sheet over the document on its page; returns the page.
OptsPage::COptsPage* ShowSheet(ZarnOptions::CZarnOptions& sheet, OptsPage::TOptsPageKind kind) {
  sheet.OnInitDialog();
  sheet.show();
  QApplication::processEvents();
  OptsPage::COptsPage* page = sheet.Page(kind);
  for (std::size_t i = 0; page && i < sheet.Pages().size(); ++i)
    if (sheet.Pages()[i] == page) sheet.SetActivePage(static_cast<int>(i));
  return page;
}

// The settings block a document leaves when it closes, encoded.
std::vector<std::uint8_t> ClosedBlock(open_test::TSettingsApplication& app, doc_test::TDocumentWindow& w) {
  w.Doc().OnCloseDocument();
  return shell::EncodeProgCfg(app.cfg);
}

// The block as the application writes it at exit: marked saved, one binary
// value of the settings store, flushed to the file.
bool WriteSettingsFile(const QString& ini, shell::TProgCfg cfg) {
  cfg.savedMarker = 1;
  const std::vector<std::uint8_t> bytes = shell::EncodeProgCfg(cfg);
  platform::qt::CRegistryAccess store(ini);
  return store.WriteBinaryValue(kProgCfgKey, "ProgCfg", bytes.data(), bytes.size()) && store.Flush();
}

// The block as the next start reads it from the file (a store of its own).
bool ReadSettingsFile(const QString& ini, open_test::TSettingsApplication& app) {
  platform::qt::CRegistryAccess store(ini);
  std::vector<std::uint8_t> bytes;
  if (store.RewritePending() || !store.ReadBinaryValue(kProgCfgKey, "ProgCfg", bytes)) return false;
  if (!shell::DecodeProgCfg(bytes.data(), bytes.size(), app.cfg)) return false;
  app.settingsRead = app.cfg.savedMarker != 0;
  return true;
}

}  // namespace

TEST_F(OptionsRoundTrip, EveryRow) {
  for (const TRoundTripRow& row : Rows()) {
    SCOPED_TRACE(row.name);
    const TOpener* opener = OpenerOf(row.opener);
    ASSERT_NE(opener, nullptr);

    // What a document with the same channels leaves without the sheet.
    std::vector<std::uint8_t> untouched;
    {
      open_test::TSettingsApplication app;
      doc_test::TDocumentWindow w;
      row.prepare(w.Doc(), dir.Path().string());
      untouched = ClosedBlock(app, w);
    }

    std::vector<std::uint8_t> kept;
    {
      open_test::TSettingsApplication app;
      doc_test::TDocumentWindow w;
      ZarnDoc::CZarnDoc& doc = w.Doc();
      row.prepare(doc, dir.Path().string());
      {
        ZarnOptions::CZarnOptions sheet(opener->caption, doc.ControllerView(), opener->category);
        OptsPage::COptsPage* page = ShowSheet(sheet, row.page);
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(page->InitResult());
        row.checkControls(*page, doc);
        row.edit(*page);
        sheet.AcceptSheet();
        EXPECT_EQ(sheet.result(), QDialog::Accepted);
      }
      row.checkOwner(doc);
      {
        ZarnOptions::CZarnOptions again(opener->caption, doc.ControllerView(), opener->category);
        OptsPage::COptsPage* page = ShowSheet(again, row.page);
        ASSERT_NE(page, nullptr);
        row.checkControls(*page, doc);
        again.reject();
      }
      kept = ClosedBlock(app, w);
    }
    ASSERT_EQ(kept.size(), untouched.size());
    // Every byte outside the row's offsets is as a document without the
    // sheet leaves it; with no offsets the whole block is.
    const std::set<std::size_t> keptAt(row.keptAt.begin(), row.keptAt.end());
    for (std::size_t at : keptAt) ASSERT_LT(at, kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
      if (!keptAt.count(i)) {
        EXPECT_EQ(kept[i], untouched[i]) << "TProgCfg byte " << i << " is not the row's to change";
      }
    }

    // The block written to a settings file and read back by a new start,
    // and a new document from what it read.
    const QString ini = QString::fromStdString((dir.Path() / (std::string(row.name) + ".ini")).string());
    shell::TProgCfg closed;
    ASSERT_TRUE(shell::DecodeProgCfg(kept.data(), kept.size(), closed));
    ASSERT_TRUE(WriteSettingsFile(ini, closed));
    open_test::TSettingsApplication app;
    ASSERT_TRUE(ReadSettingsFile(ini, app));
    EXPECT_TRUE(app.settingsRead) << "the file holds a saved block";
    std::vector<std::uint8_t> reread = shell::EncodeProgCfg(app.cfg);
    ASSERT_EQ(reread.size(), kept.size());
    ASSERT_FALSE(reread.empty());
    EXPECT_EQ(reread[0], 1) << "saved marker";
    reread[0] = kept[0];
    EXPECT_EQ(reread, kept) << "the file gives back the block byte for byte";
    doc_test::TDocumentWindow fresh;
    row.checkNewDocument(fresh.Doc());
  }
  EXPECT_TRUE(sink.Texts().empty()) << sink.Texts().front();
}
