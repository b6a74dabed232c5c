// "Open File To" through the document manager's extended dialog.
#include <QComboBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "options/opts_file_format.h"
#include "platform/qt/app_messages.h"
#include "shell/command_ids.h"
#include "shell/doc_manager.h"
#include "shell/file_dialog_ex.h"
#include "tests/document/document_fixture.h"
#include "tests/document/open_fixture.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using open_test::TRgbPicture;

namespace {

class OpenToDialogTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  OpenToDialogTest() { DocManagerEx::SetTheDocManager(&manager); }
  ~OpenToDialogTest() override { DocManagerEx::SetTheDocManager(nullptr); }

  // A runner that picks a file and the channel entry with the given data.
  void Answer(const std::string& path, int channel,
              std::function<void(FileDialogEx::CFileDialogEx&)> before = {}) {
    manager.SetDialogRunner([=](FileDialogEx::CFileDialogEx& dialog) {
      if (before) before(dialog);
      dialog.UpdateFileInfo(QString::fromStdString(path));
      const int index = dialog.ChannelList()->findData(channel);
      EXPECT_GE(index, 0) << "channel " << channel << " not offered";
      dialog.ChannelList()->setCurrentIndex(index);
      dialog.OnChannelChosen(index);
      dialog.selectFile(QString::fromStdString(path));
      dialog.accept();
      return dialog.result();
    });
  }

  open_test::TSettingsApplication app;
  DocManagerEx::CDocManagerEx manager;
};

// The frame notices the main window receives: (wParam, code, document).
class TNoticeLog {
 public:
  TNoticeLog() {
    auto* map = new platform::qt::TMessageMap(&m_Window);
    map->On(platform::qt::WM_APP_FRAME_NOTIFY, [this](platform::qt::WPARAM w, platform::qt::LPARAM l) {
      if (auto* notice = platform::qt::RecordOf<platform::qt::TFrameNotice>(l))
        notices.push_back({static_cast<int>(w), notice->code, notice->document});
      return platform::qt::LRESULT{1};
    });
    shell::SetMainWindow(&m_Window);
  }
  ~TNoticeLog() { shell::SetMainWindow(nullptr); }
  int Count(int wParam, int code, int document = -1) const {
    int n = 0;
    for (const auto& [w, c, d] : notices)
      if (w == wParam && c == code && (document < 0 || d == document)) ++n;
    return n;
  }
  std::vector<std::tuple<int, int, int>> notices;

 private:
  QWidget m_Window;
};

// Full-range BT.601, written out here independently.
std::uint32_t Bt601Full(int y, int cb, int cr) {
  auto c = [](double v) {
    return static_cast<std::uint32_t>(std::clamp(static_cast<int>(std::lround(v)), 0, 255));
  };
  return c(y + 1.402 * (cr - 128)) << 16 | c(y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128)) << 8 |
         c(y + 1.772 * (cb - 128));
}

}  // namespace

TEST_F(OpenToDialogTest, OpeningIntoChannelThreeOfTheSecondDocumentTouchesNothingElse) {
  ZarnDoc::CZarnDoc first, second;
  open_test::PreparePorts(first);
  open_test::PreparePorts(second);
  const std::string base = Path("base.png"), picture = Path("picture.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(5, 3)).save(QString::fromStdString(base), "PNG"));
  const TRgbPicture pattern = open_test::Pattern(7, 4);
  ASSERT_TRUE(open_test::ToImage(pattern).save(QString::fromStdString(picture), "PNG"));
  ASSERT_TRUE(second.OpenSource(base, 0));  // channels 2..4 are offered once channel 1 has a source

  Answer(picture, 2);
  second.OnFileOpenTo();

  EXPECT_TRUE(second.m_Source[2].bOpen);
  EXPECT_EQ(second.m_Source[2].sPath, picture);
  EXPECT_EQ(open_test::MaxDifference(open_test::PortPicture(second, 2), pattern), 0);
  EXPECT_EQ(second.m_Source[0].sPath, base);
  EXPECT_FALSE(second.m_Source[1].bOpen);
  EXPECT_FALSE(second.m_Source[3].bOpen);
  for (int c = 0; c < 4; ++c) EXPECT_FALSE(first.m_Source[c].bOpen) << c;
  EXPECT_FALSE(manager.Settings().extended);  // cleared after the request
  EXPECT_EQ(manager.Settings().channel, 2);
  EXPECT_EQ(app.recent, (std::vector<std::string>{picture}));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(OpenToDialogTest, RawYuvLayoutAndSizeFromTheYuvPageShowTheRightPixels) {
  ZarnDoc::CZarnDoc document;
  open_test::PreparePorts(document);
  // 4 x 2, 4:4:4 BT.601 full range (layout 53): Y, Cb, Cr planes.
  const int ys[8] = {0, 40, 80, 120, 160, 200, 240, 255};
  const int cbs[8] = {128, 90, 200, 30, 128, 250, 10, 128};
  const int crs[8] = {128, 220, 60, 140, 20, 128, 240, 128};
  std::string bytes;
  for (const int* plane : {ys, cbs, crs})
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(plane[i]));
  const std::string path = Path("frame.yuv");
  tovrin_test::WriteAll(path, bytes);

  Answer(path, 0, [&](FileDialogEx::CFileDialogEx& dialog) {
    // What OK on the YUV page hands the dialog.
    TYuvFormatExchange block{};
    block.format = 53;
    block.width = 4;
    block.height = 2;
    block.singleImage = 1;
    EXPECT_TRUE(SendOptsBlock(&dialog, platform::qt::WM_APP_OPTS_YUV, 0, block, OPTS_XCHG_WRITE));
    EXPECT_TRUE(dialog.SelectFilterByFormat(53));
  });
  document.OnFileOpenTo();

  ASSERT_TRUE(document.m_Source[0].bOpen) << (sink.Texts().empty() ? "" : sink.Texts().front());
  const TRgbPicture shown = open_test::PortPicture(document, 0);
  ASSERT_EQ(shown.width, 4);
  ASSERT_EQ(shown.height, 2);
  for (int i = 0; i < 8; ++i) {
    const std::uint32_t want = Bt601Full(ys[i], cbs[i], crs[i]);
    const std::uint32_t got = shown.At(i % 4, i / 4);
    for (int shift : {0, 8, 16})
      EXPECT_LE(std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF)),
                2)
          << i << std::hex << " got " << got << " want " << want;
  }
  // The document remembers the layout for its next prompt.
  EXPECT_EQ(document.m_YuvOpen.nFormat, 53);
  EXPECT_EQ(document.m_YuvOpen.nWidth, 4);
  EXPECT_EQ(document.m_YuvOpen.nHeight, 2);
  EXPECT_EQ(document.m_YuvOpen.nMode, 53 - 16);  // the filter chosen
}

