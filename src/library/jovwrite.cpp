// TJOV's writers: placements and image records, each change one journalled transaction
// over the data file and the index file.

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"
#include "library/jovformat.h"
#include "library/jovjournal.h"
#include "library/myjov.h"
#include "library/tolibrary.h"

namespace {

constexpr int kMaxStoredSide = std::numeric_limits<int16_t>::max();

void CheckRecordSize(int width, int height) {
  if (width <= 0 || height <= 0 || width > kMaxStoredSide || height > kMaxStoredSide)
    throw EJovError(QStringLiteral("A picture of %1 x %2 pixels does not fit an image record "
                                   "(at most %3 x %3).")
                        .arg(width)
                        .arg(height)
                        .arg(kMaxStoredSide));
}

void RefuseReadOnlyVariant(int fileType) {
  if (fileType == 2)
    throw EJovError(std::string("Libraries of run-coded 16-bit images are read only."));
}

}  // namespace

void TJOV::RefreshFromFiles() {
  if (FileType == 2) {
    LoadIndex(indexFileName_);
  } else {
    uint8_t count[4];
    DataStream->ReadExactAt(jov::kCountOffset, count, 4);
    ImageCount = std::max(0, GetI32(count));
    // The 1084 rule is settled at opening; a FileType 0 layout under the variant 1 title
    // stays FileType 0.
    LoadIndex(indexFileName_);
  }
  GrowTables();
}

void TJOV::ResyncAfterFailure() {
  try {
    if (JournalIsHot(FileName)) {
      // The rollback did not finish: open again, which completes it (or refuses to read
      // the half-changed files).
      Close();
      Open();
    } else {
      RefreshFromFiles();
    }
  } catch (...) {
    // The error that brought us here is the one to report.
  }
}

