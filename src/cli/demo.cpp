#include "cli/demo.h"

#include <QDir>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "bitmap/bmpformat.h"
#include "bitmap/dib.h"
#include "cli/cliutil.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "library/jovformat.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- Files ----------------------------------------------------------------------------

void WriteFile(const QString& path, const std::vector<uint8_t>& bytes) {
  std::unique_ptr<TFile> file = TFile::Open(path, TFile::Mode::Create);
  file->WriteAt(0, bytes.data(), int64_t(bytes.size()));
  file->Flush();
}

// An index file of any variant holding entries.
std::vector<uint8_t> IndexFile(int fileType, const std::vector<int32_t>& entries) {
  const int headerSize = jov::IndexHeaderSize(fileType);
  std::vector<uint8_t> bytes(size_t(headerSize) + entries.size() * 4);
  jov::EncodeIndexHeader(bytes.data(), fileType, int32_t(entries.size()));
  jov::EncodeIndexEntries(bytes.data() + headerSize, entries);
  return bytes;
}

// ---- Pictures -------------------------------------------------------------------------

struct Rgb {
  int r = 0, g = 0, b = 0;
};

// A picture as colours, top row first; alpha false marks see-through pixels.
struct Picture {
  int w = 0, h = 0, px = 0, py = 0;
  std::vector<Rgb> rgb;
  std::vector<bool> solid;
  Picture(int width, int height, int placeX, int placeY)
      : w(width), h(height), px(placeX), py(placeY), rgb(size_t(w * h)), solid(size_t(w * h)) {}
  void Set(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    rgb[size_t(y * w + x)] = c;
    solid[size_t(y * w + x)] = true;
  }
};

int Clamp255(double v) {
  return int(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

Rgb Shade(Rgb c, double f) {
  return {Clamp255(c.r * f), Clamp255(c.g * f), Clamp255(c.b * f)};
}

// A shaded ball of radius r centred at (cx, cy), lit from the top left.
void Ball(Picture& p, double cx, double cy, double r, Rgb colour) {
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      const double d2 = dx * dx + dy * dy;
      if (d2 > r * r) continue;
      const double z = std::sqrt(r * r - d2) / r;
      const double light =
          0.35 + 0.65 * std::fmax(0.0, (-dx / r) * 0.4 + (-dy / r) * 0.5 + z * 0.75);
      p.Set(x, y, Shade(colour, light));
    }
}

// A filled ellipse (the ball's shadow).
void Ellipse(Picture& p, double cx, double cy, double rx, double ry, Rgb colour) {
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
      if (dx * dx + dy * dy <= 1.0) p.Set(x, y, colour);
    }
}

// A five-pointed star turned by angle, with a darker rim.
void Star(Picture& p, double angle, Rgb colour) {
  const double cx = p.w / 2.0, cy = p.h / 2.0, outer = p.w * 0.46, inner = outer * 0.45;
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      const double d = std::sqrt(dx * dx + dy * dy);
      double a = std::atan2(dy, dx) - angle;
      a = std::fmod(a + 20 * kPi, 2 * kPi / 5) / (2 * kPi / 5);  // 0..1 within one point
      const double edge = inner + (outer - inner) * std::fabs(1.0 - 2.0 * a);
      if (d > edge) continue;
      p.Set(x, y, d > edge - 2.0 ? Shade(colour, 0.55) : Shade(colour, 1.0 - 0.3 * d / outer));
    }
}

// A picture that fills its whole area: sky, sun, hills and a red flag.
Picture Landscape(int w, int h) {
  Picture p(w, h, -w / 2, -h / 2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double t = double(y) / h;
      Rgb c{Clamp255(90 + 120 * t), Clamp255(150 + 80 * t), 255};
      const double hill1 = h * (0.62 + 0.08 * std::sin(x * 6.0 / w));
      const double hill2 = h * (0.75 + 0.05 * std::sin(x * 11.0 / w + 1.3));
      if (y > hill1) c = {Clamp255(40 + 60 * t), Clamp255(120 + 60 * t), 50};
      if (y > hill2) c = {Clamp255(30 + 40 * t), Clamp255(90 + 50 * t), 35};
      const double sx = x - w * 0.78, sy = y - h * 0.2;
      if (sx * sx + sy * sy < (h * 0.08) * (h * 0.08)) c = {255, 230, 90};
      p.Set(x, y, c);
    }
  // A flag in pure red: the key colour while "Transparant" is off.
  const int fx = w / 4, fy = int(h * 0.45);
  for (int y = fy - h / 5; y < fy; ++y) p.Set(fx, y, {60, 40, 20});
  for (int y = fy - h / 5; y < fy - h / 5 + h / 12; ++y)
    for (int x = fx + 1; x < fx + 1 + w / 14; ++x) p.Set(x, y, {255, 0, 0});
  return p;
}

// ---- The 8-bit palette ----------------------------------------------------------------

