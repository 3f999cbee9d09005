#include "editing/rangeedit.h"

#include <QImage>
#include <algorithm>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"
#include "common/operation.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "library/recordops.h"
#include "library/tolibrary.h"

namespace {

int64_t FirstRecord(const TJOV& jov) {
  return jov::FirstRecordOffset(int(jov.FileType()));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Insert

void InsertRecord(TJOV& jov, int index, int width, int height, int x, int y, const uint8_t* pixels,
                  TOperationDelegate* delegate) {
  CheckWritable(jov);
  CheckRecordSize(width, height);
  if (index < 0) throw EJovError(QStringLiteral("There is no image %1.").arg(index));
  jov.Change(
      [&](TJovTransaction& t) {
        CheckWritable(jov);
        const int n = jov.ImageCount();
        const std::vector<int64_t> old = EntriesOf(jov, 0, n - 1);
        const int64_t fileSize = t.OldSize(TLibFile::Data);
        // Past the last image (a library without images included) the record goes to the
        // end of the data file, never over its header.
        const int at = std::min(index, n);
        const int64_t r = at < n ? old[size_t(at)] : fileSize;
        if (r < FirstRecord(jov) || r > fileSize)
          throw RecordRefusal(
              at, QStringLiteral("its index entry %1 is outside the data file.").arg(r));
        const int headerSize = jov::RecordHeaderSize(jov.OffSet());
        const int64_t length = headerSize + int64_t(width) * height;
        CheckDataEnd(fileSize + length);
        // The new entry, then every later one moved by the record's length.
        std::vector<int64_t> entries{r};
        for (int j = at; j < n; ++j) entries.push_back(old[size_t(j)] + length);

        ProtectCounts(t);
        t.Protect(TLibFile::Data, r, fileSize - r);
        t.Protect(TLibFile::Index, jov::IndexEntryOffset(jov.OffSet(), at),
                  int64_t(entries.size()) * 4);
        t.Begin();
        MoveTail(t, r, r + length, fileSize - r, delegate);
        uint8_t header[jov::RecordHeaderSize(4)];
        jov::EncodeRecordHeader(header, jov.OffSet(), width, height, x, y);
        const TFile::Part record[2] = {{header, headerSize},
                                       {const_cast<uint8_t*>(pixels), int64_t(width) * height}};
        t.WriteParts(TLibFile::Data, r, record, 2);
        WriteCounts(t, n + 1);
        WriteEntries(t, jov.OffSet(), at, entries);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}

void InSert(TJOV& jov, const TPicture& picture, int16_t x, int16_t y, int index,
            TOperationDelegate* delegate) {
  // A working bitmap of its own: the library object's stays as the last fetch left it.
  TDIB work;
  int width = 1, height = 1;
  static const uint8_t kOnePixel = 0;
  const uint8_t* pixels = &kOnePixel;
  try {
    ToLibraryBitmap(work, jov.Palette(), picture);
    if (!work.IsEmpty()) {
      width = work.PixelWidth();
      height = work.PixelHeight();
      pixels = work.PixelData();
    }
  } catch (const EJovError&) {
    // A picture that cannot be converted goes in as one pixel.
  }
  InsertRecord(jov, index, width, height, x, y, pixels, delegate);
}

// ---------------------------------------------------------------------------------------
// Delete

namespace {

// The entries of images s..remaining - 1 after deleting k images from s on: each keeps
// its distance from the one before it, the first at `start`.
std::vector<int64_t> EntriesAfterDelete(const std::vector<int64_t>& old, int s, int k,
                                        int remaining, int64_t start) {
  std::vector<int64_t> entries;
  for (int j = s; j < remaining; ++j)
    entries.push_back(j == s ? start
                             : entries.back() + (old[size_t(j + k)] - old[size_t(j + k) - 1]));
  return entries;
}

}  // namespace

void DeleteRange(TJOV& jov, int s, int e, TOperationDelegate* delegate) {
  CheckWritable(jov);
  jov.Change(
      [&](TJovTransaction& t) {
        CheckWritable(jov);
        const std::vector<int64_t> old = EntriesOf(jov, 0, jov.ImageCount() - 1);
        CheckImageRange(jov, s, e);
        const int n = jov.ImageCount(), k = e - s + 1, remaining = n - k;
        const int64_t fileSize = t.OldSize(TLibFile::Data);
        const int64_t a = old[size_t(s)];
        const int64_t b = e + 1 < n ? old[size_t(e) + 1] : fileSize;
        if (a < FirstRecord(jov) || b < a || b > fileSize)
          throw EJovError(QStringLiteral("Images %1 to %2 do not lie in order in the data file; "
                                         "nothing was deleted.")
                              .arg(s)
                              .arg(e));
        const std::vector<int64_t> entries =
            EntriesAfterDelete(old, s, k, remaining, s == 0 ? FirstRecord(jov) : a);
        const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet(), s);
        const int64_t indexSize = t.OldSize(TLibFile::Index);

        ProtectCounts(t);
        t.Protect(TLibFile::Data, a, fileSize - a);
        t.Protect(TLibFile::Index, entriesAt, indexSize - entriesAt);
        t.Begin();
        MoveTail(t, b, a, fileSize - b, delegate);
        if (b > a) t.Truncate(TLibFile::Data, fileSize - (b - a));
        WriteCounts(t, remaining);
        WriteEntries(t, jov.OffSet(), s, entries);
        const int64_t indexEnd = jov::IndexEntryOffset(jov.OffSet(), remaining);
        if (indexSize > indexEnd) t.Truncate(TLibFile::Index, indexEnd);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}

// ---------------------------------------------------------------------------------------
// Clear

namespace {

// The records of a clear: those of the range, checked to lie in order and apart, with
// no other record among them or behind one of them with its entry in front, so that
// the records behind each cleared one move with it exactly as their entries do.
std::vector<TRecordExtent> ClearedRecords(TJovTransaction& t, const TJOV& jov,
                                          const std::vector<int64_t>& old, int s, int e) {
  std::vector<TRecordExtent> recs;
  for (int i = s; i <= e; ++i) {
    recs.push_back(RecordExtent(t, jov, i, old[size_t(i)]));
    if (i > s && recs.back().at < recs[recs.size() - 2].end)
      throw RecordRefusal(i, QStringLiteral("its record overlaps the one before it."));
  }
  for (int j = 0; j < int(old.size()); ++j) {
    if ((j < s && old[size_t(j)] > old[size_t(s)]) || (j > e && old[size_t(j)] < recs.back().end))
      throw RecordRefusal(j < s ? s : e,
                          QStringLiteral("image %1 lies among the records of the range.").arg(j));
  }
  return recs;
}

// Writes the cleared records from recs[first] on, and whatever lies between them, front
// to back; returns where the stretch ends.
int64_t WriteClearedStretch(TJovTransaction& t, const std::vector<TRecordExtent>& recs,
                            size_t first, const TDIB& black, int headerSize, int done, int k,
                            TOperationDelegate* delegate) {
  const int64_t fileSize = t.OldSize(TLibFile::Data);
  TStretchWriter out(t, recs[first].at);
  uint8_t size[4];
  PutI16(size, int16_t(black.PixelWidth()));
  PutI16(size + 2, int16_t(black.PixelHeight()));
  for (size_t i = first; i < recs.size(); ++i) {
    const TRecordExtent& r = recs[i];
    // The new size; the placement and its copy stay; the new pixels; then whatever lies
    // between this record and the next.
    out.Put(size, 4);
    out.PutOld(r.at + 4, headerSize - 4);
    out.Put(black.ConstPixelData(), black.ImageSize());
    out.PutOld(r.end, (i + 1 < recs.size() ? recs[i + 1].at : fileSize) - r.end);
    Step(delegate, ++done, k);
  }
  return out.Flush();
}

}  // namespace

void ClearRange(TJOV& jov, int s, int e, TOperationDelegate* delegate) {
  CheckWritable(jov);
  // The record every image becomes: one black pixel as the writers store a picture.
  QImage onePixel(1, 1, QImage::Format_RGB32);
  onePixel.fill(Qt::black);
  TDIB black;
  ToLibraryBitmap(black, jov.Palette(), onePixel);
  const int64_t newPixels = black.ImageSize();

  jov.Change(
      [&](TJovTransaction& t) {
        CheckWritable(jov);
        const std::vector<int64_t> old = EntriesOf(jov, 0, jov.ImageCount() - 1);
        CheckImageRange(jov, s, e);
        const int k = e - s + 1;
        const int64_t fileSize = t.OldSize(TLibFile::Data);
        const int headerSize = jov::RecordHeaderSize(jov.OffSet());
        const std::vector<TRecordExtent> recs = ClearedRecords(t, jov, old, s, e);
        // Records of the new size are written in place up to the first one that changes
        // size; from there the data file is written anew to its end.
        int64_t grown = 0, total = 0;
        size_t first = recs.size();
        for (size_t i = 0; i < recs.size(); ++i) {
          const int64_t delta = newPixels - int64_t(recs[i].width) * recs[i].height;
          if (delta != 0 && first == recs.size()) first = i;
          total += delta;
          grown += std::max<int64_t>(0, delta);
        }
        CheckDataEnd(fileSize + grown);
        std::vector<int64_t> entries;
        int64_t moved = 0;
        for (int j = s + int(first) + 1; j < jov.ImageCount(); ++j) {
          if (j <= e)
            moved +=
                newPixels - int64_t(recs[size_t(j - s) - 1].width) * recs[size_t(j - s) - 1].height;
          entries.push_back(old[size_t(j)] + (j <= e ? moved : total));
        }

        for (size_t i = 0; i < first; ++i)
          t.Protect(TLibFile::Data, recs[i].at + headerSize, newPixels);
        if (first < recs.size())
          t.Protect(TLibFile::Data, recs[first].at, fileSize - recs[first].at);
        t.Protect(TLibFile::Index, jov::IndexEntryOffset(jov.OffSet(), s + int(first) + 1),
                  int64_t(entries.size()) * 4);
        t.Begin();
        Step(delegate, 0, k);
        for (size_t i = 0; i < first; ++i) {
          t.Write(TLibFile::Data, recs[i].at + headerSize, black.ConstPixelData(), newPixels);
          Step(delegate, int64_t(i) + 1, k);
        }
        if (first < recs.size()) {
          const int64_t end =
              WriteClearedStretch(t, recs, first, black, headerSize, int(first), k, delegate);
          // Records that shrink leave the file as long as it was; those that grow
          // lengthen it.  What lies behind the last record is not referenced.
          if (fileSize + grown > std::max(end, fileSize))
            t.Truncate(TLibFile::Data, fileSize + grown);
        }
        WriteEntries(t, jov.OffSet(), s + int(first) + 1, entries);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}
