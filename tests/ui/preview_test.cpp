// The preview geometry and drawing, and the thumbnail grid.

#include <QCheckBox>
#include <QPainter>
#include <QRadioButton>
#include <QScrollArea>

#include "uitest.h"
#include "viewer/ffpbox.h"

namespace {

class PreviewTest : public ViewerTest {
 protected:
  void SetUp() override {
    ViewerTest::SetUp();
    // The preview area of the documented layout: 426 x 357, paint box 421 x 352.
    ExpandGrid();
    ASSERT_EQ(main->ScrollBox1->size(), QSize(426, 357));
  }

  void OpenOne(int w, int h, int px = 0, int py = 0) {
    LibraryBuilder b(0);
    b.Add8(int16_t(w), int16_t(h), int16_t(px), int16_t(py), Solid(w, h, 9));
    Open(b, QStringLiteral("img%1x%2").arg(w).arg(h));
  }
  QSize Box() const { return main->PaintBox1->size(); }
  QPoint Origin() const { return main->PreviewOrigin(); }
};

TEST_F(PreviewTest, FixedZoomsCentreTheImageInTheBox) {
  OpenOne(64, 48, -32, -80);
  EXPECT_EQ(Box(), QSize(421, 352));
  EXPECT_EQ(Origin(), QPoint(178, 152));
  EXPECT_EQ(Size(), QStringLiteral("64*48"));
  main->rb200->click();
  EXPECT_EQ(Size(), QStringLiteral("128*96"));
  EXPECT_EQ(Origin(), QPoint(146, 128));
  EXPECT_EQ(main->PreviewZoom(), 2.0);
  // "Apply X/Y": the box centre is the anchor, the offsets are not zoomed.
  main->rb100->click();
  main->checkboxXY->click();
  EXPECT_EQ(Origin(), QPoint(178, 96));
  main->rb400->click();
  EXPECT_EQ(Origin(), QPoint(178, 96));
  EXPECT_EQ(Size(), QStringLiteral("256*192"));
}

TEST_F(PreviewTest, HalfZoomRoundsHalvesToEven) {
  OpenOne(12, 5);
  main->Rb50->click();
  EXPECT_EQ(Size(), QStringLiteral("6*2"));
  OpenOne(12, 7);
  EXPECT_EQ(Size(), QStringLiteral("6*4"));
  OpenOne(20, 5);
  main->rb100->click();
  main->Rb50->click();
  EXPECT_EQ(Size(), QStringLiteral("10*2"));
}

TEST_F(PreviewTest, ZoomedImageLargerThanTheBoxResizesIt) {
  OpenOne(500, 10);
  EXPECT_EQ(Box(), QSize(500, 10));
  EXPECT_EQ(Origin(), QPoint(1, 1));
  // Both sides follow the image, also the one that fitted; scroll bars cover it.
  main->rb800->click();
  EXPECT_EQ(Box(), QSize(4000, 80));
  EXPECT_EQ(Size(), QStringLiteral("4000*80"));
  // Back to a zoom that fits: the box returns to the area's size.
  main->Rb50->click();
  EXPECT_EQ(Box(), QSize(421, 352));
  EXPECT_EQ(Origin(), QPoint((421 - 250) / 2, (352 - 5) / 2));
}

TEST_F(PreviewTest, AutoShrinksLargeImagesAndKeepsTheBoxSize) {
  LibraryBuilder b(0);
  b.Add8(40, 30, 10, 20, Solid(40, 30, 9));
  b.Add8(800, 600, 0, 0, Solid(800, 600, 9));
  Open(b);
  main->rbauto->click();
  // A small image is centred at 100%, or placed by its offsets.
  EXPECT_EQ(main->PreviewZoom(), 1.0);
  EXPECT_EQ(Origin(), QPoint((421 - 40) / 2, (352 - 30) / 2));
  main->checkboxXY->click();
  EXPECT_EQ(Origin(), QPoint(421 / 2 + 10, 352 / 2 + 20));
  EXPECT_EQ(Size(), QStringLiteral("40*30"));
  // A large one shrinks to fit; "Apply X/Y" plays no part.
  main->btndown->click();
  EXPECT_EQ(Box(), QSize(421, 352));
  EXPECT_DOUBLE_EQ(main->PreviewZoom(), 421.0 / 800.0);
  EXPECT_EQ(Origin(), QPoint(1, 1));
  EXPECT_EQ(Size(), QStringLiteral("800*600"));
  // Drawn 421 x 316 from (1, 1): colour 9 inside, background below.
  const QImage preview = main->PaintBox1->Compose();
  const QRgb colour = qRgb(b.palette[9 * 4 + 2], b.palette[9 * 4 + 1], b.palette[9 * 4]);
  EXPECT_EQ(preview.pixel(200, 315), colour);
  EXPECT_EQ(preview.pixel(200, 318), main->PaintBox1->Color.rgb());
}

TEST_F(PreviewTest, AutoMeasuresAgainstTheBoxAsItIs) {
  // A run-coded image keeps its exact width: 421, as wide as the box.
  LibraryBuilder b(2);
  b.Add16(421, 100, 0, 0, {});
  b.Add16(600, 100, 0, 0, {});
  Open(b);
  main->rbauto->click();
  EXPECT_EQ(main->PreviewZoom(), 1.0);
  EXPECT_EQ(Origin(), QPoint(1, 1));
  // After a fixed zoom made the box larger, "Auto" keeps that size and fits into it.
  main->btndown->click();
  main->rb100->click();
  EXPECT_EQ(Box(), QSize(600, 100));
  main->rbauto->click();
  EXPECT_EQ(Box(), QSize(600, 100));
  EXPECT_EQ(main->PreviewZoom(), 1.0);
  EXPECT_EQ(Origin(), QPoint(1, 1));
}

TEST_F(PreviewTest, KeyColourFollowsTransparant) {
  LibraryBuilder b(0);
  b.palette[5 * 4 + 0] = 0;  // entry 5 pure red
  b.palette[5 * 4 + 1] = 0;
  b.palette[5 * 4 + 2] = 255;
  // 8 x 2: the top row red, the bottom row black (stored bottom row first).
  std::vector<uint8_t> pixels(16, 0);
  std::fill(pixels.begin() + 8, pixels.end(), 5);
  b.Add8(8, 2, 0, 0, pixels);
  Open(b);
  main->rb800->click();  // 64 x 16 on screen
  const QPoint o = Origin();
  const QRgb background = main->PaintBox1->Color.rgb();
  QImage preview = main->PaintBox1->Compose();
  EXPECT_EQ(preview.pixel(o + QPoint(20, 4)), background);  // red keyed out
  EXPECT_EQ(preview.pixel(o + QPoint(20, 12)), qRgb(0, 0, 0));
  main->checkboxTransparent->click();
  preview = main->PaintBox1->Compose();
  EXPECT_EQ(preview.pixel(o + QPoint(20, 4)), qRgb(255, 0, 0));
  EXPECT_EQ(preview.pixel(o + QPoint(20, 12)), background);  // black keyed out
}

TEST_F(PreviewTest, ShowGridDrawsDottedAxesOverTheImage) {
  OpenOne(64, 48);
  const QImage plain = main->PaintBox1->Compose();
  main->CheckBoxzuobiao->click();
  const QImage axes = main->PaintBox1->Compose();
  const int cx = 421 / 2, cy = 352 / 2;
  int black = 0, other = 0;
  for (int x = 0; x < 421; ++x) (axes.pixel(x, cy) == qRgb(0, 0, 0) ? black : other)++;
  EXPECT_GT(black, 421 / 4);  // dotted: some pixels set...
  EXPECT_GT(other, 421 / 4);  // ...and some not
  black = 0;
  for (int y = 0; y < 352; ++y) black += axes.pixel(cx, y) == qRgb(0, 0, 0);
  EXPECT_GT(black, 352 / 4);
  // Over the image too; elsewhere nothing changes.
  bool overImage = false;
  for (int x = 178; x < 178 + 64; ++x) overImage |= axes.pixel(x, cy) == qRgb(0, 0, 0);
  EXPECT_TRUE(overImage);
  EXPECT_EQ(axes.pixel(10, 10), plain.pixel(10, 10));
  // With no library, only the background and the axes.
  main->Jov().Close();
  const QImage closed = main->PaintBox1->Compose();
  EXPECT_EQ(closed.pixel(178 + 10, 152 + 10), main->PaintBox1->Color.rgb());
}

// The rectangle of ink (pixels other than bg) inside rect of image.
QRect InkBox(const QImage& image, const QRect& rect, QRgb bg) {
  QRect ink;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x)
      if (image.pixel(x, y) != bg) ink |= QRect(x, y, 1, 1);
  return ink;
}

