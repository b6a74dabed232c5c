#include "options/opts_transform_2d.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "options/zarn_options.h"
#include "platform/message_sink.h"
#include "tests/options/layout_check.h"
#include "tests/support/message_fixture.h"

using namespace OptsTransform2D;
using namespace ZarnTypes;

namespace {

// Rows of the grid by operation.
constexpr int kRight = 0, kLeft = 1, k180 = 2, kVertical = 3, kHorizontal = 4, kDiagMain = 5, kDiagAnti = 6,
              kNone = 7, kReset = 8;

TTransform2DExchange ReadBlockOf(std::array<int, 4> codes) {
  TTransform2DExchange read;
  for (int ch = 0; ch < 4; ++ch) {
    read.channels[ch].flag = codes[ch] >= 0 ? 1 : 0;
    read.channels[ch].orientation = codes[ch] >= 0 ? codes[ch] : 8;
  }
  return read;
}

// A grid model over its own read block.
struct TGrid {
  explicit TGrid(std::array<int, 4> codes) : read(ReadBlockOf(codes)), items(&read) { items.Build(); }
  TTransform2DExchange read;
  CItems_T2D_List items;
};

}  // namespace

TEST(Transform2DGrid, OperationClicksComposeIntoThePendingOrientation) {
  struct Case {
    const char* name;
    int start;
    std::vector<int> rows;
    std::vector<int> pending;  // after each click
  };
  const Case cases[] = {
      {"right then left", 0, {kRight, kLeft}, {6, 0}},
      {"reflect vertical twice", 0, {kVertical, kVertical}, {7, 0}},
      {"right then reflect horizontal", 0, {kRight, kHorizontal}, {6, 5}},
      {"180 twice", 0, {k180, k180}, {4, 0}},
      {"the diagonals", 0, {kDiagMain, kDiagAnti}, {1, 4}},
      {"left four times", 0, {kLeft, kLeft, kLeft, kLeft}, {2, 4, 6, 0}},
      {"no transform gives 0", 3, {kRight, kNone}, {1, 0}},
      {"reset goes back to the code read, not 0", 2, {kRight, k180, kReset}, {0, 4, 2}},
      {"reset after no transform", 5, {kNone, kReset}, {0, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGrid g({c.start, -1, -1, -1});
    ASSERT_EQ(g.items.Pending(0), c.start);
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
      EXPECT_TRUE(g.items.ClickOperation(c.rows[i], 1));
      EXPECT_EQ(g.items.Pending(0), c.pending[i]) << "click " << i;
      EXPECT_TRUE(g.items.Cell(c.rows[i], 1).marked);
    }
  }
}

TEST(Transform2DGrid, EveryStartComesBackAfterAnOperationAndItsInverse) {
  // Pairs of rows that undo each other, and the four-fold rotation.
  const std::vector<std::vector<int>> identities = {{kRight, kLeft},
                                                    {kLeft, kRight},
                                                    {k180, k180},
                                                    {kVertical, kVertical},
                                                    {kHorizontal, kHorizontal},
                                                    {kDiagMain, kDiagMain},
                                                    {kDiagAnti, kDiagAnti},
                                                    {kRight, kRight, kRight, kRight},
                                                    {kVertical, kHorizontal, k180},
                                                    {kDiagMain, kRight, kVertical}};
  for (int start = 0; start < 8; ++start) {
    for (const std::vector<int>& rows : identities) {
      TGrid g({start, -1, -1, -1});
      for (int row : rows) ASSERT_TRUE(g.items.ClickOperation(row, 1));
      EXPECT_EQ(g.items.Pending(0), start) << "start " << start << ", first row " << rows[0];
    }
    // ... and an operation alone always changes it.
    for (int row = kRight; row <= kDiagAnti; ++row) {
      TGrid g({start, -1, -1, -1});
      ASSERT_TRUE(g.items.ClickOperation(row, 1));
      EXPECT_NE(g.items.Pending(0), start) << "start " << start << ", row " << row;
    }
  }
}

TEST(Transform2DGrid, ClicksOnChannelsWithoutAPictureAndOutsideTheOperationsChangeNothing) {
  TGrid g({0, -1, 3, -1});
  EXPECT_FALSE(g.items.ClickOperation(kRight, 2));
  EXPECT_FALSE(g.items.ClickApply(kApplyRow, 4));
  EXPECT_FALSE(g.items.ClickInstant(kInstantRow, 2));
  EXPECT_FALSE(g.items.ClickOperation(kRight, 0));        // the label column
  EXPECT_FALSE(g.items.ClickOperation(kPositionRow, 1));  // the position row
  EXPECT_FALSE(g.items.ClickApply(kInstantRow, 1));
  EXPECT_FALSE(g.items.ClickInstant(kApplyRow, 1));
  EXPECT_EQ(g.items.Pending(1), 8);

  // "All" turns only the channels with a picture and marks its own cell.
  ASSERT_TRUE(g.items.ClickOperation(kRight, kAllColumn));
  const std::array<int, 4> want = {6, 8, 1, 8};
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(g.items.Pending(ch), want[static_cast<std::size_t>(ch)]) << ch;
    EXPECT_EQ(g.items.Cell(kRight, ch + 1).marked, ch % 2 == 0) << ch;
  }
  EXPECT_TRUE(g.items.Cell(kRight, kAllColumn).marked);
  // the next click clears the marks of the last
  ASSERT_TRUE(g.items.ClickOperation(kLeft, 1));
  EXPECT_FALSE(g.items.Cell(kRight, 1).marked);
  EXPECT_FALSE(g.items.Cell(kRight, kAllColumn).marked);

  // Without any picture even "All" does nothing.
  TGrid empty({-1, -1, -1, -1});
  EXPECT_FALSE(empty.items.ClickOperation(kRight, kAllColumn));
  EXPECT_FALSE(empty.items.Cell(kRight, kAllColumn).enabled);
}

