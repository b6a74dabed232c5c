#include "options/opts_transform_2d.h"

#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTransform>
#include <QVBoxLayout>

#include "media/orientation.h"

namespace OptsTransform2D {

using namespace ZarnTypes;

namespace {

constexpr const char* kApplyFailed = "Cannot apply transform 2D.";
constexpr int kLabelColumnWidth = 200;
constexpr int kChannelColumnWidth = 50;
constexpr int kRowHeight = kImageSize + 4;

struct TRowInfo {
  const char* label;
  int image;
  std::int32_t operation;
};

const TRowInfo kRows[kRowCount] = {
    {" Rotate right 90\xC2\xB0", 6, ORIENT_ROTATE_RIGHT_90},
    {" Rotate left 90\xC2\xB0", 2, ORIENT_ROTATE_LEFT_90},
    {" Rotate 180\xC2\xB0", 4, ORIENT_ROTATE_180},
    {" Reflect vertical", 7, ORIENT_REFLECT_VERTICAL},
    {" Reflect horizontal", 3, ORIENT_REFLECT_HORIZONTAL},
    {" Reflect in diagonal y = x", 1, ORIENT_REFLECT_DIAG_MAIN},
    {" Reflect in diagonal y = -x", 5, ORIENT_REFLECT_DIAG_ANTI},
    {" No Transform ", 0, ORIENT_INVALID},
    {" Reset to the original", kImageReset, ORIENT_INVALID},
    {" Transform 2D position ", 8, ORIENT_INVALID},
    {" Apply changes ", kImageApply, ORIENT_INVALID},
    {" Apply changes instantly", kImageSwitchOff, ORIENT_INVALID},
};

bool IsCode(std::int32_t code) { return code >= 0 && code <= 7; }
bool IsChannelColumn(int column) { return column >= 1 && column <= 4; }

// --- the images ----------------------------------------------------------

// The letter F, centred on the origin, as the picture's content.
QPainterPath Letter() {
  QPainterPath path;
  path.moveTo(-4, 7);
  path.lineTo(-4, -7);
  path.lineTo(5, -7);
  path.moveTo(-4, -1);
  path.lineTo(3, -1);
  return path;
}

// The letter turned as a picture of orientation `code` shows on screen. The
// codes act on bottom-up memory rows, so the vertical terms change sign.
QTransform ScreenTransform(std::int32_t code) {
  const auto& m = Orientation::kOrientationMatrix[static_cast<std::size_t>(code)];
  const qreal s00 = m[0], s01 = -m[1], s10 = -m[2], s11 = m[3];
  return QTransform(s00, s10, s01, s11, 12, 12);
}

QPixmap Blank() {
  QPixmap pixmap(kImageSize, kImageSize);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

QPixmap LetterImage(std::int32_t code, const QColor& fill, const QColor& ink) {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(ink.darker(130), 1));
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(1.5, 1.5, 21, 21), 3, 3);
  p.setTransform(ScreenTransform(code));
  p.setPen(QPen(ink, 2.4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(Letter());
  return pixmap;
}

QPixmap SymbolImage(int index) {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box(3.5, 3.5, 17, 17);
  switch (index) {
    case kImageReset: {  // an arrow turning back
      p.setPen(QPen(QColor(0x1F, 0x7A, 0x3A), 2.4, Qt::SolidLine, Qt::RoundCap));
      p.drawArc(QRectF(4, 4, 16, 16), 100 * 16, 280 * 16);
      QPainterPath head;
      head.moveTo(5, 3);
      head.lineTo(12, 3);
      head.lineTo(8.5, 9);
      head.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x1F, 0x7A, 0x3A));
      p.drawPath(head);
      break;
    }
    case kImageNoOrientation:  // no picture
      p.setPen(QPen(QColor(0x9A, 0x9A, 0x9A), 1));
      p.setBrush(QColor(0xEE, 0xEE, 0xEE));
      p.drawRoundedRect(QRectF(1.5, 1.5, 21, 21), 3, 3);
      p.setPen(QPen(QColor(0xB0, 0x40, 0x40), 2));
      p.drawLine(QPointF(7, 7), QPointF(17, 17));
      p.drawLine(QPointF(17, 7), QPointF(7, 17));
      break;
    case kImageApply: {  // an arrow into the picture
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x2A, 0x6F, 0xC9));
      QPainterPath arrow;
      arrow.moveTo(3, 9);
      arrow.lineTo(12, 9);
      arrow.lineTo(12, 4);
      arrow.lineTo(21, 12);
      arrow.lineTo(12, 20);
      arrow.lineTo(12, 15);
      arrow.lineTo(3, 15);
      arrow.closeSubpath();
      p.drawPath(arrow);
      break;
    }
    case kImageSwitchOff:
      p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1.2));
      p.setBrush(Qt::white);
      p.drawRoundedRect(box, 3, 3);
      break;
    case kImageSwitchOn:
      p.setPen(QPen(QColor(0x1F, 0x7A, 0x3A), 1.2));
      p.setBrush(QColor(0x3C, 0xA5, 0x5C));
      p.drawRoundedRect(box, 3, 3);
      p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPolyline(QPolygonF({QPointF(7.5, 12), QPointF(10.5, 15.5), QPointF(16.5, 8.5)}));
      break;
    case kImageMarked:
      p.setPen(QPen(QColor(0xB8, 0x5C, 0x00), 1.2));
      p.setBrush(QColor(0xF5, 0x9A, 0x23));
      p.drawEllipse(QRectF(5.5, 5.5, 13, 13));
      break;
    default: break;
  }
  return pixmap;
}

