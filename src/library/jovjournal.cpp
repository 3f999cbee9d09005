#include "library/jovjournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "common/byteio.h"
#include "library/jovnewpair.h"

// Layout of a journal (all integers little-endian):
//   header   "JOVJRNL1", u32 salt, u32 0, i64 old data size, i64 old index size,
//            u16 n, n bytes: the index file's name (UTF-8, no folder)
//   records  "RECD", u8 file (0 data, 1 index), 3 bytes 0, i64 offset, i64 length,
//            length bytes: the old bytes, u64 checksum of them
//   trailer  "JEND", u32 record count, u64 checksum of the header
// Every checksum is seeded with the journal's random salt, so bytes left on the disk by
// an older journal never pass for this one's.  A journal without a valid trailer, or
// with any record whose checksum fails, was not complete when the process stopped; the
// library files are only touched once the journal is complete and on the disk.

namespace {

constexpr char kMagic[] = "JOVJRNL1";
constexpr char kRecordTag[] = "RECD";
constexpr char kTrailerTag[] = "JEND";
constexpr int kHeaderFixed = 34;
constexpr int kRecordHead = 24;
constexpr int kTrailerSize = 16;
constexpr int kMaxName = 4096;
constexpr auto kLockWait = std::chrono::milliseconds(1000);

int64_t rewriteFloor = 1 << 20;

// A fast position-dependent checksum (running sums and sums of sums over 64-bit words in
// four lanes), good enough to tell a complete journal from a torn one.  Bytes are fed in
// chunks whose sizes are multiples of 32, except the last.
class TSum {
 public:
  explicit TSum(uint64_t seed) {
    for (int k = 0; k < 4; ++k) {
      lanes_[k] = seed ^ (0x243F6A8885A308D3ull * uint64_t(k + 1));
      mixed_[k] = ~seed + uint64_t(k);
    }
  }
  void Add(const uint8_t* p, int64_t n) {
    int64_t i = 0;
    // Four independent lanes keep the additions from waiting on one another.
    for (; i + 32 <= n; i += 32) {
      uint64_t w[4];
      std::memcpy(w, p + i, 32);
      for (int k = 0; k < 4; ++k) {
        lanes_[k] += LittleEndian(w[k]);
        mixed_[k] += lanes_[k];
      }
    }
    for (; i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      lanes_[0] += LittleEndian(w);
      mixed_[0] += lanes_[0];
    }
    if (i < n) {
      uint64_t w = uint64_t(n - i) << 56;
      for (int k = 0; i + k < n; ++k) w |= uint64_t(p[i + k]) << (8 * k);
      lanes_[1] += w;
      mixed_[1] += lanes_[1];
    }
  }
  uint64_t Value() const {
    uint64_t v = 0;
    for (int k = 0; k < 4; ++k)
      v = (v ^ lanes_[k] * 0x9E3779B97F4A7C15ull ^ mixed_[k]) * 0xFF51AFD7ED558CCDull;
    return v;
  }

 private:
  static uint64_t LittleEndian(uint64_t w) {
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(w);
    return w;
  }
  uint64_t lanes_[4], mixed_[4];
};

uint64_t GetU64(const uint8_t* p) {
  return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32);
}
void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, uint32_t(v));
  PutU32(p + 4, uint32_t(v >> 32));
}

QString FolderOf(const QString& path) {
  return QFileInfo(path).path();
}

