// The create dialog driven as a user drives it: its checks, options, messages and the
// files it leaves.

#include <QDir>
#include <QGroupBox>
#include <QProgressBar>
#include <QRadioButton>

#include "dialogs/newlib.h"
#include "support/bmpbuilder.h"
#include "support/libbuilder.h"
#include "uitest.h"

namespace {

// An 8-bit bitmap of one colour index in a grey palette.
QByteArray Grey(int w, int h, uint8_t index) {
  BmpSpec spec;
  spec.width = w;
  spec.height = h;
  for (uint32_t i = 0; i < 256; ++i) spec.colours.push_back(i * 0x010101u);
  spec.pixels = PackBmpRows(
      8, w,
      std::vector<std::vector<uint32_t>>(static_cast<size_t>(h),
                                         std::vector<uint32_t>(static_cast<size_t>(w), index)));
  return BuildBmp(spec);
}

class CreateDialogTest : public ViewerTest {
 protected:
  TFormnew* d = nullptr;
  Controls ui;
  QString pics, lib;

  void SetUp() override {
    ViewerTest::SetUp();
    d = Dialog<TFormnew>();
    ui.window = d;
    pics = dir.filePath(QStringLiteral("pics"));
    ASSERT_TRUE(QDir().mkpath(pics + "/Placements"));
    WriteFileBytes(pics + "/000000.bmp", Grey(8, 4, 200));
    WriteFileBytes(pics + "/000001.bmp", Grey(4, 4, 100));
    WriteFileBytes(pics + "/Placements/000001.txt", "3\r\n-9\r\n");
    lib = dir.filePath(QStringLiteral("made.jov"));
  }
  void TearDown() override {
    TSaveDialog::ExecuteHook = nullptr;
    TFolderPicker::ExecuteHook = nullptr;
    ViewerTest::TearDown();
  }
  // "Create New", then action inside the modal dialog, which is cancelled if still open.
  void InDialog(std::function<void()> action) {
    InsideModal(
        d, [this] { main->btnCreateClick(); }, action);
  }
  QStringList Texts() const {
    QStringList texts;
    for (const RecordedMessage& m : messages) texts << m.title + m.text;
    return texts;
  }
  // Placements of the made library.
  std::vector<std::pair<int, int>> Placements() {
    TJOV jov;
    EXPECT_EQ(jov.Open(lib), TOpenResult::Opened);
    std::vector<std::pair<int, int>> xy;
    for (int i = 0; i < jov.ImageCount(); ++i) {
      jov.ImageAt(i);
      xy.emplace_back(jov.px(), jov.py());
    }
    return xy;
  }
};

TEST_F(CreateDialogTest, LooksAsDocumentedAndChecksFolderFirst) {
  QString prompt;
  TFolderPicker::ExecuteHook = [&](TFolderPicker& p) {
    prompt = p.Prompt;
    p.Folder = pics;
    return true;
  };
  TSaveDialog seen;
  TSaveDialog::ExecuteHook = [&](TSaveDialog& s) {
    seen = s;
    s.FileName = lib;
    return true;
  };
  InDialog([&] {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Create New File"));
    EXPECT_EQ(d->Caption(), QStringLiteral("创建新的数据文件"));
    EXPECT_TRUE(ui.Edit("EditPicPath")->isReadOnly());
    EXPECT_TRUE(ui.Edit("EditFileName")->isReadOnly());
    EXPECT_EQ(ui.Group("GroupPlacement")->title(), QStringLiteral("Placement"));
    EXPECT_EQ(ui.Group("GroupImages")->title(), QStringLiteral("Images"));
    EXPECT_EQ(QStringList({ui.Button("RbFromFile")->text(), ui.Button("RbUseNew")->text(),
                           ui.Button("RbBoardSys")->text(), ui.Button("RbBoardBmp")->text(),
                           ui.Edit("editxy")->text()}),
              QStringList({"From File", "Use New:", "System?", "Bmp??", "0,0"}));
    EXPECT_TRUE(ui.Button("RbFromFile")->isChecked() && ui.Button("RbBoardSys")->isChecked());
    // The groups are independent.
    ui.Button("RbUseNew")->setChecked(true);
    EXPECT_TRUE(ui.Button("RbBoardSys")->isChecked());
    ui.Button("RbBoardBmp")->setChecked(true);
    EXPECT_TRUE(ui.Button("RbUseNew")->isChecked());
    ui.Button("RbFromFile")->setChecked(true);
    ui.Button("RbBoardSys")->setChecked(true);

    ui.Button("BtnCreate")->click();
    ui.Button("BtnPicPath")->click();
    ui.Button("BtnCreate")->click();
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(QFile::exists(lib));
    ui.Button("BtnFileName")->click();
    EXPECT_EQ(ui.Edit("EditPicPath")->text(), pics);
    EXPECT_EQ(ui.Edit("EditFileName")->text(), lib);
  });
  EXPECT_EQ(prompt, QStringLiteral("Set Folder:"));
  EXPECT_EQ(seen.Title, QStringLiteral("Save As File"));
  EXPECT_EQ(seen.Filter, QStringLiteral("jov (*.jov)"));
  EXPECT_EQ(seen.DefaultExt, QStringLiteral(".jov"));
  EXPECT_EQ(Texts(), QStringList({QStringLiteral("错误！请输入图片所在路径!"),
                                  QStringLiteral("错误！请输入新建数据文件名!")}));
}

TEST_F(CreateDialogTest, CreatesReplacesWholeAndKeepsItsFields) {
  // An existing pair under the name, larger than the new one, goes whole.
  LibraryBuilder old(1);
  for (int i = 0; i < 5; ++i) old.Add8(16, 16, 1, 1, Solid(16, 16, 7));
  Write(old, QStringLiteral("made"));
  const struct {
    bool useNew;
    QString xy;
    std::vector<std::pair<int, int>> placements;
  } runs[] = {{false, "0,0", {{0, 0}, {3, -9}}},
              {true, "12,-3", {{12, -3}, {12, -3}}},
              {true, "7", {{0, 7}, {0, 7}}},
              {true, ",5", {{0, 5}, {0, 5}}}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.xy.toStdString());
    messages.clear();
    InDialog([&] {
      ui.Edit("EditPicPath")->setText(pics);
      ui.Edit("EditFileName")->setText(lib);
      (run.useNew ? ui.Button("RbUseNew") : ui.Button("RbFromFile"))->setChecked(true);
      ui.Button("RbBoardBmp")->setChecked(true);
      ui.Edit("editxy")->setText(run.xy);
      ui.Button("BtnCreate")->click();
    });
    EXPECT_EQ(
        Texts(),
        QStringList{QStringLiteral("消息！建立新文件成功!\nThe history of changes starts anew.")});
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(ui.Bar()->isVisibleTo(d));
    EXPECT_EQ(Placements(), run.placements);
    EXPECT_EQ(ReadFileBytes(dir.filePath("made.JOX")).size(), 48 + 2 * 4);
    EXPECT_EQ(ReadFileBytes(lib).size(), 1080 + (8 + 32) + (8 + 16));
  }
  // The palette of the first bitmap: grey ramp.
  EXPECT_EQ(ReadFileBytes(lib).mid(56 + 4 * 200, 4), QByteArray("\xC8\xC8\xC8\0", 4));
  // The fields stay for the next opening.
  InDialog([&] {
    EXPECT_EQ(ui.Edit("EditPicPath")->text(), pics);
    EXPECT_EQ(ui.Edit("EditFileName")->text(), lib);
    EXPECT_TRUE(ui.Button("RbUseNew")->isChecked());
    EXPECT_TRUE(ui.Button("RbBoardBmp")->isChecked());
    EXPECT_EQ(ui.Edit("editxy")->text(), QStringLiteral(",5"));
  });
}

TEST_F(CreateDialogTest, AFailedRunSaysSoAndLeavesTheOldLibrary) {
  LibraryBuilder old(0);
  old.Add8(4, 4, 1, 1, Solid(4, 4, 7));
  Write(old, QStringLiteral("made"));
  const QByteArray oldData = ReadFileBytes(lib);
  // The viewer shows the library being replaced: it goes on showing it.
  ChooseFile(lib);
  WriteFileBytes(pics + "/Placements/000000.txt", "5\r\n");  // one line
  InDialog([&] {
    ui.Edit("EditPicPath")->setText(pics);
    ui.Edit("EditFileName")->setText(lib);
    ui.Button("RbFromFile")->setChecked(true);
    ui.Button("BtnCreate")->click();
  });
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("错误！"));
  EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("建立新文件失败!\n")))
      << messages[0].text.toStdString();
  EXPECT_EQ(ReadFileBytes(lib), oldData);
  EXPECT_EQ(main->Jov().ImageCount(), 1);

  // Once it succeeds, the viewer shows the new library.
  QFile::remove(pics + "/Placements/000000.txt");
  InDialog([&] { ui.Button("BtnCreate")->click(); });
  EXPECT_EQ(main->Jov().ImageCount(), 2);
}

}  // namespace
