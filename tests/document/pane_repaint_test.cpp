// Which panes of a document window repaint: a picture-in-picture inset
// follows its channel and its switch, and a change of the panes' channels
// redraws only the panes whose channel changed.

#include <QApplication>
#include <QEvent>
#include <QPointer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "document_fixture.h"
#include "open_fixture.h"
#include "platform/qt/app_messages.h"
#include "shell/command_ids.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
namespace pq = platform::qt;

namespace {

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
 public:
  explicit TPaintCounter(QWidget* widget) : m_Widget(widget) { widget->installEventFilter(this); }
  ~TPaintCounter() override {
    if (m_Widget) m_Widget->removeEventFilter(this);
  }
  TPaintCounter(const TPaintCounter&) = delete;
  TPaintCounter& operator=(const TPaintCounter&) = delete;
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }

 private:
  QPointer<QWidget> m_Widget;
};

// Delivers every pending event, paints included.
void Settle() {
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    QApplication::sendPostedEvents();
  }
}

class PaneRepaintTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  PaneRepaintTest() {
    // All four panes on screen.
    TPaneLayoutState state;
    state.operation = PANE_LAYOUT_SET;
    state.controllerShown = 1;
    state.bottomRowShown = 1;
    state.rightColumnShown = 1;
    pq::SendAppRecord(w.frame.data(), pq::WM_APP_PANE_LAYOUT, 0, state);
    Settle();
  }
  std::string Picture(const std::string& name, int width) {
    const std::string file = Path(name);
    EXPECT_TRUE(open_test::ToImage(open_test::Pattern(width, 6)).save(QString::fromStdString(file), "PNG"));
    return file;
  }
  bool OpenInto(int channel, const std::string& file) {
    TOpenSourceArgs args;
    args.path = file;
    args.channel = channel;
    return doc.OpenSourceInChannel(args);
  }
  QWidget* Viewport(int pane) { return w.Pane(pane).viewport(); }

  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
};

TEST_F(PaneRepaintTest, AnInsetRepaintsWhenItsChannelGetsANewPicture) {
  ASSERT_FALSE(Viewport(0)->isHidden());
  ASSERT_EQ(doc.m_nPaneChannel[0], 0);
  ASSERT_EQ(doc.m_Pip[0].nInsetChannel, 2);
  struct TCase {
    const char* what;
    bool enabled;
    int inset;
    bool repaints;
  };
  const TCase cases[] = {
      {"inset of the opened channel", true, 2, true},
      {"inset switched off", false, 2, false},
      {"inset of another channel", true, 3, false},
  };
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    doc.m_Pip[0].bEnabled = c.enabled;
    doc.m_Pip[0].nInsetChannel = c.inset;
    Settle();
    TPaintCounter paints(Viewport(0));
    ASSERT_TRUE(OpenInto(2, Picture("p" + std::to_string(n++) + ".png", 9)));
    Settle();
    EXPECT_EQ(paints.count > 0, c.repaints) << paints.count << " paints";
  }
}

TEST_F(PaneRepaintTest, SwitchingAnInsetRepaintsItsPaneOnly) {
  for (UINT id : {shell::ID_VIEW_PIP_PRIMARY, shell::ID_VIEW_PIP_ASSISTANT}) {
    const int pane = id == shell::ID_VIEW_PIP_PRIMARY ? 0 : 1;
    SCOPED_TRACE(pane);
    for (int turn = 0; turn < 2; ++turn) {  // on, then off again
      Settle();
      TPaintCounter own(Viewport(pane));
      TPaintCounter other(Viewport(1 - pane));
      ASSERT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Command, nullptr));
      Settle();
      EXPECT_GT(own.count, 0) << "turn " << turn;
      EXPECT_EQ(other.count, 0) << "turn " << turn;
    }
  }
}

TEST_F(PaneRepaintTest, NewPaneChannelsRedrawOnlyThePanesWhoseChannelChanged) {
  for (int ch = 0; ch < 4; ++ch)
    ASSERT_TRUE(OpenInto(ch, Picture("c" + std::to_string(ch) + ".png", 5 + ch)));
  Settle();
  std::vector<std::unique_ptr<TPaintCounter>> paints;
  for (int pane = 0; pane < 4; ++pane) {
    ASSERT_FALSE(Viewport(pane)->isHidden()) << pane;
    paints.push_back(std::make_unique<TPaintCounter>(Viewport(pane)));
  }
  TPaneLayoutExchange write;
  write.operation = 2;
  const std::int32_t channels[4] = {0, 3, 2, 1};  // panes 0 and 2 keep theirs
  std::copy(channels, channels + 4, write.paneChannel);
  ASSERT_EQ(pq::SendAppMessage(w.frame.data(), pq::WM_APP_PANE_COMMAND, PANE_CMD_PANE_CHANNELS,
                               pq::RecordParam(&write)),
            1);
  Settle();
  EXPECT_EQ(paints[0]->count, 0);
  EXPECT_GT(paints[1]->count, 0);
  EXPECT_EQ(paints[2]->count, 0);
  EXPECT_GT(paints[3]->count, 0);
  EXPECT_EQ(doc.m_nPaneChannel[1], 3);
  EXPECT_EQ(doc.m_nPaneChannel[3], 1);
}

}  // namespace
