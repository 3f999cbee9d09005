#include "library/recordops.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/byteio.h"
#include "common/operation.h"
#include "library/jovformat.h"
#include "library/myjov.h"
#include "library/tolibrary.h"

namespace {

constexpr int64_t kMaxDataEnd = std::numeric_limits<int32_t>::max();
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

void CheckAppendable(const TJOV& jov) {
  constexpr int64_t kMissingEntries = 1 << 16;
  const int64_t held = std::max<int64_t>(0, int64_t(jov.IndexEntries().size()) - 1);
  if (jov.ImageCount() > held + kMissingEntries)
    throw EJovError(QStringLiteral("The image count %1 is far beyond the %2 entries of the index: "
                                   "the library is damaged.")
                        .arg(jov.ImageCount())
                        .arg(held));
}

void CheckImageRange(const TJOV& jov, int first, int last) {
  if (first < 0 || last < first || last >= jov.ImageCount())
    throw EJovError(QStringLiteral("Images %1 to %2 are not in the library (it has %3 images).")
                        .arg(first)
                        .arg(last)
                        .arg(jov.ImageCount()));
}

void CheckRecordSize(int width, int height) {
  if (width <= 0 || height <= 0)
    throw EJovError(
        QStringLiteral("A record of %1 x %2 pixels holds no picture.").arg(width).arg(height));
  if (width > jov::kMaxImageSide8 || height > jov::kMaxImageSide8)
    throw EPictureTooLarge(QStringLiteral("the picture is %1 x %2; a library image can be at "
                                          "most %3 x %3")
                               .arg(width)
                               .arg(height)
                               .arg(jov::kMaxImageSide8));
}

EJovError RecordRefusal(int index, const QString& why) {
  return EJovError(QStringLiteral("Image %1 cannot be changed: %2").arg(index).arg(why));
}

// ---------------------------------------------------------------------------------------
// Reading

std::vector<int64_t> EntriesOf(const TJOV& jov, int first, int last) {
  std::vector<int64_t> entries;
  // The count comes from a header: room only for what the index holds.
  entries.reserve(
      std::min<size_t>(size_t(std::max(0, last - first + 1)), jov.IndexEntries().size()));
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
  // A variant 1 index is told by its first entry: moved, the library would read as the
  // other variant.
  if (offSet == 4 && first == 0 && entries[0] != jov::FirstRecordOffset(1))
    throw RecordRefusal(0, QStringLiteral("its record must stay the first, at %1, in a library of "
                                          "this variant.")
                               .arg(jov::FirstRecordOffset(1)));
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
  StepInBytes(delegate, 0, length);
  const int64_t chunk = TJovTransaction::kChunk;
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(chunk, length - done);
    const int64_t at = to > from ? length - done - n : done;
    t.Move(TLibFile::Data, from + at, to + at, n);
    done += n;
    StepInBytes(delegate, done, length);
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
    copies_.push_back({at_, offset, n});
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
  // Old bytes written with the new ones are still old bytes, which the change's history
  // finds where they went rather than keeping them.
  const int64_t end = start_ + used_;
  for (const Copy& c : copies_) {
    const int64_t from = std::max(c.to, start_), to = std::min(c.to + c.length, end);
    if (from < to) t_.Copied(TLibFile::Data, c.from + (from - c.to), from, to - from);
  }
  std::erase_if(copies_, [&](const Copy& c) { return c.to + c.length <= end; });
  used_ = 0;
  start_ = at_;
  return at_;
}

// ---------------------------------------------------------------------------------------
// TRecordPlaces

TRecordPlaces::TRecordPlaces(TJovTransaction& t, const TJOV& jov) : t_(t), jov_(jov) {
  // Images the index does not reach have no record; a damaged count is not room.
  const int count = int(std::min<int64_t>(jov.ImageCount(), int64_t(jov.IndexEntries().size())));
  entries_.assign(size_t(std::max(0, count)), -1);
  named_.assign(entries_.size(), false);
  for (int i = 0; i < count; ++i)
    if (const std::optional<int32_t> entry = jov.EntryOf(i)) entries_[size_t(i)] = *entry;
}

void TRecordPlaces::Name(int index) {
  if (index >= 0 && size_t(index) < named_.size()) named_[size_t(index)] = true;
}

bool TRecordPlaces::Named(int index) const {
  return index >= 0 && size_t(index) < named_.size() && named_[size_t(index)];
}

namespace {

// The end of the record that starts at `at`, by its header (its start when the file does
// not hold a header there).
int64_t RecordEndAt(TFile& data, int64_t at, int64_t headerSize) {
  uint8_t size[4];
  if (at < 0 || data.ReadAt(at, size, 4) != 4) return at;
  return at + headerSize +
         int64_t(std::max<int>(0, GetI16(size))) * std::max<int>(0, GetI16(size + 2));
}

}  // namespace

bool TRecordPlaces::Private(int64_t from, int64_t to) const {
  int64_t before = -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const int64_t e = entries_[i];
    if (e < 0) continue;
    if (!named_[i] && e >= from && e < to) return false;
    if (e < from) before = std::max(before, e);
  }
  const int64_t headerSize = jov::RecordHeaderSize(jov_.OffSet());
  return before < 0 || RecordEndAt(t_.File(TLibFile::Data), before, headerSize) <= from;
}

