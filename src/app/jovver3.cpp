#include "app/jovver3.h"

#include <QFont>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "app/guard.h"
#include "dialogs/addone.h"
#include "dialogs/addpic.h"
#include "dialogs/del.h"
#include "dialogs/newlib.h"
#include "dialogs/outpic.h"
#include "viewer/mail.h"

TJovApplication::TJovApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TJovApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowUnhandledError(CurrentErrorMessage());
    return false;
  }
}

void ApplyViewerLook(QApplication& app) {
  QFont font;
  font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
                    QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(13);
  app.setFont(font);
}

std::unique_ptr<TFormMain> CreateMainWindows() {
  auto main = std::make_unique<TFormMain>();
  main->Formout = new TFormout(*main);
  main->Formadd = new TFormadd(*main);
  main->Formnew = new TFormnew(*main);
  main->Formdel = new TFormdel(*main);
  main->Formaddone = new TFormaddone(*main);
  return main;
}

int RunViewer(int argc, char** argv) {
  Q_INIT_RESOURCE(templates);
  TJovApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("jovviewer"));
  QGuiApplication::setDesktopFileName(QStringLiteral("jovviewer"));
  // The application title.  It is not set as Qt's display name, which X11 and Wayland
  // would append to every window caption.
  app.setProperty("applicationTitle", QString::fromUtf16(kApplicationTitle));
  ApplyViewerLook(app);

  std::unique_ptr<TFormMain> main = CreateMainWindows();
  main->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, main->size(),
                                        app.primaryScreen()->availableGeometry()));
  main->show();

  // A library named on the command line opens once the loop runs.
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  TFormMain* window = main.get();
  QTimer::singleShot(
      0, window, [window, arguments] { Guarded([&] { window->OpenFromCommandLine(arguments); }); });

  // Without a display the run script asks for a picture of the window, then quits.
  const QString screenshot = qEnvironmentVariable("JOV_SCREENSHOT");
  if (!screenshot.isEmpty()) {
    QTimer::singleShot(1500, window, [window, screenshot] {
      window->grab().save(screenshot);
      QApplication::quit();
    });
  }
  return app.exec();
}
