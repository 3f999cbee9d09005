#include "editing/rangeedit.h"

#include <QImage>
#include <algorithm>
#include <limits>
#include <vector>

#include "common/bytebuffer.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "library/jovformat.h"
#include "library/jovjournal.h"
#include "library/myjov.h"
#include "library/tolibrary.h"

namespace {

constexpr int64_t kMaxDataSize = std::numeric_limits<int32_t>::max();

EJovError Refused(const QString& why) {
  return EJovError(why);
}

// The entries of every image, checked to be there: a change that moves records needs
// all of them.
std::vector<int32_t> AllEntries(const TJOV& jov) {
  if (jov.FileType == 2)
    throw Refused(QStringLiteral("Libraries of run-coded 16-bit images are read only."));
  std::vector<int32_t> entries(size_t(std::max(0, jov.ImageCount)));
  for (int i = 0; i < jov.ImageCount; ++i) {
    const std::optional<int32_t> entry = jov.EntryOf(i);
    if (!entry)
      throw Refused(QStringLiteral("The index file holds %1 entries for %2 images.")
                        .arg(i)
                        .arg(jov.ImageCount));
    entries[size_t(i)] = *entry;
  }
  return entries;
}

void CheckRange(const TJOV& jov, int s, int e) {
  if (s < 0 || e < s || e >= jov.ImageCount)
    throw Refused(QStringLiteral("Images %1 to %2 are not in the library (it has %3 images).")
                      .arg(s)
                      .arg(e)
                      .arg(jov.ImageCount));
}

int64_t FirstRecord(const TJOV& jov) {
  return jov::kFirstRecord + jov.OffSet;
}

// Moves length bytes of the data file from `from` to `to` in chunks, reporting the
// bytes moved: back to front towards the end, front to back towards the start.
void MoveTail(TJovTransaction& t, int64_t from, int64_t to, int64_t length,
              const TChangeProgress& progress) {
  if (length <= 0 || from == to) return;
  if (progress) progress(0, length);
  const int64_t chunk = TJovTransaction::kChunk;
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(chunk, length - done);
    const int64_t at = to > from ? length - done - n : done;
    t.Move(TLibFile::Data, from + at, to + at, n);
    done += n;
    if (progress) progress(done, length);
  }
}

void WriteEntries(TJovTransaction& t, int64_t at, const std::vector<int32_t>& entries) {
  if (entries.empty()) return;
  std::vector<uint8_t> bytes(entries.size() * 4);
  jov::EncodeIndexEntries(bytes.data(), entries);
  t.Write(TLibFile::Index, at, bytes.data(), int64_t(bytes.size()));
}

void WriteCounts(TJovTransaction& t, int32_t count) {
  uint8_t bytes[4];
  PutI32(bytes, count);
  t.Write(TLibFile::Data, jov::kCountOffset, bytes, 4);
  t.Write(TLibFile::Index, jov::kCountOffset, bytes, 4);
}

void ProtectCounts(TJovTransaction& t) {
  t.Protect(TLibFile::Data, jov::kCountOffset, 4);
  t.Protect(TLibFile::Index, jov::kCountOffset, 4);
}

// Writes a new stretch of the data file front to back from pieces: old bytes (as the file
// held them when the change started, so whatever was written over them meanwhile does
// not matter) and new bytes, gathered in one chunk-sized buffer.  Long runs of old bytes
// are copied by the transaction, inside the kernel where it can.
class TStretchWriter {
 public:
  TStretchWriter(TJovTransaction& t, int64_t at) : t_(t), at_(at) {
    buffer_ = storage_.Reserve(TJovTransaction::kChunk);
  }
  void Old(int64_t offset, int64_t n) {
    if (n >= kLongRun) {
      Flush();
      MoveTail(t_, offset, at_, n, nullptr);
      at_ += n;
      return;
    }
    while (n > 0) {
      const int64_t m = std::min(n, TJovTransaction::kChunk - fill_);
      t_.ReadOld(TLibFile::Data, offset, buffer_ + fill_, m);
      Advance(m);
      offset += m;
      n -= m;
    }
  }
  void New(const uint8_t* data, int64_t n) {
    while (n > 0) {
      const int64_t m = std::min(n, TJovTransaction::kChunk - fill_);
      std::copy(data, data + m, buffer_ + fill_);
      Advance(m);
      data += m;
      n -= m;
    }
  }
  // Writes what is gathered; returns the end of the stretch.
  int64_t Flush() {
    if (fill_ > 0) t_.Write(TLibFile::Data, at_, buffer_, fill_);
    at_ += fill_;
    fill_ = 0;
    return at_;
  }

