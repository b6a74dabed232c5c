// A raw YUV file that is not a whole number of frames of the layout it is
// opened with is never shown as if it were: the open asks for the layout
// with the YUV page (answered here by a script), opens the file with the
// layout chosen, and refuses it on Cancel with one message that names the
// file, the layout and why.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "open_fixture.h"
#include "options/opts_file_format.h"
#include "options/opts_page.h"
#include "options/zarn_options.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using open_test::PortPicture;

namespace {

// The remembered layout of a new document (BT.601 4:2:0, 16-235-240) and a
// 4:4:4 one.
const std::int32_t k420 = TYuvOpenSettings{}.nFormat;
const std::int32_t k444 = ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_444, YUV_RANGE_16_235_240);

// One answer of the YUV page: a layout and size, or Cancel.
struct TAnswer {
  bool accept = false;
  std::int32_t format = 0;
  int width = 0;
  int height = 0;
};

// What the page showed when it was asked.
struct TAsked {
  std::string reason;  // the text above the page
  std::int32_t format = 0;
  int width = 0;
  int height = 0;
};

// Answers each layout prompt with the next answer; a prompt beyond the
// answers is cancelled (and recorded), so no test can wait on one.
class TYuvPromptScript {
 public:
  explicit TYuvPromptScript(std::vector<TAnswer> answers) : m_Answers(std::move(answers)) {
    QObject::connect(&m_Timer, &QTimer::timeout, [this] { Poll(); });
    m_Timer.start(5);
  }
  std::vector<TAsked> asked;

 private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* sheet = qobject_cast<ZarnOptions::CZarnOptions*>(w);
      if (!sheet || !sheet->isVisible() || sheet->objectName() != "YuvLayoutPrompt") continue;
      auto* page = static_cast<OptsFileFormat::COptsFileFormat*>(sheet->Page(OptsPage::PAGE_YUV));
      ASSERT_NE(page, nullptr);
      TAsked seen;
      if (auto* reason = sheet->findChild<QLabel*>("reason")) seen.reason = reason->text().toStdString();
      seen.format = page->SelectedCode();
      seen.width = page->Width();
      seen.height = page->Height();
      asked.push_back(seen);
      const std::size_t i = asked.size() - 1;
      if (i >= m_Answers.size() || !m_Answers[i].accept) {
        sheet->reject();
        continue;
      }
      const TAnswer& a = m_Answers[i];
      EXPECT_TRUE(page->SelectCode(a.format));
      page->ChooseResolution(OptsFileFormat::kPresetCustom);
      page->WidthEdit()->setText(QString::number(a.width));
      page->HeightEdit()->setText(QString::number(a.height));
      sheet->AcceptSheet();
    }
  }

  std::vector<TAnswer> m_Answers;
  QTimer m_Timer;
};

// A frame of one flat colour per half (top, bottom) in a planar layout:
// Y, Cb and Cr of each half.
std::vector<std::uint8_t> TwoToneFrame(int width, int height, int chromaDivisor, const std::uint8_t top[3],
                                       const std::uint8_t bottom[3]) {
  const int cw = chromaDivisor == 1 ? width : (width + 1) / 2;
  const int ch = chromaDivisor == 4 ? (height + 1) / 2 : height;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(width) * height + 2u * cw * ch);
  for (int y = 0; y < height; ++y) bytes.insert(bytes.end(), width, (y < height / 2 ? top : bottom)[0]);
  for (int plane = 1; plane <= 2; ++plane)
    for (int y = 0; y < ch; ++y) bytes.insert(bytes.end(), cw, (y < ch / 2 ? top : bottom)[plane]);
  return bytes;
}

// Limited-range BT.601 red and blue.
const std::uint8_t kRed[3] = {81, 90, 240};
const std::uint8_t kBlue[3] = {41, 240, 110};

