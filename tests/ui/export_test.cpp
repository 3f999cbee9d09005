// "Export At" and "Export all" driven through their dialogs.

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QImageReader>
#include <QLineEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimer>

#include "dialogs/outpic.h"
#include "support/libbuilder.h"
#include "uitest.h"

namespace {

class ExportTest : public ViewerTest {
 protected:
  QString out;
  TFormout* d = nullptr;
  Controls ui;

  void SetUp() override {
    ViewerTest::SetUp();
    out = dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    d = Dialog<TFormout>();
    ui.window = d;
  }
  void TearDown() override {
    TSaveDialog::ExecuteHook = nullptr;
    TFolderPicker::ExecuteHook = nullptr;
    ViewerTest::TearDown();
  }
  // n images of 8 x 4, image i placed at (i - 5, 2 * i).
  void OpenImages(int n, int fileType = 0) {
    LibraryBuilder b(fileType);
    for (int16_t i = 0; i < n; ++i) {
      if (fileType == 2)
        b.Add16(8, 4, int16_t(i - 5), int16_t(2 * i), {});
      else
        b.Add8(8, 4, int16_t(i - 5), int16_t(2 * i), Solid(8, 4, uint8_t(i + 1)));
    }
    Open(b);
  }
  // "Export all", then action inside the modal dialog, which is cancelled if still open.
  void ExportAll(std::function<void()> action) {
    InsideModal(
        d, [this] { main->btnallOut->click(); }, action);
  }
  void Run(const QString& folder, const QString& begin, const QString& end) {
    ui.Edit("EditPicPath")->setText(folder);
    ui.Edit("editBegin")->setText(begin);
    ui.Edit("EditEnd")->setText(end);
    ui.Button("BtnExport")->click();
  }
  QStringList Files(const QString& sub = QString()) const {
    return QDir(out + sub).entryList(QDir::Files, QDir::Name);
  }
  QStringList Texts() const {
    QStringList texts;
    for (const RecordedMessage& m : messages) texts << m.title + m.text;
    return texts;
  }
};

const QString kDone = QStringLiteral("消息！批量导出图片成功！");

TEST_F(ExportTest, ExportAllWritesTheClampedRangeBesideOtherFiles) {
  OpenImages(3);
  ASSERT_TRUE(QDir(out).mkdir(QStringLiteral("Placements")));
  WriteFileBytes(out + "/Placements/000001.txt", "1\r\n2\r\n3\r\n");
  WriteFileBytes(out + "/Placements/keep.txt", "mine");
  ui.Edit("EditPicPath")->setText(QStringLiteral("/old"));
  QString prompt;
  int pokes = 0;
  TFolderPicker::ExecuteHook = [&](TFolderPicker& p) {
    prompt = p.Prompt;
    p.Folder = out + "/";
    return true;
  };
  ExportAll([&] {
    EXPECT_EQ(QStringList({ui.Edit("EditPicPath")->text(), ui.Edit("editBegin")->text(),
                           ui.Edit("EditEnd")->text()}),
              QStringList({"", "0", "2"}));
    ui.Button("BtnBrowse")->click();
    // Pressed during the run: no second run starts; Cancel stays at hand.
    QTimer poke;
    QObject::connect(&poke, &QTimer::timeout, [&] {
      if (!d->Running()) return;
      EXPECT_FALSE(ui.Button("BtnExport")->isEnabled());
      EXPECT_TRUE(ui.Button("BtnCancel")->isEnabled());
      ui.Button("BtnExport")->click();
      pokes += d->isVisible();
    });
    poke.start(0);
    Run(ui.Edit("EditPicPath")->text(), QStringLiteral("-3"), QStringLiteral("99"));
  });
  EXPECT_GT(pokes, 0);
  EXPECT_EQ(prompt, QStringLiteral("Save Images:"));
  EXPECT_EQ(Texts(), QStringList{kDone});
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(Files(), QStringList({"000000.bmp", "000001.bmp", "000002.bmp"}));
  EXPECT_EQ(Files("/Placements"),
            QStringList({"000000.txt", "000001.txt", "000002.txt", "keep.txt"}));
  EXPECT_EQ(ReadFileBytes(out + "/Placements/000000.txt"), "-5\r\n0\r\n");
  EXPECT_EQ(ReadFileBytes(out + "/Placements/000001.txt"), "-4\r\n2\r\n");
  EXPECT_EQ(QImage(out + "/000002.bmp").pixel(0, 0), main->Jov().ImageAt(2)->pixel(0, 0));
  EXPECT_FALSE(ui.Bar()->isVisibleTo(d));
  EXPECT_EQ(ui.Bar()->value(), 3);
}

TEST_F(ExportTest, EmptyRangesCreateOnlyTheSubFolder) {
  OpenImages(10);
  ExportAll([this] { Run(out, QStringLiteral("5"), QStringLiteral("4")); });
  EXPECT_TRUE(QFileInfo(out + "/Placements").isDir());
  ASSERT_TRUE(QDir(out + "/Placements").removeRecursively());
  Open(LibraryBuilder(0), QStringLiteral("empty"));
  ExportAll([this] {
    EXPECT_EQ(ui.Edit("EditEnd")->text(), QStringLiteral("-1"));
    Run(out, QStringLiteral("0"), QStringLiteral("-1"));
  });
  EXPECT_TRUE(QFileInfo(out + "/Placements").isDir());
  EXPECT_TRUE(Files().isEmpty());
  EXPECT_EQ(Texts(), QStringList({kDone, kDone}));
}

TEST_F(ExportTest, ChecksInOrderKeepTheDialogOpenAndWriteNothing) {
  OpenImages(10);
  // begin, end, folder, message (after "错误！"), focus on begin.
  const std::vector<std::tuple<QString, QString, QString, QString, bool>> cases = {
      {"12abc", "3", "", "请输入正确的编号", true}, {"", "3", "f", "请输入正确的编号", true},
      {" ", "3", "f", "请输入正确的编号", true},    {"0", "1x", "f", "请输入正确的编号", false},
      {"7", "4", "f", "请输入正确的编号", true},    {"20", "99", "f", "请输入正确的编号", true},
      {"0", "3", "", "请输入导出的位置！", true}};
  ExportAll([&] {
    for (const auto& [begin, end, folder, message, onBegin] : cases) {
      messages.clear();
      (onBegin ? ui.Edit("EditEnd") : ui.Edit("editBegin"))->setFocus();
      Run(folder.isEmpty() ? QString() : out, begin, end);
      EXPECT_EQ(Texts(), QStringList{"错误！" + message}) << begin.toStdString();
      if (message.endsWith(QStringLiteral("编号"))) {
        EXPECT_EQ(d->focusWidget(), onBegin ? ui.Edit("editBegin") : ui.Edit("EditEnd"))
            << begin.toStdString();
      }
      EXPECT_TRUE(d->isVisible());
    }
    messages.clear();
    main->Jov().Close();
    Run(out, QStringLiteral("x"), QString());
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("错误！请先打开jov文件！")});
  });
  EXPECT_TRUE(QDir(out).isEmpty());
}