void TRecordPlaces::CheckNoneAcross(int index, int64_t at) const {
  int64_t before = -1;
  for (const int64_t e : entries_)
    if (e >= 0 && e < at) before = std::max(before, e);
  const int64_t headerSize = jov::RecordHeaderSize(jov_.OffSet());
  if (before >= 0 && RecordEndAt(t_.File(TLibFile::Data), before, headerSize) > at)
    throw RecordRefusal(index,
                        QStringLiteral("the record at %1 runs across its place.").arg(before));
}

std::vector<int64_t> TRecordPlaces::Moved(std::vector<TEdit> edits) const {
  std::sort(edits.begin(), edits.end(),
            [](const TEdit& a, const TEdit& b) { return a.oldEnd < b.oldEnd; });
  std::vector<int64_t> sums(edits.size() + 1, 0);
  for (size_t k = 0; k < edits.size(); ++k) sums[k + 1] = sums[k] + edits[k].delta;
  std::vector<int64_t> moved = entries_;
  for (size_t i = 0; i < moved.size(); ++i) {
    if (named_[i] || moved[i] < 0) continue;
    // The edits that end at or before the entry move it.
    const auto behind =
        std::upper_bound(edits.begin(), edits.end(), moved[i],
                         [](int64_t e, const TEdit& edit) { return e < edit.oldEnd; });
    moved[i] += sums[size_t(behind - edits.begin())];
  }
  return moved;
}

void TRecordPlaces::ProtectEntries() const {
  t_.Protect(TLibFile::Index, jov::IndexEntryOffset(jov_.OffSet(), 0),
             4 * int64_t(entries_.size()));
}

void TRecordPlaces::WriteChangedEntries(const std::vector<int64_t>& entries) const {
  size_t first = entries.size(), last = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == entries_[i] || entries[i] < 0) continue;
    first = std::min(first, i);
    last = i;
  }
  if (first > last) return;
  WriteEntries(
      t_, jov_.OffSet(), int(first),
      std::vector<int64_t>(entries.begin() + int64_t(first), entries.begin() + int64_t(last) + 1));
}

int FirstChangedEntry(const std::vector<int64_t>& old, int index, int64_t from) {
  for (int i = 0; i < index; ++i)
    if (old[size_t(i)] >= from) return i;
  return index;
}

// ---------------------------------------------------------------------------------------
// RewriteRecords