bool LockWithin(TFile& file) {
  const auto until = std::chrono::steady_clock::now() + kLockWait;
  while (!file.TryLock()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

QString BusyMessage(const QString& dataPath) {
  return QStringLiteral(
             "\"%1\" is being changed by another program; try again when it has finished.")
      .arg(dataPath);
}

// Appends to the journal file through the transaction's buffer.
class TJournalWriter {
 public:
  explicit TJournalWriter(TFile& file) : file_(file) {}
  void Put(const void* data, int64_t n) {
    file_.WriteAt(at_, data, n);
    at_ += n;
  }
  void Copy(TFile& source, int64_t from, int64_t n, uint8_t* buffer) {
    file_.CopyFrom(source, from, at_, n, buffer, TJovTransaction::kChunk);
    at_ += n;
  }

 private:
  TFile& file_;
  int64_t at_ = 0;
};

// A journal read back: validated first, then applied.
struct TJournal {
  uint32_t salt = 0;
  int64_t oldSize[2] = {0, -1};
  QString indexName;
  struct Record {
    int file;
    int64_t offset;
    int64_t length;
    int64_t at;  // where its bytes start in the journal
  };
  std::vector<Record> records;
};

// Reads and checks the whole journal; false when it is not complete.
bool ReadJournal(TFile& journal, TByteBuffer& buffer, TJournal& out) {
  const int64_t size = journal.Size();
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
  TSum headerSum(out.salt);
  headerSum.Add(head, kHeaderFixed);
  headerSum.Add(reinterpret_cast<const uint8_t*>(name.constData()), nameLength);

  int64_t at = kHeaderFixed + nameLength;
  uint8_t* chunk = buffer.Reserve(TJovTransaction::kChunk);
  for (;;) {
    uint8_t tag[kRecordHead];
    if (at + kTrailerSize > size) return false;
    if (journal.ReadAt(at, tag, 4) != 4) return false;
    if (std::memcmp(tag, kTrailerTag, 4) == 0) {
      uint8_t trailer[kTrailerSize];
      // Bytes behind the trailer are an older journal's, in a file that is reused.
      if (journal.ReadAt(at, trailer, kTrailerSize) != kTrailerSize) return false;
      return GetU32(trailer + 4) == out.records.size() && GetU64(trailer + 8) == headerSum.Value();
    }
    if (std::memcmp(tag, kRecordTag, 4) != 0) return false;
    if (journal.ReadAt(at, tag, kRecordHead) != kRecordHead) return false;
    TJournal::Record record{tag[4], int64_t(GetU64(tag + 8)), int64_t(GetU64(tag + 16)),
                            at + kRecordHead};
    if (record.file > 1 || record.offset < 0 || record.length <= 0 ||
        record.length > size - record.at - 8 - kTrailerSize ||
        record.offset > out.oldSize[record.file] - record.length)
      return false;
    TSum sum(out.salt ^ uint64_t(record.offset) ^ (uint64_t(record.length) << 17) ^
             uint64_t(record.file));
    for (int64_t done = 0; done < record.length;) {
      const int64_t n = std::min(TJovTransaction::kChunk, record.length - done);
      if (journal.ReadAt(record.at + done, chunk, n) != n) return false;
      sum.Add(chunk, n);
      done += n;
    }
    uint8_t stored[8];
    if (journal.ReadAt(record.at + record.length, stored, 8) != 8 || GetU64(stored) != sum.Value())
      return false;
    out.records.push_back(record);
    at = record.at + record.length + 8;
  }
}

bool HasTitle(TFile& journal) {
  uint8_t title[8];
  return journal.ReadAt(0, title, 8) == 8 && std::memcmp(title, kMagic, 8) == 0;
}

// Undoes the change the journal beside dataPath describes (when it is complete) and
// removes the journal.  data is the locked data file, open for writing.  With keepIdle,
// a journal without its title (one kept between changes) stays; returns whether the
// journal was removed.
bool ApplyJournal(TFile& data, const QString& dataPath, TByteBuffer& buffer,
                  bool keepIdle = false) {
  const QString journalPath = JournalPathOf(dataPath);
  const QString folder = FolderOf(dataPath);
  {
    std::unique_ptr<TFile> journal = TFile::Open(journalPath, TFile::Mode::Read);
    if (keepIdle && !HasTitle(*journal)) return false;
    TJournal parsed;
    if (ReadJournal(*journal, buffer, parsed)) {
      const QString indexPath = QFileInfo(dataPath).dir().filePath(parsed.indexName);
      std::unique_ptr<TFile> index = TFile::Open(
          indexPath, FileExists(indexPath) ? TFile::Mode::ReadWrite : TFile::Mode::Create);
      TFile* files[2] = {&data, index.get()};
      uint8_t* chunk = buffer.Reserve(TJovTransaction::kChunk);
      for (const TJournal::Record& record : parsed.records) {
        for (int64_t done = 0; done < record.length;) {
          const int64_t n = std::min(TJovTransaction::kChunk, record.length - done);
          journal->ReadExactAt(record.at + done, chunk, n);
          files[record.file]->WriteAt(record.offset + done, chunk, n);
          done += n;
        }
      }
      for (int f = 0; f < 2; ++f) {
        if (files[f]->Size() != parsed.oldSize[f]) files[f]->Truncate(parsed.oldSize[f]);
        files[f]->Flush();
      }
    }
  }
  // Until the journal is gone from the disk, the next opening would undo again, which
  // gives the same old bytes: harmless.
  RemoveFile(journalPath);
  SyncFolder(folder);
  return true;
}

}  // namespace

bool JournalIsHot(const QString& dataPath) {
  const QString path = JournalPathOf(dataPath);
  if (!FileExists(path)) return false;
  try {
    return HasTitle(*TFile::Open(path, TFile::Mode::Read));
  } catch (const EJovError&) {
    return true;  // there, and not known to be idle
  }
}

QString JournalPathOf(const QString& dataPath) {
  return dataPath + QStringLiteral("-journal");
}

int64_t TJovTransaction::SetRewriteFloor(int64_t bytes) {
  return std::exchange(rewriteFloor, bytes);
}

TJovTransaction::TJovTransaction(std::unique_ptr<TFile>& data, std::unique_ptr<TFile>& journal,
                                 const QString& dataPath, const QString& indexPath)
    : dataSlot_(data),
      data_(data.get()),
      dataPath_(dataPath),
      indexPath_(indexPath),
      journalPath_(JournalPathOf(dataPath)),
      journal_(journal) {
  if (!LockWithin(*data_)) throw ELibraryBusy(BusyMessage(dataPath_));
  locked_ = true;
  try {
    // A library that another program replaced (a change through a new pair, a create or
    // a compact) since it was opened, or is replacing, must be opened again before it
    // can change: the open file is no longer, or soon no longer, the library.
    if (!data_->IsFileAt(dataPath_) || FileExists(SwitchPathOf(dataPath_)))
      throw ELibraryReplaced(QStringLiteral("\"%1\" was replaced by another program; open it "
                                            "again before changing it.")
                                 .arg(dataPath_));
    // An interrupted change of another program comes first.
    if (FileExists(journalPath_) && ApplyJournal(*data_, dataPath_, buffer_, true))
      journal_.reset();
    index_ = TFile::Open(indexPath_, TFile::Mode::ReadWrite);
    oldSize_[0] = data_->Size();
    oldSize_[1] = index_->Size();
  } catch (...) {
    data_->Unlock();
    throw;
  }
}

TJovTransaction::~TJovTransaction() {
  try {
    if (state_ == State::Journalled) {
      Rollback();
    } else if (state_ == State::Preparing && journalling_) {
      // The files were not touched: the journal, which may be half written, only has to go.
      journal_.reset();
      RemoveFile(journalPath_);
    }
  } catch (...) {
    // The journal stays; the next opening of the library rolls back.
  }
  if (locked_) data_->Unlock();
  if (oldData_) {
    // After a switch the library's data file is the new one, locked since it was made.
    dataSlot_->Unlock();
    // Closing the replaced file frees it, which for a large library takes the system a
    // good part of a second: that goes on beside the caller, who has nothing to wait for.
    try {
      std::thread([old = std::move(oldData_)]() mutable { old.reset(); }).detach();
    } catch (const std::system_error&) {
      oldData_.reset();
    }
  }
}

TFile& TJovTransaction::File(TLibFile file) {
  return file == TLibFile::Data ? *data_ : *index_;
}

TFile& TJovTransaction::Target(TLibFile file) {
  return rewrite_ ? *new_[int(file)].file : File(file);
}

void TJovTransaction::NewFile::Reserve(int64_t end) {
  if (end <= reserved) return;
  // Space set aside ahead of the writes also spares the file system from allocating the
  // bytes on its own, which ext4 does, pushing the whole file to the disk, when a file
  // with bytes still to allocate is renamed over another.  The room to spare is given
  // back when the file gets its final length.
  reserved = end + std::max(kChunk, end / 16);
  file->Reserve(reserved);
}

void TJovTransaction::NewFile::Wrote(int64_t offset, int64_t length) {
  if (length <= 0) return;
  int64_t begin = offset, end = offset + length;
  size = std::max(size, end);
  // Changes write mostly front to back: look from the end for the ranges this one
  // touches and merge them into it.
  auto it = std::upper_bound(written.begin(), written.end(), std::make_pair(begin, INT64_MAX));
  auto first = it;
  while (first != written.begin() && std::prev(first)->second >= begin) --first;
  auto last = it;
  while (last != written.end() && last->first <= end) ++last;
  if (first != last) {
    begin = std::min(begin, first->first);
    end = std::max(end, std::prev(last)->second);
  }
  written.insert(written.erase(first, last), {begin, end});
}

void TJovTransaction::NewFile::Cut(int64_t newSize) {
  size = newSize;
  keepOld = std::min(keepOld, newSize);
  while (!written.empty() && written.back().first >= newSize) written.pop_back();
  if (!written.empty()) written.back().second = std::min(written.back().second, newSize);
}

uint8_t* TJovTransaction::Buffer(int64_t n) {
  return buffer_.Reserve(std::min(n, kChunk));
}

void TJovTransaction::Protect(TLibFile file, int64_t offset, int64_t length) {
  if (state_ != State::Preparing) throw std::logic_error("Protect after Begin");
  if (offset < 0 || length < 0) throw std::logic_error("Protect of a negative range");
  const int64_t end = std::min(offset + length, oldSize_[int(file)]);
  if (offset < end) protected_[int(file)].push_back({offset, end - offset});
}

void TJovTransaction::Begin() {
  if (state_ != State::Preparing) throw std::logic_error("Begin twice");
  // Merge overlapping and touching ranges so that every byte is journalled once and a
  // write check finds one range.
  for (auto& ranges : protected_) {
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.offset < b.offset; });
    std::vector<Range> merged;
    for (const Range& r : ranges) {
      if (!merged.empty() && r.offset <= merged.back().offset + merged.back().length) {
        Range& last = merged.back();
        last.length = std::max(last.length, r.offset + r.length - last.offset);
      } else {
        merged.push_back(r);
      }
    }
    ranges = std::move(merged);
  }

  int64_t protectedData = 0;
  for (const Range& r : protected_[0]) protectedData += r.length;
  if (protectedData > 0 &&
      (rewriteFloor == 0 || (protectedData >= rewriteFloor && 2 * protectedData > oldSize_[0]))) {
    BeginNewPair();
    return;
  }

  const uint32_t salt = QRandomGenerator::system()->generate();
  const QByteArray name = QFileInfo(indexPath_).fileName().toUtf8();
  // The journal kept from the last change is overwritten, when it is still the one at its
  // name (another program may have removed it since, under the lock).
  const bool fresh = !journal_ || !journal_->IsFileAt(journalPath_);
  journalling_ = true;
  if (fresh) journal_ = TFile::Open(journalPath_, TFile::Mode::Create);
  TJournalWriter out(*journal_);

  uint8_t head[kHeaderFixed] = {};
  std::memcpy(head, kMagic, 8);
  PutU32(head + 8, salt);
  PutU64(head + 16, uint64_t(oldSize_[0]));
  PutU64(head + 24, uint64_t(oldSize_[1]));
  PutU16(head + 32, uint16_t(name.size()));
  TSum headerSum(salt);
  headerSum.Add(head, kHeaderFixed);
  headerSum.Add(reinterpret_cast<const uint8_t*>(name.constData()), name.size());
  out.Put(head, kHeaderFixed);
  out.Put(name.constData(), name.size());

  uint32_t records = 0;
  int64_t at = kHeaderFixed + name.size();
  for (int f = 0; f < 2; ++f) {
    TFile& source = File(TLibFile(f));
    for (Range& r : protected_[f]) {
      r.journalAt = at + kRecordHead;
      at += kRecordHead + r.length + 8;
      uint8_t recordHead[kRecordHead] = {};
      std::memcpy(recordHead, kRecordTag, 4);
      recordHead[4] = uint8_t(f);
      PutU64(recordHead + 8, uint64_t(r.offset));
      PutU64(recordHead + 16, uint64_t(r.length));
      out.Put(recordHead, kRecordHead);
      TSum sum(salt ^ uint64_t(r.offset) ^ (uint64_t(r.length) << 17) ^ uint64_t(f));
      uint8_t* chunk = Buffer(r.length);
      for (int64_t done = 0; done < r.length;) {
        const int64_t n = std::min(kChunk, r.length - done);
        // Large stretches are summed where they lie and copied inside the kernel: the
        // bytes never pass through this process.
        if (n < kChunk ||
            !source.View(r.offset + done, n, [&](const uint8_t* p) { sum.Add(p, n); })) {
          source.ReadExactAt(r.offset + done, chunk, n);
          sum.Add(chunk, n);
          out.Put(chunk, n);
        } else {
          out.Copy(source, r.offset + done, n, chunk);
        }
        done += n;
      }
      uint8_t stored[8];
      PutU64(stored, sum.Value());
      out.Put(stored, 8);
      ++records;
    }
  }
  uint8_t trailer[kTrailerSize] = {};
  std::memcpy(trailer, kTrailerTag, 4);
  PutU32(trailer + 4, records);
  PutU64(trailer + 8, headerSum.Value());
  out.Put(trailer, kTrailerSize);
  journal_->Flush();
  if (fresh) SyncFolder(FolderOf(dataPath_));
  state_ = State::Journalled;
}

