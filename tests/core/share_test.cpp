// The pictures made to share a range of images: the contact sheet (read back by Qt's PNG
// reader) and the animated GIF (read back by Pillow, where it is installed).

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <map>
#include <string>

#include "common/errors.h"
#include "common/operation.h"
#include "editing/gifexport.h"
#include "editing/sheet.h"
#include "library/myjov.h"
#include "support/libbuilder.h"

namespace {

// An image of a fixture: its record and the colours it shows, top row first, black
// pixels transparent (0).
struct Image {
  int w, h, px, py;
  std::vector<QRgb> shown;
};

// A library whose palette holds black twice (entries 0 and 8), a dark grey and white.
LibraryBuilder Fixture(int fileType) {
  LibraryBuilder b(fileType);
  for (size_t k = 0; k < 3; ++k)
    b.palette[8 * 4 + k] = 0, b.palette[250 * 4 + k] = 40, b.palette[251 * 4 + k] = 255;
  return b;
}

// Adds images of the given sizes and placements; pixel values follow seed, every fifth one
// is 0.  A 16-bit image uses at most `colours` colours besides black.
std::vector<Image> AddImages(LibraryBuilder& b, int fileType,
                             const std::vector<std::array<int, 4>>& specs, int seed = 0,
                             int colours = 200) {
  std::vector<Image> images;
  for (const auto& [w, h, px, py] : specs) {
    Image image{w, h, px, py, std::vector<QRgb>(size_t(w) * size_t(h))};
    std::vector<uint8_t> rows8(image.shown.size());
    std::vector<uint16_t> words;
    for (int y = 0; y < h; ++y) {
      if (fileType == 2) words.insert(words.end(), {uint16_t(w + 2), 0xC1, uint16_t(w)});
      for (int x = 0; x < w; ++x) {
        const int v = (x + y) % 5 == 0 ? 0 : 1 + (x * 7 + y * 3 + seed) % colours;
        const uint16_t word = uint16_t(v == 0 ? 0 : v * 331 + seed);
        rows8[size_t(h - 1 - y) * size_t(w) + size_t(x)] = uint8_t(v);
        if (fileType == 2) words.push_back(word);
        // RGB565 channels are widened by repeating their top bits, as every reader does.
        const int r = word >> 11, g = (word >> 5) & 63, bl = word & 31;
        const auto entry = [&](int k) { return b.palette[size_t(v) * 4 + size_t(k)]; };
        const QRgb c = fileType == 2 ? qRgb(r << 3 | r >> 2, g << 2 | g >> 4, bl << 3 | bl >> 2)
                                     : qRgb(entry(2), entry(1), entry(0));
        image.shown[size_t(y) * size_t(w) + size_t(x)] = (c & 0xFFFFFF) ? c : 0;
      }
    }
    if (fileType == 2)
      b.Add16(int16_t(w), int16_t(h), int16_t(px), int16_t(py), words);
    else
      b.Add8(int16_t(w), int16_t(h), int16_t(px), int16_t(py), rows8);
    images.push_back(std::move(image));
  }
  return images;
}

void Open(TJOV& jov, const LibraryBuilder& b, const QTemporaryDir& dir, const QString& name) {
  ASSERT_EQ(jov.Open(b.Write(dir.path(), name)), TOpenResult::Opened);
}

// Each image drawn in its cell, scaled, black pixels and the ground transparent, and under
// it a label whose digits match "%.5d" of its index: a digit always drawn the same,
// different digits differently.
TEST(Sheet, CellsHoldTheImagesScaledAndCentredOverTheirNumbers) {
  QTemporaryDir dir;
  for (const auto& [fileType, scale, columns] : {std::tuple{0, 1, 2}, {1, 2, 3}, {2, 3, 2}}) {
    SCOPED_TRACE(testing::Message() << fileType << " x" << scale << " columns " << columns);
    LibraryBuilder b = Fixture(fileType);
    std::vector<Image> images =
        AddImages(b, fileType, {{8, 6, 0, 0}, {5, 11, 0, 0}, {40, 3, 0, 0}, {6, 6, 0, 0}});
    b.AddEntry(-1);  // an image with no record: an empty cell
    images.push_back({0, 0, 0, 0, {}});
    TJOV jov;
    Open(jov, b, dir, QStringLiteral("s%1").arg(fileType));
    const QString path = dir.filePath(QStringLiteral("s%1.png").arg(fileType));
    const TSheetSize size = WriteSheet(jov, path, {{0, 4}, columns, scale});
    const QImage sheet = QImage(path).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(sheet.size(), QSize(size.width, size.height));
    EXPECT_EQ(QImage(path).format(),
              fileType == 2 ? QImage::Format_ARGB32 : QImage::Format_Indexed8);

    int top = 0, right = 0, opaque = 0;
    std::map<char, std::vector<bool>> glyphs;
    for (int first = 0; first < 5; first += columns) {
      const int last = std::min(4, first + columns - 1);
      int cellWidth = 31, imageHeight = 0;
      for (int k = first; k <= last; ++k)
        cellWidth = std::max(cellWidth, images[size_t(k)].w * scale),
        imageHeight = std::max(imageHeight, images[size_t(k)].h * scale);
      cellWidth += 8;
      for (int k = first; k <= last; ++k) {
        const Image& im = images[size_t(k)];
        const int x0 = (k - first) * cellWidth + (cellWidth - im.w * scale) / 2;
        const int y0 = top + 4 + (imageHeight - im.h * scale) / 2;
        for (int y = 0; y < im.h * scale; ++y)
          for (int x = 0; x < im.w * scale; ++x) {
            const QRgb want = im.shown[size_t(y / scale) * size_t(im.w) + size_t(x / scale)];
            ASSERT_EQ(sheet.pixel(x0 + x, y0 + y), want) << k << " " << x << "," << y;
            opaque += want != 0;
          }
        // The label: a white plate of 31 x 9 pixels, dark digits of 5 x 7 a pixel apart.
        const int lx = (k - first) * cellWidth + (cellWidth - 31) / 2;
        const int ly = top + 4 + imageHeight + 4;
        const QByteArray label = QByteArray::number(k).rightJustified(5, '0');
        for (int d = 0; d < 5; ++d) {
          std::vector<bool> glyph;
          for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 6; ++x) {
              const QRgb p = sheet.pixel(lx + 1 + d * 6 + x, ly + y);
              ASSERT_TRUE(p == qRgb(255, 255, 255) || qGray(p) < 60) << std::hex << p;
              const bool ink = p != qRgb(255, 255, 255);
              EXPECT_FALSE(ink && (x == 5 || y == 0 || y == 8)) << "ink outside a digit";
              glyph.push_back(ink);
            }
          const auto [at, added] = glyphs.emplace(label[d], glyph);
          EXPECT_EQ(at->second, glyph) << "digit " << label[d] << " drawn two ways";
        }
        opaque += 31 * 9;
      }
      right = std::max(right, (last - first + 1) * cellWidth);
      top += 4 + imageHeight + 4 + 9 + 4;
    }
    EXPECT_EQ(sheet.size(), QSize(right, top));
    for (auto a = glyphs.begin(); a != glyphs.end(); ++a)
      for (auto c = std::next(a); c != glyphs.end(); ++c) EXPECT_NE(a->second, c->second);
    // Nothing else is drawn: the ground is transparent.
    int shown = 0;
    for (int y = 0; y < sheet.height(); ++y)
      for (int x = 0; x < sheet.width(); ++x) shown += qAlpha(sheet.pixel(x, y)) != 0;
    EXPECT_EQ(shown, opaque);
  }
}

