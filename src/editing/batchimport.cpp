#include "editing/batchimport.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QSet>
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <variant>
#include <vector>

#include "common/bytebuffer.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/operation.h"
#include "editing/pictureloader.h"
#include "library/history.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "library/recordops.h"
#include "library/tolibrary.h"

namespace {

// A record about to be written: its size and pixel block.
struct TNewRecord {
  int width;
  int height;
  const uint8_t* pixels;
  int64_t pixelBytes;
};

// What stands in for a picture file that no reader takes.
enum class TPlaceholder {
  Wide,    // a 4 x 1 black image: a 1 x 1 black picture converted
  Narrow,  // a record of 1 x 1 whose pixel block is the 4 bytes of that same image
};

// Reads picture files and converts them into records of the library palette, with its
// own working bitmap: the library's is the viewer's.
class TRecordMaker {
 public:
  explicit TRecordMaker(const TColorTable& palette) : palette_(palette) {
    QImage black(1, 1, QImage::Format_RGB32);
    black.fill(Qt::black);
    ToLibraryBitmap(placeholder_, palette_, black);
  }

  // A conversion failure gives the placeholder when guarded, else it goes on.
  TNewRecord Make(const QString& path, TPlaceholder kind, bool guardConversion) {
    offset_ = {};
    if (path.isEmpty()) return Placeholder(kind);  // no such file
    const TPicture* picture = nullptr;
    try {
      picture = &loader_.Load(path);
    } catch (const EJovError&) {
      return Placeholder(kind);
    }
    const QPoint offset = PictureOffset(*picture);
    offset_ = {offset.x(), offset.y()};
    if (const auto* dib = std::get_if<TDIB>(&picture->Graphic))
      if (const std::optional<TNewRecord> record = TranslateIndexed(*dib)) return *record;
    if (const auto* image = std::get_if<QImage>(&picture->Graphic))
      if (InLibraryPalette(*image, palette_)) return AsItIs(*image);
    try {
      ToLibraryBitmap(work_, palette_, *picture);
    } catch (const EPictureTooLarge&) {
      throw;  // the whole run is refused
    } catch (const EJovError&) {
      if (!guardConversion) throw;
      return Placeholder(kind);
    }
    if (work_.IsEmpty()) return Placeholder(kind);
    return {work_.PixelWidth(), work_.PixelHeight(), work_.ConstPixelData(), work_.ImageSize()};
  }

  // The offset the file of the last Make carried (a PNG file's); 0, 0 for others.
  TPlacement Offset() const { return offset_; }

 private:
  // The palette index of each colour of a colour table whose colours are all in the
  // library palette (the first entry that holds it); false when one is not.
  bool TranslationOf(const TColorTable& colours) {
    if (lutFor_ && *lutFor_ == colours) return true;
    lutFor_.reset();
    for (int v = 0; v < 256; ++v) {
      int found = -1;
      for (int i = 0; i < 256 && found < 0; ++i)
        if (std::memcmp(&colours[size_t(v) * 4], &palette_[size_t(i) * 4], 3) == 0) found = i;
      if (found < 0) return false;
      lut_[size_t(v)] = uint8_t(found);
    }
    lutFor_ = colours;
    return true;
  }

  // An 8-bit bitmap whose colours are all colours of the library palette (an exported
  // picture, typically) converts index by index: each of its colours becomes the first
  // palette entry that holds it, as the full conversion maps exact colours, and the
  // columns that round the width up to 4 take the palette colour nearest to black.
  std::optional<TNewRecord> TranslateIndexed(const TDIB& dib) {
    if (dib.BitDepth() != 8 || dib.IsCompressed() || dib.IsEmpty()) return std::nullopt;
    const int w = dib.PixelWidth(), h = dib.PixelHeight();
    const int64_t stored = LibraryRowWidth(w);
    if (w <= 0 || h <= 0 || dib.RowBytes() < w) return std::nullopt;
    if (!TranslationOf(dib.Store().colorTable)) return std::nullopt;
    CheckPictureShown(w, h);
    const uint8_t black = placeholder_.ConstPixelData()[0];
    uint8_t* out = translated_.Reserve(stored * h);
    const uint8_t* in = dib.ConstPixelData();
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = in + int64_t(y) * dib.RowBytes();
      uint8_t* to = out + int64_t(y) * stored;
      for (int x = 0; x < w; ++x) to[x] = lut_[row[x]];
      std::memset(to + w, black, size_t(stored - w));
    }
    return TNewRecord{int(stored), h, out, stored * h};
  }

