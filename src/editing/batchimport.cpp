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
#include "common/parseinteger.h"
#include "editing/pictureloader.h"
#include "library/jovformat.h"
#include "library/jovjournal.h"
#include "library/myjov.h"
#include "library/tolibrary.h"

namespace {

constexpr int64_t kMaxOffset = std::numeric_limits<int32_t>::max();

void CheckWritable(const TJOV& jov) {
  if (!jov.IsOpen()) throw EJovError(std::string("No library is open."));
  if (jov.FileType == 2)
    throw EJovError(std::string("Libraries of run-coded 16-bit images are read only."));
}

void CheckRange(const TJOV& jov, int begin, int end) {
  if (begin < 0 || end < begin || end >= jov.ImageCount)
    throw EJovError(QStringLiteral("Images %1..%2 are not in the library (it has %3 images).")
                        .arg(begin)
                        .arg(end)
                        .arg(jov.ImageCount));
}

EJovError Damaged(int index, const QString& what) {
  return EJovError(QStringLiteral("Image %1 cannot be rewritten: %2").arg(index).arg(what));
}

// The entry of image index, which must be in the index and inside the data file.
int64_t EntryInside(const TJOV& jov, int index, int64_t fileSize) {
  const std::optional<int32_t> entry = jov.EntryOf(index);
  if (!entry) throw Damaged(index, QStringLiteral("the index holds no entry for it."));
  if (*entry < jov::FirstRecordOffset(jov.FileType) || *entry > fileSize)
    throw Damaged(index,
                  QStringLiteral("its index entry %1 is outside the data file.").arg(*entry));
  return *entry;
}

// The index entries of images from..to, each of which must be there.
std::vector<int64_t> EntriesOf(const TJOV& jov, int from, int to) {
  std::vector<int64_t> entries;
  entries.reserve(size_t(std::max(0, to - from + 1)));
  for (int j = from; j <= to; ++j) {
    const std::optional<int32_t> entry = jov.EntryOf(j);
    if (!entry) throw Damaged(j, QStringLiteral("the index holds no entry for it."));
    entries.push_back(*entry);
  }
  return entries;
}

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
// own working bitmap: the library's is the viewer's, which paints while a run goes on.
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
  // An 8-bit bitmap whose colours are all colours of the library palette (an exported
  // picture, typically) converts index by index: each of its colours becomes the first
  // palette entry that holds it, as the full conversion maps exact colours, and the
  // columns that round the width up to 4 take the palette colour nearest to black.
  std::optional<TNewRecord> TranslateIndexed(const TDIB& dib) {
    if (dib.BitDepth() != 8 || dib.IsCompressed() || dib.IsEmpty()) return std::nullopt;
    const int w = dib.PixelWidth(), h = dib.PixelHeight();
    const int64_t stored = LibraryRowWidth(w);
    if (w <= 0 || h <= 0 || dib.RowBytes() < w) return std::nullopt;
    const TColorTable& colours = dib.Store().colorTable;
    if (!lutFor_ || *lutFor_ != colours) {
      lutFor_.reset();
      for (int v = 0; v < 256; ++v) {
        int found = -1;
        for (int i = 0; i < 256 && found < 0; ++i)
          if (std::memcmp(&colours[size_t(v) * 4], &palette_[size_t(i) * 4], 3) == 0) found = i;
        if (found < 0) return std::nullopt;
        lut_[size_t(v)] = uint8_t(found);
      }
      lutFor_ = colours;
    }
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

[[noreturn]] void TooLarge() {
  throw EJovError(
      std::string("The data file would grow past 2 GiB, beyond what its index can address."));
}

// Writes records one after the other from a position on, gathering small ones into one
// chunk-sized write.
class TRecordWriter {
 public:
  TRecordWriter(TJovTransaction& t, int64_t at) : t_(t), start_(at), at_(at) {}
  // Where the next record goes.
  int64_t Position() const { return at_; }

  void Put(const uint8_t* header, int64_t headerSize, const uint8_t* pixels, int64_t n) {
    const int64_t size = headerSize + n;
    if (at_ + size > kMaxOffset) TooLarge();
    if (used_ + size > TJovTransaction::kChunk) Flush();
    if (size > TJovTransaction::kChunk) {
      const TFile::Part parts[2] = {{const_cast<uint8_t*>(header), headerSize},
                                    {const_cast<uint8_t*>(pixels), n}};
      t_.WriteParts(TLibFile::Data, at_, parts, 2);
      at_ += size;
      start_ = at_;
      return;
    }
    uint8_t* buffer = buffer_.Reserve(TJovTransaction::kChunk, used_);
    std::memcpy(buffer + used_, header, size_t(headerSize));
    std::memcpy(buffer + used_ + headerSize, pixels, size_t(n));
    used_ += size;
    at_ += size;
  }
  void Put(const TNewRecord& record, int offSet, TPlacement xy) {
    uint8_t header[jov::RecordHeaderSize(4)];
    jov::EncodeRecordHeader(header, offSet, record.width, record.height, xy.x, xy.y);
    Put(header, jov::RecordHeaderSize(offSet), record.pixels, record.pixelBytes);
  }
  // Writes what is gathered; before anything else writes the data file.
  void Flush() {
    if (used_ > 0) t_.Write(TLibFile::Data, start_, buffer_.Data(), used_);
    used_ = 0;
    start_ = at_;
  }
  // Moves the position on past bytes written by someone else (after a Flush).
  void Skip(int64_t n) {
    at_ += n;
    start_ = at_;
  }

 private:
  TJovTransaction& t_;
  int64_t start_;  // where the gathered bytes go
  int64_t at_;
  int64_t used_ = 0;
  TByteBuffer buffer_;
};

// Copies length old bytes of the data file (as they were when the change started) from
// `from` to `to`, in chunks, inside the kernel where the file system can.
void CopyOld(TJovTransaction& t, int64_t from, int64_t to, int64_t length,
             const std::function<void()>& pump) {
  if (length <= 0) return;
  if (to + length > kMaxOffset) TooLarge();
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(TJovTransaction::kChunk, length - done);
    t.Move(TLibFile::Data, from + done, to + done, n);
    done += n;
    if (pump) pump();
  }
}

void WriteEntries(TJovTransaction& t, int offSet, int first, const std::vector<int64_t>& entries) {
  if (entries.empty()) return;
  std::vector<uint8_t> bytes(entries.size() * 4);
  for (size_t i = 0; i < entries.size(); ++i) PutI32(bytes.data() + 4 * i, int32_t(entries[i]));
  t.Write(TLibFile::Index, jov::IndexEntryOffset(offSet, first), bytes.data(),
          int64_t(bytes.size()));
}

void WriteCounts(TJovTransaction& t, int32_t count) {
  uint8_t bytes[4];
  PutI32(bytes, count);
  t.Write(TLibFile::Data, jov::kCountOffset, bytes, 4);
  t.Write(TLibFile::Index, jov::kCountOffset, bytes, 4);
}

void Report(const TImportProgress& progress, int done, int total) {
  if (progress) progress(done, total);
}

// Writes the records of files at `at` on, one per file, and returns where they end;
// their offsets go to entries.
int64_t WriteFiles(TJovTransaction& t, const TJOV& jov, const QString& folder,
                   const QStringList& files, int count, const TImportPlacements& placements,
                   TPlaceholder kind, bool guardConversion, int64_t at,
                   std::vector<int64_t>& entries, const TImportProgress& progress) {
  TRecordMaker maker(jov.Palette);
  const QString placementsFolder = placements.newLike ? QString() : PlacementsFolderOf(folder);
  const TPlacementFiles placementFiles(placementsFolder, placements);
  TRecordWriter out(t, at);
  for (int k = 0; k < count; ++k) {
    Report(progress, k, count);
    const TNewRecord record = maker.Make(folder + files[k], kind, guardConversion);
    const TPlacement xy = placementFiles.For(TxtNameOf(files[k]), maker.Offset());
    entries.push_back(out.Position());
    out.Put(record, jov.OffSet, xy);
  }
  out.Flush();
  Report(progress, count, count);
  return out.Position();
}

}  // namespace