bool Reddish(std::uint32_t rgb) { return (rgb >> 16 & 0xFF) > 200 && (rgb & 0xFF) < 60; }
bool Bluish(std::uint32_t rgb) { return (rgb & 0xFF) > 200 && (rgb >> 16 & 0xFF) < 60; }

class YuvLayoutPromptTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  void SetUp() override {
    OptsPage::RegisterStandardOptionsPages();
    open_test::PreparePorts(doc);
  }

  ZarnDoc::CZarnDoc doc;
};

struct TPromptCase {
  const char* name;
  std::int32_t fileFormat;  // the file's real layout
  int width, height;        // and size
  std::vector<TAnswer> answers;
  std::vector<std::string> reasons;  // a piece each prompt's text holds, in order
};

TEST_F(YuvLayoutPromptTest, AFileThatIsNotWholeFramesOfTheRememberedLayoutOpensWithTheLayoutChosen) {
  const TPromptCase cases[] = {
      // The review's file: one 1920 x 1080 frame is 6.75 frames of 640 x 480.
      {"1080p",
       k420,
       1920,
       1080,
       {{true, k420, 1920, 1080}},
       {"Its 3110400 bytes are not a whole number of 640 x 480 frames of YCbCr 420 ITU601 8bit 16-235-240 "
        "CosOdd "
        "(460800 bytes a frame): they hold 6 whole frames and 345600 bytes more."}},
      // A wrong answer is asked about again; the layout (not only the size)
      // is the user's to choose.
      {"444 after a wrong size",
       k444,
       96,
       64,
       {{true, k420, 96, 60}, {true, k444, 96, 64}},
       {"Its 18432 bytes are not a whole number of 640 x 480 frames",
        "not a whole number of 96 x 60 frames of YCbCr 420 ITU601 8bit 16-235-240 CosOdd (8640 bytes a "
        "frame): "
        "they hold 2 whole frames and 1152 bytes more."}},
  };
  for (const TPromptCase& c : cases) {
    SCOPED_TRACE(c.name);
    doc.m_YuvOpen = TYuvOpenSettings{};  // 640 x 480, 4:2:0
    const std::filesystem::path file = dir / (std::string(c.name) + ".yuv");
    tovrin_test::WriteAll(file, TwoToneFrame(c.width, c.height, c.fileFormat == k444 ? 1 : 4, kRed, kBlue));
    TYuvPromptScript script(c.answers);
    ASSERT_TRUE(doc.OpenInChannel(file.string(), 1));

    ASSERT_EQ(script.asked.size(), c.reasons.size());
    for (std::size_t i = 0; i < c.reasons.size(); ++i)
      EXPECT_NE(script.asked[i].reason.find(c.reasons[i]), std::string::npos) << script.asked[i].reason;
    // The page starts from the layout that did not fit.
    EXPECT_EQ(script.asked[0].format, k420);
    EXPECT_EQ(script.asked[0].width, 640);
    EXPECT_EQ(script.asked[0].height, 480);

    // The picture is the file's frame: red above, blue below.
    const open_test::TRgbPicture shown = PortPicture(doc, 1);
    ASSERT_EQ(shown.width, c.width);
    ASSERT_EQ(shown.height, c.height);
    EXPECT_TRUE(Reddish(shown.At(c.width / 2, c.height / 4)));
    EXPECT_TRUE(Bluish(shown.At(c.width / 2, c.height * 3 / 4)));
    EXPECT_EQ(doc.m_Source[1].eFileFormat, c.fileFormat);
    // The layout that fitted is the one the next raw file starts from.
    EXPECT_EQ(doc.m_YuvOpen.nFormat, c.fileFormat);
    EXPECT_EQ(doc.m_YuvOpen.nWidth, c.width);
    EXPECT_EQ(doc.m_YuvOpen.nHeight, c.height);
    EXPECT_TRUE(sink.Texts().empty());
  }
}

