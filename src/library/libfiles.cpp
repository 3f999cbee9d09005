#include "library/libfiles.h"

#include <QDir>
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

TLibraryPaths TLibraryPaths::Of(const QString& dataPath) {
  TLibraryPaths paths;
  paths.data_ = dataPath;
  paths.index_ = IndexPathOf(dataPath);
  return paths;
}

TLibraryPaths TLibraryPaths::ForNew(const QString& dataPath) {
  TLibraryPaths paths;
  paths.data_ = dataPath;
  paths.index_ = QFileInfo(dataPath).dir().filePath(BaseNameOf(dataPath) + kIndexExtension);
  return paths;
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

QString TLibraryPaths::NewFile(TLibFile file) const {
  return File(file) + kNewSuffix;
}

QString TLibraryPaths::Switch() const {
  return data_ + kSwitchSuffix;
}

QString TLibraryPaths::SwitchDraft() const {
  return Switch() + kNewSuffix;
}
