// The add-one dialog and the delete dialog driven through their controls.

#include <QGroupBox>
#include <QImage>
#include <QProgressBar>
#include <QRadioButton>

#include "dialogs/addone.h"
#include "dialogs/del.h"
#include "uitest.h"

namespace {

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class EditDialogTest : public ViewerTest {
 protected:
  QString lib;

  // n images of 8 x 4 in colour i + 1, image i placed at (i, -i).
  void OpenImages(int n) {
    LibraryBuilder b(0);
    for (int16_t i = 0; i < n; ++i) b.Add8(8, 4, i, int16_t(-i), Solid(8, 4, uint8_t(i + 1)));
    lib = Write(b);
    ChooseFile(lib);
    Settle();
  }
  QByteArray LibraryBytes() const { return FileBytes(lib) + FileBytes(dir.filePath("lib.JOX")); }
  // Presses opener, runs action inside the modal dialog d, and cancels d if still open.
  void InDialog(QDialog* d, QPushButton* opener, std::function<void()> action) {
    InsideModal(
        d, [opener] { opener->click(); }, action);
    Settle();
  }
  QString Picture(int w, int h) {
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(qRgb(7 / 2, 255 - 7, 7));  // palette entry 7 of the builder's palette
    const QString path = dir.filePath(QStringLiteral("p%1x%2.png").arg(w).arg(h));
    picture.save(path);
    return path;
  }
};

// ---------------------------------------------------------------------------------------
// Add one

TEST_F(EditDialogTest, AddOneStartsAsDocumentedAndKeepsItsFields) {
  OpenImages(2);
  TFormaddone* d = main->Formaddone;
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Add Image"));
  EXPECT_EQ(d->Caption(), QStringLiteral("添加图片"));
  EXPECT_TRUE(d->EditPic->isReadOnly());
  EXPECT_TRUE(d->EditPic->text().isEmpty());
  EXPECT_TRUE(d->Rabtnadd->isChecked());
  EXPECT_FALSE(d->RabtnInsert->isChecked());
  EXPECT_EQ(d->Rabtnadd->text() + d->RabtnInsert->text(), QStringLiteral("AddInsert"));
  EXPECT_EQ(d->GroupPlacement->title(), QStringLiteral("Placement"));
  EXPECT_EQ(d->editx->text() + d->EDITy->text(), QStringLiteral("00"));
  EXPECT_EQ(d->BtnAdd->text() + d->BtnCancel->text(), QStringLiteral("AddCancel"));

  // "...": the picture dialog offers every picture format, and its file lands in EditPic.
  const QString path = Picture(8, 4);
  QString filter;
  InDialog(d, main->btnAdd, [&] {
    TOpenDialog::ExecuteHook = [&](TOpenDialog& o) {
      filter = o.Filter;
      o.FileName = path;
      return true;
    };
    d->BtnBrowse->click();
    TOpenDialog::ExecuteHook = nullptr;
    d->RabtnInsert->setChecked(true);
    d->editx->setText(QStringLiteral("12"));
    d->BtnCancel->click();
  });
  EXPECT_TRUE(filter.contains("*.png") && filter.contains("*.bmp")) << filter.toStdString();
  EXPECT_TRUE(messages.empty());
  // The next opening shows what was left.
  InDialog(d, main->btnAdd, [&] {
    EXPECT_EQ(d->EditPic->text(), path);
    EXPECT_TRUE(d->RabtnInsert->isChecked());
    EXPECT_EQ(d->editx->text(), QStringLiteral("12"));
  });
}

TEST_F(EditDialogTest, AddOneWithoutAPictureSaysSoAndStaysOpen) {
  OpenImages(2);
  const QByteArray before = LibraryBytes();
  bool open = false;
  InDialog(main->Formaddone, main->btnAdd, [&] {
    main->Formaddone->BtnAdd->click();
    open = main->Formaddone->isVisible();
  });
  EXPECT_TRUE(open);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
  EXPECT_EQ(messages[0].text, QStringLiteral("请选择要添加图片文件!"));
  EXPECT_EQ(LibraryBytes(), before);
}

TEST_F(EditDialogTest, AddAppendsInsertPutsBeforeTheImageShownAndTheWindowFollows) {
  OpenImages(3);
  TFormaddone* d = main->Formaddone;
  const QString path = Picture(5, 3);
  struct Step {
    bool insert;
    QString x, y;
    int px, py;  // as stored: the number read, in 16 bits
  };
  // Append with a placement past 16 bits and text that reads only in part; then insert
  // before image 1.
  for (const Step& s :
       {Step{false, "70000", "12ab", 70000 - 65536, 12}, Step{true, "-3", "$10", -3, 16}}) {
    messages.clear();
    if (s.insert) main->btndown->click();  // image 1 shown
    InDialog(d, main->btnAdd, [&] {
      d->EditPic->setText(path);
      (s.insert ? d->RabtnInsert : d->Rabtnadd)->setChecked(true);
      d->editx->setText(s.x);
      d->EDITy->setText(s.y);
      d->BtnAdd->click();
      EXPECT_FALSE(d->isVisible());
    });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("加入图片成功！"));
    const int at = s.insert ? 1 : 3;
    // The current image stays; the labels and the grid know the new count at once.
    EXPECT_EQ(main->CurrentIndex(), s.insert ? 1 : 0);
    EXPECT_EQ(Index(),
              QStringLiteral("%1/%2").arg(s.insert ? 1 : 0).arg(main->Jov().ImageCount() - 1));
    EXPECT_EQ(main->DrawGrid1->RowCount(), main->Jov().ImageCount() / 6 + 1);
    main->Jov().ImageAt(at);
    EXPECT_EQ(main->Jov().Width(), 8);
    EXPECT_EQ(main->Jov().Height(), 3);
    EXPECT_EQ(main->Jov().px(), s.px);
    EXPECT_EQ(main->Jov().py(), s.py);
  }
  ASSERT_EQ(main->Jov().ImageCount(), 5);
  // Image 1 before the insert is image 2 now.
  main->Jov().ImageAt(2);
  EXPECT_EQ(main->Jov().px(), 1);
  EXPECT_EQ(main->Jov().py(), -1);
}

