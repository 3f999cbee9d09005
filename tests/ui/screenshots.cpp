// Takes the screenshots of the README from the real window.  Run it under an X server
// (Xvfb) with the demo libraries:
//   build/jovtool demo build/demo
//   xvfb-run -a -s "-screen 0 1280x900x24" build/tests/jov_ui_screenshots build/demo docs

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <cstdio>

#include "app/jovver3.h"
#include "editing/exchange.h"
#include "viewer/collapsepanel.h"
#include "viewer/mail.h"

namespace {

void Settle() {
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QTest::qWait(10);
  }
}

bool Shoot(TFormMain& main, const QString& path) {
  Settle();
  // The window as the X server shows it.
  const QPixmap shot = main.screen()->grabWindow(main.winId());
  const bool ok = shot.save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

// Pictures of what the window shows next in a box of its own: the box is taken as soon as
// it is up, then closed as its escape key closes it.
bool ShootNextBox(const QString& path, const std::function<void()>& open) {
  bool ok = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr || !box->isVisible()) return;
    timer.stop();
    Settle();
    ok = box->screen()->grabWindow(box->winId()).save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    QTest::keyClick(box, Qt::Key_Escape);
  });
  timer.start(50);
  open();
  return ok;
}

// Pictures dropped over a widget of the window.
void Drop(TFormMain& main, QWidget* over, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  const QPointF at = over->mapTo(&main, over->rect().center());
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&main, &enter);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&main, &drop);
  Settle();
}

// The sprite tools: the animation preview, a marked range, dropped and pasted pictures.
bool ShootSpriteTools(TFormMain& main, const QDir& out) {
  bool ok = true;
  main.GridPanel->SetExpanded(false);
  main.checkboxXY->setChecked(true);
  main.CheckBoxzuobiao->setChecked(true);
  main.rb200->click();
  main.SpinFps->setValue(12);
  main.CheckLoop->setChecked(true);
  main.EditLoopFrom->setText(QStringLiteral("0"));
  main.EditLoopTo->setText(QStringLiteral("5"));
  main.FillInfo(2);
  ok &= Shoot(main, out.filePath(QStringLiteral("viewer-animation.png")));

  main.rb100->click();
  main.CheckBoxzuobiao->setChecked(false);
  main.checkboxXY->setChecked(false);
  main.GridPanel->SetExpanded(true);
  Settle();
  QWidget* grid = main.DrawGrid1->viewport();
  auto cell = [&](int n) {
    return main.DrawGrid1->visualRect(main.DrawGrid1->model()->index(n / 6, n % 6)).center();
  };
  QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, cell(3));
  QTest::mouseClick(grid, Qt::LeftButton, Qt::ShiftModifier, cell(10));
  ok &= Shoot(main, out.filePath(QStringLiteral("viewer-range.png")));

  QTemporaryDir pictures;
  main.FillInfo(4);
  ExportImage(main.Jov(), 4, pictures.filePath(QStringLiteral("000004.png")), TPictureFileFormat::Png);
  ExportImage(main.Jov(), 5, pictures.filePath(QStringLiteral("000005.png")), TPictureFileFormat::Png);
  const QUrl one = QUrl::fromLocalFile(pictures.filePath(QStringLiteral("000004.png")));
  const QUrl two = QUrl::fromLocalFile(pictures.filePath(QStringLiteral("000005.png")));
  ok &= ShootNextBox(out.filePath(QStringLiteral("drop-preview.png")),
                     [&] { Drop(main, main.ScrollBox1->viewport(), {one}); });
  ok &= ShootNextBox(out.filePath(QStringLiteral("drop-grid.png")),
                     [&] { Drop(main, grid, {one, two}); });
  main.CopyClick();
  ok &= ShootNextBox(out.filePath(QStringLiteral("paste.png")), [&] { main.PasteClick(true); });
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Q_INIT_RESOURCE(templates);
  TJovApplication app(argc, argv);
  ApplyViewerLook(app);
  if (argc != 3) {
    std::fprintf(stderr, "usage: jov_ui_screenshots DEMO_DIR OUT_DIR\n");
    return 2;
  }
  const QDir demo(QString::fromLocal8Bit(argv[1]));
  const QDir out(QString::fromLocal8Bit(argv[2]));
  std::unique_ptr<TFormMain> main = CreateMainWindows();
  main->move(20, 20);
  main->show();
  if (!QTest::qWaitForWindowExposed(main.get())) return 1;
  main->OpenLibrary(demo.filePath(QStringLiteral("demo8.jov")));
  bool ok = true;

  main->FillInfo(5);
  ok &= Shoot(*main, out.filePath(QStringLiteral("viewer-100.png")));

  main->FillInfo(3);
  main->rb400->click();
  main->CheckBoxzuobiao->click();
  ok &= Shoot(*main, out.filePath(QStringLiteral("viewer-400.png")));
  main->CheckBoxzuobiao->click();

  main->rb100->click();
  main->rbauto->click();
  main->FillInfo(main->Jov().ImageCount() - 1);
  ok &= Shoot(*main, out.filePath(QStringLiteral("viewer-auto.png")));

  main->rb100->click();
  main->GridPanel->SetExpanded(true);
  main->checkboxTransparent->click();
  main->DrawGrid1->scrollToTop();
  main->FillInfo(8);
  ok &= Shoot(*main, out.filePath(QStringLiteral("viewer-grid.png")));
  main->checkboxTransparent->click();
  ok &= ShootSpriteTools(*main, out);
  return ok ? 0 : 1;
}