void TJovTransaction::BeginNewPair() {
  rewrite_ = true;
  // Leftovers of an earlier run that died are overwritten; without a switch record they
  // were never read.
  try {
    for (int f = 0; f < 2; ++f) {
      NewFile& n = new_[f];
      n.file = TFile::Open(NewPairPathOf(f == 0 ? dataPath_ : indexPath_), TFile::Mode::Create);
      n.size = n.keepOld = oldSize_[f];
    }
    // Once switched in, the new data file is the library's: a writer that opens it then
    // waits for this change to end.
    if (!new_[0].file->TryLock()) throw ELibraryBusy(BusyMessage(dataPath_));
    // A disk without room for the new file fails here, before a byte is copied.
    new_[0].Reserve(oldSize_[0]);
  } catch (...) {
    new_[0].file.reset();
    new_[1].file.reset();
    DiscardNewPair(dataPath_, indexPath_);
    state_ = State::Finished;
    throw;
  }
  state_ = State::Journalled;
}

void TJovTransaction::CheckWrite(TLibFile file, int64_t offset, int64_t length) const {
  if (state_ != State::Journalled) throw std::logic_error("write outside a begun transaction");
  if (offset < 0 || length < 0) throw std::logic_error("write at a negative offset");
  const int64_t end = std::min(offset + length, oldSize_[int(file)]);
  if (offset >= end) return;  // past the old end
  for (const Range& r : protected_[int(file)])
    if (r.offset <= offset && end <= r.offset + r.length) return;
  throw std::logic_error("write over bytes the journal does not hold");
}