TEST_F(EditDialogTest, AFailedAddIsReportedAsAFailure) {
  OpenImages(2);
  const QByteArray before = LibraryBytes();
  // Another program holds the library while it changes it.
  TJOV other;
  ASSERT_EQ(other.Open(lib), TOpenResult::Opened);
  ASSERT_TRUE(other.DataStream()->TryLock());
  for (QRadioButton* mode : {main->Formaddone->Rabtnadd, main->Formaddone->RabtnInsert}) {
    messages.clear();
    InDialog(main->Formaddone, main->btnAdd, [&] {
      main->Formaddone->EditPic->setText(Picture(8, 4));
      mode->setChecked(true);
      main->Formaddone->BtnAdd->click();
    });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("加入图片失败！\n")))
        << messages[0].text.toStdString();
    EXPECT_TRUE(messages[0].text.contains(lib));
  }
  other.DataStream()->Unlock();
  EXPECT_EQ(LibraryBytes(), before);
  EXPECT_EQ(main->Jov().ImageCount(), 2);
}

// ---------------------------------------------------------------------------------------
// Delete and clear

TEST_F(EditDialogTest, DeleteChecksItsFieldsInOrderAndFocusesTheOffendingOne) {
  OpenImages(6);
  TFormdel* d = main->Formdel;
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Delete Image"));
  EXPECT_EQ(d->GroupSequence->title() + d->GroupMode->title(), QStringLiteral("SequenceMode"));
  EXPECT_EQ(d->RabtnDel->text() + d->RabtnNull->text(), QStringLiteral("Delete IdxClear Img"));
  EXPECT_EQ(d->BtnDelete->text() + d->BtnCancel->text(), QStringLiteral("DeleteCancel"));
  EXPECT_TRUE(d->RabtnDel->isChecked());
  EXPECT_TRUE(d->ProgressBar1->isHidden());
  const QByteArray before = LibraryBytes();
  struct Row {
    const char *begin, *end;
    bool endField;  // the focus goes to the end field
  };
  const Row rows[] = {{"", "0", false},   {"x", "0", false},  {"6", "6", false}, {"-1", "0", false},
                      {"1a", "9", false}, {"0", "", true},    {"0", "6", true},  {"5", "4", true},
                      {"2", "-2", true},  {"$2", "0x1", true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.begin << " .. " << r.end);
    messages.clear();
    bool open = false;
    QWidget* focus = nullptr;
    InDialog(d, main->btndelete, [&] {
      d->editBegin->setText(QString::fromUtf8(r.begin));
      d->EditEnd->setText(QString::fromUtf8(r.end));
      d->BtnDelete->click();
      open = d->isVisible();
      focus = d->focusWidget();
    });
    EXPECT_TRUE(open);
    EXPECT_EQ(focus, r.endField ? d->EditEnd : d->editBegin);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
    EXPECT_EQ(messages[0].text, QStringLiteral("请输入正确的编号"));
  }
  EXPECT_EQ(LibraryBytes(), before);
}

