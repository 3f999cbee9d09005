#pragma once

// The viewer's main window.  It owns the one library object and the current image
// index; FillInfo makes an image current and brings the whole window up to date.  It
// hosts the five editing dialogs, which share the library through it and report through
// its two message boxes, and shows them through TEditingDialogs.

#include <QMainWindow>
#include <QMessageBox>
#include <functional>
#include <memory>

#include "editing/pictureloader.h"
#include "library/myjov.h"
#include "viewer/drawgrid.h"
#include "widgets/dialoghost.h"
#include "widgets/editingdialogs.h"
#include "widgets/filedialog.h"
#include "widgets/workerrun.h"

class QCheckBox;
class QSpinBox;
class QTemporaryDir;
class TPlacementNudge;
class TRunBox;
struct TDroppedPictures;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSplitter;
class TCollapsePanel;
class TFlickerFreePaintBox;
class TInputDialog;
class TLibraryWatch;

class TFormMain : public QMainWindow, public TDialogHost {
  Q_OBJECT

 public:
  explicit TFormMain(QWidget* parent = nullptr);
  ~TFormMain() override;

  // ---- Controls, named as the handlers know them.
  QLabel* Label1;
  QLineEdit* EditFileName;
  QPushButton* Button2;
  QPushButton* btnup;
  QPushButton* btndown;
  QPushButton* btndelete;
  QPushButton* BtnJump;
  QPushButton* BtnAutoPlay;
  QPushButton* btnstop;
  QPushButton* btninput;
  QPushButton* BtnOut;
  QPushButton* btnAdd;
  QPushButton* btnCreate;
  QPushButton* btnallinput;
  QPushButton* btnallOut;
  QGroupBox* GroupInfo;
  QLabel* Label3;
  QLabel* Labeltype;
  QLabel* Label2;
  QLabel* LabelSize;
  QPushButton* btnx;
  QLabel* LabelX;
  QPushButton* btny;
  QLabel* LabelY;
  QLabel* Label7;
  QLabel* LabelIndex;
  // Beside X and Y: the newest change undone, the newest undone one made again.  Each is
  // enabled while the library's history offers a step, its tooltip naming it.
  QPushButton* BtnUndo;
  QPushButton* BtnRedo;
  QGroupBox* GroupOptions;
  QRadioButton* Rb50;
  QRadioButton* rb100;
  QRadioButton* rb200;
  QRadioButton* rb400;
  QRadioButton* rb800;
  QRadioButton* rbauto;
  QCheckBox* checkboxTransparent;
  QCheckBox* CheckBoxjump;
  QCheckBox* checkboxXY;
  QCheckBox* CheckBoxzuobiao;
  QLabel* LinkLabel;
  // The bytes of history a library keeps, in MiB (0: none), for every library opened.
  QSpinBox* SpinHistoryLimit;
  // The animation preview beside Play: the rate (0 is "max", Play's own pace), the loop
  // range (empty: from the image shown to the last) and the animation saved as a GIF.
  QGroupBox* GroupPlay;
  QSpinBox* SpinFps;
  QCheckBox* CheckLoop;
  QLineEdit* EditLoopFrom;
  QLineEdit* EditLoopTo;
  QPushButton* BtnSaveGif;
  QSplitter* Splitter1;
  QScrollArea* ScrollBox1;
  TFlickerFreePaintBox* PaintBox1;
  TCollapsePanel* GridPanel;
  TDrawGrid* DrawGrid1;
  QLabel* Image1;                // picture holder for the import commands; never shown
  TPictureLoader PictureLoader;  // reads the picture files of the import commands
  TOpenDialog OpenDialog1;
  TOpenDialog OpenPictureDialog1;  // "Import At": every picture format the loader reads
  TSaveDialog SavePictureDialog1;
  TSaveDialog SaveGifDialog;  // "Save GIF"
  TInputDialog* InputDialog;
  TRunBox* RunBox;  // long runs started from the window itself

  // The editing dialogs, created once by the start-up right after this window.
  void SetEditingDialogs(std::unique_ptr<TEditingDialogs> dialogs);

  // ---- Shared state.
  TJOV& Jov() override { return *jov_; }
  int CurrentIndex() const override { return currentIndex_; }
  QPoint PreviewOrigin() const { return QPoint(originX_, originY_); }
  double PreviewZoom() const { return zoom_; }
  bool Transparent() const { return transparent_; }

  // ---- Services every dialog uses.
  // Modal boxes with one "OK" button: "消息！" with the information icon, "错误！" with
  // the warning icon.  Title, icon and text are set anew on every call.
  void showMessage(const QString& text) override;
  void showErrMessage(const QString& text) override;
  // When set, the boxes call it instead of showing themselves (tests record the call).
  static std::function<void(const QString& title, QMessageBox::Icon icon, const QString& text)>
      MessageHook;
  // A question with a button for each answer: the index of the button pressed, -1 when
  // the box was closed.  ChoiceHook, when set, answers instead (tests).
  int Choose(const QString& text, const QStringList& buttons);
  static std::function<int(const QString& text, const QStringList& buttons)> ChoiceHook;
  bool Ask(const QString& text) override;

