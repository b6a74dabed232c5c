#include "document/child_frame.h"

#include <QMouseEvent>
#include <QSplitter>
#include <QSplitterHandle>

#include <gtest/gtest.h>

#include "document/command_ids.h"
#include "document_fixture.h"

using namespace ZarnTypes;
using namespace ZarnCommands;
using ChildFrameSplitter::CChildFrameSplitter;
using doc_test::TDocumentWindow;
namespace pq = platform::qt;

namespace {

struct TLayout {
  bool controller, bottom, right, primaryOnly;
  friend bool operator==(const TLayout&, const TLayout&) = default;
};

TLayout LayoutOf(const CChildFrameSplitter& f) {
  return {f.ControllerShown(), f.BottomRowShown(), f.RightColumnShown(), f.PrimaryOnly()};
}

std::ostream& operator<<(std::ostream& os, const TLayout& l) {
  return os << "{controller " << l.controller << ", bottom " << l.bottom << ", right " << l.right
            << ", primary only " << l.primaryOnly << "}";
}

// Which panes can be seen (the widgets, not only the flags).
std::vector<bool> VisiblePanes(CChildFrameSplitter& f) {
  std::vector<bool> v;
  v.push_back(f.ControllerView()->isVisibleTo(&f));
  for (int i = 0; i < 4; ++i) v.push_back(f.PaneView(i)->isVisibleTo(&f));
  return v;
}

bool RunCommand(CChildFrameSplitter& f, UINT id) {
  return f.FrameTarget()->OnCmdMsg(id, pq::TCmdCode::Command, nullptr);
}

int Check(CChildFrameSplitter& f, UINT id) {
  pq::TCmdUI ui(id);
  EXPECT_TRUE(f.FrameTarget()->OnCmdMsg(id, pq::TCmdCode::Update, &ui));
  return ui.Check().value_or(-1);
}

pq::LRESULT SendLayout(CChildFrameSplitter& f, TPaneLayoutState& state) {
  return pq::SendAppRecord(&f, pq::WM_APP_PANE_LAYOUT, 0, state);
}

pq::LRESULT PaneCommand(CChildFrameSplitter& f, int command, pq::LPARAM param = 0) {
  return pq::SendAppMessage(&f, pq::WM_APP_PANE_COMMAND, static_cast<pq::WPARAM>(command), param);
}

// Sets the layout to all panes shown.
void ShowAll(CChildFrameSplitter& f) {
  TPaneLayoutState state;
  state.operation = PANE_LAYOUT_SET;
  state.controllerShown = state.bottomRowShown = state.rightColumnShown = 1;
  SendLayout(f, state);
  QApplication::processEvents();
}

}  // namespace

TEST(ChildFrameSizes, ControllerColumnIsAFifthOfTheScreenAtMost250) {
  const auto small = ChildFrameSplitter::ComputeInitialSizes(1024, 768);
  EXPECT_EQ(small.controllerWidth, 204);
  EXPECT_EQ(small.paneHeight, 512);
  const auto large = ChildFrameSplitter::ComputeInitialSizes(1920, 1080);
  EXPECT_EQ(large.controllerWidth, 250);
  EXPECT_EQ(large.paneHeight, 720);
}

TEST(ChildFrame, ANewWindowShowsThePrimaryPaneAlone) {
  doc_test::TRecordingMainWindow main;
  TDocumentWindow w(QSize(1200, 800), false);
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{true, true, true, false}));
  EXPECT_EQ(VisiblePanes(*w.frame), (std::vector<bool>{true, true, true, true, true}));

  w.frame->OnInitialUpdate();
  EXPECT_EQ(main.viewsCreated, 4);  // every video pane announces itself
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{false, false, false, true}));
  EXPECT_EQ(VisiblePanes(*w.frame), (std::vector<bool>{false, true, false, false, false}));
  EXPECT_TRUE(w.Doc().m_bSetUpDone);
  // The panes learnt their index, and commands go to a visible view.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(w.Pane(i).PaneIndex(), i);
  EXPECT_EQ(w.frame->ActiveView(), &w.Pane(0));
  EXPECT_EQ(w.frame->windowTitle(), QString::fromStdString(w.Doc().DocName() + " ||||"));
}

