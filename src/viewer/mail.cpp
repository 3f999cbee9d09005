#include "viewer/mail.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <cmath>

#include "common/errors.h"
#include "common/fileio.h"
#include "common/parseinteger.h"
#include "editing/exchange.h"
#include "editing/messages.h"
#include "library/jovformat.h"
#include "viewer/collapsepanel.h"
#include "viewer/droppictures.h"
#include "viewer/ffpbox.h"
#include "viewer/framepacer.h"
#include "viewer/jovdraw.h"
#include "viewer/libwatch.h"
#include "viewer/nudge.h"
#include "widgets/guard.h"
#include "widgets/inputdialog.h"
#include "widgets/runbox.h"

namespace {

constexpr int kClientWidth = 699;
constexpr int kClientHeight = 649;
constexpr int kLeftPanelWidth = 273;
constexpr int kGridPanelHeight = 269;
constexpr int kSplitterWidth = 3;
constexpr QSize kPaintBoxStartSize(416, 329);
constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 25;
constexpr char kGridCaption[] = "    Use Button At The Side To Expand GridView";

// Controls of a form placed by hand in rows of columns: the first at origin, the next one
// step.width() to the right, a new row step.height() down.
template <class W>
void PlaceInRows(QWidget* parent, int columns, QPoint origin, QSize step, QSize size,
                 std::initializer_list<std::pair<W**, const char*>> controls) {
  int i = 0;
  for (const auto& [control, caption] : controls) {
    *control = new W(QString::fromLatin1(caption), parent);
    (*control)->setGeometry(origin.x() + i % columns * step.width(),
                            origin.y() + i / columns * step.height(), size.width(), size.height());
    ++i;
  }
}

// The program's read-me, opened by the link of the options group: beside the program in
// a build tree, or where an install into any prefix (PREFIX/bin beside PREFIX/share) or a
// package puts documentation.  Empty when there is none.
QUrl ReadMeUrl() {
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& path :
       {dir + QStringLiteral("/../README.md"), dir + QStringLiteral("/README.md"),
        dir + QStringLiteral("/../share/doc/jovviewer/README.md"),
        QStringLiteral("/usr/share/doc/jovviewer/README.md")})
    if (QFileInfo(path).isFile()) return QUrl::fromLocalFile(QFileInfo(path).canonicalFilePath());
  return QUrl();
}

// Nearest integer, a value exactly halfway going to the even neighbour.
int RoundHalfEven(double x) {
  return int(std::nearbyint(x));
}

bool IsLibraryPath(const QString& path) {
  return path.endsWith(QStringLiteral(".jov"), Qt::CaseInsensitive);
}

// The first local .jov file among dropped data, if any.
QString DroppedLibrary(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return QString();
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && IsLibraryPath(url.toLocalFile())) return url.toLocalFile();
  return QString();
}

// The message box: one "OK" button, centred on the screen.
class TMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    if (QScreen* s = screen()) {
      const QRect area = s->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
};

}  // namespace

std::function<void(const QString&, QMessageBox::Icon, const QString&)> TFormMain::MessageHook;
std::function<int(const QString&, const QStringList&)> TFormMain::ChoiceHook;

// ---------------------------------------------------------------------------------------
// Creation

TFormMain::TFormMain(QWidget* parent)
    : QMainWindow(parent),
      worker_(new TWorkerRun(this)),
      nudge_(
          new TPlacementNudge([this](int index, int x, int y) { WriteNudge(index, x, y); }, this)),
      watch_(new TLibraryWatch([this] { Guarded([this] { FollowOtherPrograms(); }); }, this)) {
  setWindowTitle(QStringLiteral("JovViewer V4.0"));
  setAcceptDrops(true);
  CreateControls();
  ConnectHandlers();
  resize(kClientWidth, kClientHeight);
  FormCreate();
  SetUnhandledErrorReporter([this](const QString& message) { showErrMessage(message); });
}

TFormMain::~TFormMain() {
  Guarded([this] { nudge_->Flush(); });
  SetUnhandledErrorReporter(nullptr);
}

void TFormMain::FormCreate() {
  jov_ = std::make_unique<TJOV>();
  jov_->SetFollowOthers(true);
}

void TFormMain::SetEditingDialogs(std::unique_ptr<TEditingDialogs> dialogs) {
  dialogs_ = std::move(dialogs);
}

void TFormMain::CreateControls() {
  auto* central = new QWidget(this);
  auto* layout = new QHBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setCentralWidget(central);

  // ---- Left panel: laid out by hand, as a form is.
  auto* left = new QWidget(central);
  left->setFixedWidth(kLeftPanelWidth);
  layout->addWidget(left);
  Label1 = new QLabel(QStringLiteral("File:"), left);
  Label1->setGeometry(10, 11, 30, 18);
  EditFileName = new QLineEdit(left);
  EditFileName->setGeometry(42, 9, 190, 22);
  Button2 = new QPushButton(QStringLiteral("..."), left);
  Button2->setGeometry(236, 9, 28, 22);
  CreateButtons(left);
  CreateInfoGroup(left);
  CreateOptionsGroup(left);
  CreatePlayGroup(left);

  // ---- Right side: the preview over the collapsible grid panel.
  CreatePreview(central);
  layout->addWidget(Splitter1, 1);
  InputDialog = new TInputDialog(this);
  RunBox = new TRunBox(this);
  RunBox->AskToStop = [this] { return Ask(kStopRunQuestion); };
  worker_->ConfirmWithoutUndo = [this](const QString& text) { return Ask(text); };
}

