#include "library/libfiles.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kJournalSuffix = QStringLiteral("-journal");
const QString kNewSuffix = QStringLiteral("-new");
const QString kSwitchSuffix = QStringLiteral("-switch");
const QString kIndexExtension = QStringLiteral(".JOX");

}  // namespace

QString BaseNameOf(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return name;
  const QString extension = name.mid(dot);
  return name.left(name.indexOf(extension));
}

QString IndexPathOf(const QString& dataPath) {
  const QString folder = QFileInfo(dataPath).path();
  const QString wanted = BaseNameOf(dataPath) + kIndexExtension;
  // An index written on another system may be named .jox or .Jox.
  const QString found = FindFileIgnoringCase(folder, wanted);
  return found.isEmpty() ? QDir(folder).filePath(wanted) : found;
}

namespace {

// The path with its links resolved: the file's own when it exists, else its folder's.
QString ResolvedPath(const QString& path) {
  const QFileInfo info(path);
  const QString file = info.canonicalFilePath();  // empty when there is no such file
  if (!file.isEmpty()) return file;
  const QString folder = QFileInfo(info.path()).canonicalFilePath();
  return folder.isEmpty() ? path : QDir(folder).filePath(info.fileName());
}

// What lstat tells of a name: whether it is a plain file (no link) and how many names
// that file has.
struct TNameLook {
  bool plainFile = false;
  nlink_t names = 0;
};
TNameLook LookAtName(const QString& path) {
  struct stat st;
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return {true, st.st_nlink};
}

}  // namespace

TLibraryPaths TLibraryPaths::Resolved(const QString& dataPath, const QString& indexPath) {
  TLibraryPaths paths;
  // The common case, two plain files side by side: one resolution of the folder serves
  // both, and their counts of names come with the look.
  const QString folder = QFileInfo(dataPath).path();
  if (QFileInfo(indexPath).path() == folder) {
    const TNameLook data = LookAtName(dataPath), index = LookAtName(indexPath);
    if (data.plainFile && index.plainFile) {
      paths.data_ = ResolvedPath(dataPath);
      paths.index_ = QDir(QFileInfo(paths.data_).path()).filePath(QFileInfo(indexPath).fileName());
      paths.canSwitch_ = data.names == 1 && index.names == 1;
      return paths;
    }
  }
  paths.data_ = ResolvedPath(dataPath);
  paths.index_ = ResolvedPath(indexPath);
  if (QFileInfo(paths.data_).path() != QFileInfo(paths.index_).path()) {
    // Links to two folders: the files stay where they are, changed through the names
    // given, and no rename may split them.
    paths.data_ = dataPath;
    paths.index_ = indexPath;
    paths.canSwitch_ = false;
    return paths;
  }
  // Resolved, the names are no links: a file with other names (hard links) cannot switch.
  paths.canSwitch_ = LookAtName(paths.data_).names <= 1 && LookAtName(paths.index_).names <= 1;
  return paths;
}

TLibraryPaths TLibraryPaths::Of(const QString& dataPath) {
  return Resolved(dataPath, IndexPathOf(dataPath));
}

TLibraryPaths TLibraryPaths::ForNew(const QString& dataPath) {
  return Resolved(dataPath,
                  QFileInfo(dataPath).dir().filePath(BaseNameOf(dataPath) + kIndexExtension));
}

TLibraryPaths TLibraryPaths::Pair(const QString& dataPath, const QString& indexPath) {
  TLibraryPaths paths;
  paths.data_ = dataPath;
  paths.index_ = indexPath;
  return paths;
}

QString TLibraryPaths::Folder() const {
  return QFileInfo(data_).path();
}

QString TLibraryPaths::Journal() const {
  return data_ + kJournalSuffix;
}

QString TLibraryPaths::History() const {
  return data_ + QStringLiteral("-history");
}

QString TLibraryPaths::HistoryDraft() const {
  return data_ + QStringLiteral("-history-new");
}

QString TLibraryPaths::NewFile(TLibFile file) const {
  return File(file) + kNewSuffix;
}

QString TLibraryPaths::Switch() const {
  return data_ + kSwitchSuffix;
}

QString TLibraryPaths::SwitchDraft() const {
  return Switch() + kNewSuffix;
}