int64_t StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::strlen(field) + 1));
  return -1;
}

// Ten thousand images make a sheet of 20 MB of pixels; it is written with a row of cells
// in memory, neither the sheet nor the decoded images.
TEST(Sheet, TenThousandImagesTakeTheMemoryOfOneRow) {
  QTemporaryDir dir;
  LibraryBuilder b(0);
  std::vector<uint8_t> pixels(32 * 32);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i / 32 % 3 ? 0 : i % 200);
  for (int i = 0; i < 10000; ++i) b.Add8(32, 32, 0, 0, pixels);
  TJOV jov;
  Open(jov, b, dir, "big");
  const QString path = dir.filePath("big.png");
  std::ofstream clear("/proc/self/clear_refs");
  if (!(clear << "5" << std::flush) || StatusKiB("VmHWM") < 0)
    GTEST_SKIP() << "cannot reset the peak resident size";
  clear.close();
  const int64_t before = StatusKiB("VmRSS");
  int calls = 0;
  TProgressFunction progress([&](int64_t, int64_t) { ++calls; });
  const TSheetSize size = WriteSheet(jov, path, {{0, 9999}, 8, 1}, &progress);
  // The address sanitizer keeps freed blocks in quarantine, so its peak runs higher; both
  // stay far below the 20 MB of the sheet.
