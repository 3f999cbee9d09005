// The picture loader: which reader takes which file, the pictures it gives, its errors
// and size limits, transparency, and the reuse of its image.

#include "editing/pictureloader.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <variant>

#include "common/errors.h"
#include "support/bmpbuilder.h"
#include "support/libbuilder.h"

namespace {

// A small picture with distinct colours in every pixel.
QImage Sample(int w = 5, int h = 3) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(40 * x, 60 * y + 10, 200 - 30 * x));
  return image;
}

// The loaded picture as RGB32, whatever holds it.
QImage AsImage(const TPicture& picture) {
  if (const auto* image = std::get_if<QImage>(&picture.Graphic))
    return image->convertToFormat(QImage::Format_RGB32);
  if (const auto* dib = std::get_if<TDIB>(&picture.Graphic))
    return dib->ToImage().convertToFormat(QImage::Format_RGB32);
  return QImage();
}

// A 24-bit bitmap file of the sample, built byte by byte.
QByteArray SampleBmp() {
  const QImage s = Sample();
  std::vector<std::vector<uint32_t>> rows;
  for (int y = 0; y < s.height(); ++y) {
    rows.emplace_back();
    for (int x = 0; x < s.width(); ++x) rows.back().push_back(s.pixel(x, y) & 0xFFFFFF);
  }
  BmpSpec spec;
  spec.width = s.width();
  spec.height = s.height();
  spec.depth = 24;
  spec.pixels = PackBmpRows(24, s.width(), rows);
  return BuildBmp(spec);
}

// A GIF of up to 4 colours (Qt writes none).  A clear code before every pixel keeps
// every LZW code 3 bits wide.
QByteArray TinyGif(int w, int h, const std::array<QRgb, 4>& colours, int transparent,
                   const std::vector<int>& pixels) {
  QByteArray out("GIF89a");
  auto put16 = [&](int v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
  put16(w);
  put16(h);
  out.append(char(0x81)).append(char(0)).append(char(0));  // 4 global colours
  for (QRgb c : colours) out.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
  out.append("\x21\xF9\x04\x01\0\0", 6).append(char(transparent)).append(char(0));
  out.append(char(0x2C));
  put16(0);
  put16(0);
  put16(w);
  put16(h);
  out.append(char(0)).append(char(2));  // no local table; minimum code size 2
  QByteArray data;
  uint32_t bits = 0;
  int count = 0;
  auto code = [&](int c) {
    bits |= uint32_t(c) << count;
    for (count += 3; count >= 8; count -= 8, bits >>= 8) data.append(char(bits & 0xFF));
  };
  for (int p : pixels) code(4), code(p);
  code(5);
  if (count > 0) data.append(char(bits & 0xFF));
  for (qsizetype i = 0; i < data.size(); i += 255) {
    const QByteArray block = data.mid(i, 255);
    out.append(char(block.size())).append(block);
  }
  return out.append(char(0)).append(char(0x3B));
}

class PictureLoaderTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  TPictureLoader loader;

  QString Save(const QImage& image, const QString& name, const char* format = nullptr) {
    const QString path = dir.filePath(name);
    EXPECT_TRUE(image.save(path, format)) << name.toStdString();
    return path;
  }
  QString Write(const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    WriteFileBytes(path, bytes);
    return path;
  }
  // The message of the EInvalidGraphic that loading path raises ("" when none).
  QString Refusal(const QString& path) {
    try {
      loader.Load(path);
    } catch (const EInvalidGraphic& e) {
      EXPECT_TRUE(std::holds_alternative<std::monostate>(loader.Picture().Graphic));
      return e.Message();
    }
    return QString();
  }
};

