#include "editing/exchange.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "bitmap/bmpformat.h"
#include "bitmap/dib.h"
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

// The headers of an exported bitmap file: the 14-byte file header, the 40-byte
// information header, then the library palette (8 bits) or the RGB565 masks (16 bits).
QByteArray ExportHeader(int w, int h, bool sixteenBit, const std::array<uint8_t, 1024>& palette) {
  const int depth = sixteenBit ? 16 : 8;
  const int headers = bmp::kFileHeaderSize + bmp::kInfoHeaderSize;
  const int64_t imageSize = DibRowBytes(depth, w) * h;
  QByteArray bytes(headers + (sixteenBit ? bmp::kMaskBytes : int(palette.size())), '\0');
  auto* p = reinterpret_cast<uint8_t*>(bytes.data());
  bmp::EncodeFileHeader(p, uint32_t(bytes.size() + imageSize), uint32_t(bytes.size()));
  bmp::EncodeInfoHeader(p + bmp::kFileHeaderSize, w, h, depth,
                        sixteenBit ? bmp::kCompressionBitFields : bmp::kCompressionNone,
                        uint32_t(imageSize));
  if (sixteenBit)
    bmp::EncodeMasks(p + headers, Layout565());
  else
    std::memcpy(p + headers, palette.data(), palette.size());
  return bytes;
}

}  // namespace

void ExportImage(TJOV& jov, int index, const QString& path) {
  // The headers, then the rows bottom row first, in one gathered write.
  QByteArray header;
  std::vector<TFile::Part> parts(1);
  if (const uint8_t* rows = jov.StoredRows8(index)) {
    // An 8-bit record stores its rows as a bitmap file does: when its width needs no
    // padding, the stored rows go out as they are.
    header = ExportHeader(jov.Width, jov.Height, false, jov.Palette);
    parts.push_back({const_cast<uint8_t*>(rows), int64_t(jov.Width) * jov.Height});
  } else {
    const QImage* picture = jov.ImageAt(index);
    const bool empty = picture == nullptr || picture->isNull();
    const bool sixteenBit =
        jov.FileType == 2 || (!empty && picture->format() == QImage::Format_RGB16);
    const int w = empty ? 0 : picture->width(), h = empty ? 0 : picture->height();
    // An image the library shows as empty is written as a 0 x 0 bitmap of its depth.
    header = ExportHeader(w, h, sixteenBit, jov.Palette);
    // The rows go out straight from the picture; the padding at the end of a row is
    // written as zeros.
    const int64_t used = int64_t(w) * (sixteenBit ? 2 : 1);
    const int64_t pad = DibRowBytes(sixteenBit ? 16 : 8, w) - used;
    static const uint8_t zeros[4] = {};
    parts.reserve(size_t(h) * 2 + 1);
    for (int y = h - 1; y >= 0; --y) {
      parts.push_back({const_cast<uchar*>(picture->constScanLine(y)), used});
      if (pad > 0) parts.push_back({const_cast<uint8_t*>(zeros), pad});
    }
  }
  parts[0] = {header.data(), header.size()};
  TFile::Open(path, TFile::Mode::Create)->WritePartsAt(0, parts.data(), int(parts.size()));
}

QStringList ListBitmapFiles(const QString& folder) {
  const QDir dir(folder);
  if (folder.isEmpty() || !dir.exists() || !dir.isReadable())
    throw EFOpenError(QStringLiteral("Cannot read folder \"%1\"").arg(folder));
  QStringList names = dir.entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::NoSort);
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
  });
  return names;
}

TPlacement ParsePlacementText(const QString& text) {
  const qsizetype comma = text.indexOf(QLatin1Char(','));
  if (comma < 0) return {0, ParseInteger(text).value};
  return {ParseInteger(text.left(comma)).value, ParseInteger(text.mid(comma + 1)).value};
}