// --- the cells' drawing --------------------------------------------------

class CTransformDelegate : public QStyledItemDelegate {
 public:
  CTransformDelegate(CItems_T2D_List* items, QObject* parent)
      : QStyledItemDelegate(parent), m_pItems(items) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int row = index.row();
    const int column = index.column();
    // The label column, the "All" position cell and rows past the grid are
    // the list's own.
    if (column == 0 || (row == kPositionRow && column == kAllColumn) || row >= kRowCount) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    const QRect r = option.rect;
    painter->fillRect(r, option.palette.base());
    const TCell& cell = m_pItems->Cell(row, column);
    if (!cell.enabled) return;
    const std::vector<QPixmap>& images = GridImages();
    const int top = r.top() + (r.height() - kImageSize) / 2;
    const int centred = r.left() + r.width() / 2 - kImageSize / 2;
    int image = -1;
    if (row == kPositionRow) {
      if (cell.kind == CELL_POSITION && IsCode(cell.value)) {
        painter->drawPixmap(r.left() + 3, top, images[static_cast<std::size_t>(8 + cell.value)]);
        QFont bold = option.font;
        bold.setBold(true);
        painter->save();
        painter->setFont(bold);
        painter->setPen(option.palette.color(QPalette::Text));
        painter->drawText(QRect(r.left() + 33, r.top(), r.right() - r.left() - 33, r.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          QString::number(cell.value + 1));
        painter->restore();
        return;
      }
      image = kImageNoOrientation;
    } else if (row == kInstantRow) {
      if (cell.state == kInstantOn) image = kImageSwitchOn;
      if (cell.state == kInstantOff) image = kImageSwitchOff;
    } else {
      image = cell.marked ? kImageMarked : kImageSwitchOff;
    }
    if (image >= 0) painter->drawPixmap(centred, top, images[static_cast<std::size_t>(image)]);
  }

 private:
  CItems_T2D_List* m_pItems;
};

}  // namespace

const char* RowLabel(int row) { return row >= 0 && row < kRowCount ? kRows[row].label : ""; }
int RowImage(int row) { return row >= 0 && row < kRowCount ? kRows[row].image : -1; }
std::int32_t RowOperation(int row) {
  return row >= 0 && row < kRowCount ? kRows[row].operation : ORIENT_INVALID;
}

const std::vector<QPixmap>& GridImages() {
  static const std::vector<QPixmap> images = [] {
    std::vector<QPixmap> all;
    all.reserve(kImageCount);
    for (std::int32_t code = 0; code < 8; ++code)
      all.push_back(LetterImage(code, QColor(0xDC, 0xE8, 0xFA), QColor(0x1D, 0x4E, 0x9E)));
    for (std::int32_t code = 0; code < 8; ++code)
      all.push_back(LetterImage(code, Qt::white, QColor(0x20, 0x20, 0x20)));
    for (int index = kImageReset; index < kImageCount; ++index) all.push_back(SymbolImage(index));
    return all;
  }();
  return images;
}

// --- the grid model ------------------------------------------------------

CItems_T2D_List::CItems_T2D_List(TTransform2DExchange* read) : m_pRead(read) { m_rows.reserve(kRowCount); }

const TCell& CItems_T2D_List::Cell(int row, int column) const {
  static const TCell none{};
  if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column >= kColumnCount) return none;
  return m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

