// Start-up, the windows' start states, the message boxes, resources and the guard for
// errors nothing else catches.

#include <QCheckBox>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QToolButton>

#include "common/errors.h"
#include "common/fileio.h"
#include "dialogs/addone.h"
#include "dialogs/outpic.h"
#include "uitest.h"
#include "viewer/collapsepanel.h"
#include "viewer/ffpbox.h"
#include "widgets/guard.h"

namespace {

using StartupTest = ViewerTest;

TEST_F(StartupTest, MainWindowThenTheFiveDialogsInOrder) {
  EXPECT_EQ(main->windowTitle(), QStringLiteral("JovViewer V4.0"));
  EXPECT_EQ(main->centralWidget()->size(), QSize(699, 649));
  const QList<TJovDialog*> dialogs = main->findChildren<TJovDialog*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(dialogs.size(), 5);
  const QStringList captions = {"批量导出图片", "批量导入图片", "创建新的数据文件", "删除入图片",
                                "添加图片"};
  const QStringList titles = {"Export Image Sequence", "Import From Folder", "Create New File",
                              "Delete Image", "Add Image"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(dialogs[i]->Caption(), captions[i]);
    EXPECT_EQ(dialogs[i]->windowTitle(), titles[i]);
    EXPECT_FALSE(dialogs[i]->isVisible());
  }
  EXPECT_NE(qobject_cast<TFormout*>(dialogs[0]), nullptr);
  EXPECT_NE(qobject_cast<TFormaddone*>(dialogs[4]), nullptr);
}

TEST_F(StartupTest, StartStateOfTheControls) {
  EXPECT_FALSE(main->Jov().IsOpen());
  EXPECT_EQ(main->CurrentIndex(), 0);
  EXPECT_EQ(main->PreviewZoom(), 0.0);
  // Every button but "...", X and Y waits for a library.
  for (QPushButton* b : {main->btnup, main->btndown, main->btndelete, main->BtnJump,
                         main->BtnAutoPlay, main->btnstop, main->btninput, main->BtnOut,
                         main->btnAdd, main->btnCreate, main->btnallinput, main->btnallOut})
    EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
  EXPECT_TRUE(main->Button2->isEnabled());
  EXPECT_TRUE(main->btnx->isEnabled());
  EXPECT_TRUE(main->btny->isEnabled());
  for (QPushButton* b : {main->btnup, main->btnallOut}) EXPECT_EQ(b->size(), QSize(110, 25));
  for (QLabel* l : {main->Labeltype, main->LabelSize, main->LabelX, main->LabelY, main->LabelIndex})
    EXPECT_TRUE(l->text().isEmpty());
  EXPECT_TRUE(main->rb100->isChecked());
  for (QCheckBox* c :
       {main->checkboxTransparent, main->CheckBoxjump, main->checkboxXY, main->CheckBoxzuobiao})
    EXPECT_FALSE(c->isChecked());
  EXPECT_EQ(main->DrawGrid1->RowCount(), 1);
  EXPECT_EQ(main->PaintBox1->size(), QSize(416, 329));
  EXPECT_EQ(main->GridPanel->Caption()->text(),
            QStringLiteral("    Use Button At The Side To Expand GridView"));
  EXPECT_EQ(main->InputDialog->Value, QStringLiteral("0"));
  // Closed: the preview is only its background.
  const QImage preview = main->PaintBox1->Compose();
  EXPECT_EQ(preview.pixel(200, 150), main->PaintBox1->Color.rgb());
}

TEST_F(StartupTest, ExpandingTheGridLeavesThePreviewArea426By357) {
  EXPECT_FALSE(main->GridPanel->Expanded());
  main->GridPanel->Button()->click();
  Settle();
  EXPECT_TRUE(main->GridPanel->Expanded());
  EXPECT_EQ(main->ScrollBox1->size(), QSize(426, 357));
  EXPECT_EQ(main->DrawGrid1->height(), 269);
  main->GridPanel->Button()->click();
  Settle();
  EXPECT_FALSE(main->DrawGrid1->isVisible());
  EXPECT_EQ(main->ScrollBox1->height(), 649 - 3 - TCollapsePanel::kCaptionHeight);
}

TEST_F(StartupTest, MessageBoxesSetTitleIconAndTextEveryTime) {
  main->showErrMessage(QStringLiteral("坏"));
  main->showMessage(QStringLiteral("好"));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].title, QStringLiteral("错误！"));
  EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
  EXPECT_EQ(messages[1].title, QStringLiteral("消息！"));
  EXPECT_EQ(messages[1].icon, QMessageBox::Information);
  EXPECT_EQ(messages[1].text, QStringLiteral("好"));

  // The real boxes, closed as soon as they are up.
  TFormMain::MessageHook = nullptr;
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon;
    QStringList buttons;
  };
  std::vector<Seen> seen;
  auto closeNextBox = [&seen] {
    auto* timer = new QTimer;
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, [timer, &seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      timer->stop();
      timer->deleteLater();
      QStringList captions;
      for (QAbstractButton* b : box->buttons()) captions << b->text();
      seen.push_back({box->windowTitle(), box->text(), box->icon(), captions});
      box->buttons().first()->click();
    });
    timer->start();
  };
  closeNextBox();
  main->showErrMessage(QStringLiteral("JOv文件已经被破坏或不是jov文件！"));
  closeNextBox();
  main->showMessage(QStringLiteral("完成"));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].title, QStringLiteral("错误！"));
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  EXPECT_EQ(seen[0].buttons, QStringList{QStringLiteral("OK")});
  EXPECT_EQ(seen[1].title, QStringLiteral("消息！"));
  EXPECT_EQ(seen[1].icon, QMessageBox::Information);
  EXPECT_EQ(seen[1].text, QStringLiteral("完成"));
  EXPECT_EQ(seen[1].buttons, QStringList{QStringLiteral("OK")});
}