void TFormMain::CreateButtons(QWidget* left) {
  // Two columns of six rows, the first name of each row on the left.
  PlaceInRows<QPushButton>(left, 2, QPoint(20, 42), QSize(123, 32),
                           QSize(kButtonWidth, kButtonHeight),
                           {{&btnup, "Previous"},
                            {&btndown, "Next"},
                            {&btndelete, "Delete Image"},
                            {&BtnJump, "Jump Image"},
                            {&BtnAutoPlay, "Play"},
                            {&btnstop, "Stop"},
                            {&btninput, "Import At"},
                            {&BtnOut, "Export At"},
                            {&btnAdd, "Add"},
                            {&btnCreate, "Create New"},
                            {&btnallinput, "Import All"},
                            {&btnallOut, "Export all"}});
  // They wait for a library; "..." beside the file name does not.
  for (QPushButton* b : left->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
    b->setEnabled(b == Button2);
}

void TFormMain::CreateInfoGroup(QWidget* left) {
  GroupInfo = new QGroupBox(QStringLiteral("File/Image Information"), left);
  GroupInfo->setGeometry(8, 240, 257, 164);
  auto makeLabel = [](QWidget* parent, const QString& text, int x, int y, int w) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, 20);
    return l;
  };
  Label3 = makeLabel(GroupInfo, QStringLiteral("Type:"), 14, 26, 40);
  Labeltype = makeLabel(GroupInfo, QString(), 60, 26, 190);
  Label2 = makeLabel(GroupInfo, QStringLiteral("Info:"), 14, 52, 40);
  LabelSize = makeLabel(GroupInfo, QString(), 60, 52, 190);
  btnx = new QPushButton(QStringLiteral("X"), GroupInfo);
  btnx->setGeometry(12, 78, 40, 22);
  LabelX = makeLabel(GroupInfo, QString(), 60, 79, 100);
  btny = new QPushButton(QStringLiteral("Y"), GroupInfo);
  btny->setGeometry(12, 106, 40, 22);
  LabelY = makeLabel(GroupInfo, QString(), 60, 107, 100);
  // Undo and Redo on the right of the two placements, where the labels leave room.
  for (auto [button, caption, y] :
       {std::tuple(&BtnUndo, "Undo", 78), std::tuple(&BtnRedo, "Redo", 106)}) {
    *button = new QPushButton(QString::fromLatin1(caption), GroupInfo);
    (*button)->setGeometry(170, y, 76, 22);
    (*button)->setObjectName(QStringLiteral("Btn") + QString::fromLatin1(caption));
    (*button)->setEnabled(false);
  }
  Label7 = makeLabel(GroupInfo, QStringLiteral("Idx:"), 14, 134, 40);
  LabelIndex = makeLabel(GroupInfo, QString(), 60, 134, 190);
}

void TFormMain::CreateOptionsGroup(QWidget* left) {
  GroupOptions = new QGroupBox(QStringLiteral("Options"), left);
  GroupOptions->setGeometry(8, 414, 257, 150);
  PlaceInRows<QRadioButton>(GroupOptions, 3, QPoint(14, 24), QSize(80, 24), QSize(76, 20),
                            {{&Rb50, "50%"},
                             {&rb100, "100%"},
                             {&rb200, "200%"},
                             {&rb400, "400%"},
                             {&rb800, "800%"},
                             {&rbauto, "Auto"}});
  rb100->setChecked(true);
  PlaceInRows<QCheckBox>(GroupOptions, 2, QPoint(14, 76), QSize(120, 24), QSize(116, 20),
                         {{&checkboxTransparent, "Transparant"},
                          {&CheckBoxjump, "Jump"},
                          {&checkboxXY, "Apply X/Y"},
                          {&CheckBoxzuobiao, "ShowGrid"}});
  const QUrl readMe = ReadMeUrl();
  LinkLabel = new QLabel(
      QStringLiteral("<a href=\"%1\">Read me</a>").arg(readMe.toString(QUrl::FullyEncoded)),
      GroupOptions);
  LinkLabel->setGeometry(14, 124, 60, 20);
  LinkLabel->setOpenExternalLinks(true);
  LinkLabel->setTextInteractionFlags(Qt::TextBrowserInteraction);
  LinkLabel->setVisible(!readMe.isEmpty());
  // The history limit on the link's row.
  auto* historyLabel = new QLabel(QStringLiteral("History limit (MiB)"), GroupOptions);
  historyLabel->setGeometry(80, 124, 114, 20);
  SpinHistoryLimit = new QSpinBox(GroupOptions);
  SpinHistoryLimit->setObjectName(QStringLiteral("SpinHistoryLimit"));
  SpinHistoryLimit->setRange(0, 99999);
  SpinHistoryLimit->setValue(int(kDefaultHistoryLimit >> 20));
  SpinHistoryLimit->setToolTip(QStringLiteral("0 keeps no history: changes cannot be undone"));
  SpinHistoryLimit->setGeometry(194, 122, 56, 22);
  historyLabel->setBuddy(SpinHistoryLimit);
}

