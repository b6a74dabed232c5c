#include "document/zarn_doc.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "document/command_ids.h"
#include "document/zoom_mode_dialog.h"
#include "document_fixture.h"
#include "platform/message_sink.h"
#include "shell/application.h"

using namespace ZarnTypes;
using namespace ZarnCommands;
using doc_test::LoadPicture;
using doc_test::MakePicture;
using doc_test::TDocumentWindow;
namespace pq = platform::qt;

namespace {

// An application object with just the counters and the registry.
class TTestApplication : public shell::IApplication {
 public:
  TTestApplication() { shell::SetTheApplication(this); }
  ~TTestApplication() override { shell::SetTheApplication(nullptr); }

  shell::TAppParams& Params() override { return m_params; }
  shell::TChannelParamsSet& ParamsSet() override { return m_set; }
  shell::TProgCfg& ProgCfg() override { return m_cfg; }
  std::array<shell::TChannelNaming, shell::kChannelCount>& SequenceNaming() override { return m_naming; }
  std::array<shell::TChannelNaming, shell::kChannelCount>& ImageNaming() override { return m_naming; }
  shell::TShellState& ShellState() override { return m_state; }
  bool SettingsRead() const override { return false; }
  bool StartFileLoaded() const override { return false; }
  std::int32_t NextClipboardNumber() override { return 0; }
  std::int32_t NextScanNumber() override { return 0; }
  std::int32_t NextSourceSerial() override { return 0; }
  std::int32_t NextRecordingNumber() override { return 0; }
  void RegisterDocument(shell::IMediaDocument* document, std::int32_t& number,
                        std::int32_t& serial) override {
    number = ++m_documents;
    serial = ++m_serials;
    shell::TDocRegistryEntry entry;
    entry.kind = 1;
    entry.number = number;
    entry.serial = serial;
    entry.document = document;
    m_registry.push_back(entry);
  }
  bool UnregisterDocument(std::int32_t number) override {
    for (auto& e : m_registry)
      if (e.kind == 1 && e.number == number) {
        e.kind = 0;
        e.number = -1;
        return true;
      }
    return false;
  }
  const std::vector<shell::TDocRegistryEntry>& DocumentRegistry() const override { return m_registry; }
  std::vector<shell::TDocRegistryEntry>& DocumentRegistry() override { return m_registry; }
  QWidget* MainWindowWidget() override { return nullptr; }
  void AddToRecentFileList(const std::string&) override {}

 private:
  shell::TAppParams m_params;
  shell::TChannelParamsSet m_set;
  shell::TProgCfg m_cfg;
  std::array<shell::TChannelNaming, shell::kChannelCount> m_naming;
  shell::TShellState m_state;
  std::vector<shell::TDocRegistryEntry> m_registry;
  std::int32_t m_documents = 0;
  std::int32_t m_serials = 0;
};

bool RunCommand(ZarnDoc::CZarnDoc& doc, UINT id) { return doc.OnCmdMsg(id, pq::TCmdCode::Command, nullptr); }

int Check(ZarnDoc::CZarnDoc& doc, UINT id) {
  pq::TCmdUI ui(id);
  EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Update, &ui)) << id;
  return ui.Check().value_or(-1);
}

// A picture whose quadrants have four colours (top left red, top right
// green, bottom left blue, bottom right white).
doc_test::TPicture Quadrants(int w, int h) {
  return MakePicture(w, h, [w, h](int x, int y) -> std::uint32_t {
    const bool right = x >= w / 2;
    const bool bottom = y >= h / 2;
    return bottom ? (right ? 0xFFFFFF : 0x0000FF) : (right ? 0x00FF00 : 0xFF0000);
  });
}

std::uint32_t TopLeftColour(const ZarnDoc::CZarnDoc& doc, int channel) {
  auto pic = doc.m_VideoPortHub.Port(channel).FrontBitmap();
  std::uint32_t v = 0;
  std::memcpy(&v, pic->RowFromTop(0), 4);
  return v & 0x00FFFFFF;
}

}  // namespace

TEST(ZarnDocument, DocumentsAreNumberedByTheApplicationAndLeaveItsRegistry) {
  TTestApplication app;
  {
    ZarnDoc::CZarnDoc first;
    ZarnDoc::CZarnDoc second;
    EXPECT_EQ(first.DocName(), "DM1");
    EXPECT_EQ(second.DocName(), "DM2");
    EXPECT_EQ(second.Number(), 2);
    ASSERT_EQ(app.DocumentRegistry().size(), 2u);
    EXPECT_EQ(app.DocumentRegistry()[1].document, &second);
  }
  for (const auto& e : app.DocumentRegistry()) EXPECT_EQ(e.kind, 0);
}

