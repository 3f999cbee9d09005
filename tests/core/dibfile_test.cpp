// Reading and writing bitmap files, packed DIBs and clipboard data with TDIB.  Input
// files come from the byte-by-byte builder; Qt's own BMP reader serves as the oracle for
// the pixels.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "bitmap/dib.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "support/bmpbuilder.h"

namespace {

TDIB ReadBytes(const QByteArray& bytes) {
  TDIB dib;
  TMemoryStream stream(bytes);
  dib.ReadBitmapStream(stream);
  return dib;
}

QByteArray WriteBytes(const TDIB& dib) {
  TMemoryStream stream;
  dib.WriteBitmapStream(stream);
  return stream.Bytes();
}

// The canonical form of a file as the program writes it: 40-byte header, bit fields for
// 16 and 32 bits, a full colour table for depths up to 8, resolutions 0.
BmpSpec Canonical(int depth, int width, int height, uint32_t seed) {
  BmpSpec spec;
  spec.width = width;
  spec.height = height;
  spec.depth = uint16_t(depth);
  spec.xResolution = spec.yResolution = 0;
  if (depth <= 8) spec.colours = RandomBmpColours(1 << depth, seed);
  if (depth == 16) spec.masks = {{0xF800, 0x7E0, 0x1F}};
  if (depth == 32) spec.masks = {{0xFF0000, 0xFF00, 0xFF}};
  if (spec.masks) spec.compression = 3;
  spec.pixels = PackBmpRows(depth, width, RandomBmpPixels(width, height, depth, seed + 1));
  return spec;
}

// An RLE8 picture of 6 x 3 pixels covering every pixel with runs and literal copies.
QByteArray Rle8Data() {
  const uint8_t data[] = {3, 5, 0, 3, 1, 2, 3, 0, 0, 0,   // bottom row: run, literal (padded)
                          6, 7, 0, 0,                     // middle row
                          2, 9, 0, 4, 4, 3, 2, 1, 0, 1};  // top row, end of picture
  return QByteArray(reinterpret_cast<const char*>(data), sizeof data);
}

// An RLE4 picture of 5 x 2 pixels.
QByteArray Rle4Data() {
  const uint8_t data[] = {5, 0x12, 0,    0,              // bottom row: 1 2 1 2 1
                          0, 5,    0x34, 0x56, 0x70, 0,  // top row: 3 4 5 6 7 (literal, padded)
                          0, 1};
  return QByteArray(reinterpret_cast<const char*>(data), sizeof data);
}

BmpSpec RleSpec(bool rle8) {
  BmpSpec spec;
  spec.depth = rle8 ? 8 : 4;
  spec.compression = rle8 ? 1 : 2;
  spec.width = rle8 ? 6 : 5;
  spec.height = rle8 ? 3 : 2;
  spec.xResolution = spec.yResolution = 0;
  spec.colours = RandomBmpColours(1 << spec.depth, 77);
  spec.pixels = rle8 ? Rle8Data() : Rle4Data();
  return spec;
}

// Runs f and returns "Class: message" of what it throws, or "" when it throws nothing.
std::string Outcome(const std::function<void()>& f) {
  try {
    f();
  } catch (const EInvalidGraphic& e) {
    return std::string("EInvalidGraphic: ") + e.what();
  } catch (const EInvalidGraphicOperation& e) {
    return std::string("EInvalidGraphicOperation: ") + e.what();
  } catch (const EReadError& e) {
    return std::string("EReadError: ") + e.what();
  } catch (const EJovError& e) {
    return std::string("EJovError: ") + e.what();
  }
  return "";
}

std::string ReadOutcome(const QByteArray& bytes) {
  return Outcome([&] { ReadBytes(bytes); });
}

void ExpectMatchesQt(const QString& path, const std::string& what) {
  SCOPED_TRACE(what);
  const QImage oracle(path);
  ASSERT_FALSE(oracle.isNull()) << "Qt cannot read the fixture";
  TDIB dib;
  dib.ReadBitmapFile(path);
  const QImage asRead = dib.ToImage();
  dib.PixelData();  // decodes run-length data
  const QImage mine = dib.ToImage();
  EXPECT_EQ(asRead, mine);
  ASSERT_EQ(mine.size(), oracle.size());
  // Qt widens 5- and 6-bit channels by shifting alone; ours repeats the top bits.
  const int tolerance = dib.BitDepth() == 16 ? 7 : 0;
  for (int y = 0; y < oracle.height(); ++y)
    for (int x = 0; x < oracle.width(); ++x) {
      const QRgb a = mine.pixel(x, y), b = oracle.pixel(x, y);
      ASSERT_LE(std::abs(qRed(a) - qRed(b)), tolerance) << x << "," << y;
      ASSERT_LE(std::abs(qGreen(a) - qGreen(b)), tolerance) << x << "," << y;
      ASSERT_LE(std::abs(qBlue(a) - qBlue(b)), tolerance) << x << "," << y;
    }
}

// A file that declares a size but holds only 30 bytes of pixels.
BmpSpec DeclaredSizeSpec(int32_t width, int32_t height, uint16_t depth, uint32_t compression,
                         uint32_t imageSize) {
  BmpSpec spec;
  spec.width = width;
  spec.height = height;
  spec.depth = depth;
  spec.compression = compression;
  spec.imageSize = imageSize;
  spec.coloursUsed = 1;
  spec.colours = {0};
  spec.pixels = QByteArray(30, char(1));
  if (compression == 3) spec.masks = {{0xFF0000, 0xFF00, 0xFF}};
  return spec;
}

QByteArray DeclaredSize(int32_t width, int32_t height, uint16_t depth, uint32_t compression,
                        uint32_t imageSize) {
  return BuildBmp(DeclaredSizeSpec(width, height, depth, compression, imageSize));
}

// A field of /proc/self/status in KiB, or -1.
int64_t StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return std::stoll(line.substr(n + 1));
  return -1;
}

