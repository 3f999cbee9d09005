#include "viewer/mail.h"

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("JovViewer V4.0"));
  resize(800, 600);
  FormCreate();
}

TFormMain::~TFormMain() = default;

void TFormMain::FormCreate() { jov_ = std::make_unique<TJOV>(); }
