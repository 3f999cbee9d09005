// The add-one dialog and the delete dialog driven through their controls.

#include <QGroupBox>
#include <QImage>
#include <QProgressBar>
#include <QRadioButton>

#include "dialogs/addone.h"
#include "dialogs/del.h"
#include "support/libbuilder.h"
#include "uitest.h"

namespace {

class EditDialogTest : public ViewerTest {
 protected:
  QString lib;
  Controls addone, del;

  void SetUp() override {
    ViewerTest::SetUp();
    addone.window = Dialog<TFormaddone>();
    del.window = Dialog<TFormdel>();
  }

  // n images of 8 x 4 in colour i + 1, image i placed at (i, -i).
  void OpenImages(int n) {
    LibraryBuilder b(0);
    for (int16_t i = 0; i < n; ++i) b.Add8(8, 4, i, int16_t(-i), Solid(8, 4, uint8_t(i + 1)));
    lib = Write(b);
    ChooseFile(lib);
    Settle();
  }
  QByteArray LibraryBytes() const {
    return ReadFileBytes(lib) + ReadFileBytes(dir.filePath("lib.JOX"));
  }
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
  TFormaddone* d = Dialog<TFormaddone>();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Add Image"));
  EXPECT_EQ(d->Caption(), QStringLiteral("添加图片"));
  EXPECT_TRUE(addone.Edit("EditPic")->isReadOnly());
  EXPECT_TRUE(addone.Edit("EditPic")->text().isEmpty());
  EXPECT_TRUE(addone.Button("Rabtnadd")->isChecked());
  EXPECT_FALSE(addone.Button("RabtnInsert")->isChecked());
  EXPECT_EQ(addone.Button("Rabtnadd")->text() + addone.Button("RabtnInsert")->text(),
            QStringLiteral("AddInsert"));
  EXPECT_EQ(addone.Group("GroupPlacement")->title(), QStringLiteral("Placement"));
  EXPECT_EQ(addone.Edit("editx")->text() + addone.Edit("EDITy")->text(), QStringLiteral("00"));
  EXPECT_EQ(addone.Button("BtnAdd")->text() + addone.Button("BtnCancel")->text(),
            QStringLiteral("AddCancel"));

