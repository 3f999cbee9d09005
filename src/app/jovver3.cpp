#include "app/jovver3.h"

#include <QCommandLineParser>
#include <QFont>
#include <QIcon>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "app/dialogset.h"
#include "viewer/mail.h"
#include "widgets/guard.h"

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
  main->SetEditingDialogs(std::make_unique<TDialogSet>(*main, main.get()));
  return main;
}

namespace {

// The command line: a library to open and the help and version options.
void DescribeCommandLine(QCommandLineParser& parser) {
  parser.setApplicationDescription(QStringLiteral("View and edit game sprite libraries."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("library"),
                               QStringLiteral("The data file (.jov) of a library to open."),
                               QStringLiteral("[library]"));
}

// Writes the help or version text and exits when the command line asks for one.  This
// happens before any window exists, so it needs no display.
void AnswerTextOptions(int argc, char** argv) {
  QCommandLineParser parser;
  DescribeCommandLine(parser);
  QStringList raw;
  for (int i = 0; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
  parser.parse(raw);
  if (!parser.isSet(QStringLiteral("help")) && !parser.isSet(QStringLiteral("help-all")) &&
      !parser.isSet(QStringLiteral("version")))
    return;
  QCoreApplication app(argc, argv);
  parser.process(app);  // prints the text and exits
}

}  // namespace

int RunViewer(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("jovviewer"));
  QCoreApplication::setApplicationVersion(QStringLiteral(JOV_VERSION));
  AnswerTextOptions(argc, argv);

  Q_INIT_RESOURCE(templates);
  TJovApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("jovviewer"));
  // The installed icon from the desktop's icon theme; none when run from a build tree.
  const QIcon icon = QIcon::fromTheme(QStringLiteral("jovviewer"));
  if (!icon.isNull()) QApplication::setWindowIcon(icon);
  // The application title.  It is not set as Qt's display name, which X11 and Wayland
  // would append to every window caption.
  app.setProperty("applicationTitle", QString::fromUtf16(kApplicationTitle));
  ApplyViewerLook(app);

  std::unique_ptr<TFormMain> main = CreateMainWindows();
  main->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, main->size(),
                                        app.primaryScreen()->availableGeometry()));
  main->show();

  // A library named on the command line opens once the loop runs.  Other options are
  // passed over, as they always were.
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
