// The "Media document" and "General" pages against an owner holding four
// distinct channels.
#include "options/opts_media_document.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/device_kinds.h"
#include "media/file_types.h"
#include "options/channel_radios.h"
#include "options/opts_general.h"
#include "options/opts_tree.h"
#include "options/zarn_options.h"
#include "platform/qt/app_messages.h"
#include "tests/options/layout_check.h"
#include "tests/support/message_fixture.h"

using namespace OptsMediaDocument;
using namespace ZarnTypes;
namespace pq = platform::qt;

namespace {

// An owner with four channels: a PNG still, a DVD, a closed channel and an
// AVI; it answers reads, writes and the DVD's more-info request.
class TDocumentOwner : public QWidget {
 public:
  TDocumentOwner() : m_map(new pq::TMessageMap(this)) {
    sources[0].bOpen = TRUE_;
    sources[0].eStreamType = ST_PNG;
    sources[0].sPath = "/pictures/still.png";
    sources[0].sDisplayPath = "still.png";
    sources[0].nPictureCount = 1;
    sources[0].nWidth = 64;
    sources[0].nHeight = 48;
    formats[0].eStreamType = ST_PNG;
    const std::int32_t png[3] = {6, 8, 1};
    std::memcpy(formats[0].params, png, sizeof png);
    sources[1].bOpen = TRUE_;
    sources[1].eStreamType = ST_SYSTEM_DEVICE;
    sources[1].sDisplayName = "DVD drive";
    sources[1].sPath = "/dev/sr0";
    sources[1].nDeviceCategory = SDC_DVD;
    sources[1].nDeviceKind = SDC_DVD;
    sources[1].nPictureCount = 1;
    sources[3].bOpen = TRUE_;
    sources[3].eStreamType = ST_AVI;
    sources[3].sPath = "/clips/a.avi";
    sources[3].sDisplayPath = "a.avi";
    formats[3].eStreamType = ST_AVI;
    const double avi[2] = {0.04, 2.0};
    std::memcpy(formats[3].params, avi, sizeof avi);
    m_map->On(pq::WM_APP_OPTS_CATEGORY, [this](pq::WPARAM w, pq::LPARAM l) -> pq::LRESULT {
      auto* block = OptsBlockOf<TMediaDocumentExchange>(l);
      ops.push_back(block->header.op);
      if (w != OPTTOPIC_MEDIA_DOCUMENT || !answer) return 0;
      if (block->header.op == OPTS_XCHG_READ) {
        block->identifier = &identifier;
        block->title = &title;
        for (int ch = 0; ch < 4; ++ch) {
          block->sources[ch] = &sources[ch];
          block->formats[ch] = &formats[ch];
        }
      } else if (block->header.op == OPTS_XCHG_APPLY) {
        requests.push_back(*block->request);
        if (!answerMore) return 0;
        *block->request->text = moreText;
      } else if (block->header.op != OPTS_XCHG_WRITE) {
        return 0;
      }
      block->header.answered = 1;
      return 1;
    });
  }

  std::string identifier = "DM4";
  std::string title = "still.png";
  TMediaSource sources[4];
  TStreamFormat formats[4];
  bool answer = true;
  bool answerMore = true;
  std::string moreText = "\r\nTitle count:\t3";
  std::vector<std::int32_t> ops;
  std::vector<TMediaInfoRequest> requests;

 private:
  pq::TMessageMap* m_map;
};

class MediaDocumentPage : public tovrin_test::TRecordedMessagesTest {
 protected:
  TDocumentOwner owner;
};

std::string Text(const QPlainTextEdit* edit) { return edit->toPlainText().toStdString(); }

}  // namespace

