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

void CheckImageCount(int64_t count) {
  if (count > std::numeric_limits<int32_t>::max()) throw EJovError(std::string("Too many images."));
}

}  // namespace

void ImportAdd(TJOV& jov, const QString& folder, const QStringList& files,
               const TImportPlacements& placements, TOperationDelegate* delegate) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  const int n = int(files.size());
  if (n == 0) {
    // Nothing to add: the files stay as they are.
    Step(delegate, 0, 0);
    return;
  }
  jov.Change(
      [&](TJovTransaction& t) {
        const int count = jov.ImageCount();
        CheckImageCount(int64_t(count) + n);
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
  if (n == 0) {
    // Nothing to insert: the files stay as they are.
    Step(delegate, 0, 0);
    return;
  }
  jov.Change(
      [&](TJovTransaction& t) {
        const int count = jov.ImageCount();
        CheckImageRange(jov, begin, begin);
        CheckImageCount(int64_t(count) + n);
        const int64_t oldEnd = t.OldSize(TLibFile::Data);
        const std::vector<int64_t> old = EntriesOf(jov, begin, count - 1);
        const int64_t at = EntryInside(t, jov, begin, old.front());
        // Everything from the insertion point on is written anew: the new records, then
        // the old ones as they were.
        const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet(), begin);
        ProtectCounts(t);
        t.Protect(TLibFile::Data, at, oldEnd - at);
        t.Protect(TLibFile::Index, entriesAt,
                  std::max<int64_t>(0, t.OldSize(TLibFile::Index) - entriesAt));
        t.Begin();
        std::vector<int64_t> entries;
        entries.reserve(size_t(n) + old.size());
        TStretchWriter out(t, at);
        WriteFiles(out, jov, f, files, n, placements, TPlaceholder::Wide, true, entries, delegate);
        const int64_t tailAt = out.Position();
        out.PutOld(at, oldEnd - at);
        out.Flush();
        for (const int64_t e : old) entries.push_back(tailAt + (e - at));
        WriteCounts(t, count + n);
        WriteEntries(t, jov.OffSet(), begin, entries);
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
        if (files.size() < n)
          throw EJovError(QStringLiteral("The folder holds %1 bitmap files, fewer than the %2 "
                                         "images to replace.")
                              .arg(files.size())
                              .arg(n));
        const int64_t oldEnd = t.OldSize(TLibFile::Data);
        const int64_t at = EntryInside(t, jov, begin, EntriesOf(jov, begin, begin)[0]);
        // The records behind the range move; stale bytes behind the last image move with
        // them.  Behind the last image nothing moves.
        const std::vector<int64_t> old = EntriesOf(jov, end + 1, count - 1);
        const int64_t tailFrom = old.empty() ? oldEnd : old.front();
        if (tailFrom < at || tailFrom > oldEnd)
          throw RecordRefusal(end + 1,
                              QStringLiteral("its record does not follow image %1.").arg(begin));
        t.Protect(TLibFile::Data, at, oldEnd - at);
        t.Protect(TLibFile::Index, jov::IndexEntryOffset(jov.OffSet(), begin),
                  4 * int64_t(count - begin));
        t.Begin();
        std::vector<int64_t> entries;
        entries.reserve(size_t(n) + old.size());
        TStretchWriter out(t, at);
        WriteFiles(out, jov, f, files, n, placements, TPlaceholder::Narrow, true, entries,
                   delegate);
        const int64_t tailAt = out.Position();
        out.PutOld(tailFrom, oldEnd - tailFrom);
        out.Flush();
        for (const int64_t e : old) entries.push_back(tailAt + (e - tailFrom));
        // The count stays, and the data file keeps its length when it got shorter.
        WriteEntries(t, jov.OffSet(), begin, entries);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}

namespace {

// The old records of a Pic run: each must lie whole in the file, in image order, so
// that one pass from the first rewrites them all.
std::vector<TRecordExtent> PicRecords(TJovTransaction& t, const TJOV& jov, int begin, int end) {
  std::vector<TRecordExtent> recs;
  const std::vector<int64_t> old = EntriesOf(jov, begin, end);
  for (int i = begin; i <= end; ++i) {
    recs.push_back(RecordExtent(t, jov, i, old[size_t(i - begin)]));
    if (i > begin && recs.back().at < recs[recs.size() - 2].end)
      throw RecordRefusal(i, QStringLiteral("its record does not follow image %1.").arg(i - 1));
  }
  return recs;
}

}  // namespace

void ImportPixels(TJOV& jov, const QString& folder, int begin, int end,
                  TOperationDelegate* delegate, TPictureFileFormat format) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  jov.Change(
      [&](TJovTransaction& t) {
        const int count = jov.ImageCount();
        CheckImageRange(jov, begin, end);
        const int n = end - begin + 1;
        const int64_t oldEnd = t.OldSize(TLibFile::Data);
        const int64_t headerSize = jov::RecordHeaderSize(jov.OffSet());
        const std::vector<int64_t> later = EntriesOf(jov, end + 1, count - 1);
        const std::vector<TRecordExtent> recs = PicRecords(t, jov, begin, end);
        t.Protect(TLibFile::Data, recs.front().at, oldEnd - recs.front().at);
        t.Protect(TLibFile::Index, jov::IndexEntryOffset(jov.OffSet(), begin + 1),
                  4 * int64_t(count - begin - 1));
        t.Begin();

        TRecordMaker maker(jov.Palette());
        const TFolderNames names(f);
        std::vector<int64_t> entries;  // of images begin + 1 .. count - 1
        entries.reserve(size_t(count - begin));
        TStretchWriter out(t, recs.front().at);
        int64_t moved = 0, grown = 0;
        bool sizeChanged = false;
        for (int k = 0; k < n; ++k) {
          const TRecordExtent& r = recs[size_t(k)];
          Step(delegate, k, n);
          const TNewRecord record = maker.Make(names.Find(ExchangeBitmapName(begin + k, format)),
                                               TPlaceholder::Wide, true);
          if (k > 0) entries.push_back(out.Position());
          // The new size; the placement and its copy stay as they were.
          uint8_t header[jov::RecordHeaderSize(4)];
          std::memcpy(header, out.PeekOld(r.at, headerSize), size_t(headerSize));
          PutI16(header, int16_t(record.width));
          PutI16(header + 2, int16_t(record.height));
          out.PutRecord(header, headerSize, record.pixels, record.pixelBytes);
          const int64_t delta = record.pixelBytes - int64_t(r.width) * r.height;
          sizeChanged = sizeChanged || delta != 0;
          moved += delta;
          // Replacing one image after another never shortens the file: it grows by
          // every record that grew.
          grown += std::max<int64_t>(0, delta);
          // The bytes up to the next image of the range (or, behind the last, up to the
          // end of the file) move along.
          out.PutOld(r.end, (k + 1 < n ? recs[size_t(k) + 1].at : oldEnd) - r.end);
        }
        const int64_t at = out.Flush();
        Step(delegate, n, n);
        if (sizeChanged) {
          for (const int64_t e : later) entries.push_back(e + moved);
          WriteEntries(t, jov.OffSet(), begin + 1, entries);
          CheckDataEnd(oldEnd + grown);
          if (oldEnd + grown > std::max(oldEnd, at)) t.Truncate(TLibFile::Data, oldEnd + grown);
        }
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
        const int n = end - begin + 1;
        // Every pair is read before the first byte is written: a placement file that
        // cannot be read stops the run with the library as it was.
        std::vector<TPlacement> pairs;
        pairs.reserve(size_t(n));
        for (int k = 0; k < n; ++k) {
          Step(delegate, k, n);
          pairs.push_back(files.For(PlacementFileName(begin + k)));
        }
        const int64_t fileSize = t.OldSize(TLibFile::Data);
        // A damaged entry is left alone, as the placement writers leave it.
        auto placeOf = [&](int i) -> int64_t {
          const std::optional<int32_t> entry = jov.EntryOf(i);
          if (!entry || *entry < 0 || int64_t(*entry) + jov::kImageHeaderSize > fileSize) return -1;
          return int64_t(*entry) + 4;
        };
        for (int i = begin; i <= end; ++i)
          if (const int64_t at = placeOf(i); at >= 0) t.Protect(TLibFile::Data, at, 4);
        t.Begin();
        for (int k = 0; k < n; ++k) {
          const int64_t at = placeOf(begin + k);
          if (at < 0) continue;
          uint8_t bytes[4];
          // Stored in 16 bits: 65535 is -1.
          PutI16(bytes, int16_t(pairs[size_t(k)].x));
          PutI16(bytes + 2, int16_t(pairs[size_t(k)].y));
          t.Write(TLibFile::Data, at, bytes, 4);
        }
        Step(delegate, n, n);
        t.Commit();
      },
      TChangeKind::Edit, delegate);
}