void ImportAdd(TJOV& jov, const QString& folder, const QStringList& files,
               const TImportPlacements& placements, const TImportProgress& progress) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  const int n = int(files.size());
  if (n == 0) {
    // Nothing to add: the files stay as they are.
    Report(progress, 0, 0);
    return;
  }
  jov.Change([&](TJovTransaction& t) {
    const int count = jov.ImageCount;
    if (int64_t(count) + n > kMaxOffset) throw EJovError(std::string("Too many images."));
    // The new entries stand at their own places behind the counted ones; whatever an
    // interrupted run of another program left there goes.
    const int64_t entryAt = jov::IndexEntryOffset(jov.OffSet, count);
    const int64_t indexSize = t.OldSize(TLibFile::Index);
    t.Protect(TLibFile::Data, jov::kCountOffset, 4);
    t.Protect(TLibFile::Index, jov::kCountOffset, 4);
    if (indexSize > entryAt) t.Protect(TLibFile::Index, entryAt, indexSize - entryAt);
    t.Begin();
    std::vector<int64_t> entries;
    entries.reserve(size_t(n));
    WriteFiles(t, jov, f, files, n, placements, TPlaceholder::Wide, false,
               t.OldSize(TLibFile::Data), entries, progress);
    WriteCounts(t, count + n);
    WriteEntries(t, jov.OffSet, count, entries);
    const int64_t entriesEnd = entryAt + 4 * int64_t(n);
    if (indexSize > entriesEnd) t.Truncate(TLibFile::Index, entriesEnd);
    t.Commit();
    jov.RefreshFromFiles();
  });
}

