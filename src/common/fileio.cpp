#include "common/fileio.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/uio.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/errors.h"

namespace {

QString SystemReason(int err) {
  return QString::fromLocal8Bit(std::strerror(err));
}

TFileStamp StampOfStat(const struct stat& st) {
  auto ns = [](const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; };
  return {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), ns(st.st_mtim)};
}

constexpr int kMaxParts = 512;
// Writes of at least this size start their write-back right away.
constexpr int64_t kEarlyWriteback = 1 << 20;

// Fills iov with up to kMaxParts of the parts from first on; returns how many it took
// and, in bytes, their total size.
int ToIovecs(const TFile::Part* parts, int first, int count, iovec* iov, int64_t& bytes) {
  const int n = std::min(count - first, kMaxParts);
  bytes = 0;
  for (int i = 0; i < n; ++i) {
    iov[i] = {parts[first + i].data, size_t(parts[first + i].size)};
    bytes += parts[first + i].size;
  }
  return n;
}

class TPosixFile final : public TFile {
 public:
  TPosixFile(const QString& path, int fd) : TFile(path), fd_(fd) {}
  ~TPosixFile() override { ::close(fd_); }

  int64_t ReadAt(int64_t offset, void* buffer, int64_t n) override {
    if (offset < 0 || n < 0) throw EReadError();
    return Transfer<EReadError>(n, "Read", [&](int64_t done) {
      return ::pread(fd_, static_cast<char*>(buffer) + done, size_t(n - done),
                     off_t(offset + done));
    });
  }

  void WriteAt(int64_t offset, const void* buffer, int64_t n) override {
    if (offset < 0 || n < 0) throw EWriteError();
    const int64_t written = Transfer<EWriteError>(n, "Write", [&](int64_t done) {
      return ::pwrite(fd_, static_cast<const char*>(buffer) + done, size_t(n - done),
                      off_t(offset + done));
    });
    // A write that takes nothing and reports no error would otherwise pass for done.
    if (written < n)
      throw EWriteError(QStringLiteral("Write error in \"%1\": %2").arg(Path(), SystemReason(EIO)));
    // Large writes (the moves and journals of a change) start going to the disk at
    // once, so that the flush that ends the change finds most of them written.
    if (n >= kEarlyWriteback) StartWriteback(offset, n);
  }

  void StartWriteback(int64_t offset, int64_t n) override {
    ::sync_file_range(fd_, off_t(offset), off_t(n), SYNC_FILE_RANGE_WRITE);
  }

  // Scattered reads and gathered writes in one system call for up to IOV_MAX parts at a
  // time; whatever a call leaves undone goes through the plain calls.
  int64_t ReadPartsAt(int64_t offset, const Part* parts, int count) override {
    return InBatches(
        offset, parts, count,
        [&](const iovec* iov, int n, off_t at) { return ::preadv(fd_, iov, n, at); },
        [&](int64_t at, const Part* rest, int left) { return TFile::ReadPartsAt(at, rest, left); });
  }

  void WritePartsAt(int64_t offset, const Part* parts, int count) override {
    InBatches(
        offset, parts, count,
        [&](const iovec* iov, int n, off_t at) { return ::pwritev(fd_, iov, n, at); },
        [&](int64_t at, const Part* rest, int left) {
          TFile::WritePartsAt(at, rest, left);
          return int64_t(0);
        });
  }

