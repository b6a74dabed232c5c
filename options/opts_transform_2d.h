#pragma once
// The " Transform 2D" page: rotates and reflects the picture of each channel
// of a media document, or of all of them at once, from a grid of operations.
//
// The grid has one row per operation and one column per channel plus an
// "All" column. A click on an operation cell composes the operation into the
// channel's pending orientation (row 9). Pending orientations go to the
// document at once for the channels whose "Apply changes instantly" switch
// is on, on a click in the "Apply changes" row, or when the sheet is
// accepted. The grid's state lives in CItems_T2D_List, a class without
// widgets; the page shows it in CListCtrl_Transform2D and sends the
// orientations.

#include <QPixmap>
#include <QTableWidget>

#include <array>
#include <cstdint>
#include <vector>

#include "options/opts_page.h"
#include "options/opts_transform_2d_exchange.h"

namespace OptsTransform2D {

inline constexpr int kRowCount = 12;
inline constexpr int kColumnCount = 6;
inline constexpr int kAllColumn = 5;
inline constexpr int kPositionRow = 9;
inline constexpr int kApplyRow = 10;
inline constexpr int kInstantRow = 11;
inline constexpr int kImageSize = 24;
inline constexpr int kImageCount = 22;

// Images of the grid, by index: 0..7 the operations (by orientation code),
// 8..15 the orientations 0..7, then these.
inline constexpr int kImageReset = 16;
inline constexpr int kImageNoOrientation = 17;
inline constexpr int kImageApply = 18;
inline constexpr int kImageSwitchOff = 19;
inline constexpr int kImageSwitchOn = 20;
inline constexpr int kImageMarked = 21;

// Cell kinds.
enum TCellKind : std::int32_t {
  CELL_OPERATION_LABEL = 0,
  CELL_POSITION_LABEL = 1,
  CELL_APPLY_LABEL = 2,
  CELL_INSTANT_LABEL = 3,
  CELL_OPERATION = 4,
  CELL_POSITION = 5,
  CELL_APPLY = 6,
  CELL_INSTANT = 7,
};

// States of an instant cell.
inline constexpr std::int32_t kInstantOff = 2;
inline constexpr std::int32_t kInstantOn = 3;

struct TCell {
  std::int32_t kind = CELL_OPERATION_LABEL;
  bool enabled = false;
  std::int32_t value = 8;
  bool marked = false;
  std::int32_t state = 0;
};

struct TRow {
  std::int32_t row = 0;
  std::array<TCell, kColumnCount> cells{};
};

// The label of a row (with its blanks) and the index of its image.
const char* RowLabel(int row);
int RowImage(int row);
// The orientation code of the operation of rows 0..6, else 8.
std::int32_t RowOperation(int row);

// The grid's state. `read` is the block read at opening: its picture flags
// say which channels can be changed, its orientations are what " Reset to
// the original" goes back to, and its instant bytes hold the channels'
// instant switches.
class CItems_T2D_List {
 public:
  explicit CItems_T2D_List(ZarnTypes::TTransform2DExchange* read = nullptr);
  virtual ~CItems_T2D_List() = default;

  void SetReadBlock(ZarnTypes::TTransform2DExchange* read) { m_pRead = read; }

  // Fills the twelve rows from the read block.
  void Build();
  // Clears the marks and states of every row but 9 and 11.
  void ClearMarks();
  // Composes row's operation into a channel column's pending orientation.
  void ApplyOperation(int row, int column);
  // A click in an operation row (0..8); true when it did something.
  bool ClickOperation(int row, int column);
  // Marks a channel's "Apply changes" cell when its pending code is 0..7.
  bool MarkApply(int row, int column);
  // A click in the "Apply changes" row; true when it did something.
  bool ClickApply(int row, int column);
  // Sets (or, with `toggle`, flips) a channel's instant switch.
  void SetInstant(int row, int column, bool toggle, bool value);
  // A click in the "Apply changes instantly" row; true when it did something.
  bool ClickInstant(int row, int column);

  // What an apply from a click at (row, column) sends: rewrites `apply` and
  // returns true when it is to be sent. Rows 9 and 11 send nothing; a
  // channel column sends when that channel is chosen, "All" when any is. A
  // channel is chosen when it is wanted (row 10, or its instant switch is
  // on), has a picture, and its pending code is 0..7 and differs from the
  // code last applied to it.
  bool PrepareApply(int row, int column, ZarnTypes::TTransform2DExchange& apply) const;
  // Records that the owner took `apply`: its flagged codes are now applied.
  void Applied(const ZarnTypes::TTransform2DExchange& apply);

  const std::vector<TRow>& Rows() const { return m_rows; }
  const TCell& Cell(int row, int column) const;
  // The pending orientation of channel 0..3 (row 9), 8 for none.
  std::int32_t Pending(int channel) const;
  bool Available(int channel) const;
  bool AnyAvailable() const;
  bool InstantOn(int channel) const;
  bool AllInstant() const { return m_bAllInstant; }

 private:
  TCell& CellAt(int row, int column);
  bool ColumnUsable(int column) const;

  std::vector<TRow> m_rows;
  ZarnTypes::TTransform2DExchange* m_pRead = nullptr;
  bool m_bAllInstant = false;
  // Per channel the code last applied (the code read at opening at first).
  std::array<std::int32_t, 4> m_applied{8, 8, 8, 8};
};

// The 22 images of the grid, drawn once.
const std::vector<QPixmap>& GridImages();

class COptsTransform2D;

// The grid: a report list that never selects a row, draws its cells from
// the grid model and passes clicks to the page.
class CListCtrl_Transform2D : public QTableWidget {
  Q_OBJECT
 public:
  CListCtrl_Transform2D(COptsTransform2D* page, CItems_T2D_List* items, QWidget* parent = nullptr);

  CItems_T2D_List* Items() const { return m_pItems; }
  // The click handler (a click on a cell, from the mouse or a test).
  void OnClick(int row, int column);
  // The size that shows every row and column without scroll bars.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 private:
  COptsTransform2D* m_pPage;
  CItems_T2D_List* m_pItems;
  bool m_bInClick = false;  // a message box of a click runs its own events
};

class COptsTransform2D : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsTransform2D(QWidget* parent = nullptr);
  ~COptsTransform2D() override;

  void OnOK() override;

  // Sends the apply block for a click at (row, column) when there is
  // something to apply; true when it was sent and answered.
  bool Apply(int row, int column);

  CListCtrl_Transform2D* Grid() const { return m_pList; }
  CItems_T2D_List& Items() { return m_Items; }
  const ZarnTypes::TTransform2DExchange& ReadExchange() const { return m_Read; }
  const ZarnTypes::TTransform2DExchange& ApplyBlock() const { return m_Apply; }

 protected:
  bool OnInitDialog() override;

 private:
  void InitGrid();

  CItems_T2D_List m_Items;
  ZarnTypes::TTransform2DExchange m_Read;
  ZarnTypes::TTransform2DExchange m_Apply;
  CListCtrl_Transform2D* m_pList = nullptr;
};

}  // namespace OptsTransform2D