void ImportInsert(TJOV& jov, const QString& folder, const QStringList& files,
                  const TImportPlacements& placements, int begin, const TImportProgress& progress) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  const int n = int(files.size());
  CheckRange(jov, begin, begin);
  if (n == 0) {
    // Nothing to insert: the files stay as they are.
    Report(progress, 0, 0);
    return;
  }
  jov.Change([&](TJovTransaction& t) {
    const int count = jov.ImageCount;
    CheckRange(jov, begin, begin);
    if (int64_t(count) + n > kMaxOffset) throw EJovError(std::string("Too many images."));
    const int64_t oldEnd = t.OldSize(TLibFile::Data);
    const std::vector<int64_t> old = EntriesOf(jov, begin, count - 1);
    const int64_t at = EntryInside(jov, begin, oldEnd);
    // Everything from the insertion point on is written anew: the new records, then
    // the old ones read back from the journal.
    const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet, begin);
    t.Protect(TLibFile::Data, jov::kCountOffset, 4);
    t.Protect(TLibFile::Index, jov::kCountOffset, 4);
    t.Protect(TLibFile::Data, at, oldEnd - at);
    t.Protect(TLibFile::Index, entriesAt,
              std::max<int64_t>(0, t.OldSize(TLibFile::Index) - entriesAt));
    t.Begin();
    std::vector<int64_t> entries;
    entries.reserve(size_t(n) + old.size());
    const int64_t tailAt = WriteFiles(t, jov, f, files, n, placements, TPlaceholder::Wide, true, at,
                                      entries, progress);
    CopyOld(t, at, tailAt, oldEnd - at, [&] { Report(progress, n, n); });
    for (const int64_t e : old) entries.push_back(tailAt + (e - at));
    WriteCounts(t, count + n);
    WriteEntries(t, jov.OffSet, begin, entries);
    t.Commit();
    jov.RefreshFromFiles();
  });
}

void ImportReplace(TJOV& jov, const QString& folder, const QStringList& files,
                   const TImportPlacements& placements, int begin, int end,
                   const TImportProgress& progress) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  jov.Change([&](TJovTransaction& t) {
    const int count = jov.ImageCount;
    CheckRange(jov, begin, end);
    const int n = end - begin + 1;
    if (files.size() < n)
      throw EJovError(QStringLiteral("The folder holds %1 bitmap files, fewer than the %2 images "
                                     "to replace.")
                          .arg(files.size())
                          .arg(n));
    const int64_t oldEnd = t.OldSize(TLibFile::Data);
    const int64_t at = EntryInside(jov, begin, oldEnd);
    // The records behind the range move; stale bytes behind the last image move with
    // them.  Behind the last image nothing moves.
    const std::vector<int64_t> old = EntriesOf(jov, end + 1, count - 1);
    const int64_t tailFrom = old.empty() ? oldEnd : old.front();
    if (tailFrom < at || tailFrom > oldEnd)
      throw Damaged(end + 1, QStringLiteral("its record does not follow image %1.").arg(begin));
    t.Protect(TLibFile::Data, at, oldEnd - at);
    t.Protect(TLibFile::Index, jov::IndexEntryOffset(jov.OffSet, begin),
              4 * int64_t(count - begin));
    t.Begin();
    std::vector<int64_t> entries;
    entries.reserve(size_t(n) + old.size());
    const int64_t tailAt = WriteFiles(t, jov, f, files, n, placements, TPlaceholder::Narrow, true,
                                      at, entries, progress);
    CopyOld(t, tailFrom, tailAt, oldEnd - tailFrom, [&] { Report(progress, n, n); });
    for (const int64_t e : old) entries.push_back(tailAt + (e - tailFrom));
    // The count stays, and the data file keeps its length when it got shorter.
    WriteEntries(t, jov.OffSet, begin, entries);
    t.Commit();
    jov.RefreshFromFiles();
  });
}

