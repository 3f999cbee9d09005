#include "library/recordops.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/byteio.h"
#include "common/operation.h"
#include "library/jovformat.h"
#include "library/myjov.h"

namespace {

constexpr int64_t kMaxDataEnd = std::numeric_limits<int32_t>::max();
constexpr int kMaxStoredSide = std::numeric_limits<int16_t>::max();
// Runs of old bytes at least this long are moved by the transaction rather than read.
constexpr int64_t kLongRun = 64 << 10;

}  // namespace

// ---------------------------------------------------------------------------------------
// Refusals

void CheckDataEnd(int64_t end) {
  if (end > kMaxDataEnd)
    throw EJovError(
        std::string("The data file would grow past 2 GiB, beyond what its index can address."));
}

void CheckWritable(const TJOV& jov) {
  if (!jov.IsOpen()) throw EJovError(std::string("No library is open."));
  if (!IsWritable(jov.FileType()))
    throw EJovError(std::string("Libraries of run-coded 16-bit images are read only."));
}

void CheckImageRange(const TJOV& jov, int first, int last) {
  if (first < 0 || last < first || last >= jov.ImageCount())
    throw EJovError(QStringLiteral("Images %1 to %2 are not in the library (it has %3 images).")
                        .arg(first)
                        .arg(last)
                        .arg(jov.ImageCount()));
}

void CheckRecordSize(int width, int height) {
  if (width <= 0 || height <= 0 || width > kMaxStoredSide || height > kMaxStoredSide)
    throw EJovError(QStringLiteral("A picture of %1 x %2 pixels does not fit an image record "
                                   "(at most %3 x %3).")
                        .arg(width)
                        .arg(height)
                        .arg(kMaxStoredSide));
}

EJovError RecordRefusal(int index, const QString& why) {
  return EJovError(QStringLiteral("Image %1 cannot be changed: %2").arg(index).arg(why));
}

// ---------------------------------------------------------------------------------------
// Reading

std::vector<int64_t> EntriesOf(const TJOV& jov, int first, int last) {
  std::vector<int64_t> entries;
  entries.reserve(size_t(std::max(0, last - first + 1)));
  for (int i = first; i <= last; ++i) {
    const std::optional<int32_t> entry = jov.EntryOf(i);
    if (!entry) throw RecordRefusal(i, QStringLiteral("the index holds no entry for it."));
    entries.push_back(*entry);
  }
  return entries;
}

int64_t EntryInside(TJovTransaction& t, const TJOV& jov, int index, int64_t entry) {
  if (entry < jov::FirstRecordOffset(int(jov.FileType())) || entry > t.OldSize(TLibFile::Data))
    throw RecordRefusal(index,
                        QStringLiteral("its index entry %1 is outside the data file.").arg(entry));
  return entry;
}

TRecordExtent RecordExtent(TJovTransaction& t, const TJOV& jov, int index, int64_t entry) {
  const int64_t headerSize = jov::RecordHeaderSize(jov.OffSet());
  const int64_t fileSize = t.OldSize(TLibFile::Data);
  if (EntryInside(t, jov, index, entry) + headerSize > fileSize)
    throw RecordRefusal(index,
                        QStringLiteral("its index entry %1 is outside the data file.").arg(entry));
  uint8_t size[4];
  t.File(TLibFile::Data).ReadExactAt(entry, size, 4);
  TRecordExtent r;
  r.at = entry;
  r.width = GetI16(size);
  r.height = GetI16(size + 2);
  if (r.width < 0 || r.height < 0)
    throw RecordRefusal(index, QStringLiteral("its record has a negative size."));
  r.end = entry + headerSize + int64_t(r.width) * r.height;
  if (r.end > fileSize)
    throw RecordRefusal(index, QStringLiteral("its record runs past the end of the data file."));
  return r;
}

// ---------------------------------------------------------------------------------------
// Writing

void ProtectCounts(TJovTransaction& t) {
  t.Protect(TLibFile::Data, jov::kCountOffset, 4);
  t.Protect(TLibFile::Index, jov::kCountOffset, 4);
}

void WriteCounts(TJovTransaction& t, int32_t count) {
  uint8_t bytes[4];
  PutI32(bytes, count);
  t.Write(TLibFile::Data, jov::kCountOffset, bytes, 4);
  t.Write(TLibFile::Index, jov::kCountOffset, bytes, 4);
}