// Entry 0 black, then a 6 x 6 x 6 colour cube, then a ramp of greys.
TColorTable DemoPalette() {
  TColorTable pal{};
  int i = 1;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        bmp::PutEntryColour(&pal[size_t(i++) * 4], qRgb(r * 51, g * 51, b * 51));
  for (int k = 0; i < 256; ++i, ++k)
    bmp::PutEntryColour(&pal[size_t(i) * 4], qRgb(6 + k * 6, 6 + k * 6, 6 + k * 6));
  return pal;
}

// The palette index of the colour of pixel (x, y): greys take the grey ramp, other
// colours the cube, with an ordered dither when asked so that gradients do not band.
uint8_t IndexOf(Rgb c, int x, int y, bool dither) {
  static constexpr int kBayer[4][4] = {
      {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  if (std::abs(c.r - c.g) < 8 && std::abs(c.g - c.b) < 8) {
    const int grey = (c.r + c.g + c.b) / 3;
    return uint8_t(217 + std::clamp((grey - 6 + 3) / 6, 0, 38));
  }
  const int offset = dither ? (kBayer[y & 3][x & 3] * 51) / 16 - 25 : 0;
  auto q = [offset](int v) { return std::clamp((v + offset + 25) / 51, 0, 5); };
  return uint8_t(1 + q(c.r) * 36 + q(c.g) * 6 + q(c.b));
}

// ---- FileType 0 and 1 -----------------------------------------------------------------

struct Record8 {
  int w, h, px, py;
  std::vector<uint8_t> pixels;  // bottom row first
};

Record8 ToRecord8(const Picture& p, bool dither = false) {
  // Widths are rounded up to a multiple of 4, as this system writes them.
  const int w = (p.w + 3) / 4 * 4;
  Record8 r{w, p.h, p.px, p.py, std::vector<uint8_t>(size_t(w * p.h), 0)};
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const size_t at = size_t(y * p.w + x);
      if (p.solid[at]) r.pixels[size_t((p.h - 1 - y) * w + x)] = IndexOf(p.rgb[at], x, y, dither);
    }
  return r;
}

// The 1 x 1 placeholder of a blank image.
Record8 Blank8() {
  return Record8{1, 1, 0, 0, {0}};
}

void WriteLibrary8(const QString& dataPath, const QString& indexPath, int fileType,
                   const std::vector<Record8>& records, const TColorTable& pal) {
  const int offSet = fileType == 1 ? 4 : 0;
  const size_t headerSize = size_t(jov::RecordHeaderSize(offSet));
  size_t size = size_t(jov::FirstRecordOffset(fileType));
  for (const Record8& r : records) size += headerSize + r.pixels.size();
  std::vector<uint8_t> data(size);
  ByteWriter out(data.data(), data.size());
  uint8_t head[jov::kType1FirstRecord];
  jov::EncodeDataHeader(head, fileType, int32_t(records.size()), pal.data());
  out.Bytes(head, size_t(jov::FirstRecordOffset(fileType)));
  std::vector<int32_t> entries;
  for (const Record8& r : records) {
    entries.push_back(int32_t(out.Position()));
    jov::EncodeRecordHeader(head, offSet, r.w, r.h, r.px, r.py);
    out.Bytes(head, headerSize);
    out.Bytes(r.pixels.data(), r.pixels.size());
  }
  WriteFile(dataPath, data);
  WriteFile(indexPath, IndexFile(fileType, entries));
}

// ---- FileType 2 -----------------------------------------------------------------------

// Run-codes a picture: one empty row record in front, then one row record per row of
// skip runs (see-through pixels) and pixel runs.
std::vector<uint16_t> RunCode(const Picture& p) {
  std::vector<uint16_t> words{0};
  for (int y = 0; y < p.h; ++y) {
    std::vector<uint16_t> row;
    int x = 0;
    while (x < p.w) {
      const bool solid = p.solid[size_t(y * p.w + x)];
      int n = 0;
      while (x + n < p.w && p.solid[size_t(y * p.w + x + n)] == solid) ++n;
      if (!solid) {
        row.push_back(jov::kRunSkip);
        row.push_back(uint16_t(n));
      } else {
        row.push_back(jov::kRunPixels1);
        row.push_back(uint16_t(n));
        for (int i = 0; i < n; ++i) {
          const Rgb c = p.rgb[size_t(y * p.w + x + i)];
          const auto v = uint16_t(Layout565().Pack(uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)));
          row.push_back(v == 0 ? uint16_t(0x0821) : v);  // opaque black stays visible
        }
      }
      x += n;
    }
    words.push_back(uint16_t(row.size()));
    words.insert(words.end(), row.begin(), row.end());
  }
  return words;
}

