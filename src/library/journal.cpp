#include "library/journal.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/byteio.h"
#include "common/checksum.h"
#include "common/operation.h"

// Layout of a journal (all integers little-endian):
//   header   "JOVJRNL1", u32 salt, u32 0, i64 old data size, i64 old index size,
//            u16 n, n bytes: the index file's name (UTF-8, no folder)
//   records  "RECD", u8 file (0 data, 1 index), 3 bytes 0, i64 offset, i64 length,
//            length bytes: the old bytes, u64 checksum of them
//   shift    "SHFT", u8 0 (data), 3 bytes 0, i64 offset, i64 delta, u64 checksum of them:
//            at most one, counted with the records
//   trailer  "JEND", u32 record count, u64 checksum of the header
//   mark     "JSFT", u32 0, u64 checksum of the header: written once the shift is made and
//            durable (MarkJournalShifted)
// Every checksum is seeded with the journal's random salt, so bytes left on the disk by
// an older journal never pass for this one's.  A journal without a valid trailer, or
// with any record whose checksum fails, was not complete when the process stopped; the
// library files are only touched once the journal is complete and on the disk.

namespace {

constexpr char kMagic[] = "JOVJRNL1";
constexpr char kRecordTag[] = "RECD";
constexpr char kTrailerTag[] = "JEND";
constexpr char kShiftTag[] = "SHFT";
constexpr char kShiftedTag[] = "JSFT";
constexpr int kShiftRecord = 32;
constexpr int kMarkSize = 16;
constexpr int kHeaderFixed = 34;
constexpr int kRecordHead = 24;
constexpr int kTrailerSize = 16;
// The old bytes of small ranges a journal keeps in memory as well, at most so many.
constexpr int64_t kKeptOldBytes = 256 << 10;
constexpr int kMaxName = 4096;

uint64_t RecordSeed(uint32_t salt, int file, int64_t offset, int64_t length) {
  return salt ^ uint64_t(offset) ^ (uint64_t(length) << 17) ^ uint64_t(file);
}

// Appends to the journal file.
// Small pieces are gathered and written together: a small change's journal is one write.
class TJournalOut {
 public:
  explicit TJournalOut(TFile& file) : file_(file) {}
  void Put(const void* data, int64_t n) {
    if (pending_.size() + size_t(n) > kGathered) Write();
    if (size_t(n) >= kGathered) {
      file_.WriteAt(at_, data, n);
    } else {
      const auto* p = static_cast<const uint8_t*>(data);
      pending_.insert(pending_.end(), p, p + n);
    }
    at_ += n;
  }
  void Copy(TFile& source, int64_t from, int64_t n, uint8_t* buffer) {
    Write();
    file_.CopyFrom(source, from, at_, n, buffer, kJournalChunk);
    at_ += n;
  }
  int64_t At() const { return at_; }
  // Writes what is gathered.
  void Write() {
    if (pending_.empty()) return;
    file_.WriteAt(at_ - int64_t(pending_.size()), pending_.data(), int64_t(pending_.size()));
    pending_.clear();
  }