  // "...": the picture dialog offers every picture format, and its file lands in EditPic.
  const QString path = Picture(8, 4);
  QString filter;
  InDialog(d, main->btnAdd, [&] {
    TOpenDialog::ExecuteHook = [&](TOpenDialog& o) {
      filter = o.Filter;
      o.FileName = path;
      return true;
    };
    addone.Button("BtnBrowse")->click();
    TOpenDialog::ExecuteHook = nullptr;
    addone.Button("RabtnInsert")->setChecked(true);
    addone.Edit("editx")->setText(QStringLiteral("12"));
    addone.Button("BtnCancel")->click();
  });
  EXPECT_TRUE(filter.contains("*.png") && filter.contains("*.bmp")) << filter.toStdString();
  EXPECT_TRUE(messages.empty());
  // The next opening shows what was left.
  InDialog(d, main->btnAdd, [&] {
    EXPECT_EQ(addone.Edit("EditPic")->text(), path);
    EXPECT_TRUE(addone.Button("RabtnInsert")->isChecked());
    EXPECT_EQ(addone.Edit("editx")->text(), QStringLiteral("12"));
  });
}

TEST_F(EditDialogTest, AddOneWithoutAPictureSaysSoAndStaysOpen) {
  OpenImages(2);
  const QByteArray before = LibraryBytes();
  bool open = false;
  InDialog(Dialog<TFormaddone>(), main->btnAdd, [&] {
    addone.Button("BtnAdd")->click();
    open = Dialog<TFormaddone>()->isVisible();
  });
  EXPECT_TRUE(open);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
  EXPECT_EQ(messages[0].text, QStringLiteral("请选择要添加图片文件!"));
  EXPECT_EQ(LibraryBytes(), before);
}

TEST_F(EditDialogTest, AddAppendsInsertPutsBeforeTheImageShownAndTheWindowFollows) {
  OpenImages(3);
  TFormaddone* d = Dialog<TFormaddone>();
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
      addone.Edit("EditPic")->setText(path);
      (s.insert ? addone.Button("RabtnInsert") : addone.Button("Rabtnadd"))->setChecked(true);
      addone.Edit("editx")->setText(s.x);
      addone.Edit("EDITy")->setText(s.y);
      addone.Button("BtnAdd")->click();
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
  for (QAbstractButton* mode : {addone.Button("Rabtnadd"), addone.Button("RabtnInsert")}) {
    messages.clear();
    InDialog(Dialog<TFormaddone>(), main->btnAdd, [&] {
      addone.Edit("EditPic")->setText(Picture(8, 4));
      mode->setChecked(true);
      addone.Button("BtnAdd")->click();
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
  TFormdel* d = Dialog<TFormdel>();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Delete Image"));
  EXPECT_EQ(del.Group("GroupSequence")->title() + del.Group("GroupMode")->title(),
            QStringLiteral("SequenceMode"));
  EXPECT_EQ(del.Button("RabtnDel")->text() + del.Button("RabtnNull")->text(),
            QStringLiteral("Delete IdxClear Img"));
  EXPECT_EQ(del.Button("BtnDelete")->text() + del.Button("BtnCancel")->text(),
            QStringLiteral("DeleteCancel"));
  EXPECT_TRUE(del.Button("RabtnDel")->isChecked());
  EXPECT_TRUE(del.Bar()->isHidden());
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
      del.Edit("editBegin")->setText(QString::fromUtf8(r.begin));
      del.Edit("EditEnd")->setText(QString::fromUtf8(r.end));
      del.Button("BtnDelete")->click();
      open = d->isVisible();
      focus = d->focusWidget();
    });
    EXPECT_TRUE(open);
    EXPECT_EQ(focus, r.endField ? del.Edit("EditEnd") : del.Edit("editBegin"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
    EXPECT_EQ(messages[0].text, QStringLiteral("请输入正确的编号"));
  }
  EXPECT_EQ(LibraryBytes(), before);
}

TEST_F(EditDialogTest, DeleteRemovesTheRangeAndTheWindowShowsTheLastImageLeft) {
  OpenImages(8);
  for (int i = 0; i < 6; ++i) main->btndown->click();  // image 6
  InDialog(Dialog<TFormdel>(), main->btndelete, [&] {
    del.Edit("editBegin")->setText(QStringLiteral("2"));
    del.Edit("EditEnd")->setText(QStringLiteral("4"));
    del.Button("BtnDelete")->click();
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
  InDialog(Dialog<TFormdel>(), main->btndelete, [&] {
    EXPECT_EQ(del.Edit("editBegin")->text(), QStringLiteral("2"));
    EXPECT_EQ(del.Edit("EditEnd")->text(), QStringLiteral("4"));
  });
}

TEST_F(EditDialogTest, ClearBlanksTheRangeWithItsProgressBarAndKeepsPlacements) {
  OpenImages(4);
  TFormdel* d = Dialog<TFormdel>();
  int shownMax = -1;
  bool shownDuring = false;
  InDialog(d, main->btndelete, [&] {
    del.Edit("editBegin")->setText(QStringLiteral("1"));
    del.Edit("EditEnd")->setText(QStringLiteral("2"));
    del.Button("RabtnNull")->setChecked(true);
    // The bar is seen from a paint of the window during the run.
    QObject::connect(del.Bar(), &QProgressBar::valueChanged, [&] {
      shownDuring = shownDuring || del.Bar()->isVisible();
      shownMax = del.Bar()->maximum();
    });
    del.Button("BtnDelete")->click();
    del.Bar()->disconnect();
  });
  EXPECT_TRUE(shownDuring);
  EXPECT_EQ(shownMax, 2);
  EXPECT_TRUE(del.Bar()->isHidden());
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
  for (QAbstractButton* mode : {del.Button("RabtnDel"), del.Button("RabtnNull")}) {
    messages.clear();
    InDialog(Dialog<TFormdel>(), main->btndelete, [&] {
      del.Edit("editBegin")->setText(QStringLiteral("0"));
      del.Edit("EditEnd")->setText(QStringLiteral("1"));
      mode->setChecked(true);
      del.Button("BtnDelete")->click();
    });
    // The information box, with the reason below the failure.
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, QMessageBox::Information);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("删除失败\n")))
        << messages[0].text.toStdString();
    EXPECT_TRUE(messages[0].text.contains(lib));
  }
  other.DataStream()->Unlock();
  EXPECT_EQ(LibraryBytes(), before);
  EXPECT_EQ(main->Jov().ImageCount(), 3);
}

}  // namespace
