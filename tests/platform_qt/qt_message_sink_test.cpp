#include "platform/qt/qt_message_sink.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace platform;

namespace {

// Presses a button of every message box that opens while it lives and keeps
// the texts it saw.
class TBoxPresser {
 public:
  explicit TBoxPresser(QMessageBox::StandardButton press) : m_press(press) {
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      texts.push_back(box->text());
      captions.push_back(box->windowTitle());
      if (QAbstractButton* b = box->button(m_press))
        b->click();
      else
        box->reject();
    });
    m_timer.start();
  }
  std::vector<QString> texts, captions;

 private:
  QMessageBox::StandardButton m_press;
  QTimer m_timer;
};

}  // namespace

TEST(QtMessageSink, OnTheUiThreadTheChosenButtonIsReturned) {
  qt::TQtMessageSink sink;
  {
    TBoxPresser presser(QMessageBox::No);
    EXPECT_EQ(sink.Show({"Skip the file?", "Media source list", MB_YESNOCANCEL | MB_ICONQUESTION}), IDNO);
    ASSERT_EQ(presser.texts.size(), 1u);
    EXPECT_EQ(presser.texts[0], "Skip the file?");
    EXPECT_EQ(presser.captions[0], "Media source list");
  }
  {
    TBoxPresser presser(QMessageBox::Ok);
    EXPECT_EQ(sink.Show({"Done", "", MB_OK}), IDOK);
  }
  {
    // Closed without a button: Cancel, or OK for a box that has only OK.
    TBoxPresser presser(QMessageBox::NoButton);
    EXPECT_EQ(sink.Show({"Continue?", "", MB_OKCANCEL}), IDCANCEL);
    EXPECT_EQ(sink.Show({"Note", "", MB_OK}), IDOK);
  }
}

TEST(QtMessageSink, AWorkerGetsTheDefaultAnswerAtOnceAndTheBoxShowsLater) {
  qt::TQtMessageSink sink;
  TScopedMessageSink scoped(&sink);
  std::atomic<int> answer{0};
  // The UI thread does not run its event loop while the worker reports: a
  // worker that waited for the box would never come back.
  std::thread worker([&] { answer = ShowMessage("Error: cannot set video buffer", {}, MB_YESNO); });
  worker.join();
  EXPECT_EQ(answer.load(), IDYES);
  TBoxPresser presser(QMessageBox::Ok);
  for (int i = 0; i < 20 && presser.texts.empty(); ++i)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_EQ(presser.texts.size(), 1u);
  EXPECT_EQ(presser.texts[0], "Error: cannot set video buffer");
}