TCell& CItems_T2D_List::CellAt(int row, int column) {
  return m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

bool CItems_T2D_List::Available(int channel) const {
  return m_pRead && channel >= 0 && channel < 4 && m_pRead->channels[channel].flag != 0;
}

bool CItems_T2D_List::AnyAvailable() const {
  for (int ch = 0; ch < 4; ++ch)
    if (Available(ch)) return true;
  return false;
}

std::int32_t CItems_T2D_List::Pending(int channel) const {
  if (channel < 0 || channel >= 4) return ORIENT_INVALID;
  return Cell(kPositionRow, channel + 1).value;
}

bool CItems_T2D_List::InstantOn(int channel) const {
  return channel >= 0 && channel < 4 && Cell(kInstantRow, channel + 1).state == kInstantOn;
}

bool CItems_T2D_List::ColumnUsable(int column) const {
  if (IsChannelColumn(column)) return IsCode(Pending(column - 1));
  if (column != kAllColumn) return false;
  for (int ch = 0; ch < 4; ++ch)
    if (IsCode(Pending(ch))) return true;
  return false;
}

void CItems_T2D_List::Build() {
  m_rows.assign(kRowCount, TRow{});
  m_bAllInstant = false;
  const bool any = AnyAvailable();
  for (int row = 0; row < kRowCount; ++row) {
    TRow& r = m_rows[static_cast<std::size_t>(row)];
    r.row = row;
    for (int column = 0; column < kColumnCount; ++column) {
      TCell& cell = r.cells[static_cast<std::size_t>(column)];
      const bool available = IsChannelColumn(column) ? Available(column - 1) : any;
      if (row <= 8) {
        cell.kind = column == 0 ? CELL_OPERATION_LABEL : CELL_OPERATION;
        cell.enabled = column == 0 || available;
        cell.value = row;
      } else if (row == kPositionRow) {
        cell.kind = column == 0 ? CELL_POSITION_LABEL : CELL_POSITION;
        cell.enabled = true;
        if (IsChannelColumn(column) && available) {
          const std::int32_t code = m_pRead->channels[column - 1].orientation;
          cell.value = IsCode(code) ? code : ORIENT_INVALID;
        }
      } else if (row == kApplyRow) {
        cell.kind = column == 0 ? CELL_APPLY_LABEL : CELL_APPLY;
        cell.enabled = column == 0 || available;
      } else {
        cell.kind = column == 0 ? CELL_INSTANT_LABEL : CELL_INSTANT;
        cell.enabled = column == 0 || available;
        if (IsChannelColumn(column))
          cell.state = !available ? 0 : (m_pRead->channels[column - 1].instant ? kInstantOn : kInstantOff);
        else if (column == kAllColumn)
          cell.state = kInstantOff;
      }
    }
  }
  for (int ch = 0; ch < 4; ++ch) m_applied[static_cast<std::size_t>(ch)] = Pending(ch);
}

void CItems_T2D_List::ClearMarks() {
  for (TRow& r : m_rows) {
    if (r.row == kPositionRow || r.row == kInstantRow) continue;
    for (int column = 1; column < kColumnCount; ++column) {
      r.cells[static_cast<std::size_t>(column)].marked = false;
      r.cells[static_cast<std::size_t>(column)].state = 0;
    }
  }
}

void CItems_T2D_List::ApplyOperation(int row, int column) {
  if (row < 0 || row > 8 || !IsChannelColumn(column) || m_rows.empty()) return;
  TCell& position = CellAt(kPositionRow, column);
  if (!IsCode(position.value)) return;
  CellAt(row, column).marked = true;
  if (row <= 6) {
    std::int32_t next = ORIENT_INVALID;
    if (Orientation::ComposeOrientation(position.value, RowOperation(row), next) && IsCode(next))
      position.value = next;
  } else if (row == 7) {
    position.value = ORIENT_IDENTITY;
  } else {
    const std::int32_t original = m_pRead ? m_pRead->channels[column - 1].orientation : ORIENT_INVALID;
    position.value = IsCode(original) ? original : ORIENT_INVALID;
  }
}

bool CItems_T2D_List::ClickOperation(int row, int column) {
  if (row < 0 || row > 8 || Cell(row, column).kind != CELL_OPERATION || !ColumnUsable(column)) return false;
  ClearMarks();
  if (IsChannelColumn(column)) {
    ApplyOperation(row, column);
  } else {
    for (int c = 1; c <= 4; ++c) ApplyOperation(row, c);
    CellAt(row, kAllColumn).marked = true;
  }
  return true;
}

bool CItems_T2D_List::MarkApply(int row, int column) {
  if (!IsChannelColumn(column) || !IsCode(Pending(column - 1))) return false;
  CellAt(row, column).marked = true;
  return true;
}

bool CItems_T2D_List::ClickApply(int row, int column) {
  if (row != kApplyRow || Cell(row, column).kind != CELL_APPLY) return false;
  if (Cell(kInstantRow, column).state == kInstantOn || !ColumnUsable(column)) return false;
  ClearMarks();
  if (IsChannelColumn(column)) {
    MarkApply(row, column);
  } else {
    bool any = false;
    for (int c = 1; c <= 4; ++c) any = MarkApply(row, c) || any;
    if (any) CellAt(row, kAllColumn).marked = true;
  }
  return true;
}

void CItems_T2D_List::SetInstant(int row, int column, bool toggle, bool value) {
  if (!IsChannelColumn(column) || m_rows.empty() || !m_pRead) return;
  std::uint8_t& stored = m_pRead->channels[column - 1].instant;
  const bool on = toggle ? stored == 0 : value;
  stored = on ? 1 : 0;
  CellAt(row, column).state = on ? kInstantOn : kInstantOff;
}

bool CItems_T2D_List::ClickInstant(int row, int column) {
  if (row != kInstantRow || Cell(row, column).kind != CELL_INSTANT || !ColumnUsable(column)) return false;
  ClearMarks();
  if (IsChannelColumn(column)) {
    SetInstant(row, column, true, false);
    return true;
  }
  m_bAllInstant = !m_bAllInstant;
  bool any = false;
  for (int c = 1; c <= 4; ++c) {
    if (!IsCode(Pending(c - 1))) continue;
    SetInstant(row, c, false, m_bAllInstant);
    any = true;
  }
  if (any) CellAt(row, kAllColumn).state = m_bAllInstant ? kInstantOn : kInstantOff;
  return true;
}

bool CItems_T2D_List::PrepareApply(int row, int column, TTransform2DExchange& apply) const {
  if (row == kPositionRow || row == kInstantRow || m_rows.empty() || !m_pRead) return false;
  if (!IsChannelColumn(column) && column != kAllColumn) return false;
  auto chosen = [&](int ch) {
    const std::int32_t pending = Pending(ch);
    const bool wanted = row == kApplyRow || InstantOn(ch);
    return wanted && Available(ch) && IsCode(pending) && pending != m_applied[static_cast<std::size_t>(ch)];
  };
  bool picked[4] = {};
  bool any = false;
  for (int ch = 0; ch < 4; ++ch) {
    if (IsChannelColumn(column) && ch != column - 1) continue;
    picked[ch] = chosen(ch);
    any = any || picked[ch];
  }
  if (!any) return false;
  for (int ch = 0; ch < 4; ++ch) {
    apply.channels[ch].flag = picked[ch] ? 1 : 0;
    apply.channels[ch].orientation = picked[ch] ? Pending(ch) : ORIENT_INVALID;
    apply.channels[ch].instant = 0;
  }
  return true;
}

void CItems_T2D_List::Applied(const TTransform2DExchange& apply) {
  for (int ch = 0; ch < 4; ++ch)
    if (apply.channels[ch].flag) m_applied[static_cast<std::size_t>(ch)] = apply.channels[ch].orientation;
}

// --- the list control ----------------------------------------------------

CListCtrl_Transform2D::CListCtrl_Transform2D(COptsTransform2D* page, CItems_T2D_List* items, QWidget* parent)
    : QTableWidget(parent), m_pPage(page), m_pItems(items) {
  setObjectName("IDC_2590");
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setFocusPolicy(Qt::NoFocus);
  setShowGrid(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setIconSize(QSize(kImageSize, kImageSize));
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  setItemDelegate(new CTransformDelegate(items, this));
  connect(this, &QTableWidget::cellClicked, this, &CListCtrl_Transform2D::OnClick);
}

QSize CListCtrl_Transform2D::sizeHint() const {
  const int frame = 2 * frameWidth();
  int width = frame;
  for (int c = 0; c < columnCount(); ++c) width += columnWidth(c);
  int height = frame + horizontalHeader()->sizeHint().height();
  for (int r = 0; r < rowCount(); ++r) height += rowHeight(r);
  return {width, height};
}

void CListCtrl_Transform2D::OnClick(int row, int column) {
  if (m_bInClick || column <= 0 || column >= kColumnCount || row < 0 || row >= kRowCount ||
      row == kPositionRow)
    return;
  m_bInClick = true;
  if (row == kApplyRow) {
    if (m_pItems->ClickApply(row, column)) m_pPage->Apply(kApplyRow, column);
  } else if (row == kInstantRow) {
    m_pItems->ClickInstant(row, column);
  } else if (m_pItems->ClickOperation(row, column)) {
    if (IsChannelColumn(column)) {
      if (m_pItems->InstantOn(column - 1)) m_pPage->Apply(row, column);
    } else {
      bool anyInstant = false;
      for (int ch = 0; ch < 4; ++ch) anyInstant = anyInstant || m_pItems->InstantOn(ch);
      if (anyInstant) m_pPage->Apply(row, kAllColumn);
    }
  }
  viewport()->update();
  m_bInClick = false;
}

// --- the page ------------------------------------------------------------

COptsTransform2D::COptsTransform2D(QWidget* parent) : COptsPage(" Transform 2D", parent) {
  auto* layout = new QVBoxLayout(this);
  m_pList = new CListCtrl_Transform2D(this, &m_Items, this);
  auto* top = new QHBoxLayout;
  auto* channel = new QLabel("Channel", this);
  channel->setAlignment(Qt::AlignCenter);
  channel->setFixedWidth(4 * kChannelColumnWidth);
  top->addSpacing(m_pList->frameWidth() + kLabelColumnWidth);
  top->addWidget(channel);
  top->addStretch(1);
  layout->addLayout(top);
  layout->addWidget(m_pList, 0, Qt::AlignLeft | Qt::AlignTop);
  layout->addStretch(1);
  m_pList->hide();
}

COptsTransform2D::~COptsTransform2D() = default;

bool COptsTransform2D::OnInitDialog() {
  m_Read = TTransform2DExchange{};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_TRANSFORM_2D, m_Read,
                 OptsPage::ReadFailedText(OptsPage::PAGE_TRANSFORM_2D)))
    return false;
  // The instant switches start off at every opening.
  for (TTransform2DChannel& channel : m_Read.channels) channel.instant = 0;
  m_Apply = TTransform2DExchange{};
  for (int ch = 0; ch < 4; ++ch) {
    m_Apply.channels[ch].flag = m_Read.channels[ch].flag;
    m_Apply.channels[ch].orientation = m_Read.channels[ch].orientation;
  }
  m_Items.SetReadBlock(&m_Read);
  m_Items.Build();
  InitGrid();
  return true;
}