void ImportPixels(TJOV& jov, const QString& folder, int begin, int end,
                  const TImportProgress& progress, TPictureFileFormat format) {
  CheckWritable(jov);
  const QString f = WithTrailingSeparator(folder);
  jov.Change([&](TJovTransaction& t) {
    const int count = jov.ImageCount;
    CheckRange(jov, begin, end);
    const int n = end - begin + 1;
    const int64_t oldEnd = t.OldSize(TLibFile::Data);
    const int64_t headerSize = jov::RecordHeaderSize(jov.OffSet);
    const std::vector<int64_t> old = EntriesOf(jov, begin, end);
    const std::vector<int64_t> later = EntriesOf(jov, end + 1, count - 1);
    // The old records of the range: each must lie whole in the file, in image order,
    // so that one pass from the first rewrites them all.
    std::vector<int64_t> oldPixels(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
      const int i = begin + k;
      const int64_t at = EntryInside(jov, i, oldEnd);
      if (k > 0 && at < old[size_t(k - 1)] + headerSize + oldPixels[size_t(k - 1)])
        throw Damaged(i, QStringLiteral("its record does not follow image %1.").arg(i - 1));
      uint8_t size[4];
      if (at + headerSize > oldEnd) throw Damaged(i, QStringLiteral("its record is cut short."));
      t.File(TLibFile::Data).ReadExactAt(at, size, 4);
      const int w = GetI16(size), h = GetI16(size + 2);
      if (w < 0 || h < 0) throw Damaged(i, QStringLiteral("its record has a negative size."));
      oldPixels[size_t(k)] = int64_t(w) * h;
      if (at + headerSize + oldPixels[size_t(k)] > oldEnd)
        throw Damaged(i, QStringLiteral("its record runs past the end of the data file."));
    }
    const int64_t first = old.front();
    t.Protect(TLibFile::Data, first, oldEnd - first);
    t.Protect(TLibFile::Index, jov::IndexEntryOffset(jov.OffSet, begin + 1),
              4 * int64_t(count - begin - 1));
    t.Begin();

    TRecordMaker maker(jov.Palette);
    const TFolderNames names(f);
    std::vector<int64_t> entries;  // of images begin + 1 .. count - 1
    entries.reserve(size_t(count - begin));
    TRecordWriter out(t, first);
    int64_t moved = 0, grown = 0;
    bool sizeChanged = false;
    for (int k = 0; k < n; ++k) {
      const int i = begin + k;
      Report(progress, k, n);
      const TNewRecord record =
          maker.Make(names.Find(ExchangeBitmapName(i, format)), TPlaceholder::Wide, true);
      if (k > 0) entries.push_back(out.Position());
      // The new size; the placement and its copy stay as they were.
      uint8_t header[jov::RecordHeaderSize(4)];
      t.ReadOld(TLibFile::Data, old[size_t(k)], header, headerSize);
      PutI16(header, int16_t(record.width));
      PutI16(header + 2, int16_t(record.height));
      out.Put(header, headerSize, record.pixels, record.pixelBytes);
      const int64_t delta = record.pixelBytes - oldPixels[size_t(k)];
      if (delta != 0) sizeChanged = true;
      moved += delta;
      // Replacing one image after another never shortens the file: it grows by every
      // record that grew.
      grown += std::max<int64_t>(0, delta);
      // The bytes up to the next image of the range (or, behind the last, up to the
      // end of the file) move along.
      const int64_t from = old[size_t(k)] + headerSize + oldPixels[size_t(k)];
      const int64_t to = k + 1 < n ? old[size_t(k + 1)] : oldEnd;
      if (to > from) {
        out.Flush();
        CopyOld(t, from, out.Position(), to - from, nullptr);
        out.Skip(to - from);
      }
    }
    out.Flush();
    const int64_t at = out.Position();
    Report(progress, n, n);
    if (sizeChanged) {
      for (const int64_t e : later) entries.push_back(e + moved);
      WriteEntries(t, jov.OffSet, begin + 1, entries);
      const int64_t length = oldEnd + grown;
      if (length > kMaxOffset) TooLarge();
      if (length > std::max(oldEnd, at)) t.Truncate(TLibFile::Data, length);
    }
    t.Commit();
    jov.RefreshFromFiles();
  });
}

void ImportPlacements(TJOV& jov, const QString& folder, const TImportPlacements& placements,
                      int begin, int end, const TImportProgress& progress) {
  CheckWritable(jov);
  const TPlacementFiles files(folder, placements);
  jov.Change([&](TJovTransaction& t) {
    CheckRange(jov, begin, end);
    const int n = end - begin + 1;
    // Every pair is read before the first byte is written: a placement file that cannot
    // be read stops the run with the library as it was.
    std::vector<TPlacement> pairs;
    pairs.reserve(size_t(n));
    for (int k = 0; k < n; ++k) {
      Report(progress, k, n);
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
    Report(progress, n, n);
    t.Commit();
  });
}