TEST_F(EditDialogTest, DeleteRemovesTheRangeAndTheWindowShowsTheLastImageLeft) {
  OpenImages(8);
  for (int i = 0; i < 6; ++i) main->btndown->click();  // image 6
  InDialog(main->Formdel, main->btndelete, [&] {
    main->Formdel->editBegin->setText(QStringLiteral("2"));
    main->Formdel->EditEnd->setText(QStringLiteral("4"));
    main->Formdel->BtnDelete->click();
  });
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, QMessageBox::Information);
  EXPECT_EQ(messages[0].text, QStringLiteral("删除成功"));
  ASSERT_EQ(main->Jov().ImageCount(), 5);
  EXPECT_EQ(main->CurrentIndex(), 4);  // image 6 is gone from the count: the last one
  EXPECT_EQ(Index(), QStringLiteral("4/4"));
  EXPECT_EQ(main->DrawGrid1->RowCount(), 1);
  main->Jov().ImageAt(2);
  EXPECT_EQ(main->Jov().px(), 5);  // old image 5
  // The fields keep what was typed.
  InDialog(main->Formdel, main->btndelete, [&] {
    EXPECT_EQ(main->Formdel->editBegin->text(), QStringLiteral("2"));
    EXPECT_EQ(main->Formdel->EditEnd->text(), QStringLiteral("4"));
  });
}

TEST_F(EditDialogTest, ClearBlanksTheRangeWithItsProgressBarAndKeepsPlacements) {
  OpenImages(4);
  TFormdel* d = main->Formdel;
  int shownMax = -1;
  bool shownDuring = false;
  InDialog(d, main->btndelete, [&] {
    d->editBegin->setText(QStringLiteral("1"));
    d->EditEnd->setText(QStringLiteral("2"));
    d->RabtnNull->setChecked(true);
    // The bar is seen from a paint of the window during the run.
    QObject::connect(d->ProgressBar1, &QProgressBar::valueChanged, [&] {
      shownDuring = shownDuring || d->ProgressBar1->isVisible();
      shownMax = d->ProgressBar1->maximum();
    });
    d->BtnDelete->click();
    d->ProgressBar1->disconnect();
  });
  EXPECT_TRUE(shownDuring);
  EXPECT_EQ(shownMax, 2);
  EXPECT_TRUE(d->ProgressBar1->isHidden());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("删除成功"));
  ASSERT_EQ(main->Jov().ImageCount(), 4);
  for (int i = 0; i < 4; ++i) {
    main->Jov().ImageAt(i);
    const bool cleared = i == 1 || i == 2;
    EXPECT_EQ(main->Jov().Width(), cleared ? 4 : 8);
    EXPECT_EQ(main->Jov().Height(), cleared ? 1 : 4);
    EXPECT_EQ(main->Jov().px(), i);
    EXPECT_EQ(main->Jov().py(), -i);
  }
}

TEST_F(EditDialogTest, AFailedDeleteOrClearSaysSoAndLeavesTheLibrary) {
  OpenImages(3);
  const QByteArray before = LibraryBytes();
  TJOV other;
  ASSERT_EQ(other.Open(lib), TOpenResult::Opened);
  ASSERT_TRUE(other.DataStream()->TryLock());
  for (QRadioButton* mode : {main->Formdel->RabtnDel, main->Formdel->RabtnNull}) {
    messages.clear();
    InDialog(main->Formdel, main->btndelete, [&] {
      main->Formdel->editBegin->setText(QStringLiteral("0"));
      main->Formdel->EditEnd->setText(QStringLiteral("1"));
      mode->setChecked(true);
      main->Formdel->BtnDelete->click();
    });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("删除失败"));
  }
  other.DataStream()->Unlock();
  EXPECT_EQ(LibraryBytes(), before);
  EXPECT_EQ(main->Jov().ImageCount(), 3);
}

}  // namespace
