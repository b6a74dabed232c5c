// The document's tools: PSNR of the primary against the assistant channel,
// the picture-in-picture switches, "Save Project...", and closing channels
// with "Close From..." and its dialog.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <utility>
#include <vector>

#include "document/close_channels_dialog.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "open_fixture.h"
#include "options/opts_exchange.h"
#include "options/opts_page.h"
#include "options/zarn_options.h"
#include "shell/command_ids.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using doc_test::LoadPicture;
using doc_test::MakePicture;
using open_test::PortPicture;
namespace pq = platform::qt;

namespace {

class ToolsTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  void SetUp() override { open_test::PreparePorts(doc); }
  ZarnDoc::CZarnDoc doc;
};

// PSNR over red, green and blue, computed here from the pictures' colours.
double ReferencePsnr(const open_test::TRgbPicture& a, const open_test::TRgbPicture& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i)
    for (int shift : {0, 8, 16}) {
      const double d = static_cast<double>((a.pixels[i] >> shift) & 0xFF) -
                       static_cast<double>((b.pixels[i] >> shift) & 0xFF);
      sum += d * d;
    }
  const double mse = sum / (static_cast<double>(a.pixels.size()) * 3.0);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(ToolsTest, PsnrOfTwoPicturesMatchesAnIndependentComputation) {
  auto first = MakePicture(
      31, 17, [](int x, int y) { return static_cast<std::uint32_t>(x * 0x070503 + y * 0x010911); });
  auto second = MakePicture(31, 17, [](int x, int y) {
    return static_cast<std::uint32_t>(x * 0x070503 + y * 0x010911 + ((x * y) % 5) * 0x010101);
  });
  LoadPicture(doc, 0, first);
  LoadPicture(doc, 1, second);
  EXPECT_EQ(doc.OnToolsPsnr(), 0);
  ASSERT_EQ(sink.Texts().size(), 1u);
  double shown = 0.0;
  ASSERT_EQ(std::sscanf(sink.Texts()[0].c_str(), "PSNR = %lf dB", &shown), 1) << sink.Texts()[0];
  EXPECT_NEAR(shown, ReferencePsnr(PortPicture(doc, 0), PortPicture(doc, 1)), 1e-5);
  EXPECT_GT(shown, 20.0);
}

TEST_F(ToolsTest, PsnrEdgeCasesReportTheirOwnTexts) {
  // Nothing open: the two 1 x 1 pictures are alike.
  EXPECT_EQ(doc.OnToolsPsnr(), 1);
  // A picture against an empty channel, and two pictures of other sizes.
  auto big = MakePicture(64, 48, [](int x, int y) { return static_cast<std::uint32_t>(x * 3 + y * 5); });
  LoadPicture(doc, 0, big);
  EXPECT_EQ(doc.OnToolsPsnr(), 2);
  auto small = MakePicture(32, 24, [](int x, int y) { return static_cast<std::uint32_t>(x * 3 + y * 5); });
  LoadPicture(doc, 1, small);
  EXPECT_EQ(doc.OnToolsPsnr(), 2);
  EXPECT_EQ(sink.Texts(),
            (std::vector<std::string>{"Images 1 and 2 are identical",
                                      "PSNR can not be calculated.\nSizes of images are different.",
                                      "PSNR can not be calculated.\nSizes of images are different."}));
}

TEST_F(ToolsTest, PsnrComparesThePrimaryPictureAsItIsTurned) {
  auto picture = MakePicture(
      20, 10, [](int x, int y) { return static_cast<std::uint32_t>(x * 0x0A0000 + y * 0x000B0C); });
  auto copy = MakePicture(
      20, 10, [](int x, int y) { return static_cast<std::uint32_t>(x * 0x0A0000 + y * 0x000B0C); });
  LoadPicture(doc, 0, picture);
  LoadPicture(doc, 1, copy);
  EXPECT_EQ(doc.OnToolsPsnr(), 1);
  doc.m_Source[0].nPictureCount = 1;
  doc.TransformPane(0, ORIENT_ROTATE_RIGHT_90, false);
  EXPECT_EQ(doc.OnToolsPsnr(), 2);                      // 10 x 20 against 20 x 10
  doc.TransformPane(0, ORIENT_ROTATE_RIGHT_90, false);  // upside down
  EXPECT_EQ(doc.OnToolsPsnr(), 0);
}