TEST(ZarnDocument, TitleNamesTheFirstOpenSourceAndEmptyChannelsAsBars) {
  ZarnDoc::CZarnDoc doc;
  const std::string name = doc.DocName();
  doc.BuildTitle();
  EXPECT_EQ(doc.m_strDocTitle, name + " ||||");

  doc.m_Source[0].bOpen = TRUE_;
  doc.m_Source[0].eSourceCategory = SOURCE_CAT_FILE;
  ASSERT_TRUE(doc.SetSourceDisplayName("/media/clips/first take.png", 0));
  EXPECT_EQ(doc.m_Source[0].sDisplayPath, "first take.png");
  EXPECT_EQ(doc.Title(), name + " | first take.png |||");

  doc.m_Source[2].bOpen = TRUE_;
  doc.m_Source[2].eSourceCategory = SOURCE_CAT_HTTP;
  ASSERT_TRUE(doc.SetSourceDisplayName("https://videos.example.org/archive/2024/a-rather-long-name.mp4", 2));
  EXPECT_EQ(doc.m_Source[2].sDisplayPath.size(), 40u);
  EXPECT_EQ(doc.m_Source[2].sDisplayPath.substr(0, 20), "videos.example.org..");
  EXPECT_EQ(doc.Title(), name + " | first take.png || ...");

  doc.m_Source[0].bOpen = FALSE_;
  doc.BuildTitle();
  EXPECT_EQ(doc.m_strDocTitle, name + " || | " + doc.m_Source[2].sDisplayPath + " |");
}

TEST(ZarnDocument, DisplayNamesRefuseWhatCannotBeShown) {
  ZarnDoc::CZarnDoc doc;
  doc.m_Source[1].bOpen = TRUE_;
  doc.m_Source[1].eSourceCategory = SOURCE_CAT_FTP;
  EXPECT_FALSE(doc.SetSourceDisplayName("mailto:someone@example.org", 1));  // not a served URL
  doc.m_Source[1].eSourceCategory = SOURCE_CAT_FILE;
  EXPECT_FALSE(doc.SetSourceDisplayName("", 1));
  EXPECT_FALSE(doc.SetSourceDisplayName(std::string(300, 'a'), 1));
  EXPECT_FALSE(doc.SetSourceDisplayName("/a.png", 4));
  // The limit of 256 counts characters: a path of 253 characters passes
  // although 244 of them are accented letters of two bytes each; one of 256
  // characters does not.
  std::string accented;
  for (int i = 0; i < 244; ++i) accented += "\u00e9";
  ASSERT_TRUE(doc.SetSourceDisplayName("/tmp/" + accented + ".png", 1));
  EXPECT_EQ(doc.m_Source[1].sDisplayPath, accented + ".png");
  EXPECT_FALSE(doc.SetSourceDisplayName("/tmp/" + accented + "x.png12", 1));
  EXPECT_EQ(ZarnDoc::CZarnDoc::ShortenUrlForDisplay("http://host.example/dir/clip.mpg"),
            "host.example...clip.mpg");
}

TEST(ZarnDocument, ShortenedUrlsCountCharactersNotBytes) {
  // 5 + 3 + 32 characters: shown whole, though its UTF-8 form is longer
  // than 40 bytes.
  const std::string accented =
      "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
      "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
      "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9.mpg";
  EXPECT_EQ(ZarnDoc::CZarnDoc::ShortenUrlForDisplay("http://a.com/dir/" + accented), "a.com..." + accented);
  // 42 characters: the first 37 and "...", the cut falling after the last
  // accented letter (a count of bytes would cut after the fourteenth).
  const std::string longer = accented.substr(0, 2 * 28) + "x.mpg";  // 28 letters, 33 characters
  const std::string shown = ZarnDoc::CZarnDoc::ShortenUrlForDisplay("ftp://host.x/" + longer);
  EXPECT_EQ(shown, "host.x..." + accented.substr(0, 2 * 28) + "...");
  EXPECT_EQ(QString::fromStdString(shown).size(), 40);
}

// ---------------------------------------------------------------------------
// The explorer pane's requests

namespace {

ZarnTypes::TExplorerRequest ExplorerAction(ZarnTypes::TExplorerDocInfo& info, std::int32_t action) {
  ZarnTypes::TExplorerRequest request;
  request.nOperation = ZarnTypes::EXPLORER_OP_ACTION;
  request.pInfo = &info;
  info.nAction = action;
  return request;
}

}  // namespace