TEST_F(OpenToDialogTest, NewDocumentDestinationGoesToTheOpenerAndCancelOpensNothing) {
  ZarnDoc::CZarnDoc document;
  open_test::PreparePorts(document);
  const std::string picture = Path("p.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(3, 3)).save(QString::fromStdString(picture), "PNG"));
  std::vector<std::string> opened;
  std::int32_t destinationSeen = -1;
  manager.SetOpener([&](const std::string& p) {
    opened.push_back(p);
    destinationSeen = manager.Settings().destination;
    return true;
  });
  Answer(picture, 0, [](FileDialogEx::CFileDialogEx& dialog) {
    dialog.DestinationList()->setCurrentIndex(0);
    dialog.OnDestinationChosen(0);  // "New document"
  });
  document.OnFileOpenTo();
  EXPECT_EQ(opened, (std::vector<std::string>{picture}));
  EXPECT_EQ(destinationSeen, 0);
  EXPECT_FALSE(document.m_Source[0].bOpen);

  manager.SetDialogRunner([](FileDialogEx::CFileDialogEx& dialog) {
    dialog.reject();
    return dialog.result();
  });
  document.OnFileOpenTo();
  EXPECT_EQ(opened.size(), 1u);
  EXPECT_FALSE(document.m_Source[0].bOpen);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(OpenToDialogTest, ANewDocumentTakesTheRawYuvLayoutFromThePromptAndTheActiveOneKeepsItsOwn) {
  ZarnDoc::CZarnDoc document, target;
  open_test::PreparePorts(document);
  open_test::PreparePorts(target);
  const ZarnTypes::TYuvOpenSettings before = document.m_YuvOpen;
  const std::string picture = Path("n.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(3, 2)).save(QString::fromStdString(picture), "PNG"));
  manager.SetOpener([&](const std::string& p) { return target.OnOpenDocument(p); });
  Answer(picture, 0, [](FileDialogEx::CFileDialogEx& dialog) {
    TYuvFormatExchange block{};
    block.format = 53;
    block.width = 4;
    block.height = 2;
    EXPECT_TRUE(SendOptsBlock(&dialog, platform::qt::WM_APP_OPTS_YUV, 0, block, OPTS_XCHG_WRITE));
    dialog.DestinationList()->setCurrentIndex(0);
    dialog.OnDestinationChosen(0);  // "New document"
  });
  document.OnFileOpenTo();

  ASSERT_TRUE(target.m_Source[0].bOpen);
  EXPECT_EQ(target.m_YuvOpen.nFormat, 53);
  EXPECT_EQ(target.m_YuvOpen.nWidth, 4);
  EXPECT_EQ(target.m_YuvOpen.nHeight, 2);
  EXPECT_FALSE(document.m_Source[0].bOpen);
  EXPECT_EQ(document.m_YuvOpen.nFormat, before.nFormat);
  EXPECT_EQ(document.m_YuvOpen.nWidth, before.nWidth);
  EXPECT_EQ(document.m_YuvOpen.nHeight, before.nHeight);
  EXPECT_EQ(document.m_YuvOpen.nMode, before.nMode);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(OpenToDialogTest, ANewDocumentShowsItsSourceAndTheOpenButtonAndOneThatFailsGoesAgain) {
  ZarnDoc::CZarnDoc document;
  open_test::PreparePorts(document);
  const std::string picture = Path("new.png"), bad = Path("bad.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(5, 4)).save(QString::fromStdString(picture), "PNG"));
  tovrin_test::WriteAll(bad, std::string("not a picture"));
  // As the application opens a file in a new document: a document that
  // cannot open its file is dropped again.
  std::unique_ptr<ZarnDoc::CZarnDoc> opened;
  int made = 0;
  manager.SetOpener([&](const std::string& p) {
    auto target = std::make_unique<ZarnDoc::CZarnDoc>();
    ++made;
    EXPECT_TRUE(target->m_VideoPortHub.ResetAll());
    if (!target->OnOpenDocument(p)) return false;
    app.AddToRecentFileList(p);
    opened = std::move(target);
    return true;
  });
  auto newDocument = [](FileDialogEx::CFileDialogEx& dialog) {
    dialog.DestinationList()->setCurrentIndex(0);
    dialog.OnDestinationChosen(0);
  };
  const int explorer = platform::qt::FRAME_NOTIFY_EXPLORER;
  const int update = platform::qt::FRAME_REQ_EXPLORER_UPDATE_DOC;
  const int openButton = platform::qt::FRAME_NOTIFY_OPEN_BUTTON;
  const int fileOpen = static_cast<int>(shell::ID_FILE_OPEN);

  TNoticeLog log;
  Answer(picture, 0, newDocument);
  document.OnFileOpenTo();
  ASSERT_TRUE(opened);
  EXPECT_TRUE(opened->m_Source[0].bOpen);
  EXPECT_EQ(log.Count(explorer, update, opened->Number()), 1);
  EXPECT_EQ(log.Count(explorer, update, document.Number()), 0);  // this document did not change
  EXPECT_EQ(log.Count(openButton, fileOpen), 1);
  EXPECT_EQ(app.recent, (std::vector<std::string>{picture}));
  EXPECT_TRUE(sink.Texts().empty());

  // A file the new document cannot open: one message, no notice of an
  // open, nothing remembered, and no document left behind.
  opened.reset();
  log.notices.clear();
  Answer(bad, 0, newDocument);
  document.OnFileOpenTo();
  EXPECT_EQ(made, 2);
  EXPECT_FALSE(opened);
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0].rfind("Can not open file\n " + bad, 0), 0u);
  EXPECT_EQ(log.Count(explorer, update), 0);
  EXPECT_EQ(log.Count(openButton, fileOpen), 0);
  EXPECT_EQ(app.recent, (std::vector<std::string>{picture}));
  EXPECT_FALSE(document.m_Source[0].bOpen);
}

TEST_F(OpenToDialogTest, OnlyAnOpenThatSucceedsKeepsThePromptsRawYuvLayout) {
  const std::string good = Path("good.png"), bad = Path("bad.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(3, 3)).save(QString::fromStdString(good), "PNG"));
  tovrin_test::WriteAll(bad, std::string("not a picture"));
  for (const bool opens : {false, true}) {
    SCOPED_TRACE(opens ? "a file that opens" : "a file that fails");
    sink.Clear();
    ZarnDoc::CZarnDoc document;
    open_test::PreparePorts(document);
    const TYuvOpenSettings before = document.m_YuvOpen;
    Answer(opens ? good : bad, 0, [](FileDialogEx::CFileDialogEx& dialog) {
      TYuvFormatExchange block{};
      block.format = 53;
      block.width = 4;
      block.height = 2;
      block.singleImage = 1;
      EXPECT_TRUE(SendOptsBlock(&dialog, platform::qt::WM_APP_OPTS_YUV, 0, block, OPTS_XCHG_WRITE));
      EXPECT_TRUE(dialog.SelectFilterByFormat(53));
    });
    document.OnFileOpenTo();
    EXPECT_EQ(static_cast<bool>(document.m_Source[0].bOpen), opens);
    const TYuvOpenSettings& after = document.m_YuvOpen;
    const TYuvOpenSettings want = opens ? TYuvOpenSettings{53 - 16, 53, true, 4, 2} : before;
    EXPECT_EQ(after.nMode, want.nMode);
    EXPECT_EQ(after.nFormat, want.nFormat);
    EXPECT_EQ(after.bSingleImage, want.bSingleImage);
    EXPECT_EQ(after.nWidth, want.nWidth);
    EXPECT_EQ(after.nHeight, want.nHeight);
    EXPECT_EQ(sink.Texts().size(), opens ? 0u : 1u);
  }
}