  // A picture in the library's own colours (a PNG file exported from it) is the record
  // it was made from: its indices as they are, at its own width, so that an exported
  // image comes back byte for byte whatever its width.
  TNewRecord AsItIs(const QImage& image) {
    const int w = image.width(), h = image.height();
    CheckRecordSize(w, h);
    uint8_t* out = translated_.Reserve(int64_t(w) * h);
    for (int y = 0; y < h; ++y)  // the bottom row first
      std::memcpy(out + int64_t(h - 1 - y) * w, image.constScanLine(y), size_t(w));
    return TNewRecord{w, h, out, int64_t(w) * h};
  }

  TNewRecord Placeholder(TPlaceholder kind) const {
    const int width = kind == TPlaceholder::Wide ? 4 : 1;
    return {width, 1, placeholder_.ConstPixelData(), 4};
  }

  const TColorTable& palette_;
  TPictureLoader loader_;
  std::optional<TColorTable> lutFor_;  // the colours lut_ was made for
  std::array<uint8_t, 256> lut_{};
  TByteBuffer translated_;
  TPlacement offset_;
  TDIB work_;
  TDIB placeholder_;
};

// The files of a folder, found by name without regard to case (the exact name first).
// The folder is listed once, so that a run over thousands of files does not list it for
// every one.
class TFolderNames {
 public:
  explicit TFolderNames(const QString& folder) {
    if (folder.isEmpty()) return;
    folder_ = WithTrailingSeparator(folder);
    for (const QString& name : QDir(folder_).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
      exact_.insert(name);
      byLower_.insert(name.toLower(), name);
    }
  }
  // The path of the file; empty when there is none.
  QString Find(const QString& name) const {
    if (exact_.contains(name)) return folder_ + name;
    const QString other = byLower_.value(name.toLower());
    return other.isEmpty() ? QString() : folder_ + other;
  }

 private:
  QString folder_;
  QSet<QString> exact_;
  QHash<QString, QString> byLower_;
};

// The placement pairs of a run: the typed pair, or the placement files of a folder.
class TPlacementFiles {
 public:
  TPlacementFiles(const QString& folder, const TImportPlacements& placements)
      : placements_(placements), names_(placements.newLike ? QString() : folder) {}

  // The pair for the placement file of that name; a missing file gives missing (the
  // offset of the picture file, or 0, 0).  Throws EPlacementFileError for a file of
  // fewer than two lines.
  TPlacement For(const QString& txtName, TPlacement missing = {}) const {
    if (placements_.newLike) return placements_.pair;
    const QString path = names_.Find(txtName);
    return path.isEmpty() ? missing : ReadPlacementFile(path);
  }

 private:
  TImportPlacements placements_;
  TFolderNames names_;
};

// The sub-folder "Placements" of an exchange folder, its name matched without regard to
// case; empty when there is none.
QString PlacementsFolderOf(const QString& folder) {
  const QDir dir(folder);
  const QString exact = QLatin1String(kPlacementsFolder);
  if (QFileInfo(dir.filePath(exact)).isDir()) return dir.filePath(exact);
  for (const QString& name : dir.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
    if (name.compare(exact, Qt::CaseInsensitive) == 0) return dir.filePath(name);
  return QString();
}

QString TxtNameOf(const QString& bitmapName) {
  return QFileInfo(bitmapName).completeBaseName() + QStringLiteral(".txt");
}

void PutRecord(TStretchWriter& out, const TNewRecord& record, int offSet, TPlacement xy) {
  uint8_t header[jov::RecordHeaderSize(4)];
  jov::EncodeRecordHeader(header, offSet, record.width, record.height, xy.x, xy.y);
  out.PutRecord(header, jov::RecordHeaderSize(offSet), record.pixels, record.pixelBytes);
}

// Writes the records of the first count files through out, one per file; their
// offsets go to entries.
void WriteFiles(TStretchWriter& out, const TJOV& jov, const QString& folder,
                const QStringList& files, int count, const TImportPlacements& placements,
                TPlaceholder kind, bool guardConversion, std::vector<int64_t>& entries,
                TOperationDelegate* delegate) {
  TRecordMaker maker(jov.Palette());
  const QString placementsFolder = placements.newLike ? QString() : PlacementsFolderOf(folder);
  const TPlacementFiles placementFiles(placementsFolder, placements);
  for (int k = 0; k < count; ++k) {
    Step(delegate, k, count);
    const TNewRecord record = maker.Make(folder + files[k], kind, guardConversion);
    const TPlacement xy = placementFiles.For(TxtNameOf(files[k]), maker.Offset());
    entries.push_back(out.Position());
    PutRecord(out, record, jov.OffSet(), xy);
  }
  out.Flush();
  Step(delegate, count, count);
}

// Whether a run over files has nothing to do; it then reports its end.
bool NothingToImport(const QStringList& files, TOperationDelegate* delegate) {
  if (!files.isEmpty()) return false;
  // The files stay as they are.
  Step(delegate, 0, 0);
  return true;
}

void CheckImageCount(int64_t count) {
  if (count > std::numeric_limits<int32_t>::max()) throw EJovError(std::string("Too many images."));
}

}  // namespace