TEST(ChildFrame, PrimaryPaneCommandHidesWhatIsShownAndThenShowsAll) {
  TDocumentWindow w;
  ShowAll(*w.frame);
  w.frame->ToggleRightColumn();
  ASSERT_EQ(LayoutOf(*w.frame), (TLayout{true, true, false, false}));
  EXPECT_EQ(Check(*w.frame, ID_VIEW_PRIMARY_PANE), 0);

  ASSERT_TRUE(RunCommand(*w.frame, ID_VIEW_PRIMARY_PANE));
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{false, false, false, true}));
  EXPECT_EQ(Check(*w.frame, ID_VIEW_PRIMARY_PANE), 1);
  EXPECT_EQ(VisiblePanes(*w.frame), (std::vector<bool>{false, true, false, false, false}));

  ASSERT_TRUE(RunCommand(*w.frame, ID_VIEW_PRIMARY_PANE));
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{true, true, true, false}));
  EXPECT_EQ(VisiblePanes(*w.frame), (std::vector<bool>{true, true, true, true, true}));
}

TEST(ChildFrame, EachLayoutCommandTogglesItsPartAndItsCheckMark) {
  TDocumentWindow w;
  ShowAll(*w.frame);
  const struct {
    UINT id;
    std::vector<bool> visibleAfter;  // controller, panes 0..3
    TLayout layoutAfter;
  } cases[] = {
      {ID_VIEW_CONTROLLER_PANE, {false, true, true, true, true}, {false, true, true, false}},
      {ID_VIEW_RIGHT_COLUMN_PANES, {true, true, false, true, false}, {true, true, false, false}},
      {ID_VIEW_BOTTOM_ROW_PANES, {true, true, true, false, false}, {true, false, true, false}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Check(*w.frame, c.id), 1) << c.id;
    ASSERT_TRUE(RunCommand(*w.frame, c.id));
    EXPECT_EQ(LayoutOf(*w.frame), c.layoutAfter) << c.id;
    EXPECT_EQ(VisiblePanes(*w.frame), c.visibleAfter) << c.id;
    EXPECT_EQ(Check(*w.frame, c.id), 0) << c.id;
    ASSERT_TRUE(RunCommand(*w.frame, c.id));
    EXPECT_EQ(LayoutOf(*w.frame), (TLayout{true, true, true, false})) << c.id;
  }
}

TEST(ChildFrame, MenuCommandsNotifyTheMainFrameButPaneMessagesDoNot) {
  doc_test::TRecordingMainWindow main;
  TDocumentWindow w;
  main.notices.clear();
  ASSERT_TRUE(RunCommand(*w.frame, ID_VIEW_PRIMARY_PANE));
  ASSERT_TRUE(RunCommand(*w.frame, ID_VIEW_CONTROLLER_PANE));
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{7, int(ID_VIEW_PRIMARY_PANE)},
                                                            {7, int(ID_VIEW_CONTROLLER_PANE)}}));
  main.notices.clear();
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_TOGGLE_BOTTOM_ROW), 1);
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_TOGGLE_RIGHT_COLUMN), 1);
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_TOGGLE_CONTROLLER), 1);
  EXPECT_TRUE(main.notices.empty());
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{true, false, false, false}));
}

