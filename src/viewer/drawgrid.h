#pragma once

// TDrawGrid: a grid of owner-drawn cells with a row count and a selection, the
// thumbnail grid of the main window.  Every cell is drawn by OnDrawCell; the grid
// itself only fills the cell background and draws the grid lines.

#include <QAbstractTableModel>
#include <QTableView>
#include <functional>
#include <optional>
#include <utility>

class QPainter;

// What a cell is drawn as, besides its content.
struct TGridDrawState {
  bool selected = false;
  bool focused = false;
  bool Empty() const { return !selected && !focused; }
};

class TDrawGrid : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kColCount = 6;
  static constexpr int kCellSize = 64;  // width and height of a cell, without its grid line

  explicit TDrawGrid(QWidget* parent = nullptr);

  int RowCount() const;
  // Rows beyond what the view can place are not shown (a damaged library may claim
  // billions of images).
  void SetRowCount(int rows);
  static int MaxRowCount();

  // The cell (row, column) becomes the one selected cell and the current one, and is
  // scrolled into view.  Emits no SelectionSettled.
  void SelectCell(int row, int col);
  // Of the selected cells and the current cell, the last in painting order (rows top
  // to bottom, cells left to right) whose number row * 6 + column is below limit; -1
  // when there is none.
  int LastMarkedCellBelow(int limit) const;

  // The range of images the user marked with the mouse, numbered as the cells are: a
  // click marks its cell, a Shift+click or a drag marks every image from there to the
  // cell under the mouse.  It outlives the selection, which follows the image shown.
  // The range below limit, when it holds two images or more.
  std::optional<std::pair<int, int>> MarkedRange(int limit) const;
  void ClearMarkedRange();
  // The number of the cell at a point of the viewport; -1 off the cells.
  int CellNumberAt(const QPoint& point) const;

  // Draws one cell: its content over the background the grid has filled.
  std::function<void(int col, int row, const QRect& rect, TGridDrawState state, QPainter& canvas)>
      OnDrawCell;

 signals:
  // The user moved the selection (click, drag released, keys).
  void SelectionSettled();

 protected:
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  class Model;
  class Delegate;
  void Changed();
  // A marked range of two cells or more holds number: its cells are drawn tinted.
  bool Marked(int number) const;
  void MarkTo(int number);

  Model* model_;
  bool selecting_ = false;  // a selection made by SelectCell
  bool mouseDown_ = false;  // a drag is under way: wait for the release
  int markAnchor_ = -1;     // where the marked range starts from
  int markFirst_ = -1, markLast_ = -1;
};
