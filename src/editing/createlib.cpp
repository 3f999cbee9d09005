#include "editing/createlib.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <variant>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/operation.h"
#include "editing/pictureloader.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "library/recordops.h"
#include "library/tolibrary.h"

// The templates are compiled into the core library; every program that uses it gets them.
static void InitTemplates() {
  Q_INIT_RESOURCE(templates);
}

namespace {

constexpr int kDataTemplateSize = 1080;
constexpr int kIndexTemplateSize = 48;

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

// Writes the index of a FileType 0 or 1 library: its header with the count, then the
// entries.
void WriteIndex(TJovTransaction& t, QByteArray header, int offSet,
                const std::vector<int64_t>& entries) {
  PutI32(reinterpret_cast<uint8_t*>(header.data()) + jov::kCountOffset, int32_t(entries.size()));
  t.Write(TLibFile::Index, 0, header.constData(), header.size());
  WriteEntries(t, offSet, 0, entries);
  // A pair rewritten in place may have been longer.
  t.Truncate(TLibFile::Index, header.size() + int64_t(entries.size()) * 4);
}

// The placement of a picture file of the folder: the typed pair, its placement file, or
// the offset the picture carries.
TPlacement PlacementOf(const TCreateOptions& options, const QString& path,
                       const TPicture& picture) {
  if (options.placement) return *options.placement;
  const QString placementPath = PlacementPathFor(path);
  if (FileExists(placementPath)) return ReadPlacementFile(placementPath);
  const QPoint offset = PictureOffset(picture);
  return {offset.x(), offset.y()};
}

// The new data file's front: the template with the count and the chosen palette.
QByteArray NewDataFront(const TCreateOptions& options, const QStringList& names,
                        const QString& folder) {
  QByteArray data = ReadTemplate(QStringLiteral("JOV"), kDataTemplateSize);
  PutI32(reinterpret_cast<uint8_t*>(data.data()) + jov::kCountOffset, int32_t(names.size()));
  auto* palette = reinterpret_cast<uint8_t*>(data.data()) + jov::PaletteOffset(0);
  if (!options.paletteFromFirstBitmap) return data;
  if (names.isEmpty())
    throw EJovError(
        QStringLiteral("\"%1\" holds no bitmap file to take the palette from.").arg(folder));
  if (options.format == TPictureFileFormat::Png)
    PaletteOfPicture(folder + names.first(), palette);
  else
    ReadPaletteBytes(folder + names.first(), palette);
  return data;
}

// Writes the records of the folder's pictures through out; returns their entries.
std::vector<int64_t> WritePictures(TStretchWriter& out, const TCreateOptions& options,
                                   const QStringList& names, const QString& folder,
                                   const TColorTable& colors, TOperationDelegate* delegate) {
  std::vector<int64_t> entries;
  entries.reserve(size_t(names.size()));
  TPictureLoader loader;
  TDIB work;
  const int total = int(names.size());
  for (int i = 0; i < total; ++i) {
    Step(delegate, i, total);
    const QString path = folder + names[i];
    const TPicture& picture = loader.Load(path);
    const TPlacement xy = PlacementOf(options, path, picture);
    const TLibraryRecord record =
        ToLibraryRecord(work, colors, picture, int16_t(xy.x), int16_t(xy.y));
    uint8_t header[jov::RecordHeaderSize(0)];
    jov::EncodeRecordHeader(header, 0, record.width, record.height, record.x, record.y);
    entries.push_back(out.Position());
    out.PutRecord(header, sizeof header, record.pixels, int64_t(record.width) * record.height);
  }
  out.Flush();
  return entries;
}

}  // namespace

int CreateLibrary(const TCreateOptions& options, TOperationDelegate* delegate) {
  const QString folder = WithTrailingSeparator(options.folder);
  const TLibraryPaths paths = TLibraryPaths::ForNew(options.dataPath);
  if (QFileInfo(paths.Index()).absoluteFilePath() == QFileInfo(paths.Data()).absoluteFilePath())
    throw EJovError(
        QStringLiteral("\"%1\" would be its own index file; choose a name ending in .jov.")
            .arg(options.dataPath));
  for (const QString& path : {paths.Data(), paths.Index()})
    if (QFileInfo(path).isDir()) throw EJovError(QStringLiteral("\"%1\" is a folder.").arg(path));
  const QStringList names = ListBitmapFiles(folder, options.format);
  const QByteArray front = NewDataFront(options, names, folder);
  const QByteArray indexHeader = ReadTemplate(QStringLiteral("JOX"), kIndexTemplateSize);
  TColorTable colors;
  std::memcpy(colors.data(), front.constData() + jov::PaletteOffset(0), colors.size());

  // An existing library there is replaced whole, under its writer's lock.
  TLibraryFiles files;
  OpenLibraryFiles(files, paths.Data());
  files.paths = paths;
  {
    TJovTransaction t(files, TChangeKind::Rewrite, delegate);
    t.Begin();
    TStretchWriter out(t, 0);
    out.Put(front.constData(), front.size());
    const std::vector<int64_t> entries =
        WritePictures(out, options, names, folder, colors, delegate);
    t.Truncate(TLibFile::Data, out.Position());
    WriteIndex(t, indexHeader, 0, entries);
    t.Commit();
  }
  CloseLibraryFiles(files);
  Report(delegate, names.size(), names.size());
  return int(names.size());
}

