#include "library/transaction.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "common/operation.h"
#include "library/history.h"
#include "library/oldview.h"
#include "library/pairswitch.h"

namespace {

constexpr auto kLockWait = std::chrono::milliseconds(1000);

int64_t rewriteFloor = 1 << 20;
int64_t shiftFloor = 1 << 20;

// An opening keeps the change a journal describes when the library's history names it as
// committed: the history's slot was its commit point.
TJournalCommitted CommittedByHistory(const TLibraryPaths& paths) {
  return [paths](uint64_t journalId, const TRolledBackFiles& rolledBack) {
    return HistoryCommittedJournal(paths, journalId, rolledBack);
  };
}

bool LockWithin(TFile& file) {
  const auto until = std::chrono::steady_clock::now() + kLockWait;
  while (!file.TryLock()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

ELibraryBusy Busy(const QString& dataPath) {
  return ELibraryBusy(
      QStringLiteral("\"%1\" is being changed by another program; try again when it has finished.")
          .arg(dataPath));
}

// Creates a file beside the library (a journal, a file of a new pair).  In a folder the
// user cannot write, says so in words a user understands.
std::unique_ptr<TFile> CreateBeside(const TLibraryPaths& paths, const QString& path) {
  try {
    return TFile::Open(path, TFile::Mode::Create);
  } catch (const EFOpenError&) {
    const QByteArray folder = QFile::encodeName(paths.Folder());
    if (::access(folder.constData(), W_OK) != 0 && errno != ENOENT)
      throw EFOpenError(QStringLiteral("The folder \"%1\" is read-only: a change needs to write a "
                                       "small file beside the library while it runs (%2).")
                            .arg(paths.Folder(), QString::fromLocal8Bit(std::strerror(errno))));
    throw;
  }
}

// A rewrite replaces the files under the library's names: only files the user may write.
void CheckReplaceable(const TLibraryFiles& files) {
  for (const TLibFile f : {TLibFile::Data, TLibFile::Index}) {
    const QString& path = files.paths.File(f);
    if (!FileExists(path)) continue;
    if (::access(QFile::encodeName(path).constData(), W_OK) != 0 ||
        (f == TLibFile::Data && files.data && !files.writable))
      throw EJovError(QStringLiteral("\"%1\" cannot be written: %2")
                          .arg(path, QString::fromLocal8Bit(std::strerror(EACCES))));
  }
}

// The new files of a pair take the old ones' mode, and their owner and group where the
// process may set them (a user may give a file a group of theirs; the owner needs root).
void TakeOwnership(const QString& oldPath, const QString& newPath) {
  struct stat old;
  if (::stat(QFile::encodeName(oldPath).constData(), &old) != 0) return;
  const QByteArray target = QFile::encodeName(newPath);
  ::chmod(target.constData(), old.st_mode & 07777);
  if (::chown(target.constData(), old.st_uid, old.st_gid) != 0)
    (void)::chown(target.constData(), uid_t(-1), old.st_gid);
}

// Merges overlapping and touching ranges, so that every byte is journalled once and a
// write check finds one range.
void Merge(std::vector<TJournalRange>& ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const TJournalRange& a, const TJournalRange& b) { return a.offset < b.offset; });
  std::vector<TJournalRange> merged;
  for (const TJournalRange& r : ranges) {
    if (!merged.empty() && r.offset <= merged.back().offset + merged.back().length) {
      TJournalRange& last = merged.back();
      last.length = std::max(last.length, r.offset + r.length - last.offset);
    } else {
      merged.push_back(r);
    }
  }
  ranges = std::move(merged);
}

// Opening a library: when a journal lies beside the data file, takes the lock and rolls
// the interrupted change back.  Throws ELibraryBusy while another program still holds
// the lock (its change is under way), ELibraryReplaced when the file at the library's
// name is no longer data once the lock is taken, and ERecoveryFailed when it cannot be
// undone here.
void RecoverOnOpen(TFile& data, const TLibraryPaths& paths, bool writable) {
  const QString journalPath = paths.Journal();
  if (!FileExists(journalPath)) return;
  if (!JournalIsHot(paths)) {
    // An idle journal: nothing to undo.  It is another program's, kept between its
    // changes, or was left by one that stopped after a change; it goes when that can be
    // done at once (its owner makes a new one when it needs it), and only while the open
    // file is the library's: a writer of a pair switched in since holds another lock.
    if (writable && data.TryLock()) {
      try {
        if (data.IsFileAt(paths.Data()) && !JournalIsHot(paths)) RemoveFile(journalPath);
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
            .arg(paths.Data(), journalPath, reason));
  };
  // A hot journal may be that of a change under way: its writer holds the lock (which a
  // file open for reading can take too).
  if (!LockWithin(data)) throw Busy(paths.Data());
  try {
    if (!data.IsFileAt(paths.Data()))
      throw ELibraryReplaced(
          QStringLiteral("\"%1\" was replaced while it was opened.").arg(paths.Data()));
    if (!writable) throw refuse(QStringLiteral("the library cannot be written here."));
    // Another program may have finished its own recovery while this one waited.
    if (FileExists(journalPath)) {
      TByteBuffer buffer;
      try {
        ApplyJournal(data, paths, buffer, true, CommittedByHistory(paths));
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

}  // namespace

// ---------------------------------------------------------------------------------------
// Opening and closing

bool OpenLibraryFiles(TLibraryFiles& files, const QString& dataPath,
                      const std::function<void(const TLibraryPaths&)>& onResolved) {
  CloseLibraryFiles(files);
  files.paths = TLibraryPaths::Of(dataPath);
  if (onResolved) onResolved(files.paths);
  // A new pair of files that was being switched in is put in place first.
  bool switched = RecoverSwitch(files.paths);
  files.dataFound = FileStampAt(dataPath);
  if (!files.dataFound.Exists()) return false;
  for (int attempt = 0;; ++attempt) {
    files.writable = true;
    try {
      files.data = TFile::Open(dataPath, TFile::Mode::ReadWrite);
    } catch (const EFOpenError&) {
      // A library on read-only media can still be viewed; writes to it then fail.
      files.data = TFile::Open(dataPath, TFile::Mode::Read);
      files.writable = false;
    }
    // A change that was interrupted is undone before anything is read.
    try {
      RecoverOnOpen(*files.data, files.paths, files.writable);
      break;
    } catch (const ELibraryReplaced&) {
      // Another program switched a new pair in meanwhile: that one is the library.
      files.data.reset();
      switched = true;
      if (attempt == 2) throw;
    } catch (...) {
      files.data.reset();
      throw;
    }
  }
  // The index as it is named now that a switch found on the way is finished.
  if (switched) files.paths = TLibraryPaths::Of(dataPath);
  return true;
}

void CloseLibraryFiles(TLibraryFiles& files) {
  TFile* data = files.data.get();
  if (files.journal) {
    try {
      if (data && data->TryLock()) {
        const QString path = files.journal->Path();
        if (data->IsFileAt(files.paths.Data()) && files.journal->IsFileAt(path) &&
            !JournalHasTitle(*files.journal))
          RemoveFile(path);
        data->Unlock();
      }
    } catch (...) {
      if (data) data->Unlock();
    }
    files.journal.reset();
  }
  files.history.reset();
  files.data.reset();
}

int64_t TJovTransaction::SetRewriteFloor(int64_t bytes) {
  return std::exchange(rewriteFloor, bytes);
}

int64_t TJovTransaction::SetShiftFloor(int64_t bytes) {
  return std::exchange(shiftFloor, bytes);
}

// ---------------------------------------------------------------------------------------
// Starting and ending

TJovTransaction::TJovTransaction(TLibraryFiles& files, TChangeKind kind,
                                 TOperationDelegate* delegate)
    : files_(files), kind_(kind), delegate_(delegate), data_(files.data.get()) {
  // A switch of an earlier run that did not finish is finished first, as an opening
  // would, so that its record never names the files this run writes.
  if (kind_ == TChangeKind::Rewrite) {
    RecoverSwitch(files_.paths);
    CheckReplaceable(files_);
  }
  if (data_ == nullptr) {
    if (kind_ == TChangeKind::Edit) throw std::logic_error("an edit of a library not open");
    return;
  }
  if (!LockWithin(*data_)) throw Busy(files_.paths.Data());
  locked_ = true;
  try {
    // A library that another program replaced (a change through a new pair, a create or
    // a compact) since it was opened, or is replacing, must be opened again before it
    // can change: the open file is no longer, or soon no longer, the library.
    if (!data_->IsFileAt(files_.paths.Data()) || FileExists(files_.paths.Switch()))
      throw ELibraryReplaced(QStringLiteral("\"%1\" was replaced by another program; open it "
                                            "again before changing it.")
                                 .arg(files_.paths.Data()));
    // An interrupted change of another program comes first.
    if (FileExists(files_.paths.Journal()) &&
        ApplyJournal(*data_, files_.paths, buffer_, true, CommittedByHistory(files_.paths)))
      files_.journal.reset();
    // One look at each open file gives its size and the stamp a history is bound to.
    TFileStamp found[2] = {data_->Stamp(), {}};
    oldSize_[0] = found[0].Exists() ? found[0].size : data_->Size();
    // A rewrite reads the old index, or rewrites it in place when the pair cannot switch.
    const bool inPlace = kind_ == TChangeKind::Edit || !files_.paths.CanSwitch();
    if (kind_ == TChangeKind::Edit || FileExists(files_.paths.Index()))
      index_ =
          TFile::Open(files_.paths.Index(), inPlace ? TFile::Mode::ReadWrite : TFile::Mode::Read);
    else if (inPlace)
      index_ = CreateBeside(files_.paths, files_.paths.Index());
    if (index_) {
      found[1] = index_->Stamp();
      oldSize_[1] = found[1].Exists() ? found[1].size : index_->Size();
    }
    if (kind_ == TChangeKind::Edit && files_.historyLimit > 0) {
      THistoryState::Stamp stamps[2];
      for (int f = 0; f < 2; ++f)
        stamps[f] = found[f].Exists() ? StampOf(found[f]) : StampOf(files_.paths.File(TLibFile(f)));
      recorder_ = std::make_unique<THistoryRecorder>(oldSize_, stamps);
    }
  } catch (...) {
    data_->Unlock();
    throw;
  }
}

TJovTransaction::~TJovTransaction() {
  try {
    if (state_ == State::Begun) {
      Rollback();
    } else if (state_ == State::Preparing && journalling_) {
      // The files were not touched: the journal, which may be half written, only has to go.
      files_.journal.reset();
      RemoveFile(files_.paths.Journal());
    }
  } catch (...) {
    // The journal stays; the next opening of the library rolls back.
  }
  if (locked_) data_->Unlock();
  // After a switch the library's data file is the new one, locked since it was made.
  if (state_ == State::Committed && newPair_ && files_.data) files_.data->Unlock();
  if (oldData_) {
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
  TFile* f = file == TLibFile::Data ? data_ : index_.get();
  if (f == nullptr) throw std::logic_error("a file the library does not have yet");
  return *f;
}

TFile& TJovTransaction::Target(TLibFile file) {
  return newPair_ ? *new_[int(file)].file : File(file);
}

void TJovTransaction::Describe(const QString& what) {
  if (recorder_) recorder_->what = what;
}

int64_t TJovTransaction::NewSize(TLibFile file) {
  return newPair_ ? new_[int(file)].size : File(file).Size();
}

void TJovTransaction::ReadNew(TLibFile file, int64_t offset, void* out, int64_t length) {
  Target(file).ReadExactAt(offset, out, length);
}

QString TJovTransaction::NewPath(TLibFile file) const {
  return newPair_ ? files_.paths.NewFile(file) : files_.paths.File(file);
}

uint8_t* TJovTransaction::Buffer(int64_t n) {
  return buffer_.Reserve(std::min(n, kChunk));
}

// ---------------------------------------------------------------------------------------
// The new pair's files

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

// ---------------------------------------------------------------------------------------
// Begin

void TJovTransaction::Protect(TLibFile file, int64_t offset, int64_t length) {
  if (state_ != State::Preparing) throw std::logic_error("Protect after Begin");
  if (offset < 0) throw std::logic_error("Protect at a negative offset");
  // A range measured up to the end of a file shorter than expected (a damaged index) is
  // empty: there is nothing old to keep.
  if (kind_ == TChangeKind::Rewrite || length <= 0) return;
  const int64_t end = std::min(offset + length, oldSize_[int(file)]);
  if (offset < end) protected_[int(file)].push_back({offset, end - offset, 0, {}});
}

void TJovTransaction::Begin() {
  if (state_ != State::Preparing) throw std::logic_error("Begin twice");
  const bool canSwitch = files_.paths.CanSwitch();
  if (kind_ == TChangeKind::Rewrite) {
    if (canSwitch || data_ == nullptr) {
      BeginNewPair(false);
      return;
    }
    // A pair that renames would split from its other names is rewritten in place, every
    // old byte in the journal.
    for (int f = 0; f < 2; ++f)
      if (oldSize_[f] > 0) protected_[f].push_back({0, oldSize_[f], 0, {}});
    BeginJournal();
    return;
  }
  for (auto& ranges : protected_) Merge(ranges);
  if (shift_.delta != 0) {
    BeginJournal();
    return;
  }
  int64_t protectedData = 0;
  for (const TJournalRange& r : protected_[0]) protectedData += r.length;
  // A journal writes every protected byte twice, a new pair the whole file once.
  if (canSwitch && protectedData > 0 &&
      (rewriteFloor == 0 || (protectedData >= rewriteFloor && 2 * protectedData > oldSize_[0])))
    BeginNewPair(true);
  else
    BeginJournal();
}

void TJovTransaction::BeginJournal() {
  // The journal kept from the last change is overwritten, when it is still the one at its
  // name (another program may have removed it since, under the lock).
  const QString journalPath = files_.paths.Journal();
  bool fresh = !files_.journal || !files_.journal->IsFileAt(journalPath);
  // A reader given the old bytes of the last change may still read them from its
  // journal: that file is left to it and a new one made.
  if (!fresh && files_.onBegun) {
    files_.journal.reset();
    RemoveFile(journalPath);
    fresh = true;
  }
  journalling_ = true;
  if (fresh) files_.journal = CreateBeside(files_.paths, journalPath);
  TFile* const files[2] = {data_, index_.get()};
  journalId_ =
      WriteJournal(*files_.journal, files, oldSize_, QFileInfo(files_.paths.Index()).fileName(),
                   protected_, buffer_, delegate_, shift_, &journalEnd_);
  if (fresh) SyncFolder(files_.paths.Folder());
  state_ = State::Begun;
  // A reader of this program that shows the library meanwhile reads the old bytes from
  // here on; its own handle on the journal outlives the journal's name.
  if (files_.onBegun)
    files_.onBegun(std::make_shared<const TOldView>(TFile::Open(journalPath, TFile::Mode::Read),
                                                    protected_[0], oldSize_[0]));
}

void TJovTransaction::BeginNewPair(bool keepOld) {
  newPair_ = true;
  // Leftovers of an earlier run that died are overwritten; without a switch record they
  // were never read.
  try {
    for (int f = 0; f < 2; ++f) {
      NewFile& n = new_[f];
      n.file = CreateBeside(files_.paths, files_.paths.NewFile(TLibFile(f)));
      n.size = n.keepOld = keepOld ? oldSize_[f] : 0;
    }
    // Once switched in, the new data file is the library's: a writer that opens it then
    // waits for this change to end.
    if (!new_[0].file->TryLock()) throw Busy(files_.paths.Data());
    // A disk without room for the new file fails here, before a byte is copied.
    if (keepOld) new_[0].Reserve(oldSize_[0]);
  } catch (...) {
    new_[0].file.reset();
    new_[1].file.reset();
    DiscardNewPair(files_.paths);
    state_ = State::Finished;
    throw;
  }
  state_ = State::Begun;
}

// ---------------------------------------------------------------------------------------
// Writing

void TJovTransaction::CheckWrite(TLibFile file, int64_t offset, int64_t length) const {
  if (state_ != State::Begun) throw std::logic_error("write outside a begun transaction");
  if (offset < 0 || length < 0) throw std::logic_error("write at a negative offset");
  if (kind_ == TChangeKind::Rewrite) return;
  if (file == TLibFile::Data && shifted_)
    CheckShiftedWrite(offset, length);
  else
    CheckOldWrite(file, offset, length);
}

// A write to the shifted data file falls on the room opened, or on old bytes that the
// journal holds, wherever the shift has put them.
void TJovTransaction::CheckShiftedWrite(int64_t offset, int64_t length) const {
  const int64_t at = shift_.offset, moved = std::abs(shift_.delta), end = offset + length;
  if (end > oldSize_[0] + shift_.delta) throw std::logic_error("a write past a shifted file");
  if (offset < at) CheckOldWrite(TLibFile::Data, offset, std::min(end, at) - offset);
  const int64_t behind = std::max(offset, shift_.delta > 0 ? at + moved : at);
  if (behind < end) CheckOldWrite(TLibFile::Data, behind - shift_.delta, end - behind);
}

void TJovTransaction::CheckOldWrite(TLibFile file, int64_t offset, int64_t length) const {
  const int64_t end = std::min(offset + length, oldSize_[int(file)]);
  if (offset >= end) return;  // past the old end
  for (const TJournalRange& r : protected_[int(file)])
    if (r.offset <= offset && end <= r.offset + r.length) return;
  throw std::logic_error("write over bytes the journal does not hold");
}

void TJovTransaction::Write(TLibFile file, int64_t offset, const void* data, int64_t length) {
  const TFile::Part part{const_cast<void*>(data), length};
  WriteParts(file, offset, &part, 1);
}

void TJovTransaction::WriteParts(TLibFile file, int64_t offset, const TFile::Part* parts,
                                 int count) {
  int64_t length = 0;
  for (int i = 0; i < count; ++i) length += parts[i].size;
  CheckWrite(file, offset, length);
  written_[int(file)] = true;
  if (newPair_) new_[int(file)].Reserve(offset + length);
  if (count == 1)
    Target(file).WriteAt(offset, parts[0].data, parts[0].size);
  else
    Target(file).WritePartsAt(offset, parts, count);
  if (newPair_) new_[int(file)].Wrote(offset, length);
  if (recorder_) recorder_->Map(file).Wrote(offset, length);
}

void TJovTransaction::Copied(TLibFile file, int64_t from, int64_t to, int64_t length) {
  if (recorder_) recorder_->Map(file).Copied(from, to, length);
}

void TJovTransaction::Truncate(TLibFile file, int64_t size) {
  if (file == TLibFile::Data && shifted_) throw std::logic_error("a shifted file cut");
  const int64_t current = newPair_ ? new_[int(file)].size : File(file).Size();
  if (size < current) CheckWrite(file, size, current - size);
  written_[int(file)] = true;
  Target(file).Truncate(size);
  if (newPair_) new_[int(file)].Cut(size);
  if (recorder_) recorder_->Map(file).Cut(size);
}

void TJovTransaction::Move(TLibFile file, int64_t from, int64_t to, int64_t length) {
  // In place, bytes moved onto themselves are there already; a new file still needs them.
  if (length <= 0 || (from == to && !newPair_)) return;
  if (file == TLibFile::Data && shifted_) throw std::logic_error("a move in a shifted file");
  CheckWrite(file, to, length);
  written_[int(file)] = true;
  if (recorder_) recorder_->Map(file).Copied(from, to, length);
  uint8_t* chunk = Buffer(length);
  if (newPair_) {
    if (from < 0 || from + length > oldSize_[int(file)])
      throw std::logic_error("move of bytes the file did not hold");
    NewFile& n = new_[int(file)];
    n.Reserve(to + length);
    n.file->CopyFrom(File(file), from, to, length, chunk, std::min(length, kChunk));
    n.Wrote(to, length);
    return;
  }
  TFile& f = File(file);
  // Bytes the journal holds are copied from there, in any order and inside the kernel
  // where it can: nothing written here can spoil them.  The others are never written
  // over (writes go to journalled bytes or past the old end), so they are still the old
  // ones: the source is taken in stretches of either kind.
  for (int64_t at = from; at < from + length;) {
    int64_t next = from + length;
    const TJournalRange* inside = ProtectedStretch(file, at, next);
    const int64_t n = next - at, dest = to + (at - from);
    if (inside != nullptr)
      f.CopyFrom(*files_.journal, inside->at + (at - inside->offset), dest, n, chunk,
                 std::min(n, kChunk));
    else
      MoveInPlace(f, at, dest, n);
    at = next;
  }
}

// The protected range that holds the byte at `at`, or none; `next` (the end of the
// stretch asked about) is cut to where the stretch from `at` stops being of that kind.
const TJournalRange* TJovTransaction::ProtectedStretch(TLibFile file, int64_t at,
                                                       int64_t& next) const {
  for (const TJournalRange& r : protected_[int(file)]) {
    if (r.offset <= at && at < r.offset + r.length) {
      next = std::min(next, r.offset + r.length);
      return &r;
    }
    if (r.offset > at) next = std::min(next, r.offset);
  }
  return nullptr;
}

void TJovTransaction::MoveInPlace(TFile& f, int64_t from, int64_t to, int64_t length) {
  uint8_t* chunk = Buffer(length);
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

void TJovTransaction::ReadOld(TLibFile file, int64_t offset, void* out, int64_t length) {
  if (state_ != State::Begun) throw std::logic_error("ReadOld outside a begun transaction");
  if (length <= 0) return;
  if (offset < 0 || offset + length > oldSize_[int(file)])
    throw std::logic_error("ReadOld of bytes the file did not hold");
  // The old files of a new pair are never written.  In place, bytes the journal does
  // not hold are never written either: only the protected ones come from the journal.
  auto* to = static_cast<uint8_t*>(out);
  const int64_t end = offset + length;
  for (int64_t at = offset; at < end;) {
    int64_t next = end;
    const TJournalRange* inside = newPair_ ? nullptr : ProtectedStretch(file, at, next);
    if (inside != nullptr && !inside->old.empty())
      std::memcpy(to + (at - offset), inside->old.data() + (at - inside->offset),
                  size_t(next - at));
    else if (inside != nullptr)
      files_.journal->ReadExactAt(inside->at + (at - inside->offset), to + (at - offset),
                                  next - at);
    else
      ReadUnwritten(file, at, to + (at - offset), next - at);
    at = next;
  }
}

void TJovTransaction::ReadUnwritten(TLibFile file, int64_t offset, uint8_t* out, int64_t length) {
  TFile& f = File(file);
  if (file != TLibFile::Data || !shifted_) {
    f.ReadExactAt(offset, out, length);
    return;
  }
  const int64_t at = shift_.offset, moved = std::abs(shift_.delta);
  for (int64_t from = offset; from < offset + length;) {
    int64_t next = offset + length, place = from;
    if (from < at)
      next = std::min(next, at);
    else if (shift_.delta > 0)
      place = from + moved;
    else if (from < at + moved)
      throw std::logic_error("read of closed bytes the journal does not hold");
    else
      place = from - moved;
    f.ReadExactAt(place, out + (from - offset), next - from);
    from = next;
  }
}

// ---------------------------------------------------------------------------------------
// Shifting

int64_t TJovTransaction::ShiftUnit() const {
  return kind_ == TChangeKind::Edit && data_ != nullptr ? data_->ShiftUnit() : 0;
}

int64_t TJovTransaction::PlanShift(int64_t offset, int64_t delta) {
  if (state_ != State::Preparing || shift_.delta != 0)
    throw std::logic_error("a shift planned after Begin or twice");
  const int64_t size = oldSize_[0];
  if (kind_ != TChangeKind::Edit || delta == 0 || files_.onBegun || files_.shiftRefused ||
      offset < 0 || size - offset < std::max<int64_t>(shiftFloor, 1) || offset - delta >= size)
    return 0;
  const int64_t unit = data_->ShiftUnit();
  if (unit <= 0) return 0;
  const int64_t at = offset / unit * unit;
  const int64_t moved = delta > 0 ? (delta + unit - 1) / unit * unit : -delta / unit * unit;
  // Recovery tells an unfinished shift by its hole: the bytes it moves must have none.
  if (moved == 0 || data_->NextHole(at) < size) return 0;
  shift_ = {at, delta > 0 ? moved : -moved};
  shiftAsked_ = offset;
  // The bytes before offset in its block go back in place over bytes the shift brings
  // there: those of the room opened, or the closed ones' followers, which are dropped.
  Protect(TLibFile::Data, at, offset - at + (delta > 0 ? 0 : moved));
  return shift_.delta;
}

void TJovTransaction::Shift() {
  if (state_ != State::Begun || shift_.delta == 0 || shifted_ || written_[0])
    throw std::logic_error("a shift not planned, or after the data file changed");
  const int64_t at = shift_.offset, moved = std::abs(shift_.delta), oldSize = oldSize_[0];
  std::vector<uint8_t> head(size_t(shiftAsked_ - at));
  data_->ReadExactAt(at, head.data(), int64_t(head.size()));
  written_[0] = true;
  if (!data_->Shift(at, shift_.delta)) {
    files_.shiftRefused = true;
    throw EShiftRefused(QStringLiteral("\"%1\" cannot be shifted here.").arg(data_->Path()));
  }
  // The shift is durable, and the journal says so, before anything else changes: until
  // then recovery finds it by its hole, afterwards by the mark.
  data_->Flush();
  MarkJournalShifted(*files_.journal, journalId_, journalEnd_);
  shifted_ = true;
  data_->WriteAt(at, head.data(), int64_t(head.size()));
  if (!recorder_) return;
  TChangeMap& map = recorder_->Map(TLibFile::Data);
  if (shift_.delta > 0) {
    map.Copied(at, at + moved, oldSize - at);
    map.Wrote(at, moved);
  } else {
    map.Copied(at + moved, at, oldSize - at - moved);
    map.Cut(oldSize - moved);
  }
  map.Copied(at, at, int64_t(head.size()));
}

// ---------------------------------------------------------------------------------------
// Commit and rollback

void TJovTransaction::Commit() {
  // A change that found nothing to write ends as it began.
  if (state_ == State::Preparing && !journalling_) {
    state_ = State::Finished;
    return;
  }
  if (state_ != State::Begun) throw std::logic_error("Commit without Begin");
  if (newPair_)
    CommitNewPair();
  else
    CommitJournal();
}

void TJovTransaction::CommitJournal() {
  std::unique_ptr<THistoryCommit> history;
  try {
    // The history's entry, and its slot when the history can tell the change from the
    // files after a power cut, go to the disk beside the change's files.
    if (recorder_) history = PrepareHistoryCommit(*this, files_, *recorder_, delegate_);
    if (history) history->Stage(journalId_);
    if (written_[0]) data_->Flush();
    if (written_[1]) index_->Flush();
    CheckCancel(delegate_);  // the last moment a stop can still undo the change
    // The commit point: the history, whose slot names this journal, on the disk; or,
    // without a history, the journal's title made invalid on the disk.  A journal
    // without its title is one that never completed, which the next opening removes.
    if (history)
      history->Commit();
    else
      MarkJournalCommitted(*files_.journal);
  } catch (...) {
    // When the slot that named the journal cannot be taken back, whether the change
    // committed is for the next opening to tell: the journal stays as it is.
    if (history && !history->Revert()) {
      state_ = State::Finished;
      throw;
    }
    RollbackAfterFailure();
    throw;
  }
  // The journal stays, without its title, for the next change.
  state_ = State::Committed;
  if (history) ClearJournalTitle(*files_.journal);
  AfterCommit(history != nullptr);
}

void TJovTransaction::AfterCommit(bool keptHistory) {
  // A change that kept no history leaves none behind: its entries no longer fit.
  if (!keptHistory && FileExists(files_.paths.History())) ForgetHistory(files_);
}

void TJovTransaction::CompleteNewFile(NewFile& n, TFile* old) {
  // Also gives back the space set aside past the end.
  n.Reserve(n.size);
  n.file->Truncate(n.size);
  // Every byte the change did not write is the old file's, as it would be in place.
  int64_t at = 0;
  const int64_t keep = std::min(n.keepOld, n.size);
  auto fill = [&](int64_t end) {
    end = std::min(end, keep);
    while (at < end) {
      CheckCancel(delegate_);
      const int64_t chunk = std::min(end - at, int64_t(4) * kChunk);
      n.file->CopyFrom(*old, at, at, chunk, Buffer(chunk), std::min(chunk, kChunk));
      at += chunk;
    }
  };
  for (const auto& [begin, end] : n.written) {
    fill(begin);
    at = std::max(at, end);
  }
  fill(keep);
  n.file->Flush();
}

void TJovTransaction::SetNewPermissions() {
  for (const TLibFile f : {TLibFile::Data, TLibFile::Index})
    TakeOwnership(files_.paths.File(f), files_.paths.NewFile(f));
}

void TJovTransaction::CommitNewPair() {
  std::unique_ptr<THistoryCommit> history;
  try {
    for (int f = 0; f < 2; ++f)
      CompleteNewFile(new_[f], new_[f].keepOld > 0 ? &File(TLibFile(f)) : nullptr);
    SetNewPermissions();
    CheckCancel(delegate_);
    // The entry goes in first, pending: after a crash, the pair that stands tells
    // whether it counts.
    if (recorder_) history = PrepareHistoryCommit(*this, files_, *recorder_, delegate_);
    if (history) history->WritePending();
    new_[1].file.reset();
    CheckCancel(delegate_);  // the last moment a stop can still undo the change
    SwitchInNewPair(files_.paths);
  } catch (...) {
    if (history) history->Revert();
    RollbackAfterFailure();
    throw;
  }
  state_ = State::Committed;
  if (history) history->Settle();
  AfterCommit(history != nullptr);
  // The library's data file is now the new one: the object that held the old one holds
  // it, and the old one stays here, locked, until the transaction ends.
  oldData_ = std::move(files_.data);
  files_.data = std::move(new_[0].file);
}

void TJovTransaction::RollbackAfterFailure() {
  try {
    Rollback();
  } catch (...) {
    // The journal stays for the next opening; the first failure is the one to report.
  }
}

void TJovTransaction::Rollback() {
  if (newPair_) {
    // The old pair was never touched: the new files only have to go.
    state_ = State::Finished;
    new_[0].file.reset();
    new_[1].file.reset();
    DiscardNewPair(files_.paths);
    return;
  }
  files_.journal.reset();
  index_.reset();  // the journal reopens the index by name
  // From here on the destructor does not try again: a failure leaves the journal for
  // the next opening.
  state_ = State::Finished;
  ApplyJournal(*data_, files_.paths, buffer_, false, {});
}
