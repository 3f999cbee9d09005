#include "viewer/droppictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>

#include "bitmap/dib.h"

namespace {

bool IsPictureFile(const QFileInfo& file) {
  const QString suffix = file.suffix().toLower();
  return file.isFile() && (IsDibExtension(suffix) ||
                           QImageReader::supportedImageFormats().contains(suffix.toLatin1()));
}

// The kind most of names are: PNG when more of them are PNG files than bitmaps.
TPictureFileFormat Majority(const QStringList& names) {
  int png = 0, bmp = 0;
  for (const QString& name : names) {
    png += name.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
    bmp += name.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive);
  }
  return png > bmp ? TPictureFileFormat::Png : TPictureFileFormat::Bmp;
}

// A link to source at target, or a copy where no link can be made.
void LinkOrCopy(const QString& source, const QString& target) {
  if (!QFile::link(QFileInfo(source).absoluteFilePath(), target)) QFile::copy(source, target);
}

}  // namespace

TDroppedPictures DroppedPictures(const QMimeData* data) {
  TDroppedPictures dropped;
  if (data == nullptr || !data->hasUrls()) return dropped;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const QFileInfo info(url.toLocalFile());
    if (info.isDir() && dropped.folder.isEmpty())
      dropped.folder = info.absoluteFilePath();
    else if (IsPictureFile(info))
      dropped.files << info.absoluteFilePath();
  }
  return dropped;
}

TPictureFileFormat LinkIntoFolder(const QStringList& files, const QString& folder) {
  const QDir dir(folder);
  dir.mkpath(QLatin1String(kPlacementsFolder));
  QStringList names;
  for (const QString& file : files) {
    const QString name = QFileInfo(file).fileName();
    names << name;
    LinkOrCopy(file, dir.filePath(name));
    const QString placement = PlacementPathFor(file);
    if (QFileInfo(placement).isFile())
      LinkOrCopy(placement, PlacementPathFor(dir.filePath(name)));
  }
  return Majority(names);
}

TPictureFileFormat FolderFormat(const QString& folder) {
  return Majority(QDir(folder).entryList(QDir::Files));
}