TEST(ChildFrame, PaneLayoutCommandIsAlwaysEnabledAndNotifiesWhenTheDialogEndsWithOk) {
  TDocumentWindow w;
  pq::TCmdUI ui(ID_VIEW_PANE_LAYOUT);
  ui.Enable(false);
  ASSERT_TRUE(w.frame->FrameTarget()->OnCmdMsg(ID_VIEW_PANE_LAYOUT, pq::TCmdCode::Update, &ui));
  EXPECT_TRUE(ui.Enabled());

  doc_test::TRecordingMainWindow main;
  int runs = 0;
  ChildFrameSplitter::SetPaneLayoutDialog([&](QWidget* frame) {
    EXPECT_EQ(frame, w.frame.data());
    return ++runs == 1;  // OK the first time, Cancel the second
  });
  pq::TCmdUI enabled(ID_VIEW_PANE_LAYOUT);
  w.frame->FrameTarget()->OnCmdMsg(ID_VIEW_PANE_LAYOUT, pq::TCmdCode::Update, &enabled);
  EXPECT_TRUE(enabled.Enabled());
  RunCommand(*w.frame, ID_VIEW_PANE_LAYOUT);
  RunCommand(*w.frame, ID_VIEW_PANE_LAYOUT);
  ChildFrameSplitter::SetPaneLayoutDialog(nullptr);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{7, int(ID_VIEW_PANE_LAYOUT)}}));
}

TEST(ChildFrame, LayoutMessageGetSetAndPrimaryOnly) {
  TDocumentWindow w;
  TPaneLayoutState get;
  get.operation = PANE_LAYOUT_GET;
  ASSERT_EQ(SendLayout(*w.frame, get), 1);
  EXPECT_EQ(get.answered, 1);
  EXPECT_EQ(get.controllerWidth, w.frame->InitialSizes().controllerWidth);
  EXPECT_EQ(get.paneHeightLeft, w.frame->InitialSizes().paneHeight);
  EXPECT_EQ(get.paneHeightRight, w.frame->InitialSizes().paneHeight);
  EXPECT_EQ((TLayout{get.controllerShown != 0, get.bottomRowShown != 0, get.rightColumnShown != 0,
                     get.primaryOnly != 0}),
            (TLayout{false, false, false, true}));

  // Primary only when everything is already hidden, or with a value other
  // than 1: nothing changes, answered stays as sent, the result is 1.
  for (int value : {1, 0, 2}) {
    TPaneLayoutState p;
    p.operation = PANE_LAYOUT_PRIMARY_ONLY;
    p.value = value;
    p.answered = 7;
    EXPECT_EQ(SendLayout(*w.frame, p), 1);
    EXPECT_EQ(p.answered, 7);
    EXPECT_EQ(LayoutOf(*w.frame), (TLayout{false, false, false, true})) << value;
  }
  ShowAll(*w.frame);
  TPaneLayoutState zero;
  zero.operation = PANE_LAYOUT_PRIMARY_ONLY;
  zero.value = 0;
  SendLayout(*w.frame, zero);
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{true, true, true, false}));

  // A set equal to the state changes nothing but is answered; the sizes and
  // the primary-only byte of a set are ignored.
  TPaneLayoutState same;
  same.operation = PANE_LAYOUT_SET;
  same.controllerShown = same.bottomRowShown = same.rightColumnShown = 1;
  same.primaryOnly = 1;
  same.controllerWidth = 5;
  EXPECT_EQ(SendLayout(*w.frame, same), 1);
  EXPECT_EQ(same.answered, 1);
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{true, true, true, false}));

  TPaneLayoutState partial;
  partial.operation = PANE_LAYOUT_SET;
  partial.controllerShown = 1;
  partial.rightColumnShown = 1;
  SendLayout(*w.frame, partial);
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{true, false, true, false}));

  TPaneLayoutState unknown;
  unknown.operation = 3;
  EXPECT_EQ(SendLayout(*w.frame, unknown), 0);
  EXPECT_EQ(unknown.answered, 0);
}