int64_t PeakVirtualKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmPeak:", 0) == 0) return std::stoll(line.substr(7));
  return 0;
}

}  // namespace

TEST(DibFileWrite, EightBitPictureHasTheDocumentedLayout) {
  TDIB dib;
  dib.ChangeBitDepth(8);
  dib.ChangeWidth(5);
  dib.ChangeHeight(3);
  for (int i = 0; i < 256; ++i) {
    dib.ColorEntries[size_t(4 * i)] = uint8_t(i);
    dib.ColorEntries[size_t(4 * i + 1)] = uint8_t(255 - i);
    dib.ColorEntries[size_t(4 * i + 2)] = uint8_t(i / 2);
    dib.ColorEntries[size_t(4 * i + 3)] = 0;
  }
  dib.CommitColors();
  for (int i = 0; i < 24; ++i) dib.PixelData()[i] = uint8_t(i * 7);

  const QByteArray file = WriteBytes(dib);
  ASSERT_EQ(file.size(), 1102);
  const auto* p = reinterpret_cast<const uint8_t*>(file.constData());
  EXPECT_EQ(p[0], 'B');
  EXPECT_EQ(p[1], 'M');
  EXPECT_EQ(GetU32(p + 2), 1102u);
  EXPECT_EQ(GetU32(p + 6), 0u);
  EXPECT_EQ(GetU32(p + 10), 1078u);
  EXPECT_EQ(GetU32(p + 14), 40u);
  EXPECT_EQ(GetI32(p + 18), 5);
  EXPECT_EQ(GetI32(p + 22), 3);
  EXPECT_EQ(GetU16(p + 26), 1);
  EXPECT_EQ(GetU16(p + 28), 8);
  EXPECT_EQ(GetU32(p + 30), 0u);
  EXPECT_EQ(GetU32(p + 34), 24u);
  for (int offset = 38; offset < 54; ++offset) EXPECT_EQ(p[offset], 0) << offset;
  EXPECT_EQ(std::memcmp(p + 54, dib.ColorEntries.data(), 1024), 0);
  EXPECT_EQ(std::memcmp(p + 1078, dib.ConstPixelData(), 24), 0);

  // The packed DIB and the clipboard data are the same bytes without the file header.
  TMemoryStream packed;
  dib.WritePackedDIB(packed);
  EXPECT_EQ(packed.Bytes(), file.mid(14));
  const TClipboardData clip = dib.ToClipboardData();
  EXPECT_EQ(clip.format, 8);
  EXPECT_EQ(clip.data, file.mid(14));

  // The file written to disk holds the same bytes.
  QTemporaryDir dir;
  const QString path = dir.filePath("five.bmp");
  dib.WriteBitmapFile(path);
  QFile disk(path);
  ASSERT_TRUE(disk.open(QIODevice::ReadOnly));
  EXPECT_EQ(disk.readAll(), file);
}