TEST(ZarnDocumentExplorer, DescriptionNamesDevicesByTheirNameAndFilesByTheirPath) {
  ZarnDoc::CZarnDoc doc;
  doc.m_Source[0].bOpen = TRUE_;
  doc.m_Source[0].eSourceCategory = SOURCE_CAT_FILE;
  doc.m_Source[0].sPath = "/clips/first.png";
  doc.m_Source[0].sDisplayName = "not shown";
  doc.m_Source[2].bOpen = TRUE_;
  doc.m_Source[2].eSourceCategory = SOURCE_CAT_DEVICE;
  doc.m_Source[2].sPath = "pipewire:42";
  doc.m_Source[2].sDisplayName = "Studio camera";
  doc.m_strDocTitle = "DM7 | first.png |||";

  ZarnTypes::TExplorerDocInfo info;
  info.sChannelPath[3] = "left from before";
  ZarnTypes::TExplorerRequest request;
  request.nOperation = ZarnTypes::EXPLORER_OP_DESCRIBE;
  request.pInfo = &info;
  ASSERT_TRUE(doc.OnExplorerRequest(request));
  EXPECT_TRUE(request.bAnswered);
  EXPECT_EQ(info.sTitle, "DM7 | first.png |||");
  const std::array<std::string, 4> paths = {"/clips/first.png", "", "Studio camera", ""};
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(info.sChannelPath[ch], paths[ch]) << ch;
    EXPECT_EQ(info.pSource[ch], &doc.m_Source[ch]) << ch;
  }
}

TEST(ZarnDocumentExplorer, RequestsWithoutInfoUnknownOperationsAndOtherActionsAreRefused) {
  ZarnDoc::CZarnDoc doc;
  ZarnTypes::TExplorerRequest noInfo;
  noInfo.nOperation = ZarnTypes::EXPLORER_OP_DESCRIBE;
  EXPECT_FALSE(doc.OnExplorerRequest(noInfo));
  EXPECT_FALSE(noInfo.bAnswered);

  ZarnTypes::TExplorerDocInfo info;
  for (std::int32_t op : {0, 3, 4, -1}) {
    ZarnTypes::TExplorerRequest request;
    request.nOperation = op;
    request.pInfo = &info;
    EXPECT_FALSE(doc.OnExplorerRequest(request)) << op;
    EXPECT_FALSE(request.bAnswered) << op;
    EXPECT_TRUE(info.sTitle.empty()) << op;
  }
  for (std::int32_t action : {0, 2, 9, 10, 11, 13, -5}) {
    ZarnTypes::TExplorerRequest request = ExplorerAction(info, action);
    EXPECT_FALSE(doc.OnExplorerRequest(request)) << action;
    EXPECT_FALSE(request.bAnswered) << action;
  }
}

TEST(ZarnDocumentExplorer, OpenToAndCloseFromActionsAskTheirPrompts) {
  TDocumentWindow w;
  auto& doc = w.Doc();
  // Close From asks only when more than one channel is open.
  doc.m_Source[0].bOpen = TRUE_;
  doc.m_Source[1].bOpen = TRUE_;
  int openAsked = 0, closeAsked = 0;
  ZarnDoc::CZarnDoc::SetOpenFilePrompt([&](QWidget*) {
    ++openAsked;
    return std::string();
  });
  ZarnDoc::CZarnDoc::SetCloseFromPrompt(
      [&](const std::array<std::uint8_t, 4>&, std::array<std::uint8_t, 4>&) {
        ++closeAsked;
        return false;
      });
  ZarnTypes::TExplorerDocInfo info;
  ZarnTypes::TExplorerRequest openTo = ExplorerAction(info, ZarnTypes::EXPLORER_ACT_OPEN_TO);
  const bool openAnswered = doc.OnExplorerRequest(openTo);
  ZarnTypes::TExplorerRequest closeFrom = ExplorerAction(info, ZarnTypes::EXPLORER_ACT_CLOSE_FROM);
  const bool closeAnswered = doc.OnExplorerRequest(closeFrom);
  ZarnDoc::CZarnDoc::SetOpenFilePrompt({});
  ZarnDoc::CZarnDoc::SetCloseFromPrompt({});
  EXPECT_TRUE(openAnswered);
  EXPECT_TRUE(openTo.bAnswered);
  EXPECT_EQ(openAsked, 1);
  EXPECT_TRUE(closeAnswered);
  EXPECT_TRUE(closeFrom.bAnswered);
  EXPECT_EQ(closeAsked, 1);
}

TEST(ZarnDocumentExplorer, CloseActionClosesTheWindowOnceTheRequestIsAnswered) {
  TDocumentWindow w;
  ZarnTypes::TExplorerDocInfo info;
  ZarnTypes::TExplorerRequest request = ExplorerAction(info, ZarnTypes::EXPLORER_ACT_CLOSE);
  ASSERT_TRUE(w.Doc().OnExplorerRequest(request));
  EXPECT_TRUE(request.bAnswered);
  ASSERT_FALSE(w.frame.isNull());
  EXPECT_TRUE(w.frame->isVisible());  // still there while the explorer holds the request
  for (int i = 0; i < 5 && !w.frame.isNull() && w.frame->isVisible(); ++i) QApplication::processEvents();
  EXPECT_TRUE(w.frame.isNull() || !w.frame->isVisible());
}