 private:
  void Advance(int64_t m) {
    fill_ += m;
    if (fill_ == TJovTransaction::kChunk) Flush();
  }
  static constexpr int64_t kLongRun = 64 << 10;
  TJovTransaction& t_;
  int64_t at_;
  int64_t fill_ = 0;
  TByteBuffer storage_;
  uint8_t* buffer_;
};

template <class Op>
bool Reporting(QString* error, Op&& op) {
  try {
    op();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = QString::fromUtf8(e.what());
    return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Insert

void InsertRecord(TJOV& jov, int index, int width, int height, int x, int y, const uint8_t* pixels,
                  const TChangeProgress& progress) {
  if (!jov.IsOpen()) throw Refused(QStringLiteral("No library is open."));
  if (width <= 0 || height <= 0 || width > std::numeric_limits<int16_t>::max() ||
      height > std::numeric_limits<int16_t>::max())
    throw Refused(QStringLiteral("A picture of %1 x %2 pixels does not fit an image record.")
                      .arg(width)
                      .arg(height));
  if (index < 0) throw Refused(QStringLiteral("There is no image %1.").arg(index));
  jov.Change([&](TJovTransaction& t) {
    const std::vector<int32_t> old = AllEntries(jov);
    const int n = jov.ImageCount;
    const int64_t fileSize = t.OldSize(TLibFile::Data);
    // Past the last image (a library without images included) the record goes to the
    // end of the data file, never over its header.
    const int at = std::min(index, n);
    const int64_t r = at < n ? old[size_t(at)] : fileSize;
    if (r < FirstRecord(jov) || r > fileSize)
      throw Refused(QStringLiteral("Image %1 cannot be inserted before: its index entry %2 is "
                                   "outside the data file.")
                        .arg(at)
                        .arg(r));
    const int headerSize = jov::RecordHeaderSize(jov.OffSet);
    const int64_t length = headerSize + int64_t(width) * height;
    if (fileSize + length > kMaxDataSize)
      throw Refused(
          QStringLiteral("The data file would grow past 2 GiB, beyond what its index "
                         "can address."));
    // The new entry, then every later one moved by the record's length.
    std::vector<int32_t> entries(size_t(n - at) + 1);
    entries[0] = int32_t(r);
    for (int j = at; j < n; ++j) entries[size_t(j - at) + 1] = int32_t(old[size_t(j)] + length);
    const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet, at);

    ProtectCounts(t);
    t.Protect(TLibFile::Data, r, fileSize - r);
    t.Protect(TLibFile::Index, entriesAt, int64_t(entries.size()) * 4);
    t.Begin();
    MoveTail(t, r, r + length, fileSize - r, progress);
    uint8_t header[jov::RecordHeaderSize(4)];
    jov::EncodeRecordHeader(header, jov.OffSet, width, height, x, y);
    const TFile::Part record[2] = {{header, headerSize},
                                   {const_cast<uint8_t*>(pixels), int64_t(width) * height}};
    t.WriteParts(TLibFile::Data, r, record, 2);
    WriteCounts(t, n + 1);
    WriteEntries(t, entriesAt, entries);
    t.Commit();
    jov.RefreshFromFiles();
  });
}

bool InSert(TJOV& jov, const TPicture& picture, int16_t x, int16_t y, int index, QString* error,
            const TChangeProgress& progress) {
  return Reporting(error, [&] {
    // A working bitmap of its own: the library object's stays as the last fetch left it.
    TDIB work;
    int width = 1, height = 1;
    static const uint8_t kOnePixel = 0;
    const uint8_t* pixels = &kOnePixel;
    try {
      ToLibraryBitmap(work, jov.Palette, picture);
      if (!work.IsEmpty()) {
        width = work.PixelWidth();
        height = work.PixelHeight();
        pixels = work.PixelData();
      }
    } catch (const EJovError&) {
      // A picture that cannot be converted goes in as one pixel.
    }
    InsertRecord(jov, index, width, height, x, y, pixels, progress);
  });
}

// ---------------------------------------------------------------------------------------
// Delete

bool DeleteRange(TJOV& jov, int s, int e, QString* error, const TChangeProgress& progress) {
  return Reporting(error, [&] {
    if (!jov.IsOpen()) throw Refused(QStringLiteral("No library is open."));
    jov.Change([&](TJovTransaction& t) {
      const std::vector<int32_t> old = AllEntries(jov);
      CheckRange(jov, s, e);
      const int n = jov.ImageCount, k = e - s + 1, remaining = n - k;
      const int64_t fileSize = t.OldSize(TLibFile::Data);
      const int64_t a = old[size_t(s)];
      const int64_t b = e + 1 < n ? old[size_t(e) + 1] : fileSize;
      if (a < FirstRecord(jov) || b < a || b > fileSize)
        throw Refused(QStringLiteral("Images %1 to %2 do not lie in order in the data file; "
                                     "nothing was deleted.")
                          .arg(s)
                          .arg(e));
      const int64_t removed = b - a;
      // Each later entry keeps its distance from the one before it.
      std::vector<int32_t> entries(size_t(remaining - s));
      for (int j = s; j < remaining; ++j) {
        const int64_t base =
            j == s ? (s == 0 ? FirstRecord(jov) : a) : int64_t(entries[size_t(j - s) - 1]);
        const int64_t distance = j == s ? 0 : int64_t(old[size_t(j + k)]) - old[size_t(j + k) - 1];
        entries[size_t(j - s)] = int32_t(base + distance);
      }
      const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet, s);
      const int64_t indexSize = t.OldSize(TLibFile::Index);

      ProtectCounts(t);
      t.Protect(TLibFile::Data, a, fileSize - a);
      t.Protect(TLibFile::Index, entriesAt, indexSize - entriesAt);
      t.Begin();
      MoveTail(t, b, a, fileSize - b, progress);
      if (removed > 0) t.Truncate(TLibFile::Data, fileSize - removed);
      WriteCounts(t, remaining);
      WriteEntries(t, entriesAt, entries);
      const int64_t indexEnd = jov::IndexEntryOffset(jov.OffSet, remaining);
      if (indexSize > indexEnd) t.Truncate(TLibFile::Index, indexEnd);
      t.Commit();
      jov.RefreshFromFiles();
    });
  });
}

