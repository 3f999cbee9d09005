// Takes the screenshots of the README from the real window.  Run it under an X server
// (Xvfb) with the demo libraries:
//   build/jovtool demo build/demo
//   xvfb-run -a -s "-screen 0 1280x900x24" build/tests/jov_ui_screenshots build/demo docs

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <cstdio>

#include "app/jovver3.h"
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
  return ok ? 0 : 1;
}
