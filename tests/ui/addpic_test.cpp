// "Import All": the batch-import dialog driven as a user drives it.

#include "dialogs/addpic.h"

#include <QDir>
#include <QGroupBox>
#include <QProgressBar>
#include <QRadioButton>

#include "support/bmpbuilder.h"
#include "support/libbuilder.h"
#include "uitest.h"

namespace {

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
  Controls ui;

  void SetUp() override {
    ViewerTest::SetUp();
    in = dir.filePath(QStringLiteral("in")) + "/";
    ASSERT_TRUE(QDir().mkpath(in + "Placements"));
    d = Dialog<TFormadd>();
    ui.window = d;
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
    return ReadFileBytes(dir.filePath("lib.jov")) + ReadFileBytes(dir.filePath("lib.JOX"));
  }
};

const QString kDone = QStringLiteral("消息！批量导入成功");
const QString kFailed = QStringLiteral("消息！批量导入失败");

TEST_F(ImportAllTest, LayoutAndTheEnablingRulesOfTheRadioButtons) {
  OpenImages(3);
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Import From Folder"));
  EXPECT_EQ(d->Caption(), QStringLiteral("批量导入图片"));
  EXPECT_EQ(ui.Label("Label1")->text(), QStringLiteral("Folder To Import:"));
  EXPECT_TRUE(ui.Edit("EditPicPath")->isReadOnly());
  EXPECT_EQ(QStringList({ui.Group("GroupMode")->title(), ui.Group("GroupModes")->title(),
                         ui.Group("GroupRange")->title(), ui.Group("GroupBoxxy")->title(),
                         ui.Button("RabtnFile")->text(), ui.Button("RabtnNewLike")->text(),
                         ui.Button("BtnImport")->text(), ui.Button("BtnCancel")->text()}),
            QStringList({"Mode", "Modes", "Begin/End", "Placement Uses", "From Folder",
                         "New Like:", "Import", "Cancel"}));
  EXPECT_TRUE(ui.Button("RabtnAll")->isChecked() && ui.Button("RabtnAdd")->isChecked() &&
              ui.Button("RabtnFile")->isChecked());
  EXPECT_FALSE(ui.Group("GroupRange")->isEnabled());
  EXPECT_EQ(QStringList({ui.Edit("editBegin")->text(), ui.Edit("EditEnd")->text(),
                         ui.Edit("editxy")->text()}),
            QStringList({"0", "0", "0,0"}));

  ImportAll([&] {
    auto enabled = [](QWidget* w) { return w->isEnabledTo(w->window()); };
    ui.Button("RabtnInsert")->click();
    EXPECT_TRUE(enabled(ui.Group("GroupRange")) && enabled(ui.Edit("editBegin")) &&
                !enabled(ui.Edit("EditEnd")));
    ui.Button("RabtnReplace")->click();
    EXPECT_TRUE(enabled(ui.Edit("EditEnd")));
    ui.Button("RabtnAdd")->click();
    EXPECT_FALSE(enabled(ui.Group("GroupRange")));

    ui.Button("RabtnPic")->click();
    EXPECT_TRUE(ui.Button("RabtnReplace")->isChecked() && enabled(ui.Group("GroupRange")) &&
                enabled(ui.Edit("EditEnd")));
    EXPECT_FALSE(enabled(ui.Button("RabtnAdd")) || enabled(ui.Button("RabtnInsert")) ||
                 enabled(ui.Group("GroupBoxxy")));
    EXPECT_EQ(ui.Label("Label1")->text(), QStringLiteral("图片所在文件夹："));
    ui.Button("Rabtnxy")->click();
    EXPECT_TRUE(enabled(ui.Group("GroupBoxxy")) && enabled(ui.Button("RabtnReplace")));
    EXPECT_EQ(ui.Label("Label1")->text(), QStringLiteral("坐标所在文件夹："));
    ui.Button("RabtnAll")->click();
    EXPECT_TRUE(enabled(ui.Button("RabtnAdd")) && enabled(ui.Button("RabtnInsert")) &&
                enabled(ui.Group("GroupBoxxy")) && enabled(ui.Button("BtnBrowse")) &&
                enabled(ui.Edit("EditPicPath")));
    EXPECT_EQ(ui.Label("Label1")->text(), QStringLiteral("图片所在文件夹："));
    // Typed values stay for the next opening.
    ui.Edit("editBegin")->setText("2");
    ui.Edit("editxy")->setText("5,6");
    ui.Edit("EditEnd")->setText("1");
    ui.Edit("EditPicPath")->setText(in);
  });
  ImportAll([&] {
    EXPECT_EQ(QStringList({ui.Edit("editBegin")->text(), ui.Edit("EditEnd")->text(),
                           ui.Edit("editxy")->text(), ui.Edit("EditPicPath")->text()}),
              QStringList({"2", "2", "5,6", ""}));
    EXPECT_TRUE(ui.Button("RabtnAll")->isChecked() && ui.Button("RabtnReplace")->isChecked());
  });
}