TEST_F(ToolsTest, TogglingPictureInPictureTwiceRestoresThePaneAndTellsTheViewToolbar) {
  doc_test::TRecordingMainWindow main;
  const TPictInPict before = doc.m_Pip[1];
  auto checked = [this](UINT id) {
    pq::TCmdUI ui(id);
    EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Update, &ui));
    return ui.Check().value_or(-1);
  };
  EXPECT_EQ(checked(shell::ID_VIEW_PIP_ASSISTANT), 0);
  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_VIEW_PIP_ASSISTANT, pq::TCmdCode::Command, nullptr));
  EXPECT_TRUE(doc.m_Pip[1].bEnabled);
  EXPECT_FALSE(doc.m_Pip[0].bEnabled);
  EXPECT_EQ(checked(shell::ID_VIEW_PIP_ASSISTANT), 1);
  EXPECT_EQ(checked(shell::ID_VIEW_PIP_PRIMARY), 0);
  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_VIEW_PIP_ASSISTANT, pq::TCmdCode::Command, nullptr));
  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_VIEW_PIP_PRIMARY, pq::TCmdCode::Command, nullptr));
  EXPECT_FALSE(doc.m_Pip[1].bEnabled);
  EXPECT_TRUE(doc.m_Pip[0].bEnabled);
  EXPECT_EQ(doc.m_Pip[1].nX, before.nX);
  EXPECT_EQ(doc.m_Pip[1].nWidth, before.nWidth);
  EXPECT_EQ(doc.m_Pip[1].nInsetChannel, before.nInsetChannel);
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{7, 32854}, {7, 32854}, {7, 32853}}));
}

TEST_F(ToolsTest, SaveProjectWritesOnlyTheXmlDeclaration) {
  std::ostringstream out;
  ZarnDoc::CZarnDoc::WriteProjectXml(out);
  EXPECT_EQ(out.str(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");
}

TEST_F(ToolsTest, TheDocumentsOtherCommandsAreAlwaysEnabled) {
  for (UINT id : {shell::ID_TOOLS_PSNR, shell::ID_VIEW_REFRESH, shell::ID_FILE_CLOSE_FROM,
                  shell::ID_FILE_SAVE_PROJECT, shell::ID_FILE_OPEN_TO, shell::ID_FILE_CLOSE}) {
    pq::TCmdUI ui(id);
    ui.Enable(false);
    ASSERT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Update, &ui)) << id;
    EXPECT_TRUE(ui.Enabled()) << id;
  }
}

// A page of the options sheet with nothing on it.
class TStandInPage : public OptsPage::COptsPage {
 public:
  using OptsPage::COptsPage::COptsPage;
};

// Installs factories for some page kinds and removes those of others for the
// length of a test; the program's own come back afterwards.
class TPageKinds {
 public:
  TPageKinds(std::initializer_list<OptsPage::TOptsPageKind> present,
             std::initializer_list<OptsPage::TOptsPageKind> absent) {
    OptsPage::RegisterStandardOptionsPages();
    for (auto kind : present)
      m_saved.emplace_back(kind,
                           OptsPage::RegisterOptionsPage(kind, [] { return new TStandInPage("Stand-in"); }));
    for (auto kind : absent) m_saved.emplace_back(kind, OptsPage::RegisterOptionsPage(kind, {}));
  }
  ~TPageKinds() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
      OptsPage::RegisterOptionsPage(it->first, it->second);
  }

 private:
  std::vector<std::pair<OptsPage::TOptsPageKind, OptsPage::TPageFactory>> m_saved;
};

// Runs a command that shows a modal options sheet; the sheet is cancelled at
// once. Returns the captions of the sheets that were shown.
std::vector<std::string> RunSheetCommand(ZarnDoc::CZarnDoc& doc, UINT id, std::int32_t* category = nullptr) {
  std::vector<std::string> captions;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* sheet = qobject_cast<ZarnOptions::CZarnOptions*>(w); sheet && sheet->isVisible()) {
        captions.push_back(sheet->windowTitle().toStdString());
        if (category) *category = sheet->Category();
        sheet->reject();
      }
  });
  closer.start(5);
  EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Command, nullptr));
  return captions;
}