namespace {

struct TNamedRecord {
  int image;
  TRecordExtent extent;
};

// Writes the record of content through out: its size, the placement bytes, the pixels.
void PutContent(TStretchWriter& out, const TRecordContent& c, int64_t headerSize) {
  uint8_t header[jov::RecordHeaderSize(4)];
  PutI16(header, int16_t(c.width));
  PutI16(header + 2, int16_t(c.height));
  std::memcpy(header + 4, c.placement, size_t(headerSize - 4));
  out.PutRecord(header, headerSize, c.pixels, int64_t(c.width) * c.height);
}

// The new records at the end of the data file; only the named entries change.
void AppendRecords(TJovTransaction& t, TRecordPlaces& places, const std::vector<TNamedRecord>& recs,
                   int64_t headerSize, const TRecordSource& source, TOperationDelegate* delegate) {
  int first = INT32_MAX, last = -1;
  for (const TNamedRecord& r : recs) {
    first = std::min(first, r.image);
    last = std::max(last, r.image);
  }
  places.ProtectEntries();
  t.Begin();
  std::vector<int64_t> entries = places.Entries();
  TStretchWriter out(t, t.OldSize(TLibFile::Data));
  int done = 0;
  Step(delegate, 0, int64_t(recs.size()));
  for (const TNamedRecord& r : recs) {
    uint8_t old[jov::RecordHeaderSize(4)];
    t.ReadOld(TLibFile::Data, r.extent.at, old, headerSize);
    const TRecordContent content = source(r.image, old);
    entries[size_t(r.image)] = out.Position();
    PutContent(out, content, headerSize);
    Step(delegate, ++done, int64_t(recs.size()));
  }
  out.Flush();
  places.WriteChangedEntries(entries);
}

// One record that changes size, its followers moved by shifting whole blocks of the file
// system (TJovTransaction::PlanShift): room opened behind it when it grows, blocks closed
// up inside its old end when it shrinks, the bytes left over a gap behind it.  A record
// that shrinks by less than a block there closes nothing: it is written where it lies,
// and what it no longer needs stays behind it as a gap.  False, with nothing planned,
// when the tail is to be copied.
bool ReplaceByShift(TJovTransaction& t, const TRecordPlaces& places, const TNamedRecord& r,
                    int64_t headerSize, int64_t newSize, const TRecordSource& source) {
  const TRecordExtent& e = r.extent;
  const int64_t oldSize = e.end - e.at, delta = newSize - oldSize;
  if (delta == 0) return false;
  const int64_t moved = t.PlanShift(delta > 0 ? e.end : e.at + newSize, delta);
  const bool leaveGap = moved == 0 && delta < 0 && -delta < t.ShiftUnit();
  if (moved == 0 && !leaveGap) return false;
  t.Protect(TLibFile::Data, e.at, leaveGap ? newSize : oldSize);
  if (!leaveGap) places.ProtectEntries();
  t.Begin();
  uint8_t old[jov::RecordHeaderSize(4)];
  t.ReadOld(TLibFile::Data, e.at, old, headerSize);
  if (!leaveGap) t.Shift();
  const TRecordContent content = source(r.image, old);
  TStretchWriter out(t, e.at);
  PutContent(out, content, headerSize);
  out.Flush();
  if (!leaveGap) places.WriteChangedEntries(places.Moved({{e.end, moved}}));
  return true;
}

}  // namespace

void RewriteRecords(TJovTransaction& t, const TJOV& jov, const std::vector<int>& images,
                    std::optional<std::pair<int, int>> fixedSize, const TRecordSource& source,
                    TOperationDelegate* delegate) {
  TRecordPlaces places(t, jov);
  std::vector<TNamedRecord> recs;
  for (const int i : images) {
    places.Name(i);
    recs.push_back({i, RecordExtent(t, jov, i, EntriesOf(jov, i, i)[0])});
  }
  const int64_t headerSize = jov::RecordHeaderSize(jov.OffSet());
  std::vector<TNamedRecord> byPlace = recs;
  std::sort(byPlace.begin(), byPlace.end(),
            [](const TNamedRecord& a, const TNamedRecord& b) { return a.extent.at < b.extent.at; });
  for (size_t k = 0; k < byPlace.size(); ++k) {
    const TRecordExtent& e = byPlace[k].extent;
    if (!places.Private(e.at, e.end) || (k > 0 && e.at < byPlace[k - 1].extent.end))
      return AppendRecords(t, places, recs, headerSize, source, delegate);
  }
  // Records that keep their size are rewritten where they lie, up to the first that changes.
  const int64_t oldEnd = t.OldSize(TLibFile::Data);
  const int64_t n = int64_t(byPlace.size());
  size_t first = 0;
  auto keepsSize = [&](const TRecordExtent& e) {
    return fixedSize && e.width == fixedSize->first && e.height == fixedSize->second;
  };
  while (first < byPlace.size() && keepsSize(byPlace[first].extent)) ++first;
  if (byPlace.size() == 1 && first == 0 && fixedSize &&
      ReplaceByShift(t, places, byPlace[0], headerSize,
                     headerSize + int64_t(fixedSize->first) * fixedSize->second, source))
    return;
  for (size_t k = 0; k < first; ++k)
    t.Protect(TLibFile::Data, byPlace[k].extent.at + headerSize,
              int64_t(fixedSize->first) * fixedSize->second);
  if (first < byPlace.size()) {
    t.Protect(TLibFile::Data, byPlace[first].extent.at, oldEnd - byPlace[first].extent.at);
    places.ProtectEntries();
  }
  t.Begin();
  Step(delegate, 0, n);
  int64_t done = 0;
  uint8_t old[jov::RecordHeaderSize(4)];
  for (size_t k = 0; k < first; ++k) {
    const TRecordExtent& e = byPlace[k].extent;
    t.ReadOld(TLibFile::Data, e.at, old, headerSize);
    const TRecordContent content = source(byPlace[k].image, old);
    t.Write(TLibFile::Data, e.at + headerSize, content.pixels, int64_t(e.width) * e.height);
    Step(delegate, ++done, n);
  }
  if (first == byPlace.size()) return;
  TStretchWriter out(t, byPlace[first].extent.at);
  std::vector<TRecordPlaces::TEdit> edits;
  std::vector<int64_t> newAt(byPlace.size());
  int64_t grown = 0;
  for (size_t k = first; k < byPlace.size(); ++k) {
    const TRecordExtent& e = byPlace[k].extent;
    std::memcpy(old, out.PeekOld(e.at, headerSize), size_t(headerSize));
    const TRecordContent content = source(byPlace[k].image, old);
    newAt[k] = out.Position();
    PutContent(out, content, headerSize);
    const int64_t delta = int64_t(content.width) * content.height - int64_t(e.width) * e.height;
    edits.push_back({e.end, delta});
    grown += std::max<int64_t>(0, delta);
    out.PutOld(e.end, (k + 1 < byPlace.size() ? byPlace[k + 1].extent.at : oldEnd) - e.end);
    Step(delegate, ++done, n);
  }
  const int64_t end = out.Flush();
  // Replacing one image after another never shortens the file: it grows by every record
  // that grew, and what lies behind the last record is not referenced.
  CheckDataEnd(oldEnd + grown);
  if (oldEnd + grown > std::max(end, oldEnd)) t.Truncate(TLibFile::Data, oldEnd + grown);
  std::vector<int64_t> entries = places.Moved(edits);
  for (size_t k = first; k < byPlace.size(); ++k) entries[size_t(byPlace[k].image)] = newAt[k];
  places.WriteChangedEntries(entries);
}

