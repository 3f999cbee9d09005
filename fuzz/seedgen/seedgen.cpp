// Writes the seed corpora of the fuzzing targets from the test fixture builders: every
// library variant, and bitmap files of every header form, depth and compression.
//   fuzz_seedgen OUTDIR   writes OUTDIR/library, OUTDIR/bitmap, OUTDIR/parseinteger,
//                         OUTDIR/placement and OUTDIR/edit.
#include <QDir>
#include <QFile>
#include <cstdio>
#include <utility>
#include <vector>

#include "support/bmpbuilder.h"
#include "support/libbuilder.h"

namespace {

QString g_out;

void Save(const char* target, const QString& name, const QByteArray& bytes) {
  const QString dir = g_out + "/" + target;
  QDir().mkpath(dir);
  if (!WriteBytesToFile(dir + "/" + name, bytes)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(dir + "/" + name));
    std::exit(1);
  }
}

// The library target's input: flags, the data file's length, the data, the index.
void SaveLibrary(const QString& name, const LibraryBuilder& lib, bool withIndex = true,
                 bool lowerCaseIndex = false) {
  const QByteArray data = lib.Data();
  QByteArray input;
  input.append(char((withIndex ? 1 : 0) | (lowerCaseIndex ? 2 : 0)));
  const uint32_t n = uint32_t(data.size());
  for (int i = 0; i < 4; ++i) input.append(char((n >> (8 * i)) & 0xFF));
  input += data;
  if (withIndex) input += lib.Index();
  Save("library", name, input);
}

// The edit target's input: the edit and its two numbers, then the library target's input.
void SaveEdits(const QString& name, const QByteArray& data, const QByteArray& index) {
  QByteArray library("\x01", 1);
  const uint32_t n = uint32_t(data.size());
  for (int i = 0; i < 4; ++i) library.append(char((n >> (8 * i)) & 0xFF));
  library += data + index;
  for (int kind = 0; kind < 8; ++kind) {
    const char edit[3] = {char(kind), char(1 + kind % 3), char(kind * 5 + 1)};
    Save("edit", name + "-" + QString::number(kind), QByteArray(edit, 3) + library);
  }
}

std::vector<uint8_t> Ramp(int n) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[size_t(i)] = uint8_t(i * 37 + 1);
  return v;
}

void LibrarySeeds() {
  for (int type = 0; type <= 1; ++type) {
    LibraryBuilder lib(type);
    lib.Add8(4, 3, 1, -2, Ramp(12));
    lib.Add8(3, 2, 0, 0, Ramp(6));  // odd width
    lib.Add8(1, 1, 5, 5, Ramp(1));
    lib.Add8(0, 0, 0, 0, {});  // empty record
    const QString t = QString::number(type);
    SaveLibrary("v" + t + "-records", lib);
    SaveLibrary("v" + t + "-no-index", lib, false);
    SaveLibrary("v" + t + "-lower-index", lib, true, true);

    LibraryBuilder counts(type);
    counts.Add8(2, 2, 0, 0, Ramp(4));
    counts.AddEntry(999999);  // an entry past the end of the file
    counts.AddEntry(-8);
    counts.dataCount = 7;
    counts.indexCount = 3;
    SaveLibrary("v" + t + "-bad-entries", counts);
  }
  {
    // A variant 1 title over a variant 0 layout.
    LibraryBuilder lib(0);
    lib.Add8(2, 2, 0, 0, Ramp(4));
    QByteArray data = lib.Data();
    const QByteArray title1 = QByteArray("\x19TALVEN Entertainment inc.");
    data.replace(0, title1.size(), title1);
    data.replace(title1.size(), 44 - title1.size(), QByteArray(44 - title1.size(), '\0'));
    QByteArray input("\x01", 1);
    const uint32_t n = uint32_t(data.size());
    for (int i = 0; i < 4; ++i) input.append(char((n >> (8 * i)) & 0xFF));
    Save("library", "v1-title-v0-layout", input + data + lib.Index());
  }
  {
    LibraryBuilder lib(2);
    // Rows of skip and pixel runs, with the extra leading row record.
    std::vector<uint16_t> words = RowRecord({});
    for (int r = 0; r < 3; ++r) {
      const auto row = RowRecord({0x00C0, 1, 0x00C1, 2, 0xF800, 0x07E0, 0x00C2, 1, 0x001F});
      words.insert(words.end(), row.begin(), row.end());
    }
    lib.Add16(5, 3, 2, -1, words);
    // One record per row, the third kind of pixel run, an unknown code.
    std::vector<uint16_t> plain;
    for (const auto& row :
         {RowRecord({0x00C3, 2, 0x1234, 0x4321}), RowRecord({0x0099, 1}), RowRecord({})}) {
      plain.insert(plain.end(), row.begin(), row.end());
    }
    lib.Add16(2, 3, 0, 0, plain);
    lib.Add16(4, 4, 0, 0, RowRecord({0x00C1, 9, 1, 2}), 40);  // count past the words
    lib.Add16(0, 1, 0, 0, {});
    SaveLibrary("v2-records", lib);
    SaveLibrary("v2-no-index", lib, false);

    LibraryBuilder skipped(2);
    skipped.AddEntry(-1);
    skipped.AddEntry(-1);
    skipped.Add16(1, 1, 0, 0, RowRecord({0x00C1, 1, 0xFFFF}));
    skipped.AddEntry(0);
    SaveLibrary("v2-leading-negative", skipped);
  }
}