TEST_F(MediaDocumentPage, ShowsEachChannelAndSendsNothingOnOk) {
  COptsMediaDocument page;
  page.SetOwner(&owner);
  page.Initialize();
  ASSERT_TRUE(page.InitResult());
  EXPECT_TRUE(page.Selector()->Radio(0)->isChecked());
  EXPECT_EQ(Text(page.DocumentEdit()), "Type:\tMedia document\nID:\tDM4\nTitle:\tstill.png");
  EXPECT_EQ(Text(page.ChannelEdit()),
            "Media source type:\tPNG - Portable Network "
            "Graphics\nTitle:\t\tstill.png\nPath:\t\t/pictures/still.png\n"
            "Width, Height:\t64 x 48\n\nColor space:\tRGB+A\nBits per "
            "color:\t32\nPlanes:\t\t1\nInterlacing:\tAdam7");
  EXPECT_FALSE(page.OptionsButton()->isEnabled());
  EXPECT_FALSE(page.MoreInfoButton()->isEnabled());

  page.Selector()->Radio(3)->click();
  EXPECT_EQ(page.CurrentChannel(), 3);
  EXPECT_EQ(Text(page.ChannelEdit()),
            "Media source type:\tAVI - Audio Video Interlived\nTitle:\t\ta.avi\nPath:\t\t/clips/a.avi\n"
            "\nFrame rate:\t25.000 frames/second\nDuration:\t\t2.000 seconds");
  page.Selector()->Radio(2)->click();
  EXPECT_EQ(Text(page.ChannelEdit()), "Media source type:\tNull stream\nTitle:\t\t\nPath:\t\t\n");
  page.Selector()->Radio(1)->click();
  EXPECT_TRUE(page.MoreInfoButton()->isEnabled());
  EXPECT_FALSE(page.OptionsButton()->isEnabled());

  page.OnOK();
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(MediaDocumentPage, MoreInfoIsKeptPerChannelAndReportedWhenUnanswered) {
  COptsMediaDocument page;
  page.SetOwner(&owner);
  page.Initialize();
  page.Selector()->Radio(1)->click();
  const std::string before = Text(page.ChannelEdit());
  page.MoreInfoButton()->click();
  ASSERT_EQ(owner.requests.size(), 1u);
  const TMediaInfoRequest& r = owner.requests[0];
  EXPECT_EQ(r.channel, 1);
  EXPECT_EQ(r.streamType, ST_SYSTEM_DEVICE);
  EXPECT_EQ(r.deviceCategory, SDC_DVD);
  EXPECT_EQ(r.deviceKind, SDC_DVD);
  EXPECT_EQ(Text(page.ChannelEdit()), before + "\nTitle count:\t3");
  // Switching away and back keeps it.
  page.Selector()->Radio(0)->click();
  EXPECT_EQ(Text(page.ChannelEdit()).find("Title count"), std::string::npos);
  page.Selector()->Radio(1)->click();
  EXPECT_EQ(Text(page.ChannelEdit()), before + "\nTitle count:\t3");
  EXPECT_EQ(page.MoreInfoText(1), "\r\nTitle count:\t3");

  owner.answerMore = false;
  owner.moreText = "never shown";
  page.MoreInfoButton()->click();
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Data is not available."}));
  EXPECT_EQ(Text(page.ChannelEdit()), before + "\nTitle count:\t3");

  // A new page starts without the text.
  COptsMediaDocument again;
  again.SetOwner(&owner);
  again.Initialize();
  again.Selector()->Radio(1)->click();
  EXPECT_EQ(Text(again.ChannelEdit()), before);
}

TEST_F(MediaDocumentPage, UnansweredReadShowsItsTextAndNoChannel) {
  owner.answer = false;
  COptsMediaDocument page;
  page.SetOwner(&owner);
  page.Initialize();
  EXPECT_FALSE(page.InitResult());
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Configuration data for channels is not available"}));
  EXPECT_TRUE(Text(page.ChannelEdit()).empty());
  page.Selector()->Radio(1)->click();
  EXPECT_TRUE(Text(page.ChannelEdit()).empty());
  page.OnMoreInfo();
  EXPECT_TRUE(owner.requests.empty());
}

TEST_F(MediaDocumentPage, ReadOnlyDisablesThePageAndGeneralToo) {
  ZarnOptions::CZarnOptions sheet("Options (Read only)", &owner, OPTCAT_DOCUMENT);
  sheet.SetReadOnly(true);
  sheet.OnInitDialog();
  ASSERT_NE(sheet.Page(OptsPage::PAGE_MEDIA_DOCUMENT), nullptr);
  EXPECT_EQ(sheet.ActivePage(), sheet.Page(OptsPage::PAGE_MEDIA_DOCUMENT));
  EXPECT_FALSE(sheet.ActivePage()->isEnabled());
  sheet.SetActivePage(0);
  EXPECT_FALSE(sheet.Page(OptsPage::PAGE_GENERAL)->isEnabled());
  sheet.AcceptSheet();
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
}

TEST_F(MediaDocumentPage, ChannelTextShowsEveryLineWithoutScrolling) {
  // The longest channel text (a raw YUV layout) fits the page as laid out.
  owner.sources[2].bOpen = TRUE_;
  owner.sources[2].eStreamType = TStreamType{94};
  owner.sources[2].sPath = "/clips/a_long_folder_name/and_a_longer_file_name_320x240.yuv";
  owner.formats[2].eStreamType = TStreamType{94};
  const std::int32_t yuv[12] = {92, 320, 240, 320, 240, 76800, 19200, 3, 4, 7, 4, 5};
  std::memcpy(owner.formats[2].params, yuv, sizeof yuv);
  ZarnOptions::CZarnOptions sheet("Document properties", &owner, OPTCAT_MEDIA_DOCUMENT);
  sheet.OnInitDialog();
  sheet.show();
  sheet.resize(sheet.sizeHint());
  QApplication::processEvents();
  auto* page = dynamic_cast<COptsMediaDocument*>(sheet.ActivePage());
  ASSERT_NE(page, nullptr);
  page->Selector()->Radio(2)->click();
  QApplication::processEvents();
  EXPECT_NE(Text(page->ChannelEdit()).find("Planes:\t\t\t3"), std::string::npos);
  EXPECT_FALSE(page->ChannelEdit()->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(page->ChannelEdit()->verticalScrollBar()->isVisible());
  EXPECT_FALSE(page->DocumentEdit()->horizontalScrollBar()->isVisible());
}

TEST(GeneralPage, SixPartsJoinedByABlankLine) {
  OptsGeneral::COptsGeneral page;
  page.Initialize();
  const QStringList parts = page.Text().split("\n\n");
  ASSERT_EQ(parts.size(), 6);
  EXPECT_EQ(parts[0].toStdString(), "Tovrin");
  EXPECT_FALSE(parts[1].isEmpty());
  EXPECT_TRUE(QRegularExpression("^Version \\d+\\.\\d+\\.\\d+, \\S.*$").match(parts[2]).hasMatch())
      << parts[2].toStdString();
  EXPECT_TRUE(parts[2].contains(OptsGeneral::ProductVersion()));
  EXPECT_EQ(parts[4].toStdString(), "Halvane");
  // The program's address is its help page in the user's cache folder.
  const QUrl address(parts[5]);
  EXPECT_TRUE(address.isLocalFile()) << parts[5].toStdString();
  EXPECT_TRUE(parts[5].endsWith("/help/tovrin.html")) << parts[5].toStdString();
  EXPECT_TRUE(
      address.toLocalFile().startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)))
      << parts[5].toStdString();
  EXPECT_EQ(page.TextLabel()->text(), page.Text());
  EXPECT_TRUE(page.isEnabled());
  EXPECT_EQ(page.Owner(), nullptr);
}

