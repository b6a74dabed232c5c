// The program's replaceable warning sound and the message box that plays it.
#include "platform/qt/beep.h"

#include <gtest/gtest.h>

#include "shell/message_box_dlg.h"

TEST(Beep, ACounterCountsWhileItLivesAndPutsThePreviousSoundBack) {
  int outer = 0;
  platform::qt::TBeepFn previous = platform::qt::SetBeep([&] { ++outer; });
  platform::qt::Beep();
  {
    platform::qt::TBeepCounter counter;
    platform::qt::Beep();
    platform::qt::Beep();
    EXPECT_EQ(counter.Count(), 2);
  }
  platform::qt::Beep();
  EXPECT_EQ(outer, 2);
  platform::qt::SetBeep(std::move(previous));
}

TEST(Beep, AMessageBoxWithoutItsOwnSoundPlaysTheProgramsBeep) {
  platform::qt::TBeepCounter counter;
  MessageBoxDlg::SetBeepHook({});
  {
    MessageBoxDlg::CMessageBoxDlg box(nullptr, "text", "c", 0);
    box.OnInitDialog();
  }
  EXPECT_EQ(counter.Count(), 1);
  {
    MessageBoxDlg::CMessageBoxDlg box(nullptr, "text", "c", MessageBoxDlg::MBX_NO_SOUND);
    box.OnInitDialog();
  }
  EXPECT_EQ(counter.Count(), 1);
}
