#include "editing/export.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "common/errors.h"
#include "common/operation.h"
#include "editing/exchange.h"
#include "library/myjov.h"

TExportRange ClampExportRange(int start, int end, int imageCount) {
  TExportRange range{start, end};
  if (range.start < 0) range.start = 0;
  if (range.end >= imageCount) range.end = imageCount - 1;
  return range;
}

void EnsurePlacementsFolder(const QString& folder) {
  const QString sub = WithTrailingSeparator(folder) + QLatin1String(kPlacementsFolder);
  if (QFileInfo(sub).isDir()) return;
  // One level only: the export folder itself must exist.
  if (!QDir(folder).exists() || !QDir(folder).mkdir(QLatin1String(kPlacementsFolder)))
    throw EFCreateError(QStringLiteral("Cannot create folder \"%1\".").arg(sub));
}

void ExportSequence(TJOV& jov, const QString& folder, const TExportRange& range,
                    TOperationDelegate* delegate, TPictureFileFormat format) {
  if (range.start > range.end + 1) return;
  const QString f = WithTrailingSeparator(folder);
  EnsurePlacementsFolder(f);
  const QString placements = f + QLatin1String(kPlacementsFolder) + QLatin1Char('/');
  const int total = range.end - range.start + 1;
  for (int i = range.start; i <= range.end; ++i) {
    Step(delegate, i - range.start, total);
    // The picture first, then its placement file with the px and py the fetch just set.
    ExportImage(jov, i, f + ExchangeBitmapName(i, format), format);
    WritePlacementFile(placements + PlacementFileName(i), jov.px(), jov.py());
  }
  Step(delegate, total, total);
}
