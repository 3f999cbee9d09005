#pragma once

// Making a new library from a folder of bitmap files, and rewriting a library without
// the bytes its edits left unreferenced.  Both are transactions that write the whole
// pair anew and switch it in: a run that fails, or is cancelled, leaves the files as
// they were.

#include <QString>
#include <cstdint>
#include <optional>

#include "editing/exchange.h"

class TJOV;
class TOperationDelegate;

struct TCreateOptions {
  QString folder;                       // the folder of the bitmap files
  QString dataPath;                     // the new data file; its index is beside it
  bool paletteFromFirstBitmap = false;  // else the template palette
  std::optional<TPlacement> placement;  // every image's; none: the placement files
  // The folder's "*.bmp" files, or its "*.png" files.
  TPictureFileFormat format = TPictureFileFormat::Bmp;
};

// Creates the library: the data-file and index-file templates, the palette of the
// template or the 1,024 bytes from byte 54 of the first bitmap file as they stand (0
// where the file is shorter), then every bitmap file of the folder in name order as an
// image, placed by its placement file (without one: the offset a PNG file carries, else
// 0, 0) or by options.placement.  With PNG files the palette taken from the first file
// is its colour table (opaque; 0 behind its last entry), and a first file without one is
// refused.  An existing pair under those names is replaced whole.  Returns the number of
// images.  Throws on the first failure (a folder that cannot be read, a file no reader
// takes, a placement file of one line, no bitmap to take the palette from, a file
// error), and then nothing has changed.  The delegate counts files.
int CreateLibrary(const TCreateOptions& options, TOperationDelegate* delegate = nullptr);

// Rewrites the open FileType 0 or 1 library without unreferenced bytes: the same
// headers, palette and images, records packed in index order behind the palette,
// entries rewritten.  Returns the bytes freed over both files.  Throws EJovError for a
// FileType 2 library and for one whose records cannot be told (an entry outside the
// data file, a record running past it); the library is then unchanged.  The object is
// open on the library as it is afterwards.  The delegate counts images.
int64_t CompactLibrary(TJOV& jov, TOperationDelegate* delegate = nullptr);
