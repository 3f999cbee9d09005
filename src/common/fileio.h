#pragma once

#include <QString>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>

// What stat tells of a file: enough to see that it was written, resized or replaced.
// The time is the file system's (its clock may be coarse: a write within the same tick as
// the one before leaves it as it was, size aside).  The change time is left out: renaming
// another file over this one changes it, not its bytes.
struct TFileStamp {
  uint64_t device = 0, inode = 0;
  int64_t size = -1;  // -1: no such file
  int64_t modifiedNs = 0;
  bool Exists() const { return size >= 0; }
  // A stamp no file has: a file whose stamp is not known.
  static TFileStamp Unknown() { return {0, 0, -2, 0}; }
  bool operator==(const TFileStamp&) const = default;
};

// The stamp of the file at path (size -1 when there is none).
TFileStamp StampAt(const QString& path);

// The one file layer of the core.  Every read and write of a library or bitmap file
// goes through a TFile, so that journalling and fault injection can be added in one
// place.  Offsets are explicit: there is no shared file position to get out of step.
class TFile {
 public:
  enum class Mode {
    Read,       // existing file, read only (others may read and write it too)
    ReadWrite,  // existing file, read and write (others may read and write it too)
    Create,     // create, or truncate an existing file, for read and write
  };

  virtual ~TFile() = default;

  const QString& Path() const { return path_; }

  // Reads up to n bytes at offset; returns the count read (short only at the end of
  // the file).  Throws EReadError when the system reports an error.
  virtual int64_t ReadAt(int64_t offset, void* buffer, int64_t n) = 0;
  // Writes all n bytes at offset or throws EWriteError.
  virtual void WriteAt(int64_t offset, const void* buffer, int64_t n) = 0;
  virtual int64_t Size() = 0;
  virtual void Truncate(int64_t size) = 0;
  // Pushes written data to the disk.
  virtual void Flush() = 0;
  // Starts written bytes on their way to the disk without waiting, so that a flush later
  // finds them there.
  virtual void StartWriteback(int64_t /*offset*/, int64_t /*n*/) {}
  // Sets aside disk space for the first size bytes of the file without changing its
  // length, so that a full disk shows before anything is written and the writes that
  // follow find their space allocated.  Throws EWriteError when the disk is full; a file
  // system that cannot do it ignores it.
  virtual void Reserve(int64_t size) { (void)size; }

  // Moving the bytes behind a place by whole blocks of the file system, without copying
  // them: the file system moves its extents.  ShiftUnit is the block the offsets and
  // lengths must be multiples of (0: this file cannot shift).  Shift with delta > 0
  // opens a hole of delta bytes at offset (offset inside the file), with delta < 0 closes
  // the -delta bytes at offset up (ending before the end of the file); the size changes
  // by delta.  False when the file system refuses (the caller then copies); throws
  // EWriteError on any other failure.  The change is durable after Flush.
  virtual int64_t ShiftUnit() { return 0; }
  virtual bool Shift(int64_t offset, int64_t delta) {
    (void)offset;
    (void)delta;
    return false;
  }
  // The start of the first hole (bytes the file system holds no block for) at or after
  // offset; the size when there is none.
  virtual int64_t NextHole(int64_t offset) { return std::max(offset, Size()); }
  // Gives back the blocks of [offset, offset + length) (multiples of ShiftUnit), which
  // then read as zeros, keeping the size.  False when the file system refuses.
  virtual bool PunchHole(int64_t offset, int64_t length) {
    (void)offset;
    (void)length;
    return false;
  }

  // Takes the exclusive writer's lock of the file without waiting: false when another
  // open file (in this process or another) holds it.  Readers take no lock and are
  // never held up by it.  The lock ends with Unlock or when the file is closed, and
  // with the process that held it.  A file that lives only in memory locks trivially.
  virtual bool TryLock() { return true; }
  virtual void Unlock() {}