std::unique_ptr<TJovTransaction> TJOV::StartTransaction() {
  for (int attempt = 0;; ++attempt) {
    try {
      return std::make_unique<TJovTransaction>(DataStream, journal_, FileName, indexFileName_);
    } catch (const ELibraryReplaced&) {
      if (attempt == 2 || FileType == 2) throw;
      std::unique_ptr<TFile> current = TFile::Open(FileName, TFile::Mode::ReadWrite);
      // Everything in front of the first record but the image count.
      const int64_t n = jov::kFirstRecord + OffSet;
      std::vector<uint8_t> mine(size_t(n), 0), theirs(size_t(n), 0);
      if (DataStream->ReadAt(0, mine.data(), n) != n || current->ReadAt(0, theirs.data(), n) != n)
        throw;
      std::fill_n(mine.begin() + jov::kCountOffset, 4, 0);
      std::fill_n(theirs.begin() + jov::kCountOffset, 4, 0);
      if (mine != theirs) throw;
      DataStream = std::move(current);
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
    RefuseReadOnlyVariant(FileType);
    const int32_t count = ImageCount + 1;
    const int64_t at = t.OldSize(TLibFile::Data);
    if (at > std::numeric_limits<int32_t>::max())
      throw EJovError(std::string("The data file is too large for another image."));
    // The new entry stands at its own place behind the count's entries; whatever an
    // interrupted run of another program left behind them goes.
    const int64_t entryAt = jov::IndexEntryOffset(OffSet, ImageCount);
    const int64_t indexSize = t.OldSize(TLibFile::Index);
    t.Protect(TLibFile::Data, jov::kCountOffset, 4);
    t.Protect(TLibFile::Index, jov::kCountOffset, 4);
    t.Protect(TLibFile::Index, entryAt, indexSize - entryAt);
    t.Begin();

    uint8_t countBytes[4], entryBytes[4], header[jov::RecordHeaderSize(4)];
    PutI32(countBytes, count);
    PutI32(entryBytes, int32_t(at));
    jov::EncodeRecordHeader(header, OffSet, width, height, x, y);
    const TFile::Part record[2] = {{header, jov::RecordHeaderSize(OffSet)},
                                   {const_cast<uint8_t*>(pixels), int64_t(width) * height}};
    t.Write(TLibFile::Data, jov::kCountOffset, countBytes, 4);
    t.WriteParts(TLibFile::Data, at, record, 2);
    t.Write(TLibFile::Index, jov::kCountOffset, countBytes, 4);
    t.Write(TLibFile::Index, entryAt, entryBytes, 4);
    if (indexSize > entryAt + 4) t.Truncate(TLibFile::Index, entryAt + 4);
    t.Commit();

    // The entries as the index now holds them: any missing ones read as 0, then the new
    // one and the closing slot.
    IndexEntries.resize(size_t(count) + 1, 0);
    IndexEntries[size_t(ImageCount)] = int32_t(at);
    IndexEntries[size_t(count)] = 0;
    ImageCount = count;
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
    RefuseReadOnlyVariant(FileType);
    // A library without that image has no record to replace.
    const std::optional<int32_t> entry = EntryOf(index);
    if (index < 0 || index >= ImageCount || !entry) return;
    const int64_t headerSize = jov::RecordHeaderSize(OffSet);
    const int64_t at = *entry;
    const int64_t fileSize = t.OldSize(TLibFile::Data);
    auto damaged = [&](const QString& what) {
      return EJovError(QStringLiteral("Image %1 cannot be replaced: %2").arg(index).arg(what));
    };
    if (at < jov::kFirstRecord + OffSet || at + headerSize > fileSize)
      throw damaged(QStringLiteral("its index entry %1 is outside the data file.").arg(at));
    uint8_t old[4];
    t.File(TLibFile::Data).ReadExactAt(at, old, 4);
    const int oldWidth = GetI16(old), oldHeight = GetI16(old + 2);
    if (oldWidth < 0 || oldHeight < 0)
      throw damaged(QStringLiteral("its record has a negative size."));
    const int64_t oldPixels = int64_t(oldWidth) * oldHeight;
    const int64_t newPixels = int64_t(width) * height;
    // The bytes behind the old record, stale bytes at the end of the file included.
    const int64_t tail = fileSize - at - headerSize - oldPixels;
    if (tail < 0) throw damaged(QStringLiteral("its record runs past the end of the data file."));

    if (width == oldWidth && height == oldHeight) {
      t.Protect(TLibFile::Data, at + headerSize, newPixels);
      t.Begin();
      t.Write(TLibFile::Data, at + headerSize, pixels, newPixels);
      t.Commit();
      replaced = true;
      return;
    }

    const int64_t delta = newPixels - oldPixels;
    const int64_t newEnd = at + headerSize + newPixels + tail;
    if (newEnd > std::numeric_limits<int32_t>::max())
      throw EJovError(
          std::string("The data file would grow past 2 GiB, beyond what its index can address."));
    // The later images' entries move with their records.
    int last = index;
    while (last + 1 < ImageCount && EntryOf(last + 1)) ++last;
    std::vector<uint8_t> entries(size_t(last - index) * 4);
    for (int i = index + 1; i <= last; ++i)
      PutI32(entries.data() + size_t(i - index - 1) * 4, int32_t(IndexEntries[size_t(i)] + delta));
    const int64_t entriesAt = jov::IndexEntryOffset(OffSet, index + 1);

    t.Protect(TLibFile::Data, at, 4);  // width and height; the placement stays
    // Everything behind the header, so that the tail moves from the journal's copy.
    t.Protect(TLibFile::Data, at + headerSize, fileSize - (at + headerSize));
    t.Protect(TLibFile::Index, entriesAt, int64_t(entries.size()));
    t.Begin();
    uint8_t size[4];
    PutI16(size, int16_t(width));
    PutI16(size + 2, int16_t(height));
    t.Write(TLibFile::Data, at, size, 4);
    // The records behind move first: when the record grows, its new pixels land on
    // the start of the old tail.
    t.Move(TLibFile::Data, at + headerSize + oldPixels, at + headerSize + newPixels, tail);
    t.Write(TLibFile::Data, at + headerSize, pixels, newPixels);
    if (!entries.empty())
      t.Write(TLibFile::Index, entriesAt, entries.data(), int64_t(entries.size()));
    t.Commit();
    for (int i = index + 1; i <= last; ++i) IndexEntries[size_t(i)] += int32_t(delta);
    replaced = true;
  });
  return replaced;
}

// ---------------------------------------------------------------------------------------
// Pictures

bool TJOV::ReplaceImage(int index, const TPicture& picture) {
  ToLibraryBitmap(workDIB_, Palette, picture);
  if (!IsOpen()) return false;
  return ReplaceRecord(index, workDIB_.PixelWidth(), workDIB_.PixelHeight(), workDIB_.PixelData());
}

bool TJOV::AppendImage(const TPicture& picture, int16_t x, int16_t y, QString* error) {
  try {
    // Too thin to be a sprite: the placeholder stands in, without the placement.
    const TLibraryRecord record = ToLibraryRecord(workDIB_, Palette, picture, x, y);
    if (!IsOpen()) return true;
    AppendRecord(record.width, record.height, record.x, record.y, record.pixels);
    return true;
  } catch (const std::exception& e) {
    if (error) *error = QString::fromUtf8(e.what());
    return false;
  }
}
