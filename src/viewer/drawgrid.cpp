#include "viewer/drawgrid.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <climits>

class TDrawGrid::Model : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : rows_; }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : kColCount;
  }
  QVariant data(const QModelIndex&, int) const override { return QVariant(); }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }
  int Rows() const { return rows_; }
  // Rows are added or removed at the end, so that the selection of the rows that stay
  // is kept.
  void SetRows(int rows) {
    if (rows > rows_) {
      beginInsertRows(QModelIndex(), rows_, rows - 1);
      rows_ = rows;
      endInsertRows();
    } else if (rows < rows_) {
      beginRemoveRows(QModelIndex(), rows, rows_ - 1);
      rows_ = rows;
      endRemoveRows();
    }
  }

 private:
  int rows_ = 1;
};

namespace {

// A cell of a marked range, over its content: tinted with the selection colour and
// framed by it; a selected cell, filled with that colour already, is only framed.
void DrawMark(QPainter& painter, const QRect& cell, const QPalette& palette, bool selected) {
  QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
  if (!selected) {
    QColor tint = highlight;
    tint.setAlpha(70);
    painter.fillRect(cell, tint);
  }
  painter.setPen(QPen(selected ? highlight.darker(160) : highlight, 2));
  painter.drawRect(cell.adjusted(1, 1, -1, -1));
}

}  // namespace

class TDrawGrid::Delegate : public QStyledItemDelegate {
 public:
  explicit Delegate(TDrawGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    TGridDrawState state;
    state.selected = option.state.testFlag(QStyle::State_Selected);
    state.focused = index == grid_->currentIndex();
    const QPalette& palette = grid_->palette();
    painter->save();
    // The focused cell is drawn like a selected one, whether or not the grid has focus.
    if (!state.Empty()) {
      painter->fillRect(option.rect, palette.color(QPalette::Active, QPalette::Highlight));
      painter->setPen(palette.color(QPalette::Active, QPalette::HighlightedText));
    } else {
      painter->setPen(palette.color(QPalette::Active, QPalette::Text));
    }
    painter->setFont(grid_->font());
    if (grid_->OnDrawCell)
      grid_->OnDrawCell(index.column(), index.row(), option.rect, state, *painter);
    if (grid_->Marked(index.row() * kColCount + index.column()))
      DrawMark(*painter, option.rect, palette, !state.Empty());
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return QSize(kCellSize, kCellSize);
  }

 private:
  TDrawGrid* grid_;
};

TDrawGrid::TDrawGrid(QWidget* parent) : QTableView(parent), model_(new Model(this)) {
  setModel(model_);
  setItemDelegate(new Delegate(this));
  horizontalHeader()->hide();
  verticalHeader()->hide();
  // A section holds the cell and its 1-pixel grid line.
  horizontalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setMinimumSectionSize(1);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setDefaultSectionSize(kCellSize + 1);
  verticalHeader()->setDefaultSectionSize(kCellSize + 1);
  setShowGrid(true);
  setGridStyle(Qt::SolidLine);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setWordWrap(false);
  QPalette p = palette();
  p.setColor(QPalette::Base, Qt::white);
  setPalette(p);
}

int TDrawGrid::MaxRowCount() {
  // The view places rows in int pixels.
  return INT_MAX / (kCellSize + 1) - 1;
}

int TDrawGrid::RowCount() const {
  return model_->Rows();
}

void TDrawGrid::SetRowCount(int rows) {
  model_->SetRows(qBound(1, rows, MaxRowCount()));
}

void TDrawGrid::SelectCell(int row, int col) {
  const QModelIndex cell = model_->index(row, col);
  if (!cell.isValid()) return;
  selecting_ = true;
  selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect);
  selecting_ = false;
  scrollTo(cell);
}

int TDrawGrid::LastMarkedCellBelow(int limit) const {
  int last = -1;
  const QModelIndex current = currentIndex();
  if (current.isValid()) {
    const int number = current.row() * kColCount + current.column();
    if (number < limit) last = number;
  }
  // Worked out on the selected ranges, which may span millions of cells.
  for (const QItemSelectionRange& range : selectionModel()->selection()) {
    for (int row = range.bottom(); row >= range.top(); --row) {
      const int64_t firstOfRow = int64_t(row) * kColCount;
      if (firstOfRow + range.left() >= limit) continue;
      const int64_t column = std::min<int64_t>(range.right(), limit - 1 - firstOfRow);
      last = std::max(last, int(firstOfRow + column));
      break;
    }
  }
  return last;
}

std::optional<std::pair<int, int>> TDrawGrid::MarkedRange(int limit) const {
  const int last = std::min(markLast_, limit - 1);
  if (markFirst_ < 0 || last <= markFirst_) return std::nullopt;
  return std::make_pair(markFirst_, last);
}

void TDrawGrid::ClearMarkedRange() {
  markAnchor_ = markFirst_ = markLast_ = -1;
  viewport()->update();
}

bool TDrawGrid::Marked(int number) const {
  return markLast_ > markFirst_ && number >= markFirst_ && number <= markLast_;
}

int TDrawGrid::CellNumberAt(const QPoint& point) const {
  const QModelIndex cell = indexAt(point);
  return cell.isValid() ? cell.row() * kColCount + cell.column() : -1;
}

void TDrawGrid::MarkTo(int number) {
  if (number < 0) return;
  if (markAnchor_ < 0) markAnchor_ = number;
  markFirst_ = std::min(markAnchor_, number);
  markLast_ = std::max(markAnchor_, number);
  viewport()->update();
}

void TDrawGrid::Changed() {
  if (!selecting_ && !mouseDown_) emit SelectionSettled();
}

void TDrawGrid::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  QTableView::selectionChanged(selected, deselected);
  Changed();
}

void TDrawGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  // The focus mark moved: both cells are drawn again.
  viewport()->update(visualRect(previous));
  viewport()->update(visualRect(current));
  Changed();
}

void TDrawGrid::mousePressEvent(QMouseEvent* event) {
  mouseDown_ = event->button() == Qt::LeftButton;
  if (mouseDown_) {
    const int number = CellNumberAt(event->position().toPoint());
    // Shift+click reaches from the anchor (the image shown, when nothing was clicked yet).
    if (!event->modifiers().testFlag(Qt::ShiftModifier))
      markAnchor_ = number;
    else if (markAnchor_ < 0 && currentIndex().isValid())
      markAnchor_ = currentIndex().row() * kColCount + currentIndex().column();
    MarkTo(number);
  }
  QTableView::mousePressEvent(event);
  // The pressed cell is shown at once; a range dragged from it settles on release.
  if (mouseDown_) emit SelectionSettled();
}

void TDrawGrid::mouseMoveEvent(QMouseEvent* event) {
  QTableView::mouseMoveEvent(event);
  if (mouseDown_ && event->buttons().testFlag(Qt::LeftButton))
    MarkTo(CellNumberAt(event->position().toPoint()));
}

void TDrawGrid::mouseReleaseEvent(QMouseEvent* event) {
  QTableView::mouseReleaseEvent(event);
  if (mouseDown_ && event->button() == Qt::LeftButton) {
    mouseDown_ = false;
    emit SelectionSettled();
  }
}