 private:
  static constexpr size_t kGathered = 64 << 10;
  TFile& file_;
  int64_t at_ = 0;
  std::vector<uint8_t> pending_;
};

// One record: its head, the old bytes and their checksum.
void PutRecord(TJournalOut& out, TFile& source, int file, TJournalRange& r, uint32_t salt,
               TByteBuffer& buffer, TOperationDelegate* delegate, int64_t& keepBudget) {
  uint8_t head[kRecordHead] = {};
  std::memcpy(head, kRecordTag, 4);
  head[4] = uint8_t(file);
  PutU64(head + 8, uint64_t(r.offset));
  PutU64(head + 16, uint64_t(r.length));
  out.Put(head, kRecordHead);
  r.at = out.At();
  TSum sum(RecordSeed(salt, file, r.offset, r.length));
  uint8_t* chunk = buffer.Reserve(std::min(r.length, kJournalChunk));
  for (int64_t done = 0; done < r.length;) {
    CheckCancel(delegate);
    const int64_t n = std::min(kJournalChunk, r.length - done);
    // Large stretches are summed where they lie and copied inside the kernel: the bytes
    // never pass through this process.
    if (n < kJournalChunk ||
        !source.View(r.offset + done, n, [&](const uint8_t* p) { sum.Add(p, n); })) {
      source.ReadExactAt(r.offset + done, chunk, n);
      sum.Add(chunk, n);
      out.Put(chunk, n);
      if (n == r.length && n <= keepBudget) {
        r.old.assign(chunk, chunk + n);
        keepBudget -= n;
      }
    } else {
      out.Copy(source, r.offset + done, n, chunk);
    }
    done += n;
  }
  uint8_t stored[8];
  PutU64(stored, sum.Value());
  out.Put(stored, 8);
}

void PutShift(TJournalOut& out, const TJournalShift& shift, uint32_t salt) {
  uint8_t record[kShiftRecord] = {};
  std::memcpy(record, kShiftTag, 4);
  PutU64(record + 8, uint64_t(shift.offset));
  PutU64(record + 16, uint64_t(shift.delta));
  TSum sum(RecordSeed(salt, 2, shift.offset, shift.delta));
  sum.Add(record, 24);
  PutU64(record + 24, sum.Value());
  out.Put(record, kShiftRecord);
}

// A journal read back: validated first, then applied.
struct TParsedJournal {
  uint32_t salt = 0;
  uint64_t id = 0;  // the trailer's checksum
  int64_t oldSize[2] = {0, -1};
  QString indexName;
  struct Record {
    int file;
    int64_t offset;
    int64_t length;
    int64_t at;  // where its bytes start in the journal
  };
  std::vector<Record> records;
  TJournalShift shift;
  bool shifted = false;  // the shift's mark is there
  int64_t end = 0;       // where the trailer ends (and the mark stands)
};

// Reads the fixed header and the index name; false when they are not whole and sound.
bool ReadJournalHeader(TFile& journal, int64_t size, TParsedJournal& out, TSum& headerSum,
                       int64_t& at) {
  uint8_t head[kHeaderFixed];
  if (size < kHeaderFixed + kTrailerSize || journal.ReadAt(0, head, kHeaderFixed) != kHeaderFixed)
    return false;
  if (std::memcmp(head, kMagic, 8) != 0) return false;
  out.salt = GetU32(head + 8);
  out.oldSize[0] = int64_t(GetU64(head + 16));
  out.oldSize[1] = int64_t(GetU64(head + 24));
  const int nameLength = GetU16(head + 32);
  if (out.oldSize[0] < 0 || out.oldSize[1] < 0 || nameLength > kMaxName ||
      kHeaderFixed + nameLength + kTrailerSize > size)
    return false;
  QByteArray name(nameLength, '\0');
  if (journal.ReadAt(kHeaderFixed, name.data(), nameLength) != nameLength) return false;
  out.indexName = QString::fromUtf8(name);
  // The index lies beside the data file: a name that leaves the folder is not ours.
  if (out.indexName.isEmpty() || out.indexName.contains(QLatin1Char('/')) ||
      out.indexName == QLatin1String("..") || out.indexName == QLatin1String("."))
    return false;
  headerSum = TSum(out.salt);
  headerSum.Add(head, kHeaderFixed);
  headerSum.Add(reinterpret_cast<const uint8_t*>(name.constData()), nameLength);
  at = kHeaderFixed + nameLength;
  return true;
}

// Reads and checks one record at `at`; false when it is not whole and sound.
bool ReadJournalRecord(TFile& journal, int64_t size, int64_t at, TParsedJournal& out,
                       uint8_t* chunk) {
  uint8_t tag[kRecordHead];
  if (journal.ReadAt(at, tag, kRecordHead) != kRecordHead) return false;
  const TParsedJournal::Record record{tag[4], int64_t(GetU64(tag + 8)), int64_t(GetU64(tag + 16)),
                                      at + kRecordHead};
  if (record.file > 1 || record.offset < 0 || record.length <= 0 ||
      record.length > size - record.at - 8 - kTrailerSize ||
      record.offset > out.oldSize[record.file] - record.length)
    return false;
  TSum sum(RecordSeed(out.salt, record.file, record.offset, record.length));
  for (int64_t done = 0; done < record.length;) {
    const int64_t n = std::min(kJournalChunk, record.length - done);
    if (journal.ReadAt(record.at + done, chunk, n) != n) return false;
    sum.Add(chunk, n);
    done += n;
  }
  uint8_t stored[8];
  if (journal.ReadAt(record.at + record.length, stored, 8) != 8 || GetU64(stored) != sum.Value())
    return false;
  out.records.push_back(record);
  return true;
}

bool ReadShift(TFile& journal, int64_t at, TParsedJournal& out) {
  uint8_t record[kShiftRecord];
  if (journal.ReadAt(at, record, kShiftRecord) != kShiftRecord) return false;
  const TJournalShift shift{int64_t(GetU64(record + 8)), int64_t(GetU64(record + 16))};
  TSum sum(RecordSeed(out.salt, 2, shift.offset, shift.delta));
  sum.Add(record, 24);
  if (record[4] != 0 || GetU64(record + 24) != sum.Value() || shift.delta == 0 ||
      shift.offset < 0 || shift.offset > out.oldSize[0] || shift.delta < -out.oldSize[0])
    return false;
  out.shift = shift;
  return true;
}

// The trailer at `at`, and the shift's mark behind it.  Bytes behind the trailer may be
// an older journal's, in a file that is reused: its mark carries another checksum.
bool ReadTrailer(TFile& journal, int64_t at, const TSum& headerSum, TParsedJournal& out) {
  uint8_t trailer[kTrailerSize + kMarkSize];
  const int64_t got = journal.ReadAt(at, trailer, kTrailerSize + kMarkSize);
  if (got < kTrailerSize) return false;
  out.id = GetU64(trailer + 8);
  out.end = at + kTrailerSize;
  out.shifted = got == kTrailerSize + kMarkSize &&
                std::memcmp(trailer + kTrailerSize, kShiftedTag, 4) == 0 &&
                GetU64(trailer + kTrailerSize + 8) == out.id;
  const size_t count = out.records.size() + (out.shift.delta != 0 ? 1 : 0);
  return GetU32(trailer + 4) == count && out.id == headerSum.Value();
}

// Reads and checks the whole journal; false when it is not complete.
bool ReadJournal(TFile& journal, TByteBuffer& buffer, TParsedJournal& out) {
  const int64_t size = journal.Size();
  TSum headerSum(0);
  int64_t at;
  if (!ReadJournalHeader(journal, size, out, headerSum, at)) return false;
  uint8_t* chunk = buffer.Reserve(kJournalChunk);
  for (;;) {
    uint8_t tag[4];
    if (at + kTrailerSize > size || journal.ReadAt(at, tag, 4) != 4) return false;
    if (std::memcmp(tag, kTrailerTag, 4) == 0) return ReadTrailer(journal, at, headerSum, out);
    if (std::memcmp(tag, kShiftTag, 4) == 0) {
      if (out.shift.delta != 0 || !ReadShift(journal, at, out)) return false;
      at += kShiftRecord;
      continue;
    }
    if (std::memcmp(tag, kRecordTag, 4) != 0) return false;
    if (!ReadJournalRecord(journal, size, at, out, chunk)) return false;
    at = out.records.back().at + out.records.back().length + 8;
  }
}

EWriteError ShiftLost(const TFile& data) {
  return EWriteError(QStringLiteral("\"%1\" is not in a state its journal's shift may have "
                                    "left it in.")
                         .arg(data.Path()));
}

// Closes up the hole of `length` bytes that stands first at or after `from`: a shift made
// in part, its bytes up to the hole still where they were and those behind it moved.  A
// hole that ends the file is cut off; so is its last `length` bytes when the first hole
// starts there or later (the hole is behind the last block of old bytes, which is data
// though the old end falls inside it).
void CloseHole(TFile& data, int64_t from, int64_t length) {
  const int64_t size = data.Size(), hole = data.NextHole(from);
  if (hole >= size - length)
    data.Truncate(size - length);  // a hole behind the last block it moves, or none
  else if (!data.Shift(hole, -length))
    throw ShiftLost(data);
}

void ClearShiftMark(const QString& journalPath, int64_t at) {
  static const uint8_t kCleared[kMarkSize] = {};
  std::unique_ptr<TFile> journal = TFile::Open(journalPath, TFile::Mode::ReadWrite);
  journal->WriteAt(at, kCleared, kMarkSize);
  journal->Flush();
}

// Puts the data file's bytes back where they stood before the journal's shift, from any
// state a power cut can leave it in.  A shift moves extents one after the other, the
// size changing first when it opens and last when it closes, so that until it is durable
// the file is the old one with a hole of the shift's length somewhere from its offset on
// (a closing shift first empties its range): closing that hole gives the file as it was
// before an opening shift, or after a closing one, which is then opened again.  Once the
// mark says the shift is durable, the change may have written into an opened hole: it is
// emptied again first.  Every step leaves a state of the same kind, so that recovery can
// stop anywhere and run again.
void UndoShift(TFile& data, const TParsedJournal& parsed, const QString& journalPath) {
  const TJournalShift& shift = parsed.shift;
  const int64_t oldSize = parsed.oldSize[0], length = std::abs(shift.delta);
  if (parsed.shifted) {
    if (shift.delta > 0 && !data.PunchHole(shift.offset, length)) throw ShiftLost(data);
    data.Flush();
    ClearShiftMark(journalPath, parsed.end);
  }
  const int64_t size = data.Size();
  if (shift.delta > 0) {
    if (size == oldSize) return;
    if (size != oldSize + length) throw ShiftLost(data);
    CloseHole(data, shift.offset, length);
  } else {
    if (size == oldSize) {
      if (data.NextHole(shift.offset) >= oldSize) return;  // never started
      CloseHole(data, shift.offset, length);
    } else if (size != oldSize - length) {
      throw ShiftLost(data);
    }
    if (!data.Shift(shift.offset, length)) throw ShiftLost(data);
  }
  data.Flush();
}

// Writes the journal's old bytes back and cuts both files to their old sizes.
void WriteBack(TFile& journal, const TParsedJournal& parsed, TFile& data,
               const TLibraryPaths& paths, TByteBuffer& buffer) {
  const QString indexPath = QFileInfo(paths.Data()).dir().filePath(parsed.indexName);
  std::unique_ptr<TFile> index =
      TFile::Open(indexPath, FileExists(indexPath) ? TFile::Mode::ReadWrite : TFile::Mode::Create);
  TFile* files[2] = {&data, index.get()};
  if (parsed.shift.delta != 0) UndoShift(data, parsed, journal.Path());
  uint8_t* chunk = buffer.Reserve(kJournalChunk);
  for (const TParsedJournal::Record& record : parsed.records) {
    for (int64_t done = 0; done < record.length;) {
      const int64_t n = std::min(kJournalChunk, record.length - done);
      journal.ReadExactAt(record.at + done, chunk, n);
      files[record.file]->WriteAt(record.offset + done, chunk, n);
      done += n;
    }
  }
  for (int f = 0; f < 2; ++f) {
    if (files[f]->Size() != parsed.oldSize[f]) files[f]->Truncate(parsed.oldSize[f]);
    files[f]->Flush();
  }
}

// The files as WriteBack would leave them, read from the files and the journal.
TRolledBackFiles RolledBack(TFile& journal, const TParsedJournal& parsed, TFile& data,
                            const TLibraryPaths& paths) {
  TRolledBackFiles out;
  if (parsed.shift.delta != 0) return out;
  out.size[0] = parsed.oldSize[0];
  out.size[1] = std::max<int64_t>(parsed.oldSize[1], 0);
  const QString indexPath = QFileInfo(paths.Data()).dir().filePath(parsed.indexName);
  auto index = std::make_shared<std::unique_ptr<TFile>>();
  out.read = [&journal, &parsed, &data, indexPath, index](int file, int64_t at, uint8_t* p,
                                                          int64_t n) {
    TFile* f = &data;
    if (file == 1) {
      if (!*index && FileExists(indexPath)) *index = TFile::Open(indexPath, TFile::Mode::Read);
      f = index->get();
    }
    // What the file holds now (zeros past its end), then the old bytes over it.
    std::memset(p, 0, size_t(n));
    if (f != nullptr) f->ReadAt(at, p, std::min(n, std::max<int64_t>(f->Size() - at, 0)));
    for (const TParsedJournal::Record& r : parsed.records) {
      const int64_t from = std::max(at, r.offset), to = std::min(at + n, r.offset + r.length);
      if (r.file == file && from < to)
        journal.ReadExactAt(r.at + (from - r.offset), p + (from - at), to - from);
    }
  };
  return out;
}

}  // namespace