TEST(DibFileWrite, SixteenBitPicturesCarryTheirMasks) {
  for (const ChannelLayout* layout : {&Layout555(), &Layout565()}) {
    TDIB dib;
    dib.RequestedLayout = *layout;
    dib.Recreate(3, 2, 16);
    std::memset(dib.PixelData(), 0x5A, size_t(dib.ImageSize()));
    const QByteArray file = WriteBytes(dib);
    const auto* p = reinterpret_cast<const uint8_t*>(file.constData());
    ASSERT_EQ(file.size(), 14 + 52 + 16);
    EXPECT_EQ(GetU32(p + 10), 66u);
    EXPECT_EQ(GetU32(p + 30), 3u);
    EXPECT_EQ(GetU32(p + 54), uint32_t(layout->RedMask));
    EXPECT_EQ(GetU32(p + 58), uint32_t(layout->GreenMask));
    EXPECT_EQ(GetU32(p + 62), uint32_t(layout->BlueMask));
    const TDIB back = ReadBytes(file);
    EXPECT_TRUE(back.CurrentLayout().SameMasks(*layout));
    EXPECT_EQ(WriteBytes(back), file);
  }
}

TEST(DibFileWrite, EmptyPictureWritesNothing) {
  TDIB dib;
  EXPECT_TRUE(WriteBytes(dib).isEmpty());
  EXPECT_TRUE(dib.ToClipboardData().data.isEmpty());
  QTemporaryDir dir;
  const QString path = dir.filePath("empty.bmp");
  ASSERT_TRUE(WriteBytesToFile(path, "old content"));
  dib.WriteBitmapFile(path);
  EXPECT_EQ(QFile(path).size(), 0);
}

// A file in the form the program writes comes back byte for byte, through streams, files
// and the clipboard.
TEST(DibFileRoundTrip, CanonicalFilesOfEveryDepth) {
  QTemporaryDir dir;
  for (int depth : {1, 4, 8, 16, 24, 32}) {
    SCOPED_TRACE(depth);
    const QByteArray file = BuildBmp(Canonical(depth, 13, 5, uint32_t(depth)));
    const TDIB dib = ReadBytes(file);
    EXPECT_EQ(dib.BitDepth(), depth);
    EXPECT_EQ(dib.PixelWidth(), 13);
    EXPECT_EQ(dib.PixelHeight(), 5);
    EXPECT_EQ(dib.ImageSize(), BmpRowBytes(depth, 13) * 5);
    EXPECT_EQ(WriteBytes(dib), file);

    const QString path = dir.filePath(QString("d%1.bmp").arg(depth));
    dib.WriteBitmapFile(path);
    TDIB fromFile;
    fromFile.ReadBitmapFile(path);
    EXPECT_EQ(WriteBytes(fromFile), file);

    TDIB fromClipboard;
    fromClipboard.FromClipboardData(dib.ToClipboardData().data);
    EXPECT_EQ(WriteBytes(fromClipboard), file);
  }
}

TEST(DibFileRead, PixelsMatchQtsReader) {
  QTemporaryDir dir;
  auto check = [&](const BmpSpec& spec, const std::string& what) {
    const QString path = dir.filePath(QString::fromStdString(what) + ".bmp");
    ASSERT_TRUE(WriteBytesToFile(path, BuildBmp(spec)));
    ExpectMatchesQt(path, what);
  };
  for (int depth : {1, 4, 8, 16, 24, 32})
    check(Canonical(depth, 37, 11, 100u + depth), "depth" + std::to_string(depth));

  BmpSpec plain16 = Canonical(16, 9, 4, 5);  // no bit fields: 5-5-5
  plain16.compression = 0;
  plain16.masks.reset();
  check(plain16, "plain16");

  BmpSpec plain32 = Canonical(32, 9, 4, 6);
  plain32.compression = 0;
  plain32.masks.reset();
  check(plain32, "plain32");

  BmpSpec topDown = Canonical(24, 7, 6, 7);
  topDown.height = -6;
  topDown.pixels = PackBmpRows(24, 7, RandomBmpPixels(7, 6, 24, 8), true);
  check(topDown, "topdown");

  BmpSpec core = Canonical(8, 10, 3, 9);
  core.core = true;
  check(core, "core8");

  BmpSpec fewColours = Canonical(8, 10, 3, 10);
  fewColours.colours.resize(20);
  fewColours.coloursUsed = 20;
  fewColours.pixels = PackBmpRows(8, 10, RandomBmpPixels(10, 3, 4, 11));
  check(fewColours, "colours20");

  BmpSpec gap = Canonical(8, 10, 3, 12);
  gap.gap = 34;
  check(gap, "gap");

  check(RleSpec(true), "rle8");
  check(RleSpec(false), "rle4");
}

