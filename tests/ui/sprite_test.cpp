// The window's sprite tools driven with real keys, clicks, drops and the clipboard: the
// animation preview, the placement keys, dropped and pasted pictures and the marked range
// of thumbnails.  Every change must leave the files exactly as the jovtool command that
// does the same leaves a copy of them.

#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QMimeData>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QUrl>

#include "dialogs/addpic.h"
#include "dialogs/del.h"
#include "dialogs/outpic.h"
#include "support/libbuilder.h"
#include "uitest.h"
#include "viewer/ffpbox.h"
#include "viewer/nudge.h"

namespace {

class SpriteTest : public ViewerTest {
 protected:
  QString lib;
  std::vector<QStringList> choices;  // the buttons of every question asked
  int answer = 0;

  void SetUp() override {
    ViewerTest::SetUp();
    TFormMain::ChoiceHook = [this](const QString&, const QStringList& buttons) {
      choices.push_back(buttons);
      return answer;
    };
  }
  void TearDown() override {
    TFormMain::ChoiceHook = nullptr;
    TSaveDialog::ExecuteHook = nullptr;
    ViewerTest::TearDown();
  }
  // n images of 8 x 4 in colour i + 1 with black corners, image i placed at (i, -i).
  void OpenImages(int n) {
    LibraryBuilder b(0);
    for (int16_t i = 0; i < n; ++i) {
      std::vector<uint8_t> pixels = Solid(8, 4, uint8_t(i + 1));
      pixels[0] = pixels[31] = 0;
      b.Add8(8, 4, i, int16_t(-i), pixels);
    }
    lib = Write(b);
    ChooseFile(lib);
    Settle();
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
    // Keys go to the window, not to the text of the file name.
    main->DrawGrid1->setFocus();
  }
  // A copy of the library as it is now, for jovtool.
  QString CopyForTool() {
    const QString copy = dir.filePath("tool.jov");
    for (const char* ext : {".jov", ".JOX"}) {
      QFile::remove(copy.chopped(4) + ext);
      QFile::copy(lib.chopped(4) + ext, copy.chopped(4) + ext);
    }
    return copy;
  }
  // The window's library and the copy jovtool changed hold the same bytes.
  void ExpectSameAs(const QString& copy) {
    EXPECT_EQ(ReadFileBytes(lib), ReadFileBytes(copy));
    EXPECT_EQ(ReadFileBytes(lib.chopped(4) + ".JOX"), ReadFileBytes(copy.chopped(4) + ".JOX"));
  }
  void Tool(QStringList arguments) {
    QString error;
    ASSERT_EQ(RunJovtool(arguments, &error), 0) << error.toStdString();
  }
  QString Picture(const QString& name, int w, int h, QRgb colour) {
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(colour);
    const QString path = dir.filePath(name);
    picture.save(path);
    return path;
  }
  void Drop(QWidget* over, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPointF at = over->mapTo(main.get(), over->rect().center());
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &drop);
  }
  QRect Cell(int number) const {
    return main->DrawGrid1->visualRect(main->DrawGrid1->model()->index(
        number / TDrawGrid::kColCount, number % TDrawGrid::kColCount));
  }
};

// With the defaults ("max", no loop, no range) Play runs to the last image and stops, as
// documented; with a rate and "Loop" it goes round the range until Space stops it.  The
// animation saved as a GIF is jovtool's of that range and rate.
TEST_F(SpriteTest, PlayLoopsOverTheRangeAndSpaceStopsIt) {
  OpenImages(8);
  EXPECT_EQ(main->SpinFps->text(), QStringLiteral("max"));
  EXPECT_FALSE(main->CheckLoop->isChecked());
  main->FillInfo(5);
  QTest::keyClick(main.get(), Qt::Key_Space);
  EXPECT_EQ(main->CurrentIndex(), 7);

  main->SpinFps->setValue(60);
  main->CheckLoop->setChecked(true);
  main->EditLoopFrom->setText("2");
  main->EditLoopTo->setText("4");
  main->FillInfo(3);
  main->setFocus();
  std::vector<int> frames;
  const auto paint = main->PaintBox1->OnPaint;
  main->PaintBox1->OnPaint = [&](TFlickerFreePaintBox* box, QPainter& canvas) {
    if (frames.empty() || frames.back() != main->CurrentIndex())
      frames.push_back(main->CurrentIndex());
    if (frames.size() == 8) QTest::keyClick(main.get(), Qt::Key_Space);
    paint(box, canvas);
  };
  frames.clear();
  QTest::keyClick(main.get(), Qt::Key_Space);
  main->PaintBox1->OnPaint = paint;
  EXPECT_EQ(frames, std::vector<int>({4, 2, 3, 4, 2, 3, 4, 2}));

  const QString gif = dir.filePath("play.gif");
  TSaveDialog::ExecuteHook = [&](TSaveDialog& s) {
    s.FileName = gif;
    return true;
  };
  main->BtnSaveGif->click();
  Tool({"gif", lib, gif + ".tool", "--from", "2", "--to", "4", "--fps", "60", "--loop", "0",
        "--no-placement", "--quiet"});
  EXPECT_EQ(ReadFileBytes(gif), ReadFileBytes(gif + ".tool"));
  EXPECT_FALSE(ReadFileBytes(gif).isEmpty());
}