void TFormMain::CreatePlayGroup(QWidget* left) {
  // Below the options, where the panel was empty.
  GroupPlay = new QGroupBox(QStringLiteral("Animation"), left);
  GroupPlay->setGeometry(8, 570, 257, 74);
  auto place = [](QWidget* w, int x, int y, int width) {
    w->setGeometry(x, y, width, 22);
    return w;
  };
  place(new QLabel(QStringLiteral("Rate:"), GroupPlay), 12, 18, 40);
  SpinFps = new QSpinBox(GroupPlay);
  SpinFps->setRange(0, 60);
  SpinFps->setSuffix(QStringLiteral(" fps"));
  SpinFps->setSpecialValueText(QStringLiteral("max"));
  place(SpinFps, 52, 18, 72);
  place(CheckLoop = new QCheckBox(QStringLiteral("Loop"), GroupPlay), 134, 18, 56);
  place(BtnSaveGif = new QPushButton(QStringLiteral("Save GIF"), GroupPlay), 190, 18, 60);
  BtnSaveGif->setEnabled(false);
  place(new QLabel(QStringLiteral("From:"), GroupPlay), 12, 45, 40);
  place(EditLoopFrom = new QLineEdit(GroupPlay), 52, 45, 72);
  EditLoopFrom->setPlaceholderText(QStringLiteral("shown"));
  place(new QLabel(QStringLiteral("To:"), GroupPlay), 134, 45, 24);
  place(EditLoopTo = new QLineEdit(GroupPlay), 160, 45, 90);
  EditLoopTo->setPlaceholderText(QStringLiteral("last"));
  SpinFps->setObjectName(QStringLiteral("SpinFps"));
  CheckLoop->setObjectName(QStringLiteral("CheckLoop"));
  EditLoopFrom->setObjectName(QStringLiteral("EditLoopFrom"));
  EditLoopTo->setObjectName(QStringLiteral("EditLoopTo"));
  BtnSaveGif->setObjectName(QStringLiteral("BtnSaveGif"));
}

void TFormMain::CreatePreview(QWidget* central) {
  Splitter1 = new QSplitter(Qt::Vertical, central);
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setChildrenCollapsible(false);

  ScrollBox1 = new QScrollArea(Splitter1);
  ScrollBox1->setWidgetResizable(false);
  ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  PaintBox1 = new TFlickerFreePaintBox;
  PaintBox1->resize(kPaintBoxStartSize);
  ScrollBox1->setWidget(PaintBox1);
  Image1 = new QLabel(ScrollBox1);
  Image1->hide();

  GridPanel = new TCollapsePanel(QString::fromLatin1(kGridCaption), kGridPanelHeight, Splitter1);
  DrawGrid1 = new TDrawGrid(GridPanel);
  GridPanel->SetBody(DrawGrid1);
  Splitter1->addWidget(ScrollBox1);
  Splitter1->addWidget(GridPanel);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);
}