TEST(ZarnDocumentExplorer, PasteGoesIntoChannelZeroWhicheverPaneShowsIt) {
  QGuiApplication::clipboard()->clear();
  TDocumentWindow w;
  auto& doc = w.Doc();
  // Pane 0 shows channel 1; channel 0 is shown by pane 2 only.
  doc.m_nPaneChannel[0] = 1;
  doc.m_nPaneChannel[2] = 0;
  QImage picture(6, 4, QImage::Format_RGB32);
  picture.fill(QColor(10, 200, 30));
  QGuiApplication::clipboard()->setImage(picture);

  ZarnTypes::TExplorerDocInfo info;
  ZarnTypes::TExplorerRequest request = ExplorerAction(info, ZarnTypes::EXPLORER_ACT_PASTE);
  ASSERT_TRUE(doc.OnExplorerRequest(request));
  EXPECT_TRUE(request.bAnswered);
  EXPECT_TRUE(doc.m_Source[0].bOpen);
  EXPECT_FALSE(doc.m_Source[1].bOpen);
  EXPECT_EQ(doc.m_Source[0].nWidth, 6);
  EXPECT_EQ(doc.m_Source[0].nHeight, 4);
  EXPECT_EQ(TopLeftColour(doc, 0), 0x0AC81Eu);
  QGuiApplication::clipboard()->clear();
}

TEST(ZarnDocumentExplorer, CopyPutsTheFirstPanesPictureOnTheClipboard) {
  QGuiApplication::clipboard()->clear();
  TDocumentWindow w;
  auto& doc = w.Doc();
  auto picture = Quadrants(8, 6);
  LoadPicture(doc, 0, picture);
  doc.m_Source[0].bOpen = TRUE_;
  doc.m_Source[0].nPictureCount = 1;
  doc.m_bHasPicture[0] = true;
  ZarnTypes::TExplorerDocInfo info;
  ZarnTypes::TExplorerRequest request = ExplorerAction(info, ZarnTypes::EXPLORER_ACT_COPY);
  ASSERT_TRUE(doc.OnExplorerRequest(request));
  EXPECT_TRUE(request.bAnswered);
  const QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_FALSE(copied.isNull());
  EXPECT_EQ(copied.size(), QSize(8, 6));
  EXPECT_EQ(copied.pixel(0, 0) & 0xFFFFFFu, 0xFF0000u);  // top left red
  EXPECT_EQ(copied.pixel(7, 5) & 0xFFFFFFu, 0xFFFFFFu);  // bottom right white
  QGuiApplication::clipboard()->clear();
}

TEST(ZarnDocumentExplorer, PropertiesDescribeThenAskTheMainFrameToShowTheDocument) {
  QWidget mainWindow;
  std::vector<std::int32_t> blocks;
  std::vector<const void*> payloads;
  std::vector<pq::WPARAM> wParams;
  std::vector<std::int32_t> codes;
  bool answer = true;
  auto* map = new pq::TMessageMap(&mainWindow);
  map->On(pq::WM_APP_FRAME_NOTIFY, [&](pq::WPARAM wParam, pq::LPARAM l) {
    auto* notice = pq::RecordOf<pq::TFrameNotice>(l);
    if (!notice) return pq::LRESULT{0};
    wParams.push_back(wParam);
    codes.push_back(notice->code);
    EXPECT_EQ(notice->operation, 2);
    EXPECT_EQ(notice->answered, 0);
    const auto* block = reinterpret_cast<const std::int32_t*>(notice->document);
    if (block) blocks.assign(block, block + 4);
    payloads.push_back(notice->payload);
    if (answer) notice->answered = 1;
    return pq::LRESULT{1};
  });
  shell::SetMainWindow(&mainWindow);
  {
    ZarnDoc::CZarnDoc doc;
    doc.m_strDocTitle = "DM3 ||||";
    ZarnTypes::TExplorerDocInfo info;
    ZarnTypes::TExplorerRequest request = ExplorerAction(info, ZarnTypes::EXPLORER_ACT_PROPERTIES);
    request.identity = {1, 3, 9};
    EXPECT_TRUE(doc.OnExplorerRequest(request));
    EXPECT_EQ(info.sTitle, "DM3 ||||");
    EXPECT_EQ(info.pSource[3], &doc.m_Source[3]);
    ASSERT_EQ(wParams.size(), 1u);
    EXPECT_EQ(wParams[0], 12u);
    EXPECT_EQ(codes[0], 36930);
    EXPECT_EQ(blocks, (std::vector<std::int32_t>{1, 256, 1, 1}));
    EXPECT_EQ(payloads[0], &request.identity);

    // A main frame that does not answer: the request reports it.
    answer = false;
    ZarnTypes::TExplorerRequest unanswered = ExplorerAction(info, ZarnTypes::EXPLORER_ACT_PROPERTIES);
    EXPECT_FALSE(doc.OnExplorerRequest(unanswered));
    EXPECT_EQ(wParams.size(), 2u);
  }
  shell::SetMainWindow(nullptr);
}

