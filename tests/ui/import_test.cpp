// "Import At": one picture file over the image shown.

#include <QFile>
#include <QImage>

#include "support/libbuilder.h"
#include "uitest.h"

namespace {

class ImportAtTest : public ViewerTest {
 protected:
  QString lib;
  QString seenFilter;

  void SetUp() override {
    ViewerTest::SetUp();
    LibraryBuilder b(0);
    for (int i = 0; i < 3; ++i) b.Add8(8, 4, int16_t(i), int16_t(-i), Solid(8, 4, uint8_t(i + 1)));
    lib = Write(b);
    ChooseFile(lib);
    Settle();
    main->btndown->click();  // image 1
  }
  // Presses "Import At" with the picture dialog answering path (empty: cancelled).
  void ImportAt(const QString& path) {
    TOpenDialog::ExecuteHook = [this, path](TOpenDialog& d) {
      seenFilter = d.Filter;
      d.FileName = path;
      return !path.isEmpty();
    };
    main->btninput->click();
    TOpenDialog::ExecuteHook = nullptr;
  }
  QByteArray LibraryBytes() const {
    QFile f(lib), g(dir.filePath("lib.JOX"));
    f.open(QIODevice::ReadOnly);
    g.open(QIODevice::ReadOnly);
    return f.readAll() + g.readAll();
  }
};

TEST_F(ImportAtTest, ReplacesThePixelsOfTheImageShownAndShowsThemAtOnce) {
  // 5 x 3 pixels of an exact palette colour: stored 8 wide, padded with black.
  QImage picture(5, 3, QImage::Format_RGB32);
  picture.fill(qRgb(7 / 2, 255 - 7, 7));  // palette entry 7 of the builder's palette
  const QString path = dir.filePath("p.png");
  ASSERT_TRUE(picture.save(path));
  ImportAt(path);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("导入图片成功！"));
  EXPECT_TRUE(seenFilter.contains("*.png") && seenFilter.endsWith("(*)"))
      << seenFilter.toStdString();
  // The labels already describe the new picture; the placement stayed.
  EXPECT_EQ(main->Jov().Width(), 8);
  EXPECT_EQ(main->Jov().Height(), 3);
  EXPECT_EQ(main->Jov().px(), 1);
  EXPECT_EQ(main->Jov().py(), -1);
  const QImage* shown = main->Jov().ImageAt(1);
  EXPECT_EQ(shown->pixelIndex(0, 0), 7);
  EXPECT_EQ(shown->pixelIndex(7, 2), 0);
}

TEST_F(ImportAtTest, CancelledOrUnreadableWritesNothing) {
  const QByteArray before = LibraryBytes();
  ImportAt(QString());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("导入图片失败！"));
  // A file that is no picture: the error box names it, and the library stays.
  const QString junk = dir.filePath("junk.png");
  WriteFileBytes(junk, "no picture here");
  ImportAt(junk);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].icon, QMessageBox::Warning);  // the error box
  EXPECT_TRUE(messages[1].text.contains("junk.png")) << messages[1].text.toStdString();
  EXPECT_EQ(LibraryBytes(), before);
}

// A write that fails is reported in the information box too, with its reason.
TEST_F(ImportAtTest, AFailedWriteGivesTheReasonInTheInformationBox) {
  QImage picture(4, 4, QImage::Format_RGB32);
  picture.fill(Qt::black);
  const QString path = dir.filePath("p.png");
  ASSERT_TRUE(picture.save(path));
  const QByteArray before = LibraryBytes();
  TJOV other;
  ASSERT_EQ(other.Open(lib), TOpenResult::Opened);
  ASSERT_TRUE(other.DataStream()->TryLock());
  ImportAt(path);
  other.DataStream()->Unlock();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, QMessageBox::Information);
  EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("导入图片失败！\n")))
      << messages[0].text.toStdString();
  EXPECT_TRUE(messages[0].text.contains(lib));
  EXPECT_EQ(LibraryBytes(), before);
}

}  // namespace