// ---------------------------------------------------------------------------------------
// Header fields

void WriteHeaderFields(TJovTransaction& t, const TJOV& jov,
                       const std::vector<THeaderField>& fields) {
  const int64_t fileSize = t.OldSize(TLibFile::Data);
  const int64_t headerSize = jov::RecordHeaderSize(jov.OffSet());
  TRecordPlaces places(t, jov);
  for (const THeaderField& f : fields) places.Name(f.index);
  // Two of the images given may share a record: theirs are copied too.
  std::vector<int64_t> named;
  for (const THeaderField& f : fields)
    if (f.index < int(places.Entries().size())) named.push_back(places.Entries()[size_t(f.index)]);
  std::sort(named.begin(), named.end());
  std::vector<const THeaderField*> inPlace, copied;
  for (const THeaderField& f : fields) {
    const int64_t e =
        f.index < int(places.Entries().size()) ? places.Entries()[size_t(f.index)] : -1;
    // A damaged entry is left alone: nothing is written outside the data file.
    if (e < 0 || e + jov::kImageHeaderSize > fileSize) continue;
    const bool twice = std::count(named.begin(), named.end(), e) > 1;
    (!twice && places.Private(e, e + headerSize) ? inPlace : copied).push_back(&f);
  }
  for (const THeaderField* f : inPlace)
    t.Protect(TLibFile::Data, places.Entries()[size_t(f->index)] + f->offset, f->length);
  if (inPlace.empty() && copied.empty()) return;
  if (!copied.empty()) places.ProtectEntries();
  t.Begin();
  for (const THeaderField* f : inPlace)
    t.Write(TLibFile::Data, places.Entries()[size_t(f->index)] + f->offset, f->bytes, f->length);
  if (copied.empty()) return;
  std::vector<int64_t> entries = places.Entries();
  TStretchWriter out(t, fileSize);
  for (const THeaderField* f : copied) {
    const TRecordExtent r = RecordExtent(t, jov, f->index, entries[size_t(f->index)]);
    // The header as the library's variant sizes it (a damaged one may claim any size).
    std::vector<uint8_t> header(size_t(std::max<int64_t>(headerSize, f->offset + f->length)));
    t.ReadOld(TLibFile::Data, r.at, header.data(), headerSize);
    std::memcpy(header.data() + f->offset, f->bytes, size_t(f->length));
    entries[size_t(f->index)] = out.Position();
    out.Put(header.data(), headerSize);
    out.PutOld(r.at + headerSize, r.end - r.at - headerSize);
  }
  out.Flush();
  places.WriteChangedEntries(entries);
}