TEST(Transform2DGrid, BuildEnablesTheCellsOfChannelsWithAPicture) {
  TGrid g({2, -1, 7, -1});
  g.read.channels[2].instant = 1;
  g.items.Build();
  for (int row = 0; row < kRowCount; ++row) {
    SCOPED_TRACE(row);
    EXPECT_TRUE(g.items.Cell(row, 0).enabled);
    EXPECT_TRUE(g.items.Cell(row, 1).enabled);
    EXPECT_EQ(g.items.Cell(row, 2).enabled, row == kPositionRow);
    EXPECT_TRUE(g.items.Cell(row, kAllColumn).enabled);
  }
  EXPECT_EQ(g.items.Cell(kPositionRow, 1).value, 2);
  EXPECT_EQ(g.items.Cell(kPositionRow, 2).value, 8);
  EXPECT_EQ(g.items.Cell(kInstantRow, 1).state, kInstantOff);
  EXPECT_EQ(g.items.Cell(kInstantRow, 2).state, 0);
  EXPECT_EQ(g.items.Cell(kInstantRow, 3).state, kInstantOn);
  EXPECT_EQ(g.items.Cell(kInstantRow, kAllColumn).state, kInstantOff);
}

TEST(Transform2DGrid, InstantSwitchesFlipPerChannelAndAllSetsEveryChannelWithAPicture) {
  TGrid g({0, 1, -1, 4});
  ASSERT_TRUE(g.items.ClickInstant(kInstantRow, 2));
  EXPECT_TRUE(g.items.InstantOn(1));
  EXPECT_EQ(g.read.channels[1].instant, 1);
  ASSERT_TRUE(g.items.ClickInstant(kInstantRow, 2));
  EXPECT_FALSE(g.items.InstantOn(1));

  ASSERT_TRUE(g.items.ClickInstant(kInstantRow, kAllColumn));
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(g.items.InstantOn(ch), ch != 2) << ch;
  EXPECT_EQ(g.items.Cell(kInstantRow, kAllColumn).state, kInstantOn);
  // "Apply changes" of a column whose switch is on does nothing
  EXPECT_FALSE(g.items.ClickApply(kApplyRow, 1));
  EXPECT_FALSE(g.items.ClickApply(kApplyRow, kAllColumn));
  ASSERT_TRUE(g.items.ClickInstant(kInstantRow, kAllColumn));
  for (int ch = 0; ch < 4; ++ch) EXPECT_FALSE(g.items.InstantOn(ch)) << ch;
  EXPECT_EQ(g.items.Cell(kInstantRow, kAllColumn).state, kInstantOff);
}