TEST_F(StartupTest, AnErrorInAHandlerIsShownAndTheWindowGoesOn) {
  LibraryBuilder b(0);
  b.Add8(8, 8, 0, 0, Solid(8, 8, 3));
  const QString path = Write(b);
  // The data file cannot be opened: the error reaches the guard of the "..." button.
  TFile::Factory previous =
      TFile::SetFactory([](const QString& p, TFile::Mode mode) -> std::unique_ptr<TFile> {
        if (p.endsWith(QStringLiteral(".jov")))
          throw EFOpenError(QStringLiteral("Cannot open file \"%1\"").arg(p));
        return TFile::OpenNative(p, mode);
      });
  ChooseFile(path);
  TFile::SetFactory(previous);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("错误！"));
  EXPECT_EQ(messages[0].text, QStringLiteral("Cannot open file \"%1\"").arg(path));
  EXPECT_FALSE(main->Jov().IsOpen());

  ChooseFile(path);
  EXPECT_TRUE(main->Jov().IsOpen());
  EXPECT_EQ(Index(), QStringLiteral("0/0"));
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(StartupTest, ChineseTextsHaveGlyphsInTheWindowFont) {
  const QString texts =
      QStringLiteral("数据格式消息错误请输入正确的格式跳转图片索引号更改横坐标纵") +
      QStringLiteral("JOv文件已经被破坏或不是jov文件！不存在批量导出入创建新删除添加");
  const QFontMetrics metrics(main->Labeltype->font());
  for (const QChar c : texts) EXPECT_TRUE(metrics.inFont(c)) << QString(c).toStdString();
  EXPECT_EQ(main->Labeltype->font().pixelSize(), 13);
}

// The program itself: opens the library named on its command line, passing over an option
// it does not know, and, asked for a screenshot, saves one and ends.
TEST_F(StartupTest, ViewerOpensItsCommandLineLibraryAndSavesAScreenshot) {
  LibraryBuilder b(0);
  b.Add8(16, 16, 0, 0, Solid(16, 16, 7));
  const QString path = Write(b);
  const QString shot = dir.filePath(QStringLiteral("shot.png"));
  QProcess viewer;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("JOV_SCREENSHOT"), shot);
  viewer.setProcessEnvironment(env);
  viewer.start(QStringLiteral(JOVVIEWER_PATH), {QStringLiteral("--no-such-option"), path});
  ASSERT_TRUE(viewer.waitForFinished(30000));
  EXPECT_EQ(viewer.exitCode(), 0);
  const QImage image(shot);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(699, 649));
  // The 16 x 16 image of colour 7 sits centred in the preview.
  bool found = false;
  const QRgb colour = qRgb(b.palette[7 * 4 + 2], b.palette[7 * 4 + 1], b.palette[7 * 4]);
  for (int y = 0; y < image.height() && !found; ++y)
    for (int x = 273; x < image.width() && !found; ++x) found = image.pixel(x, y) == colour;
  EXPECT_TRUE(found);
}

// Help and version are answered on stdout, the Qt way, before any window: no display is
// needed.
TEST(ViewerCommandLine, HelpAndVersionNeedNoDisplay) {
  struct Case {
    QStringList args;
    QString pattern;
  };
  const QString version = QStringLiteral("^jovviewer [0-9]+\\.[0-9]+\n$");
  const QString help =
      QStringLiteral("^Usage: .*jovviewer \\[options\\] \\[library\\]\n[\\s\\S]*--version");
  const std::vector<Case> cases = {
      {{"--version"}, version},       {{"-v"}, version}, {{"--help"}, help}, {{"-h"}, help},
      {{"some.jov", "--help"}, help},
  };
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    env.remove(QString::fromLatin1(name));
  for (const Case& c : cases) {
    QProcess viewer;
    viewer.setProcessEnvironment(env);
    viewer.start(QStringLiteral(JOVVIEWER_PATH), c.args);
    ASSERT_TRUE(viewer.waitForFinished(30000));
    const QString out = QString::fromUtf8(viewer.readAllStandardOutput());
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 0) << c.args.join(' ').toStdString();
    EXPECT_TRUE(QRegularExpression(c.pattern).match(out).hasMatch())
        << c.args.join(' ').toStdString() << ": " << out.toStdString();
  }
}

TEST_F(StartupTest, CommandLineWithAMissingFileSaysSo) {
  const QString path = dir.filePath(QStringLiteral("gone.jov"));
  main->OpenFromCommandLine({path});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, path + QStringLiteral(" 不存在."));
  EXPECT_FALSE(main->Jov().IsOpen());
}

}  // namespace