TEST(ZarnDocument, PresetAndFittingZoomCommandsSetModeFactorAndChecks) {
  TDocumentWindow w;
  auto& doc = w.Doc();
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_KEEP_IN_VIEW);
  EXPECT_EQ(Check(doc, ID_ZOOM_KEEP_IN_VIEW), 1);
  const struct {
    UINT id;
    int mode;
    float factor0;  // 0: unchanged
  } cases[] = {
      {ID_ZOOM_25, ZOOM_25, 0.25f},
      {ID_ZOOM_1000, ZOOM_1000, 10.0f},
      {ID_ZOOM_FIT_WIDTH, ZOOM_FIT_WIDTH, 0},
      {ID_ZOOM_PRESET, ZOOM_100, 1.0f},
      {ID_ZOOM_175, ZOOM_175, 1.75f},
      {ID_ZOOM_FILL_VIEW, ZOOM_FILL_VIEW, 0},
      {ID_ZOOM_KEEP_IN_VIEW, ZOOM_KEEP_IN_VIEW, 1.0f},
  };
  for (const auto& c : cases) {
    const int previous = doc.m_nZoomMode;
    const float before = doc.m_fZoomFactor[0];
    ASSERT_TRUE(RunCommand(doc, c.id));
    EXPECT_EQ(doc.m_nZoomMode, c.mode) << c.id;
    EXPECT_EQ(doc.m_nPrevZoomMode, previous) << c.id;
    EXPECT_FLOAT_EQ(doc.m_fZoomFactor[0], c.factor0 ? c.factor0 : before) << c.id;
  }
  // Exactly the item of the current mode is checked; zoom in, out and the
  // preset button never are.
  ASSERT_TRUE(RunCommand(doc, ID_ZOOM_50));
  for (UINT id = ID_ZOOM_1000; id <= ID_ZOOM_CUSTOM; ++id) {
    if (id == ID_ZOOM_PRESET) continue;
    EXPECT_EQ(Check(doc, id), id == ID_ZOOM_50 ? 1 : 0) << id;
  }
  EXPECT_EQ(Check(doc, ID_ZOOM_IN), -1);
  EXPECT_EQ(Check(doc, ID_ZOOM_PRESET), -1);
}

TEST(ZarnDocument, ZoomStepsThroughThePresets) {
  TDocumentWindow w;
  auto& doc = w.Doc();
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_200));
  doc.ZoomStep(true);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_500);
  doc.ZoomStep(true);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_1000);
  doc.ZoomStep(true);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_1000);
  EXPECT_EQ(doc.m_nPrevZoomMode, ZOOM_500);
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_10));
  doc.ZoomStep(false);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_10);
  ASSERT_TRUE(RunCommand(doc, ID_ZOOM_IN));
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_25);
  ASSERT_TRUE(RunCommand(doc, ID_ZOOM_OUT));
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_10);
}

TEST(ZarnDocument, ZoomStepFromAFittingModeStartsAtThePrimaryPanesFactor) {
  TDocumentWindow w(QSize(600, 600));
  auto& doc = w.Doc();
  // A picture 0.6 times the primary pane's width shows at 0.6 in fit view.
  const QSize client = w.Pane(0).ClientSize();
  ASSERT_GT(client.width(), 100);
  auto picture =
      MakePicture(client.width() * 10 / 6, client.height() / 4, [](int, int) { return 0x808080u; });
  LoadPicture(doc, 0, picture);
  float factor = 0;
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_FIT_VIEW));
  ASSERT_TRUE(doc.GetPaneZoomFactor(0, factor));
  ASSERT_NEAR(factor, 0.6f, 0.01f);
  doc.ZoomStep(true);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_100);
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_FIT_VIEW));
  doc.ZoomStep(false);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_50);

  // With the bottom row shown the step goes to 100%.
  w.frame->ToggleBottomRow();
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_FIT_VIEW));
  doc.ZoomStep(false);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_100);
  w.frame->ToggleBottomRow();

  // In custom mode both directions go to 100%.
  doc.m_nZoomMode = ZOOM_CUSTOM;
  doc.ZoomStep(true);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_100);
  doc.m_nZoomMode = ZOOM_CUSTOM;
  doc.ZoomStep(false);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_100);
  // A mode outside the table is left alone.
  doc.m_nZoomMode = 40;
  doc.ZoomStep(true);
  EXPECT_EQ(doc.m_nZoomMode, 40);
  EXPECT_FALSE(doc.SetZoomMode(0));
  EXPECT_FALSE(doc.SetZoomMode(17));
}