void BitmapSeed(const QString& name, const BmpSpec& spec) {
  // The first byte chooses the reader: 0 a stream, 1 a file, 2 a packed DIB.
  const QByteArray bytes = BuildBmp(spec);
  if (spec.fileHeader) {
    Save("bitmap", name + "-stream", QByteArray(1, '\0') + bytes);
    Save("bitmap", name + "-file", QByteArray(1, '\1') + bytes);
  } else {
    Save("bitmap", name + "-packed", QByteArray(1, '\2') + bytes);
  }
}

void BitmapSeeds() {
  const int w = 5, h = 3;
  for (const int depth : {1, 4, 8, 16, 24, 32}) {
    for (const bool core : {false, true}) {
      if (core && (depth == 16 || depth == 32)) continue;
      BmpSpec s;
      s.core = core;
      s.width = w;
      s.height = h;
      s.depth = uint16_t(depth);
      if (depth <= 8) s.colours = RandomBmpColours(1 << depth, uint32_t(depth));
      s.pixels = PackBmpRows(depth, w, RandomBmpPixels(w, h, depth, 7u + depth));
      const QString name = QStringLiteral("d%1-%2").arg(depth).arg(core ? "core" : "info");
      BitmapSeed(name, s);
      if (!core) {
        BmpSpec topDown = s;
        topDown.height = -h;
        topDown.pixels = PackBmpRows(depth, w, RandomBmpPixels(w, h, depth, 9u), true);
        BitmapSeed(name + "-topdown", topDown);
      }
    }
  }
  // Bit fields, 5-6-5 and 8-8-8 masks.
  for (const int depth : {16, 32}) {
    BmpSpec s;
    s.width = w;
    s.height = h;
    s.depth = uint16_t(depth);
    s.compression = 3;
    s.masks = depth == 16 ? std::array<uint32_t, 3>{0xF800, 0x07E0, 0x001F}
                          : std::array<uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};
    s.pixels = PackBmpRows(depth, w, RandomBmpPixels(w, h, depth, 3));
    BitmapSeed(QStringLiteral("d%1-bitfields").arg(depth), s);
  }
  // Run-length data: runs, literal runs, end of row, a move, end of picture.
  {
    BmpSpec s;
    s.width = 8;
    s.height = 4;
    s.depth = 8;
    s.compression = 1;
    s.colours = RandomBmpColours(16, 1);
    s.coloursUsed = 16;
    s.pixels = QByteArray::fromHex(
        "0403"
        "0005010203040500"
        "0000"
        "000202010201"
        "0000"
        "0001");
    BitmapSeed("rle8", s);
  }
  {
    BmpSpec s;
    s.width = 9;
    s.height = 3;
    s.depth = 4;
    s.compression = 2;
    s.colours = RandomBmpColours(16, 2);
    s.pixels = QByteArray::fromHex(
        "0512"
        "000512345000"
        "0000"
        "00020101"
        "0334"
        "0001");
    BitmapSeed("rle4", s);
  }
  // Bit fields in no layout a store holds: red in the top byte, overlapping channels,
  // red and blue swapped.  All are refused.
  {
    const std::pair<const char*, std::array<uint32_t, 3>> odd[] = {
        {"d32-masks-top", {0xFF000000, 0x00FF00, 0xFF0000}},
        {"d32-masks-overlap", {0xFF, 0xFF, 0xFF}},
        {"d16-masks-swapped", {0x001F, 0x03E0, 0x7C00}},
    };
    for (const auto& [name, masks] : odd) {
      BmpSpec s;
      s.width = w;
      s.height = h;
      s.depth = masks[2] == 0x7C00 ? 16 : 32;
      s.compression = 3;
      s.masks = masks;
      s.pixels = PackBmpRows(s.depth, w, RandomBmpPixels(w, h, s.depth, 4));
      BitmapSeed(name, s);
    }
  }
  // Run-length data stored top row first (refused), a picture far past the pixel cap
  // from a few bytes (refused), and a sparse one that decodes to 1 MiB from under 1 KB.
  {
    BmpSpec s;
    s.width = 8;
    s.height = -4;
    s.depth = 8;
    s.compression = 1;
    s.colours = RandomBmpColours(16, 1);
    s.coloursUsed = 16;
    s.pixels = QByteArray::fromHex(
        "04030005010203040500"
        "0000"
        "0001");
    BitmapSeed("rle8-topdown", s);
    s.width = 31000;
    s.height = 31000;
    s.imageSize = 983040;
    BitmapSeed("rle8-past-cap", s);
    s.width = 1024;
    s.height = 1024;
    s.imageSize.reset();
    s.pixels.clear();
    for (int row = 0; row < 240; ++row) s.pixels += QByteArray::fromHex("ff050000");
    s.pixels += QByteArray::fromHex("0001");
    BitmapSeed("rle8-sparse", s);

    s.width = 9;
    s.height = -3;
    s.depth = 4;
    s.compression = 2;
    s.colours = RandomBmpColours(16, 2);
    s.coloursUsed = 0;
    s.pixels = QByteArray::fromHex(
        "0512000512345000"
        "0000"
        "0001");
    BitmapSeed("rle4-topdown", s);
  }
  // A gap between the colours and the pixels, and a header offset of 0.
  {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.depth = 8;
    s.colours = RandomBmpColours(4, 3);
    s.coloursUsed = 4;
    s.gap = 6;
    s.pixels = PackBmpRows(8, 3, RandomBmpPixels(3, 2, 2, 4));
    BitmapSeed("gap", s);
    s.gap = 0;
    s.pixelOffset = 0;
    BitmapSeed("offset0", s);
  }
  // Packed DIBs as the clipboard carries them.
  {
    BmpSpec s;
    s.fileHeader = false;
    s.width = 4;
    s.height = 2;
    s.depth = 24;
    s.pixels = PackBmpRows(24, 4, RandomBmpPixels(4, 2, 24, 5));
    BitmapSeed("d24", s);
    s.depth = 8;
    s.compression = 1;
    s.colours = RandomBmpColours(2, 6);
    s.coloursUsed = 2;
    s.pixels = QByteArray::fromHex(
        "04010000"
        "03000001");
    BitmapSeed("rle8", s);
  }
}