#ifdef __SANITIZE_ADDRESS__
  const int64_t limitKiB = 10 * 1024;
#else
  const int64_t limitKiB = 4 * 1024;
#endif
  EXPECT_LT(StatusKiB("VmHWM") - before, limitKiB) << "KiB";
  EXPECT_EQ(calls, 10000);
  EXPECT_EQ(QSize(size.width, size.height), QSize(8 * 40, 1250 * 53));
  const QImage sheet(path);
  EXPECT_EQ(sheet.size(), QSize(320, 1250 * 53));
  EXPECT_EQ(sheet.pixelIndex(7 * 40 + 4 + 5, 1249 * 53 + 4 + 1), pixels[30 * 32 + 5]);
}

// Pillow's view of a GIF: frame count, loop, transparency, global palette and every frame
// as shown (disposal done), a pixel as AARRGGBB, transparent ones 0.  Empty without Pillow.
QJsonObject ReadGif(const QString& path) {
  const char* script =
      "import sys, json\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
      "out = {'n': im.n_frames, 'loop': im.info.get('loop', -1), 'size': list(im.size),\n"
      "       'transparency': im.info.get('transparency', -1), 'palette': im.getpalette(),\n"
      "       'frames': []}\n"
      "for i in range(im.n_frames):\n"
      "    im.seek(i)\n"
      "    px = ['%08x' % ((a << 24 | r << 16 | g << 8 | b) if a else 0)\n"
      "          for r, g, b, a in im.convert('RGBA').getdata()]\n"
      "    out['frames'].append({'duration': im.info.get('duration'), 'pixels': px})\n"
      "print(json.dumps(out))\n";
  static QString found;  // the first interpreter that had Pillow
  for (const QString& python :
       {found, QStringLiteral("python3"), QStringLiteral("/usr/bin/python3")}) {
    QProcess run;
    run.start(python, {"-c", script, path});
    if (!python.isEmpty() && run.waitForFinished(60000) &&
        run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0) {
      found = python;
      return QJsonDocument::fromJson(run.readAllStandardOutput()).object();
    }
  }
  return {};
}

