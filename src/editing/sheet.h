#pragma once

// The contact sheet: a range of images as one PNG picture, a grid of cells each holding an
// image at its own size with its number under it, to show a library's images to people
// who do not have the viewer.

#include <QString>

#include "editing/export.h"
#include "editing/rangepictures.h"

class TJOV;
class TOperationDelegate;

struct TSheetOptions {
  TExportRange range;  // clamped to the library, start <= end
  int columns = 8;     // cells in a row, at least 1
  int scale = 1;       // every image enlarged this many times, nearest neighbour, at least 1
};

// The layout, in sheet pixels: rows of cells, columns cells to a row (the last row may
// hold fewer), left-aligned.  The cells of one row share one size: as wide as the row's
// widest image (scaled) or the sheet's widest label, as high as the row's tallest image
// (scaled) and the label under it, with kSheetPadding around the image and the label and
// between them.  So images of like size make a regular grid, and a large image makes its
// own row large, never the whole sheet.  An image is centred in the space above its
// label; the label is centred under it.
inline constexpr int kSheetPadding = 4;
// A label is the image's number, "%.5d", in digits of 5 x 7 pixels a pixel apart, on a plate
// that leaves a pixel around them: dark digits on a light plate, as the thumbnail grid
// shows them.
inline constexpr int kSheetDigitWidth = 5;
inline constexpr int kSheetDigitHeight = 7;
inline constexpr int kSheetLabelHeight = kSheetDigitHeight + 2;

struct TSheetSize {
  int width = 0;
  int height = 0;
};

// Writes the sheet of options.range to path as a PNG file.  An 8-bit library gives an
// indexed picture with the library palette, every entry of pure black transparent as in
// the PNG export; a run-coded library (or a palette without black) an RGBA picture with
// black pixels transparent.  The ground between the cells is transparent.  The record
// headers are read first to lay the sheet out, then one row of cells at a time is drawn
// and written, so memory is one row of the sheet whatever the range.  progress is called
// with the images drawn so far before each image.  Throws on failure, leaving no file
// behind; a sheet whose row would take more than 256 MiB is refused.
TSheetSize WriteSheet(TJOV& jov, const QString& path, const TSheetOptions& options,
                      TOperationDelegate* delegate = nullptr);
