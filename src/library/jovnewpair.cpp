#include "library/jovnewpair.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "common/byteio.h"
#include "common/errors.h"
#include "library/jovjournal.h"

// Layout of a switch record: "JOVSWCH1", u16 n, n bytes: the index file's name (UTF-8,
// no folder), u32 checksum of everything before it.  The data file's name is the
// record's own name less "-switch".

namespace {

constexpr char kSwitchMagic[] = "JOVSWCH1";
constexpr int kMaxName = 4096;

uint32_t Checksum(const uint8_t* p, int64_t n) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (int64_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

QString FolderOf(const QString& path) {
  return QFileInfo(path).path();
}

QByteArray SwitchRecord(const QString& indexPath) {
  const QByteArray name = QFileInfo(indexPath).fileName().toUtf8();
  QByteArray bytes(kSwitchMagic, 8);
  uint8_t length[2];
  PutU16(length, uint16_t(name.size()));
  bytes.append(reinterpret_cast<const char*>(length), 2);
  bytes.append(name);
  uint8_t sum[4];
  PutU32(sum, Checksum(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size()));
  bytes.append(reinterpret_cast<const char*>(sum), 4);
  return bytes;
}

// The index file's name from a switch record; empty when the record is not whole.
QString ReadSwitchRecord(const QString& path) {
  const QByteArray bytes = ReadWholeFile(path);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
  if (bytes.size() < 14 || std::memcmp(p, kSwitchMagic, 8) != 0) return QString();
  const int n = GetU16(p + 8);
  if (n == 0 || n > kMaxName || bytes.size() != 14 + n) return QString();
  if (GetU32(p + 10 + n) != Checksum(p, 10 + n)) return QString();
  const QString name = QString::fromUtf8(bytes.mid(10, n));
  // The index lies beside the data file: a name that leaves the folder is not ours.
  if (name.contains(QLatin1Char('/')) || name == QLatin1String("..") || name == QLatin1String("."))
    return QString();
  return name;
}

// The part of a switch after its commit point, run by the switch itself and again by
// every opening until the record is gone: each step may be repeated.
void FinishSwitch(const QString& dataPath, const QString& indexPath) {
  const QString folder = FolderOf(dataPath);
  RemoveFile(JournalPathOf(dataPath));
  const QString newIndex = NewPairPathOf(indexPath), newData = NewPairPathOf(dataPath);
  if (FileExists(newIndex)) RenameFile(newIndex, indexPath);
  if (FileExists(newData)) RenameFile(newData, dataPath);
  SyncFolder(folder);
  RemoveFile(SwitchPathOf(dataPath));
  SyncFolder(folder);
}

}  // namespace

QString NewPairPathOf(const QString& path) {
  return path + QStringLiteral("-new");
}
QString SwitchPathOf(const QString& dataPath) {
  return dataPath + QStringLiteral("-switch");
}

void RecoverSwitchOnOpen(const QString& dataPath) {
  const QString record = SwitchPathOf(dataPath);
  if (!FileExists(record)) return;
  const QString indexName = ReadSwitchRecord(record);
  if (indexName.isEmpty()) {
    // Never whole on the disk, so the switch had not begun: the old pair stands.
    RemoveFile(record);
    SyncFolder(FolderOf(dataPath));
    return;
  }
  FinishSwitch(dataPath, QFileInfo(dataPath).dir().filePath(indexName));
}

void SwitchInNewPair(const QString& dataPath, const QString& indexPath) {
  const QString folder = FolderOf(dataPath);
  // The names of the new files must be on the disk before a record points at them.
  SyncFolder(folder);
  const QString record = SwitchPathOf(dataPath);
  const QByteArray bytes = SwitchRecord(indexPath);
  {
    std::unique_ptr<TFile> file = TFile::Open(NewPairPathOf(record), TFile::Mode::Create);
    file->WriteAt(0, bytes.constData(), bytes.size());
    file->Flush();
  }
  RenameFile(NewPairPathOf(record), record);
  SyncFolder(folder);  // the commit point
  // The change is made.  Renames that fail are tried once more, so that the library's
  // names hold the new pair when this returns; past that, the next opening of the
  // library finishes them (and reports what stops them).
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      FinishSwitch(dataPath, indexPath);
      return;
    } catch (const EJovError&) {
    }
  }
}

