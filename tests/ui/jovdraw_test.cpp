// Drawing library images: the zoomed preview with its key colours and focus frame, and
// thumbnails.

#include "viewer/jovdraw.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "library/myjov.h"
#include "support/libbuilder.h"

namespace {

class JovDrawTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  TJOV jov;
  void SetUp() override {
    LibraryBuilder b(0);
    // Palette entry 1 pure red, 2 pure white.
    b.palette[4 + 2] = 255, b.palette[4 + 1] = 0, b.palette[4] = 0;
    b.palette[8] = b.palette[9] = b.palette[10] = 255;
    // 4 x 2: top row red red white black, bottom row white white white white.
    b.Add8(4, 2, 0, 0, {2, 2, 2, 2, 1, 1, 2, 0});
    b.Add8(32, 100, 0, 0, std::vector<uint8_t>(3200, 2));
    ASSERT_EQ(jov.Open(b.Write(dir.path(), "lib")), TOpenResult::Opened);
  }
  static QImage Canvas(int w, int h, QRgb fill) {
    QImage c(w, h, QImage::Format_RGB32);
    c.fill(fill);
    return c;
  }
};

TEST_F(JovDrawTest, ZoomedDrawingKeysBlackOrRedAndFramesTheArea) {
  const QRgb grey = qRgb(0x40, 0x40, 0x40);
  QImage c = Canvas(20, 20, grey);
  {
    QPainter p(&c);
    DrawZoomed(jov, p, 2, 2, 0, 2.0, true);
  }
  EXPECT_EQ(c.pixel(2, 2), qRgb(255, 0, 0));  // red drawn
  EXPECT_EQ(c.pixel(6, 3), qRgb(255, 255, 255));
  EXPECT_EQ(c.pixel(8, 2), qRgb(0xBF, 0xBF, 0xBF)) << "black keyed out: the inverted frame shows";
  EXPECT_EQ(c.pixel(9, 2), grey) << "every other pixel of the frame";
  EXPECT_EQ(c.pixel(9, 3), grey) << "keyed out, off the frame";
  EXPECT_EQ(c.pixel(10, 2), grey) << "the frame ends at x + w";

  QImage d = Canvas(20, 20, grey);
  {
    QPainter p(&d);
    DrawZoomed(jov, p, 0, 0, 0, 1.0, false);
  }
  EXPECT_EQ(d.pixel(1, 0), grey) << "red is the key when transparency is off";
  EXPECT_EQ(d.pixel(3, 0), qRgb(0, 0, 0)) << "black is drawn";
}

TEST_F(JovDrawTest, ZoomRoundsHalvesToEven) {
  // The white 32 x 100 picture: 32 x 0.078125 = 2.5 gives 2; 32 x 0.109375 = 3.5 gives 4.
  for (auto [zoom, w] : {std::pair{0.078125, 2}, std::pair{0.109375, 4}}) {
    QImage c = Canvas(10, 20, qRgb(1, 1, 1));
    {
      QPainter p(&c);
      DrawZoomed(jov, p, 0, 0, 1, zoom, true);
    }
    int right = -1;
    for (int x = 0; x < 10; ++x)
      if (c.pixel(x, 3) != qRgb(1, 1, 1)) right = x;
    EXPECT_EQ(right, w - 1) << zoom;
  }
}

TEST_F(JovDrawTest, ThumbnailsSqueezeLargePicturesAndKeepSmallOnes) {
  QImage c = Canvas(60, 60, qRgb(9, 9, 9));
  {
    QPainter p(&c);
    DrawThumbnail(jov, p, QRect(0, 0, 60, 60), 1);  // 32 x 100 picture
  }
  EXPECT_EQ(c.pixel(31, 59), qRgb(255, 255, 255));
  EXPECT_EQ(c.pixel(32, 0), qRgb(9, 9, 9));
  EXPECT_EQ(jov.Width(), 32);
  EXPECT_EQ(jov.Height(), 100) << "drawing fetches the image";
}

}  // namespace
