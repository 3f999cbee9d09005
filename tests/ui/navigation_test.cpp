// Opening, FillInfo, stepping, jumping, playing, placements and the options, driven
// through the buttons, the input box and the keys.

#include <QCheckBox>
#include <QDir>
#include <QMimeData>
#include <QProcess>
#include <QRadioButton>

#include "common/byteio.h"
#include "common/fileio.h"
#include "uitest.h"

namespace {

using NavigationTest = ViewerTest;

// A library of n images of 8 x 8, image i with placement (i, -i).
LibraryBuilder Images(int n, int fileType = 0) {
  LibraryBuilder b(fileType);
  for (int i = 0; i < n; ++i) b.Add8(8, 8, int16_t(i), int16_t(-i), Solid(8, 8, uint8_t(i + 1)));
  return b;
}

TEST_F(NavigationTest, OpenShowsTheFirstImageAndEnablesTheButtons) {
  LibraryBuilder b(0);
  b.Add8(64, 48, -3, 7, Solid(64, 48, 2));
  for (int i = 0; i < 12; ++i) b.Add8(8, 8, 0, 0, Solid(8, 8, 1));
  Open(b);
  EXPECT_EQ(main->EditFileName->text(), dir.filePath(QStringLiteral("lib.jov")));
  EXPECT_EQ(main->Labeltype->text(), QStringLiteral("VARN   数据格式(1)"));
  EXPECT_EQ(Size(), QStringLiteral("64*48"));
  EXPECT_EQ(main->LabelX->text(), QStringLiteral("-3"));
  EXPECT_EQ(main->LabelY->text(), QStringLiteral("7"));
  EXPECT_EQ(Index(), QStringLiteral("0/12"));
  EXPECT_FALSE(main->btnup->isEnabled());
  for (QPushButton* btn :
       {main->btndown, main->btndelete, main->BtnJump, main->BtnAutoPlay, main->btnstop,
        main->btninput, main->BtnOut, main->btnAdd, main->btnCreate, main->btnallinput,
        main->btnallOut, main->btnx, main->btny})
    EXPECT_TRUE(btn->isEnabled()) << btn->text().toStdString();
  // 13 images: 13 div 6 + 1 rows, the first cell selected.
  EXPECT_EQ(main->DrawGrid1->RowCount(), 3);
  EXPECT_EQ(main->DrawGrid1->currentIndex().row(), 0);
  EXPECT_EQ(main->DrawGrid1->currentIndex().column(), 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(NavigationTest, FailedOrCancelledOpens) {
  Open(Images(3));
  main->btndown->click();
  ASSERT_EQ(Index(), QStringLiteral("1/2"));

  // Cancelled dialog, or a path with no file: nothing happens.
  TOpenDialog::ExecuteHook = [](TOpenDialog&) { return false; };
  main->Button2->click();
  ChooseFile(dir.filePath(QStringLiteral("missing.jov")));
  EXPECT_TRUE(main->Jov().IsOpen());
  EXPECT_TRUE(messages.empty());

  // Not a library: the message, the library closed, labels and buttons as they were.
  const QString junk = dir.filePath(QStringLiteral("junk.jov"));
  WriteFileBytes(junk, QByteArray(100, 'j'));
  ChooseFile(junk);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("错误！"));
  EXPECT_EQ(messages[0].text, QStringLiteral("JOv文件已经被破坏或不是jov文件！"));
  EXPECT_FALSE(main->Jov().IsOpen());
  EXPECT_EQ(Index(), QStringLiteral("1/2"));
  EXPECT_TRUE(main->btndown->isEnabled());
  // Handlers that need a library do nothing now.
  main->btndown->click();
  EXPECT_EQ(Index(), QStringLiteral("1/2"));
  EXPECT_EQ(main->CurrentIndex(), 1);
  // Typing a path opens nothing.
  main->EditFileName->setText(dir.filePath(QStringLiteral("lib.jov")));
  EXPECT_FALSE(main->Jov().IsOpen());
}

TEST_F(NavigationTest, OneImageAndNoImages) {
  Open(Images(1));
  EXPECT_EQ(Index(), QStringLiteral("0/0"));
  EXPECT_FALSE(main->btnup->isEnabled());
  EXPECT_FALSE(main->btndown->isEnabled());

  LibraryBuilder empty(0);
  Open(empty, QStringLiteral("empty"));
  EXPECT_EQ(Index(), QStringLiteral("0/-1"));
  EXPECT_FALSE(main->btnup->isEnabled());
  EXPECT_TRUE(main->btndown->isEnabled());
  main->btndown->click();
  EXPECT_EQ(main->CurrentIndex(), 0);
  EXPECT_EQ(Index(), QStringLiteral("0/-1"));
  EXPECT_EQ(main->DrawGrid1->RowCount(), 1);
}

TEST_F(NavigationTest, PreviousAndNextAtTheEnds) {
  Open(Images(3));
  main->btnup->click();  // disabled at the first image
  EXPECT_EQ(main->CurrentIndex(), 0);
  main->btnupClick();  // the handler itself stops at 0
  EXPECT_EQ(main->CurrentIndex(), 0);
  main->btndown->click();
  EXPECT_TRUE(main->btnup->isEnabled());
  EXPECT_TRUE(main->btndown->isEnabled());
  main->btndown->click();
  EXPECT_EQ(Index(), QStringLiteral("2/2"));
  EXPECT_EQ(main->LabelX->text(), QStringLiteral("2"));
  EXPECT_FALSE(main->btndown->isEnabled());
  // Past the last image the handler goes one further, to the placeholder, and no more;
  // the labels but the index keep the image shown before.
  main->btndownClick();
  main->btndownClick();
  EXPECT_EQ(main->CurrentIndex(), 3);
  EXPECT_EQ(Index(), QStringLiteral("3/2"));
  EXPECT_EQ(main->LabelX->text(), QStringLiteral("2"));
  EXPECT_EQ(Size(), QStringLiteral("8*8"));
  main->btnup->click();
  EXPECT_EQ(Index(), QStringLiteral("2/2"));
}

TEST_F(NavigationTest, JumpOptionSkipsBlankImagesForwards) {
  LibraryBuilder b(0);
  b.Add8(8, 8, 1, 0, Solid(8, 8, 1));  // 0
  b.Add8(1, 1, 0, 0, {0});             // 1 blank
  b.Add8(4, 1, 0, 0, Solid(4, 1, 2));  // 2 one row: blank too
  b.Add8(8, 8, 4, 0, Solid(8, 8, 3));  // 3
  b.Add8(1, 1, 0, 0, {0});             // 4 blank
  b.Add8(1, 1, 0, 0, {0});             // 5 blank, the last
  Open(b);
  main->CheckBoxjump->click();
  main->btndown->click();
  // The image shown is 3; once the grid follows it, so do the index label and buttons.
  EXPECT_EQ(main->CurrentIndex(), 3);
  EXPECT_EQ(main->LabelX->text(), QStringLiteral("4"));
  Settle();
  EXPECT_EQ(Index(), QStringLiteral("3/5"));
  EXPECT_EQ(main->DrawGrid1->currentIndex().column(), 3);
  // Previous lands on blank 2 and skips forward again, back to 3.
  main->btnup->click();
  Settle();
  EXPECT_EQ(main->CurrentIndex(), 3);
  // All later images blank: it stops on the last one.
  main->btndown->click();
  Settle();
  EXPECT_EQ(main->CurrentIndex(), 5);
  EXPECT_EQ(Index(), QStringLiteral("5/5"));
  EXPECT_FALSE(main->btndown->isEnabled());
  // Without the option blank images are shown.
  main->CheckBoxjump->click();
  main->btnup->click();
  EXPECT_EQ(main->CurrentIndex(), 4);
  EXPECT_EQ(Size(), QStringLiteral("4*1"));
}

TEST_F(NavigationTest, TypeLabelsAndRunCodedLibrariesAreReadOnly) {
  LibraryBuilder v1(1);
  v1.Add8(8, 8, 0, 0, Solid(8, 8, 1));
  Open(v1, QStringLiteral("v1"));
  EXPECT_EQ(main->Labeltype->text(), QStringLiteral("VARN   数据格式(2)"));

  LibraryBuilder v2(2);
  v2.AddEntry(-1);
  v2.Add16(4, 2, 0, 0, {});
  v2.Add16(4, 2, 0, 0, {});
  Open(v2, QStringLiteral("v2"));
  EXPECT_EQ(main->Labeltype->text(), QStringLiteral("OLM   数据格式(2)"));
  EXPECT_EQ(Index(), QStringLiteral("0/1"));
  for (QPushButton* btn :
       {main->btninput, main->btnallinput, main->btnAdd, main->btndelete, main->btnx, main->btny})
    EXPECT_FALSE(btn->isEnabled()) << btn->text().toStdString();
  for (QPushButton* btn : {main->btndown, main->BtnJump, main->BtnAutoPlay, main->btnstop,
                           main->BtnOut, main->btnallOut, main->btnCreate})
    EXPECT_TRUE(btn->isEnabled()) << btn->text().toStdString();

  LibraryBuilder v2plain(2);
  v2plain.Add16(4, 2, 0, 0, {});
  Open(v2plain, QStringLiteral("v2plain"));
  EXPECT_EQ(main->Labeltype->text(), QStringLiteral("OLM   数据格式(1)"));

  // Back to an 8-bit library: editing comes back.
  Open(Images(2));
  EXPECT_EQ(main->Labeltype->text(), QStringLiteral("VARN   数据格式(1)"));
  EXPECT_TRUE(main->btnx->isEnabled());
  EXPECT_TRUE(main->btndelete->isEnabled());
}

TEST_F(NavigationTest, JumpImageReadsTheNumberBeforeTheFirstBadCharacter) {
  Open(Images(20));
  struct Case {
    const char* entry;
    int expected;
  };
  // Starting from image 5 each time.
  for (const Case& c : {Case{"12abc", 12}, Case{"abc", 0}, Case{"", 0}, Case{"$A", 10},
                        Case{"19", 19}, Case{"20", 5}, Case{"-3", 5}, Case{"99999999999", 5}}) {
    main->FillInfo(5);
    AnswerInput(QString::fromLatin1(c.entry));
    main->BtnJump->click();
    EXPECT_EQ(main->CurrentIndex(), c.expected) << c.entry;
  }
  // Cancel changes nothing, not even the value text.
  auto seen = AnswerInput(QStringLiteral("7"), false);
  main->BtnJump->click();
  EXPECT_EQ(main->CurrentIndex(), 5);
  EXPECT_EQ(main->InputDialog->Value, QStringLiteral("99999999999"));
  EXPECT_EQ(seen->caption, QStringLiteral("跳转"));
  EXPECT_EQ(seen->prompt, QStringLiteral("请输入图片索引号    "));
  EXPECT_EQ(seen->value, QStringLiteral("99999999999"));
}

TEST_F(NavigationTest, JumpValueTextStartsAt0AndFollowsTheLastEntry) {
  Open(Images(20));
  auto first = AnswerInput(QStringLiteral("3"));
  main->BtnJump->click();
  EXPECT_EQ(first->value, QStringLiteral("0"));
  // X sets the value text to "1"; Jump then shows what was typed for X.
  AnswerInput(QStringLiteral("-5"));
  main->btnx->click();
  auto after = AnswerInput(QStringLiteral("4"));
  main->BtnJump->click();
  EXPECT_EQ(after->value, QStringLiteral("-5"));
  EXPECT_EQ(main->CurrentIndex(), 4);
}

// The placement as stored in the record of image index.
std::pair<int, int> StoredPlacement(const QString& path, const TJOV& jov, int index) {
  const QByteArray data = ReadWholeFile(path);
  const int32_t at = *jov.EntryOf(index);
  const auto* p = reinterpret_cast<const uint8_t*>(data.constData()) + at;
  return {GetI16(p + 4), GetI16(p + 6)};
}

TEST_F(NavigationTest, XAndYWriteTheLow16BitsOfValidEntries) {
  const LibraryBuilder b = Images(3);
  Open(b);
  const QString path = main->Jov().FileName();
  main->btndown->click();

  auto seenX = AnswerInput(QStringLiteral("-5"));
  main->btnx->click();
  EXPECT_EQ(seenX->caption, QStringLiteral("更改图片横坐标"));
  EXPECT_EQ(seenX->prompt, QStringLiteral("请输入图片横坐标    "));
  EXPECT_EQ(seenX->value, QStringLiteral("1"));
  EXPECT_EQ(StoredPlacement(path, main->Jov(), 1), std::make_pair(-5, -1));
  EXPECT_EQ(main->LabelX->text(), QStringLiteral("-5"));

  AnswerInput(QStringLiteral("$10"));
  main->btny->click();
  EXPECT_EQ(StoredPlacement(path, main->Jov(), 1), std::make_pair(-5, 16));
  EXPECT_EQ(main->LabelY->text(), QStringLiteral("16"));

  AnswerInput(QStringLiteral("70000"));
  main->btnx->click();
  EXPECT_EQ(StoredPlacement(path, main->Jov(), 1), std::make_pair(4464, 16));
  EXPECT_EQ(main->LabelX->text(), QStringLiteral("4464"));

  // Malformed entries: the message, nothing written.
  for (const char* entry : {"5x", "", " ", "--1"}) {
    messages.clear();
    AnswerInput(QString::fromLatin1(entry));
    main->btny->click();
    ASSERT_EQ(messages.size(), 1u) << entry;
    EXPECT_EQ(messages[0].title, QStringLiteral("错误！"));
    EXPECT_EQ(messages[0].text, QStringLiteral("请输入正确的格式"));
  }
  EXPECT_EQ(StoredPlacement(path, main->Jov(), 1), std::make_pair(4464, 16));
  // Cancel writes nothing either; the other images were never touched.
  AnswerInput(QStringLiteral("77"), false);
  main->btnx->click();
  EXPECT_EQ(StoredPlacement(path, main->Jov(), 1), std::make_pair(4464, 16));
  EXPECT_EQ(StoredPlacement(path, main->Jov(), 0), std::make_pair(0, 0));
  EXPECT_EQ(StoredPlacement(path, main->Jov(), 2), std::make_pair(2, -2));
}

TEST_F(NavigationTest, XAndYWithoutALibraryStillAskAndCheck) {
  auto seen = AnswerInput(QStringLiteral("12"));
  main->btny->click();
  EXPECT_TRUE(seen->shown);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(main->LabelY->text().isEmpty());
  AnswerInput(QStringLiteral("x"));
  main->btnx->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("请输入正确的格式"));
}

TEST_F(NavigationTest, PlayRunsToTheEndOrUntilStopped) {
  Open(Images(30));
  main->FillInfo(29);
  main->BtnAutoPlay->click();  // on the last image: nothing
  EXPECT_EQ(main->CurrentIndex(), 29);

  main->FillInfo(3);
  main->BtnAutoPlay->click();
  EXPECT_EQ(main->CurrentIndex(), 29);
  EXPECT_EQ(Index(), QStringLiteral("29/29"));
  EXPECT_FALSE(main->btndown->isEnabled());

  // Stop pressed while playing: the image reached stays.
  main->FillInfo(0);
  int frames = 0;
  auto* timer = new QTimer(main.get());
  QObject::connect(timer, &QTimer::timeout, [&] {
    if (++frames == 3) main->btnstop->click();
  });
  timer->start(0);
  main->BtnAutoPlay->click();
  timer->stop();
  EXPECT_GT(main->CurrentIndex(), 0);
  EXPECT_LT(main->CurrentIndex(), 29);
  EXPECT_EQ(Index(), QStringLiteral("%1/29").arg(main->CurrentIndex()));
  // Play starts from the image shown.
  const int reached = main->CurrentIndex();
  EXPECT_TRUE(main->BtnAutoPlay->isEnabled());
  frames = 0;
  timer->start(0);
  main->BtnAutoPlay->click();
  timer->stop();
  EXPECT_GT(main->CurrentIndex(), reached);
}

TEST_F(NavigationTest, NestedPlaysEndTogetherOnStop) {
  Open(Images(200));
  int outerTicks = 0, innerTicks = 0, nested = 0, stoppedAt = -1;
  // The second timer runs while the nested play pumps messages, and presses Stop.
  auto* stopper = new QTimer(main.get());
  QObject::connect(stopper, &QTimer::timeout, [&] {
    if (++innerTicks == 4) {
      main->btnstop->click();
      stoppedAt = main->CurrentIndex();
      stopper->stop();
    }
  });
  auto* timer = new QTimer(main.get());
  QObject::connect(timer, &QTimer::timeout, [&] {
    if (++outerTicks == 2) {
      ++nested;
      stopper->start(0);
      main->BtnAutoPlay->click();  // Play pressed during play
      timer->stop();
    }
  });
  timer->start(0);
  main->BtnAutoPlay->click();
  timer->stop();
  EXPECT_EQ(nested, 1);
  EXPECT_GT(stoppedAt, 2);
  // Neither loop went on after Stop.
  EXPECT_EQ(main->CurrentIndex(), stoppedAt);
  EXPECT_LT(main->CurrentIndex(), 199);
  QTimer* ticker = new QTimer(main.get());
  int ticks = 0;
  // A jump during play is taken up: play goes on from there.
  main->FillInfo(0);
  int afterJump = -1;
  QObject::connect(ticker, &QTimer::timeout, [&] {
    ++ticks;
    if (ticks == 2) main->FillInfo(190);
    if (ticks == 3) afterJump = main->CurrentIndex();
  });
  ticker->start(0);
  main->BtnAutoPlay->click();
  ticker->stop();
  EXPECT_GT(afterJump, 190);
  EXPECT_EQ(main->CurrentIndex(), 199);
}

TEST_F(NavigationTest, ClosingTheWindowEndsPlay) {
  Open(Images(500));
  int ticks = 0;
  auto* timer = new QTimer(main.get());
  QObject::connect(timer, &QTimer::timeout, [&] {
    if (++ticks == 3) main->close();
  });
  timer->start(0);
  main->BtnAutoPlay->click();
  timer->stop();
  EXPECT_LT(main->CurrentIndex(), 100);
}

TEST_F(NavigationTest, EveryOptionRefreshesTheView) {
  LibraryBuilder b(0);
  b.Add8(20, 10, 0, 0, Solid(20, 10, 1));
  b.Add8(20, 10, 0, 0, Solid(20, 10, 1));
  Open(b);
  main->btndown->click();
  const std::pair<QRadioButton*, const char*> zooms[] = {
      {main->Rb50, "10*5"},    {main->rb200, "40*20"},  {main->rb400, "80*40"},
      {main->rb800, "160*80"}, {main->rbauto, "20*10"}, {main->rb100, "20*10"}};
  for (const auto& [radio, size] : zooms) {
    radio->click();
    EXPECT_EQ(Size(), QString::fromLatin1(size));
    EXPECT_EQ(main->CurrentIndex(), 1);
  }
  // Check boxes refresh too: the transparency copy follows "Transparant".
  main->checkboxTransparent->click();
  EXPECT_TRUE(main->Transparent());
  main->checkboxTransparent->click();
  EXPECT_FALSE(main->Transparent());
}

TEST_F(NavigationTest, KeysStepThroughTheButtons) {
  Open(Images(10));
  main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
  main->DrawGrid1->setFocus();
  QTest::keyClick(main.get(), Qt::Key_Right);
  QTest::keyClick(main.get(), Qt::Key_PageDown);
  EXPECT_EQ(main->CurrentIndex(), 2);
  QTest::keyClick(main.get(), Qt::Key_Left);
  EXPECT_EQ(main->CurrentIndex(), 1);
  QTest::keyClick(main.get(), Qt::Key_End);
  EXPECT_EQ(main->CurrentIndex(), 9);
  // Next is disabled on the last image, so the key does nothing.
  QTest::keyClick(main.get(), Qt::Key_Right);
  EXPECT_EQ(main->CurrentIndex(), 9);
  QTest::keyClick(main.get(), Qt::Key_PageUp);
  EXPECT_EQ(main->CurrentIndex(), 8);
  QTest::keyClick(main.get(), Qt::Key_Home);
  EXPECT_EQ(main->CurrentIndex(), 0);
  EXPECT_EQ(Index(), QStringLiteral("0/9"));
}

TEST_F(NavigationTest, DroppedLibraryOpens) {
  const QString path = Write(Images(4), QStringLiteral("Dropped"));
  const QString upper = dir.filePath(QStringLiteral("UPPER.JOV"));
  QFile::copy(path, upper);
  QFile::copy(dir.filePath(QStringLiteral("Dropped.JOX")),
              dir.filePath(QStringLiteral("UPPER.JOX")));
  for (const QString& file : {path, upper}) {
    main->Jov().Close();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &drop);
    EXPECT_TRUE(main->Jov().IsOpen());
    EXPECT_EQ(main->Jov().FileName(), file);
    EXPECT_EQ(Index(), QStringLiteral("0/3"));
  }
  // Other files are not taken.
  QMimeData other;
  other.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("picture.bmp")))});
  QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(main.get(), &enter);
  EXPECT_FALSE(enter.isAccepted());
}