class ThumbnailTest : public PreviewTest {
 protected:
  QImage Grid() {
    return main->DrawGrid1->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  QRect Cell(int index) {
    return main->DrawGrid1->visualRect(main->DrawGrid1->model()->index(index / 6, index % 6));
  }
};

TEST_F(ThumbnailTest, CellsShowFittedImagesAndNumbers) {
  LibraryBuilder b(0);
  b.Add8(8, 8, 0, 0, Solid(8, 8, 3));
  b.Add8(100, 30, 0, 0, Solid(100, 30, 9));                         // squeezed to 64 x 30
  b.Add8(12, 10, 0, 0, Solid(12, 10, 9));                           // kept at 12 x 10
  for (int i = 3; i < 12; ++i) b.Add8(8, 8, 0, 0, Solid(8, 8, 0));  // black: nothing drawn
  Open(b);
  EXPECT_EQ(main->DrawGrid1->RowCount(), 3);
  const QRgb colour = qRgb(b.palette[9 * 4 + 2], b.palette[9 * 4 + 1], b.palette[9 * 4]);
  const QImage grid = Grid();
  const QRgb white = qRgb(255, 255, 255);

  const QRect c1 = Cell(1);
  EXPECT_EQ(c1.size(), QSize(64, 64));
  EXPECT_EQ(InkBox(grid, QRect(c1.topLeft(), QSize(64, 30)), colour), QRect());
  EXPECT_EQ(grid.pixel(c1.topLeft() + QPoint(63, 29)), colour);
  EXPECT_NE(grid.pixel(c1.topLeft() + QPoint(5, 31)), colour);

  const QRect c2 = Cell(2);
  EXPECT_EQ(grid.pixel(c2.topLeft() + QPoint(11, 9)), colour);
  EXPECT_NE(grid.pixel(c2.topLeft() + QPoint(12, 5)), colour);
  EXPECT_NE(grid.pixel(c2.topLeft() + QPoint(5, 10)), colour);

  // Image 7 (row 1, column 1) is black, so only its label shows: in the bottom-right
  // corner, ending one pixel inside the cell.
  const QRect c7 = Cell(7);
  EXPECT_EQ(c7.topLeft(), QPoint(65, 65));
  const QRect ink = InkBox(grid, c7, white);
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_GE(ink.left(), c7.left() + 20);
  EXPECT_GE(ink.top(), c7.top() + 40);
  EXPECT_GE(ink.right(), c7.right() - 4);
  EXPECT_LE(ink.right(), c7.right() - 1);
  // The third row holds no images: its cells stay empty.
  for (int i = 12; i < 18; ++i) EXPECT_EQ(InkBox(grid, Cell(i), white), QRect()) << i;
}

TEST_F(ThumbnailTest, LabelsAreFiveDigitNumbers) {
  LibraryBuilder b(0);
  for (int i = 0; i < 8; ++i) b.Add8(4, 4, 0, 0, Solid(4, 4, 0));
  Open(b);
  // The label of image 7 against a reference drawing of "00007" in the grid's font.
  const QImage grid = Grid();
  const QRect c7 = Cell(7);
  QImage reference(c7.size(), QImage::Format_RGB32);
  reference.fill(Qt::white);
  {
    QPainter p(&reference);
    p.setFont(main->DrawGrid1->font());
    p.setPen(main->DrawGrid1->palette().color(QPalette::Active, QPalette::Text));
    const QFontMetrics m(p.font());
    const QString text = QStringLiteral("00007");
    p.drawText(QRect(64 - m.horizontalAdvance(text) - 1, 64 - m.height() - 1,
                     m.horizontalAdvance(text), m.height()),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
  }
  EXPECT_EQ(grid.copy(c7), reference);
}

TEST_F(ThumbnailTest, ClickingACellMakesItsImageCurrent) {
  LibraryBuilder b(0);
  for (int i = 0; i < 14; ++i) b.Add8(8, 8, int16_t(i), 0, Solid(8, 8, 3));
  Open(b);
  QTest::mouseClick(main->DrawGrid1->viewport(), Qt::LeftButton, {}, Cell(9).center());
  Settle();
  EXPECT_EQ(main->CurrentIndex(), 9);
  EXPECT_EQ(Index(), QStringLiteral("9/13"));
  EXPECT_EQ(main->LabelX->text(), QStringLiteral("9"));
  // A cell without an image changes nothing.
  QTest::mouseClick(main->DrawGrid1->viewport(), Qt::LeftButton, {}, Cell(16).center());
  Settle();
  EXPECT_EQ(main->CurrentIndex(), 9);
  // A range: its last cell becomes current and the selection collapses to it.
  QTest::mouseClick(main->DrawGrid1->viewport(), Qt::LeftButton, {}, Cell(1).center());
  Settle();
  QTest::mouseClick(main->DrawGrid1->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                    Cell(8).center());
  Settle();
  EXPECT_EQ(main->CurrentIndex(), 8);
  EXPECT_EQ(main->DrawGrid1->selectionModel()->selectedIndexes().size(), 1);
  // Stepping moves the selection along; the grid scrolls to it.
  main->FillInfo(13);
  EXPECT_EQ(main->DrawGrid1->currentIndex(), main->DrawGrid1->model()->index(2, 1));
}

TEST_F(ThumbnailTest, GridKeysMoveTheCurrentImage) {
  LibraryBuilder b(0);
  for (int i = 0; i < 20; ++i) b.Add8(8, 8, 0, 0, Solid(8, 8, 3));
  Open(b);
  main->DrawGrid1->setFocus();
  QTest::keyClick(main->DrawGrid1, Qt::Key_Down);
  Settle();
  EXPECT_EQ(main->CurrentIndex(), 6);
  EXPECT_EQ(Index(), QStringLiteral("6/19"));
}

}  // namespace
