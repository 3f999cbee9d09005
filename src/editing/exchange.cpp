#include "editing/exchange.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>

#include "bitmap/dib.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/parseinteger.h"
#include "library/myjov.h"

QString ExchangeBitmapName(int index) {
  return QString::asprintf("%.6d.bmp", index);
}

QString PlacementFileName(int index) {
  return QString::asprintf("%.6d.txt", index);
}

QString WithTrailingSeparator(const QString& folder) {
  return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString PlacementPathFor(const QString& bitmapPath) {
  const QFileInfo info(bitmapPath);
  return WithTrailingSeparator(info.path()) + QLatin1String(kPlacementsFolder) + QLatin1Char('/') +
         info.completeBaseName() + QStringLiteral(".txt");
}

QByteArray PlacementFileBytes(int px, int py) {
  return QByteArray::number(px) + "\r\n" + QByteArray::number(py) + "\r\n";
}

void WritePlacementFile(const QString& path, int px, int py) {
  const QByteArray bytes = PlacementFileBytes(px, py);
  TFile::Open(path, TFile::Mode::Create)->WriteAt(0, bytes.constData(), bytes.size());
}

TPlacement ParsePlacement(const QByteArray& bytes, const QString& pathForMessage) {
  // The first two lines; a line ends at CR, at LF, or at CR LF.
  QByteArray lines[2];
  int found = 0;
  qsizetype start = 0;
  const qsizetype n = bytes.size();
  while (found < 2 && start < n) {
    qsizetype end = start;
    while (end < n && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    lines[found++] = bytes.mid(start, end - start);
    if (end < n && bytes[end] == '\r' && end + 1 < n && bytes[end + 1] == '\n') ++end;
    start = end + 1;
  }
  if (found < 2)
    throw EPlacementFileError(
        QStringLiteral("Placement file \"%1\" has fewer than two lines").arg(pathForMessage));
  // Single-byte text: each byte is one character.
  return {ParseInteger(QString::fromLatin1(lines[0])).value,
          ParseInteger(QString::fromLatin1(lines[1])).value};
}

TPlacement ReadPlacementFile(const QString& path) {
  return ParsePlacement(ReadWholeFile(path), path);
}

namespace {

// A bitmap file of 0 x 0 pixels, for an image the library shows as empty: the headers
// of the depth the library's images have, and no pixels.
QByteArray EmptyBitmapFile(bool sixteenBit, const std::array<uint8_t, 1024>& palette) {
  const int extra = sixteenBit ? 12 : 1024;
  QByteArray bytes(14 + 40 + extra, '\0');
  auto* p = reinterpret_cast<uint8_t*>(bytes.data());
  p[0] = 'B';
  p[1] = 'M';
  PutU32(p + 2, uint32_t(bytes.size()));
  PutU32(p + 10, uint32_t(bytes.size()));
  PutU32(p + 14, 40);
  PutU16(p + 26, 1);
  PutU16(p + 28, sixteenBit ? 16 : 8);
  if (sixteenBit) {
    PutU32(p + 30, 3);
    PutU32(p + 54, 0xF800);
    PutU32(p + 58, 0x07E0);
    PutU32(p + 62, 0x001F);
  } else {
    std::memcpy(p + 54, palette.data(), 1024);
  }
  return bytes;
}

}  // namespace

void ExportImage(TJOV& jov, int index, const QString& path) {
  const QImage* picture = jov.ImageAt(index);
  const bool sixteenBit = jov.FileType == 2;
  if (picture == nullptr || picture->isNull()) {
    const QByteArray bytes = EmptyBitmapFile(sixteenBit, jov.Palette);
    TFile::Open(path, TFile::Mode::Create)->WriteAt(0, bytes.constData(), bytes.size());
    return;
  }
  // The picture is laid into a bitmap of the same depth, row for row.  One bitmap is
  // kept for all exports, so a run of like-sized images reuses its memory.
  static thread_local TDIB dib;
  const int w = picture->width(), h = picture->height();
  if (sixteenBit || picture->format() == QImage::Format_RGB16) {
    dib.RequestedLayout = Layout565();
    dib.Recreate(w, h, 16);
  } else {
    dib.RequestedLayout = Layout888();
    dib.Recreate(w, h, 8);
    std::memcpy(dib.ColorEntries.data(), jov.Palette.data(), 1024);
    dib.CommitColors();
  }
  // Rows go bottom row first; the padding at the end of a row is written as zeros.
  const int64_t used = int64_t(w) * dib.BitDepth() / 8;
  const int64_t rowBytes = dib.RowBytes();
  uint8_t* pixels = dib.PixelData();
  for (int y = 0; y < h; ++y) {
    uint8_t* row = pixels + int64_t(h - 1 - y) * rowBytes;
    std::memcpy(row, picture->constScanLine(y), size_t(used));
    std::memset(row + used, 0, size_t(rowBytes - used));
  }
  dib.WriteBitmapFile(path);
}