bool CommandEnabled(ZarnDoc::CZarnDoc& doc, UINT id) {
  pq::TCmdUI ui(id);
  EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Update, &ui)) << id;
  return ui.Enabled();
}

TEST_F(ToolsTest, OptionSheetCommandsWaitForAPageOfTheirCategory) {
  TPageKinds kinds({}, {OptsPage::PAGE_PIP, OptsPage::PAGE_MEDIA_DOCUMENT, OptsPage::PAGE_FILES_OF_TYPE,
                        OptsPage::PAGE_FILE_SORTING});
  doc_test::TRecordingMainWindow main;
  for (UINT id : {shell::ID_VIEW_PIP_OPTIONS, shell::ID_FILE_PROPERTIES, shell::ID_FILE_FILES_OF_TYPE,
                  shell::ID_FILE_SORT_BY}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(CommandEnabled(doc, id));
    EXPECT_TRUE(RunSheetCommand(doc, id).empty());  // run anyway: no sheet, no notice
  }
  EXPECT_TRUE(main.notices.empty());
}

TEST_F(ToolsTest, OptionSheetCommandsShowTheirSheetAndThePipOptionsTellTheViewToolbar) {
  TPageKinds kinds({OptsPage::PAGE_PIP, OptsPage::PAGE_MEDIA_DOCUMENT, OptsPage::PAGE_FILES_OF_TYPE,
                    OptsPage::PAGE_FILE_SORTING},
                   {});
  doc_test::TRecordingMainWindow main;
  struct TCase {
    UINT id;
    const char* caption;
    std::int32_t category;
  };
  const TCase cases[] = {{shell::ID_VIEW_PIP_OPTIONS, "Options", OPTCAT_PIP},
                         {shell::ID_FILE_PROPERTIES, "Document properties", OPTCAT_MEDIA_DOCUMENT},
                         {shell::ID_FILE_FILES_OF_TYPE, "Files of type", OPTCAT_FILES_OF_TYPE},
                         {shell::ID_FILE_SORT_BY, "SortBy", OPTCAT_FILE_SORTING}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.caption);
    main.notices.clear();
    EXPECT_TRUE(CommandEnabled(doc, c.id));
    std::int32_t category = -1;
    EXPECT_EQ(RunSheetCommand(doc, c.id, &category), (std::vector<std::string>{c.caption}));
    EXPECT_EQ(category, c.category);
    // Only the PIP options change what the View toolbar shows.
    if (c.id == shell::ID_VIEW_PIP_OPTIONS)
      EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{7, 32852}}));
    else
      EXPECT_TRUE(main.notices.empty());
  }
}

// ---------------------------------------------------------------------------
// Close From

class CloseFromTest : public ToolsTest {
 protected:
  void SetUp() override {
    ToolsTest::SetUp();
    ZarnDoc::CZarnDoc::SetCloseFromPrompt(
        [this](const std::array<std::uint8_t, 4>& open, std::array<std::uint8_t, 4>& close) {
          ++prompts;
          shownOpen = open;
          close = answer;
          return accept;
        });
  }
  void TearDown() override { ZarnDoc::CZarnDoc::SetCloseFromPrompt({}); }

  // Opens a picture file into the channels named.
  void OpenChannels(std::initializer_list<int> channels) {
    for (int ch : channels) {
      const std::string file = Path("ch" + std::to_string(ch) + ".png");
      ASSERT_TRUE(
          open_test::ToImage(open_test::Pattern(5 + ch, 4)).save(QString::fromStdString(file), "PNG"));
      ASSERT_TRUE(doc.OpenSource(file, ch));
      doc.m_bPlayEnable[ch] = doc.m_bNavigate[ch] = doc.m_bReplayEnable[ch] = doc.m_bDvdNavigate[ch] = true;
    }
  }
  bool Closed(int ch) const {
    return !doc.m_Source[ch].bOpen && !doc.m_bHasPicture[ch] && PortPicture(doc, ch).width == 1 &&
           doc.m_Source[ch].sPath.empty();
  }