TEST(ZarnDocument, ZoomExchangeReadsWhatThePanesShowAndWritesFactors) {
  TDocumentWindow w;
  auto& doc = w.Doc();
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_200));
  doc.m_fZoomFactor[2] = 3.0f;  // left from an earlier custom zoom
  TZoomExchange read;
  read.operation = 1;
  // Through the controller pane and through the frame alike.
  for (QObject* target :
       {static_cast<QObject*>(doc.ControllerView()), static_cast<QObject*>(w.frame.data())}) {
    read.answered = 0;
    EXPECT_EQ(pq::SendAppRecord(target, pq::WM_APP_ZOOM_SETTINGS, 0, read), 1);
    EXPECT_EQ(read.answered, 1);
    EXPECT_EQ(read.zoomMode, ZOOM_200);
    EXPECT_EQ(read.sameFactor, 1);
    for (int pane = 0; pane < 4; ++pane) EXPECT_FLOAT_EQ(read.factor[pane], 2.0f) << pane;
  }

  TZoomExchange write;
  write.operation = 2;
  write.setMode = 0;
  write.zoomMode = ZOOM_CUSTOM;
  write.sameFactor = 0;
  const float factors[4] = {0.5f, 1.5f, -1.0f, 4.0f};
  std::copy(factors, factors + 4, write.factor);
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_ZOOM_SETTINGS, 0, write);
  EXPECT_EQ(write.answered, 1);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_200);  // the mode only with set-mode
  EXPECT_FALSE(doc.m_bSameZoomFactor);
  EXPECT_FLOAT_EQ(doc.m_fZoomFactor[1], 1.5f);
  EXPECT_FLOAT_EQ(doc.m_fZoomFactor[2], 3.0f);  // a factor no pane can show is not taken
  write.setMode = 1;
  write.answered = 0;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_ZOOM_SETTINGS, 0, write);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_CUSTOM);

  TZoomExchange other;
  other.operation = 4;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_ZOOM_SETTINGS, 0, other);
  EXPECT_EQ(other.answered, 0);
}

TEST(ZarnDocument, CustomZoomDialogClampsItsPercentages) {
  TDocumentWindow w;
  auto& doc = w.Doc();
  ZoomMode::CZoomMode dialog(doc.ControllerView());
  ASSERT_TRUE(dialog.ReadSettings());
  EXPECT_TRUE(dialog.SameFactorBox()->isChecked());
  EXPECT_FALSE(dialog.PercentBox(1)->isEnabled());
  dialog.SameFactorBox()->setChecked(false);
  EXPECT_TRUE(dialog.PercentBox(1)->isEnabled());
  dialog.PercentBox(0)->setValue(5);
  dialog.PercentBox(1)->setValue(2000);
  dialog.PercentBox(2)->setValue(250);
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FLOAT_EQ(doc.m_fZoomFactor[0], 0.1f);
  EXPECT_FLOAT_EQ(doc.m_fZoomFactor[1], 10.0f);
  EXPECT_FLOAT_EQ(doc.m_fZoomFactor[2], 2.5f);
  EXPECT_FALSE(doc.m_bSameZoomFactor);

  // Ticking "Same magnification" gives every pane pane 1's value. (In
  // custom mode the dialog shows the stored factors.)
  doc.m_nZoomMode = ZOOM_CUSTOM;
  ZoomMode::CZoomMode again(doc.ControllerView());
  ASSERT_TRUE(again.ReadSettings());
  EXPECT_EQ(again.PercentBox(1)->value(), 1000);
  again.SameFactorBox()->setChecked(true);
  EXPECT_EQ(again.PercentBox(3)->value(), 10);
  again.accept();
  for (int pane = 0; pane < 4; ++pane) EXPECT_FLOAT_EQ(doc.m_fZoomFactor[pane], 0.1f) << pane;
}

TEST(ZarnDocument, CustomZoomDialogTellsWhenItsOwnerDoesNotAnswer) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  QWidget silent;
  ZoomMode::CZoomMode dialog(&silent);
  EXPECT_FALSE(dialog.ReadSettings());
  dialog.accept();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Configuration data are not available",
                                                    "Configuration data can not be set"}));
}

