#pragma once

#include <QMainWindow>
#include <memory>

#include "library/myjov.h"

// The viewer's main window.  It owns the one library object.
class TFormMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TFormMain(QWidget* parent = nullptr);
  ~TFormMain() override;

  TJOV& Jov() { return *jov_; }

 private:
  void FormCreate();

  std::unique_ptr<TJOV> jov_;
};