TEST(Transform2DGrid, AnApplySendsTheChosenChannelsOnly) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> clicks;  // operation clicks (row, column) before
    std::vector<int> instantOn;               // channels
    int row, column;                          // the apply
    bool sent;
    std::array<int, 4> flagged;  // -1: not flagged (orientation 8)
  };
  const Case cases[] = {
      {"nothing changed", {}, {}, kApplyRow, kAllColumn, false, {}},
      {"one channel changed, All", {{kRight, 1}}, {}, kApplyRow, kAllColumn, true, {6, -1, -1, -1}},
      {"two changed, All", {{kRight, 1}, {k180, 3}}, {}, kApplyRow, kAllColumn, true, {6, -1, 7, -1}},
      {"the column of another channel", {{kRight, 1}}, {}, kApplyRow, 2, false, {}},
      {"its own column", {{kRight, 1}, {k180, 3}}, {}, kApplyRow, 3, true, {-1, -1, 7, -1}},
      {"changed back", {{kRight, 1}, {kLeft, 1}}, {}, kApplyRow, kAllColumn, false, {}},
      {"operation row, instant off", {{kRight, 1}}, {}, kRight, 1, false, {}},
      {"operation row, instant on", {{kRight, 1}}, {0}, kRight, 1, true, {6, -1, -1, -1}},
      {"All from an operation row: instant channels only",
       {{kRight, kAllColumn}},
       {2},
       kRight,
       kAllColumn,
       true,
       {-1, -1, 1, -1}},
      {"the position row sends nothing", {{kRight, 1}}, {}, kPositionRow, 1, false, {}},
      {"the instant row sends nothing", {{kRight, 1}}, {0}, kInstantRow, 1, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGrid g({0, -1, 3, -1});
    for (const auto& [row, column] : c.clicks) ASSERT_TRUE(g.items.ClickOperation(row, column));
    for (int ch : c.instantOn) g.items.SetInstant(kInstantRow, ch + 1, false, true);
    TTransform2DExchange apply = ReadBlockOf({0, -1, 3, -1});
    const TTransform2DExchange before = apply;
    ASSERT_EQ(g.items.PrepareApply(c.row, c.column, apply), c.sent);
    if (!c.sent) {
      EXPECT_EQ(std::memcmp(&apply, &before, sizeof apply), 0) << "the block is left as it was";
      continue;
    }
    for (int ch = 0; ch < 4; ++ch) {
      EXPECT_EQ(apply.channels[ch].flag, c.flagged[ch] >= 0 ? 1 : 0) << ch;
      EXPECT_EQ(apply.channels[ch].orientation, c.flagged[ch] >= 0 ? c.flagged[ch] : 8) << ch;
    }
  }
}

TEST(Transform2DGrid, WhatWasAppliedIsNotSentAgainButAFailedApplyIs) {
  TGrid g({0, 2, -1, -1});
  ASSERT_TRUE(g.items.ClickOperation(kRight, 1));
  TTransform2DExchange apply;
  ASSERT_TRUE(g.items.PrepareApply(kApplyRow, kAllColumn, apply));
  // not taken by the owner: the next apply still has it
  TTransform2DExchange again;
  ASSERT_TRUE(g.items.PrepareApply(kApplyRow, kAllColumn, again));
  g.items.Applied(again);
  TTransform2DExchange third;
  EXPECT_FALSE(g.items.PrepareApply(kApplyRow, kAllColumn, third));
  // channel 2 was never sent: its unchanged code is not either
  ASSERT_TRUE(g.items.ClickOperation(k180, 2));
  ASSERT_TRUE(g.items.PrepareApply(kApplyRow, kAllColumn, third));
  EXPECT_EQ(third.channels[0].flag, 0);
  EXPECT_EQ(third.channels[1].flag, 1);
  EXPECT_EQ(third.channels[1].orientation, 6);
}

TEST(Transform2DImages, TwentyTwoImagesOfTwentyFourPixelsAllDifferent) {
  const std::vector<QPixmap>& images = GridImages();
  ASSERT_EQ(images.size(), static_cast<std::size_t>(kImageCount));
  std::vector<QImage> seen;
  for (const QPixmap& p : images) {
    EXPECT_EQ(p.size(), QSize(kImageSize, kImageSize));
    const QImage image = p.toImage();
    for (const QImage& other : seen) EXPECT_NE(image, other);
    seen.push_back(image);
  }
}

// ---------------------------------------------------------------------------
// The page on an owner