  // ---- Operations.
  // Makes image v current and refreshes labels, preview, buttons and grid selection.
  void FillInfo(int v);
  // Opens the library at path as the "..." button does once a file is chosen.
  void OpenLibrary(const QString& path);
  // Opens the library named on the command line, if any.
  void OpenFromCommandLine(const QStringList& arguments);
  // For the dialogs after they changed the library: the grid's row count follows
  // ImageCount, and grid and preview are drawn afresh; the selected cell's image
  // becomes current again when it still holds one.
  void SetGridRowCount();
  void RepaintGrid();
  // After a dialog added, removed or rewrote images: the grid's rows follow ImageCount,
  // the current image stays when it still exists (else the last image becomes current),
  // and labels, preview and grid show the library as it now is.
  void ShowLibraryChanged() override;
  // The library shown is opened again when it is the one at dataPath.
  void ShowLibraryReplaced(const QString& dataPath) override;
  // Another program's change to the library shown: once it has committed, the library is
  // opened again with the current image (clamped), the options, the zoom and the grid's
  // scroll kept, and the status bar says so for a few seconds.  A look at the files first.
  void FollowOtherPrograms();
  int ChangesByOthers() override;

  // ---- Handlers.
  void FormCreate();
  void Button2Click();
  void btnupClick();
  void btndownClick();
  void BtnJumpClick();
  void BtnAutoPlayClick();
  void btnstopClick();
  void btnxClick();
  void btnyClick();
  void rb800Click();
  void btndeleteClick();
  void btninputClick();
  void BtnOutClick();
  void btnAddClick();
  void btnCreateClick();
  void btnallinputClick();
  void btnallOutClick();
  void BtnSaveGifClick();
  // Undo, Redo, Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y: one step through the library's history,
  // run as every change is; the window then shows the library as the step left it.
  void StepHistory(bool redo);
  // Undo and Redo brought in line with the library's history; after every change.
  void ShowHistorySteps();
  // Ctrl+C: the image shown onto the clipboard; Ctrl+V and Ctrl+Shift+V: the clipboard's
  // picture over the image shown, or inserted before it.
  void CopyClick();
  void PasteClick(bool insert);
  // Ctrl+arrow keys (and with Shift, ten at a time): the placement of the image shown.
  void NudgeShown(int dx, int dy);
  void PaintBox1Paint(TFlickerFreePaintBox* sender, QPainter& canvas);
  void DrawGrid1DrawCell(int col, int row, const QRect& rect, TGridDrawState state,
                         QPainter& canvas);

 protected:
  // During a run it asks first, then stops the run and waits for its rollback.
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  void CreateButtons(QWidget* left);
  void CreateInfoGroup(QWidget* left);
  void CreateOptionsGroup(QWidget* left);
  void CreatePlayGroup(QWidget* left);
  void CreatePreview(QWidget* central);
  void ConnectHandlers();
  void ConnectKeys();
  // The preview geometry for an image of w x h: sets zoom, origin and perhaps the
  // paint box size; returns the size shown in LabelSize.
  QSize ComputePreviewGeometry(int w, int h);
  double ChosenZoom() const;
  void SetEditButtons(bool enabled);
  void ShowBox(const QString& title, QMessageBox::Icon icon, const QString& text);
  void ScheduleGridSync();
  void SyncFromGrid();
  void JumpTo(int index);
  void ReportPaintError();
  // X and Y: ask for a value and write it into the current image's record.
  void EditPlacement(const QString& caption, const QString& prompt, bool x);

  // A run of a window's command on a worker thread, with the run box up meanwhile (a
  // change leaves the window showing the library as it now is).
  TOutcome RunOffThread(TRunTarget target, const QString& what, const TWorkerRun::Body& body);
  // True while a run goes on: nothing else may change or replace the library meanwhile.
  bool Busy() const { return TWorkerRun::Current() != nullptr; }
  void ShowDialog(TEditingDialog which, const TDialogFill& fill = {});
  // The range marked in the grid, for the range fields of a dialog.
  TDialogFill MarkedRangeFill() const;
  // A picture file over the image shown ("Import At"), or inserted before it.
  void PutPicture(const QString& path, bool insert);
  void DropOnPreview(const QString& file);
  void DropOnGrid(const TDroppedPictures& dropped, int cell);
  void WriteNudge(int index, int x, int y);
  // The placement of the image shown: a nudge's while its write waits.
  int ShownPx() const;
  int ShownPy() const;
  // The last image Play reaches: "To", or the last image.
  int LoopEnd() const;

  // The library's files watched, and what follows when another program changed them.
  void WatchLibrary();
  void TakeUpChangeByOthers();

  std::unique_ptr<TJOV> jov_;
  int changesByOthers_ = 0;
  int staleSeen_ = 0;          // the library's stale fetches already repainted
  bool previewStale_ = false;  // the last preview frame drew a stale fetch
  std::unique_ptr<TEditingDialogs> dialogs_;
  TWorkerRun* worker_;
  TPlacementNudge* nudge_;
  TLibraryWatch* watch_;
  int currentIndex_ = 0;
  int originX_ = 0;
  int originY_ = 0;
  double zoom_ = 0;
  bool transparent_ = false;
  bool stopRequested_ = false;
  int playing_ = 0;       // Play loops under way (a Play during play nests one)
  bool closing_ = false;  // closed during a run: nothing more is shown
  bool gridSyncPending_ = false;
  bool paintErrorShown_ = false;
};