// skipped: leading index entries that are not images; empty: pictures with no pixels
// are stored as entry 0.
void WriteLibrary16(const QString& dataPath, const QString& indexPath,
                    const std::vector<Picture>& pictures, int skipped) {
  std::vector<std::vector<uint16_t>> runs;
  size_t size = jov::kDataHeader16Size;
  for (const Picture& p : pictures) {
    runs.push_back(p.w == 0 ? std::vector<uint16_t>() : RunCode(p));
    if (p.w != 0) size += jov::kImageHeader16Size + runs.back().size() * 2;
  }
  std::vector<uint8_t> data(size);
  ByteWriter out(data.data(), data.size());
  uint8_t head[jov::kDataHeader16Size];
  jov::EncodeDataHeader(head, 2, 0, nullptr);
  out.Bytes(head, jov::kDataHeader16Size);
  std::vector<int32_t> entries(size_t(skipped), -1);
  for (size_t i = 0; i < pictures.size(); ++i) {
    const Picture& p = pictures[i];
    if (p.w == 0) {
      entries.push_back(0);
      continue;
    }
    entries.push_back(int32_t(out.Position()));
    jov::EncodeRecordHeader16(head, p.w, p.h, p.px, p.py, int32_t(runs[i].size()));
    out.Bytes(head, jov::kImageHeader16Size);
    for (uint16_t v : runs[i]) out.U16(v);
  }
  WriteFile(dataPath, data);
  WriteFile(indexPath, IndexFile(2, entries));
}

// ---- The demo sets --------------------------------------------------------------------

Picture BallFrame(int frame, int frames) {
  Picture p(64, 64, -32, -60);
  const double t = double(frame) / frames;
  const double height = std::fabs(std::sin(t * kPi)) * 30.0;
  const double squash = height < 4 ? 1.0 - (4 - height) * 0.04 : 1.0;
  Ellipse(p, 32, 58, 14 - height * 0.2, 4, {50, 50, 50});
  Ball(p, 32, 44 - height, 12 * (2 - squash), {230, 60, 40});
  return p;
}

Picture StarFrame(int frame, int frames, int size, Rgb colour) {
  Picture p(size, size, -size / 2, -size / 2);
  Star(p, 2 * kPi / 5 * frame / frames, colour);
  return p;
}

Picture GemFrame(int frame, int frames) {
  Picture p(40, 40, -20, -36);
  const double a = 2 * kPi * frame / frames;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const double dx = x - 19.5, dy = y - 19.5;
      if (std::fabs(dx) * (1.2 + 0.2 * std::cos(a)) + std::fabs(dy) > 19) continue;
      const double f = 0.5 + 0.5 * std::sin(a + (dx - dy) * 0.15);
      p.Set(x, y, {Clamp255(60 + 150 * f), Clamp255(200 - 80 * f), 255});
    }
  return p;
}

}  // namespace

QStringList WriteDemoLibraries(const QString& dir) {
  if (!QDir().mkpath(dir)) throw EFOpenError(QStringLiteral("Cannot create folder %1").arg(dir));
  const QDir out(dir);
  const TColorTable pal = DemoPalette();
  QStringList written;

  // FileType 0: a bouncing ball, a turning star, a few blank images, a landscape and a
  // picture larger than the preview.
  {
    std::vector<Record8> records;
    for (int i = 0; i < 16; ++i) records.push_back(ToRecord8(BallFrame(i, 16)));
    records.push_back(Blank8());
    records.push_back(Blank8());
    for (int i = 0; i < 10; ++i) records.push_back(ToRecord8(StarFrame(i, 10, 48, {250, 200, 40})));
    records.push_back(Blank8());
    records.push_back(ToRecord8(Landscape(320, 200), true));
    records.push_back(ToRecord8(Landscape(640, 480), true));
    WriteLibrary8(out.filePath("demo8.jov"), out.filePath("demo8.JOX"), 0, records, pal);
    written << out.filePath("demo8.jov");
  }
  // FileType 1: the star in another colour, with the longer headers of that variant.
  {
    std::vector<Record8> records;
    for (int i = 0; i < 10; ++i) records.push_back(ToRecord8(StarFrame(i, 10, 64, {80, 200, 255})));
    records.push_back(Blank8());
    records.push_back(ToRecord8(Landscape(160, 100), true));
    WriteLibrary8(out.filePath("demo8x.jov"), out.filePath("demo8x.JOX"), 1, records, pal);
    written << out.filePath("demo8x.jov");
  }
  // FileType 2: run-coded 16-bit pictures with an empty entry.
  {
    std::vector<Picture> pictures;
    for (int i = 0; i < 12; ++i) pictures.push_back(GemFrame(i, 12));
    pictures.push_back(Picture(0, 0, 0, 0));
    pictures.push_back(Landscape(200, 120));
    WriteLibrary16(out.filePath("demo16.jov"), out.filePath("demo16.JOX"), pictures, 0);
    written << out.filePath("demo16.jov");
  }
  // FileType 2 whose index starts with entries that are not images.
  {
    std::vector<Picture> pictures;
    for (int i = 0; i < 8; ++i) pictures.push_back(StarFrame(i, 8, 56, {255, 120, 200}));
    WriteLibrary16(out.filePath("demo16s.jov"), out.filePath("demo16s.JOX"), pictures, 3);
    written << out.filePath("demo16s.jov");
  }
  return written;
}

int CmdDemo(const QStringList& raw) {
  const Args args = SplitArgs(raw, {});
  args.ExpectPositionals(1, QStringLiteral("demo takes one folder"));
  const QStringList written = WriteDemoLibraries(args.positional[0]);
  if (!args.Quiet())
    for (const QString& path : written)
      PrintOut(QDir::toNativeSeparators(path) + QLatin1Char('\n'));
  return 0;
}
