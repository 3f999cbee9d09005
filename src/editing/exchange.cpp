#include "editing/exchange.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <algorithm>
#include <cstring>

#include "bitmap/bmpformat.h"
#include "bitmap/dib.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/parseinteger.h"
#include "library/myjov.h"

QString PictureFileExtension(TPictureFileFormat format) {
  return format == TPictureFileFormat::Png ? QStringLiteral("png") : QStringLiteral("bmp");
}

std::optional<TPictureFileFormat> PictureFileFormatNamed(const QString& name) {
  for (const TPictureFileFormat f : {TPictureFileFormat::Bmp, TPictureFileFormat::Png})
    if (name == PictureFileExtension(f)) return f;
  return std::nullopt;
}

TPictureFileFormat PictureFileFormatOf(const QString& path, TPictureFileFormat fallback) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return PictureFileFormatNamed(suffix).value_or(fallback);
}

QString ExchangeBitmapName(int index, TPictureFileFormat format) {
  return QString::asprintf("%.6d.", index) + PictureFileExtension(format);
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

namespace {

// The zlib level of exported PNG files, as the quality Qt's writer takes (quality q gives
// level (100 - q) * 9 / 91): level 0, stored blocks.  Writing a 64 x 64 sprite costs
// libpng about as much as the whole bitmap export of it, and level 1 alone adds half as
// much again; stored, a folder of PNG files is written (and read back) in about twice
// the time of bitmaps.  Sprites exported for editing are small, and an editor that saves
// them compresses them again.
constexpr int kPngQuality = 100;

// The width an 8-bit record stores; 0 when there is none to read.
int RecordWidth8(TJOV& jov, int index) {
  const std::optional<int32_t> entry = jov.EntryOf(index);
  uint8_t width[2];
  if (jov.FileType() == TFileType::RunCoded || !entry ||
      jov.DataStream()->ReadAt(*entry, width, 2) != 2)
    return 0;
  return GetI16(width);
}

}  // namespace

QImage PngPicture(TJOV& jov, int index) {
  const QImage* shown = jov.ImageAt(index);
  const bool empty = shown == nullptr || shown->isNull();
  QImage picture;
  if (jov.FileType() != TFileType::RunCoded &&
      (empty || shown->format() == QImage::Format_Indexed8)) {
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i) {
      const uint8_t* entry = &jov.Palette()[size_t(i) * 4];  // blue, green, red, 0
      const QRgb colour = qRgb(entry[2], entry[1], entry[0]);
      table[i] = colour == qRgb(0, 0, 0) ? qRgba(0, 0, 0, 0) : colour;
    }
    if (empty) {
      picture = QImage(1, 1, QImage::Format_Indexed8);
      const auto black = std::find(table.cbegin(), table.cend(), qRgba(0, 0, 0, 0));
      picture.setColorTable(table);
      if (black == table.cend()) picture.setColor(0, qRgba(0, 0, 0, 0));
      picture.fill(black == table.cend() ? 0u : uint(black - table.cbegin()));
    } else {
      picture = *shown;
      picture.setColorTable(table);
    }
  } else if (empty) {
    picture = QImage(1, 1, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
  } else {
    picture = shown->convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
      for (int x = 0; x < picture.width(); ++x)
        if ((row[x] & 0xFFFFFF) == 0) row[x] = 0;
    }
  }
  // The shown picture's rows of an 8-bit record are rounded up to a multiple of 4; a PNG
  // file has the record's own width, so that it comes back as the same record.
  if (const int width = RecordWidth8(jov, index); !empty && width > 0 && width < picture.width())
    picture = picture.copy(0, 0, width, picture.height());
  picture.setOffset(QPoint(jov.px(), jov.py()));
  return picture;
}

namespace {

void ExportPng(TJOV& jov, int index, const QString& path) {
  const QImage picture = PngPicture(jov, index);
  // Room for the stored pixels and the chunks around them, so that the writer's many
  // small writes do not grow the buffer again and again.
  QByteArray bytes;
  bytes.reserve(qsizetype(picture.sizeInBytes()) + 4096);
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  writer.setQuality(kPngQuality);
  if (!writer.write(picture))
    throw EFCreateError(QStringLiteral("Cannot write \"%1\": %2").arg(path, writer.errorString()));
  TFile::Open(path, TFile::Mode::Create)->WriteAt(0, bytes.constData(), bytes.size());
}

}  // namespace

void ExportImage(TJOV& jov, int index, const QString& path, TPictureFileFormat format) {
  if (format == TPictureFileFormat::Png) {
    ExportPng(jov, index, path);
    return;
  }
  // The headers, then the rows bottom row first, in one gathered write.
  QByteArray header;
  std::vector<TFile::Part> parts(1);
  if (const uint8_t* rows = jov.StoredRows8(index)) {
    // An 8-bit record stores its rows as a bitmap file does: when its width needs no
    // padding, the stored rows go out as they are.
    header = ExportHeader(jov.Width(), jov.Height(), false, jov.Palette());
    parts.push_back({const_cast<uint8_t*>(rows), int64_t(jov.Width()) * jov.Height()});
  } else {
    const QImage* picture = jov.ImageAt(index);
    const bool empty = picture == nullptr || picture->isNull();
    const bool sixteenBit = jov.FileType() == TFileType::RunCoded ||
                            (!empty && picture->format() == QImage::Format_RGB16);
    const int w = empty ? 0 : picture->width(), h = empty ? 0 : picture->height();
    // An image the library shows as empty is written as a 0 x 0 bitmap of its depth.
    header = ExportHeader(w, h, sixteenBit, jov.Palette());
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

QStringList ListBitmapFiles(const QString& folder, TPictureFileFormat format) {
  const QDir dir(folder);
  if (folder.isEmpty() || !dir.exists() || !dir.isReadable())
    throw EFOpenError(QStringLiteral("Cannot read folder \"%1\"").arg(folder));
  QStringList names = dir.entryList({QStringLiteral("*.") + PictureFileExtension(format)},
                                    QDir::Files, QDir::NoSort);
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