namespace {

// Answers the page's reads from its values and records every apply.
class TTransformOwner : public QWidget {
 public:
  TTransformOwner() {
    auto* map = new platform::qt::TMessageMap(this);
    map->On(platform::qt::WM_APP_OPTS_CATEGORY, [this](platform::qt::WPARAM w, platform::qt::LPARAM l) {
      auto* block = OptsBlockOf<TTransform2DExchange>(l);
      topics.push_back(static_cast<int>(w));
      ops.push_back(block->header.op);
      if (w != OPTTOPIC_TRANSFORM_2D) return platform::qt::LRESULT{0};
      if (block->header.op == OPTS_XCHG_READ && answerRead) {
        const TOptsExchangeHeader head = block->header;
        *block = values;
        block->header = head;
        block->header.answered = 1;
      } else if (block->header.op == OPTS_XCHG_APPLY) {
        applied.push_back(*block);
        block->header.answered = answerApply ? 1 : 0;
      }
      return platform::qt::LRESULT{1};
    });
  }
  TTransform2DExchange values = ReadBlockOf({0, 3, -1, 5});
  bool answerRead = true;
  bool answerApply = true;
  std::vector<int> topics;
  std::vector<std::int32_t> ops;
  std::vector<TTransform2DExchange> applied;
};

class Transform2DPage : public tovrin_test::TRecordedMessagesTest {
 protected:
  COptsTransform2D* Open(bool readOnly = false) {
    sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, OPTCAT_TRANSFORM_2D);
    sheet->SetReadOnly(readOnly);
    sheet->OnInitDialog();
    return dynamic_cast<COptsTransform2D*>(sheet->Page(OptsPage::PAGE_TRANSFORM_2D));
  }
  // Flagged channels of an applied block and their codes (-1 unflagged).
  static std::array<int, 4> Sent(const TTransform2DExchange& block) {
    std::array<int, 4> out{};
    for (int ch = 0; ch < 4; ++ch) {
      out[static_cast<std::size_t>(ch)] = block.channels[ch].flag ? block.channels[ch].orientation : -1;
      EXPECT_TRUE(block.channels[ch].flag || block.channels[ch].orientation == 8) << ch;
    }
    return out;
  }
  TTransformOwner owner;
  std::unique_ptr<ZarnOptions::CZarnOptions> sheet;
};

}  // namespace

