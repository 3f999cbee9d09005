#include "editing/createlib.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <variant>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "editing/pictureloader.h"
#include "library/jovformat.h"
#include "library/jovnewpair.h"
#include "library/myjov.h"
#include "library/tolibrary.h"

// The templates are compiled into the core library; every program that uses it gets them.
static void InitTemplates() {
  Q_INIT_RESOURCE(templates);
}

namespace {

constexpr int kDataTemplateSize = 1080;
constexpr int kIndexTemplateSize = 48;
constexpr int64_t kMaxDataSize = std::numeric_limits<int32_t>::max();

// The template of a new data file ("JOV") or index file ("JOX"), carried by the program.
QByteArray ReadTemplate(const QString& name, int size) {
  InitTemplates();
  QFile resource(QStringLiteral(":/EXEFILE/") + name);
  QByteArray bytes;
  if (resource.open(QIODevice::ReadOnly)) bytes = resource.readAll();
  if (bytes.size() != size)
    throw EJovError(QStringLiteral("The template %1 of a new library is missing.").arg(name));
  return bytes;
}

// The 1,024 bytes from byte 54 of a file, as they stand; 0 where the file is shorter.
void ReadPaletteBytes(const QString& path, uint8_t* out) {
  std::memset(out, 0, jov::kPaletteSize);
  TFile::Open(path, TFile::Mode::Read)->ReadAt(54, out, jov::kPaletteSize);
}

// The colour table of an indexed picture file as palette bytes (blue, green, red, 0),
// 0 behind its last entry; transparent entries give the colour they are shown as, over
// black.  Throws EJovError for a picture without a colour table.
void PaletteOfPicture(const QString& path, uint8_t* out) {
  TPictureLoader loader;
  const auto* image = std::get_if<QImage>(&loader.Load(path).Graphic);
  if (image == nullptr || image->format() != QImage::Format_Indexed8)
    throw EJovError(QStringLiteral("\"%1\" has no palette to take.").arg(path));
  std::memset(out, 0, jov::kPaletteSize);
  const QList<QRgb> table = image->colorTable();
  for (qsizetype i = 0; i < std::min<qsizetype>(table.size(), 256); ++i) {
    out[4 * i] = uint8_t(qBlue(table[i]));
    out[4 * i + 1] = uint8_t(qGreen(table[i]));
    out[4 * i + 2] = uint8_t(qRed(table[i]));
  }
}

void CheckDataSize(int64_t size) {
  if (size > kMaxDataSize)
    throw EJovError(
        std::string("The data file would grow past 2 GiB, beyond what its index can address."));
}

// The index of a FileType 0 or 1 library: its header with the count, then the entries.
void WriteIndex(TNewPair& pair, QByteArray header, const std::vector<int32_t>& entries) {
  PutI32(reinterpret_cast<uint8_t*>(header.data()) + jov::kCountOffset, int32_t(entries.size()));
  pair.AppendIndex(header.constData(), header.size());
  std::vector<uint8_t> bytes(entries.size() * 4);
  jov::EncodeIndexEntries(bytes.data(), entries);
  pair.AppendIndex(bytes.data(), int64_t(bytes.size()));
}

}  // namespace

QString NewIndexPathFor(const QString& dataPath) {
  return QFileInfo(dataPath).dir().filePath(BaseNameOf(dataPath) + QStringLiteral(".JOX"));
}

