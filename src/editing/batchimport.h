#pragma once

// Batch import: a folder of bitmap files, or of placement files, brought into the open
// library in one run.  Every run is one transaction over the pair of files (see
// TJOV::Change): it either completes or leaves the library exactly as it was, whatever
// stops it, and its memory is a fixed buffer plus the picture in hand.
//
// The runs throw EJovError (or a subclass) when they fail, and ECancelled when the
// delegate asks to stop; the library is then unchanged.  The delegate counts images.

#include <QString>
#include <QStringList>

#include "editing/exchange.h"

class TJOV;
class TOperationDelegate;

// Where the placements of an All or X/Y run come from.
struct TImportPlacements {
  bool newLike = false;  // every image takes pair; otherwise the folder's placement files
  TPlacement pair;
};

// The All runs take the placement of a picture file from its placement file; a picture
// without one takes the offset its file carries (a PNG file's), else 0, 0.
//
// Appends one image per file (names in folder, in the order given): records at the end
// of the data file, their entries behind the counted ones, and the new count in both
// files.  Index entries left behind the count by an interrupted run of another program
// are dropped.
void ImportAdd(TJOV& jov, const QString& folder, const QStringList& files,
               const TImportPlacements& placements, TOperationDelegate* delegate = nullptr);

// Inserts one image per file before image begin (0 <= begin < ImageCount): the records
// behind old entry begin move back, in place, by the new records' length.
void ImportInsert(TJOV& jov, const QString& folder, const QStringList& files,
                  const TImportPlacements& placements, int begin,
                  TOperationDelegate* delegate = nullptr);

// Writes images begin..end anew from the first end - begin + 1 files: the new records
// from old entry begin on, then the records behind image end, moved.  The count stays,
// and the data file is never shortened.
void ImportReplace(TJOV& jov, const QString& folder, const QStringList& files,
                   const TImportPlacements& placements, int begin, int end,
                   TOperationDelegate* delegate = nullptr);

// Gives images begin..end the pixels of folder's numbered picture files ("%.6d.bmp", or
// "%.6d.png", of the image's index), keeping their placements; a file no reader takes
// gives a 4 x 1 black image.  One pass over the library, with the bytes, entries and
// file length that replacing the images one after the other leaves.
void ImportPixels(TJOV& jov, const QString& folder, int begin, int end,
                  TOperationDelegate* delegate = nullptr,
                  TPictureFileFormat format = TPictureFileFormat::Bmp);

// Writes px and py of images begin..end: from folder's "%.6d.txt" of each index (none:
// 0, 0), or the one pair of placements.newLike.  Values are stored in 16 bits.
void ImportPlacements(TJOV& jov, const QString& folder, const TImportPlacements& placements,
                      int begin, int end, TOperationDelegate* delegate = nullptr);
