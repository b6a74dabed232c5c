#include "shell/file_dialog_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/file_types.h"
#include "options/opts_file_format.h"
#include "shell/file_dialog_settings.h"
#include "tests/support/test_support.h"

using namespace FileDialogEx;
using namespace ZarnTypes;

namespace {

int IndexOf(const std::vector<std::int32_t>& codes, std::int32_t code) {
  for (std::size_t i = 0; i < codes.size(); ++i)
    if (codes[i] == code) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> Texts(const std::vector<TListItem>& items) {
  std::vector<std::string> out;
  for (const auto& i : items) out.push_back(i.text);
  return out;
}

TFileDialogSettings Request(std::int32_t mode) {
  TFileDialogSettings s;
  s.extended = true;
  s.mode = mode;
  return s;
}

// A preview that records what it was asked and answers as told.
class TFakePreview : public IPreviewTarget {
 public:
  bool LoadMedia(const std::string&, std::int32_t format) override {
    calls.push_back("media " + std::to_string(format));
    return answer;
  }
  bool LoadImage(const std::string&, std::int32_t format, TStillInfo& out) override {
    calls.push_back("image " + std::to_string(format));
    if (answer) out = info;
    return answer;
  }
  bool LoadYuvFrame(const std::string&, std::int32_t w, std::int32_t h, std::int32_t f) override {
    calls.push_back("yuv " + std::to_string(w) + "x" + std::to_string(h) + " " + std::to_string(f));
    return answer;
  }
  void Clear() override { calls.push_back("clear"); }
  bool answer = true;
  TStillInfo info;
  std::vector<std::string> calls;
};

void Touch(const std::filesystem::path& p, std::size_t bytes = 4) {
  std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
}

}  // namespace

// --- the filter list ------------------------------------------------------

TEST(FileDialogFilters, OpenAndSaveListsOfferTheirEntries) {
  const auto open = BuildFilterList(FDM_OPEN);
  const auto openTo = BuildFilterList(FDM_OPEN_TO);
  const auto save = BuildFilterList(FDM_SAVE_IMAGE_AS);
  EXPECT_EQ(open.size(), 69u);
  EXPECT_EQ(openTo, open);
  EXPECT_EQ(save.size(), 55u);
  EXPECT_EQ(BuildFilterList(FDM_SAVE_IMAGE), save);
  EXPECT_TRUE(BuildFilterList(0).empty());
  EXPECT_TRUE(BuildFilterList(5).empty());
  // Open: the groups, video and audio, the plain BMP entry; no bit depths,
  // no greyscale JPEG, no 48-bit BMP or icon.
  for (std::int32_t code : {1, 6, 7, 20, 21, 30, 31, 33, 36, 37, 78})
    EXPECT_GE(IndexOf(open, code), 0) << code;
  for (std::int32_t code : {22, 27, 28, 29, 32}) EXPECT_EQ(IndexOf(open, code), -1) << code;
  // Save: the bit depths and greyscale JPEG; no groups, media or plain BMP.
  for (std::int32_t code : {22, 27, 30, 32, 36, 37, 78}) EXPECT_GE(IndexOf(save, code), 0) << code;
  for (std::int32_t code : {1, 6, 7, 20, 21, 28, 29}) EXPECT_EQ(IndexOf(save, code), -1) << code;
  EXPECT_EQ(open.front(), 1);
  EXPECT_EQ(save.front(), 22);
  EXPECT_EQ(save.back(), 78);
}

TEST(FileDialogFilters, EntriesInQtForm) {
  EXPECT_EQ(QtFilterText(1), "All files (*)");
  EXPECT_EQ(QtFilterText(7), "AVI - Audio Video Interlived (.avi) (*.avi)");
  EXPECT_EQ(QtFilterText(31), "JPEG - JPEG/JFIF (.jpg; .jpeg; .jpe; .jfif) (*.jpg *.jpeg *.jpe *.jfif)");
  EXPECT_EQ(QtFilterText(37), "YCbCr 444 ITU601 8bit 0-255 (.yuv) (*.yuv)");
  EXPECT_EQ(QtFilterText(54), "YCbCr 420 ITU601 8bit 16-235-240 CosOdd (.yuv) (*.yuv)");
  EXPECT_EQ(QtFilterText(78), "YCbCr 420 ITU709 8bit 16-235-240 Center (.yuv) (*.yuv)");
  // Entry 2 keeps its literal patterns without a dot.
  EXPECT_NE(QtFilterText(2).find(" *mp4 *avi "), std::string::npos);
  EXPECT_EQ(QtFilterText(0), "");
  EXPECT_EQ(QtFilterText(79), "");
}

TEST(FileDialogFilters, AppendRefusesCodesOutsideTheTable) {
  std::vector<std::int32_t> codes;
  EXPECT_TRUE(AppendFileFilter(codes, 0));
  EXPECT_TRUE(AppendFileFilter(codes, 79));
  EXPECT_TRUE(codes.empty());
  EXPECT_FALSE(AppendFileFilter(codes, 80));
  EXPECT_FALSE(AppendFileFilter(codes, -1));
  EXPECT_TRUE(AppendFileFilter(codes, 78));
  EXPECT_EQ(codes, (std::vector<std::int32_t>{78}));
}

TEST(FileDialogFilters, InitialEntryByCodeOrSamePattern) {
  const auto open = BuildFilterList(FDM_OPEN);
  const auto save = BuildFilterList(FDM_SAVE_IMAGE_AS);
  EXPECT_EQ(InitialFilterIndex(open, 1), 0);
  EXPECT_EQ(open[static_cast<std::size_t>(InitialFilterIndex(open, 17))], 17);  // MNG remembered
  // BMP (format 27 -> filter 21) is not in the save list: the last entry
  // with "*.bmp;*.dib" is the 32-bit bitmap.
  const int bmp = InitialFilterIndex(save, FileFormatToFileFilter(27));
  ASSERT_GE(bmp, 0);
  EXPECT_EQ(save[static_cast<std::size_t>(bmp)], 27);
  EXPECT_EQ(GetFileFilterLabel(save[static_cast<std::size_t>(bmp)]), "BMP - 32-bit Bitmap (.bmp; .dib)");
  // A save format of a media file has no entry and no pattern: the default.
  EXPECT_EQ(InitialFilterIndex(save, FileFormatToFileFilter(9)), -1);
  EXPECT_EQ(InitialFilterIndex(save, 0), -1);
  // The YCbCr entries all share "*.yuv" but are found by their code.
  EXPECT_EQ(save[static_cast<std::size_t>(InitialFilterIndex(save, 50))], 50);
}

TEST(FileDialogFilters, ProposedSaveNames) {
  TFileDialogSettings s = Request(FDM_SAVE_IMAGE_AS);
  s.format = 38;
  EXPECT_EQ(ProposeSaveName(s), ".jpg");
  s.channelPaths[0] = "/data/clips/clip.avi";
  EXPECT_EQ(ProposeSaveName(s), "clip.jpg");
  s.channelPaths[0] = "/data/clips/noext";
  EXPECT_EQ(ProposeSaveName(s), "/data/clips/noext.jpg");
  s.channelPaths[0] = "/data/clips/notes.txt";
  EXPECT_EQ(ProposeSaveName(s), "/data/clips/notes.txt.jpg");
  s.channelPaths[0] = "/data/a.yuv";
  s.format = 70;
  EXPECT_EQ(ProposeSaveName(s), "a.yuv");
}

TEST(FileDialogFilters, AnswersCopyOnlyTheOutFields) {
  TFileDialogSettings to = Request(FDM_OPEN_TO);
  to.activeDocAllowed = true;
  to.channelAllowed = {true, false, false, false};
  to.channelPaths[1] = "/x";
  TFileDialogSettings from;
  from.extended = false;
  from.mode = 3;
  from.activeDocAllowed = false;
  from.channelAllowed = {false, true, true, true};
  from.destination = 1;
  from.channel = 2;
  from.format = 38;
  from.filterCode = 31;
  from.yuvWidth = 352;
  from.jpegQuality = 55;
  from.tiff[5] = 9;
  CopyFileDialogAnswers(from, to);
  EXPECT_TRUE(to.extended);
  EXPECT_EQ(to.mode, FDM_OPEN_TO);
  EXPECT_TRUE(to.activeDocAllowed);
  EXPECT_EQ(to.channelAllowed, (std::array<bool, 4>{true, false, false, false}));
  EXPECT_EQ(to.channelPaths[1], "/x");
  EXPECT_EQ(to.destination, 1);
  EXPECT_EQ(to.channel, 2);
  EXPECT_EQ(to.format, 38);
  EXPECT_EQ(to.filterCode, 31);
  EXPECT_EQ(to.yuvWidth, 352);
  EXPECT_EQ(to.jpegQuality, 55);
  EXPECT_EQ(to.tiff[5], 9);
}

// --- the dialog's lists and controls --------------------------------------

TEST(FileDialogLogic, ModesDecideLabelDestinationsChannelsAndPanels) {
  struct TCase {
    const char* name;
    std::int32_t mode;
    bool newAllowed, activeAllowed;
    std::int32_t destination;
    std::array<bool, 4> channels;
    std::int32_t channel;
    std::string label;
    std::vector<std::string> destinations;
    int destinationIndex;
    std::vector<std::string> channelItems;
    int channelIndex;
    bool details;
    int height;
  };
  const std::array<bool, 4> all{true, true, true, true};
  const std::vector<TCase> cases = {
      {"File Open",
       FDM_OPEN,
       false,
       true,
       1,
       {true, false, false, false},
       0,
       "Open to:",
       {"New document"},
       0,
       {"Media channel 1, Primary"},
       0,
       true,
       190},
      {"Open to, active",
       FDM_OPEN_TO,
       true,
       true,
       1,
       all,
       2,
       "Open to:",
       {"New document", "Active document"},
       1,
       {"Media channel 1, Primary", "Media Channel 2, Assistant", "Media Channel 3", "Media Channel 4"},
       2,
       true,
       190},
      {"Open to, new",
       FDM_OPEN_TO,
       true,
       true,
       0,
       all,
       2,
       "Open to:",
       {"New document", "Active document"},
       0,
       {"Media channel 1, Primary"},
       0,
       true,
       190},
      {"Open to while playing",
       FDM_OPEN_TO,
       true,
       false,
       1,
       all,
       0,
       "Open to:",
       {"New document"},
       0,
       {"Media channel 1, Primary"},
       0,
       true,
       190},
      {"Open to, channel 1 empty",
       FDM_OPEN_TO,
       true,
       true,
       1,
       {true, false, false, false},
       0,
       "Open to:",
       {"New document", "Active document"},
       1,
       {"Media channel 1, Primary"},
       0,
       true,
       190},
      {"Save As",
       FDM_SAVE_IMAGE_AS,
       true,
       false,
       0,
       {false, true, false, true},
       3,
       "Save from:",
       {"Active document"},
       0,
       {"Media Channel 2, Assistant", "Media Channel 4"},
       1,
       false,
       52},
      {"Save Image",
       FDM_SAVE_IMAGE,
       false,
       false,
       0,
       {true, false, true, false},
       0,
       "Save from:",
       {"Active document"},
       0,
       {"Media channel 1, Primary"},  // only "Save Image As" lists channels 2..4
       0,
       false,
       52},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TFileDialogSettings s = Request(c.mode);
    s.newDocAllowed = c.newAllowed;
    s.activeDocAllowed = c.activeAllowed;
    s.destination = c.destination;
    s.channelAllowed = c.channels;
    s.channel = c.channel;
    CFileDialogLogic logic(s, BuildFilterList(c.mode));
    logic.Init();
    EXPECT_EQ(logic.LabelText(), c.label);
    EXPECT_EQ(Texts(logic.DestinationItems()), c.destinations);
    EXPECT_EQ(logic.DestinationIndex(), c.destinationIndex);
    EXPECT_EQ(Texts(logic.ChannelItems()), c.channelItems);
    EXPECT_EQ(logic.ChannelIndex(), c.channelIndex);
    EXPECT_EQ(logic.DetailsShown(), c.details);
    EXPECT_EQ(logic.DetailsBoxVisible(), c.details);
    EXPECT_EQ(logic.AreaHeight(), c.height);
    EXPECT_EQ(logic.PanelText(), " Information is unavailable");
  }
}

TEST(FileDialogLogic, ChoosingTheDestinationRefillsTheChannels) {
  TFileDialogSettings s = Request(FDM_OPEN_TO);
  s.newDocAllowed = s.activeDocAllowed = true;
  s.destination = 1;
  s.channelAllowed = {true, true, true, true};
  CFileDialogLogic logic(s, BuildFilterList(FDM_OPEN_TO));
  logic.Init();
  ASSERT_EQ(logic.ChannelItems().size(), 4u);
  logic.CloseUpDestination(0);  // New document: channel 1 only
  EXPECT_EQ(logic.Settings().destination, 0);
  EXPECT_EQ(logic.ChannelItems().size(), 1u);
  logic.CloseUpDestination(1);
  EXPECT_EQ(logic.Settings().destination, 1);
  EXPECT_EQ(logic.ChannelItems().size(), 4u);
  EXPECT_EQ(logic.ChannelIndex(), 0);
}

TEST(FileDialogLogic, SaveAsChannelChoiceProposesThatChannelsName) {
  TFileDialogSettings s = Request(FDM_SAVE_IMAGE_AS);
  s.channelAllowed = {true, false, true, false};
  s.channelPaths = {"/a/first.avi", "", "/b/third.png", ""};
  CFileDialogLogic logic(s, BuildFilterList(FDM_SAVE_IMAGE_AS));
  logic.Init();
  const int png = IndexOf(logic.FilterCodes(), 35);
  EXPECT_EQ(logic.CloseUpChannel(1, png), "third.png");
  EXPECT_EQ(logic.CloseUpChannel(0, IndexOf(logic.FilterCodes(), 31)), "first.jpg");
}

TEST(FileDialogLogic, OptionsButtonFollowsTheFormat) {
  for (std::int32_t f : {37, 38, 39, 41, 42, 43, 44, 53, 94}) EXPECT_TRUE(FormatHasOptionsButton(f)) << f;
  for (std::int32_t f : {0, 9, 27, 34, 40, 45, 95}) EXPECT_FALSE(FormatHasOptionsButton(f)) << f;
  TFileDialogSettings s = Request(FDM_SAVE_IMAGE_AS);
  s.format = 33;  // 24-bit BMP: no page
  CFileDialogLogic save(s, BuildFilterList(FDM_SAVE_IMAGE_AS));
  save.Init();
  EXPECT_FALSE(save.OptionsEnabled());
  save.OnTypeChange(IndexOf(save.FilterCodes(), 35), "");  // PNG
  EXPECT_TRUE(save.OptionsEnabled());
  EXPECT_EQ(save.OptionsCategory(IndexOf(save.FilterCodes(), 35)), OPTCAT_PNG);
  EXPECT_EQ(save.OptionsCategory(IndexOf(save.FilterCodes(), 32)), OPTCAT_JPEG);
  EXPECT_EQ(save.OptionsCategory(IndexOf(save.FilterCodes(), 34)), OPTCAT_JPEG2000);
  EXPECT_EQ(save.OptionsCategory(IndexOf(save.FilterCodes(), 60)), OPTCAT_YUV);
  EXPECT_EQ(save.OptionsCategory(IndexOf(save.FilterCodes(), 26)), 0);
  // The open modes always open the YUV page, whatever the filter.
  CFileDialogLogic open(Request(FDM_OPEN), BuildFilterList(FDM_OPEN));
  open.Init();
  EXPECT_EQ(open.OptionsCategory(0), OPTCAT_YUV);
}

TEST(FileDialogLogic, TypeChangeInSaveModesSetsFormatAndName) {
  CFileDialogLogic logic(Request(FDM_SAVE_IMAGE_AS), BuildFilterList(FDM_SAVE_IMAGE_AS));
  logic.Init();
  auto change = logic.OnTypeChange(IndexOf(logic.FilterCodes(), 36), "picture");
  EXPECT_EQ(change.newName, "picture.tif");
  EXPECT_EQ(logic.Settings().format, 44);
  change = logic.OnTypeChange(IndexOf(logic.FilterCodes(), 60), "picture");
  EXPECT_EQ(change.newName, "picture.yuv");
  EXPECT_EQ(logic.Settings().format, 76);
  EXPECT_EQ(logic.Settings().yuvFormat, 76);
  EXPECT_EQ(logic.OnTypeChange(IndexOf(logic.FilterCodes(), 30), "").newName, "");

  // Open modes: only a YCbCr filter changes the format and redescribes.
  TFileDialogSettings o = Request(FDM_OPEN);
  o.format = 0;
  CFileDialogLogic open(o, BuildFilterList(FDM_OPEN));
  open.Init();
  EXPECT_FALSE(open.OnTypeChange(IndexOf(open.FilterCodes(), 31), "x").refreshInfo);
  EXPECT_EQ(open.Settings().format, 0);
  const auto yuv = open.OnTypeChange(IndexOf(open.FilterCodes(), 40), "x");
  EXPECT_TRUE(yuv.refreshInfo);
  EXPECT_TRUE(yuv.newName.empty());
  EXPECT_EQ(open.Settings().format, 56);
  EXPECT_EQ(open.Settings().yuvFormat, 56);
}

TEST(FileDialogLogic, YuvSettingsAreRepairedAtStart) {
  TFileDialogSettings s = Request(FDM_OPEN);
  s.yuvFormat = 45;
  s.yuvWidth = 0;
  s.yuvHeight = -4;
  CFileDialogLogic logic(s, BuildFilterList(FDM_OPEN));
  logic.Init();
  EXPECT_EQ(logic.Settings().yuvFormat, 70);
  EXPECT_EQ(logic.Settings().yuvWidth, 640);
  EXPECT_EQ(logic.Settings().yuvHeight, 480);
}

// --- accepting --------------------------------------------------------------

TEST(FileDialogLogic, AcceptingInOpenModesAnswersFormatSizeAndChannel) {
  TFileDialogSettings s = Request(FDM_OPEN_TO);
  s.newDocAllowed = s.activeDocAllowed = true;
  s.destination = 1;
  s.channelAllowed = {true, true, true, true};
  s.yuvFormat = 94;
  s.yuvWidth = 352;
  s.yuvHeight = 288;
  s.yuvSingleImage = true;
  CFileDialogLogic logic(s, BuildFilterList(FDM_OPEN_TO));
  logic.Init();
  logic.CloseUpChannel(2, 0);
  EXPECT_FALSE(logic.OnFileNameOK("", 0).accept);  // an empty name keeps the dialog open

  TAcceptResult r = logic.OnFileNameOK("/v/clip.YUV", 0);
  EXPECT_TRUE(r.accept);
  EXPECT_EQ(logic.Settings().format, 94);
  EXPECT_EQ(logic.Settings().width, 352);
  EXPECT_EQ(logic.Settings().height, 288);
  EXPECT_TRUE(logic.Settings().singleImage);
  EXPECT_EQ(logic.Settings().destination, 1);
  EXPECT_EQ(logic.Settings().channel, 2);
  EXPECT_EQ(logic.Settings().filterCode, 1);

  const int jpegFilter = IndexOf(logic.FilterCodes(), 31);
  EXPECT_TRUE(logic.OnFileNameOK("/v/photo.jpeg", jpegFilter).accept);
  EXPECT_EQ(logic.Settings().format, 38);
  EXPECT_TRUE(logic.Settings().singleImage);
  EXPECT_EQ(logic.Settings().filterCode, 31);

  EXPECT_TRUE(logic.OnFileNameOK("/v/movie.avi", 0).accept);
  EXPECT_EQ(logic.Settings().format, 9);
  EXPECT_FALSE(logic.Settings().singleImage);
}

TEST(FileDialogLogic, SaveModesTakeTheFilterFormatAndNeverAnotherExtension) {
  TFileDialogSettings s = Request(FDM_SAVE_IMAGE_AS);
  s.channelAllowed = {true, true, false, false};
  CFileDialogLogic logic(s, BuildFilterList(FDM_SAVE_IMAGE_AS));
  logic.Init();
  const int jpeg = IndexOf(logic.FilterCodes(), 31);
  // A .png name under the JPEG filter would write JPEG data into a .png file.
  TAcceptResult r = logic.OnFileNameOK("/out/shot.png", jpeg);
  EXPECT_FALSE(r.accept);
  EXPECT_EQ(r.correctedName, "/out/shot.png.jpg");
  EXPECT_EQ(logic.Settings().format, 0);  // nothing answered yet
  r = logic.OnFileNameOK("/out/shot", jpeg);
  EXPECT_FALSE(r.accept);
  EXPECT_EQ(r.correctedName, "/out/shot.jpg");
  // Every extension of the entry is accepted, in any case.
  for (const char* name : {"/out/shot.jpg", "/out/shot.JPEG", "/out/shot.jfif"}) {
    r = logic.OnFileNameOK(name, jpeg);
    EXPECT_TRUE(r.accept) << name;
    EXPECT_EQ(logic.Settings().format, 38);
    EXPECT_TRUE(logic.Settings().singleImage);
  }
  const int bmp8 = IndexOf(logic.FilterCodes(), 24);
  EXPECT_TRUE(logic.OnFileNameOK("/out/shot.dib", bmp8).accept);
  EXPECT_EQ(logic.Settings().format, 31);
  const int yuv = IndexOf(logic.FilterCodes(), 78);
  EXPECT_TRUE(logic.OnFileNameOK("/out/frame.yuv", yuv).accept);
  EXPECT_EQ(logic.Settings().format, 94);
}

// The filter of a save prompt stuck: after a save through the YUV filter
// the next File Open listed only *.yuv files.
TEST(FileDialogLogic, OnlyAnOpenPromptRemembersItsFilterForTheNextOpen) {
  for (std::int32_t mode : {FDM_SAVE_IMAGE, FDM_SAVE_IMAGE_AS}) {
    TFileDialogSettings s = Request(mode);
    s.channelAllowed = {true, false, false, false};
    s.filterCode = 1;
    CFileDialogLogic logic(s, BuildFilterList(mode));
    logic.Init();
    const int yuv = IndexOf(logic.FilterCodes(), 78);
    ASSERT_GE(yuv, 0);
    EXPECT_TRUE(logic.OnFileNameOK("/out/frame.yuv", yuv).accept);
    EXPECT_EQ(logic.Settings().filterCode, 1) << "mode " << mode;
  }
  for (std::int32_t mode : {FDM_OPEN, FDM_OPEN_TO}) {
    TFileDialogSettings s = Request(mode);
    s.newDocAllowed = true;
    s.channelAllowed = {true, false, false, false};
    s.filterCode = 1;
    CFileDialogLogic logic(s, BuildFilterList(mode));
    logic.Init();
    const int yuv = IndexOf(logic.FilterCodes(), 78);
    ASSERT_GE(yuv, 0);
    EXPECT_TRUE(logic.OnFileNameOK("/v/frame.yuv", yuv).accept);
    EXPECT_EQ(logic.Settings().filterCode, 78) << "mode " << mode;
  }
}

// --- the information panel ------------------------------------------------

TEST(FileDialogLogic, SelectionFillsThePanelAndDrivesThePreview) {
  tovrin_test::TTempDir dir;
  std::filesystem::create_directory(dir / "sub");
  Touch(dir / "clip.yuv");
  Touch(dir / "photo.jpg");
  Touch(dir / "notes.txt");
  Touch(dir / "movie.vob");

  TFileDialogSettings s = Request(FDM_OPEN);
  s.yuvFormat = 65;
  s.yuvWidth = 176;
  s.yuvHeight = 144;
  CFileDialogLogic logic(s, BuildFilterList(FDM_OPEN));
  logic.Init();
  TFakePreview preview;

  EXPECT_FALSE(logic.UpdateFileInfo("", preview));
  EXPECT_TRUE(preview.calls.empty());

  ASSERT_TRUE(logic.UpdateFileInfo((dir / "clip.yuv").string(), preview));
  EXPECT_EQ(preview.calls, (std::vector<std::string>{"yuv 176x144 65"}));
  EXPECT_EQ(logic.PanelText(),
            " clip.yuv\n File\n Type: Video YUV\n  YCbCr 420 ITU601 8bit 0-255 CosEven\n Width, Height:  176 "
            "x 144\n"
            " Bits per pixel:  12\n Planes:  3");
  EXPECT_TRUE(logic.OptionsEnabled());
  EXPECT_EQ(logic.Settings().format, 65);

  preview.calls.clear();
  preview.info.width = 640;
  preview.info.height = 480;
  preview.info.info[0] = 3;  // YCbCr
  preview.info.info[1] = 8;
  logic.UpdateFileInfo((dir / "photo.jpg").string(), preview);
  EXPECT_EQ(preview.calls, (std::vector<std::string>{"image 38"}));
  std::string space;
  ZarnTypes::GetJpegColorSpaceName(3, space);
  EXPECT_EQ(logic.PanelText(), " photo.jpg\n File\n Type: JPEG\n Width, Height:  640 x 480\n Color space:  " +
                                   space + "\n Bits per color:  8");
  EXPECT_FALSE(logic.OptionsEnabled());
  EXPECT_EQ(logic.Settings().width, 640);
  EXPECT_EQ(logic.Settings().pixelFormat, 27);

  // A picture that cannot be read: the panel still shows zeros; the preview is cleared.
  preview.answer = false;
  preview.calls.clear();
  logic.UpdateFileInfo((dir / "photo.jpg").string(), preview);
  EXPECT_EQ(preview.calls, (std::vector<std::string>{"image 38", "clear"}));
  EXPECT_NE(logic.PanelText().find("Width, Height:  0 x 0"), std::string::npos);

  preview.calls.clear();
  logic.UpdateFileInfo((dir / "sub").string(), preview);
  EXPECT_EQ(logic.PanelText(), " sub\n Directory\n Type: \n ");
  EXPECT_EQ(preview.calls, (std::vector<std::string>{"clear"}));
  EXPECT_FALSE(logic.OptionsEnabled());
  EXPECT_EQ(logic.Settings().format, 0);

  logic.UpdateFileInfo((dir / "notes.txt").string(), preview);
  EXPECT_EQ(logic.PanelText(), " notes.txt\n File\n Type: .txt\n ");

  preview.calls.clear();
  preview.answer = true;
  logic.UpdateFileInfo((dir / "movie.vob").string(), preview);  // DVD files go to the media preview
  EXPECT_EQ(preview.calls, (std::vector<std::string>{"media 18"}));
  EXPECT_EQ(logic.PanelText(), " movie.vob\n File\n Type: DVD video object file\n ");

  // A path that is gone only clears the preview and keeps the panel.
  const std::string before = logic.PanelText();
  preview.calls.clear();
  logic.UpdateFileInfo((dir / "missing.png").string(), preview);
  EXPECT_EQ(preview.calls, (std::vector<std::string>{"clear"}));
  EXPECT_EQ(logic.PanelText(), before);

  // Details hidden: nothing is previewed.
  logic.SetDetailsShown(false);
  preview.calls.clear();
  logic.UpdateFileInfo((dir / "photo.jpg").string(), preview);
  EXPECT_TRUE(preview.calls.empty());
}

TEST(FileDialogLogic, StillDetailsByFormat) {
  tovrin_test::TTempDir dir;
  for (const char* n : {"a.bmp", "a.gif", "a.jp2", "a.png", "a.tif"}) Touch(dir / n);
  CFileDialogLogic logic(Request(FDM_OPEN), BuildFilterList(FDM_OPEN));
  logic.Init();
  TFakePreview preview;
  preview.info.width = 10;
  preview.info.height = 20;
  preview.info.bmpBitsPerPixel = 8;
  preview.info.bmpPlanes = 1;
  logic.UpdateFileInfo((dir / "a.bmp").string(), preview);
  EXPECT_EQ(logic.DetailsText(), "Width, Height:  10 x 20\n Bits per pixel:  8\n Planes:  1");
  EXPECT_EQ(logic.Settings().pixelFormat, 25);

  preview.info.info[3] = 5;
  logic.UpdateFileInfo((dir / "a.gif").string(), preview);
  EXPECT_EQ(logic.DetailsText(),
            "Width, Height:  10 x 20\n Color space:  Color palette\n Bits per pixel:  5\n Planes:  1");

  preview.info.info[0] = 12;  // bits per component
  preview.info.info[1] = 3;   // components
  logic.UpdateFileInfo((dir / "a.jp2").string(), preview);
  EXPECT_EQ(logic.DetailsText(),
            "Width, Height:  10 x 20\n Color components:  3\n Bits per pixel:  36\n Planes:  1");

  preview.info.info[0] = 6;  // colour type with alpha: 4 channels
  preview.info.info[1] = 16;
  logic.UpdateFileInfo((dir / "a.png").string(), preview);
  std::string png;
  ZarnTypes::GetPngColorTypeName(6, png);
  EXPECT_EQ(logic.DetailsText(),
            "Width, Height:  10 x 20\n Color space: " + png + "\n Bits per pixel: 64\n Planes: 1");

  preview.info.info[1] = 2;  // photometric
  preview.info.info[2] = 3;  // samples
  preview.info.info[3] = 8;  // bits
  preview.info.info[5] = 1;  // compression
  logic.UpdateFileInfo((dir / "a.tif").string(), preview);
  std::string photometric, compression;
  ZarnTypes::GetTiffPhotometricName(2, photometric);
  ZarnTypes::GetTiffCompressionName(1, compression);
  EXPECT_EQ(logic.DetailsText(), "Width, Height:  10 x 20\n Color space:  " + photometric +
                                     "\n Bits per pixel:  24\n Planes:  1\n Compression:  " + compression);

  const std::int32_t mng[7] = {64, 48, 30, 2, 100, 3333, 1};
  logic.OnPreviewInfo(16, mng);
  EXPECT_EQ(
      logic.DetailsText(),
      " Width, Height:  64 x 48\n Ticks per second:  30\n Layers:  2\n Frames:  100\n Play time:  3333\n"
      " Simplicity profile:  1");
}

// --- the format pages' exchanges -------------------------------------------

TEST(FileDialogLogic, YuvExchangeReadsAndWritesTheDialogsCopy) {
  TFileDialogSettings s = Request(FDM_OPEN_TO);
  s.yuvFormat = 60;
  s.yuvWidth = 320;
  s.yuvHeight = 240;
  CFileDialogLogic logic(s, BuildFilterList(FDM_OPEN_TO));
  logic.Init();
  TYuvFormatExchange block{};
  block.header.op = OPTS_XCHG_READ;
  block.checkSize = 1;
  ASSERT_TRUE(logic.ExchangeYuv(block));
  EXPECT_EQ(block.header.answered, 1);
  EXPECT_EQ(block.format, 60);
  EXPECT_EQ(block.width, 320);
  EXPECT_EQ(block.height, 240);
  EXPECT_EQ(block.sizeEditable, 1);
  EXPECT_EQ(block.checkSize, 1);

  block = {};
  block.header.op = OPTS_XCHG_WRITE;
  block.format = 81;
  block.width = 720;
  block.height = 576;
  block.singleImage = 1;
  ASSERT_TRUE(logic.ExchangeYuv(block));
  EXPECT_EQ(logic.Settings().yuvFormat, 81);
  EXPECT_EQ(logic.Settings().format, 81);
  EXPECT_EQ(logic.CurrentFormat(), 81);
  EXPECT_EQ(logic.Settings().yuvWidth, 720);
  EXPECT_EQ(logic.Settings().height, 576);
  EXPECT_TRUE(logic.Settings().yuvSingleImage);
  // The filter follows the page's layout.
  EXPECT_EQ(logic.FilterCodes()[static_cast<std::size_t>(logic.FilterIndexForFormat(81))], 65);

  block.header.op = 3;
  block.header.answered = 0;
  EXPECT_FALSE(logic.ExchangeYuv(block));
  EXPECT_EQ(block.header.answered, 0);

  CFileDialogLogic save(Request(FDM_SAVE_IMAGE_AS), BuildFilterList(FDM_SAVE_IMAGE_AS));
  save.Init();
  block = {};
  block.header.op = OPTS_XCHG_READ;
  ASSERT_TRUE(save.ExchangeYuv(block));
  EXPECT_EQ(block.sizeEditable, 0);
}

TEST(FileDialogLogic, EncoderBlockExchanges) {
  TFileDialogSettings s = Request(FDM_SAVE_IMAGE_AS);
  s.format = 43;
  s.jpegQuality = 77;
  for (std::size_t i = 0; i < s.png.size(); ++i) s.png[i] = static_cast<std::uint8_t>(i + 1);
  CFileDialogLogic logic(s, BuildFilterList(FDM_SAVE_IMAGE_AS));
  logic.Init();
  struct TRaw {
    TOptsExchangeHeader header;
    std::uint8_t bytes[36];
  } raw{};
  raw.header.op = OPTS_XCHG_READ;
  ASSERT_TRUE(logic.ExchangeFormatBlock(platform::qt::WM_APP_OPTS_PNG, raw.header));
  EXPECT_EQ(raw.header.answered, 1);
  std::int32_t first = 0;
  std::memcpy(&first, raw.bytes, 4);
  EXPECT_EQ(first, 43);  // the current format replaces the block's first field
  EXPECT_EQ(raw.bytes[4], 5);
  EXPECT_EQ(raw.bytes[27], 28);

  raw = {};
  raw.header.op = OPTS_XCHG_WRITE;
  const std::int32_t jpeg = 39;
  std::memcpy(raw.bytes, &jpeg, 4);
  const std::int32_t quality = 33;
  std::memcpy(raw.bytes + 4, &quality, 4);
  ASSERT_TRUE(logic.ExchangeFormatBlock(platform::qt::WM_APP_OPTS_JPEG, raw.header));
  EXPECT_EQ(logic.Settings().jpegQuality, 33);
  EXPECT_EQ(logic.Settings().format, 39);
  EXPECT_EQ(logic.CurrentFormat(), 39);

  raw = {};
  raw.header.op = OPTS_XCHG_WRITE;
  raw.bytes[35] = 0xAB;
  ASSERT_TRUE(logic.ExchangeFormatBlock(platform::qt::WM_APP_OPTS_TIFF, raw.header));
  EXPECT_EQ(logic.Settings().tiff[35], 0xAB);

  raw.header.op = 4;
  raw.header.answered = 0;
  EXPECT_FALSE(logic.ExchangeFormatBlock(platform::qt::WM_APP_OPTS_GIF, raw.header));
  EXPECT_EQ(raw.header.answered, 0);
  raw.header.op = OPTS_XCHG_READ;
  EXPECT_FALSE(logic.ExchangeFormatBlock(platform::qt::WM_APP_OPTS_AVI, raw.header));
}
