#include "platform/qt/app_messages.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace platform::qt;

namespace {

// A record of the usual shape: operation, answered, then the payload.
struct TTestRecord {
  std::int32_t operation = APP_OP_READ;
  std::uint8_t answered = 0;
  std::int32_t value = 0;
};

struct TReceiver {
  QObject object;
  TMessageMap* map = new TMessageMap(&object);
  std::vector<std::pair<WPARAM, bool>> seen;  // wParam, posted
};

void DrainEvents() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace

TEST(AppMessages, NumbersAreTheProgramsPrivateRangeAndReservedWithQt) {
  EXPECT_EQ(WM_APP, 0x8000u);
  EXPECT_EQ(WM_APP_FRAME_NOTIFY, 36867u);
  EXPECT_EQ(WM_APP_VIEW_CREATED, 36893u);
  EXPECT_EQ(WM_APP_OPTS_CATEGORY, 36902u);
  EXPECT_EQ(WM_APP_APPLOOK_CHANGED, 36931u);
  EXPECT_EQ(WM_APP_FULLSCREEN_ACTIVITY, 36923u);
  EXPECT_TRUE(RegisterAppMessages());
  // Qt gives a reserved number to nobody else.
  EXPECT_NE(QEvent::registerEventType(static_cast<int>(WM_APP_PANE_COMMAND)),
            static_cast<int>(WM_APP_PANE_COMMAND));
}

TEST(AppMessages, SendOnTheUiThreadIsSynchronousAndTheReceiverAnswersTheRecord) {
  TReceiver r;
  r.map->On(WM_APP_PANE_COMMAND, [&](WPARAM w, LPARAM l) -> LRESULT {
    auto* rec = RecordOf<TTestRecord>(l);
    r.seen.push_back({w, false});
    if (rec->operation == APP_OP_READ) {
      rec->value = 42;
      rec->answered = 1;
    }
    return 7;
  });
  TTestRecord rec;
  EXPECT_EQ(SendAppRecord(&r.object, WM_APP_PANE_COMMAND, 6, rec), 7);
  EXPECT_EQ(rec.answered, 1);
  EXPECT_EQ(rec.value, 42);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].first, 6u);

  // An operation the receiver does not serve stays unanswered.
  TTestRecord other;
  other.operation = APP_OP_ACTION;
  SendAppRecord(&r.object, WM_APP_PANE_COMMAND, 6, other);
  EXPECT_EQ(other.answered, 0);
}

TEST(AppMessages, UnhandledMessagesAndMissingTargetsGiveZeroAndLeaveTheRecordUnanswered) {
  TReceiver r;
  r.map->On(WM_APP_PANE_LAYOUT, [](WPARAM, LPARAM) -> LRESULT { return 1; });
  TTestRecord rec;
  EXPECT_EQ(SendAppRecord(&r.object, WM_APP_ZOOM_SETTINGS, 0, rec), 0);
  EXPECT_EQ(rec.answered, 0);
  EXPECT_EQ(SendAppMessage(nullptr, WM_APP_PANE_LAYOUT), 0);
  EXPECT_FALSE(PostAppMessage(nullptr, WM_APP_PANE_LAYOUT));
  // Ordinary events pass the map untouched.
  QEvent plain(QEvent::User);
  EXPECT_FALSE(r.map->Dispatch(&plain));
}

TEST(AppMessages, AWorkerNeverWaitsForTheUiThread) {
  TReceiver r;
  std::atomic<int> ran{0};
  r.map->OnEvent(WM_APP_CONTROLLER_UPDATE, [&](TAppMessageEvent& e) {
    r.seen.push_back({e.WParam(), e.Posted()});
    ++ran;
  });
  r.map->On(WM_APP_OPTS_CATEGORY, [&](WPARAM, LPARAM l) -> LRESULT {
    RecordOf<TTestRecord>(l)->answered = 1;
    ++ran;
    return 1;
  });

  TTestRecord rec;
  LRESULT plainResult = -1, recordResult = -1;
  // The UI thread does not run its loop while the worker works: a blocking
  // send would hang here.
  std::thread worker([&] {
    plainResult = SendAppMessage(&r.object, WM_APP_CONTROLLER_UPDATE, 1, 0);
    recordResult = SendAppRecord(&r.object, WM_APP_OPTS_CATEGORY, 6, rec);
  });
  worker.join();
  EXPECT_EQ(plainResult, 0);
  EXPECT_EQ(recordResult, 0);
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(rec.answered, 0) << "a record on a worker's stack is never handed to the UI thread";

  DrainEvents();
  // The plain message arrived later, posted; the record never did.
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].first, 1u);
  EXPECT_TRUE(r.seen[0].second);
  EXPECT_EQ(ran.load(), 1);
}

TEST(AppMessages, PostedRecordsAreCopiesOwnedByTheEvent) {
  TReceiver r;
  std::vector<std::int32_t> values;
  r.map->On(WM_APP_TIME_TICK, [&](WPARAM, LPARAM l) -> LRESULT {
    values.push_back(RecordOf<TTestRecord>(l)->value);
    return 0;
  });
  std::thread worker([&] {
    TTestRecord rec;
    for (int i = 1; i <= 3; ++i) {
      rec.value = i * 10;
      EXPECT_TRUE(PostAppRecord(&r.object, WM_APP_TIME_TICK, 0, rec));
    }
    rec.value = -1;  // changing or losing the original must not matter
  });
  worker.join();
  DrainEvents();
  EXPECT_EQ(values, (std::vector<std::int32_t>{10, 20, 30}));
}

TEST(AppMessages, PostsToATargetDestroyedBeforeDeliveryAreDropped) {
  auto r = std::make_unique<TReceiver>();
  int ran = 0;
  r->map->On(WM_APP_CHANNEL_SLIDER, [&](WPARAM, LPARAM) -> LRESULT { return ++ran; });
  PostAppMessage(&r->object, WM_APP_CHANNEL_SLIDER, 2, 3);
  PostAppRecord(&r->object, WM_APP_CHANNEL_SLIDER, 2, TTestRecord{});
  r.reset();
  DrainEvents();
  EXPECT_EQ(ran, 0);
}

TEST(AppMessages, FrameNoticeKeepsTheOperationAnsweredCodeOrder) {
  TFrameNotice n;
  EXPECT_EQ(n.operation, APP_OP_WRITE);
  EXPECT_EQ(n.answered, 0);
  EXPECT_LT(offsetof(TFrameNotice, operation), offsetof(TFrameNotice, answered));
  EXPECT_LT(offsetof(TFrameNotice, answered), offsetof(TFrameNotice, code));
  EXPECT_EQ(FRAME_REQ_EXPLORER_ADD_DOC, 36925);
  EXPECT_EQ(FRAME_REQ_SHOW_PROPERTIES, 36930);
}
