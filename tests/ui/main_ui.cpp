// Entry point of the window tests: a real QApplication on the offscreen platform, with
// the fonts and resources of the program.
#include <gtest/gtest.h>

#include "app/jovver3.h"

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  Q_INIT_RESOURCE(templates);
  TJovApplication app(argc, argv);
  ApplyViewerLook(app);
  return RUN_ALL_TESTS();
}