// The checks in order: each breach shows its message, then the failure, and writes
// nothing.
TEST_F(ImportAllTest, BreachedRulesReportFailureAndWriteNothing) {
  OpenImages(4);
  Pictures(2);
  const QByteArray before = Library();
  auto all = [&](QAbstractButton* mode) {
    return [this, mode] {
      ui.Button("RabtnAll")->click();
      mode->click();
    };
  };
  auto pic = [&] { ui.Button("RabtnPic")->click(); };
  auto xy = [&](bool fromFolder) {
    return [this, fromFolder] {
      ui.Button("Rabtnxy")->click();
      (fromFolder ? ui.Button("RabtnFile") : ui.Button("RabtnNewLike"))->click();
    };
  };
  const std::vector<std::tuple<std::function<void()>, QString, QString, QString, QString>> cases = {
      {all(ui.Button("RabtnAdd")), "0", "0", "", "请输入图片所在路径!"},
      {all(ui.Button("RabtnInsert")), "x", "3", in, "请输入正确的编号"},
      {all(ui.Button("RabtnInsert")), "4", "3", in, "请输入正确的编号"},
      {all(ui.Button("RabtnInsert")), "2", "1", in, "请输入正确的编号"},  // End is checked too
      {all(ui.Button("RabtnReplace")), "0", "3", in, "图片数目不够！"},
      {all(ui.Button("RabtnReplace")), "-1", "1", in, "请输入正确的编号"},
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
      ui.Edit("editBegin")->setText(begin);
      ui.Edit("EditEnd")->setText(end);
      ui.Edit("EditPicPath")->setText(folder);
      ui.Button("BtnImport")->click();
    });
    EXPECT_EQ(Texts(), QStringList({"错误！" + message, kFailed})) << message.toStdString();
    EXPECT_FALSE(d->isVisible());
    EXPECT_TRUE(ui.Edit("EditPicPath")->text().isEmpty());
  }
  EXPECT_EQ(Library(), before);
}

