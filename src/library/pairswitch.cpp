#include "library/pairswitch.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>

#include "common/byteio.h"
#include "common/errors.h"

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
void FinishSwitch(const TLibraryPaths& paths) {
  RemoveFile(paths.Journal());
  for (const TLibFile f : {TLibFile::Index, TLibFile::Data})
    if (FileExists(paths.NewFile(f))) RenameFile(paths.NewFile(f), paths.File(f));
  SyncFolder(paths.Folder());
  RemoveFile(paths.Switch());
  SyncFolder(paths.Folder());
}

}  // namespace

bool RecoverSwitch(const TLibraryPaths& paths) {
  const QString record = paths.Switch();
  if (!FileExists(record)) return false;
  const QString indexName = ReadSwitchRecord(record);
  if (indexName.isEmpty()) {
    // Never whole on the disk, so the switch had not begun: the old pair stands.
    RemoveFile(record);
    SyncFolder(paths.Folder());
    return true;
  }
  // The index the record names, beside the data file.
  FinishSwitch(TLibraryPaths::Pair(paths.Data(), QDir(paths.Folder()).filePath(indexName)));
  return true;
}

void SwitchInNewPair(const TLibraryPaths& paths) {
  // The names of the new files must be on the disk before a record points at them.
  SyncFolder(paths.Folder());
  const QByteArray bytes = SwitchRecord(paths.Index());
  {
    std::unique_ptr<TFile> file = TFile::Open(paths.SwitchDraft(), TFile::Mode::Create);
    file->WriteAt(0, bytes.constData(), bytes.size());
    file->Flush();
  }
  RenameFile(paths.SwitchDraft(), paths.Switch());
  SyncFolder(paths.Folder());  // the commit point
  // The change is made.  Renames that fail are tried once more, so that the library's
  // names hold the new pair when this returns; past that, the next opening of the
  // library finishes them (and reports what stops them).
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      FinishSwitch(paths);
      return;
    } catch (const EJovError&) {
    }
  }
}

void DiscardNewPair(const TLibraryPaths& paths) {
  try {
    // A record that may have reached its name goes first, and for good, so that no
    // opening finishes a switch of files that are about to go.
    RemoveFile(paths.SwitchDraft());
    if (FileExists(paths.Switch())) {
      RemoveFile(paths.Switch());
      SyncFolder(paths.Folder());
    }
    RemoveFile(paths.NewFile(TLibFile::Data));
    RemoveFile(paths.NewFile(TLibFile::Index));
  } catch (...) {
    // Leftovers under the temporary names are never read.
  }
}

void RemoveLeftNewPair(TFile& data, const TLibraryPaths& paths) {
  const QString newData = paths.NewFile(TLibFile::Data), newIndex = paths.NewFile(TLibFile::Index);
  if (!FileExists(newData) && !FileExists(newIndex)) return;
  if (!data.TryLock()) return;  // a writer is making them now
  try {
    // Only while the open file is the library's: a writer of a pair switched in since
    // holds the lock of another file.
    if (data.IsFileAt(paths.Data()) && !FileExists(paths.Switch())) {
      RemoveFile(newData);
      RemoveFile(newIndex);
    }
  } catch (const EJovError&) {
    // Left for the next opening; never read without a switch record.
  }
  data.Unlock();
}