void TJovTransaction::Write(TLibFile file, int64_t offset, const void* data, int64_t length) {
  CheckWrite(file, offset, length);
  written_[int(file)] = true;
  if (rewrite_) new_[int(file)].Reserve(offset + length);
  Target(file).WriteAt(offset, data, length);
  if (rewrite_) new_[int(file)].Wrote(offset, length);
}

void TJovTransaction::WriteParts(TLibFile file, int64_t offset, const TFile::Part* parts,
                                 int count) {
  int64_t length = 0;
  for (int i = 0; i < count; ++i) length += parts[i].size;
  CheckWrite(file, offset, length);
  written_[int(file)] = true;
  if (rewrite_) new_[int(file)].Reserve(offset + length);
  Target(file).WritePartsAt(offset, parts, count);
  if (rewrite_) new_[int(file)].Wrote(offset, length);
}

void TJovTransaction::Truncate(TLibFile file, int64_t size) {
  const int64_t current = rewrite_ ? new_[int(file)].size : File(file).Size();
  if (size < current) CheckWrite(file, size, current - size);
  written_[int(file)] = true;
  Target(file).Truncate(size);
  if (rewrite_) new_[int(file)].Cut(size);
}

void TJovTransaction::Move(TLibFile file, int64_t from, int64_t to, int64_t length) {
  if (length <= 0 || from == to) return;
  CheckWrite(file, to, length);
  written_[int(file)] = true;
  uint8_t* chunk = Buffer(length);
  if (rewrite_) {
    if (from < 0 || from + length > oldSize_[int(file)])
      throw std::logic_error("move of bytes the file did not hold");
    new_[int(file)].Reserve(to + length);
    new_[int(file)].file->CopyFrom(File(file), from, to, length, chunk, std::min(length, kChunk));
    new_[int(file)].Wrote(to, length);
    return;
  }
  TFile& f = File(file);
  // Bytes the journal holds are copied from there, in any order and inside the kernel
  // where it can: nothing written here can spoil them.
  if (const Range* r = Journalled(file, from, length)) {
    f.CopyFrom(*journal_, r->journalAt + (from - r->offset), to, length, chunk,
               std::min(length, kChunk));
    return;
  }
  if (to < from) {
    for (int64_t done = 0; done < length;) {
      const int64_t n = std::min(kChunk, length - done);
      f.ReadExactAt(from + done, chunk, n);
      f.WriteAt(to + done, chunk, n);
      done += n;
    }
  } else {
    for (int64_t left = length; left > 0;) {
      const int64_t n = std::min(kChunk, left);
      left -= n;
      f.ReadExactAt(from + left, chunk, n);
      f.WriteAt(to + left, chunk, n);
    }
  }
}