int CreateLibrary(const TCreateOptions& options, const TCreateProgress& progress) {
  const QString folder = WithTrailingSeparator(options.folder);
  const QString indexPath = NewIndexPathFor(options.dataPath);
  if (QFileInfo(indexPath).absoluteFilePath() == QFileInfo(options.dataPath).absoluteFilePath())
    throw EJovError(
        QStringLiteral("\"%1\" would be its own index file; choose a name ending in .jov.")
            .arg(options.dataPath));
  for (const QString& path : {options.dataPath, indexPath})
    if (QFileInfo(path).isDir()) throw EJovError(QStringLiteral("\"%1\" is a folder.").arg(path));
  const QStringList names = ListBitmapFiles(folder, options.format);

  QByteArray data = ReadTemplate(QStringLiteral("JOV"), kDataTemplateSize);
  const QByteArray indexHeader = ReadTemplate(QStringLiteral("JOX"), kIndexTemplateSize);
  auto* palette = reinterpret_cast<uint8_t*>(data.data()) + jov::PaletteOffset(0);
  if (options.paletteFromFirstBitmap) {
    if (names.isEmpty())
      throw EJovError(
          QStringLiteral("\"%1\" holds no bitmap file to take the palette from.").arg(folder));
    if (options.format == TPictureFileFormat::Png)
      PaletteOfPicture(folder + names.first(), palette);
    else
      ReadPaletteBytes(folder + names.first(), palette);
  }
  TColorTable colors;
  std::memcpy(colors.data(), palette, colors.size());

  TNewPair pair(options.dataPath, indexPath, true);
  pair.Append(data.constData(), data.size());
  std::vector<int32_t> entries;
  entries.reserve(size_t(names.size()));
  TPictureLoader loader;
  TDIB work;
  const int total = int(names.size());
  for (int i = 0; i < total; ++i) {
    if (progress) progress(i, total);
    const QString path = folder + names[i];
    const TPicture& picture = loader.Load(path);
    TPlacement xy;
    if (options.placement) {
      xy = *options.placement;
    } else {
      const QString placementPath = PlacementPathFor(path);
      if (FileExists(placementPath)) {
        xy = ReadPlacementFile(placementPath);
      } else {
        const QPoint offset = PictureOffset(picture);
        xy = {offset.x(), offset.y()};
      }
    }
    const TLibraryRecord record =
        ToLibraryRecord(work, colors, picture, int16_t(xy.x), int16_t(xy.y));
    uint8_t header[jov::RecordHeaderSize(0)];
    jov::EncodeRecordHeader(header, 0, record.width, record.height, record.x, record.y);
    const int64_t at = pair.Size();
    CheckDataSize(at + int64_t(sizeof header) + int64_t(record.width) * record.height);
    entries.push_back(int32_t(at));
    pair.Append(header, sizeof header);
    pair.Append(record.pixels, int64_t(record.width) * record.height);
  }
  uint8_t count[4];
  PutI32(count, total);
  pair.Patch(jov::kCountOffset, count, 4);
  WriteIndex(pair, indexHeader, entries);
  pair.Commit();
  if (progress) progress(total, total);
  return total;
}