TEST_F(NavigationTest, LibraryChangedBehindTheWindowIsShownAfterRefresh) {
  Open(Images(3));
  main->btndown->click();
  // A dialog rewrites the library and reopens it: now 8 images, image 1 with a new
  // placement.
  LibraryBuilder bigger(0);
  for (int i = 0; i < 8; ++i) bigger.Add8(8, 8, int16_t(i == 1 ? 50 : i), 0, Solid(8, 8, 1));
  Write(bigger);
  main->Jov().Close();
  main->Jov().Open(main->Jov().FileName());
  main->SetGridRowCount();
  main->RepaintGrid();
  Settle();
  EXPECT_EQ(main->DrawGrid1->RowCount(), 2);
  EXPECT_EQ(Index(), QStringLiteral("1/7"));
  EXPECT_EQ(main->LabelX->text(), QStringLiteral("50"));
  EXPECT_EQ(main->CurrentIndex(), 1);
}

TEST_F(NavigationTest, DemoLibrariesOfEveryVariant) {
  QProcess tool;
  tool.start(QStringLiteral(JOVTOOL_PATH),
             {QStringLiteral("demo"), dir.path(), QStringLiteral("--quiet")});
  ASSERT_TRUE(tool.waitForFinished(30000));
  ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  EXPECT_TRUE(tool.readAllStandardOutput().isEmpty());

  const std::pair<const char*, const char*> libraries[] = {{"demo8.jov", "VARN   数据格式(1)"},
                                                           {"demo8x.jov", "VARN   数据格式(2)"},
                                                           {"demo16.jov", "OLM   数据格式(1)"},
                                                           {"demo16s.jov", "OLM   数据格式(2)"}};
  for (const auto& [name, label] : libraries) {
    ChooseFile(dir.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(main->Jov().IsOpen()) << name;
    EXPECT_EQ(main->Labeltype->text(), QString::fromUtf8(label)) << name;
    EXPECT_GE(main->Jov().ImageCount(), 8) << name;
    // Every image fetches with a picture or as a blank.
    int blanks = 0;
    for (int i = 0; i < main->Jov().ImageCount(); ++i) {
      const QImage* image = main->Jov().ImageAt(i);
      ASSERT_NE(image, nullptr);
      blanks += image->width() <= 4 || image->height() <= 1;
    }
    if (QByteArray(name) == "demo8.jov") {
      EXPECT_GE(blanks, 3);
    }
    if (QByteArray(name) == "demo16.jov") {
      EXPECT_GE(blanks, 1);
    }
  }
  // The run-coded pictures decode with visible pixels.
  ChooseFile(dir.filePath(QStringLiteral("demo16.jov")));
  const QImage* gem = main->Jov().ImageAt(0);
  EXPECT_NE(gem->pixel(20, 20), qRgb(0, 0, 0));
  EXPECT_EQ(gem->pixel(0, 0), qRgb(0, 0, 0));
}

}  // namespace

namespace {

// A damaged header may claim two billion images: the window stays usable and the grid
// holds as many rows as it can place.
TEST_F(NavigationTest, HugeImageCountFromADamagedHeader) {
  LibraryBuilder b = Images(2);
  b.dataCount = INT32_MAX;
  Open(b);
  ASSERT_TRUE(main->Jov().IsOpen());
  EXPECT_EQ(Index(), QStringLiteral("0/2147483646"));
  EXPECT_EQ(main->DrawGrid1->RowCount(), TDrawGrid::MaxRowCount());
  AnswerInput(QStringLiteral("2000000000"));
  main->BtnJump->click();
  Settle();
  EXPECT_EQ(main->CurrentIndex(), 2000000000);
  // Beyond the rows the grid can place, no cell is marked and nothing moves back.
  EXPECT_EQ(Index(), QStringLiteral("2000000000/2147483646"));
  main->FillInfo(100);
  Settle();
  EXPECT_EQ(main->DrawGrid1->currentIndex().row(), 16);
}

}  // namespace