  void CopyFrom(TFile& source, int64_t from, int64_t offset, int64_t n, uint8_t* buffer,
                int64_t bufferSize) override {
    auto* native = dynamic_cast<TPosixFile*>(&source);
    while (native != nullptr && n > 0) {
      loff_t in = from, out = offset;
      const ssize_t done = ::copy_file_range(native->fd_, &in, fd_, &out, size_t(n), 0);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) break;  // not supported here, or the source ends: the plain way
      from += done;
      offset += done;
      n -= done;
    }
    if (n > 0) TFile::CopyFrom(source, from, offset, n, buffer, bufferSize);
  }

  TFileStamp Stamp() override {
    struct stat st;
    return ::fstat(fd_, &st) == 0 ? StampOfStat(st) : TFileStamp{};
  }

  bool IsFileAt(const QString& path) override {
    struct stat mine, there;
    return ::fstat(fd_, &mine) == 0 && ::stat(QFile::encodeName(path).constData(), &there) == 0 &&
           mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
  }

  bool View(int64_t offset, int64_t n, const std::function<void(const uint8_t*)>& look) override {
    if (offset < 0 || n <= 0) return false;
    const int64_t page = ::sysconf(_SC_PAGESIZE);
    const int64_t start = offset / page * page;
    const size_t length = size_t(offset + n - start);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_, off_t(start));
    if (map == MAP_FAILED) return false;
    try {
      look(static_cast<const uint8_t*>(map) + (offset - start));
    } catch (...) {
      ::munmap(map, length);
      throw;
    }
    ::munmap(map, length);
    return true;
  }

  int64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) throw EReadError();
    return int64_t(st.st_size);
  }

  void Truncate(int64_t size) override {
    if (::ftruncate(fd_, off_t(size)) != 0)
      throw EWriteError(
          QStringLiteral("Cannot truncate \"%1\": %2").arg(Path(), SystemReason(errno)));
  }

  void Reserve(int64_t size) override {
    int rc;
    do {
      rc = ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, off_t(size));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && (errno == ENOSPC || errno == EDQUOT))
      throw EWriteError(QStringLiteral("Cannot write \"%1\": %2").arg(Path(), SystemReason(errno)));
    // Any other refusal (a file system without preallocation) is not an error: the
    // writes that follow allocate as they go.
  }

  int64_t ShiftUnit() override {
    // The file systems known to move extents; any other is not asked.
    constexpr long kExt4 = 0xEF53, kXfs = 0x58465342;
    struct statfs fs;
    if (::fstatfs(fd_, &fs) != 0 || (long(fs.f_type) != kExt4 && long(fs.f_type) != kXfs)) return 0;
    return int64_t(fs.f_bsize);
  }

  bool Shift(int64_t offset, int64_t delta) override {
    const int mode = delta > 0 ? FALLOC_FL_INSERT_RANGE : FALLOC_FL_COLLAPSE_RANGE;
    return Allocate(mode, offset, delta > 0 ? delta : -delta);
  }

  bool PunchHole(int64_t offset, int64_t length) override {
    return Allocate(FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length);
  }

  int64_t NextHole(int64_t offset) override {
    const off_t at = ::lseek(fd_, off_t(offset), SEEK_HOLE);
    if (at >= 0) return int64_t(at);
    if (errno == ENXIO) return std::max(offset, Size());
    throw EReadError(QStringLiteral("Cannot read \"%1\": %2").arg(Path(), SystemReason(errno)));
  }

  // The data and what is needed to read it back (the size), not the times.
  void Flush() override {
    if (::fdatasync(fd_) != 0 && errno != EINVAL)
      throw EWriteError(QStringLiteral("Cannot flush \"%1\": %2").arg(Path(), SystemReason(errno)));
  }

  // A refusal of the file system (the mode or the range) is false; any other failure
  // throws.
  bool Allocate(int mode, int64_t offset, int64_t length) {
    int rc;
    do {
      rc = ::fallocate(fd_, mode, off_t(offset), off_t(length));
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return true;
    if (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS) return false;
    throw EWriteError(QStringLiteral("Cannot write \"%1\": %2").arg(Path(), SystemReason(errno)));
  }

  bool TryLock() override {
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return true;
    if (errno == EWOULDBLOCK) return false;
    throw EWriteError(QStringLiteral("Cannot lock \"%1\": %2").arg(Path(), SystemReason(errno)));
  }

  void Unlock() override { ::flock(fd_, LOCK_UN); }

 private:
  // Hands the parts to `call` (preadv or pwritev) up to kMaxParts at a time.  Whatever a
  // short or failed call leaves goes to `rest`, part by part; gives the bytes moved.
  template <class Call, class Rest>
  int64_t InBatches(int64_t offset, const Part* parts, int count, const Call& call,
                    const Rest& rest) {
    int64_t done = 0;
    for (int first = 0; first < count;) {
      iovec iov[kMaxParts];
      int64_t want;
      const int n = ToIovecs(parts, first, count, iov, want);
      const ssize_t moved = call(iov, n, off_t(offset + done));
      if (moved != want) return done + rest(offset + done, parts + first, count - first);
      done += moved;
      first += n;
    }
    return done;
  }

  // Repeats a read or write call (given the bytes done so far) until n bytes are done, the
  // call gives 0 (the end of the file) or fails; an interrupted call is tried again.
  template <class Error, class Call>
  int64_t Transfer(int64_t n, const char* what, const Call& call) {
    int64_t done = 0;
    while (done < n) {
      const ssize_t moved = call(done);
      if (moved < 0) {
        if (errno == EINTR) continue;
        throw Error(QStringLiteral("%1 error in \"%2\": %3")
                        .arg(QLatin1String(what), Path(), SystemReason(errno)));
      }
      if (moved == 0) break;
      done += moved;
    }
    return done;
  }

  int fd_;
};

TFile::Factory& CurrentFactory() {
  static TFile::Factory factory;
  return factory;
}

TFolderOps& CurrentFolderOps() {
  static TFolderOps ops;
  return ops;
}

}  // namespace

TFileStamp StampAt(const QString& path) {
  struct stat st;
  if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  return StampOfStat(st);
}

int64_t TFile::ReadPartsAt(int64_t offset, const Part* parts, int count) {
  int64_t done = 0;
  for (int i = 0; i < count; ++i) {
    const int64_t got = ReadAt(offset + done, parts[i].data, parts[i].size);
    done += got;
    if (got < parts[i].size) break;
  }
  return done;
}