TEST_F(ImportAllTest, AnAddRunDisablesTheDialogAndShowsTheNewImages) {
  OpenImages(5);
  Pictures(8);
  WriteFileBytes(in + "Placements/000003.txt", "7\r\n-8\r\n");
  int pokes = 0;
  ImportAll([&] {
    ui.Button("RabtnAll")->click();
    ui.Button("RabtnAdd")->click();
    ui.Button("RabtnFile")->click();
    ui.Edit("EditPicPath")->setText(in);
    // At every step of the run the bar is up and the controls are disabled but Cancel: a
    // press starts no second run.
    const auto seen = QObject::connect(ui.Bar(), &QProgressBar::valueChanged, [&] {
      if (!d->Running()) return;
      EXPECT_TRUE(ui.Bar()->isVisible());
      EXPECT_TRUE(ui.Button("BtnCancel")->isEnabled());
      EXPECT_FALSE(ui.Button("BtnImport")->isEnabled());
      EXPECT_FALSE(ui.Button("RabtnPic")->isEnabled());
      ui.Button("BtnImport")->click();
      ++pokes;
    });
    ui.Button("BtnImport")->click();
    QObject::disconnect(seen);
  });
  EXPECT_GT(pokes, 0);
  EXPECT_EQ(Texts(), QStringList{kDone});
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(ui.Bar()->isVisibleTo(d));
  EXPECT_EQ(ui.Bar()->value(), 0);
  EXPECT_TRUE(ui.Button("BtnImport")->isEnabled());
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
      ui.Edit("editBegin")->setText(begin);
      ui.Edit("EditEnd")->setText(end);
      ui.Edit("EditPicPath")->setText(in);
      ui.Button("BtnImport")->click();
    });
  };
  TJOV& jov = main->Jov();
  run(
      [&] {
        ui.Button("RabtnAll")->click();
        ui.Button("RabtnInsert")->click();
        ui.Button("RabtnNewLike")->click();
        ui.Edit("editxy")->setText("-3,7");
      },
      "1", "5");
  EXPECT_EQ(jov.ImageCount(), 9);
  jov.ImageAt(1);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, -3, 7}));
  jov.ImageAt(4);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, 1, -1}));  // old image 1

  run(
      [&] {
        ui.Button("RabtnAll")->click();
        ui.Button("RabtnReplace")->click();
      },
      "7", "8");
  EXPECT_EQ(jov.ImageCount(), 9);
  jov.ImageAt(8);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, -3, 7}));

  run([&] { ui.Button("RabtnPic")->click(); }, "0", "2");
  jov.ImageAt(2);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, -3, 7}));
  jov.ImageAt(0);
  EXPECT_EQ(QList<int>({jov.Width(), jov.px(), jov.py()}), QList<int>({8, 0, 0}));

  run(
      [&] {
        ui.Button("Rabtnxy")->click();
        ui.Button("RabtnNewLike")->click();
        ui.Edit("editxy")->setText("12");
      },
      "3", "4");
  jov.ImageAt(4);
  EXPECT_EQ(QList<int>({jov.px(), jov.py()}), QList<int>({0, 12}));
  EXPECT_EQ(Texts(), QStringList(4, kDone));
}

// A run that fails, here because another program holds the library, reports the
// failure with its reason and closes; the library is as it was.
TEST_F(ImportAllTest, AFailedRunGivesTheReason) {
  OpenImages(2);
  Pictures(2);
  const QByteArray before = Library();
  TJOV other;
  ASSERT_EQ(other.Open(dir.filePath("lib.jov")), TOpenResult::Opened);
  ASSERT_TRUE(other.DataStream()->TryLock());
  ImportAll([&] {
    ui.Button("RabtnAll")->click();
    ui.Button("RabtnAdd")->click();
    ui.Edit("EditPicPath")->setText(in);
    ui.Button("BtnImport")->click();
  });
  other.DataStream()->Unlock();
  ASSERT_EQ(Texts().size(), 1);
  EXPECT_TRUE(Texts()[0].startsWith(kFailed + "\n")) << Texts()[0].toStdString();
  EXPECT_TRUE(Texts()[0].contains("lib.jov"));
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(Library(), before);
}

// A placement file of one line in an X/Y run: the error box shows the reason, the dialog
// stays open and usable, and no placement was written.
TEST_F(ImportAllTest, AnUnreadablePlacementFileLeavesEveryPlacement) {
  OpenImages(4);
  WriteFileBytes(in + "000001.txt", "5\r\n6\r\n");
  WriteFileBytes(in + "000002.txt", "5");
  const QByteArray before = Library();
  ImportAll([&] {
    ui.Button("Rabtnxy")->click();
    ui.Button("RabtnFile")->click();
    ui.Edit("editBegin")->setText("0");
    ui.Edit("EditEnd")->setText("3");
    ui.Edit("EditPicPath")->setText(in);
    ui.Button("BtnImport")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, QStringLiteral("错误！"));
    EXPECT_TRUE(messages[0].text.contains("000002.txt"));
    EXPECT_TRUE(d->isVisible() && ui.Button("BtnImport")->isEnabled() && !d->Running());
  });
  EXPECT_EQ(Library(), before);
}

}  // namespace
