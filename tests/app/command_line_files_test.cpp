// Several files on the command line: the first opens a new document, the
// next ones go into that document's following channels.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "shell/main_frame.h"
#include "tests/app/app_test_support.h"

namespace {

// A document that records what it is asked to open; `failFirst` refuses the
// file of the new document.
class TRecordingDocument : public CPlaceholderDocument {
 public:
  using CPlaceholderDocument::CPlaceholderDocument;
  bool OnOpenDocument(const std::string& path) override {
    opened.emplace_back(path, 0);
    return !failFirst;
  }
  bool OpenInChannel(const std::string& path, int channel) override {
    opened.emplace_back(path, channel);
    return true;
  }
  static inline std::vector<std::pair<std::string, int>> opened;
  static inline bool failFirst = false;
};

using TCommandLineFilesTest = TAppTest;

TEST_F(TCommandLineFilesTest, FurtherFilesGoIntoTheNextChannelsOfTheFirstFilesDocument) {
  TRecordingDocument::opened.clear();
  TRecordingDocument::failFirst = false;
  auto app = MakeApp({"/opt/tovrin/bin/tovrin", "--screenshot", "shot.png", "a.png", "-istart.ini", "b.jpg",
                      "c.yuv", "d.bmp", "e.gif"});
  app->SetDocumentFactory(
      [](QWidget* parent) -> shell::IChildFrame* { return new TRecordingDocument(parent); });
  ASSERT_TRUE(app->InitInstance());
  EXPECT_EQ(TRecordingDocument::opened, (std::vector<std::pair<std::string, int>>{
                                            {"a.png", 0}, {"b.jpg", 1}, {"c.yuv", 2}, {"d.bmp", 3}}));
  EXPECT_EQ(app->MainFrameWindow()->ChildFrames().size(), 1u);
  app->ExitInstance();
}

TEST_F(TCommandLineFilesTest, NothingMoreOpensWhenTheFirstFileCannotBeOpened) {
  TRecordingDocument::opened.clear();
  TRecordingDocument::failFirst = true;
  auto app = MakeApp({"/opt/tovrin/bin/tovrin", "a.png", "b.jpg"});
  app->SetDocumentFactory(
      [](QWidget* parent) -> shell::IChildFrame* { return new TRecordingDocument(parent); });
  ASSERT_TRUE(app->InitInstance());
  EXPECT_EQ(TRecordingDocument::opened, (std::vector<std::pair<std::string, int>>{{"a.png", 0}}));
  EXPECT_TRUE(app->MainFrameWindow()->ChildFrames().empty());
  app->ExitInstance();
  TRecordingDocument::failFirst = false;
}

}  // namespace