TEST(ChildFrame, ShowChannelBringsBackTheRowAndColumnOfItsPanes) {
  TDocumentWindow w;
  // Only in pane 0: nothing changes.
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_SHOW_CHANNEL, 0), 1);
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{false, false, false, true}));
  // Channel 2 is in pane 2 (bottom left).
  PaneCommand(*w.frame, PANE_CMD_SHOW_CHANNEL, 2);
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{false, true, false, false}));
  // Channel 1 is in pane 1 (top right).
  PaneCommand(*w.frame, PANE_CMD_SHOW_CHANNEL, 1);
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{false, true, true, false}));
  // The controller column comes back only by command.
  EXPECT_FALSE(w.frame->ControllerShown());
  // Channels outside 0..3 change nothing.
  PaneCommand(*w.frame, PANE_CMD_TOGGLE_BOTTOM_ROW);
  PaneCommand(*w.frame, PANE_CMD_SHOW_CHANNEL, 7);
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{false, false, true, false}));
}

TEST(ChildFrame, ShowChannelOfPaneThreeShowsOnlyWhatIsHidden) {
  TDocumentWindow w;
  PaneCommand(*w.frame, PANE_CMD_TOGGLE_RIGHT_COLUMN);
  QApplication::processEvents();
  ASSERT_EQ(LayoutOf(*w.frame), (TLayout{false, false, true, false}));
  // Make the right column narrow: it is not enlarged, since it was shown.
  auto* inner = w.frame->InnerSplitter();
  const auto widths = inner->ColumnWidths();
  const int total = widths[0] + widths[1];
  inner->SetColumnWidths({total - 30, 30});
  QApplication::processEvents();
  ASSERT_EQ(inner->ColumnWidths()[1], 30);
  PaneCommand(*w.frame, PANE_CMD_SHOW_CHANNEL, 3);
  QApplication::processEvents();
  EXPECT_EQ(LayoutOf(*w.frame), (TLayout{false, true, true, false}));
  EXPECT_EQ(inner->ColumnWidths()[1], 30);
}

TEST(ChildFrame, ARowTooLowToSeeGetsRoomFromTheFirstRow) {
  TDocumentWindow w;
  ShowAll(*w.frame);
  auto* inner = w.frame->InnerSplitter();
  const auto heights = inner->RowHeights();
  const int total = heights[0] + heights[1];
  ASSERT_GT(total, 200);
  inner->SetRowHeights({total - 30, 30});
  QApplication::processEvents();
  ASSERT_EQ(inner->RowHeights()[1], 30);
  PaneCommand(*w.frame, PANE_CMD_SHOW_CHANNEL, 2);
  QApplication::processEvents();
  EXPECT_EQ(inner->RowHeights()[0], total - 30 - 50);
  EXPECT_EQ(inner->RowHeights()[1], 80);

  // A first row of 100 pixels or less is halved (plus one) instead.
  w.frame->resize(1200, 120);
  QApplication::processEvents();
  const auto small = inner->RowHeights();
  const int smallTotal = small[0] + small[1];
  ASSERT_LT(smallTotal, 150);
  inner->SetRowHeights({smallTotal - 30, 30});
  QApplication::processEvents();
  const int row0 = inner->RowHeights()[0];
  ASSERT_LE(row0, 100);
  ASSERT_EQ(inner->RowHeights()[1], 30);
  PaneCommand(*w.frame, PANE_CMD_SHOW_CHANNEL, 2);
  QApplication::processEvents();
  EXPECT_EQ(inner->RowHeights()[0], row0 / 2 + 1);
}

TEST(ChildFrame, ControllerCollapsesTo15AndRestoresTo250) {
  TDocumentWindow w;
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_COLLAPSE_CONTROLLER), 1);  // hidden: nothing
  EXPECT_FALSE(w.frame->ControllerCollapsed());
  ShowAll(*w.frame);
  PaneCommand(*w.frame, PANE_CMD_COLLAPSE_CONTROLLER);
  QApplication::processEvents();
  EXPECT_TRUE(w.frame->ControllerCollapsed());
  EXPECT_EQ(w.frame->OuterSplitter()->ColumnWidths()[0], 15);
  PaneCommand(*w.frame, PANE_CMD_COLLAPSE_CONTROLLER);
  QApplication::processEvents();
  EXPECT_FALSE(w.frame->ControllerCollapsed());
  EXPECT_EQ(w.frame->OuterSplitter()->ColumnWidths()[0], 250);
}