const TJovTransaction::Range* TJovTransaction::Journalled(TLibFile file, int64_t offset,
                                                          int64_t length) const {
  for (const Range& r : protected_[int(file)])
    if (r.offset <= offset && offset + length <= r.offset + r.length) return &r;
  return nullptr;
}

void TJovTransaction::ReadOld(TLibFile file, int64_t offset, void* out, int64_t length) {
  if (state_ != State::Journalled) throw std::logic_error("ReadOld outside a begun transaction");
  if (length <= 0) return;
  if (rewrite_) {
    // The old files are never written: their bytes are the old ones.
    if (offset < 0 || offset + length > oldSize_[int(file)])
      throw std::logic_error("ReadOld of bytes the file did not hold");
    File(file).ReadExactAt(offset, out, length);
    return;
  }
  const Range* r = Journalled(file, offset, length);
  if (r == nullptr) throw std::logic_error("ReadOld of bytes the journal does not hold");
  journal_->ReadExactAt(r->journalAt + (offset - r->offset), out, length);
}

void TJovTransaction::Commit() {
  if (state_ != State::Journalled) throw std::logic_error("Commit without Begin");
  if (rewrite_) {
    CommitNewPair();
    return;
  }
  try {
    if (written_[0]) data_->Flush();
    if (written_[1]) index_->Flush();
  } catch (...) {
    RollbackAfterFailure();
    throw;
  }
  // The commit point: the journal's title made invalid, on the disk.  A journal without
  // its title is one that never completed, which the next opening simply removes.
  static const uint8_t kCleared[8] = {};
  try {
    journal_->WriteAt(0, kCleared, 8);
    journal_->Flush();
  } catch (...) {
    // Whether the cleared title reached the disk is not known: the title goes back, and
    // the change with it.
    try {
      journal_->WriteAt(0, kMagic, 8);
    } catch (...) {
    }
    RollbackAfterFailure();
    throw;
  }
  // The journal stays, without its title, for the next change.
  state_ = State::Committed;
}