TEST_F(ExportTest, FileSystemFailuresReachTheGuardAndKeepWhatWasWritten) {
  OpenImages(4);
  ExportAll([this] {
    Run(out + "/missing", QStringLiteral("0"), QStringLiteral("3"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("missing")));
    EXPECT_TRUE(QDir(out).isEmpty());
    // Image 2 cannot be written: 0 and 1 stay, the bar stays, no success.
    ASSERT_TRUE(QDir(out).mkdir(QStringLiteral("000002.bmp")));
    Run(out, QStringLiteral("0"), QStringLiteral("3"));
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].title, QStringLiteral("错误！"));
    EXPECT_EQ(Files() + Files("/Placements"),
              QStringList({"000000.bmp", "000001.bmp", "000000.txt", "000001.txt"}));
    EXPECT_TRUE(d->isVisible() && ui.Bar()->isVisible() && ui.Button("BtnExport")->isEnabled());
  });
  // "Export At" the same way.
  TSaveDialog::ExecuteHook = [&](TSaveDialog& s) {
    s.FileName = out + "/missing/a.bmp";
    return true;
  };
  main->BtnOut->click();
  EXPECT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages.back().title, QStringLiteral("错误！"));
}

TEST_F(ExportTest, ExportAtSavesTheImageShownForEveryFileType) {
  for (int fileType : {0, 2}) {
    OpenImages(4, fileType);
    main->btndown->click();
    TSaveDialog seen;
    TSaveDialog::ExecuteHook = [&](TSaveDialog& s) {
      seen = s;
      return false;
    };
    main->BtnOut->click();
    EXPECT_EQ(QStringList({seen.Title, seen.Filter, seen.DefaultExt, seen.FileName}),
              QStringList({"Save Image To", "Bitmaps (*.bmp);;PNG (*.png)", ".bmp", "000001.bmp"}));
    // An existing file is replaced; no placement is written.
    WriteFileBytes(out + "/a.bmp", QByteArray(5000, 'x'));
    TSaveDialog::ExecuteHook = [&](TSaveDialog& s) {
      s.FileName = out + "/a.bmp";
      return true;
    };
    main->BtnOut->click();
    const QByteArray bmp = ReadFileBytes(out + "/a.bmp");
    EXPECT_EQ(QImage(out + "/a.bmp").size(), QSize(8, 4));
    EXPECT_EQ(bmp.size() > 29 ? int(bmp[28]) : 0, fileType == 2 ? 16 : 8);
    EXPECT_EQ(Files(), QStringList{"a.bmp"});
  }
  EXPECT_EQ(Texts(), QStringList(2, QStringLiteral("消息！导出图片成功！")));
}