  int prompts = 0;
  std::array<std::uint8_t, 4> shownOpen{};
  std::array<std::uint8_t, 4> answer{};
  bool accept = true;
};

TEST_F(CloseFromTest, OneOpenChannelClosesWithoutAskingAndLeavesPlayingAndReplay) {
  OpenChannels({2});
  doc_test::TRecordingMainWindow main;
  doc.OnFileCloseFrom();
  EXPECT_EQ(prompts, 0);
  EXPECT_TRUE(Closed(2));
  EXPECT_FALSE(doc.m_bPlayEnable[2]);
  EXPECT_FALSE(doc.m_bReplayEnable[2]);
  EXPECT_FALSE(doc.m_bNavigate[2]);
  EXPECT_FALSE(doc.m_bDvdNavigate[2]);
  EXPECT_EQ(doc.m_nOpenCount, 0);
  EXPECT_EQ(doc.m_strDocTitle, doc.DocName() + " ||||");
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{10, 36928}}));
}

TEST_F(CloseFromTest, NothingOpenChangesNothingButStillTellsTheExplorer) {
  doc_test::TRecordingMainWindow main;
  doc.OnFileCloseFrom();
  EXPECT_EQ(prompts, 0);
  EXPECT_EQ(doc.m_nOpenCount, 0);
  EXPECT_TRUE(doc.m_bPlayEnable[0]);
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{10, 36928}}));
}

TEST_F(CloseFromTest, TheChosenChannelsCloseAndThePrimaryStaysEnabled) {
  struct TCase {
    std::vector<int> open;
    std::array<std::uint8_t, 4> close;
  };
  const TCase cases[] = {
      {{0, 1, 3}, {0, 1, 0, 1}},    {{0, 2}, {1, 0, 1, 0}},       {{1, 2}, {0, 0, 1, 0}},
      {{0, 1, 2, 3}, {0, 0, 0, 1}}, {{0, 1, 2, 3}, {0, 0, 0, 0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.open) + " close " + ::testing::PrintToString(c.close));
    for (int ch = 0; ch < 4; ++ch) doc.CloseChannel(ch);
    for (int ch : c.open) OpenChannels({ch});
    answer = c.close;
    const int asked = prompts;
    doc.OnFileCloseFrom();
    EXPECT_EQ(prompts, asked + 1);
    for (int ch = 0; ch < 4; ++ch) {
      const bool wasOpen = std::find(c.open.begin(), c.open.end(), ch) != c.open.end();
      EXPECT_EQ(shownOpen[ch], wasOpen ? 1 : 0) << ch;
      const bool closes = c.close[ch] != 0;
      EXPECT_EQ(Closed(ch), closes || !wasOpen) << ch;
      if (closes) {
        EXPECT_EQ(doc.m_bPlayEnable[ch], ch == 0) << ch;
      }
      if (wasOpen && !closes) {
        EXPECT_TRUE(doc.m_bPlayEnable[ch]) << ch;
      }
    }
  }
}

TEST_F(CloseFromTest, ACancelledChoiceClosesNothing) {
  OpenChannels({0, 1});
  answer = {1, 1, 0, 0};
  accept = false;
  doc.OnFileCloseFrom();
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(doc.m_Source[0].bOpen);
  EXPECT_TRUE(doc.m_Source[1].bOpen);
  EXPECT_EQ(doc.m_nOpenCount, 2);
}