TEST_F(Transform2DPage, WithChannel2InstantEveryClickOnItIsSentAndItsApplyCellDoesNothing) {
  COptsTransform2D* page = Open();
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(page->InitResult());
  EXPECT_EQ(page->Label().toStdString(), " Transform 2D");
  EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
  EXPECT_EQ(owner.topics, std::vector<int>{OPTTOPIC_TRANSFORM_2D});
  CListCtrl_Transform2D* grid = page->Grid();

  grid->OnClick(kInstantRow, 2);
  EXPECT_TRUE(page->Items().InstantOn(1));
  EXPECT_TRUE(owner.applied.empty()) << "switching on sends nothing by itself";
  grid->OnClick(kRight, 2);  // 3 -> 1
  grid->OnClick(kLeft, 2);   // 1 -> 3
  grid->OnClick(kRight, 1);  // channel 1 not instant: pending only
  grid->OnClick(kApplyRow, 2);
  ASSERT_EQ(owner.applied.size(), 2u);
  EXPECT_EQ(Sent(owner.applied[0]), (std::array<int, 4>{-1, 1, -1, -1}));
  EXPECT_EQ(Sent(owner.applied[1]), (std::array<int, 4>{-1, 3, -1, -1}));
  EXPECT_EQ(owner.ops.back(), OPTS_XCHG_APPLY);
  EXPECT_EQ(page->Items().Pending(0), 6);

  // OK sends channel 1 only: channel 2's last code is already applied.
  sheet->AcceptSheet();
  ASSERT_EQ(owner.applied.size(), 3u);
  EXPECT_EQ(Sent(owner.applied[2]), (std::array<int, 4>{6, -1, -1, -1}));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(Transform2DPage, AcceptingAfterNoChangeSendsNothingAndClicksOutsideTheGridChangeNothing) {
  COptsTransform2D* page = Open();
  ASSERT_TRUE(page->InitResult());
  CListCtrl_Transform2D* grid = page->Grid();
  for (int row = 0; row < kRowCount; ++row) grid->OnClick(row, 0);
  for (int column = 0; column < kColumnCount; ++column) grid->OnClick(kPositionRow, column);
  grid->OnClick(kRight, 3);  // channel 3 has no picture
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(page->Items().Pending(ch), owner.values.channels[ch].orientation);
  // a change undone is no change either
  grid->OnClick(kVertical, kAllColumn);
  grid->OnClick(kVertical, kAllColumn);
  sheet->AcceptSheet();
  EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(Transform2DPage, AllInTheApplyRowSendsOnlyTheChangedChannels) {
  COptsTransform2D* page = Open();
  CListCtrl_Transform2D* grid = page->Grid();
  grid->OnClick(k180, 4);  // 5 -> 1
  grid->OnClick(kApplyRow, kAllColumn);
  ASSERT_EQ(owner.applied.size(), 1u);
  EXPECT_EQ(Sent(owner.applied[0]), (std::array<int, 4>{-1, -1, -1, 1}));
  EXPECT_TRUE(page->Items().Cell(kApplyRow, kAllColumn).marked);
  grid->OnClick(kApplyRow, kAllColumn);  // nothing new
  grid->OnClick(kReset, 4);              // back to 5: a change again
  grid->OnClick(kApplyRow, 4);
  ASSERT_EQ(owner.applied.size(), 2u);
  EXPECT_EQ(Sent(owner.applied[1]), (std::array<int, 4>{-1, -1, -1, 5}));
}

TEST_F(Transform2DPage, AnUnansweredApplyIsReportedAndSentAgainOnOk) {
  COptsTransform2D* page = Open();
  owner.answerApply = false;
  page->Grid()->OnClick(kRight, 1);
  page->Grid()->OnClick(kApplyRow, 1);
  ASSERT_EQ(owner.applied.size(), 1u);
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Cannot apply transform 2D."});
  EXPECT_EQ(page->Items().Pending(0), 6) << "the pending code stays";
  owner.answerApply = true;
  sheet->AcceptSheet();
  ASSERT_EQ(owner.applied.size(), 2u);
  EXPECT_EQ(Sent(owner.applied[1]), (std::array<int, 4>{6, -1, -1, -1}));
  EXPECT_EQ(sink.Texts().size(), 1u);
}

TEST_F(Transform2DPage, InstantSwitchesStartOffAtEveryOpening) {
  for (TTransform2DChannel& ch : owner.values.channels) ch.instant = 1;
  for (int opening = 0; opening < 2; ++opening) {
    COptsTransform2D* page = Open();
    for (int ch = 0; ch < 4; ++ch) EXPECT_FALSE(page->Items().InstantOn(ch)) << ch;
    EXPECT_FALSE(page->Items().AllInstant());
    page->Grid()->OnClick(kInstantRow, kAllColumn);
    EXPECT_TRUE(page->Items().InstantOn(0));
    sheet.reset();
  }
}

TEST_F(Transform2DPage, SilentOwnerAndReadOnlySheetSendNothingOnOk) {
  owner.answerRead = false;
  COptsTransform2D* page = Open();
  EXPECT_FALSE(page->InitResult());
  EXPECT_FALSE(page->Grid()->isVisible());
  EXPECT_EQ(page->Grid()->rowCount(), 0);
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Configuration data for dialog is not available"});
  sheet->AcceptSheet();
  EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
  EXPECT_EQ(sink.Texts().size(), 1u);

  owner.answerRead = true;
  owner.ops.clear();
  page = Open(true);
  ASSERT_TRUE(page->InitResult());
  page->Grid()->OnClick(kRight, 1);
  sheet->AcceptSheet();
  EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
  EXPECT_EQ(sink.Texts().size(), 1u);
}

TEST_F(Transform2DPage, AMouseClickOnACellActsAndNeverSelectsARow) {
  sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, OPTCAT_TRANSFORM_2D);
  sheet->show();
  sheet->OnInitDialog();
  QApplication::processEvents();
  auto* page = dynamic_cast<COptsTransform2D*>(sheet->Page(OptsPage::PAGE_TRANSFORM_2D));
  CListCtrl_Transform2D* grid = page->Grid();
  auto click = [grid](int row, int column) {
    const QPoint at = grid->visualRect(grid->model()->index(row, column)).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, at, grid->viewport()->mapToGlobal(at), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(grid->viewport(), &event);
    }
  };
  click(kRight, 1);
  EXPECT_EQ(page->Items().Pending(0), 6);
  click(kRight, 0);
  click(kPositionRow, 1);
  EXPECT_EQ(page->Items().Pending(0), 6);
  EXPECT_TRUE(grid->selectionModel()->selectedIndexes().isEmpty());
  EXPECT_EQ(grid->selectionMode(), QAbstractItemView::NoSelection);
  EXPECT_FALSE(grid->horizontalHeader()->sectionsClickable());
  for (int c = 0; c < kColumnCount; ++c)
    EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(c), QHeaderView::Fixed) << c;
}