// Ctrl+arrows move the image shown by 1, with Shift by 10, at once on the screen; the
// presses of a burst are written as one change once the keys rest, the change jovtool
// set-placement makes.
TEST_F(SpriteTest, ControlArrowsNudgeThePlacementInOneWrite) {
  OpenImages(8);
  main->FillInfo(5);
  const QString copy = CopyForTool();
  const QByteArray before = ReadFileBytes(lib);
  for (int i = 0; i < 3; ++i) QTest::keyClick(main.get(), Qt::Key_Right, Qt::ControlModifier);
  QTest::keyClick(main.get(), Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(main.get(), Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(main->LabelX->text() + "," + main->LabelY->text(), QStringLiteral("7,5"));
  EXPECT_EQ(ReadFileBytes(lib), before) << "nothing written while the keys go on";
  QTest::qWait(TPlacementNudge::kQuietMs + 200);
  Tool({"set-placement", copy, "5", "7", "5"});
  ExpectSameAs(copy);
  main->FillInfo(5);
  EXPECT_EQ(main->LabelX->text() + "," + main->LabelY->text(), QStringLiteral("7,5"));
}

// One picture dropped on the preview asks: over the image shown ("Import At", jovtool
// replace) or before it (jovtool add --insert-at).  Closing the question changes nothing.
TEST_F(SpriteTest, APictureDroppedOnThePreviewGoesOverOrBeforeTheImage) {
  OpenImages(6);
  const QString picture = Picture("drop.png", 10, 3, qRgb(7 / 2, 255 - 7, 7));
  for (const int choice : {2, 0, 1}) {
    main->FillInfo(2);
    const QString copy = CopyForTool();
    answer = choice;
    choices.clear();
    messages.clear();
    Drop(main->ScrollBox1->viewport(), {QUrl::fromLocalFile(picture)});
    Settle();
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0], QStringList({"Import At", "Insert", "Cancel"}));
    if (choice == 0) Tool({"replace", copy, "2", picture});
    if (choice == 1) Tool({"add", copy, picture, "--insert-at", "2"});
    ExpectSameAs(copy);
    EXPECT_EQ(messages.size(), choice == 2 ? 0u : 1u);
  }
}

// Several pictures dropped on a cell of the grid open the batch import, filled in to
// insert them before that cell's image from a folder holding them and their placement
// files; the run is jovtool import --insert of their own folder.
TEST_F(SpriteTest, PicturesDroppedOnTheGridOpenTheBatchImportFilledIn) {
  OpenImages(40);
  ExpandGrid();
  const QString from = dir.filePath("from/");
  QDir().mkpath(from + "Placements");
  QList<QUrl> urls;
  for (int i = 0; i < 3; ++i) {
    const QString name = QStringLiteral("%1.png").arg(i, 6, 10, QLatin1Char('0'));
    QFile::rename(Picture(name, 6 + i, 4, qRgb(10 * i, 255 - 10 * i, 5 * i)), from + name);
    WriteFileBytes(from + "Placements/" + name.chopped(4) + ".txt",
                   QByteArray::number(i) + "\r\n-3\r\n");
    urls << QUrl::fromLocalFile(from + name);
  }
  const QString copy = CopyForTool();
  auto* d = Dialog<TFormadd>();
  Controls ui{d};
  QString folder, begin;
  bool insert = false;
  InsideModal(
      d,
      [&] {
        main->DrawGrid1->scrollToTop();
        Drop(main->DrawGrid1->viewport(), urls);
        Settle();
      },
      [&] {
        folder = ui.Edit("EditPicPath")->text();
        begin = ui.Edit("editBegin")->text();
        insert = ui.Button("RabtnInsert")->isChecked();
        ui.Button("BtnImport")->click();
      });
  const int cell = main->DrawGrid1->CellNumberAt(main->DrawGrid1->viewport()->rect().center());
  EXPECT_TRUE(insert);
  EXPECT_EQ(begin, QString::number(cell));
  EXPECT_FALSE(folder.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(folder)) << "the folder of links goes with the dialog";
  Tool({"import", copy, from, "--insert", QString::number(cell), "--format", "png", "--quiet"});
  ExpectSameAs(copy);
}