// ---------------------------------------------------------------------------
// Layout of the sheets as shown

namespace {

// Shows a sheet at its size hint and walks each of its pages.
template <class TSheet>
std::vector<std::string> ShownSheetProblems(TSheet& sheet, int pages) {
  sheet.OnInitDialog();
  sheet.show();
  sheet.resize(sheet.sizeHint());
  QApplication::processEvents();
  std::vector<std::string> problems;
  for (int i = 0; i < pages; ++i) {
    sheet.SetActivePage(i);
    QApplication::processEvents();
    for (const std::string& p : tovrin_test::TextsThatDoNotFit(&sheet))
      problems.push_back("page " + std::to_string(i) + ": " + p);
  }
  return problems;
}

}  // namespace

TEST_F(MediaDocumentPage, EveryTextOfTheSheetsIsWhole) {
  owner.sources[2].bOpen = TRUE_;
  owner.sources[2].eStreamType = TStreamType{94};
  owner.sources[2].sPath = "/clips/a_long_folder_name/and_a_longer_file_name_320x240.yuv";
  owner.formats[2].eStreamType = TStreamType{94};
  const std::int32_t yuv[12] = {92, 320, 240, 320, 240, 76800, 19200, 3, 4, 7, 4, 5};
  std::memcpy(owner.formats[2].params, yuv, sizeof yuv);
  {
    ZarnOptions::CZarnOptions sheet("Options", &owner, OPTCAT_DOCUMENT);
    const int pages = static_cast<int>(sheet.Pages().size());
    EXPECT_EQ(ShownSheetProblems(sheet, pages), std::vector<std::string>{});
  }
  {
    ZarnOptions::CZarnOptions sheet("Document properties", &owner, OPTCAT_MEDIA_DOCUMENT);
    sheet.OnInitDialog();
    sheet.show();
    sheet.resize(sheet.sizeHint());
    auto* page = dynamic_cast<COptsMediaDocument*>(sheet.ActivePage());
    ASSERT_NE(page, nullptr);
    for (int ch = 0; ch < 4; ++ch) {
      page->Selector()->Radio(ch)->click();
      QApplication::processEvents();
      EXPECT_EQ(tovrin_test::TextsThatDoNotFit(&sheet), std::vector<std::string>{}) << ch;
    }
  }
  {
    OptsTree::COptsTree sheet("Options", &owner);
    EXPECT_EQ(ShownSheetProblems(sheet, sheet.PageCount()), std::vector<std::string>{});
  }
}

