// A walk through a channel's folder keeps the controller pane in step with
// each file it opens.

#include <gtest/gtest.h>
#include <QImage>
#include <QSlider>

#include <filesystem>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "tests/support/media/counter_fixtures.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using doc_test::TDocumentWindow;

TEST(WalkController, AWalkFromAStillToAnAviEnablesThePositionSlider) {
  const auto clip = tovrin_test_media::CounterFile(tovrin_test_media::TCounterFormat::AVI_MJPEG, 64, 48);
  if (clip.path.empty()) GTEST_SKIP() << "no AVI encoder on this machine";
  tovrin_test::TTempDir dir;
  const fs::path still = dir.Path() / "a.bmp";
  QImage picture(16, 8, QImage::Format_RGB32);
  picture.fill(QColor(40, 90, 160));
  ASSERT_TRUE(picture.save(QString::fromStdString(still.string()), "BMP"));
  fs::copy_file(clip.path, dir.Path() / "b.avi");

  TDocumentWindow w;
  auto& doc = w.Doc();
  ASSERT_TRUE(doc.OpenSource(still.string(), 0));
  QSlider* slider = doc.ControllerView()->PositionSlider(0);
  EXPECT_FALSE(slider->isEnabled());  // a still has no position
  ASSERT_TRUE(doc.NavigateSourceList(ReadStream::SIBLING_NEXT));
  ASSERT_EQ(fs::path(doc.m_Source[0].sPath).filename(), "b.avi");
  EXPECT_TRUE(slider->isEnabled());
}

}  // namespace
