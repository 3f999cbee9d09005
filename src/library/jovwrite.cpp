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
  THeaderField field;
  field.index = index;
  field.offset = fieldOffset;
  field.length = length;
  std::memcpy(field.bytes, bytes, size_t(length));
  Change([&](TJovTransaction& t) {
    if (!EntryOf(index)) return;
    t.Describe((length == 4 ? QStringLiteral("set the placement of image %1")
                : fieldOffset == 4 ? QStringLiteral("set X of image %1")
                                   : QStringLiteral("set Y of image %1"))
                   .arg(index));
    WriteHeaderFields(t, *this, {field});
    t.Commit();
    RefreshFromFiles();
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
    CheckAppendable(*this);
    t.Describe(QStringLiteral("append image %1").arg(imageCount_));
    const int32_t count = imageCount_ + 1;
    const int64_t at = t.OldSize(TLibFile::Data);
    const int64_t headerSize = jov::RecordHeaderSize(offSet_);
    CheckDataEnd(at);
    // The new entry stands at its own place behind the count's entries; whatever an
    // interrupted run of another program left behind them goes.
    const int64_t entryAt = jov::IndexEntryOffset(offSet_, imageCount_);
    const int64_t indexSize = t.OldSize(TLibFile::Index);
    ProtectCounts(t);
    if (indexSize > entryAt) t.Protect(TLibFile::Index, entryAt, indexSize - entryAt);
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

bool TJOV::ReplaceRecord(int index, int width, int height, const uint8_t* pixels,
                         TOperationDelegate* delegate) {
  if (!IsOpen()) return false;
  CheckRecordSize(width, height);
  bool replaced = false;
  Change(
      [&](TJovTransaction& t) {
        CheckWritable(*this);
        // A library without that image has no record to replace.
        if (index < 0 || index >= imageCount_ || !EntryOf(index)) return;
        t.Describe(QStringLiteral("replace image %1").arg(index));
        // The new size; the placement and its copy stay as they were.
        RewriteRecords(
            t, *this, {index}, std::pair(width, height),
            [&](int, const uint8_t* old) {
              return TRecordContent{width, height, old + 4, pixels};
            },
            delegate);
        t.Commit();
        RefreshFromFiles();
        replaced = true;
      },
      TChangeKind::Edit, delegate);
  return replaced;
}

// ---------------------------------------------------------------------------------------
// Pictures

bool TJOV::ReplaceImage(int index, const TPicture& picture, TOperationDelegate* delegate) {
  ToLibraryBitmap(workDIB_, palette_, picture);
  if (!IsOpen()) return false;
  return ReplaceRecord(index, workDIB_.PixelWidth(), workDIB_.PixelHeight(), workDIB_.PixelData(),
                       delegate);
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