void TFormMain::ConnectHandlers() {
  // Every handler runs inside the guard for errors that nothing else catches.
  auto on = [this](QPushButton* button, void (TFormMain::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { Guarded([&] { (this->*handler)(); }); });
  };
  on(Button2, &TFormMain::Button2Click);
  on(btnup, &TFormMain::btnupClick);
  on(btndown, &TFormMain::btndownClick);
  on(btndelete, &TFormMain::btndeleteClick);
  on(BtnJump, &TFormMain::BtnJumpClick);
  on(BtnAutoPlay, &TFormMain::BtnAutoPlayClick);
  on(btnstop, &TFormMain::btnstopClick);
  on(btninput, &TFormMain::btninputClick);
  on(BtnOut, &TFormMain::BtnOutClick);
  on(btnAdd, &TFormMain::btnAddClick);
  on(btnCreate, &TFormMain::btnCreateClick);
  on(btnallinput, &TFormMain::btnallinputClick);
  on(btnallOut, &TFormMain::btnallOutClick);
  on(BtnSaveGif, &TFormMain::BtnSaveGifClick);
  on(btnx, &TFormMain::btnxClick);
  on(btny, &TFormMain::btnyClick);
  for (QPushButton* b : {BtnUndo, BtnRedo})
    connect(b, &QPushButton::clicked, this,
            [this, redo = b == BtnRedo] { Guarded([&] { StepHistory(redo); }); });
  // The limit holds for the library open now and every one opened later.
  connect(SpinHistoryLimit, &QSpinBox::valueChanged, this, [this](int mib) {
    jov_->SetHistoryLimit(int64_t(mib) << 20);
    Guarded([this] { ShowHistorySteps(); });
  });

  // The ten options share one handler: once for the radio button that became checked,
  // once for a check box whichever way it went.
  for (QRadioButton* r : {Rb50, rb100, rb200, rb400, rb800, rbauto})
    connect(r, &QRadioButton::toggled, this, [this](bool checked) {
      if (checked) Guarded([this] { rb800Click(); });
    });
  for (QCheckBox* c : {checkboxTransparent, CheckBoxjump, checkboxXY, CheckBoxzuobiao})
    connect(c, &QCheckBox::toggled, this, [this] { Guarded([this] { rb800Click(); }); });

  // A picture fetched across another program's change is not shown: the last one stays.
  PaintBox1->KeepShown = [this] { return previewStale_; };
  PaintBox1->OnPaint = [this](TFlickerFreePaintBox* sender, QPainter& canvas) {
    PaintBox1Paint(sender, canvas);
  };
  DrawGrid1->OnDrawCell = [this](int col, int row, const QRect& rect, TGridDrawState state,
                                 QPainter& canvas) {
    DrawGrid1DrawCell(col, row, rect, state, canvas);
  };
  connect(DrawGrid1, &TDrawGrid::SelectionSettled, this, &TFormMain::ScheduleGridSync);

  // Expanded, the grid panel takes its own height and the preview the rest; collapsed,
  // the preview takes all but the caption bar.
  connect(GridPanel, &TCollapsePanel::ExpandedChanged, this, [this](bool expanded) {
    const int total = Splitter1->height() - Splitter1->handleWidth();
    const int panel = expanded ? GridPanel->ExpandedHeight() : TCollapsePanel::kCaptionHeight;
    Splitter1->setSizes({std::max(0, total - panel), panel});
  });
  ConnectKeys();
}

void TFormMain::ConnectKeys() {
  // Keys step through the images through the buttons' own handlers, and only when the
  // button could be clicked.
  auto key = [this](QKeySequence sequence, std::function<void()> action) {
    auto* shortcut = new QShortcut(sequence, this);
    connect(shortcut, &QShortcut::activated, this, [action] { Guarded(action); });
  };
  key(QKeySequence(Qt::Key_Left), [this] { btnup->click(); });
  key(QKeySequence(Qt::Key_PageUp), [this] { btnup->click(); });
  key(QKeySequence(Qt::Key_Right), [this] { btndown->click(); });
  key(QKeySequence(Qt::Key_PageDown), [this] { btndown->click(); });
  key(QKeySequence(Qt::Key_Home), [this] {
    if (BtnJump->isEnabled()) JumpTo(0);
  });
  key(QKeySequence(Qt::Key_End), [this] {
    if (BtnJump->isEnabled()) JumpTo(jov_->ImageCount() - 1);
  });
  key(QKeySequence(Qt::Key_Space), [this] { (playing_ > 0 ? btnstop : BtnAutoPlay)->click(); });
  key(QKeySequence::Copy, [this] { CopyClick(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_V), [this] { PasteClick(false); });
  key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), [this] { PasteClick(true); });
  // A text field with the focus keeps the undo keys for its own text: it takes those it
  // knows before the window sees them, and the others do nothing there.
  auto history = [this](bool redo) {
    QWidget* focus = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(focus) != nullptr ||
        qobject_cast<QAbstractSpinBox*>(focus) != nullptr)
      return;
    (redo ? BtnRedo : BtnUndo)->click();
  };
  key(QKeySequence(Qt::CTRL | Qt::Key_Z), [history] { history(false); });
  key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [history] { history(true); });
  key(QKeySequence(Qt::CTRL | Qt::Key_Y), [history] { history(true); });
  for (const auto& [arrow, dx, dy] :
       {std::tuple(Qt::Key_Left, -1, 0), std::tuple(Qt::Key_Right, 1, 0),
        std::tuple(Qt::Key_Up, 0, -1), std::tuple(Qt::Key_Down, 0, 1)}) {
    key(QKeySequence(Qt::CTRL | arrow), [this, dx, dy] { NudgeShown(dx, dy); });
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | arrow),
        [this, dx, dy] { NudgeShown(10 * dx, 10 * dy); });
  }
}

// ---------------------------------------------------------------------------------------
// Message boxes and resources

void TFormMain::showMessage(const QString& text) {
  ShowBox(QStringLiteral("消息！"), QMessageBox::Information, text);
}

void TFormMain::showErrMessage(const QString& text) {
  ShowBox(QStringLiteral("错误！"), QMessageBox::Warning, text);
}

void TFormMain::ShowBox(const QString& title, QMessageBox::Icon icon, const QString& text) {
  if (closing_) return;
  if (MessageHook) {
    MessageHook(title, icon, text);
    return;
  }
  // A box of its own for every message, so nothing of an earlier one is left over.  It
  // is modal over whatever window is active, a dialog that called it included.
  QWidget* owner = QApplication::activeModalWidget();
  if (owner == nullptr) owner = QApplication::activeWindow();
  if (owner == nullptr) owner = this;
  TMessageBox box(owner);
  box.setWindowTitle(title);
  box.setIcon(icon);
  box.setText(text);
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.exec();
}