void ImportAdd(TJOV& jov, const QString& folder, const QStringList& files,
               const TImportPlacements& placements, TOperationDelegate* delegate) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  const int n = int(files.size());
  if (NothingToImport(files, delegate)) return;
  jov.Change(
      [&](TJovTransaction& t) {
        const int count = jov.ImageCount();
        CheckImageCount(int64_t(count) + n);
        CheckAppendable(jov);
        t.Describe(QStringLiteral("import %1 at the end").arg(ImagesText(count, count + n - 1)));
        // The new entries stand at their own places behind the counted ones; whatever an
        // interrupted run of another program left there goes.
        const int64_t entryAt = jov::IndexEntryOffset(jov.OffSet(), count);
        const int64_t indexSize = t.OldSize(TLibFile::Index);
        ProtectCounts(t);
        if (indexSize > entryAt) t.Protect(TLibFile::Index, entryAt, indexSize - entryAt);
        t.Begin();
        std::vector<int64_t> entries;
        entries.reserve(size_t(n));
        TStretchWriter out(t, t.OldSize(TLibFile::Data));
        WriteFiles(out, jov, f, files, n, placements, TPlaceholder::Wide, false, entries, delegate);
        WriteCounts(t, count + n);
        WriteEntries(t, jov.OffSet(), count, entries);
        const int64_t entriesEnd = entryAt + 4 * int64_t(n);
        if (indexSize > entriesEnd) t.Truncate(TLibFile::Index, entriesEnd);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}

void ImportInsert(TJOV& jov, const QString& folder, const QStringList& files,
                  const TImportPlacements& placements, int begin, TOperationDelegate* delegate) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  const int n = int(files.size());
  CheckImageRange(jov, begin, begin);
  if (NothingToImport(files, delegate)) return;
  jov.Change(
      [&](TJovTransaction& t) {
        const int count = jov.ImageCount();
        CheckImageRange(jov, begin, begin);
        CheckImageCount(int64_t(count) + n);
        t.Describe(QStringLiteral("import %1 images before image %2").arg(n).arg(begin));
        const int64_t oldEnd = t.OldSize(TLibFile::Data);
        const std::vector<int64_t> old = EntriesOf(jov, 0, count - 1);
        const int64_t at = EntryInside(t, jov, begin, old[size_t(begin)]);
        TRecordPlaces places(t, jov);
        places.CheckNoneAcross(begin, at);
        // Everything from the insertion point on is written anew: the new records, then
        // the old ones as they were, every entry behind the point moving with them.
        const int first = FirstChangedEntry(old, begin, at);
        const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet(), first);
        ProtectCounts(t);
        t.Protect(TLibFile::Data, at, oldEnd - at);
        t.Protect(TLibFile::Index, entriesAt,
                  std::max<int64_t>(0, t.OldSize(TLibFile::Index) - entriesAt));
        t.Begin();
        std::vector<int64_t> added;
        added.reserve(size_t(n));
        TStretchWriter out(t, at);
        WriteFiles(out, jov, f, files, n, placements, TPlaceholder::Wide, true, added, delegate);
        const int64_t tailAt = out.Position();
        out.PutOld(at, oldEnd - at);
        out.Flush();
        std::vector<int64_t> entries = places.Moved({{at, tailAt - at}});
        entries.insert(entries.begin() + begin, added.begin(), added.end());
        WriteCounts(t, count + n);
        WriteEntries(t, jov.OffSet(), first,
                     std::vector<int64_t>(entries.begin() + first, entries.end()));
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}

void ImportReplace(TJOV& jov, const QString& folder, const QStringList& files,
                   const TImportPlacements& placements, int begin, int end,
                   TOperationDelegate* delegate) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  jov.Change(
      [&](TJovTransaction& t) {
        const int count = jov.ImageCount();
        CheckImageRange(jov, begin, end);
        const int n = end - begin + 1;
        t.Describe(QStringLiteral("import over %1").arg(ImagesText(begin, end)));
        if (files.size() < n)
          throw EJovError(QStringLiteral("The folder holds %1 bitmap files, fewer than the %2 "
                                         "images to replace.")
                              .arg(files.size())
                              .arg(n));
        const int64_t oldEnd = t.OldSize(TLibFile::Data);
        const std::vector<int64_t> old = EntriesOf(jov, 0, count - 1);
        const int64_t at = EntryInside(t, jov, begin, old[size_t(begin)]);
        // The records behind the range move; stale bytes behind the last image move with
        // them.  Behind the last image nothing moves.  When the bytes of the range are not
        // the range's own, the new records go to the end and only their entries change.
        const int64_t tailFrom = end + 1 < count ? old[size_t(end) + 1] : oldEnd;
        TRecordPlaces places(t, jov);
        for (int i = begin; i <= end; ++i) places.Name(i);
        const bool inPlace = tailFrom >= at && tailFrom <= oldEnd && places.Private(at, tailFrom);
        const int first = inPlace ? FirstChangedEntry(old, begin, tailFrom) : begin;
        if (inPlace) t.Protect(TLibFile::Data, at, oldEnd - at);
        const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet(), first);
        t.Protect(TLibFile::Index, entriesAt, 4 * int64_t(count - first));
        t.Begin();
        std::vector<int64_t> added;
        added.reserve(size_t(n));
        TStretchWriter out(t, inPlace ? at : oldEnd);
        WriteFiles(out, jov, f, files, n, placements, TPlaceholder::Narrow, true, added, delegate);
        const int64_t tailAt = out.Position();
        if (inPlace) out.PutOld(tailFrom, oldEnd - tailFrom);
        out.Flush();
        std::vector<int64_t> entries =
            inPlace ? places.Moved({{tailFrom, tailAt - tailFrom}}) : places.Entries();
        std::copy(added.begin(), added.end(), entries.begin() + begin);
        // The count stays, and the data file keeps its length when it got shorter.
        WriteEntries(t, jov.OffSet(), first,
                     std::vector<int64_t>(entries.begin() + first, entries.end()));
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}

void ImportPixels(TJOV& jov, const QString& folder, int begin, int end,
                  TOperationDelegate* delegate, TPictureFileFormat format) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  jov.Change(
      [&](TJovTransaction& t) {
        CheckImageRange(jov, begin, end);
        t.Describe(QStringLiteral("import the pixels of %1").arg(ImagesText(begin, end)));
        std::vector<int> images;
        for (int i = begin; i <= end; ++i) images.push_back(i);
        TRecordMaker maker(jov.Palette());
        const TFolderNames names(f);
        // The new size and pixels; the placement and its copy stay as they were.
        RewriteRecords(
            t, jov, images, std::nullopt,
            [&](int i, const uint8_t* old) {
              const TNewRecord record =
                  maker.Make(names.Find(ExchangeBitmapName(i, format)), TPlaceholder::Wide, true);
              return TRecordContent{record.width, record.height, old + 4, record.pixels};
            },
            delegate);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}

void ImportPlacements(TJOV& jov, const QString& folder, const TImportPlacements& placements,
                      int begin, int end, TOperationDelegate* delegate) {
  CheckWritable(jov);
  const TPlacementFiles files(folder, placements);
  jov.Change(
      [&](TJovTransaction& t) {
        CheckImageRange(jov, begin, end);
        t.Describe(QStringLiteral("import the placements of %1").arg(ImagesText(begin, end)));
        const int n = end - begin + 1;
        // Every pair is read before the first byte is written: a placement file that
        // cannot be read stops the run with the library as it was.
        std::vector<TPlacement> pairs;
        pairs.reserve(size_t(n));
        for (int k = 0; k < n; ++k) {
          Step(delegate, k, n);
          pairs.push_back(files.For(PlacementFileName(begin + k)));
        }
        std::vector<THeaderField> fields(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) {
          fields[size_t(k)].index = begin + k;
          // Stored in 16 bits: 65535 is -1.
          PutI16(fields[size_t(k)].bytes, int16_t(pairs[size_t(k)].x));
          PutI16(fields[size_t(k)].bytes + 2, int16_t(pairs[size_t(k)].y));
        }
        WriteHeaderFields(t, jov, fields);
        Step(delegate, n, n);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}