TEST_F(CloseFromTest, AClosedChannelsReaderForgetsItsFileAndFrameRange) {
  OpenChannels({1, 2});
  for (int ch : {1, 2}) doc.ChannelReader(ch).SetFrameRange(5, 9);
  answer = {0, 0, 1, 0};
  doc.OnFileCloseFrom();
  ASSERT_TRUE(Closed(2));
  const ReadStream::TReaderSource closed = doc.ChannelReader(2).Description();
  const ReadStream::TReaderSource none;
  EXPECT_TRUE(closed.sPath.empty());
  EXPECT_EQ(closed.eStreamType, none.eStreamType);
  EXPECT_EQ(closed.nSourceCategory, none.nSourceCategory);
  EXPECT_EQ(closed.eFileFormat, none.eFileFormat);
  EXPECT_EQ(closed.nWidth, none.nWidth);
  EXPECT_EQ(closed.nHeight, none.nHeight);
  EXPECT_EQ(doc.ChannelReader(2).GetFirstFrame(), 0);
  EXPECT_EQ(doc.ChannelReader(2).GetFrameLimit(), 0);
  // The channel that stays open keeps its reader as it was.
  EXPECT_EQ(doc.ChannelReader(1).Description().sPath, doc.m_Source[1].sPath);
  EXPECT_EQ(doc.ChannelReader(1).Description().eStreamType, ST_PNG);
  EXPECT_EQ(doc.ChannelReader(1).GetFirstFrame(), 5);
  EXPECT_EQ(doc.ChannelReader(1).GetFrameLimit(), 9);
}

// Close From in a document window: the controller pane follows.
class CloseFromWindowTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  void SetUp() override {
    ZarnDoc::CZarnDoc::SetCloseFromPrompt(
        [this](const std::array<std::uint8_t, 4>&, std::array<std::uint8_t, 4>& close) {
          close = answer;
          return true;
        });
  }
  void TearDown() override { ZarnDoc::CZarnDoc::SetCloseFromPrompt({}); }
  std::string Picture(int ch) {
    const std::string file = Path("w" + std::to_string(ch) + ".png");
    EXPECT_TRUE(open_test::ToImage(open_test::Pattern(4 + ch, 3)).save(QString::fromStdString(file), "PNG"));
    return file;
  }
  bool RowShown(int ch) { return !doc.ControllerView()->FrameReadout(ch)->isHidden(); }
  int OpenChannels() const {
    int n = 0;
    for (const TMediaSource& source : doc.m_Source) n += source.bOpen ? 1 : 0;
    return n;
  }

  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  std::array<std::uint8_t, 4> answer{};
};

TEST_F(CloseFromWindowTest, TheControllerPaneDropsTheRowsOfTheClosedChannels) {
  for (int ch : {0, 1, 2}) ASSERT_TRUE(doc.OpenSource(Picture(ch), ch));
  for (int ch : {0, 1, 2}) EXPECT_TRUE(RowShown(ch)) << ch;
  EXPECT_FALSE(RowShown(3));
  answer = {0, 0, 1, 0};
  doc.OnFileCloseFrom();
  EXPECT_TRUE(RowShown(1));
  EXPECT_FALSE(RowShown(2));
  answer = {0, 1, 0, 0};
  doc.OnFileCloseFrom();
  EXPECT_TRUE(RowShown(0));  // the primary's readout always stays
  EXPECT_FALSE(RowShown(1));
}

TEST_F(CloseFromWindowTest, TheOpenCountFollowsEveryOpenPasteAndClose) {
  QGuiApplication::clipboard()->clear();
  auto startPauseEnabled = [this] {
    pq::TCmdUI ui(shell::ID_NAVIGATE_START_PAUSE);
    EXPECT_TRUE(doc.OnCmdMsg(shell::ID_NAVIGATE_START_PAUSE, pq::TCmdCode::Update, &ui));
    return ui.Enabled();
  };
  const std::string bad = Path("bad.png");
  tovrin_test::WriteAll(bad, std::string("not a picture"));
  QImage pasted(5, 4, QImage::Format_RGB32);
  pasted.fill(QColor(200, 30, 90));
  struct TStep {
    const char* what;
    std::function<void()> act;
  };
  const TStep steps[] = {
      {"nothing open", [] {}},
      {"a file opened into channel 3", [&] { ASSERT_TRUE(doc.OpenSource(Picture(3), 3)); }},
      {"a picture pasted into channel 0",
       [&] {
         QGuiApplication::clipboard()->setImage(pasted);
         ASSERT_TRUE(doc.PasteFromClipboard(0));
       }},
      {"a file opened into channel 2 without the panes",
       [&] {
         TOpenSourceArgs args;
         args.path = Picture(2);
         args.channel = 2;
         ASSERT_TRUE(doc.OpenSourceInChannel(args));
       }},
      {"a file that fails to open into channel 1", [&] { ASSERT_FALSE(doc.OpenSource(bad, 1)); }},
      {"channels 2 and 3 closed",
       [&] {
         answer = {0, 0, 1, 1};
         doc.OnFileCloseFrom();
       }},
      {"the last channel closed", [&] { doc.OnFileCloseFrom(); }},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(doc.m_nOpenCount, OpenChannels());
    EXPECT_EQ(startPauseEnabled(), OpenChannels() > 0);
  }
  EXPECT_EQ(OpenChannels(), 0);
  QGuiApplication::clipboard()->clear();
}