TEST(DibFileRead, HeaderVariants) {
  // A core header with 8 bits reads 256 three-byte colours and the pixels right after.
  BmpSpec core = Canonical(8, 4, 2, 20);
  core.core = true;
  TDIB dib = ReadBytes(BuildBmp(core));
  EXPECT_EQ(dib.ColorEntries[4 * 255 + 2], uint8_t(core.colours[255] >> 16));
  EXPECT_EQ(std::memcmp(dib.ConstPixelData(), core.pixels.constData(), 8), 0);

  // Colours used 0 at depth 24 reads no colours.
  BmpSpec rgb = Canonical(24, 4, 2, 21);
  dib = ReadBytes(BuildBmp(rgb));
  EXPECT_EQ(std::memcmp(dib.ConstPixelData(), rgb.pixels.constData(), 24), 0);

  // Colours listed for a 24-bit picture are read past, not taken for pixels.
  rgb.colours = {0x112233, 0x445566};
  rgb.coloursUsed = 2;
  dib = ReadBytes(BuildBmp(rgb));
  EXPECT_EQ(std::memcmp(dib.ConstPixelData(), rgb.pixels.constData(), 24), 0);

  // Colours used 300 at depth 8 reads 256 colours.
  BmpSpec many = Canonical(8, 4, 2, 22);
  many.coloursUsed = 300;
  dib = ReadBytes(BuildBmp(many));
  EXPECT_EQ(dib.ColorEntries[4 * 255], uint8_t(many.colours[255]));
  EXPECT_EQ(std::memcmp(dib.ConstPixelData(), many.pixels.constData(), 8), 0);

  // Colours used 2 at depth 8: the rest of the table is black.
  many.coloursUsed = 2;
  many.colours.resize(2);
  dib = ReadBytes(BuildBmp(many));
  EXPECT_EQ(dib.ColorEntries[0], uint8_t(many.colours[0]));
  EXPECT_EQ(dib.ColorEntries[4 * 2] | dib.ColorEntries[4 * 2 + 1] | dib.ColorEntries[4 * 2 + 2], 0);
  EXPECT_EQ(std::memcmp(dib.ConstPixelData(), many.pixels.constData(), 8), 0);

  // 16 bits: no bit fields gives 5-5-5; masks 5-6-5 give 5-6-5.
  BmpSpec sixteen = Canonical(16, 4, 2, 23);
  EXPECT_TRUE(ReadBytes(BuildBmp(sixteen)).CurrentLayout().SameMasks(Layout565()));
  sixteen.compression = 0;
  sixteen.masks.reset();
  EXPECT_TRUE(ReadBytes(BuildBmp(sixteen)).CurrentLayout().SameMasks(Layout555()));

  // A negative height: the file's first row is the top row.
  BmpSpec topDown = Canonical(8, 4, 3, 24);
  topDown.height = -3;
  dib = ReadBytes(BuildBmp(topDown));
  EXPECT_EQ(dib.PixelHeight(), 3);
  EXPECT_EQ(std::memcmp(dib.RowAt(0), topDown.pixels.constData(), 4), 0);
  EXPECT_EQ(std::memcmp(dib.RowAt(2), topDown.pixels.constData() + 8, 4), 0);

  // A pixel offset inside the headers is a writer's slip: the pixels follow the colours.
  BmpSpec slip = Canonical(8, 4, 2, 25);
  slip.pixelOffset = 0;
  dib = ReadBytes(BuildBmp(slip));
  EXPECT_EQ(std::memcmp(dib.ConstPixelData(), slip.pixels.constData(), 8), 0);
}