TEST(ChildFrame, HiddenColumnsAndRowsComeBackAtTheirSize) {
  TDocumentWindow w;
  ShowAll(*w.frame);
  auto* inner = w.frame->InnerSplitter();
  const auto widths = inner->ColumnWidths();
  inner->SetColumnWidths({widths[0] + widths[1] - 200, 200});
  inner->SetRowHeights({500, 150});
  QApplication::processEvents();
  const auto before = inner->ColumnWidths();
  const auto beforeRows = inner->RowHeights();
  w.frame->ToggleRightColumn();
  w.frame->ToggleBottomRow();
  QApplication::processEvents();
  EXPECT_EQ(inner->ColumnWidths()[1], 0);
  w.frame->ToggleRightColumn();
  w.frame->ToggleBottomRow();
  QApplication::processEvents();
  EXPECT_EQ(inner->ColumnWidths(), before);
  EXPECT_EQ(inner->RowHeights(), beforeRows);
}

TEST(ChildFrame, DraggingAColumnSplitInOneRowMovesItInTheOther) {
  TDocumentWindow w;
  ShowAll(*w.frame);
  auto* top = qobject_cast<QSplitter*>(w.frame->InnerSplitter()->widget(0));
  auto* bottom = qobject_cast<QSplitter*>(w.frame->InnerSplitter()->widget(1));
  ASSERT_TRUE(top && bottom);
  QSplitterHandle* handle = top->handle(1);
  const QPoint start = handle->rect().center();
  const QPoint globalStart = handle->mapToGlobal(start);
  const int before = top->sizes()[0];
  QMouseEvent press(QEvent::MouseButtonPress, start, globalStart, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(handle, &press);
  const QPoint end = start + QPoint(-120, 0);
  QMouseEvent move(QEvent::MouseMove, end, handle->mapToGlobal(end), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(handle, &move);
  QMouseEvent release(QEvent::MouseButtonRelease, end, handle->mapToGlobal(end), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(handle, &release);
  QApplication::processEvents();
  ASSERT_EQ(top->sizes()[0], before - 120);
  EXPECT_EQ(bottom->sizes(), top->sizes());
}

TEST(ChildFrame, HidingTheActiveControllerMakesThePrimaryPaneActive) {
  TDocumentWindow w;
  ShowAll(*w.frame);
  w.frame->SetActiveView(w.frame->ControllerView());
  ASSERT_TRUE(RunCommand(*w.frame, ID_VIEW_CONTROLLER_PANE));
  EXPECT_EQ(w.frame->ActiveView(), &w.Pane(0));

  // A hidden column or row hands its active pane to the visible one.
  ASSERT_TRUE(RunCommand(*w.frame, ID_VIEW_CONTROLLER_PANE));
  w.frame->SetActiveView(&w.Pane(3));
  w.frame->ToggleRightColumn();
  EXPECT_EQ(w.frame->ActiveView(), &w.Pane(2));
  w.frame->ToggleBottomRow();
  EXPECT_EQ(w.frame->ActiveView(), &w.Pane(0));
}

TEST(ChildFrame, CommandsOfOtherViewsWorkWhicheverPaneIsActive) {
  TDocumentWindow w;
  ShowAll(*w.frame);
  w.frame->SetActiveView(&w.Pane(2));
  // The active view comes first in the views the shell routes to.
  const auto targets = w.frame->ViewTargets();
  ASSERT_EQ(targets.size(), 5u);
  EXPECT_EQ(targets.front(), static_cast<pq::ICommandTarget*>(&w.Pane(2)));
  // The controller pane's "Close Controller" reaches it through the frame.
  ASSERT_TRUE(RunCommand(*w.frame, ID_CONTROLLER_CLOSE));
  EXPECT_FALSE(w.frame->ControllerShown());
}

TEST(ChildFrame, PaneChannelsAndStreamingQueries) {
  TDocumentWindow w;
  TPaneLayoutExchange read;
  read.operation = 1;
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_PANE_CHANNELS, pq::RecordParam(&read)), 1);
  EXPECT_EQ(read.answered, 1);
  EXPECT_EQ(std::vector<int>(read.paneChannel, read.paneChannel + 4), (std::vector<int>{0, 1, 2, 3}));

  TPaneLayoutExchange write;
  write.operation = 2;
  const int channels[4] = {1, 0, 3, 9};  // 9 is no channel: pane 3 keeps its own
  std::copy(channels, channels + 4, write.paneChannel);
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_PANE_CHANNELS, pq::RecordParam(&write)), 1);
  EXPECT_EQ(write.answered, 1);
  EXPECT_EQ(std::vector<int>(w.Doc().m_nPaneChannel, w.Doc().m_nPaneChannel + 4),
            (std::vector<int>{1, 0, 3, 3}));

  TPaneLayoutExchange other;
  other.operation = 3;
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_PANE_CHANNELS, pq::RecordParam(&other)), 0);
  EXPECT_EQ(other.answered, 0);

  TStreamingQuery query;
  query.operation = 1;
  w.Doc().m_Engine.m_bRunning = true;
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_QUERY_STREAMING, pq::RecordParam(&query)), 1);
  EXPECT_EQ(query.answered, 1);
  EXPECT_EQ(query.streaming, 1);
  w.Doc().m_Engine.m_bRunning = false;
  TStreamingQuery write2;
  write2.operation = 2;
  EXPECT_EQ(PaneCommand(*w.frame, PANE_CMD_QUERY_STREAMING, pq::RecordParam(&write2)), 1);
  EXPECT_EQ(write2.answered, 0);
  EXPECT_EQ(PaneCommand(*w.frame, 99), 1);
}