TEST(Animation, PillowSeesEveryFramePlacedAloneWithTheTimingLoopAndPalette) {
  QTemporaryDir dir;
  const std::vector<std::array<int, 4>> small = {{6, 4, -3, -2}, {5, 7, 2, 1}, {4, 4, -8, 5}};
  const std::vector<std::array<int, 4>> large = {{20, 12, -3, -2}, {16, 14, 2, 1}, {4, 4, -8, 5}};
  const struct {
    int fileType, fps, plays;
    bool placement;
    int seeds;  // 16-bit: frames with colours of their own, too many for one table
    int durationMs, loop;
    int width, height, left, top;  // the screen, and its corner from the anchor
  } cases[] = {
      {0, 10, 0, true, 0, 100, 0, 15, 11, -8, -2},
      {1, 8, 3, false, 0, 130, 2, 6, 7, 0, 0},
      {2, 25, 1, true, 0, 40, -1, 15, 11, -8, -2},
      {2, 10, 2, true, 300, 100, 1, 26, 17, -8, -2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fileType << " " << c.fps << " fps, " << c.seeds);
    LibraryBuilder b = Fixture(c.fileType);
    std::vector<Image> images;
    for (int i = 0; i < 3; ++i)
      images.push_back(AddImages(b, c.fileType, {(c.seeds ? large : small)[size_t(i)]}, i * c.seeds,
                                 c.seeds ? 250 : 200)[0]);
    b.AddEntry(-1);
    images.push_back({0, 0, 0, 0, {}});
    TJOV jov;
    Open(jov, b, dir, QStringLiteral("g%1").arg(c.seeds + c.fileType));
    const QString path = dir.filePath("a.gif");
    WriteAnimation(jov, path, {{0, 3}, c.fps, c.plays, c.placement});
    const QJsonObject gif = ReadGif(path);
    if (gif.isEmpty()) GTEST_SKIP() << "Pillow is not installed";
    EXPECT_EQ(gif["size"].toArray(), QJsonArray({c.width, c.height}));
    EXPECT_EQ(gif["n"].toInt(), 4);
    EXPECT_EQ(gif["loop"].toInt(), c.loop);
    EXPECT_EQ(gif["transparency"].toInt(), 0);
    if (c.fileType != 2) {
      QJsonArray palette;
      for (int i = 0; i < 256 * 4; ++i)
        if (i % 4 != 3) palette.append(b.palette[size_t(i / 4 * 4 + 2 - i % 4)]);
      EXPECT_EQ(gif["palette"].toArray(), palette);
    }
    const QJsonArray frames = gif["frames"].toArray();
    ASSERT_EQ(frames.size(), 4);
    for (int k = 0; k < 4; ++k) {
      const Image& im = images[size_t(k)];
      std::vector<QRgb> want(size_t(c.width) * size_t(c.height), 0);
      const int x0 = c.placement ? im.px - c.left : (c.width - im.w) / 2;
      const int y0 = c.placement ? im.py - c.top : (c.height - im.h) / 2;
      for (int y = 0; y < im.h; ++y)
        for (int x = 0; x < im.w; ++x)
          want[size_t(y0 + y) * size_t(c.width) + size_t(x0 + x)] =
              im.shown[size_t(y) * size_t(im.w) + size_t(x)];
      QStringList expected;
      for (const QRgb p : want) expected << QString::asprintf("%08x", p);
      EXPECT_EQ(frames[k]["duration"].toInt(), c.durationMs) << k;
      EXPECT_EQ(frames[k]["pixels"].toVariant().toStringList(), expected) << "frame " << k;
    }
  }
}

// Refused before anything is written: a run-coded frame of more colours than a GIF frame
// holds, and a picture wider than a GIF can be.
TEST(Animation, RefusesWhatAGifCannotHold) {
  QTemporaryDir dir;
  const struct {
    int fileType;
    std::vector<std::array<int, 4>> images;
    int colours;
    const char* message;
  } cases[] = {
      {2, {{4, 4, 0, 0}, {40, 40, 0, 0}}, 300, "Image 1 has 300 colours"},
      {0, {{2000, 1, -32768, 0}, {2000, 1, 32767, 0}}, 200, "67535 x 1 pixels"},
  };
  for (const auto& c : cases) {
    LibraryBuilder b(c.fileType);
    AddImages(b, c.fileType, c.images, 0, c.colours);
    TJOV jov;
    Open(jov, b, dir, QStringLiteral("r%1").arg(c.fileType));
    const QString path = dir.filePath("r.gif");
    try {
      WriteAnimation(jov, path, {{0, 1}, 10, 0, true});
      ADD_FAILURE() << c.message;
    } catch (const EJovError& e) {
      EXPECT_TRUE(e.Message().contains(c.message)) << e.Message().toStdString();
    }
    EXPECT_FALSE(QFile::exists(path));
  }
}

}  // namespace