TEST(DibFileRead, EmptyStreams) {
  TDIB dib = ReadBytes(BuildBmp(Canonical(8, 4, 2, 30)));
  const TDIB before = dib;
  TMemoryStream empty;
  dib.ReadBitmapStream(empty);
  EXPECT_TRUE(dib.SharesStoreWith(before));

  // A packed DIB of no bytes gives the empty picture.
  TMemoryStream noPacked;
  dib.ReadPackedDIB(noPacked);
  EXPECT_TRUE(dib.IsEmpty());
  EXPECT_EQ(dib.PixelWidth(), 0);
  EXPECT_EQ(dib.BitDepth(), 0);
}

TEST(DibFileRead, RefusedFiles) {
  const std::string invalid = "EInvalidGraphic: DIB is invalid";
  const QByteArray good = BuildBmp(Canonical(8, 4, 2, 40));
  auto with = [](BmpSpec spec, const std::function<void(BmpSpec&)>& change) {
    change(spec);
    return BuildBmp(spec);
  };
  const BmpSpec base8 = Canonical(8, 4, 2, 41);

  EXPECT_EQ(ReadOutcome(good.left(1)), invalid);
  EXPECT_EQ(ReadOutcome(good.left(13)), invalid);
  EXPECT_EQ(ReadOutcome(QByteArray("BA") + good.mid(2)), invalid);
  EXPECT_EQ(ReadOutcome(good.left(16)), invalid);  // header size incomplete
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.headerSize = 108; })), invalid);
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.compression = 4; })), invalid);
  // The depth is checked before the compression.
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.depth = 2, s.compression = 4; })),
            "EInvalidGraphicOperation: Bitcount in invalid (2)");
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.depth = 0, s.compression = 4; })),
            "EInvalidGraphicOperation: Bitcount in invalid (0)");
  EXPECT_EQ(ReadOutcome(with(Canonical(16, 4, 2, 42),
                             [](BmpSpec& s) {
                               s.masks = {{0xFF0000, 0xFF00, 0xFF}};
                             })),
            "EInvalidGraphicOperation: PixelFormat in invalid");
  EXPECT_EQ(ReadOutcome(with(Canonical(24, 4, 2, 43),
                             [](BmpSpec& s) {
                               s.compression = 3, s.masks = {{0x7C00, 0x3E0, 0x1F}};
                             })),
            "EInvalidGraphicOperation: PixelFormat in invalid");
  // Run-length data of the wrong kind for the depth, or of no declared size.
  EXPECT_EQ(ReadOutcome(with(RleSpec(true), [](BmpSpec& s) { s.compression = 2; })), invalid);
  EXPECT_EQ(ReadOutcome(with(RleSpec(false), [](BmpSpec& s) { s.compression = 1; })), invalid);
  EXPECT_EQ(ReadOutcome(with(Canonical(24, 4, 2, 44), [](BmpSpec& s) { s.compression = 1; })),
            invalid);
  EXPECT_EQ(ReadOutcome(with(RleSpec(true), [](BmpSpec& s) { s.imageSize = 0; })), invalid);
  // Run-length rows stored top row first are not a bitmap; read bottom up they would be
  // upside down.
  for (bool rle8 : {true, false})
    EXPECT_EQ(ReadOutcome(with(RleSpec(rle8), [](BmpSpec& s) { s.height = -s.height; })), invalid);
  // Sizes that cannot be a picture.
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.width = 0; })), invalid);
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.width = -4; })), invalid);
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.height = 0; })), invalid);
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.height = INT_MIN; })), invalid);
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.width = INT_MAX, s.height = INT_MAX; })),
            invalid);
  EXPECT_EQ(ReadOutcome(with(Canonical(32, 4, 2, 45), [](BmpSpec& s) { s.width = INT_MAX; })),
            invalid);
  EXPECT_EQ(ReadOutcome(with(base8, [](BmpSpec& s) { s.core = true, s.width = 0; })), invalid);
  // Pixels missing at the end.
  EXPECT_EQ(ReadOutcome(good.left(good.size() - 1)), "EReadError: Stream read error");

  // Whatever fails, the picture keeps what it had.
  TDIB dib = ReadBytes(good);
  const TDIB before = dib;
  EXPECT_NE(Outcome([&] {
              TMemoryStream s(good.left(good.size() - 1));
              dib.ReadBitmapStream(s);
            }),
            "");
  EXPECT_TRUE(dib.SharesStoreWith(before));
  EXPECT_EQ(dib.PixelWidth(), 4);
}

