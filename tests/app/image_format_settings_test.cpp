// The image format pages' settings the document manager keeps: edits made
// through "Options..." of a save prompt are in the settings file after the
// application exits (JPEG quality at 64, the PNG, GIF and TIFF blocks at 68,
// 96 and 128 of the block) and the next run's prompt opens the pages on
// them.

#include <cstdint>
#include <string>
#include <vector>

#include "shell/doc_manager.h"
#include "tests/app/app_test_support.h"
#include "tests/shell/image_format_edits.h"

using namespace ZarnTypes;
namespace edits = image_format_edits;

namespace {

// A save prompt of the manager, answered by `runner`.
bool Prompt(const DocManagerEx::CDocManagerEx::TRunner& runner) {
  DocManagerEx::CDocManagerEx* manager = DocManagerEx::TheDocManager();
  if (!manager) return false;
  TFileDialogSettings& s = manager->Settings();
  const TFileDialogSettings prompt = edits::SaveAsSettings();
  s.extended = prompt.extended;
  s.mode = prompt.mode;
  s.channelAllowed = prompt.channelAllowed;
  s.format = FF_PNG;
  manager->SetDialogRunner(runner);
  std::string path;
  const bool ok = manager->DoPromptFileName(path, DocManagerEx::AFX_IDS_SAVEFILECOPY,
                                            DocManagerEx::OFN_HIDEREADONLY, false, nullptr);
  manager->SetDialogRunner(nullptr);
  manager->Settings().extended = false;
  return ok;
}

}  // namespace

TEST_F(TAppTest, FormatPageEditsOfASavePromptAreKeptAcrossARestart) {
  const std::string file = (dir / "copy.tif").string();
  Run([&](CTovrinApp&) {
    EXPECT_TRUE(Prompt([&](FileDialogEx::CFileDialogEx& dialog) {
      edits::EditEveryPage(dialog);
      dialog.selectFile(QString::fromStdString(file));
      dialog.accept();
      return dialog.result();
    }));
  });

  const std::vector<std::uint8_t> block = StoredProgCfg(*Store());
  ASSERT_EQ(block.size(), shell::kProgCfgSize);
  EXPECT_EQ(edits::Le32(block, 28), FF_TIFF) << "the format chosen last";
  edits::ExpectEditedRecords(block, 64, 68, 96, 128);

  int prompts = 0;
  Run([&](CTovrinApp&) {
    Prompt([&](FileDialogEx::CFileDialogEx& dialog) {
      ++prompts;
      edits::ExpectEveryPageShowsTheEdits(dialog, false);
      dialog.reject();
      return dialog.result();
    });
  });
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(sink.Texts().empty()) << sink.Texts().front();
}
