// TJOV's writers: placements and image records, each change one transaction over the
// data file and the index file.

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "library/recordops.h"
#include "library/tolibrary.h"

void TJOV::RefreshFromFiles() {
  if (fileType_ != TFileType::RunCoded) {
    uint8_t count[4];
    files_.data->ReadExactAt(jov::kCountOffset, count, 4);
    imageCount_ = std::max(0, GetI32(count));
  }
  // The 1084 rule is settled at opening; a FileType 0 layout under the variant 1 title
  // stays FileType 0.
  LoadIndex(files_.paths.Index());
  GrowTables();
}

void TJOV::ResyncAfterFailure() {
  try {
    if (JournalIsHot(files_.paths)) {
      // The rollback did not finish: open again, which completes it (or refuses to read
      // the half-changed files).
      Open(fileName_);
    } else if (IsOpen()) {
      RefreshFromFiles();
    }
  } catch (...) {
    // The error that brought us here is the one to report.
  }
}

std::unique_ptr<TJovTransaction> TJOV::StartTransaction(TChangeKind kind,
                                                        TOperationDelegate* delegate) {
  for (int attempt = 0;; ++attempt) {
    try {
      return std::make_unique<TJovTransaction>(files_, kind, delegate);
    } catch (const ELibraryReplaced&) {
      if (attempt == 2 || !IsWritable(fileType_)) throw;
      std::unique_ptr<TFile> current = TFile::Open(fileName_, TFile::Mode::ReadWrite);
      // Everything in front of the first record but the image count.
      const int64_t n = jov::kFirstRecord + offSet_;
      std::vector<uint8_t> mine(size_t(n), 0), theirs(size_t(n), 0);
      if (files_.data->ReadAt(0, mine.data(), n) != n || current->ReadAt(0, theirs.data(), n) != n)
        throw;
      std::fill_n(mine.begin() + jov::kCountOffset, 4, 0);
      std::fill_n(theirs.begin() + jov::kCountOffset, 4, 0);
      if (mine != theirs) throw;
      files_.data = std::move(current);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Placements

bool TJOV::WritePlacement(int index, int fieldOffset, const uint8_t* bytes, int length) {
  // An image the index does not reach has no record to write into: nothing to change.
  if (!IsOpen() || !EntryOf(index)) return true;
  Change([&](TJovTransaction& t) {
    const std::optional<int32_t> entry = EntryOf(index);
    if (!entry) return;
    const int64_t at = int64_t(*entry) + fieldOffset;
    // Never write outside the data file: a damaged entry is left alone.
    if (*entry < 0 || int64_t(*entry) + jov::kImageHeaderSize > t.OldSize(TLibFile::Data)) return;
    t.Protect(TLibFile::Data, at, length);
    t.Begin();
    t.Write(TLibFile::Data, at, bytes, length);
    t.Commit();
  });
  return true;
}

bool TJOV::SetImagePx(int index, int16_t value) {
  uint8_t bytes[2];
  PutI16(bytes, value);
  return WritePlacement(index, 4, bytes, 2);
}

bool TJOV::SetImagePy(int index, int16_t value) {
  uint8_t bytes[2];
  PutI16(bytes, value);
  return WritePlacement(index, 6, bytes, 2);
}

bool TJOV::SetImagePlacement(int index, int16_t x, int16_t y) {
  uint8_t bytes[4];
  PutI16(bytes, x);
  PutI16(bytes + 2, y);
  return WritePlacement(index, 4, bytes, 4);
}

// ---------------------------------------------------------------------------------------
// Appending

void TJOV::AppendRecord(int width, int height, int x, int y, const uint8_t* pixels) {
  if (!IsOpen()) return;
  Change([&](TJovTransaction& t) {
    CheckWritable(*this);
    const int32_t count = imageCount_ + 1;
    const int64_t at = t.OldSize(TLibFile::Data);
    const int64_t headerSize = jov::RecordHeaderSize(offSet_);
    CheckDataEnd(at);
    // The new entry stands at its own place behind the count's entries; whatever an
    // interrupted run of another program left behind them goes.
    const int64_t entryAt = jov::IndexEntryOffset(offSet_, imageCount_);
    const int64_t indexSize = t.OldSize(TLibFile::Index);
    ProtectCounts(t);
    t.Protect(TLibFile::Index, entryAt, indexSize - entryAt);
    t.Begin();

    uint8_t header[jov::RecordHeaderSize(4)];
    jov::EncodeRecordHeader(header, offSet_, width, height, x, y);
    const TFile::Part record[2] = {{header, headerSize},
                                   {const_cast<uint8_t*>(pixels), int64_t(width) * height}};
    WriteCounts(t, count);
    t.WriteParts(TLibFile::Data, at, record, 2);
    WriteEntries(t, offSet_, imageCount_, {at});
    if (indexSize > entryAt + 4) t.Truncate(TLibFile::Index, entryAt + 4);
    t.Commit();

    // The entries as the index now holds them: any missing ones read as 0, then the new
    // one and the closing slot.
    indexEntries_.resize(size_t(count) + 1, 0);
    indexEntries_[size_t(imageCount_)] = int32_t(at);
    indexEntries_[size_t(count)] = 0;
    imageCount_ = count;
    GrowTables();
  });
}

bool TJOV::AppendBlankImage() {
  return AppendImage(TPicture(), 0, 0);
}

// ---------------------------------------------------------------------------------------
// Replacing

bool TJOV::ReplaceRecord(int index, int width, int height, const uint8_t* pixels) {
  if (!IsOpen()) return false;
  CheckRecordSize(width, height);
  bool replaced = false;
  Change([&](TJovTransaction& t) {
    CheckWritable(*this);
    // A library without that image has no record to replace.
    const std::optional<int32_t> entry = EntryOf(index);
    if (index < 0 || index >= imageCount_ || !entry) return;
    const int64_t headerSize = jov::RecordHeaderSize(offSet_);
    const int64_t fileSize = t.OldSize(TLibFile::Data);
    const TRecordExtent old = RecordExtent(t, *this, index, *entry);
    const int64_t at = old.at;
    const int64_t oldPixels = int64_t(old.width) * old.height;
    const int64_t newPixels = int64_t(width) * height;
    // The bytes behind the old record, stale bytes at the end of the file included.
    const int64_t tail = fileSize - old.end;

    if (width == old.width && height == old.height) {
      t.Protect(TLibFile::Data, at + headerSize, newPixels);
      t.Begin();
      t.Write(TLibFile::Data, at + headerSize, pixels, newPixels);
      t.Commit();
      replaced = true;
      return;
    }

    const int64_t delta = newPixels - oldPixels;
    CheckDataEnd(at + headerSize + newPixels + tail);
    // The later images' entries move with their records.
    int last = index;
    while (last + 1 < imageCount_ && EntryOf(last + 1)) ++last;
    std::vector<int64_t> entries = EntriesOf(*this, index + 1, last);
    for (int64_t& e : entries) e += delta;

    t.Protect(TLibFile::Data, at, 4);  // width and height; the placement stays
    // Everything behind the header, so that the tail moves from the journal's copy.
    t.Protect(TLibFile::Data, at + headerSize, fileSize - (at + headerSize));
    t.Protect(TLibFile::Index, jov::IndexEntryOffset(offSet_, index + 1),
              int64_t(entries.size()) * 4);
    t.Begin();
    uint8_t size[4];
    PutI16(size, int16_t(width));
    PutI16(size + 2, int16_t(height));
    t.Write(TLibFile::Data, at, size, 4);
    // The records behind move first: when the record grows, its new pixels land on
    // the start of the old tail.
    t.Move(TLibFile::Data, old.end, at + headerSize + newPixels, tail);
    t.Write(TLibFile::Data, at + headerSize, pixels, newPixels);
    WriteEntries(t, offSet_, index + 1, entries);
    t.Commit();
    for (int i = index + 1; i <= last; ++i) indexEntries_[size_t(i)] += int32_t(delta);
    replaced = true;
  });
  return replaced;
}

// ---------------------------------------------------------------------------------------
// Pictures

bool TJOV::ReplaceImage(int index, const TPicture& picture) {
  ToLibraryBitmap(workDIB_, palette_, picture);
  if (!IsOpen()) return false;
  return ReplaceRecord(index, workDIB_.PixelWidth(), workDIB_.PixelHeight(), workDIB_.PixelData());
}

bool TJOV::AppendImage(const TPicture& picture, int16_t x, int16_t y, QString* error) {
  try {
    // Too thin to be a sprite: the placeholder stands in, without the placement.
    const TLibraryRecord record = ToLibraryRecord(workDIB_, palette_, picture, x, y);
    if (!IsOpen()) return true;
    AppendRecord(record.width, record.height, record.x, record.y, record.pixels);
    return true;
  } catch (const std::exception& e) {
    if (error) *error = QString::fromUtf8(e.what());
    return false;
  }
}
