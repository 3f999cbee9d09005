#include "viewer/clipboard.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMimeData>

#include "bitmap/dib.h"
#include "common/stream.h"
#include "editing/exchange.h"
#include "library/myjov.h"

namespace {

QByteArray PngBytes(const QImage& picture) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "PNG");
  return bytes;
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

QMimeData* ImageMimeData(TJOV& jov, int index) {
  auto* data = new QMimeData;
  data->setData(QStringLiteral("image/png"), PngBytes(PngPicture(jov, index)));
  const QImage* shown = jov.ImageAt(index);
  if (shown == nullptr || shown->isNull()) return data;
  TDIB dib;
  dib.CopyFrom(*shown);
  data->setData(QString::fromLatin1(kDibMimeType), dib.ToClipboardData().data);
  TMemoryStream file;
  dib.WriteBitmapStream(file);
  data->setData(QStringLiteral("image/bmp"), file.Bytes());
  return data;
}

QString SaveClipboardPicture(const QMimeData& data, const QString& folder) {
  const QDir dir(folder);
  for (const auto& [type, name] : {std::pair("image/png", "clipboard.png"),
                                   std::pair("image/bmp", "clipboard.bmp")}) {
    const QString path = dir.filePath(QLatin1String(name));
    if (data.hasFormat(QLatin1String(type)) && WriteBytes(path, data.data(QLatin1String(type))))
      return path;
  }
  if (data.hasFormat(QString::fromLatin1(kDibMimeType))) {
    TDIB dib;
    dib.FromClipboardData(data.data(QString::fromLatin1(kDibMimeType)));
    const QString path = dir.filePath(QStringLiteral("clipboard.bmp"));
    dib.WriteBitmapFile(path);
    return path;
  }
  if (!data.hasImage()) return QString();
  const QString path = dir.filePath(QStringLiteral("clipboard.png"));
  return qvariant_cast<QImage>(data.imageData()).save(path, "PNG") ? path : QString();
}