// ---------------------------------------------------------------------------------------
// Opening

void TFormMain::Button2Click() {
  OpenDialog1.Filter = QStringLiteral("jov (*.jov *.JOV *.Jov);;All (*)");
  if (!OpenDialog1.Execute(this)) return;
  OpenLibrary(OpenDialog1.FileName);
}

void TFormMain::OpenLibrary(const QString& path) {
  if (Busy()) return;
  nudge_->Flush();
  EditFileName->setText(path);
  const QString name = EditFileName->text();
  if (!FileExists(name)) return;
  if (jov_->IsOpen()) jov_->Close();
  paintErrorShown_ = false;
  TOpenResult result;
  try {
    result = jov_->Open(name);
  } catch (...) {
    // The library is closed: the views must not keep showing its images.
    PaintBox1->update();
    DrawGrid1->viewport()->update();
    throw;
  }
  if (result == TOpenResult::Missing) showErrMessage(TJOV::MissingFileMessage(name));
  WatchLibrary();
  if (jov_->IsOpen()) {
    currentIndex_ = 0;
    DrawGrid1->ClearMarkedRange();
    SetGridRowCount();
    DrawGrid1->viewport()->update();
    FillInfo(0);
  } else {
    showErrMessage(msg::kNotALibrary);
    PaintBox1->update();
    DrawGrid1->viewport()->update();
  }
  ShowHistorySteps();
}

void TFormMain::OpenFromCommandLine(const QStringList& arguments) {
  for (const QString& argument : arguments) {
    if (argument.startsWith(QLatin1Char('-'))) continue;
    if (!FileExists(argument)) {
      showErrMessage(TJOV::MissingFileMessage(argument));
      return;
    }
    OpenLibrary(QFileInfo(argument).absoluteFilePath());
    return;
  }
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event) {
  // Pictures go into a library that can be changed.
  if (!DroppedLibrary(event->mimeData()).isEmpty() ||
      (btninput->isEnabled() && !DroppedPictures(event->mimeData()).Empty()))
    event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* event) {
  const QString path = DroppedLibrary(event->mimeData());
  if (!path.isEmpty()) {
    event->acceptProposedAction();
    Guarded([&] { OpenLibrary(path); });
    return;
  }
  const TDroppedPictures dropped = DroppedPictures(event->mimeData());
  if (dropped.Empty() || !btninput->isEnabled() || Busy()) return;
  // What the drop asks is asked once the drop has ended.
  const QPoint at = event->position().toPoint();
  QWidget* grid = DrawGrid1->viewport();
  QWidget* preview = ScrollBox1->viewport();
  if (grid->isVisible() && grid->rect().contains(grid->mapFrom(this, at))) {
    const int cell = DrawGrid1->CellNumberAt(grid->mapFrom(this, at));
    event->acceptProposedAction();
    QTimer::singleShot(0, this,
                       [this, dropped, cell] { Guarded([&] { DropOnGrid(dropped, cell); }); });
  } else if (dropped.files.size() == 1 && dropped.folder.isEmpty() &&
             preview->rect().contains(preview->mapFrom(this, at))) {
    event->acceptProposedAction();
    const QString file = dropped.files.front();
    QTimer::singleShot(0, this, [this, file] { Guarded([&] { DropOnPreview(file); }); });
  }
}

// ---------------------------------------------------------------------------------------
// FillInfo and the preview geometry

double TFormMain::ChosenZoom() const {
  if (Rb50->isChecked()) return 0.5;
  if (rb200->isChecked()) return 2.0;
  if (rb400->isChecked()) return 4.0;
  if (rb800->isChecked()) return 8.0;
  return 1.0;
}

QSize TFormMain::ComputePreviewGeometry(int w, int h) {
  const bool applyXY = checkboxXY->isChecked();
  if (rbauto->isChecked()) {
    // Measured against the paint box as it is.
    const int W = PaintBox1->width(), H = PaintBox1->height();
    if (w < W && h < H) {
      zoom_ = 1.0;
      if (applyXY) {
        originX_ = W / 2 + ShownPx();
        originY_ = H / 2 + ShownPy();
      } else {
        originX_ = (W - w) / 2;
        originY_ = (H - h) / 2;
      }
    } else {
      // Shrunk until it fits.  A box of no height or width measures as 1 pixel.
      const double r = std::max(double(w) / std::max(W, 1), double(h) / std::max(H, 1));
      zoom_ = 1.0 / r;
      originX_ = 1;
      originY_ = 1;
    }
    return QSize(w, h);
  }

  zoom_ = ChosenZoom();
  PaintBox1->resize(ScrollBox1->width() - 5, ScrollBox1->height() - 5);
  const int W = PaintBox1->width(), H = PaintBox1->height();
  const int zw = RoundHalfEven(w * zoom_), zh = RoundHalfEven(h * zoom_);
  if (zw >= W || zh >= H) {
    // The scrolling area scrolls over the whole zoomed image.
    PaintBox1->resize(zw, zh);
    originX_ = 1;
    originY_ = 1;
  } else if (applyXY) {
    originX_ = W / 2 + ShownPx();
    originY_ = H / 2 + ShownPy();
  } else {
    originX_ = (W - zw) / 2;
    originY_ = (H - zh) / 2;
  }
  return QSize(zw, zh);
}