namespace {

// Writes the records of every image of jov packed in index order through out, a record
// shared by several entries once; returns the entries.
std::vector<int64_t> PackRecords(TStretchWriter& out, TJovTransaction& t, const TJOV& jov,
                                 TOperationDelegate* delegate) {
  const int64_t oldSize = t.OldSize(TLibFile::Data);
  const int64_t front = jov::FirstRecordOffset(int(jov.FileType()));
  const int64_t headerSize = jov::RecordHeaderSize(jov.OffSet());
  const int count = jov.ImageCount();
  // Grown image by image, not sized by the count: a damaged header may claim a billion
  // images that the index does not list, and the first image without an entry ends it.
  std::vector<int64_t> entries;
  entries.reserve(std::min(size_t(count), jov.IndexEntries().size()));
  // While entries only grow (as writers leave them) no record can come again, and none
  // is looked up.
  std::unordered_map<int64_t, int64_t> moved;
  int64_t highest = -1;
  for (int i = 0; i < count; ++i) {
    Step(delegate, i, count);
    const std::optional<int32_t> entry = jov.EntryOf(i);
    if (!entry) throw RecordRefusal(i, QStringLiteral("the index holds no entry for it."));
    const int64_t at = *entry;
    if (at <= highest && moved.empty()) {
      // The first entry out of order: the records so far are needed for look-ups.
      for (int k = 0; k < i; ++k) moved.emplace(*jov.EntryOf(k), entries[size_t(k)]);
    }
    if (auto it = moved.find(at); it != moved.end()) {
      entries.push_back(it->second);
      continue;
    }
    if (at < front || at + headerSize > oldSize)
      throw RecordRefusal(i, QStringLiteral("its entry %1 is outside the data file.").arg(at));
    const uint8_t* record = out.PeekOld(at, headerSize);
    const int w = GetI16(record), h = GetI16(record + 2);
    const int64_t length = headerSize + int64_t(std::max(w, 0)) * std::max(h, 0);
    if (w < 0 || h < 0 || at + length > oldSize)
      throw RecordRefusal(i, QStringLiteral("its record runs past the end of the data file."));
    entries.push_back(out.Position());
    if (!moved.empty()) moved.emplace(at, out.Position());
    highest = std::max(highest, at);
    out.PutOld(at, length);
  }
  out.Flush();
  return entries;
}

}  // namespace

int64_t CompactLibrary(TJOV& jov, TOperationDelegate* delegate) {
  CheckWritable(jov);
  int64_t freed = 0;
  try {
    jov.Change(
        [&](TJovTransaction& t) {
          const int offSet = jov.OffSet();
          const int64_t front = jov::FirstRecordOffset(int(jov.FileType()));
          if (t.OldSize(TLibFile::Data) < front)
            throw EJovError(QStringLiteral("The data file is %1 bytes, shorter than its header "
                                           "(%2 bytes); nothing was changed.")
                                .arg(t.OldSize(TLibFile::Data))
                                .arg(front));
          t.Begin();
          TStretchWriter out(t, 0);
          out.PutOld(0, front);
          const std::vector<int64_t> entries = PackRecords(out, t, jov, delegate);
          const int64_t newSize = out.Flush();
          t.Truncate(TLibFile::Data, newSize);
          uint8_t count[4];
          PutI32(count, jov.ImageCount());
          t.Write(TLibFile::Data, jov::kCountOffset, count, 4);
          QByteArray indexHeader(int(jov::kIndexHeaderSize + offSet), '\0');
          t.File(TLibFile::Index).ReadExactAt(0, indexHeader.data(), indexHeader.size());
          WriteIndex(t, indexHeader, offSet, entries);
          t.Commit();
          freed = t.OldSize(TLibFile::Data) + t.OldSize(TLibFile::Index) - newSize -
                  (indexHeader.size() + int64_t(entries.size()) * 4);
          Report(delegate, jov.ImageCount(), jov.ImageCount());
        },
        TChangeKind::Rewrite, delegate);
  } catch (...) {
    // Whatever happened, the object describes the files as they now are.
    try {
      jov.Open(jov.FileName());
    } catch (...) {
    }
    throw;
  }
  jov.Open(jov.FileName());
  return freed;
}