void TFile::WritePartsAt(int64_t offset, const Part* parts, int count) {
  for (int i = 0; i < count; ++i) {
    WriteAt(offset, parts[i].data, parts[i].size);
    offset += parts[i].size;
  }
}

bool TFile::View(int64_t, int64_t, const std::function<void(const uint8_t*)>&) {
  return false;
}

void TFile::CopyFrom(TFile& source, int64_t from, int64_t offset, int64_t n, uint8_t* buffer,
                     int64_t bufferSize) {
  for (int64_t done = 0; done < n;) {
    const int64_t chunk = std::min(bufferSize, n - done);
    source.ReadExactAt(from + done, buffer, chunk);
    WriteAt(offset + done, buffer, chunk);
    done += chunk;
  }
}

void TFile::ReadExactAt(int64_t offset, void* buffer, int64_t n) {
  if (ReadAt(offset, buffer, n) != n) throw EReadError();
}

std::unique_ptr<TFile> TFile::OpenNative(const QString& path, Mode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Read:
      flags |= O_RDONLY;
      break;
    case Mode::ReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  const QByteArray native = QFile::encodeName(path);
  int fd;
  do {
    fd = ::open(native.constData(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int err = errno;
    if (mode == Mode::Create)
      throw EFOpenError(
          QStringLiteral("Cannot create file \"%1\". %2").arg(path, SystemReason(err)));
    throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, SystemReason(err)));
  }
  // A folder opens for reading; opening one for writing already failed with EISDIR.
  struct stat st;
  if (mode == Mode::Read && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw EFOpenError(
        QStringLiteral("Cannot open file \"%1\". %2").arg(path, SystemReason(EISDIR)));
  }
  return std::unique_ptr<TFile>(new TPosixFile(path, fd));
}

std::unique_ptr<TFile> TFile::Open(const QString& path, Mode mode) {
  if (CurrentFactory()) return CurrentFactory()(path, mode);
  return OpenNative(path, mode);
}

TFile::Factory TFile::SetFactory(Factory factory) {
  Factory old = std::move(CurrentFactory());
  CurrentFactory() = std::move(factory);
  return old;
}

void NativeRemoveFile(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  if (::unlink(native.constData()) != 0 && errno != ENOENT)
    throw EWriteError(QStringLiteral("Cannot delete \"%1\": %2").arg(path, SystemReason(errno)));
}

void NativeSyncFolder(const QString& folder) {
  const QByteArray native = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
  const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    throw EWriteError(
        QStringLiteral("Cannot open folder \"%1\": %2").arg(folder, SystemReason(errno)));
  // Some file systems cannot flush a folder (EINVAL); their entries are as durable as
  // they get.
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  const int err = errno;
  ::close(fd);
  if (!ok)
    throw EWriteError(
        QStringLiteral("Cannot flush folder \"%1\": %2").arg(folder, SystemReason(err)));
}

void NativeRenameFile(const QString& from, const QString& to) {
  if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
    throw EWriteError(
        QStringLiteral("Cannot rename \"%1\" to \"%2\": %3").arg(from, to, SystemReason(errno)));
}

void RenameFile(const QString& from, const QString& to) {
  if (CurrentFolderOps().rename)
    CurrentFolderOps().rename(from, to);
  else
    NativeRenameFile(from, to);
}

void RemoveFile(const QString& path) {
  if (CurrentFolderOps().remove)
    CurrentFolderOps().remove(path);
  else
    NativeRemoveFile(path);
}

void SyncFolder(const QString& folder) {
  if (CurrentFolderOps().syncFolder)
    CurrentFolderOps().syncFolder(folder);
  else
    NativeSyncFolder(folder);
}

TFolderOps SetFolderOps(TFolderOps ops) {
  TFolderOps old = std::move(CurrentFolderOps());
  CurrentFolderOps() = std::move(ops);
  return old;
}

bool FileExists(const QString& path) {
  return FileStampAt(path).Exists();
}

TFileStamp FileStampAt(const QString& path) {
  struct stat st;
  if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 ||
      S_ISDIR(st.st_mode))
    return {};
  return StampOfStat(st);
}

QString FindFileIgnoringCase(const QString& folder, const QString& name) {
  const QDir dir(folder);
  const QString exact = dir.filePath(name);
  if (FileExists(exact)) return exact;
  const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& candidate : names)
    if (candidate.compare(name, Qt::CaseInsensitive) == 0) return dir.filePath(candidate);
  return QString();
}

QByteArray ReadWholeFile(const QString& path) {
  auto file = TFile::Open(path, TFile::Mode::Read);
  const int64_t size = file->Size();
  QByteArray bytes;
  bytes.resize(qsizetype(size));
  bytes.resize(qsizetype(file->ReadAt(0, bytes.data(), size)));
  return bytes;
}