TEST_F(PictureLoaderTest, EachFileGoesToItsReaderAndComesBackWhole) {
  const QImage sample = Sample();
  const struct {
    QString path;
    bool dib;  // read by our own bitmap reader
  } cases[] = {
      {Write("a.bmp", SampleBmp()), true},
      {Write("b.DIB", SampleBmp()), true},
      {Write("c.BMP", SampleBmp()), true},
      {Write("bitmap-named.png", SampleBmp()), true},  // content decides
      {Write("noextension", SampleBmp()), true},
      {Save(sample, "d.png"), false},
      {Save(sample, "png-named.bmp", "PNG"), false},  // refused by ours, read by Qt
      {Save(sample, "e.ppm"), false},
      {Save(sample, "f.xpm"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    const TPicture& picture = loader.Load(c.path);
    EXPECT_EQ(std::holds_alternative<TDIB>(picture.Graphic), c.dib);
    EXPECT_EQ(AsImage(picture), sample);
  }
  // JPEG is lossy: size and rough colour.
  const QImage jpeg = AsImage(loader.Load(Save(Sample(64, 32), "h.jpg")));
  ASSERT_EQ(jpeg.size(), QSize(64, 32));
  EXPECT_NEAR(qRed(jpeg.pixel(1, 1)), 40, 24);
}

TEST_F(PictureLoaderTest, BitmapLayoutsOurReaderRefusesAreReadByQtOrNotAtAll) {
  // 32 bits with the channels in blue, green, red order: our reader would take the masks
  // for red, green, blue (it keeps only their widths).
  const QImage s = Sample();
  std::vector<std::vector<uint32_t>> rows;
  for (int y = 0; y < s.height(); ++y) {
    rows.emplace_back();
    for (int x = 0; x < s.width(); ++x) {
      const QRgb c = s.pixel(x, y);
      rows.back().push_back(uint32_t(qBlue(c)) << 16 | uint32_t(qGreen(c)) << 8 |
                            uint32_t(qRed(c)));
    }
  }
  BmpSpec spec;
  spec.width = s.width();
  spec.height = s.height();
  spec.depth = 32;
  spec.compression = 3;
  spec.masks = std::array<uint32_t, 3>{0x0000FF, 0x00FF00, 0xFF0000};
  spec.pixels = PackBmpRows(32, s.width(), rows);
  const TPicture& picture = loader.Load(Write("bgr.bmp", BuildBmp(spec)));
  ASSERT_TRUE(std::holds_alternative<QImage>(picture.Graphic));
  EXPECT_EQ(AsImage(picture), s);

  // The same file cut short is refused, not read in part by the other reader.
  QByteArray cut = BuildBmp(spec);
  cut.chop(8);
  const QString cutPath = Write("cut.bmp", cut);
  EXPECT_TRUE(Refusal(cutPath).contains("cut.bmp")) << Refusal(cutPath).toStdString();
  QByteArray cut24 = SampleBmp();
  cut24.chop(3);
  EXPECT_FALSE(Refusal(Write("cut24.bmp", cut24)).isEmpty());
  // A file neither reader takes gives our reader's reason.
  EXPECT_EQ(
      Refusal(Write("junk.bmp", "BM not a bitmap at all, really not")).toStdString(),
      ("Cannot load picture \"" + dir.filePath("junk.bmp") + "\". DIB is invalid").toStdString());
}

TEST_F(PictureLoaderTest, ErrorsNameTheFileAndTheReason) {
  const QString missing = dir.filePath("missing.png");
  try {
    loader.Load(missing);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_TRUE(e.Message().contains(missing)) << e.Message().toStdString();
  }
  EXPECT_THROW(loader.Load(dir.filePath("missing.bmp")), EFOpenError);
  EXPECT_THROW(loader.Load(dir.path()), EFOpenError);

  const struct {
    QString path;
    const char* reason;
  } cases[] = {
      {Write("garbage.png", "this is no picture"), ""},
      {Write("empty.bmp", ""), "The file is empty."},
      {Write("empty.png", ""), ""},
      // Sizes from the headers are refused before any pixel is allocated.
      {Write("huge.ppm", "P6\n9000 9000\n255\n"), "9000 x 9000 pixels, more than 256 MiB"},
      {Write("wide.ppm", "P6\n32765 1\n255\n"), "32765 x 1 pixels; an image record holds at most"},
      {Write("high.pgm", "P5\n1 32768\n255\n"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    const QString message = Refusal(c.path);
    EXPECT_TRUE(message.startsWith("Cannot load picture \"" + c.path + "\". "))
        << message.toStdString();
    EXPECT_TRUE(message.contains(c.reason)) << message.toStdString();
  }
  BmpSpec huge;  // 20000 x 20000 by its header, a few bytes in the file
  huge.width = huge.height = 20000;
  huge.depth = 8;
  huge.pixels = QByteArray(16, 0);
  EXPECT_TRUE(Refusal(Write("huge.bmp", BuildBmp(huge))).contains("more than 256 MiB"));
}

TEST_F(PictureLoaderTest, TransparentPixelsComeBlendedOverBlack) {
  QImage argb(3, 1, QImage::Format_ARGB32);
  argb.setPixel(0, 0, qRgba(200, 100, 50, 0));
  argb.setPixel(1, 0, qRgba(200, 100, 50, 128));
  argb.setPixel(2, 0, qRgba(200, 100, 50, 255));
  // A GIF's see-through colour is one entry of its colour table.
  const QString gif = Write(
      "t.gif",
      TinyGif(3, 1, {qRgb(200, 100, 50), qRgb(100, 50, 25), qRgb(200, 100, 50), 0}, 0, {0, 1, 2}));
  for (const QString& path : {Save(argb, "t.png"), gif}) {
    SCOPED_TRACE(path.toStdString());
    const QImage& image = std::get<QImage>(loader.Load(path).Graphic);
    EXPECT_FALSE(image.hasAlphaChannel());
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(100, 50, 25));
    EXPECT_EQ(image.pixel(2, 0), qRgb(200, 100, 50));
  }
}

TEST_F(PictureLoaderTest, ReusesItsImageBetweenLoads) {
  QImage withAlpha = Sample(40, 30).convertToFormat(QImage::Format_ARGB32);
  withAlpha.setPixel(0, 0, 0);
  for (const QImage& image : {Sample(40, 30), withAlpha}) {
    const QString png = Save(image, "r.png"), other = Save(Sample(8, 8), "o.png");
    const QString bmp = Write("r.bmp", SampleBmp());
    const uchar* bits = std::get<QImage>(loader.Load(png).Graphic).constBits();
    loader.Load(bmp);
    EXPECT_EQ(std::get<QImage>(loader.Load(png).Graphic).constBits(), bits);
    loader.Load(other);
    loader.Load(png);
  }
}

TEST(PictureNameFilters, ListEveryReadableFormatBetweenAllPicturesAndAllFiles) {
  const QStringList filters = PictureNameFilters();
  ASSERT_GE(filters.size(), 4);
  EXPECT_TRUE(filters.first().startsWith("All pictures ("));
  EXPECT_EQ(filters.last(), "All files (*)");
  EXPECT_TRUE(filters[1].startsWith("Bitmaps (*.bmp *.BMP)"));
  QStringList formats = {"bmp", "dib"};
  for (const QByteArray& f : QImageReader::supportedImageFormats())
    formats << QString::fromLatin1(f);
  // Every pattern of "All pictures" stands in exactly one format entry, and each
  // readable format is there in both cases.
  const QString all = filters.first();
  for (const QString& f : formats) {
    for (const QString& pattern : {"*." + f.toLower(), "*." + f.toUpper()}) {
      EXPECT_TRUE(all.contains(pattern + " ") || all.contains(pattern + ")"))
          << pattern.toStdString();
      int entries = 0;
      for (qsizetype i = 1; i + 1 < filters.size(); ++i)
        entries += filters[i].split(QRegularExpression("[ ()]")).contains(pattern);
      EXPECT_EQ(entries, 1) << pattern.toStdString();
    }
  }
  EXPECT_EQ(PictureFilter(), filters.join(";;"));
}

}  // namespace
