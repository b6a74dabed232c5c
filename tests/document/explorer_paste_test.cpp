// The explorer's paste action answers whether a picture was pasted.

#include <gtest/gtest.h>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include "document/zarn_doc.h"
#include "document_fixture.h"

namespace {

using doc_test::TDocumentWindow;

TEST(ZarnDocumentExplorer, PasteAnswersFalseWhenNothingWasPasted) {
  struct TCase {
    const char* what;
    bool channelZeroShown;
    bool pictureOnClipboard;
    bool answer;
  };
  const TCase cases[] = {
      {"no pane shows channel 0", false, true, false},
      {"the clipboard holds no picture", true, false, false},
      {"a picture into a pane of channel 0", true, true, true},
  };
  for (const TCase& c : cases) {
    QGuiApplication::clipboard()->clear();
    TDocumentWindow w;
    auto& doc = w.Doc();
    for (int pane = 0; pane < ZarnTypes::kPaneCount; ++pane) doc.m_nPaneChannel[pane] = 1;
    if (c.channelZeroShown) doc.m_nPaneChannel[1] = 0;
    if (c.pictureOnClipboard) {
      QImage picture(6, 4, QImage::Format_RGB32);
      picture.fill(QColor(10, 200, 30));
      QGuiApplication::clipboard()->setImage(picture);
    }
    ZarnTypes::TExplorerDocInfo info;
    ZarnTypes::TExplorerRequest request;
    request.nOperation = ZarnTypes::EXPLORER_OP_ACTION;
    request.pInfo = &info;
    info.nAction = ZarnTypes::EXPLORER_ACT_PASTE;
    EXPECT_EQ(doc.OnExplorerRequest(request), c.answer) << c.what;
    EXPECT_EQ(request.bAnswered, c.answer) << c.what;
    EXPECT_EQ(static_cast<bool>(doc.m_Source[0].bOpen), c.answer) << c.what;
    EXPECT_FALSE(doc.m_Source[1].bOpen) << c.what;
  }
  QGuiApplication::clipboard()->clear();
}

}  // namespace
