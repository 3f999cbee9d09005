#include "editing/pictureloader.h"

#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <variant>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "library/tolibrary.h"

namespace {

[[noreturn]] void Refuse(const QString& path, const QString& reason) {
  throw EInvalidGraphic(QStringLiteral("Cannot load picture \"%1\". %2").arg(path, reason));
}

void CheckSize(const QString& path, int64_t w, int64_t h) {
  if (w > kMaxRecordPictureWidth || h > kMaxRecordPictureHeight)
    Refuse(path, QStringLiteral("It is %1 x %2 pixels; an image record holds at most %3 x %4.")
                     .arg(w)
                     .arg(h)
                     .arg(kMaxRecordPictureWidth)
                     .arg(kMaxRecordPictureHeight));
  if (w > 0 && h > 0 && w * h * 4 > kMaxPictureBytes)
    Refuse(path, QStringLiteral("It is %1 x %2 pixels, more than %3 MiB decoded.")
                     .arg(w)
                     .arg(h)
                     .arg(kMaxPictureBytes >> 20));
}

bool IsBitmapExtension(const QString& suffix) {
  return suffix.compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0 || IsDibExtension(suffix);
}

// What the headers of a bitmap file say, read before anything is allocated for it.
struct BitmapHead {
  bool known = false;  // a "BM" file with an information header that gives the size
  int64_t width = 0;
  int64_t height = 0;      // rows, whichever way they are stored
  bool truncated = false;  // uncompressed pixels that the file does not hold
  // Bit-field masks that our reader would take for others of the same widths (it keeps
  // only the width of each mask), e.g. blue, green, red in place of red, green, blue.
  bool unfaithfulMasks = false;
};

BitmapHead PeekBitmapFile(const QString& path) {
  // Opening here also raises the file layer's error for a file that cannot be opened.
  const std::unique_ptr<TFile> file = TFile::Open(path, TFile::Mode::Read);
  uint8_t head[66] = {};
  const int64_t got = file->ReadAt(0, head, sizeof head);
  BitmapHead result;
  if (got < 26 || head[0] != 'B' || head[1] != 'M') return result;
  const uint32_t headerSize = GetU32(head + 14);
  int depth = 0;
  uint32_t compression = 0;
  if (headerSize == 12) {
    result.width = GetU16(head + 18);
    result.height = GetU16(head + 20);
    depth = GetU16(head + 24);
  } else if ((headerSize == 16 || headerSize == 40 || headerSize == 52 || headerSize == 56 ||
              headerSize == 64 || headerSize == 108 || headerSize == 124) &&
             got >= 34) {
    result.width = GetI32(head + 18);
    result.height = std::abs(int64_t(GetI32(head + 22)));
    depth = GetU16(head + 28);
    compression = GetU32(head + 30);
  } else {
    return result;
  }
  result.known = true;
  if (headerSize == 40 && compression == 3 && got >= 66) {
    const uint32_t r = GetU32(head + 54), g = GetU32(head + 58), b = GetU32(head + 62);
    const ChannelLayout layout = ChannelLayout::FromMasks(r, g, b);
    result.unfaithfulMasks = uint32_t(layout.RedMask) != r || uint32_t(layout.GreenMask) != g ||
                             uint32_t(layout.BlueMask) != b;
  }
  // Uncompressed rows (plain or bit fields, also with alpha) must all be in the file.
  if ((compression == 0 || compression == 3 || compression == 6) && depth > 0 && depth <= 64 &&
      result.width > 0 && result.width <= kMaxRecordPictureWidth &&
      result.height <= kMaxRecordPictureHeight) {
    const int64_t pixelOffset = GetU32(head + 10);
    result.truncated =
        file->Size() < pixelOffset + DibRowBytes(depth, result.width) * result.height;
  }
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TPictureLoader

QImage& TPictureLoader::ImageSlot() {
  if (!std::holds_alternative<QImage>(picture_.Graphic))
    picture_.Graphic = std::exchange(spareImage_, QImage());
  return std::get<QImage>(picture_.Graphic);
}

TDIB& TPictureLoader::DibSlot() {
  if (auto* image = std::get_if<QImage>(&picture_.Graphic)) spareImage_ = std::move(*image);
  if (!std::holds_alternative<TDIB>(picture_.Graphic)) picture_.Graphic.emplace<TDIB>();
  return std::get<TDIB>(picture_.Graphic);
}

void TPictureLoader::Clear() {
  // The image's pixel block is kept for the next load.
  if (auto* image = std::get_if<QImage>(&picture_.Graphic)) spareImage_ = std::move(*image);
  picture_.Graphic = std::monostate();
}

const TPicture& TPictureLoader::Load(const QString& path) {
  try {
    if (IsBitmapExtension(QFileInfo(path).suffix())) {
      LoadBitmapFile(path);
    } else {
      // Qt decides by the extension, and by the content when the extension does not
      // fit; a bitmap file under another name still goes to the bitmap reader.
      QImageReader reader(path);
      const QByteArray format = reader.format();
      // No format is also what a file that cannot be opened gives: the file layer then
      // says why, as it does for the bitmap reader.
      if (format.isEmpty()) TFile::Open(path, TFile::Mode::Read);
      if (format == "bmp" || format == "dib")
        LoadBitmapFile(path);
      else
        LoadWithQt(path, reader);
    }
  } catch (...) {
    Clear();
    throw;
  }
  return picture_;
}

void TPictureLoader::LoadBitmapFile(const QString& path) {
  const BitmapHead head = PeekBitmapFile(path);
  if (head.known) {
    CheckSize(path, head.width, head.height);
    if (head.truncated) Refuse(path, QStringLiteral("The file ends before its pixels."));
    if (head.unfaithfulMasks) {
      QImageReader reader(path);
      LoadWithQt(path, reader);
      return;
    }
  }
  TDIB& dib = DibSlot();
  try {
    dib.ReadBitmapFile(path);
  } catch (const EFOpenError&) {
    throw;
  } catch (const EJovError& e) {
    // A header or layout our reader does not take (but not a file cut short, refused
    // above): Qt's reader may know it, and what it reads is whole.
    if (dynamic_cast<const EInvalidGraphic*>(&e) ||
        dynamic_cast<const EInvalidGraphicOperation*>(&e)) {
      try {
        QImageReader reader(path);
        LoadWithQt(path, reader);
        return;
      } catch (const EInvalidGraphic&) {
      }
    }
    Refuse(path, e.Message());
  }
  if (dib.IsEmpty()) Refuse(path, QStringLiteral("The file is empty."));
  CheckSize(path, dib.PixelWidth(), dib.PixelHeight());
}

void TPictureLoader::LoadWithQt(const QString& path, QImageReader& reader) {
  QImage& image = ImageSlot();
  // Give the image back the format it was read in, so that reading a picture of the
  // same size and format again reuses its pixels.
  if (flattenedArgb_) {
    image.reinterpretAsFormat(QImage::Format_ARGB32);
    flattenedArgb_ = false;
  }
  reader.setAllocationLimit(int(kMaxPictureBytes >> 20));
  // The size from the headers is checked before the reader allocates the pixels.
  const QSize size = reader.size();
  if (size.isValid()) CheckSize(path, size.width(), size.height());
  if (!reader.read(&image)) Refuse(path, reader.errorString() + QLatin1Char('.'));
  CheckSize(path, image.width(), image.height());
  if (image.hasAlphaChannel()) {
    flattenedArgb_ = image.format() == QImage::Format_ARGB32;
    BlendOverBlack(image);
  }
}

// ---------------------------------------------------------------------------------------
// Dialog filters

namespace {

QString DescribeFormat(const QString& name) {
  static const std::pair<const char*, const char*> known[] = {
      {"jpg", "JPEG"},  {"jpeg", "JPEG"},   {"tif", "TIFF"}, {"tiff", "TIFF"},
      {"ico", "Icons"}, {"cur", "Cursors"}, {"svg", "SVG"},  {"svgz", "SVG"},
  };
  for (const auto& [ext, description] : known)
    if (name == QLatin1String(ext)) return QString::fromLatin1(description);
  return name.toUpper();
}

QString Patterns(const QStringList& extensions) {
  QStringList patterns;
  for (const QString& e : extensions) patterns << QStringLiteral("*.") + e.toLower();
  for (const QString& e : extensions) patterns << QStringLiteral("*.") + e.toUpper();
  return patterns.join(QLatin1Char(' '));
}

}  // namespace

QStringList PictureNameFilters() {
  struct Entry {
    QString description;
    QStringList extensions;
  };
  std::vector<Entry> entries;
  QStringList all;
  auto add = [&](const QString& description, const QString& extension) {
    const QString ext = extension.toLower();
    if (all.contains(ext)) return;
    all << ext;
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const Entry& e) { return e.description == description; });
    if (it == entries.end())
      entries.push_back({description, {ext}});
    else
      it->extensions << ext;
  };
  add(QStringLiteral("Bitmaps"), QStringLiteral("bmp"));
  for (const TPictureFormat& f : RegisteredDibFormats()) add(f.description, f.extension);
  for (const QByteArray& f : QImageReader::supportedImageFormats()) {
    const QString name = QString::fromLatin1(f).toLower();
    add(DescribeFormat(name), name);
  }
  QStringList filters;
  filters << QStringLiteral("All pictures (%1)").arg(Patterns(all));
  for (const Entry& e : entries)
    filters << QStringLiteral("%1 (%2)").arg(e.description, Patterns(e.extensions));
  filters << QStringLiteral("All files (*)");
  return filters;
}

QString PictureFilter() {
  return PictureNameFilters().join(QStringLiteral(";;"));
}