TEST_F(YuvLayoutPromptTest, CancelRefusesTheFileWithOneMessageThatSaysWhyAndKeepsTheChannel) {
  const std::filesystem::path good = dir / "good.yuv";
  tovrin_test::WriteAll(good, TwoToneFrame(640, 480, 4, kBlue, kBlue));
  {
    TYuvPromptScript none({});
    ASSERT_TRUE(doc.OpenInChannel(good.string(), 0));
    EXPECT_TRUE(none.asked.empty());  // whole frames: nothing to ask
  }
  const open_test::TRgbPicture before = PortPicture(doc, 0);
  const TYuvOpenSettings remembered = doc.m_YuvOpen;

  // 155,520,000 bytes would be 337.5 frames; half a frame over shows the same.
  const std::filesystem::path odd = dir / "odd.yuv";
  std::vector<std::uint8_t> bytes = TwoToneFrame(640, 480, 4, kRed, kRed);
  bytes.resize(bytes.size() + bytes.size() / 2, 16);
  tovrin_test::WriteAll(odd, bytes);
  TYuvPromptScript script({TAnswer{}});
  EXPECT_FALSE(doc.OnOpenDocument(odd.string()));  // what a command-line file goes through
  EXPECT_EQ(script.asked.size(), 1u);
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Can not open file\n " + odd.string() +
                                 "\nIts 691200 bytes are not a whole number of 640 x 480 frames of YCbCr 420 "
                                 "ITU601 8bit 16-235-240 CosOdd (460800 bytes a frame): they hold 1 whole "
                                 "frames and 230400 bytes more. No layout was chosen.");
  EXPECT_EQ(doc.m_Source[0].sPath, good.string());
  EXPECT_EQ(open_test::MaxDifference(PortPicture(doc, 0), before), 0);
  EXPECT_EQ(doc.m_YuvOpen.nWidth, remembered.nWidth);
  EXPECT_EQ(doc.m_YuvOpen.nHeight, remembered.nHeight);
}

TEST_F(YuvLayoutPromptTest, AFileShorterThanAFrameOfTheGivenLayoutIsAskedAboutToo) {
  // 4:2:0 6 x 4 is 36 bytes a frame; the file has two and a half luma rows.
  const std::filesystem::path file = dir / "short.yuv";
  tovrin_test::WriteAll(file, std::vector<std::uint8_t>(15, 100));
  TYuvPromptScript script({TAnswer{}});
  TOpenSourceArgs args;
  args.path = file.string();
  args.channel = 2;
  args.format = k420;
  args.width = 6;
  args.height = 4;
  EXPECT_FALSE(doc.OpenSourceInChannel(args));
  ASSERT_EQ(script.asked.size(), 1u);
  EXPECT_NE(script.asked[0].reason.find("they hold 0 whole frames and 15 bytes more"), std::string::npos);
  EXPECT_EQ(script.asked[0].width, 6);
  EXPECT_FALSE(doc.m_Source[2].bOpen);
  EXPECT_EQ(PortPicture(doc, 2).width, 1);
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0].rfind("Can not open file\n " + file.string() + "\n", 0), 0u);
}

TEST_F(YuvLayoutPromptTest, WithoutTheYuvPageTheFileIsRefusedWithTheReason) {
  const OptsPage::TPageFactory saved = OptsPage::RegisterOptionsPage(OptsPage::PAGE_YUV, {});
  const std::filesystem::path file = dir / "no-page.yuv";
  tovrin_test::WriteAll(file, std::vector<std::uint8_t>(1000, 100));
  TYuvPromptScript script({});
  EXPECT_FALSE(doc.OnOpenDocument(file.string()));
  OptsPage::RegisterOptionsPage(OptsPage::PAGE_YUV, saved);
  EXPECT_TRUE(script.asked.empty());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_NE(sink.Texts()[0].find("Its 1000 bytes are not a whole number of 640 x 480 frames"),
            std::string::npos);
  EXPECT_FALSE(doc.m_Source[0].bOpen);
}

}  // namespace