int64_t CompactLibrary(TJOV& jov, const TCreateProgress& progress) {
  if (!jov.IsOpen()) throw EJovError(std::string("No library is open."));
  if (jov.FileType == 2)
    throw EJovError(std::string("Libraries of run-coded 16-bit images are read only."));
  int64_t freed = 0;
  try {
    jov.Change([&](TJovTransaction& t) {
      TFile& oldData = t.File(TLibFile::Data);
      TFile& oldIndex = t.File(TLibFile::Index);
      const int64_t oldSize = t.OldSize(TLibFile::Data), oldIndexSize = t.OldSize(TLibFile::Index);
      const int offSet = jov.OffSet;
      const int64_t front = jov::kFirstRecord + offSet;
      const int64_t headerSize = jov::RecordHeaderSize(offSet);
      const int count = jov.ImageCount;
      auto refuse = [&](int i, const QString& what) {
        return EJovError(
            QStringLiteral("Image %1 cannot be moved: %2 Nothing was changed.").arg(i).arg(what));
      };

      TNewPair pair(jov.FileName, jov.IndexFileName(), false);
      TByteBuffer buffer;
      uint8_t* window = buffer.Reserve(TJovTransaction::kChunk);
      auto copy = [&](int64_t from, int64_t length) {
        for (int64_t done = 0; done < length;) {
          const int64_t n = std::min(TJovTransaction::kChunk, length - done);
          oldData.ReadExactAt(from + done, window, n);
          pair.Append(window, n);
          done += n;
        }
      };
      copy(0, front);
      uint8_t countBytes[4];
      PutI32(countBytes, count);
      pair.Patch(jov::kCountOffset, countBytes, 4);

      // Records are read a window of the old file at a time and written out of it in one
      // gathered write; a record larger than the window is copied on its own.  A record
      // that cannot be told ends the run before the switch, so nothing changes.
      constexpr int kMaxParts = 1024;
      std::vector<int32_t> entries(static_cast<size_t>(count));
      // Records shared by several entries are written once.  While entries only grow (as
      // writers leave them) no record can come again, and none is looked up.
      std::unordered_map<int64_t, int32_t> moved;
      int64_t highest = -1;
      std::vector<TFile::Part> parts;
      parts.reserve(kMaxParts);
      int64_t windowStart = 0, windowEnd = 0;
      auto writeParts = [&] {
        pair.AppendParts(parts.data(), int(parts.size()));
        parts.clear();
      };
      auto slide = [&](int64_t at) {
        writeParts();
        windowStart = at;
        windowEnd = at + std::min(TJovTransaction::kChunk, oldSize - at);
        oldData.ReadExactAt(at, window, windowEnd - windowStart);
      };
      int64_t newAt = pair.Size();
      for (int i = 0; i < count; ++i) {
        if (progress) progress(i, count);
        const std::optional<int32_t> entry = jov.EntryOf(i);
        if (!entry) throw refuse(i, QStringLiteral("the index holds no entry for it."));
        const int64_t at = *entry;
        if (at <= highest && moved.empty()) {
          // The first entry out of order: the records so far are needed for look-ups.
          for (int k = 0; k < i; ++k) moved.emplace(*jov.EntryOf(k), entries[size_t(k)]);
        }
        if (auto it = moved.find(at); it != moved.end()) {
          entries[size_t(i)] = it->second;
          continue;
        }
        if (at < front || at + headerSize > oldSize)
          throw refuse(i, QStringLiteral("its entry %1 is outside the data file.").arg(at));
        if (at < windowStart || at + headerSize > windowEnd) slide(at);
        const uint8_t* record = window + (at - windowStart);
        const int w = GetI16(record), h = GetI16(record + 2);
        const int64_t length = headerSize + int64_t(std::max(w, 0)) * std::max(h, 0);
        if (w < 0 || h < 0 || at + length > oldSize)
          throw refuse(i, QStringLiteral("its record runs past the end of the data file."));
        CheckDataSize(newAt + length);
        entries[size_t(i)] = int32_t(newAt);
        if (!moved.empty()) moved.emplace(at, int32_t(newAt));
        highest = std::max(highest, at);
        newAt += length;
        if (at + length > windowEnd) {
          if (length > TJovTransaction::kChunk) {
            writeParts();
            copy(at, length);
            windowStart = windowEnd = 0;
            continue;
          }
          slide(at);
        }
        parts.push_back({window + (at - windowStart), length});
        if (int(parts.size()) == kMaxParts) writeParts();
      }
      writeParts();

      QByteArray indexHeader(int(jov::kIndexHeaderSize + offSet), '\0');
      oldIndex.ReadExactAt(0, indexHeader.data(), indexHeader.size());
      WriteIndex(pair, indexHeader, entries);
      const int64_t newSize = pair.Size();
      const int64_t newIndexSize = indexHeader.size() + int64_t(count) * 4;
      pair.Commit();
      freed = oldSize + oldIndexSize - newSize - newIndexSize;
      if (progress) progress(count, count);
    });
  } catch (...) {
    // Whatever happened, the object describes the files as they now are.
    jov.Close();
    try {
      jov.Open();
    } catch (...) {
    }
    throw;
  }
  jov.Close();
  jov.Open();
  return freed;
}
