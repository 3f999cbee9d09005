#pragma once

// The common ground of the five editing dialogs: created once at start-up as children
// of the main window, shown modally and centred on it, working on its library through
// TDialogHost.  A dialog reads its fields into the request of its operation, shows a
// refusal of the request in the error box with the focus on the field it is about, runs
// the request through RunRequest and shows the outcome.

#include <QDialog>
#include <QString>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <utility>

#include "editing/requests.h"
#include "widgets/dialoghost.h"
#include "widgets/editingdialogs.h"
#include "widgets/guard.h"
#include "widgets/workerrun.h"

class QAbstractButton;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QVBoxLayout;
class QWidget;
class TProgressView;

// A new widget with the name of its control, by which tests find it.
template <class W, class... Args>
W* Named(const char* name, Args&&... args) {
  auto* widget = new W(std::forward<Args>(args)...);
  widget->setObjectName(QLatin1String(name));
  return widget;
}

// A group of two numbered fields, begin and end ("editBegin" and "EditEnd"), each with
// its label, both "0" at first.
QGroupBox* MakeRangeGroup(const QString& title, const char* name, const QString& beginLabel,
                          const QString& endLabel, QWidget* parent, QLineEdit*& begin,
                          QLineEdit*& end);

// A group of radio buttons side by side, the first one checked.
struct TRadio {
  const char* text;
  const char* name;
  QRadioButton** button;
};
QGroupBox* MakeRadioGroup(const QString& title, const char* name, QWidget* parent,
                          std::initializer_list<TRadio> radios);

class TJovDialog : public QDialog {
  Q_OBJECT

 public:
  // caption: the dialog's own caption; title: the text of its title bar.
  TJovDialog(TDialogHost& host, QWidget* parent, const QString& caption, const QString& title);

  const QString& Caption() const { return caption_; }
  // Prepares the dialog as the main window's button does, fills in what the window
  // chose, then shows it modally, centred on its parent.  The outcome of the last run,
  // when one ran.
  std::optional<TOutcome> Execute(const TDialogFill& fill = {});
  // True while a run of the dialog is under way: nothing may start a second one.
  bool Running() const { return running_; }

 protected:
  TDialogHost& Host;

  // What the main window's button sets before every showing; nothing by default.
  virtual void Prepare() {}
  // What the window chose, over what Prepare set; nothing by default.
  virtual void Fill(const TDialogFill& fill) { (void)fill; }

  // ---- Building.  Rows go below the caption, in order, above the closing stretch.
  void AddRow(QWidget* row);
  void AddRow(QLayout* row);
  // The row below the stretch, at the bottom.
  void AddClosingRow(QLayout* row);
  // A read-only path field, filled only by the "..." button beside it.
  QHBoxLayout* MakePathRow(QWidget* parent, const char* name, QLineEdit*& path,
                           QPushButton*& browse);
  QLineEdit* MakePathField(QWidget* parent, const char* name);
  QPushButton* MakeBrowseButton(QWidget* parent);
  // The closing row: the run button, the default one, and "Cancel", which closes, or
  // during a run stops it.
  QHBoxLayout* MakeButtonRow(QWidget* parent, const QString& caption, const char* name,
                             QPushButton*& run);
  // The bar runs move, hidden until a run reports and at every showing after a run, and
  // under it the rate of a run that takes more than a second.
  QLayout* MakeProgressRows(QProgressBar*& bar);
  // The kind of picture file a folder gives: "Bitmaps (*.bmp)" or "PNG (*.png)".
  QComboBox* MakeFormatChoice(QWidget* parent);
  static TPictureFileFormat ChosenFormat(const QComboBox* choice);
  // A click runs handler inside the guard for errors nothing else catches.
  template <class D>
  void OnClick(QAbstractButton* button, void (D::*handler)()) {
    ConnectClick(button, [this, handler] { (static_cast<D*>(this)->*handler)(); });
  }

  // ---- Running.
  // The field a refusal about field gives the focus to.
  void FocusOn(TField field, QWidget* widget) { focus_[field] = widget; }
  // Shows a refusal in the error box and focuses its field; true when there was one.
  bool Refused(const TValidation& validation);
  // Runs a request on a worker thread (TWorkerRun), the body given the worker's library
  // object, with the progress bar moved by its reports: the run is under way meanwhile,
  // the controls given are disabled ("Cancel" stays), and the windows keep painting.  A
  // run that changes the library leaves the window showing it as it now is.  Every run
  // of a dialog goes through here.
  TOutcome RunRequest(TRunTarget target, std::initializer_list<QWidget*> controls,
                      const TWorkerRun::Body& run);
  // Validates a request against the open library and, unless that refuses it (the
  // refusal shown), runs it through RunRequest.
  template <class Request>
  std::optional<TOutcome> ValidateAndRun(Request& request, TRunTarget target,
                                         std::initializer_list<QWidget*> controls) {
    if (Refused(request.Validate(Host.Jov()))) return std::nullopt;
    return RunRequest(target, controls,
                      [&](TJOV* jov, TOperationDelegate* d) { return request.Run(*jov, d); });
  }
  // Whether a close was asked for during the run that just ended; forgets it.
  bool TakeCloseRequest() { return std::exchange(closeRequested_, false); }
  // Closes at once; during a run it asks first, then stops the run and closes when the
  // run has rolled back.
  void reject() override;
  void showEvent(QShowEvent* event) override;

 private:
  void ConnectClick(QAbstractButton* button, std::function<void()> handler);
  void CancelClick();

  bool running_ = false;
  bool closeRequested_ = false;
  QString caption_;
  TWorkerRun* worker_;
  TProgressView* progressView_ = nullptr;
  QVBoxLayout* layout_;
  int rows_ = 1;  // below the caption
  QProgressBar* progress_ = nullptr;
  std::map<TField, QWidget*> focus_;
  std::optional<TOutcome> lastOutcome_;
  int changesByOthers_ = 0;  // as the window counted them when this dialog was shown
};