// A typed ".png" or ".bmp" decides the format, otherwise the filter chosen; the real
// dialog gives a name typed without extension the chosen filter's.
TEST_F(ExportTest, ExportAtWritesPngByTheTypedExtensionOrElseTheFilterChosen) {
  const char* cases[][3] = {
      // name, filter, what Qt's reader recognises
      {"a.PNG", "Bitmaps (*.bmp)", "png"},
      {"c.bmp", "PNG (*.png)", "bmp"},
      {"d.pic", "PNG (*.png)", "png"},
      {"e.pic", "", "bmp"},
  };
  for (int fileType : {0, 2}) {
    OpenImages(3, fileType);
    main->btndown->click();
    for (const auto& c : cases) {
      const QString path = out + QStringLiteral("/%1%2").arg(fileType).arg(c[0]);
      TSaveDialog::ExecuteHook = [&](TSaveDialog& s) {
        s.FileName = path;
        s.SelectedFilter = QString::fromLatin1(c[1]);
        return true;
      };
      main->BtnOut->click();
      QImageReader reader(path);
      EXPECT_EQ(reader.format(), QByteArray(c[2])) << c[0];
      // A PNG file carries the placement of image 1.
      if (reader.format() == "png") {
        EXPECT_EQ(reader.read().offset(), QPoint(-4, 2)) << c[0];
      }
    }
  }
  TSaveDialog::ExecuteHook = nullptr;
  for (const char* filter : {"PNG (*.png)", "Bitmaps (*.bmp)"}) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      timer->deleteLater();
      timer->stop();
      dialog->setDirectory(out);
      dialog->selectNameFilter(QString::fromLatin1(filter));
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("typed");
      static_cast<QDialog*>(dialog)->accept();  // as the Save button does
    });
    timer->start(2);
    main->BtnOut->click();
  }
  EXPECT_EQ(QImageReader(out + "/typed.png").format(), "png");
  EXPECT_EQ(QImageReader(out + "/typed.bmp").format(), "bmp");
  EXPECT_EQ(Texts(), QStringList(10, QStringLiteral("消息！导出图片成功！")));
}

// "Sheet (PNG)" and "Animation (GIF)" write the files jovtool sheet and gif write for the
// same range and options; the file comes from the save dialog.
TEST_F(ExportTest, SheetAndAnimationWriteWhatJovtoolWrites) {
  OpenImages(12);
  struct Case {
    const char* kind;
    QString file;
    std::function<void()> options;
    QStringList tool;
  };
  const QString sheet = dir.filePath("sheet.png"), gif = dir.filePath("anim.gif");
  const std::vector<Case> cases = {
      {"RabtnSheet",
       sheet,
       [&] {
         Child<QSpinBox>(d, "SpinColumns")->setValue(5);
         Child<QSpinBox>(d, "SpinScale")->setValue(3);
       },
       {"sheet", main->Jov().FileName(), "", "--from", "2", "--to", "9", "--columns", "5",
        "--scale", "3", "--quiet"}},
      {"RabtnAnimation",
       gif,
       [&] {
         Child<QSpinBox>(d, "SpinFps")->setValue(25);
         Child<QSpinBox>(d, "SpinPlays")->setValue(2);
         Child<QCheckBox>(d, "CheckPlacement")->setChecked(false);
       },
       {"gif", main->Jov().FileName(), "", "--from", "2", "--to", "9", "--fps", "25", "--loop", "2",
        "--no-placement", "--quiet"}},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.kind);
    messages.clear();
    QString filter;
    TSaveDialog::ExecuteHook = [&](TSaveDialog& s) {
      filter = s.Filter;
      s.FileName = c.file;
      return true;
    };
    ExportAll([&] {
      ui.Button(c.kind)->click();
      EXPECT_FALSE(ui.Edit("EditPicPath")->isEnabled());
      ui.Button("BtnFile")->click();
      c.options();
      ui.Edit("editBegin")->setText("2");
      ui.Edit("EditEnd")->setText("9");
      ui.Button("BtnExport")->click();
    });
    EXPECT_FALSE(d->isVisible());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, QMessageBox::Information);
    c.tool[2] = c.file + ".tool";
    QString error;
    ASSERT_EQ(RunJovtool(c.tool, &error), 0) << error.toStdString();
    EXPECT_EQ(ReadFileBytes(c.file), ReadFileBytes(c.file + ".tool"));
    EXPECT_FALSE(ReadFileBytes(c.file).isEmpty());
    EXPECT_TRUE(filter.contains(c.file.right(3))) << filter.toStdString();
  }
  // Without a file: the export's refusal, with the focus on the file field.
  ExportAll([&] {
    ui.Edit("EditFile")->clear();
    ui.Button("BtnExport")->click();
    EXPECT_TRUE(d->isVisible());
  });
  EXPECT_EQ(messages.back().text, QStringLiteral("请输入导出的位置！"));
}

}  // namespace