TEST(DibFileRead, TruncatedAtEveryOffset) {
  BmpSpec topDown = Canonical(24, 5, 3, 50);
  topDown.height = -3;
  BmpSpec core = Canonical(4, 7, 3, 51);
  core.core = true;
  BmpSpec gap = Canonical(1, 9, 2, 52);
  gap.gap = 6;
  for (const BmpSpec& spec : {Canonical(8, 3, 2, 53), Canonical(16, 3, 3, 54), topDown, core, gap,
                              RleSpec(true), RleSpec(false)}) {
    const QByteArray file = BuildBmp(spec);
    for (qsizetype n = 1; n < file.size(); ++n) {
      const std::string outcome = ReadOutcome(file.left(n));
      EXPECT_NE(outcome, "") << "depth " << spec.depth << ", " << n << " bytes";
      EXPECT_EQ(outcome.rfind("EJovError", 0), std::string::npos) << outcome;
    }
  }

  // The same through real files.
  QTemporaryDir dir;
  const QString path = dir.filePath("cut.bmp");
  const QByteArray file = BuildBmp(Canonical(8, 6, 4, 55));
  for (qsizetype n = 15; n < file.size(); n += 7) {
    ASSERT_TRUE(WriteBytesToFile(path, file.left(n)));
    TDIB dib;
    EXPECT_NE(Outcome([&] { dib.ReadBitmapFile(path); }), "") << n;
    EXPECT_TRUE(dib.IsEmpty());
  }
}

TEST(DibFileRead, HugeDeclaredSizesAllocateNothing) {
  const auto& hostile = DeclaredSize;
  const int64_t peakBefore = PeakVirtualKiB();
  // Beyond what any picture may hold.
  EXPECT_EQ(ReadOutcome(hostile(100000, 100000, 8, 0, 0)), "EInvalidGraphic: DIB is invalid");
  EXPECT_EQ(ReadOutcome(hostile(100000, -100000, 8, 0, 0)), "EInvalidGraphic: DIB is invalid");
  // Plausible sizes the file cannot hold.
  EXPECT_EQ(ReadOutcome(hostile(16000, 16000, 8, 0, 0)), "EReadError: Stream read error");
  EXPECT_EQ(ReadOutcome(hostile(16000, -16000, 8, 0, 0)), "EReadError: Stream read error");
  // Run-length data that claim more bytes than there are.
  EXPECT_EQ(ReadOutcome(hostile(4000, 4000, 8, 1, 500000000)), "EReadError: Stream read error");
  // Run-length data too short for the picture they claim to be.
  EXPECT_EQ(ReadOutcome(hostile(20000, 20000, 8, 1, 30)), "EInvalidGraphic: DIB is invalid");
  EXPECT_EQ(ReadOutcome(hostile(30000, 30000, 4, 2, 30)), "EInvalidGraphic: DIB is invalid");
  EXPECT_LT(PeakVirtualKiB() - peakBefore, 64 * 1024);
}

// Pictures are capped at 256 MiB of pixels, however small the file: sizes at the cap get
// as far as reading the pixels (the 30 bytes there are too few), one row more is refused.
TEST(DibFileRead, DecodedPicturesAreCapped) {
  ASSERT_EQ(kMaxReadPixelBytes, int64_t(256) << 20);
  const std::string invalid = "EInvalidGraphic: DIB is invalid";
  const std::string shortRead = "EReadError: Stream read error";
  struct Case {
    int32_t width, height;
    uint16_t depth;
    uint32_t compression, imageSize;
    std::string outcome;
  };
  const Case cases[] = {
      {16384, 16384, 8, 0, 0, shortRead},
      {16384, 16385, 8, 0, 0, invalid},
      {16384, -16385, 8, 0, 0, invalid},
      {4096, 21845, 24, 0, 0, shortRead},  // 12,288-byte rows
      {4096, 21846, 24, 0, 0, invalid},
      {8192, 8192, 32, 3, 0, shortRead},
      {8192, 8193, 32, 3, 0, invalid},
      {16384, 16384, 8, 1, 262144, shortRead},
      {16385, 16384, 8, 1, 262144, invalid},  // rows padded to 16,388 bytes
      {32768, 16384, 4, 2, 262144, shortRead},
      {32768, 16385, 4, 2, 262144, invalid},
      // A 983 KB RLE8 file claiming 31,000 x 31,000 pixels (916 MiB decoded).
      {31000, 31000, 8, 1, 983040, invalid},
      // Run-length data of more than twice the cap, whatever picture they stand for.
      {4000, 4000, 8, 1, 600000000, invalid},
      {4000, 4000, 8, 1, 536870912, shortRead},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadOutcome(DeclaredSize(c.width, c.height, c.depth, c.compression, c.imageSize)),
              c.outcome)
        << c.width << " x " << c.height << " depth " << c.depth << " compression " << c.compression;
  }
}