void TFormMain::SetEditButtons(bool enabled) {
  for (QPushButton* b : {btninput, btnallinput, btnAdd, btndelete, btnx, btny})
    b->setEnabled(enabled);
}

void TFormMain::FillInfo(int v) {
  if (!jov_->IsOpen()) return;
  currentIndex_ = v;
  transparent_ = checkboxTransparent->isChecked();
  jov_->ImageAt(v);
  int w = jov_->Width(), h = jov_->Height();

  // Blank images are skipped forwards, never past the last image; a fetch that met
  // another program's change is no blank image.
  if (CheckBoxjump->isChecked()) {
    while ((w <= 1 || h <= 1) && currentIndex_ < jov_->ImageCount() - 1 && jov_->FetchesSound()) {
      ++currentIndex_;
      jov_->ImageAt(currentIndex_);
      w = jov_->Width();
      h = jov_->Height();
    }
  }

  const QSize shown = ComputePreviewGeometry(w, h);

  // The index label and the Previous/Next states follow the requested index, the rest
  // the image shown.
  LabelX->setText(QString::number(ShownPx()));
  LabelY->setText(QString::number(ShownPy()));
  LabelSize->setText(QStringLiteral("%1*%2").arg(shown.width()).arg(shown.height()));
  LabelIndex->setText(QStringLiteral("%1/%2").arg(v).arg(jov_->ImageCount() - 1));
  const QString label = TypeLabel(int(jov_->FileType()), jov_->OffSet());
  if (!label.isEmpty()) Labeltype->setText(label);

  PaintBox1->repaint();

  for (QPushButton* b :
       {btnup, btndown, BtnJump, BtnAutoPlay, btnstop, BtnOut, btnallOut, btnCreate, BtnSaveGif})
    b->setEnabled(true);
  // Run-coded libraries are viewed and exported, never changed.
  SetEditButtons(jov_->FileType() != TFileType::RunCoded);

  if (v == jov_->ImageCount() - 1) {
    btndown->setEnabled(false);
    btnup->setEnabled(true);
  }
  if (v == 0) btnup->setEnabled(false);

  DrawGrid1->SelectCell(currentIndex_ / TDrawGrid::kColCount, currentIndex_ % TDrawGrid::kColCount);
  // When blank images were skipped the grid now marks the image shown; showing it
  // again brings the index label and Previous/Next in line with it.
  if (currentIndex_ != v) ScheduleGridSync();
}

// ---------------------------------------------------------------------------------------
// Navigation

void TFormMain::btnupClick() {
  if (!jov_->IsOpen()) return;
  int index = currentIndex_ - 1;
  if (index < 0) index = 0;
  FillInfo(index);
}

void TFormMain::btndownClick() {
  if (!jov_->IsOpen()) return;
  int index = currentIndex_ + 1;
  // Capped at ImageCount, one past the last image: that shows the 1 x 1 placeholder.
  if (index > jov_->ImageCount()) index = jov_->ImageCount();
  FillInfo(index);
}

void TFormMain::JumpTo(int index) {
  if (index >= 0 && index < jov_->ImageCount()) FillInfo(index);
}

void TFormMain::BtnJumpClick() {
  if (!jov_->IsOpen()) return;
  // The value text is what was typed last.
  InputDialog->Caption = QStringLiteral("跳转");
  InputDialog->Prompt = QStringLiteral("请输入图片索引号    ");
  if (InputDialog->Execute() != TInputDialog::mrOk) return;
  // The number read before the first character that does not fit.
  JumpTo(ParseInteger(InputDialog->Value).value);
}

void TFormMain::BtnAutoPlayClick() {
  stopRequested_ = false;
  ++playing_;
  TFramePacer pacer(SpinFps->value());
  const TParsedInteger from = ParseInteger(EditLoopFrom->text());
  const int first = from.ok() ? std::max(from.value, 0) : currentIndex_;
  // Index, count, end and stop flag are read afresh on every pass: a jump, an option or
  // a newly opened library takes effect at once, and a Play pressed during play runs a
  // nested loop that Stop ends together with this one.  At the end Play stops, or with
  // "Loop" starts again from the first image of the range.
  while (!stopRequested_ && jov_->IsOpen()) {
    const int last = LoopEnd();
    int next = currentIndex_ + 1;
    if (currentIndex_ >= last) {
      if (!CheckLoop->isChecked() || first >= last) break;
      next = first;
    }
    currentIndex_ = next;
    FillInfo(currentIndex_);
    pacer.Wait(stopRequested_);
  }
  --playing_;
}

