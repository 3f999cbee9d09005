#include "app/jovver3.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "viewer/mail.h"

int RunViewer(int argc, char** argv) {
  Q_INIT_RESOURCE(templates);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("jovviewer"));
  // The application title.  It is not set as Qt's display name, which X11 and Wayland
  // would append to every window caption.
  app.setProperty("applicationTitle", QStringLiteral("Jov编辑器 V4.0"));

  TFormMain main;
  main.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, main.size(),
                                       app.primaryScreen()->availableGeometry()));
  main.show();

  // Without a display the run script asks for a picture of the window, then quits.
  const QString screenshot = qEnvironmentVariable("JOV_SCREENSHOT");
  if (!screenshot.isEmpty()) {
    QTimer::singleShot(1500, &main, [&main, screenshot] {
      main.grab().save(screenshot);
      QApplication::quit();
    });
  }
  return app.exec();
}