// Bit fields are read only in the exact layouts of a store; masks of the right widths in
// other places would give wrong colours without a word.
TEST(DibFileRead, BitFieldsOnlyInKnownLayouts) {
  const std::string refused = "EInvalidGraphicOperation: PixelFormat in invalid";
  struct Case {
    uint16_t depth;
    std::array<uint32_t, 3> masks;  // red, green, blue
    std::string outcome;
  };
  const Case cases[] = {
      {32, {0xFF0000, 0xFF00, 0xFF}, ""},
      {16, {0xF800, 0x7E0, 0x1F}, ""},
      {16, {0x7C00, 0x3E0, 0x1F}, ""},
      {32, {0xFF000000, 0xFF00, 0xFF0000}, refused},
      {32, {0xFF, 0xFF00, 0xFF0000}, refused},  // red and blue swapped
      {32, {0xFF000000, 0xFF0000, 0xFF00}, refused},
      {32, {0xFF, 0xFF, 0xFF}, refused},  // overlapping
      {32, {0x7C00, 0x3E0, 0x1F}, refused},
      {32, {0, 0, 0}, refused},
      {16, {0x1F, 0x3E0, 0x7C00}, refused},  // red and blue swapped
      {16, {0x1F, 0x7E0, 0xF800}, refused},
      {16, {0xF800, 0x7C0, 0x3E}, refused},    // 5-5-5 one bit up
      {16, {0x7C00, 0x3E0, 0x801F}, refused},  // a stray bit above blue
      {16, {0xFF0000, 0xFF00, 0xFF}, refused},
      {8, {0x1F, 0x3E0, 0x7C00}, refused},
      {2, {0x1F, 0x3E0, 0x7C00}, "EInvalidGraphicOperation: Bitcount in invalid (2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "depth " << c.depth << " masks " << std::hex << c.masks[0]
                                      << " " << c.masks[1] << " " << c.masks[2]);
    // Two rows stored top row first: red on top, black below.
    BmpSpec spec;
    spec.width = 2;
    spec.height = -2;
    spec.depth = c.depth;
    spec.compression = 3;
    spec.masks = c.masks;
    if (c.depth <= 8) spec.colours = RandomBmpColours(1 << c.depth, 5);
    spec.pixels = c.depth >= 16 ? PackBmpRows(c.depth, 2, {{c.masks[0], c.masks[0]}, {0, 0}}, true)
                                : QByteArray(qsizetype(BmpRowBytes(c.depth, 2) * 2), char(0));
    TDIB dib;
    EXPECT_EQ(Outcome([&] { dib = ReadBytes(BuildBmp(spec)); }), c.outcome);
    if (!c.outcome.empty()) continue;
    const QImage image = dib.ToImage();
    EXPECT_EQ(image.pixel(1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));
  }
}