void TFormMain::btnstopClick() {
  stopRequested_ = true;
}

void TFormMain::closeEvent(QCloseEvent* event) {
  if (TWorkerRun* run = TWorkerRun::Current()) {
    if (!Ask(kStopRunQuestion)) return event->ignore();
    run->Cancel();
    run->Wait();
    // The dialog or box of the run goes with the window, and shows nothing more.
    closing_ = true;
    for (QDialog* d : findChildren<QDialog*>())
      if (d->isVisible()) d->hide();
  }
  // A play in progress ends with the window.
  stopRequested_ = true;
  Guarded([this] { nudge_->Flush(); });
  QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------------------
// Placements and options

void TFormMain::btnxClick() {
  EditPlacement(QStringLiteral("更改图片横坐标"), QStringLiteral("请输入图片横坐标    "), true);
}

void TFormMain::btnyClick() {
  EditPlacement(QStringLiteral("更改图片纵坐标"), QStringLiteral("请输入图片纵坐标    "), false);
}

void TFormMain::EditPlacement(const QString& caption, const QString& prompt, bool x) {
  if (Busy()) return;
  nudge_->Flush();
  InputDialog->Caption = caption;
  InputDialog->Prompt = prompt;
  InputDialog->Value = QStringLiteral("1");
  if (InputDialog->Execute() == TInputDialog::mrCancel) return;
  TPlacementRequest request;
  request.index = currentIndex_;
  (x ? request.xText : request.yText) = InputDialog->Value;
  if (const TValidation refusal = request.Validate(*jov_)) return Refuse(*refusal);
  const TOutcome outcome = request.Run(*jov_);
  ShowHistorySteps();
  if (!outcome.Done()) return Report(outcome);
  FillInfo(currentIndex_);
}

void TFormMain::rb800Click() {
  FillInfo(currentIndex_);
}

// ---------------------------------------------------------------------------------------
// The editing dialogs

void TFormMain::btndeleteClick() {
  ShowDialog(TEditingDialog::Delete, MarkedRangeFill());
}

void TFormMain::btninputClick() {
  OpenPictureDialog1.Filter = PictureFilter();
  QString path;
  if (OpenPictureDialog1.Execute(this)) path = OpenPictureDialog1.FileName;
  QCoreApplication::processEvents();
  PutPicture(path, false);
}

void TFormMain::BtnOutClick() {
  if (!jov_->IsOpen()) return;
  SavePictureDialog1.Title = QStringLiteral("Save Image To");
  SavePictureDialog1.Filter = QStringLiteral("Bitmaps (*.bmp);;PNG (*.png)");
  SavePictureDialog1.DefaultExt = QStringLiteral(".bmp");
  SavePictureDialog1.FileName = ExchangeBitmapName(currentIndex_);
  SavePictureDialog1.SelectedFilter.clear();
  if (!SavePictureDialog1.Execute(this)) return;
  // The picture only; a placement file belongs to the exchange folder.  A typed ".png"
  // or ".bmp" decides the format, otherwise the filter chosen.
  const TPictureFileFormat chosen =
      SavePictureDialog1.SelectedFilter.contains(QStringLiteral("*.png"), Qt::CaseInsensitive)
          ? TPictureFileFormat::Png
          : TPictureFileFormat::Bmp;
  TExportOneRequest request;
  request.index = currentIndex_;
  request.path = SavePictureDialog1.FileName;
  request.format = PictureFileFormatOf(request.path, chosen);
  if (const TValidation refusal = request.Validate(*jov_)) return Refuse(*refusal);
  Report(request.Run(*jov_));
}

void TFormMain::btnAddClick() {
  if (jov_->IsOpen()) ShowDialog(TEditingDialog::Add);
}

void TFormMain::btnCreateClick() {
  ShowDialog(TEditingDialog::Create);
}

void TFormMain::btnallinputClick() {
  if (jov_->IsOpen()) ShowDialog(TEditingDialog::BatchImport, MarkedRangeFill());
}

void TFormMain::btnallOutClick() {
  if (jov_->IsOpen()) ShowDialog(TEditingDialog::Export, MarkedRangeFill());
}

void TFormMain::ShowDialog(TEditingDialog which, const TDialogFill& fill) {
  // A placement a key moved is written before the dialog may change the library.
  nudge_->Flush();
  dialogs_->Show(which, fill);
}

void TFormMain::SetGridRowCount() {
  DrawGrid1->SetRowCount(jov_->ImageCount() / TDrawGrid::kColCount + 1);
}

void TFormMain::ShowLibraryChanged() {
  if (!jov_->IsOpen()) return;
  // Opened again, it reads the library as it now is, no longer as it was before the run.
  const int count = jov_->ImageCount();
  const TOpenResult opened = jov_->Open(jov_->FileName());
  WatchLibrary();
  if (opened != TOpenResult::Opened || !jov_->IsOpen()) {
    PaintBox1->update();
    DrawGrid1->viewport()->update();
    ShowHistorySteps();
    return showErrMessage(msg::kNotALibrary);
  }
  ShowHistorySteps();
  if (jov_->ImageCount() != count) DrawGrid1->ClearMarkedRange();
  SetGridRowCount();
  FillInfo(std::max(0, std::min(currentIndex_, jov_->ImageCount() - 1)));
  DrawGrid1->viewport()->update();
}

void TFormMain::ShowLibraryReplaced(const QString& dataPath) {
  if (jov_->IsOpen() &&
      QFileInfo(jov_->FileName()).absoluteFilePath() == QFileInfo(dataPath).absoluteFilePath())
    OpenLibrary(jov_->FileName());
}

void TFormMain::WatchLibrary() {
  if (jov_->IsOpen())
    watch_->Watch(jov_->Paths());
  else
    watch_->Stop();
}

void TFormMain::FollowOtherPrograms() {
  // During a run of this program the files are its own to change, and it opens them
  // again when the run ends.
  if (!jov_->IsOpen() || Busy() || closing_) return;
  switch (jov_->ChangeByOthers()) {
    case TLibraryChange::Committed:
      return TakeUpChangeByOthers();
    case TLibraryChange::None:
      // A fetch that met a change shows again once the change has gone by.
      if (std::exchange(staleSeen_, jov_->StaleFetches()) != jov_->StaleFetches()) RepaintGrid();
      return;
    case TLibraryChange::Underway:
      return;
  }
}

void TFormMain::TakeUpChangeByOthers() {
  nudge_->Flush();
  QScrollBar* bars[] = {DrawGrid1->horizontalScrollBar(), DrawGrid1->verticalScrollBar()};
  const int scroll[] = {bars[0]->value(), bars[1]->value()};
  ++changesByOthers_;
  ShowLibraryChanged();
  staleSeen_ = jov_->StaleFetches();
  for (int i = 0; i < 2; ++i) bars[i]->setValue(scroll[i]);
  statusBar()->showMessage(msg::kChangedByAnotherProgram, 4000);
}

int TFormMain::ChangesByOthers() {
  FollowOtherPrograms();
  return changesByOthers_;
}

void TFormMain::RepaintGrid() {
  DrawGrid1->viewport()->update();
  PaintBox1->update();
  ScheduleGridSync();
}

// ---------------------------------------------------------------------------------------
// Painting

void TFormMain::ReportPaintError() {
  // Painting goes on without the image; the message is shown once, outside painting.
  const QString message = CurrentErrorMessage();
  if (paintErrorShown_) return;
  paintErrorShown_ = true;
  QTimer::singleShot(0, this, [this, message] { showErrMessage(message); });
}

void TFormMain::PaintBox1Paint(TFlickerFreePaintBox* sender, QPainter& canvas) {
  try {
    if (jov_->IsOpen())
      DrawZoomed(*jov_, canvas, originX_, originY_, currentIndex_, zoom_, transparent_);
  } catch (...) {
    ReportPaintError();
  }
  if (CheckBoxzuobiao->isChecked()) {
    // Dotted axes crossing at the centre of the box, over the image.
    const int W = sender->width(), H = sender->height();
    canvas.save();
    canvas.setPen(QPen(Qt::black, 1, Qt::DotLine));
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.drawLine(0, H / 2, W, H / 2);
    canvas.drawLine(W / 2, 0, W / 2, H);
    canvas.restore();
  }
  previewStale_ = !jov_->FetchesSound();
}

void TFormMain::DrawGrid1DrawCell(int col, int row, const QRect& rect, TGridDrawState,
                                  QPainter& canvas) {
  const int index = row * TDrawGrid::kColCount + col;
  if (!jov_->IsOpen() || index >= jov_->ImageCount()) return;
  try {
    DrawThumbnail(*jov_, canvas, rect, index);
    // A picture fetched across another program's change is wiped before it is seen.
    if (!jov_->FetchesSound()) canvas.eraseRect(rect);
  } catch (...) {
    ReportPaintError();
  }
  // The number in the cell's bottom-right corner, one pixel inside it, no background.
  const QString label = QString::asprintf("%.5d", index);
  const QFontMetrics metrics(canvas.font());
  const int right = rect.x() + rect.width(), bottom = rect.y() + rect.height();
  const QRect box(right - metrics.horizontalAdvance(label) - 1, bottom - metrics.height() - 1,
                  metrics.horizontalAdvance(label), metrics.height());
  canvas.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, label);
}

// ---------------------------------------------------------------------------------------
// The grid and the current image

void TFormMain::ScheduleGridSync() {
  if (gridSyncPending_) return;
  gridSyncPending_ = true;
  QTimer::singleShot(0, this, [this] { Guarded([this] { SyncFromGrid(); }); });
}

void TFormMain::SyncFromGrid() {
  gridSyncPending_ = false;
  if (!jov_->IsOpen()) return;
  // Of the marked cells that hold an image, the last in painting order becomes current.
  const int target = DrawGrid1->LastMarkedCellBelow(jov_->ImageCount());
  if (target >= 0) FillInfo(target);
}