uint64_t WriteJournal(TFile& journal, TFile* const files[2], const int64_t oldSize[2],
                      const QString& indexName, std::vector<TJournalRange> (&ranges)[2],
                      TByteBuffer& buffer, TOperationDelegate* delegate, const TJournalShift& shift,
                      int64_t* end) {
  const uint32_t salt = QRandomGenerator::system()->generate();
  const QByteArray name = indexName.toUtf8();
  TJournalOut out(journal);
  uint8_t head[kHeaderFixed] = {};
  std::memcpy(head, kMagic, 8);
  PutU32(head + 8, salt);
  PutU64(head + 16, uint64_t(oldSize[0]));
  PutU64(head + 24, uint64_t(oldSize[1]));
  PutU16(head + 32, uint16_t(name.size()));
  TSum headerSum(salt);
  headerSum.Add(head, kHeaderFixed);
  headerSum.Add(reinterpret_cast<const uint8_t*>(name.constData()), name.size());
  out.Put(head, kHeaderFixed);
  out.Put(name.constData(), name.size());

  uint32_t records = 0;
  if (shift.delta != 0) {
    PutShift(out, shift, salt);
    ++records;
  }
  int64_t keepBudget = kKeptOldBytes;
  for (int f = 0; f < 2; ++f) {
    for (TJournalRange& r : ranges[f]) {
      PutRecord(out, *files[f], f, r, salt, buffer, delegate, keepBudget);
      ++records;
    }
  }
  uint8_t trailer[kTrailerSize] = {};
  std::memcpy(trailer, kTrailerTag, 4);
  PutU32(trailer + 4, records);
  PutU64(trailer + 8, headerSum.Value());
  out.Put(trailer, kTrailerSize);
  out.Write();
  // A mark behind the trailer left by an older journal names another one; none is kept.
  if (end) *end = out.At();
  journal.Flush();
  return headerSum.Value();
}

