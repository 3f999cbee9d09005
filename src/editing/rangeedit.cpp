#include "editing/rangeedit.h"

#include <QImage>
#include <algorithm>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"
#include "common/operation.h"
#include "library/history.h"
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
        t.Describe(QStringLiteral("insert 1 image at %1").arg(at));
        const int64_t r = at < n ? EntryInside(t, jov, at, old[size_t(at)]) : fileSize;
        TRecordPlaces places(t, jov);
        if (r < fileSize) places.CheckNoneAcross(at, r);
        const int headerSize = jov::RecordHeaderSize(jov.OffSet());
        const int64_t length = headerSize + int64_t(width) * height;
        // Every record from r on moves by the new record's length, its entry with it; or,
        // shifted in whole blocks, by a little more, the rest a gap behind the new record.
        const int64_t room = r < fileSize ? t.PlanShift(r, length) : 0;
        const int64_t step = room > 0 ? room : length;
        CheckDataEnd(fileSize + step);
        std::vector<int64_t> entries = places.Moved({{r, step}});
        entries.insert(entries.begin() + at, r);
        const int first = FirstChangedEntry(old, at, r);

        ProtectCounts(t);
        if (room == 0) t.Protect(TLibFile::Data, r, fileSize - r);
        const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet(), first);
        t.Protect(TLibFile::Index, entriesAt, t.OldSize(TLibFile::Index) - entriesAt);
        t.Begin();
        if (room > 0)
          t.Shift();
        else
          MoveTail(t, r, r + length, fileSize - r, delegate);
        uint8_t header[jov::RecordHeaderSize(4)];
        jov::EncodeRecordHeader(header, jov.OffSet(), width, height, x, y);
        const TFile::Part record[2] = {{header, headerSize},
                                       {const_cast<uint8_t*>(pixels), int64_t(width) * height}};
        t.WriteParts(TLibFile::Data, r, record, 2);
        WriteCounts(t, n + 1);
        WriteEntries(t, jov.OffSet(), first,
                     std::vector<int64_t>(entries.begin() + first, entries.end()));
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
  } catch (const EPictureTooLarge&) {
    throw;
  } catch (const EJovError&) {
    // A picture that cannot be converted goes in as one pixel.
  }
  InsertRecord(jov, index, width, height, x, y, pixels, delegate);
}

// ---------------------------------------------------------------------------------------
// Delete

namespace {

// Empties a variant 1 library.  Without images its index has no first entry to tell 1084
// by, and it is read with the layout of FileType 0: it is written so, its palette where
// that layout reads it, so that the palette the user sees stays the same.
void EmptyInShortLayout(TJovTransaction& t, const TJOV& jov) {
  t.Protect(TLibFile::Data, jov::kCountOffset, t.OldSize(TLibFile::Data) - jov::kCountOffset);
  t.Protect(TLibFile::Index, jov::kCountOffset, t.OldSize(TLibFile::Index) - jov::kCountOffset);
  t.Begin();
  WriteCounts(t, 0);
  t.Write(TLibFile::Data, jov::PaletteOffset(0), jov.Palette().data(), jov::kPaletteSize);
  t.Truncate(TLibFile::Data, jov::FirstRecordOffset(0));
  t.Truncate(TLibFile::Index, jov::IndexHeaderSize(0));
}

}  // namespace

void DeleteRange(TJOV& jov, int s, int e, TOperationDelegate* delegate) {
  CheckWritable(jov);
  jov.Change(
      [&](TJovTransaction& t) {
        CheckWritable(jov);
        const std::vector<int64_t> old = EntriesOf(jov, 0, jov.ImageCount() - 1);
        CheckImageRange(jov, s, e);
        t.Describe(QStringLiteral("delete %1").arg(ImagesText(s, e)));
        const int n = jov.ImageCount(), remaining = n - (e - s + 1);
        const int64_t fileSize = t.OldSize(TLibFile::Data);
        if (remaining == 0 && jov.FileType() == TFileType::IndexedLong) {
          EmptyInShortLayout(t, jov);
          t.Commit();
          jov.RefreshFromFiles();
          return;
        }
        // The block from the first deleted record to the next image's goes, everything
        // behind it moving down, when it holds the deleted images' records alone;
        // otherwise only the entries go, and the records stay as bytes nothing refers to.
        TRecordPlaces places(t, jov);
        for (int i = s; i <= e; ++i) places.Name(i);
        const int64_t a = old[size_t(s)];
        const int64_t b = e + 1 < n ? old[size_t(e) + 1] : fileSize;
        const bool block = a >= FirstRecord(jov) && a <= b && b <= fileSize && places.Private(a, b);
        // Closed up in whole blocks, the few bytes left over stay as a gap.
        const int64_t closed = block && a < b ? -t.PlanShift(a, a - b) : 0;
        std::vector<int64_t> moved =
            block ? places.Moved({{b, closed > 0 ? -closed : a - b}}) : old;
        moved.erase(moved.begin() + s, moved.begin() + e + 1);
        const int first = block ? FirstChangedEntry(old, s, b) : s;
        const int64_t entriesAt = jov::IndexEntryOffset(jov.OffSet(), first);
        const int64_t indexSize = t.OldSize(TLibFile::Index);

        ProtectCounts(t);
        if (block && closed == 0) t.Protect(TLibFile::Data, a, fileSize - a);
        t.Protect(TLibFile::Index, entriesAt, indexSize - entriesAt);
        t.Begin();
        if (closed > 0) {
          t.Shift();
        } else if (block) {
          MoveTail(t, b, a, fileSize - b, delegate);
          if (b > a) t.Truncate(TLibFile::Data, fileSize - (b - a));
        }
        WriteCounts(t, remaining);
        WriteEntries(t, jov.OffSet(), first,
                     std::vector<int64_t>(moved.begin() + first, moved.end()));
        const int64_t indexEnd = jov::IndexEntryOffset(jov.OffSet(), remaining);
        if (indexSize > indexEnd) t.Truncate(TLibFile::Index, indexEnd);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}

// ---------------------------------------------------------------------------------------
// Clear

void ClearRange(TJOV& jov, int s, int e, TOperationDelegate* delegate) {
  CheckWritable(jov);
  // The record every image becomes: one black pixel as the writers store a picture.
  QImage onePixel(1, 1, QImage::Format_RGB32);
  onePixel.fill(Qt::black);
  TDIB black;
  ToLibraryBitmap(black, jov.Palette(), onePixel);
  const int w = black.PixelWidth(), h = black.PixelHeight();
  jov.Change(
      [&](TJovTransaction& t) {
        CheckWritable(jov);
        CheckImageRange(jov, s, e);
        t.Describe(QStringLiteral("clear %1").arg(ImagesText(s, e)));
        std::vector<int> images;
        for (int i = s; i <= e; ++i) images.push_back(i);
        // The placement and its copy stay.
        RewriteRecords(
            t, jov, images, std::pair(w, h),
            [&](int, const uint8_t* old) {
              return TRecordContent{w, h, old + 4, black.ConstPixelData()};
            },
            delegate);
        t.Commit();
        jov.RefreshFromFiles();
      },
      TChangeKind::Edit, delegate);
}