TEST(ZarnDocument, RotateAndReflectTurnOnlyThePrimaryChannel) {
  TDocumentWindow w;
  auto& doc = w.Doc();
  // Nothing open in channel 1: nothing happens.
  ASSERT_TRUE(RunCommand(doc, ID_TRANSFORM_ROTATE_RIGHT_90));
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_IDENTITY);

  auto primary = Quadrants(8, 4);
  auto assistant = Quadrants(8, 4);
  LoadPicture(doc, 0, primary);
  LoadPicture(doc, 1, assistant);
  w.frame->SetActiveView(&w.Pane(1));
  ASSERT_TRUE(RunCommand(doc, ID_TRANSFORM_ROTATE_RIGHT_90));
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_ROTATE_RIGHT_90);
  EXPECT_EQ(doc.m_VideoPortHub.Port(1).Orientation(), ORIENT_IDENTITY);
  auto turned = doc.m_VideoPortHub.Port(0).FrontBitmap();
  EXPECT_EQ(turned->Width(), 4);
  EXPECT_EQ(turned->Height(), 8);
  // Turned clockwise on screen: the bottom-left quadrant comes to the top left.
  EXPECT_EQ(TopLeftColour(doc, 0), 0x0000FFu);
  EXPECT_EQ(TopLeftColour(doc, 1), 0xFF0000u);

  ASSERT_TRUE(RunCommand(doc, ID_TRANSFORM_REFLECT_VERTICAL));
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_REFLECT_DIAG_MAIN);
  ASSERT_TRUE(RunCommand(doc, ID_TRANSFORM_RESET));
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_IDENTITY);
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).FrontBitmap()->Width(), 8);
  EXPECT_EQ(TopLeftColour(doc, 0), 0xFF0000u);
}

TEST(ZarnDocument, ClosingWhilePlayingAsksTheEngineToStop) {
  ZarnDoc::CZarnDoc doc;
  EXPECT_TRUE(doc.SaveModified());
  doc.m_Engine.m_bRunning = true;
  EXPECT_FALSE(doc.SaveModified());
  EXPECT_TRUE(doc.m_Engine.StopRequested());
  doc.m_Engine.m_bRunning = false;
  EXPECT_TRUE(doc.SaveModified());
}

TEST(ZarnDocument, CommandsRoutedToViewsSkipTheSender) {
  TDocumentWindow w;
  auto& doc = w.Doc();
  // Only the panes handle Copy: from pane 0 it goes to another pane, from
  // the controller to pane 0.
  pq::TCmdUI ui(ID_EDIT_COPY);
  EXPECT_TRUE(doc.RouteCmdToViews(&w.Pane(0), ID_EDIT_COPY, pq::TCmdCode::Query, &ui));
  EXPECT_FALSE(doc.RouteCmdToViews(nullptr, 12345, pq::TCmdCode::Query, &ui));
  // The controller's own command is never offered back to the controller.
  EXPECT_FALSE(doc.RouteCmdToViews(doc.ControllerView(), ID_CONTROLLER_CLOSE, pq::TCmdCode::Query, &ui));
  EXPECT_TRUE(doc.RouteCmdToViews(&w.Pane(0), ID_CONTROLLER_CLOSE, pq::TCmdCode::Query, &ui));
}

TEST(ZarnDocument, NoticesReachTheMainFrameWithTheirButtonCodeAndDocument) {
  QWidget mainWindow;
  struct TSeen {
    pq::WPARAM wParam;
    pq::TFrameNotice notice;
  };
  std::vector<TSeen> seen;
  auto* map = new pq::TMessageMap(&mainWindow);
  map->On(pq::WM_APP_FRAME_NOTIFY, [&seen](pq::WPARAM w, pq::LPARAM l) {
    if (auto* notice = pq::RecordOf<pq::TFrameNotice>(l)) seen.push_back({w, *notice});
    return pq::LRESULT{1};
  });
  shell::SetMainWindow(&mainWindow);
  {
    ZarnDoc::CZarnDoc doc;
    const std::int32_t number = doc.Number();
    ASSERT_GT(number, 0);
    const struct {
      std::function<void()> send;
      pq::WPARAM wParam;
      std::int32_t code;
      std::intptr_t document;
    } cases[] = {
        {[&] { doc.NotifyExplorer(36925); }, 10, 36925, number},
        {[&] { doc.NotifyExplorer(36928); }, 10, 36928, number},
        {[&] { doc.NotifyTabGroups(); }, 13, 36929, 0},
        {[&] { doc.NotifyOpenButton(32866); }, 2, 32866, 0},
    };
    for (const auto& c : cases) {
      seen.clear();
      c.send();
      ASSERT_EQ(seen.size(), 1u) << c.code;
      EXPECT_EQ(seen[0].wParam, c.wParam) << c.code;
      EXPECT_EQ(seen[0].notice.operation, 2) << c.code;
      EXPECT_EQ(seen[0].notice.answered, 0) << c.code;
      EXPECT_EQ(seen[0].notice.code, c.code);
      EXPECT_EQ(seen[0].notice.document, c.document) << c.code;
      EXPECT_EQ(seen[0].notice.payload, nullptr) << c.code;
    }
  }
  shell::SetMainWindow(nullptr);
}