void WriteEntries(TJovTransaction& t, int offSet, int first, const std::vector<int64_t>& entries) {
  if (entries.empty()) return;
  std::vector<uint8_t> bytes(entries.size() * 4);
  for (size_t i = 0; i < entries.size(); ++i) {
    CheckDataEnd(entries[i]);
    PutI32(bytes.data() + 4 * i, int32_t(entries[i]));
  }
  t.Write(TLibFile::Index, jov::IndexEntryOffset(offSet, first), bytes.data(),
          int64_t(bytes.size()));
}

void MoveTail(TJovTransaction& t, int64_t from, int64_t to, int64_t length,
              TOperationDelegate* delegate) {
  if (length <= 0 || from == to) return;
  CheckDataEnd(to + length);
  Step(delegate, 0, length);
  const int64_t chunk = TJovTransaction::kChunk;
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(chunk, length - done);
    const int64_t at = to > from ? length - done - n : done;
    t.Move(TLibFile::Data, from + at, to + at, n);
    done += n;
    Step(delegate, done, length);
  }
}

// ---------------------------------------------------------------------------------------
// TStretchWriter

TStretchWriter::TStretchWriter(TJovTransaction& t, int64_t at) : t_(t), start_(at), at_(at) {
  buffer_.Reserve(TJovTransaction::kChunk);
}

void TStretchWriter::Fill(const uint8_t* data, int64_t n) {
  while (n > 0) {
    const int64_t m = std::min(n, TJovTransaction::kChunk - used_);
    std::memcpy(buffer_.Data() + used_, data, size_t(m));
    used_ += m;
    at_ += m;
    data += m;
    n -= m;
    if (used_ == TJovTransaction::kChunk) Flush();
  }
}

void TStretchWriter::Put(const void* data, int64_t n) {
  CheckDataEnd(at_ + n);
  if (n < TJovTransaction::kChunk) {
    Fill(static_cast<const uint8_t*>(data), n);
    return;
  }
  Flush();
  t_.Write(TLibFile::Data, at_, data, n);
  at_ += n;
  start_ = at_;
}

void TStretchWriter::PutRecord(const uint8_t* header, int64_t headerSize, const uint8_t* pixels,
                               int64_t n) {
  const int64_t size = headerSize + n;
  CheckDataEnd(at_ + size);
  if (used_ + size > TJovTransaction::kChunk) Flush();
  if (size <= TJovTransaction::kChunk) {
    Fill(header, headerSize);
    Fill(pixels, n);
    return;
  }
  const TFile::Part parts[2] = {{const_cast<uint8_t*>(header), headerSize},
                                {const_cast<uint8_t*>(pixels), n}};
  t_.WriteParts(TLibFile::Data, at_, parts, 2);
  at_ += size;
  start_ = at_;
}

void TStretchWriter::PutOld(int64_t offset, int64_t n) {
  if (n <= 0) return;
  CheckDataEnd(at_ + n);
  if (n < kLongRun) {
    Fill(Window(offset, n), n);
    return;
  }
  Flush();
  for (int64_t done = 0; done < n;) {
    CheckCancel(t_.Delegate());
    const int64_t m = std::min(TJovTransaction::kChunk, n - done);
    t_.Move(TLibFile::Data, offset + done, at_ + done, m);
    done += m;
  }
  at_ += n;
  start_ = at_;
}

const uint8_t* TStretchWriter::PeekOld(int64_t offset, int64_t n) {
  return Window(offset, n);
}

const uint8_t* TStretchWriter::Window(int64_t offset, int64_t n) {
  if (offset < windowStart_ || offset + n > windowEnd_) {
    const int64_t length =
        std::max(n, std::min(TJovTransaction::kChunk, t_.OldSize(TLibFile::Data) - offset));
    t_.ReadOld(TLibFile::Data, offset, window_.Reserve(length), length);
    windowStart_ = offset;
    windowEnd_ = offset + length;
  }
  return window_.Data() + (offset - windowStart_);
}

int64_t TStretchWriter::Flush() {
  if (used_ > 0) t_.Write(TLibFile::Data, start_, buffer_.Data(), used_);
  used_ = 0;
  start_ = at_;
  return at_;
}