  // One piece of a scattered read or a gathered write.
  struct Part {
    void* data;
    int64_t size;
  };
  // Reads into the parts one after the other from offset on; returns the bytes read
  // (short only at the end of the file).
  virtual int64_t ReadPartsAt(int64_t offset, const Part* parts, int count);
  // Writes the parts one after the other from offset on, or throws EWriteError.
  virtual void WritePartsAt(int64_t offset, const Part* parts, int count);

  // Copies n bytes at from of source (another file) to offset of this one, or throws.
  // Files on the local file system copy inside the kernel; any other goes through
  // buffer (at least 64 KiB) with ReadAt and WriteAt.
  virtual void CopyFrom(TFile& source, int64_t from, int64_t offset, int64_t n, uint8_t* buffer,
                        int64_t bufferSize);

  // True when the file now found at path is this open file (not one renamed over it
  // since it was opened).  A file that lives only in memory says yes.
  virtual bool IsFileAt(const QString& path) { return !path.isEmpty(); }
  // The stamp of this open file (fstat): it follows the file when it is renamed or
  // replaced.  A file that lives only in memory gives an empty stamp, always the same.
  virtual TFileStamp Stamp() { return {}; }

  // Hands n bytes at offset to look at without copying them out (a mapping of the file's
  // pages), for as long as look runs; false when this file cannot (then ReadAt).
  virtual bool View(int64_t offset, int64_t n, const std::function<void(const uint8_t*)>& look);

  // Reads exactly n bytes at offset or throws EReadError ("Stream read error").
  void ReadExactAt(int64_t offset, void* buffer, int64_t n);

  // Opens a file through the installed factory.  Throws EFOpenError with the reason.
  static std::unique_ptr<TFile> Open(const QString& path, Mode mode);

  // Replaces the factory behind Open (tests use this to inject faults); returns the old one.
  using Factory = std::function<std::unique_ptr<TFile>(const QString&, Mode)>;
  static Factory SetFactory(Factory factory);

  // Opens a file on the local file system, whatever factory is installed.
  static std::unique_ptr<TFile> OpenNative(const QString& path, Mode mode);

 protected:
  explicit TFile(QString path) : path_(std::move(path)) {}

 private:
  QString path_;
};

// Names in folders: removing a file and making a folder's entries durable.  They go
// through a replaceable pair of functions, like TFile::Open, so that tests can inject
// faults and simulate power cuts.
struct TFolderOps {
  std::function<void(const QString& path)> remove;                     // throws EWriteError
  std::function<void(const QString& folder)> syncFolder;               // throws EWriteError
  std::function<void(const QString& from, const QString& to)> rename;  // throws EWriteError
};
// Removes a file; one that does not exist is not an error.
void RemoveFile(const QString& path);
// Flushes the entries of a folder (files created or removed in it) to the disk.
void SyncFolder(const QString& folder);
// Gives the file from the name to; a file named to is replaced in the same step.  Both
// names lie in one folder; the new name is durable once the folder is flushed.
void RenameFile(const QString& from, const QString& to);
// Replaces the functions behind RemoveFile, SyncFolder and RenameFile; returns the old
// ones.  Empty functions stand for the native ones.
TFolderOps SetFolderOps(TFolderOps ops);
void NativeRemoveFile(const QString& path);
void NativeSyncFolder(const QString& folder);
void NativeRenameFile(const QString& from, const QString& to);

// True when a file (not a folder) of that name exists.
bool FileExists(const QString& path);
// The stamp of the file (not a folder) of that name; size -1 when there is none.
TFileStamp FileStampAt(const QString& path);

// The path of the file named name in folder: the exact name when it exists, otherwise a
// file whose name differs only in case; empty when there is neither.
QString FindFileIgnoringCase(const QString& folder, const QString& name);

// Reads a whole file into memory; throws EFOpenError or EReadError.
QByteArray ReadWholeFile(const QString& path);