TEST(ZarnDocument, APendingTitleGivesWayToTheComposedOneOnce) {
  TDocumentWindow w;
  auto& doc = w.Doc();
  const std::string composed = doc.DocName() + " ||||";
  doc.SetTitle("given");
  EXPECT_EQ(doc.Title(), "given");
  EXPECT_EQ(w.frame->windowTitle().toStdString(), "given");
  doc.m_bTitlePending = true;
  doc.SetTitle("given again");
  EXPECT_EQ(doc.Title(), composed);
  EXPECT_EQ(w.frame->windowTitle().toStdString(), composed);
  EXPECT_FALSE(doc.m_bTitlePending);
  doc.SetTitle("given again");
  EXPECT_EQ(doc.Title(), "given again");
}

TEST(ZarnDocument, CallbackAnswersYesOnlyToTheOneCombinationOfItsFirstSlot) {
  ZarnDoc::CZarnDoc doc;
  ZarnDoc::CCallbackZarnDoc& callback = doc.m_Callback;
  EXPECT_EQ(callback.Document(), &doc);
  const struct {
    std::int32_t a, b, c;
    bool yes;
  } cases[] = {
      {1, 1, 1, true},  {1, 1, -7, true}, {1, 1, 0, false},
      {0, 1, 1, false}, {1, 0, 1, false}, {2, 1, 1, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(callback.Callback1(c.a, c.b, c.c) != FALSE_, c.yes) << c.a << c.b << c.c;
  EXPECT_NE(callback.Callback2(0, 0, 0), FALSE_);
  EXPECT_NE(callback.Callback3(5, 6, 7), FALSE_);
}

TEST(ZarnDocumentEngine, TheSessionTakesTheDocumentsStartSettings) {
  TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  doc.ch_nDecoderCtrlPeriod = 21;
  doc.ch_nDecoderVideoOutPeriod = 22;
  doc.ch_nDecoderVideoOutDelay = 23;
  doc.ch_nDecoderRequestToStopPeriod = 1234;
  const bool process[4] = {false, true, true, false}, client[4] = {true, false, false, true};
  for (int ch = 0; ch < 4; ++ch) {
    doc.ch_bEnableProcess[ch] = process[ch];
    doc.ch_bEnableClientProcess[ch] = client[ch];
  }
  Zarn::TSessionConfig config;
  doc.EngineOwner().GetSessionConfig(config);
  EXPECT_EQ(config.nCtrlPeriod, 21);
  EXPECT_EQ(config.nVideoOutPeriod, 22);
  EXPECT_EQ(config.nVideoOutDelay, 23);
  EXPECT_EQ(config.nRequestToStopPeriod, 1234);
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(config.bProcess[ch], process[ch]) << ch;
    EXPECT_EQ(config.bClientProcess[ch], client[ch]) << ch;
  }
}

TEST(ZarnDocumentEngine, ChannelSwitchesAreTheEnginesOwnWithNoCopyToKeepInStep) {
  TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  Zarn::CZarn& engine = doc.m_Engine;
  // The defaults: channel 1 plays and replays, nothing is reversed or recorded.
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(static_cast<bool>(doc.m_bPlayEnable[ch]), ch == 0) << ch;
    EXPECT_EQ(static_cast<bool>(doc.m_bReplayEnable[ch]), ch == 0) << ch;
    EXPECT_FALSE(doc.m_bReverseReplay[ch]) << ch;
    EXPECT_FALSE(doc.m_bRecordChannel[ch]) << ch;
  }
  EXPECT_FALSE(doc.m_bRecording);
  struct TCase {
    const char* name;
    ZarnDoc::CZarnDoc::TEngineChannelFlag& document;
    std::atomic<bool> Zarn::TEngineChannel::*engine;
  };
  const TCase cases[] = {
      {"play", doc.m_bPlayEnable, &Zarn::TEngineChannel::bPlayEnable},
      {"replay", doc.m_bReplayEnable, &Zarn::TEngineChannel::bReplayEnable},
      {"reverse", doc.m_bReverseReplay, &Zarn::TEngineChannel::bReverseReplay},
      {"record", doc.m_bRecordChannel, &Zarn::TEngineChannel::bRecordChannel},
      {"streaming", doc.m_bChannelStreaming, &Zarn::TEngineChannel::bChannelStreaming},
  };
  for (const TCase& c : cases) {
    for (int ch = 0; ch < 4; ++ch) {
      // What the document sets is what the engine's threads read, at once.
      c.document[ch] = ch == 2;
      EXPECT_EQ((engine.m_Channel[ch].*c.engine).load(), ch == 2) << c.name << ' ' << ch;
      // What the engine sets is what the document shows.
      (engine.m_Channel[ch].*c.engine).store(ch != 2);
      EXPECT_EQ(static_cast<bool>(c.document[ch]), ch != 2) << c.name << ' ' << ch;
    }
  }
  doc.m_bRecording = true;
  EXPECT_TRUE(engine.m_bRecording.load());
  engine.m_bRecording.store(false);
  EXPECT_FALSE(doc.m_bRecording);
}