// ToImage of an 8-bit picture still held as run-length data decodes it once, into the
// image, rather than into a decoded store that is then copied.
TEST(DibFileRead, RunLengthImageIsNotDecodedTwice) {
  const int side = 6000;  // 36,000,000 pixel bytes
  QByteArray data;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; x += 250) data += QByteArray::fromHex("fa") + char(1 + (x + y) % 200);
    data += QByteArray(2, char(0));
  }
  data += QByteArray::fromHex("0001");
  BmpSpec spec = RleSpec(true);
  spec.width = spec.height = side;
  spec.pixels = data;
  const TDIB dib = ReadBytes(BuildBmp(spec));
  ASSERT_TRUE(dib.IsCompressed());

  // Writing 5 to clear_refs starts the peak resident size afresh from the current one.
  std::ofstream clear("/proc/self/clear_refs");
  if (!(clear << "5" << std::flush) || StatusKiB("VmHWM") < 0)
    GTEST_SKIP() << "cannot reset the peak resident size";
  clear.close();
  const int64_t before = StatusKiB("VmRSS");
  const QImage image = dib.ToImage();
  const int64_t peak = StatusKiB("VmHWM");
  EXPECT_EQ(image.pixel(0, side - 1), spec.colours[1] | 0xFF000000u);
  EXPECT_LT(peak - before, int64_t(side) * side * 3 / 2 / 1024);
}

TEST(DibFileRead, RunLengthDataStayAsRead) {
  const QByteArray file = BuildBmp(RleSpec(true));
  TDIB dib = ReadBytes(file);
  EXPECT_TRUE(dib.IsCompressed());
  EXPECT_EQ(dib.ImageSize(), Rle8Data().size());
  EXPECT_EQ(WriteBytes(dib), file);
  TDIB copy = dib;

  // The first pixel access decodes: rows bottom first, runs and literal copies.
  const uint8_t* bottom = dib.PixelData();
  EXPECT_FALSE(dib.IsCompressed());
  EXPECT_EQ(dib.ImageSize(), 8 * 3);
  const uint8_t expected[] = {5, 5, 5, 1, 2, 3, 0, 0, 7, 7, 7, 7, 7, 7, 0, 0, 9, 9, 4, 3, 2, 1};
  for (int i = 0; i < 22; ++i) {
    if (i % 8 < 6) {
      EXPECT_EQ(bottom[i], expected[i]) << i;
    }
  }
  // The other picture still holds the data as read.
  EXPECT_EQ(WriteBytes(copy), file);
}

// Run-length data that run past rows and past the picture are decoded without writing
// outside the picture.
TEST(DibFileRead, RunLengthOverruns) {
  const std::vector<std::vector<uint8_t>> hostile = {
      {200, 1, 200, 2, 0, 1},                  // runs far longer than the row and picture
      {0, 2, 250, 250, 5, 9, 0, 1},            // a move past the right and top edges
      {0, 2, 3, 0, 0, 2, 0, 200, 7, 0, 0, 1},  // moves up past the top, then a run
      {0, 255, 1, 2, 3},                       // a literal copy longer than the data
      {0, 0, 0, 0, 0, 0, 0, 0, 6, 6},          // more row ends than rows
      {9, 9},                                  // no end marker
  };
  for (bool rle8 : {true, false}) {
    for (const auto& data : hostile) {
      BmpSpec spec = RleSpec(rle8);
      spec.pixels = QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
      TDIB dib = ReadBytes(BuildBmp(spec));
      ASSERT_TRUE(dib.IsCompressed());
      const QImage asRead = dib.ToImage();
      dib.PixelData();
      EXPECT_EQ(dib.ToImage(), asRead);
      EXPECT_EQ(dib.ImageSize(), BmpRowBytes(spec.depth, spec.width) * spec.height);
    }
  }
}

TEST(DibFileRead, ReadingKeepsTheKindOfStore) {
  TDIB dib;
  dib.ChangeBitDepth(8);
  dib.Surface();
  ASSERT_FALSE(dib.IsPlain());
  TMemoryStream s(BuildBmp(Canonical(8, 4, 2, 60)));
  dib.ReadBitmapStream(s);
  EXPECT_FALSE(dib.IsPlain());
  EXPECT_EQ(dib.PixelWidth(), 4);
}

TEST(DibFormats, ExtensionIsRegistered) {
  ASSERT_EQ(RegisteredDibFormats().size(), 1u);
  EXPECT_EQ(RegisteredDibFormats()[0].extension, "dib");
  EXPECT_EQ(RegisteredDibFormats()[0].description, "Device Independent Bitmap");
  for (const char* yes : {"dib", "DIB", ".Dib", ".dib"}) EXPECT_TRUE(IsDibExtension(yes)) << yes;
  for (const char* no : {"", ".", "bmp", "..dib", "dibs", ".di"})
    EXPECT_FALSE(IsDibExtension(no)) << no;
}