TEST(ChildFrameClosing, AQuietDocumentClosesAtOnceAndGoesWithItsWindow) {
  TDocumentWindow w;
  EXPECT_TRUE(w.frame->close());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(w.frame.isNull());
}

TEST(ChildFrameClosing, APlayingDocumentStopsItsEngineAndClosesOnceItHasStopped) {
  TDocumentWindow w;
  auto& engine = w.Doc().m_Engine;
  engine.m_bRunning = true;
  EXPECT_FALSE(w.frame->close());
  EXPECT_TRUE(w.frame->isVisible());
  EXPECT_TRUE(engine.StopRequested());
  EXPECT_TRUE(w.frame->WaitingToClose());
  // A second close while waiting changes nothing.
  EXPECT_FALSE(w.frame->close());
  // The engine's session ends a little later.
  QTimer::singleShot(60, [&engine] { engine.m_bRunning = false; });
  EXPECT_TRUE(doc_test::RunUntil([&] { return w.frame.isNull(); }));
}

TEST(ChildFrameClosing, AnEngineThatDoesNotStopKeepsTheWindowOpen) {
  TDocumentWindow w;
  w.frame->SetCloseWait(std::chrono::milliseconds(1), 5);
  w.Doc().m_Engine.m_bRunning = true;
  EXPECT_FALSE(w.frame->close());
  EXPECT_TRUE(doc_test::RunUntil([&] { return !w.frame->WaitingToClose(); }));
  EXPECT_TRUE(w.frame->isVisible());
  // Once stopped, closing works as usual.
  w.Doc().m_Engine.m_bRunning = false;
  EXPECT_TRUE(w.frame->close());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(w.frame.isNull());
}