// Ctrl+C puts the image shown on the clipboard as a PNG with black transparent and as a
// bitmap; Ctrl+V puts it over the image shown and Ctrl+Shift+V before it, each after a
// question, as jovtool replace and add --insert-at do with the same PNG.
TEST_F(SpriteTest, CopyAndPasteGoThroughTheClipboard) {
  OpenImages(6);
  main->FillInfo(3);
  QTest::keyClick(main.get(), Qt::Key_C, Qt::ControlModifier);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  const QImage png = QImage::fromData(data->data("image/png"), "PNG");
  ASSERT_EQ(png.size(), QSize(8, 4));
  EXPECT_EQ(qAlpha(png.pixel(0, 3)), 0) << "black is transparent";
  EXPECT_EQ(png.pixel(1, 1), main->Jov().ImageAt(3)->pixel(1, 1));
  const QImage bmp = QImage::fromData(data->data("image/bmp"), "BMP");
  EXPECT_EQ(bmp.size(), QSize(8, 4));
  EXPECT_FALSE(
      data->data(QStringLiteral("application/x-qt-windows-mime;value=\"DeviceIndependentBitmap\""))
          .isEmpty());
  const QString saved = dir.filePath("clip.png");
  WriteFileBytes(saved, data->data("image/png"));
  for (const bool insert : {false, true}) {
    main->FillInfo(1);
    const QString copy = CopyForTool();
    choices.clear();
    answer = 0;
    ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
    QTest::keyClick(main.get(), Qt::Key_V,
                    insert ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
    Settle();
    ASSERT_EQ(choices.size(), 1u);
    if (insert)
      Tool({"add", copy, saved, "--insert-at", "1"});
    else
      Tool({"replace", copy, "1", saved});
    ExpectSameAs(copy);
  }
}

// Click and Shift+click mark a range of thumbnails, drawn framed; it fills the range fields
// of "Delete Image", "Export all" and "Import All" when they open.  A plain click marks one
// cell again, and the dialogs keep their own fields.
TEST_F(SpriteTest, AMarkedRangeFillsTheRangeFieldsOfTheDialogs) {
  OpenImages(20);
  ExpandGrid();
  QWidget* viewport = main->DrawGrid1->viewport();
  QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, Cell(2).center());
  QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, Cell(9).center());
  Settle();
  const QImage grid = viewport->grab().toImage();
  const QColor highlight = main->DrawGrid1->palette().color(QPalette::Active, QPalette::Highlight);
  // Marked cells are tinted and framed; the others keep the white background.
  const QPoint empty(40, 20);
  for (int number : {3, 7}) {
    EXPECT_NE(grid.pixelColor(Cell(number).topLeft() + empty), QColor(Qt::white)) << number;
    EXPECT_EQ(grid.pixelColor(Cell(number).topLeft() + QPoint(1, 1)), highlight) << number;
  }
  EXPECT_EQ(grid.pixelColor(Cell(12).topLeft() + empty), QColor(Qt::white));

  struct Opened {
    QDialog* dialog;
    QPushButton* button;
  };
  for (const Opened& o :
       {Opened{Dialog<TFormdel>(), main->btndelete}, Opened{Dialog<TFormout>(), main->btnallOut},
        Opened{Dialog<TFormadd>(), main->btnallinput}}) {
    QString range;
    InsideModal(
        o.dialog, [&] { o.button->click(); },
        [&] {
          Controls ui{o.dialog};
          range = ui.Edit("editBegin")->text() + ".." + ui.Edit("EditEnd")->text();
        });
    EXPECT_EQ(range, QStringLiteral("2..9")) << o.dialog->metaObject()->className();
  }
  QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, Cell(4).center());
  Settle();
  QString range;
  InsideModal(
      Dialog<TFormout>(), [&] { main->btnallOut->click(); },
      [&] {
        Controls ui{Dialog<TFormout>()};
        range = ui.Edit("editBegin")->text() + ".." + ui.Edit("EditEnd")->text();
      });
  EXPECT_EQ(range, QStringLiteral("0..19")) << "\"Export all\" as documented";
}

}  // namespace