void ParseIntegerSeeds() {
  // The first byte chooses how the text is decoded: 0 UTF-8, 1 Latin-1, 2 UTF-16.
  const char* texts[] = {"0",         "  -17",      "+2147483647", "-2147483648", "2147483648",
                         "$7fffFFFF", "-$80000000", "0x1F",        "X10",         "x",
                         "12a",       "",           "   ",         "-0x",         "007"};
  int i = 0;
  for (const char* t : texts) {
    Save("parseinteger", QStringLiteral("utf8-%1").arg(i++), QByteArray(1, '\0') + t);
  }
  Save("parseinteger", "latin1",
       QByteArray(1, '\1') +
           "\xA0"
           "12");
  const QString wide = QStringLiteral(" -$1a\u0661");
  Save("parseinteger", "utf16",
       QByteArray(1, '\2') +
           QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2));
}

}  // namespace

void PlacementSeeds() {
  // Placement files as the export writes them, and with the other line ends and short.
  Save("placement", "minus5-0", "-5\r\n0\r\n");
  Save("placement", "mixed-ends", "12abc\n$10\rextra\r\n");
  Save("placement", "one-line", "7");
  Save("placement", "empty-lines", "\r\n\r\n");
}

// Libraries whose index is in file order, out of it, and with a shared record.
void EditSeeds() {
  for (int type = 0; type <= 1; ++type) {
    LibraryBuilder records(type);
    std::vector<int32_t> at;
    for (int i = 0; i < 5; ++i)
      at.push_back(records.Add8(int16_t(4 * (i % 2 + 1)), 2, int16_t(i), 0, Ramp(8 * (i % 2 + 1))));
    const QString t = QString::number(type);
    for (const auto& [name, order] :
         std::vector<std::pair<QString, std::vector<int>>>{{"in-order", {0, 1, 2, 3, 4}},
                                                           {"swapped", {0, 2, 1, 4, 3}},
                                                           {"shared", {0, 1, 1, 3, 2}}}) {
      LibraryBuilder lib(type);
      lib.AddBytes(records.Data().mid(type == 1 ? 1084 : 1080));
      for (const int i : order) lib.AddEntry(at[size_t(i)]);
      SaveEdits("v" + t + "-" + name, lib.Data(), lib.Index());
    }
  }
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  LibrarySeeds();
  BitmapSeeds();
  ParseIntegerSeeds();
  PlacementSeeds();
  EditSeeds();
  return 0;
}