TEST_F(Transform2DPage, TheGridShowsEveryRowColumnAndLabelWholeWithoutScrollBars) {
  sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, OPTCAT_TRANSFORM_2D);
  sheet->show();
  sheet->resize(sheet->sizeHint());
  QApplication::processEvents();
  sheet->OnInitDialog();
  QApplication::processEvents();
  auto* page = dynamic_cast<COptsTransform2D*>(sheet->Page(OptsPage::PAGE_TRANSFORM_2D));
  CListCtrl_Transform2D* grid = page->Grid();
  // as in the picture: a rotation pending, channel 2 turned at once
  grid->OnClick(kRight, 1);
  grid->OnClick(kInstantRow, 2);
  grid->OnClick(kDiagMain, 2);
  QApplication::processEvents();

  EXPECT_EQ(grid->rowCount(), kRowCount);
  EXPECT_EQ(grid->columnCount(), kColumnCount);
  EXPECT_FALSE(grid->verticalScrollBar()->isVisible());
  EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
  const QRect view = grid->viewport()->rect();
  for (int r = 0; r < kRowCount; ++r)
    for (int c = 0; c < kColumnCount; ++c)
      EXPECT_TRUE(view.contains(grid->visualRect(grid->model()->index(r, c)))) << r << ", " << c;
  const std::array<const char*, kColumnCount> headers = {"  Operation", "1", "2", "3", "4", "All"};
  for (int c = 0; c < kColumnCount; ++c) {
    EXPECT_EQ(grid->horizontalHeaderItem(c)->text().toStdString(), headers[static_cast<std::size_t>(c)]);
    EXPECT_EQ(grid->columnWidth(c), c == 0 ? 200 : 50);
  }
  // column 0: image and label whole, the bold row too
  for (int r = 0; r < kRowCount; ++r) {
    QTableWidgetItem* item = grid->item(r, 0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text().toStdString(), RowLabel(r));
    EXPECT_EQ(item->font().bold(), r == kPositionRow) << r;
    const int need = kImageSize + QFontMetrics(item->font()).horizontalAdvance(item->text()) + 12;
    EXPECT_LE(need, grid->columnWidth(0)) << RowLabel(r);
  }
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  // the sheet is no wider than the grid needs, and fits a 1280-pixel screen
  EXPECT_LE(sheet->width(), grid->width() + 80);
  EXPECT_LE(sheet->frameGeometry().width(), 1280);

  if (const char* folder = std::getenv("TOVRIN_SHOT_DIR")) {
    EXPECT_TRUE(sheet->grab().save(QDir(QString::fromLocal8Bit(folder)).filePath("transform_2d.png"), "PNG"));
  }
}

namespace {

// A message box during which the user clicks the grid again (the box runs
// its own events).
class TClickingSink : public platform::IMessageSink {
 public:
  int Show(const platform::TMessageBox& box) override {
    texts.push_back(box.text);
    if (onShow && texts.size() == 1) onShow();  // once
    return platform::IDOK;
  }
  std::function<void()> onShow;
  std::vector<std::string> texts;
};

}  // namespace

TEST_F(Transform2DPage, AClickWhileTheApplyFailureIsShownIsIgnored) {
  COptsTransform2D* page = Open();
  owner.answerApply = false;
  TClickingSink clicking;
  clicking.onShow = [page] { page->Grid()->OnClick(kRight, 1); };
  platform::TScopedMessageSink scope(&clicking);
  page->Grid()->OnClick(kInstantRow, 1);
  page->Grid()->OnClick(kLeft, 1);  // 0 -> 2, sent at once, not answered
  EXPECT_EQ(clicking.texts, std::vector<std::string>{"Cannot apply transform 2D."});
  EXPECT_EQ(owner.applied.size(), 1u);
  EXPECT_EQ(page->Items().Pending(0), 2) << "the click during the message changed nothing";
}
