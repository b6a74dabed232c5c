#include <QApplication>
#include <QFile>

#include "options/opts_general.h"
#include "shell/command_ids.h"
#include "shell/main_frame.h"
#include "tests/app/app_test_support.h"

using namespace shell;

namespace {

// A media document that opens files into itself ("Open File To").
class TOpenToDocument : public CPlaceholderDocument {
 public:
  bool OnCmdMsg(UINT id, platform::qt::TCmdCode code, platform::qt::TCmdUI* ui) override {
    if (id == ID_FILE_OPEN_TO) {
      if (code == platform::qt::TCmdCode::Command) ++openTo;
      return code != platform::qt::TCmdCode::Update;
    }
    return CPlaceholderDocument::OnCmdMsg(id, code, ui);
  }
  static inline int openTo = 0;
};

}  // namespace

TEST_F(TAppTest, FileNewFileOpenAndCloseAll) {
  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  MainFrame::CMainFrame* frame = app->MainFrameWindow();
  auto* router = frame->Router();
  ASSERT_TRUE(router->Execute(ID_FILE_NEW));
  ASSERT_TRUE(router->Execute(ID_WINDOW_NEW));
  ASSERT_EQ(frame->ChildFrames().size(), 3u);
  EXPECT_EQ(frame->ActiveDocument()->Title(), "DM3 ||||");

  // File Open with a document that cannot open into itself asks for a file;
  // a file the document cannot open is reported and its window goes again.
  fileToOpen = (dir / "clip.avi").string();
  ASSERT_TRUE(router->Execute(ID_FILE_OPEN));
  EXPECT_EQ(askedForFile, 1);
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Can not open file\n " + fileToOpen});
  EXPECT_EQ(frame->ChildFrames().size(), 3u);
  EXPECT_TRUE(app->RecentFiles().empty());
  // Cancelled: nothing happens.
  fileToOpen.clear();
  router->Execute(ID_FILE_OPEN);
  EXPECT_EQ(frame->ChildFrames().size(), 3u);

  EXPECT_TRUE(router->Update(ID_WINDOW_CLOSE_ALL).Enabled());
  ASSERT_TRUE(router->Execute(ID_WINDOW_CLOSE_ALL));
  QApplication::processEvents();
  EXPECT_TRUE(frame->ChildFrames().empty());
  EXPECT_FALSE(router->Update(ID_WINDOW_CLOSE_ALL).Enabled());
  // Every document left the registry.
  for (const TDocRegistryEntry& e : app->DocumentRegistry()) EXPECT_EQ(e.number, -1);
  app->ExitInstance();
}

TEST_F(TAppTest, FileOpenGoesToTheActiveDocumentWhenItOpensFilesItself) {
  auto app = MakeApp();
  app->SetDocumentFactory([](QWidget*) -> IChildFrame* { return new TOpenToDocument; });
  ASSERT_TRUE(app->InitInstance());
  TOpenToDocument::openTo = 0;
  app->MainFrameWindow()->Router()->Execute(ID_FILE_OPEN);
  EXPECT_EQ(TOpenToDocument::openTo, 1);
  EXPECT_EQ(askedForFile, 0);
  app->ExitInstance();
}

TEST_F(TAppTest, HelpOpensTheBundledPageInTheBrowser) {
  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  ASSERT_TRUE(app->MainFrameWindow()->Router()->Execute(ID_HELP));
  ASSERT_EQ(openedUrls.size(), 1u);
  ASSERT_TRUE(openedUrls[0].isLocalFile());
  EXPECT_EQ(openedUrls[0].toLocalFile().toStdString().rfind(dir.Path().string(), 0), 0u);
  QFile page(openedUrls[0].toLocalFile());
  ASSERT_TRUE(page.open(QIODevice::ReadOnly));
  EXPECT_TRUE(page.readAll().contains("<title>Tovrin Help</title>"));
  EXPECT_TRUE(sink.Texts().empty());
  // The address the General page and the about box give is this page.
  EXPECT_EQ(OptsGeneral::GeneralText().split("\n\n").last(), openedUrls[0].toString());

  urlOpens = false;
  app->OnAppHelp();
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0].rfind("The help page can not be opened.", 0), 0u);
  app->ExitInstance();
}

TEST_F(TAppTest, TheDocumentRegistryNumbersDocumentsAndCompactsAfter128Frees) {
  CTovrinApp app;
  std::vector<std::int32_t> numbers;
  for (int i = 0; i < 200; ++i) {
    std::int32_t n = 0, s = 0;
    app.RegisterDocument(nullptr, n, s);
    EXPECT_EQ(n, i + 1);
    EXPECT_EQ(s, i + 1);
    numbers.push_back(n);
  }
  // Free every odd number: 100 frees, no compaction yet.
  for (std::int32_t n : numbers)
    if (n % 2) app.UnregisterDocument(n);
  app.UnregisterDocument(9999);  // unknown: nothing
  EXPECT_EQ(app.FreedEntryCount(), 100);
  std::int32_t n = 0, s = 0;
  app.RegisterDocument(nullptr, n, s);
  EXPECT_EQ(app.DocumentRegistry().size(), 201u);
  EXPECT_EQ(app.DocumentRegistry()[0].number, -1) << "not compacted below 128 frees";
  // 28 more frees make 128: still nothing; the 129th triggers it.
  for (std::int32_t k = 2; k <= 58; k += 2) app.UnregisterDocument(k);
  EXPECT_EQ(app.FreedEntryCount(), 129);
  app.RegisterDocument(nullptr, n, s);
  EXPECT_EQ(n, 202);
  const auto& reg = app.DocumentRegistry();
  ASSERT_EQ(reg.size(), 202u);
  EXPECT_EQ(app.FreedEntryCount(), 0);
  // Live entries first, in creation order, then free ones, then the new one.
  std::vector<std::int32_t> live;
  for (const auto& e : reg)
    if (e.number != -1) live.push_back(e.number);
  std::vector<std::int32_t> want;
  for (std::int32_t k = 60; k <= 200; k += 2) want.push_back(k);
  want.push_back(201);
  want.push_back(202);
  EXPECT_EQ(live, want);
  for (std::size_t i = 0; i + 1 < want.size(); ++i) EXPECT_EQ(reg[i].number, want[i]);
  EXPECT_EQ(reg.back().number, 202);
  EXPECT_EQ(reg[want.size() - 1].number, -1);
}
