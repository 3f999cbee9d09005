#pragma once

// The files of a library, and the names of every file a change puts beside them: the
// journal, the new pair and its switch record.  Each name is built here and nowhere else.

#include <QString>
#include <functional>
#include <memory>

#include "common/fileio.h"

enum class TLibFile { Data = 0, Index = 1 };

class TOldView;
class THistoryFile;

// The bytes a library's history of changes keeps unless told otherwise.
inline constexpr int64_t kDefaultHistoryLimit = int64_t(256) << 20;

// The file name without folder and extension: the name cut just before the first
// occurrence of its extension (dot included).  "a.jov.jov" gives "a".
QString BaseNameOf(const QString& path);

// The path of the index file of a data file: same folder, BaseNameOf + ".JOX".  When
// that exact name is missing, a file of the same name in another case is taken.
QString IndexPathOf(const QString& dataPath);

// The paths of a library's files as a change writes them.  Symbolic links are resolved:
// a change reaches the files the user's names point to, and what it puts beside the
// library lies beside those files.  When the pair cannot be replaced by renaming new
// files over it without splitting it from its other names (a file with more than one
// hard link, or links to files in two folders), every change is made in place.
class TLibraryPaths {
 public:
  TLibraryPaths() = default;
  // The library whose data file is dataPath, its index found as IndexPathOf finds it.
  static TLibraryPaths Of(const QString& dataPath);
  // A library about to be written at dataPath: its index gets the exact name
  // BaseNameOf + ".JOX" beside it.
  static TLibraryPaths ForNew(const QString& dataPath);
  // A data file and the index file named for it elsewhere (a switch record, a journal),
  // as they stand.
  static TLibraryPaths Pair(const QString& dataPath, const QString& indexPath);

  // Whether new files may be renamed over the pair.
  bool CanSwitch() const { return canSwitch_; }

  const QString& Data() const { return data_; }
  const QString& Index() const { return index_; }
  const QString& File(TLibFile file) const { return file == TLibFile::Data ? data_ : index_; }
  QString Folder() const;

  // The rollback journal of a change made in place ("NAME.jov-journal").
  QString Journal() const;
  // The history of the library's changes, for undo and redo ("NAME.jov-history"), and the
  // name a compacted history is written under before it takes its place.
  QString History() const;
  QString HistoryDraft() const;
  // A file of the new pair that a change writes instead ("NAME.jov-new", "NAME.JOX-new").
  QString NewFile(TLibFile file) const;
  // The record that switches a new pair in ("NAME.jov-switch"), and the name it is
  // written under before it is renamed into place.
  QString Switch() const;
  QString SwitchDraft() const;

 private:
  static TLibraryPaths Resolved(const QString& dataPath, const QString& indexPath);
  QString data_, index_;
  bool canSwitch_ = true;
};

// The files of an open library: the data file readers read and a change locks (none
// yet for a library being created), and the journal and the history kept open between
// the changes of the open library.  onBegun, when set, is given the old bytes of every
// change made in place, once its journal is on the disk and before the first byte
// changes.  historyLimit bounds the history the changes keep (0: none is kept, and a
// change leaves none behind).
struct TLibraryFiles {
  TLibraryPaths paths;
  std::unique_ptr<TFile> data;
  std::unique_ptr<TFile> journal;
  std::shared_ptr<THistoryFile> history;
  int64_t historyLimit = kDefaultHistoryLimit;
  bool writable = false;
  // The data file at its name as the opening found it, just before opening it: the open
  // file's stamp too, as long as nothing was written beside the library since.
  TFileStamp dataFound;
  // The file system refused to shift the data file once: its changes copy from then on.
  bool shiftRefused = false;
  std::function<void(std::shared_ptr<const TOldView>)> onBegun;
};