// ---------------------------------------------------------------------------
// The dialog

struct TDialog {
  explicit TDialog(std::array<std::uint8_t, 4> open) {
    dialog.m_Open = open;
    dialog.OnInitDialog();
  }
  bool Enabled(int ch) const { return dialog.CheckBox(ch)->isEnabled(); }
  bool Checked(int ch) const { return dialog.CheckBox(ch)->isChecked(); }
  void Click(int ch) { dialog.CheckBox(ch)->click(); }
  CloseStreamFrom::CCloseStreamFrom dialog;
};

TEST(CloseStreamFromTest, ShowsEachChannelsStateAndOnlyTheOpenAssistantBoxes) {
  TDialog d({1, 0, 1, 0});
  EXPECT_EQ(d.dialog.windowTitle().toStdString(), "Close Media Source");
  const char* states[] = {"Open", "Closed", "Open", "Closed"};
  const char* names[] = {"1 - Primary", "2 - Assistant", "3 - Auxiliary", "4 - Auxiliary"};
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(d.dialog.StateLabel(ch)->text().toStdString(), states[ch]);
    EXPECT_EQ(d.dialog.CheckBox(ch)->text().toStdString(), names[ch]);
    EXPECT_FALSE(d.Checked(ch));
  }
  EXPECT_FALSE(d.Enabled(0));
  EXPECT_FALSE(d.Enabled(1));
  EXPECT_TRUE(d.Enabled(2));
  EXPECT_FALSE(d.Enabled(3));
  // Ticking channel 3 allows the primary; unticking it takes the primary's
  // tick away and locks it again.
  d.Click(2);
  EXPECT_TRUE(d.Enabled(0));
  d.Click(0);
  EXPECT_TRUE(d.Checked(0));
  d.Click(2);
  EXPECT_FALSE(d.Checked(0));
  EXPECT_FALSE(d.Enabled(0));
}

TEST(CloseStreamFromTest, ThePrimaryIsAllowedOnlyWithEveryOpenAssistantTicked) {
  TDialog d({1, 1, 0, 1});
  d.Click(1);
  EXPECT_FALSE(d.Enabled(0));
  d.Click(3);
  EXPECT_TRUE(d.Enabled(0));
  // With the primary closed its box may be ticked once the others are.
  TDialog closedPrimary({0, 1, 1, 0});
  EXPECT_FALSE(closedPrimary.Enabled(0));
  closedPrimary.Click(1);
  EXPECT_FALSE(closedPrimary.Enabled(0));
  closedPrimary.Click(2);
  EXPECT_TRUE(closedPrimary.Enabled(0));
}

TEST(CloseStreamFromTest, OkReturnsTheTicksAndCancelLeavesTheAnswerUntouched) {
  TDialog d({1, 1, 1, 1});
  d.Click(1);
  d.Click(3);
  d.dialog.OnOK();
  EXPECT_EQ(d.dialog.result(), QDialog::Accepted);
  EXPECT_EQ(d.dialog.m_Close, (std::array<std::uint8_t, 4>{0, 1, 0, 1}));

  TDialog none({1, 1, 0, 0});
  none.dialog.OnOK();
  EXPECT_EQ(none.dialog.m_Close, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));

  TDialog cancelled({1, 1, 0, 0});
  cancelled.dialog.m_Close = {9, 9, 9, 9};
  cancelled.Click(1);
  cancelled.dialog.reject();
  EXPECT_EQ(cancelled.dialog.m_Close, (std::array<std::uint8_t, 4>{9, 9, 9, 9}));
}

}  // namespace