// The check itself finds a cut label, a cut tree item and a scroll bar.
TEST(LayoutCheck, FindsCutTextsAndScrollBars) {
  QWidget w;
  auto* label = new QLabel("A label far too long for its room", &w);
  label->setGeometry(0, 0, 40, 20);
  auto* tree = new QTreeWidget(&w);
  tree->setHeaderHidden(true);
  new QTreeWidgetItem(tree, QStringList{"An item much wider than its tree"});
  tree->setGeometry(0, 30, 60, 40);
  auto* text = new QPlainTextEdit(&w);
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setPlainText(QString(200, 'x'));
  text->setGeometry(0, 80, 60, 60);
  auto* combo = new QComboBox(&w);
  combo->addItem("YCbCr 420 ITU709 8bit 16-235-240 Center (.yuv)");
  combo->setGeometry(0, 150, 79, 24);
  w.resize(200, 200);
  w.show();
  QApplication::processEvents();
  const std::vector<std::string> problems = tovrin_test::TextsThatDoNotFit(&w);
  auto has = [&](const std::string& part) {
    for (const std::string& p : problems)
      if (p.find(part) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(has("QLabel: \"A label far too long for its room\" cut"));
  EXPECT_TRUE(has("QTreeWidget: item \"An item much wider than its tree\" cut"));
  EXPECT_TRUE(has("QPlainTextEdit: scroll bar"));
  EXPECT_TRUE(has("QComboBox: item \"YCbCr 420 ITU709 8bit 16-235-240 Center (.yuv)\" cut when closed"));
  EXPECT_FALSE(has("QWidget"));
}
