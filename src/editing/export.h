#pragma once

// Writing a range of images of a library as an exchange folder.

#include <QString>

#include "editing/exchange.h"

class TJOV;
class TOperationDelegate;

struct TExportRange {
  int start = 0;
  int end = 0;
};

// The range as the export runs it: a start below 0 becomes 0, an end at or above the
// image count becomes the last image.  Nothing else is checked.
TExportRange ClampExportRange(int start, int end, int imageCount);

// Writes images range.start to range.end (already clamped) into folder: each picture
// file (a bitmap, or a PNG file), then its placement file in folder/Placements, which is created
// when missing (one level: folder itself must exist).  An empty range (start = end + 1) writes only
// the sub-folder.  A range whose start is more than one above its end is a mistake of the caller's
// and writes nothing at all.  Throws on the first file-system failure, or ECancelled when the
// delegate (counting images) asks to stop; what was written before stays.
void ExportSequence(TJOV& jov, const QString& folder, const TExportRange& range,
                    TOperationDelegate* delegate = nullptr,
                    TPictureFileFormat format = TPictureFileFormat::Bmp);

// Creates folder/Placements when it does not exist; throws EFCreateError when it cannot.
void EnsurePlacementsFolder(const QString& folder);