void MarkJournalShifted(TFile& journal, uint64_t id, int64_t end) {
  uint8_t mark[kMarkSize] = {};
  std::memcpy(mark, kShiftedTag, 4);
  PutU64(mark + 8, id);
  journal.WriteAt(end, mark, kMarkSize);
  journal.Flush();
}

void MarkJournalCommitted(TFile& journal) {
  static const uint8_t kCleared[8] = {};
  try {
    journal.WriteAt(0, kCleared, 8);
    journal.Flush();
  } catch (...) {
    try {
      journal.WriteAt(0, kMagic, 8);
    } catch (...) {
    }
    throw;
  }
}

void ClearJournalTitle(TFile& journal) {
  static const uint8_t kCleared[8] = {};
  try {
    journal.WriteAt(0, kCleared, 8);
  } catch (const EJovError&) {
    // Left hot: the history tells the next opening that its change committed.
  }
}

bool JournalHasTitle(TFile& journal) {
  uint8_t title[8];
  return journal.ReadAt(0, title, 8) == 8 && std::memcmp(title, kMagic, 8) == 0;
}

bool JournalIsHot(const TLibraryPaths& paths) {
  const QString path = paths.Journal();
  if (!FileExists(path)) return false;
  try {
    return JournalHasTitle(*TFile::Open(path, TFile::Mode::Read));
  } catch (const EJovError&) {
    return true;  // there, and not known to be idle
  }
}

bool ApplyJournal(TFile& data, const TLibraryPaths& paths, TByteBuffer& buffer, bool keepIdle,
                  const TJournalCommitted& committed) {
  const QString journalPath = paths.Journal();
  {
    std::unique_ptr<TFile> journal = TFile::Open(journalPath, TFile::Mode::Read);
    if (keepIdle && !JournalHasTitle(*journal)) return false;
    TParsedJournal parsed;
    // A change that committed through its history, whose journal's title was not yet
    // cleared on the disk, stays.
    if (ReadJournal(*journal, buffer, parsed) &&
        !(committed && committed(parsed.id, RolledBack(*journal, parsed, data, paths))))
      WriteBack(*journal, parsed, data, paths, buffer);
  }
  // Until the journal is gone from the disk, the next opening would undo again, which
  // gives the same old bytes: harmless.
  RemoveFile(journalPath);
  SyncFolder(paths.Folder());
  return true;
}