void COptsTransform2D::InitGrid() {
  const std::vector<QPixmap>& images = GridImages();
  m_pList->clear();
  m_pList->setColumnCount(kColumnCount);
  m_pList->setRowCount(kRowCount);
  const char* headers[kColumnCount] = {"  Operation", "1", "2", "3", "4", "All"};
  for (int c = 0; c < kColumnCount; ++c) {
    auto* header = new QTableWidgetItem(QString::fromUtf8(headers[c]));
    header->setTextAlignment(c == 0 ? Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter)
                                    : Qt::Alignment(Qt::AlignCenter));
    m_pList->setHorizontalHeaderItem(c, header);
    m_pList->setColumnWidth(c, c == 0 ? kLabelColumnWidth : kChannelColumnWidth);
  }
  for (int r = 0; r < kRowCount; ++r) {
    auto* label = new QTableWidgetItem(QIcon(images[static_cast<std::size_t>(RowImage(r))]),
                                       QString::fromUtf8(RowLabel(r)));
    label->setFlags(Qt::ItemIsEnabled);
    label->setData(Qt::UserRole, r);
    if (r == kPositionRow) {
      QFont bold = m_pList->font();
      bold.setBold(true);
      label->setFont(bold);
    }
    m_pList->setItem(r, 0, label);
    for (int c = 1; c < kColumnCount; ++c) {
      auto* cell = new QTableWidgetItem;
      cell->setFlags(Qt::ItemIsEnabled);
      m_pList->setItem(r, c, cell);
    }
    m_pList->setRowHeight(r, kRowHeight);
  }
  m_pList->setFixedSize(m_pList->sizeHint());
  m_pList->show();
}

bool COptsTransform2D::Apply(int row, int column) {
  TTransform2DExchange block = m_Apply;
  if (!m_Items.PrepareApply(row, column, block)) return false;
  m_Apply = block;
  if (!SendOptsBlock(Owner(), platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_TRANSFORM_2D, m_Apply,
                     OPTS_XCHG_APPLY)) {
    ShowPageMessage(kApplyFailed);
    return false;
  }
  m_Items.Applied(m_Apply);
  return true;
}

void COptsTransform2D::OnOK() {
  if (ReadOnly() || ReadFailed() || !Initialized()) return;
  Apply(kApplyRow, kAllColumn);
}

}  // namespace OptsTransform2D