void TJovTransaction::CommitNewPair() {
  try {
    for (int f = 0; f < 2; ++f) {
      NewFile& n = new_[f];
      TFile& old = File(TLibFile(f));
      // Also gives back the space set aside past the end.
      n.Reserve(n.size);
      n.file->Truncate(n.size);
      // Every byte the change did not write is the old file's, as it would be in place.
      int64_t at = 0;
      const int64_t keep = std::min(n.keepOld, n.size);
      auto fill = [&](int64_t end) {
        end = std::min(end, keep);
        if (at < end) {
          uint8_t* chunk = Buffer(end - at);
          n.file->CopyFrom(old, at, at, end - at, chunk, std::min(end - at, kChunk));
        }
      };
      for (const auto& [begin, end] : n.written) {
        fill(begin);
        at = std::max(at, end);
      }
      fill(keep);
      n.file->Flush();
    }
    // The new files take the old ones' permissions (the owner is the writer's).
    for (const QString& path : {dataPath_, indexPath_})
      if (const QFile::Permissions mode = QFile::permissions(path); mode != 0)
        QFile::setPermissions(NewPairPathOf(path), mode);
    new_[1].file.reset();
    SwitchInNewPair(dataPath_, indexPath_);
  } catch (...) {
    RollbackAfterFailure();
    throw;
  }
  state_ = State::Committed;
  // The library's data file is now the new one: the object that held the old one holds
  // it, and the old one stays here, locked, until the transaction ends.
  oldData_ = std::move(dataSlot_);
  dataSlot_ = std::move(new_[0].file);
}