// ---------------------------------------------------------------------------------------
// Clear

bool ClearRange(TJOV& jov, int s, int e, const TChangeProgress& progress, QString* error) {
  return Reporting(error, [&] {
    if (!jov.IsOpen()) throw Refused(QStringLiteral("No library is open."));
    // The record every image becomes: one black pixel as the writers store a picture.
    QImage black(1, 1, QImage::Format_RGB32);
    black.fill(Qt::black);
    TDIB work;
    ToLibraryBitmap(work, jov.Palette, black);
    const int newWidth = work.PixelWidth(), newHeight = work.PixelHeight();
    const int64_t newPixels = int64_t(newWidth) * newHeight;
    const uint8_t* pixels = work.PixelData();

    jov.Change([&](TJovTransaction& t) {
      const std::vector<int32_t> old = AllEntries(jov);
      CheckRange(jov, s, e);
      const int n = jov.ImageCount, k = e - s + 1;
      const int64_t fileSize = t.OldSize(TLibFile::Data);
      const int headerSize = jov::RecordHeaderSize(jov.OffSet);
      auto damaged = [&](int i, const QString& what) {
        return Refused(QStringLiteral("Image %1 cannot be cleared: %2").arg(i).arg(what));
      };

      // The records of the range, in order and apart, and no other record among them or
      // behind one of them with its entry in front: then the records behind each cleared
      // one move with it exactly as their entries do.
      struct Rec {
        int64_t at, end, delta;
      };
      std::vector<Rec> recs(static_cast<size_t>(k));
      for (int i = s; i <= e; ++i) {
        const int64_t at = old[size_t(i)];
        if (at < FirstRecord(jov) || at + headerSize > fileSize)
          throw damaged(i, QStringLiteral("its index entry %1 is outside the data file.").arg(at));
        uint8_t size[4];
        t.File(TLibFile::Data).ReadExactAt(at, size, 4);
        const int w = GetI16(size), h = GetI16(size + 2);
        if (w < 0 || h < 0) throw damaged(i, QStringLiteral("its record has a negative size."));
        const int64_t end = at + headerSize + int64_t(w) * h;
        if (end > fileSize)
          throw damaged(i, QStringLiteral("its record runs past the end of the data file."));
        if (i > s && at < recs[size_t(i - s) - 1].end)
          throw damaged(i, QStringLiteral("its record overlaps the one before it."));
        recs[size_t(i - s)] = {at, end, newPixels - int64_t(w) * h};
      }
      for (int j = 0; j < n; ++j) {
        if ((j < s && old[size_t(j)] > old[size_t(s)]) ||
            (j > e && old[size_t(j)] < recs.back().end))
          throw damaged(j < s ? s : e, QStringLiteral("image %1 lies among the records of the "
                                                      "range.")
                                           .arg(j));
      }
      int64_t grown = 0, total = 0;
      for (const Rec& r : recs) {
        total += r.delta;
        grown += std::max<int64_t>(0, r.delta);
      }
      if (fileSize + grown > kMaxDataSize)
        throw Refused(
            QStringLiteral("The data file would grow past 2 GiB, beyond what its index "
                           "can address."));
      // Records of the new size are written in place up to the first one that changes
      // size; from there the data file is written anew to its end.
      size_t first = 0;
      while (first < recs.size() && recs[first].delta == 0) ++first;
      std::vector<int32_t> entries;
      int64_t moved = 0;
      for (int j = s + int(first) + 1; j < n; ++j) {
        if (j <= e) moved += recs[size_t(j - s) - 1].delta;
        entries.push_back(int32_t(old[size_t(j)] + (j <= e ? moved : total)));
      }
      const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet, s + int(first) + 1);

      for (size_t i = 0; i < first; ++i)
        t.Protect(TLibFile::Data, recs[i].at + headerSize, newPixels);
      if (first < recs.size()) t.Protect(TLibFile::Data, recs[first].at, fileSize - recs[first].at);
      t.Protect(TLibFile::Index, entriesAt, int64_t(entries.size()) * 4);
      t.Begin();
      int done = 0;
      if (progress) progress(0, k);
      for (size_t i = 0; i < first; ++i) {
        t.Write(TLibFile::Data, recs[i].at + headerSize, pixels, newPixels);
        if (progress) progress(++done, k);
      }
      if (first < recs.size()) {
        TStretchWriter out(t, recs[first].at);
        uint8_t size[4];
        PutI16(size, int16_t(newWidth));
        PutI16(size + 2, int16_t(newHeight));
        for (size_t i = first; i < recs.size(); ++i) {
          const Rec& r = recs[i];
          // The new size; the placement and its copy stay; the new pixels; then whatever
          // lies between this record and the next.
          out.New(size, 4);
          out.Old(r.at + 4, headerSize - 4);
          out.New(pixels, newPixels);
          out.Old(r.end, (i + 1 < recs.size() ? recs[i + 1].at : fileSize) - r.end);
          if (progress) progress(++done, k);
        }
        const int64_t end = out.Flush();
        // Records that shrink leave the file as long as it was; those that grow lengthen
        // it.  What lies behind the last record is not referenced.
        if (fileSize + grown > std::max(end, fileSize))
          t.Truncate(TLibFile::Data, fileSize + grown);
      }
      WriteEntries(t, entriesAt, entries);
      t.Commit();
      jov.RefreshFromFiles();
    });
  });
}