void DiscardNewPair(const QString& dataPath, const QString& indexPath) {
  try {
    // A record that may have reached its name goes first, and for good, so that no
    // opening finishes a switch of files that are about to go.
    const QString record = SwitchPathOf(dataPath);
    RemoveFile(NewPairPathOf(record));
    if (FileExists(record)) {
      RemoveFile(record);
      SyncFolder(FolderOf(dataPath));
    }
    RemoveFile(NewPairPathOf(dataPath));
    RemoveFile(NewPairPathOf(indexPath));
  } catch (...) {
    // Leftovers under the temporary names are never read.
  }
}

void RemoveLeftNewPair(TFile& data, const QString& dataPath, const QString& indexPath) {
  const QString newData = NewPairPathOf(dataPath), newIndex = NewPairPathOf(indexPath);
  if (!FileExists(newData) && !FileExists(newIndex)) return;
  if (!data.TryLock()) return;  // a writer is making them now
  try {
    // Only while the open file is the library's: a writer of a pair switched in since
    // holds the lock of another file.
    if (data.IsFileAt(dataPath) && !FileExists(SwitchPathOf(dataPath))) {
      RemoveFile(newData);
      RemoveFile(newIndex);
    }
  } catch (const EJovError&) {
    // Left for the next opening; never read without a switch record.
  }
  data.Unlock();
}

TNewPair::TNewPair(const QString& dataPath, const QString& indexPath, bool lockOld)
    : dataPath_(dataPath), indexPath_(indexPath) {
  // A switch of an earlier run that did not finish is finished first, as an opening
  // would (before any journal: it may be the old pair's), so that its record never
  // names the files this run writes.
  RecoverSwitchOnOpen(dataPath_);
  if (lockOld && FileExists(dataPath_)) {
    bool writable = true;
    try {
      oldData_ = TFile::Open(dataPath_, TFile::Mode::ReadWrite);
    } catch (const EFOpenError&) {
      oldData_ = TFile::Open(dataPath_, TFile::Mode::Read);
      writable = false;
    }
    // An interrupted change of the old pair is undone first: if this run fails, the old
    // library must stand as it was before that change.
    TJovTransaction::RecoverOnOpen(*oldData_, dataPath_, writable);
    if (!TakeWriterLock(*oldData_))
      throw ELibraryBusy(
          QStringLiteral(
              "\"%1\" is being changed by another program; try again when it has finished.")
              .arg(dataPath_));
  }
  data_ = TFile::Open(NewPairPathOf(dataPath_), TFile::Mode::Create);
  index_ = TFile::Open(NewPairPathOf(indexPath_), TFile::Mode::Create);
}

TNewPair::~TNewPair() {
  data_.reset();
  index_.reset();
  if (!committed_) DiscardNewPair(dataPath_, indexPath_);
  if (oldData_) oldData_->Unlock();
}

void TNewPair::FlushBuffer() {
  if (buffered_ == 0) return;
  data_->WriteAt(size_ - buffered_, buffer_.Data(), buffered_);
  buffered_ = 0;
}

void TNewPair::Append(const void* data, int64_t n) {
  if (n <= 0) return;
  constexpr int64_t kChunk = TJovTransaction::kChunk;
  if (buffered_ + n > kChunk) FlushBuffer();
  if (n >= kChunk) {
    data_->WriteAt(size_, data, n);
  } else {
    std::memcpy(buffer_.Reserve(kChunk) + buffered_, data, size_t(n));
    buffered_ += n;
  }
  size_ += n;
}

void TNewPair::AppendParts(const TFile::Part* parts, int count) {
  FlushBuffer();
  int64_t n = 0;
  for (int i = 0; i < count; ++i) n += parts[i].size;
  if (n == 0) return;
  data_->WritePartsAt(size_, parts, count);
  size_ += n;
}

void TNewPair::Patch(int64_t offset, const void* data, int64_t n) {
  if (offset < 0 || offset + n > size_) throw std::logic_error("Patch past the bytes appended");
  const int64_t bufferStart = size_ - buffered_;
  const auto* bytes = static_cast<const uint8_t*>(data);
  const int64_t written = std::clamp<int64_t>(bufferStart - offset, 0, n);
  if (written > 0) data_->WriteAt(offset, bytes, written);
  if (written < n)
    std::memcpy(buffer_.Data() + (offset + written - bufferStart), bytes + written,
                size_t(n - written));
}

void TNewPair::AppendIndex(const void* data, int64_t n) {
  if (n <= 0) return;
  index_->WriteAt(indexSize_, data, n);
  indexSize_ += n;
}

void TNewPair::Commit() {
  FlushBuffer();
  data_->Flush();
  index_->Flush();
  data_.reset();
  index_.reset();
  SwitchInNewPair(dataPath_, indexPath_);
  committed_ = true;
}