void TJovTransaction::RollbackAfterFailure() {
  try {
    Rollback();
  } catch (...) {
    // The journal stays for the next opening; the first failure is the one to report.
  }
}

void TJovTransaction::Rollback() {
  if (rewrite_) {
    // The old pair was never touched: the new files only have to go.
    state_ = State::Finished;
    new_[0].file.reset();
    new_[1].file.reset();
    DiscardNewPair(dataPath_, indexPath_);
    return;
  }
  journal_.reset();
  index_.reset();  // the journal reopens the index by name
  // From here on the destructor does not try again: a failure leaves the journal for
  // the next opening.
  state_ = State::Finished;
  ApplyJournal(*data_, dataPath_, buffer_);
}

void TJovTransaction::DropJournal(TFile* data, std::unique_ptr<TFile>& journal) {
  if (!journal) return;
  try {
    if (data && data->TryLock()) {
      const QString path = journal->Path();
      const QString dataPath = path.chopped(JournalPathOf(QString()).size());
      if (data->IsFileAt(dataPath) && journal->IsFileAt(path) && !HasTitle(*journal))
        RemoveFile(path);
      data->Unlock();
    }
  } catch (...) {
    if (data) data->Unlock();
  }
  journal.reset();
}

void TJovTransaction::RecoverOnOpen(TFile& data, const QString& dataPath, bool writable) {
  const QString journalPath = JournalPathOf(dataPath);
  if (!FileExists(journalPath)) return;
  if (!JournalIsHot(dataPath)) {
    // An idle journal: nothing to undo.  It is another program's, kept between its
    // changes, or was left by one that stopped after a change; it goes when that can be
    // done at once (its owner makes a new one when it needs it), and only while the open
    // file is the library's: a writer of a pair switched in since holds another lock.
    if (writable && data.TryLock()) {
      try {
        if (data.IsFileAt(dataPath) && !JournalIsHot(dataPath)) RemoveFile(journalPath);
      } catch (const EJovError&) {
      }
      data.Unlock();
    }
    return;
  }
  auto refuse = [&](const QString& reason) {
    return ERecoveryFailed(
        QStringLiteral("\"%1\" was left half-changed by an interrupted edit and is not read until "
                       "it is repaired from \"%2\": %3")
            .arg(dataPath, journalPath, reason));
  };
  // A hot journal may be that of a change under way: its writer holds the lock (which a
  // file open for reading can take too).
  if (!LockWithin(data)) throw ELibraryBusy(BusyMessage(dataPath));
  try {
    // The library was replaced while this one waited: the caller opens it again.
    if (!data.IsFileAt(dataPath))
      throw ELibraryReplaced(
          QStringLiteral("\"%1\" was replaced while it was opened.").arg(dataPath));
    if (!writable) throw refuse(QStringLiteral("the library cannot be written here."));
    // Another program may have finished its own recovery while this one waited.
    if (FileExists(journalPath)) {
      TByteBuffer buffer;
      try {
        ApplyJournal(data, dataPath, buffer, true);
      } catch (const EJovError& e) {
        throw refuse(e.Message());
      }
    }
  } catch (...) {
    data.Unlock();
    throw;
  }
  data.Unlock();
}

bool TakeWriterLock(TFile& data) {
  return LockWithin(data);
}
