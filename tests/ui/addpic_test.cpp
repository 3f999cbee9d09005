// "Import All": the batch-import dialog driven as a user drives it.

#include "dialogs/addpic.h"

#include <QDir>
#include <QGroupBox>
#include <QProgressBar>
#include <QRadioButton>

#include "support/bmpbuilder.h"
#include "uitest.h"

namespace {

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An 8-bit bitmap of w x h, every pixel colour index 1.
QByteArray Bitmap(int w, int h) {
  BmpSpec spec;
  spec.width = w;
  spec.height = h;
  spec.depth = 8;
  spec.colours = {0x000000, 0x80FF01};
  spec.coloursUsed = 2;
  spec.pixels = QByteArray(int(BmpRowBytes(8, w) * h), '\1');
  return BuildBmp(spec);
}

class ImportAllTest : public ViewerTest {
 protected:
  QString in;
  TFormadd* d = nullptr;

  void SetUp() override {
    ViewerTest::SetUp();
    in = dir.filePath(QStringLiteral("in")) + "/";
    ASSERT_TRUE(QDir().mkpath(in + "Placements"));
    d = main->Formadd;
  }
  void OpenImages(int n) {
    LibraryBuilder b(0);
    for (int16_t i = 0; i < n; ++i) b.Add8(8, 4, i, int16_t(-i), Solid(8, 4, uint8_t(i + 1)));
    Open(b);
  }
  void Pictures(int n) {
    for (int i = 0; i < n; ++i)
      WriteFileBytes(in + QString::asprintf("%.6d.bmp", i), Bitmap(5 + i, 3));
  }
  // "Import All", then action inside the modal dialog, which is cancelled if still open.
  void ImportAll(std::function<void()> action) {
    InsideModal(
        d, [this] { main->btnallinput->click(); }, action);
  }
  QStringList Texts() const {
    QStringList texts;
    for (const RecordedMessage& m : messages) texts << m.title + m.text;
    return texts;
  }
  QByteArray Library() const {
    return FileBytes(dir.filePath("lib.jov")) + FileBytes(dir.filePath("lib.JOX"));
  }
};

const QString kDone = QStringLiteral("消息！批量导入成功");
const QString kFailed = QStringLiteral("消息！批量导入失败");

TEST_F(ImportAllTest, LayoutAndTheEnablingRulesOfTheRadioButtons) {
  OpenImages(3);
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Import From Folder"));
  EXPECT_EQ(d->Caption(), QStringLiteral("批量导入图片"));
  EXPECT_EQ(d->Label1->text(), QStringLiteral("Folder To Import:"));
  EXPECT_TRUE(d->EditPicPath->isReadOnly());
  EXPECT_EQ(QStringList({d->GroupMode->title(), d->GroupModes->title(), d->GroupRange->title(),
                         d->GroupBoxxy->title(), d->RabtnFile->text(), d->RabtnNewLike->text(),
                         d->BtnImport->text(), d->BtnCancel->text()}),
            QStringList({"Mode", "Modes", "Begin/End", "Placement Uses", "From Folder",
                         "New Like:", "Import", "Cancel"}));
  EXPECT_TRUE(d->RabtnAll->isChecked() && d->RabtnAdd->isChecked() && d->RabtnFile->isChecked());
  EXPECT_FALSE(d->GroupRange->isEnabled());
  EXPECT_EQ(QStringList({d->editBegin->text(), d->EditEnd->text(), d->editxy->text()}),
            QStringList({"0", "0", "0,0"}));

  ImportAll([&] {
    auto enabled = [](QWidget* w) { return w->isEnabledTo(w->window()); };
    d->RabtnInsert->click();
    EXPECT_TRUE(enabled(d->GroupRange) && enabled(d->editBegin) && !enabled(d->EditEnd));
    d->RabtnReplace->click();
    EXPECT_TRUE(enabled(d->EditEnd));
    d->RabtnAdd->click();
    EXPECT_FALSE(enabled(d->GroupRange));

    d->RabtnPic->click();
    EXPECT_TRUE(d->RabtnReplace->isChecked() && enabled(d->GroupRange) && enabled(d->EditEnd));
    EXPECT_FALSE(enabled(d->RabtnAdd) || enabled(d->RabtnInsert) || enabled(d->GroupBoxxy));
    EXPECT_EQ(d->Label1->text(), QStringLiteral("图片所在文件夹："));
    d->Rabtnxy->click();
    EXPECT_TRUE(enabled(d->GroupBoxxy) && enabled(d->RabtnReplace));
    EXPECT_EQ(d->Label1->text(), QStringLiteral("坐标所在文件夹："));
    d->RabtnAll->click();
    EXPECT_TRUE(enabled(d->RabtnAdd) && enabled(d->RabtnInsert) && enabled(d->GroupBoxxy) &&
                enabled(d->BtnBrowse) && enabled(d->EditPicPath));
    EXPECT_EQ(d->Label1->text(), QStringLiteral("图片所在文件夹："));
    // Typed values stay for the next opening.
    d->editBegin->setText("2");
    d->editxy->setText("5,6");
    d->EditEnd->setText("1");
    d->EditPicPath->setText(in);
  });
  ImportAll([&] {
    EXPECT_EQ(QStringList({d->editBegin->text(), d->EditEnd->text(), d->editxy->text(),
                           d->EditPicPath->text()}),
              QStringList({"2", "2", "5,6", ""}));
    EXPECT_TRUE(d->RabtnAll->isChecked() && d->RabtnReplace->isChecked());
  });
}

// The checks in order: each breach shows its message, then the failure, and writes
// nothing.
TEST_F(ImportAllTest, BreachedRulesReportFailureAndWriteNothing) {
  OpenImages(4);
  Pictures(2);
  const QByteArray before = Library();
  auto all = [&](QRadioButton* mode) {
    return [this, mode] {
      d->RabtnAll->click();
      mode->click();
    };
  };
  auto pic = [&] { d->RabtnPic->click(); };
  auto xy = [&](bool fromFolder) {
    return [this, fromFolder] {
      d->Rabtnxy->click();
      (fromFolder ? d->RabtnFile : d->RabtnNewLike)->click();
    };
  };
  const std::vector<std::tuple<std::function<void()>, QString, QString, QString, QString>> cases = {
      {all(d->RabtnAdd), "0", "0", "", "请输入图片所在路径!"},
      {all(d->RabtnInsert), "x", "3", in, "请输入正确的编号"},
      {all(d->RabtnInsert), "4", "3", in, "请输入正确的编号"},
      {all(d->RabtnInsert), "2", "1", in, "请输入正确的编号"},  // End is checked too
      {all(d->RabtnReplace), "0", "3", in, "图片数目不够！"},
      {all(d->RabtnReplace), "-1", "1", in, "请输入正确的编号"},
      {pic, "0", "0", "", "请输入图片所在路径!"},
      {pic, "2", "1", in, "请输入正确的编号"},
      {pic, "0", "2", in, "图片数目不够！"},
      {xy(true), "0", "0", "", "请输入图片所在路径!"},
      {xy(false), "3", "2", "", "请输入正确的格式"},
      {xy(true), "0", "4", in, "请输入正确的格式"},
  };
  for (const auto& [choose, begin, end, folder, message] : cases) {
    messages.clear();
    ImportAll([&] {
      choose();
      d->editBegin->setText(begin);
      d->EditEnd->setText(end);
      d->EditPicPath->setText(folder);
      d->BtnImport->click();
    });
    EXPECT_EQ(Texts(), QStringList({"错误！" + message, kFailed})) << message.toStdString();
    EXPECT_FALSE(d->isVisible());
    EXPECT_TRUE(d->EditPicPath->text().isEmpty());
  }
  EXPECT_EQ(Library(), before);
}

TEST_F(ImportAllTest, AnAddRunDisablesTheDialogAndShowsTheNewImages) {
  OpenImages(5);
  Pictures(8);
  WriteFileBytes(in + "Placements/000003.txt", "7\r\n-8\r\n");
  int pokes = 0;
  ImportAll([&] {
    d->RabtnAll->click();
    d->RabtnAdd->click();
    d->RabtnFile->click();
    d->EditPicPath->setText(in);
    // Pressed during the run: the controls are disabled, and no second run starts.
    QTimer poke;
    QObject::connect(&poke, &QTimer::timeout, [&] {
      if (!d->Running()) return;
      EXPECT_FALSE(d->BtnImport->isEnabled());
      EXPECT_FALSE(d->RabtnPic->isEnabled());
      d->BtnImport->click();
      ++pokes;
    });
    poke.start(0);
    d->BtnImport->click();
  });
  EXPECT_GT(pokes, 0);
  EXPECT_EQ(Texts(), QStringList{kDone});
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(d->ProgressBar1->isVisibleTo(d));
  EXPECT_EQ(d->ProgressBar1->value(), 0);
  EXPECT_TRUE(d->BtnImport->isEnabled());
  TJOV& jov = main->Jov();
  EXPECT_EQ(jov.ImageCount(), 13);
  EXPECT_EQ(main->DrawGrid1->RowCount(), 13 / 6 + 1);
  jov.ImageAt(8);
  EXPECT_EQ(QList<int>({jov.Width(), jov.Height(), jov.px(), jov.py()}), QList<int>({8, 3, 7, -8}));
  jov.ImageAt(12);
  EXPECT_EQ(QList<int>({jov.Width(), jov.Height(), jov.px(), jov.py()}), QList<int>({12, 3, 0, 0}));
}

TEST_F(ImportAllTest, ModesWriteTheirImagesAndXyTakesTheTypedPair) {
  OpenImages(6);
  Pictures(3);
  auto run = [&](std::function<void()> choose, const QString& begin, const QString& end) {
    ImportAll([&] {
      choose();
      d->editBegin->setText(begin);
      d->EditEnd->setText(end);
      d->EditPicPath->setText(in);
      d->BtnImport->click();
    });
  };
  TJOV& jov = main->Jov();
  run(
      [&] {
        d->RabtnAll->click();
        d->RabtnInsert->click();
        d->RabtnNewLike->click();
        d->editxy->setText("-3,7");
      },
      "1", "5");
  EXPECT_EQ(jov.ImageCount(), 9);
  jov.ImageAt(1);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, -3, 7}));
  jov.ImageAt(4);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, 1, -1}));  // old image 1

  run(
      [&] {
        d->RabtnAll->click();
        d->RabtnReplace->click();
      },
      "7", "8");
  EXPECT_EQ(jov.ImageCount(), 9);
  jov.ImageAt(8);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, -3, 7}));

  run([&] { d->RabtnPic->click(); }, "0", "2");
  jov.ImageAt(2);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, -3, 7}));
  jov.ImageAt(0);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, 0, 0}));

  run(
      [&] {
        d->Rabtnxy->click();
        d->RabtnNewLike->click();
        d->editxy->setText("12");
      },
      "3", "4");
  jov.ImageAt(4);
  EXPECT_EQ(QList<int>({jov.px(), jov.py()}), QList<int>({0, 12}));
  EXPECT_EQ(Texts(), QStringList(4, kDone));
}

// A placement file of one line in an X/Y run: the error box shows the reason, the dialog
// stays open and usable, and no placement was written.
TEST_F(ImportAllTest, AnUnreadablePlacementFileLeavesEveryPlacement) {
  OpenImages(4);
  WriteFileBytes(in + "000001.txt", "5\r\n6\r\n");
  WriteFileBytes(in + "000002.txt", "5");
  const QByteArray before = Library();
  ImportAll([&] {
    d->Rabtnxy->click();
    d->RabtnFile->click();
    d->editBegin->setText("0");
    d->EditEnd->setText("3");
    d->EditPicPath->setText(in);
    d->BtnImport->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, QStringLiteral("错误！"));
    EXPECT_TRUE(messages[0].text.contains("000002.txt"));
    EXPECT_TRUE(d->isVisible() && d->BtnImport->isEnabled() && !d->Running());
  });
  EXPECT_EQ(Library(), before);
}

}  // namespace
