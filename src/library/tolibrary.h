#pragma once

// Turning a picture of any kind into the 8-bit picture an image record stores: rows of
// palette indices of the library palette, the width rounded up to a multiple of 4.

#include <QImage>
#include <QPoint>
#include <QSize>
#include <cstdint>

#include "bitmap/dib.h"
#include "common/errors.h"

// Record sizes are stored as i16, and the stored width is the picture's width rounded
// up to a multiple of 4: these are the largest pictures a record can hold.
inline constexpr int kMaxRecordPictureWidth = 32764;
inline constexpr int kMaxRecordPictureHeight = 32767;

// A picture the library could store but its reader would not show: a record wider or
// higher than the largest image the viewer shows (2000 x 2000) is refused by every writer
// before it writes anything.
class EPictureTooLarge : public EJovError {
 public:
  using EJovError::EJovError;
};

// The stored width of a picture w pixels wide: the byte width of an 8-bit row rounded up
// to a multiple of 4 (1..4 give 4, 5 gives 8).
inline constexpr int64_t LibraryRowWidth(int64_t w) {
  return (w * 8 + 31) / 32 * 4;
}

// Throws EPictureTooLarge when a picture of w x h pixels gives a record the reader would
// not show: its stored width (LibraryRowWidth) or its height over 2000.
void CheckPictureShown(int w, int h);

// Width and height of a picture; (0, 0) for an empty holder.
QSize PictureSize(const TPicture& picture);
// The offset a picture file carried (a PNG file's oFFs chunk, in pixels); (0, 0) for
// pictures without one.
QPoint PictureOffset(const TPicture& picture);

// Whether picture is an indexed picture of the library's own colours: 256 entries, each
// the palette's entry (its fourth byte aside), opaque, or fully transparent where the
// entry is black (as exported pictures mark the colour the viewer leaves out).
bool InLibraryPalette(const QImage& picture, const TColorTable& palette);

// Fills work with picture as an 8-bit picture in palette: work becomes W x h with
// W = LibraryRowWidth(w) and palette as its colours, the whole of it is filled with the
// palette colour nearest to black, and the picture is drawn unscaled at (0, 0) with
// every pixel taking the index of the nearest palette colour (a colour of the palette
// takes its own index: the first entry that holds it).  Pixels with transparency are
// first blended over black.  A picture InLibraryPalette keeps its indices as they are,
// also where the palette holds a colour twice.  PixelData
// then holds the record's pixel block (bottom row first, W bytes a row).  work keeps its pixel
// block when the size repeats.
//
// An empty picture empties work.  A picture whose record the reader would not show throws
// EPictureTooLarge and leaves work as it was.
void ToLibraryBitmap(TDIB& work, const TColorTable& palette, const TPicture& picture);
void ToLibraryBitmap(TDIB& work, const TColorTable& palette, const QImage& picture);
void ToLibraryBitmap(TDIB& work, const TColorTable& palette, const TDIB& picture);

// A picture as the record AppendImage writes for it.
struct TLibraryRecord {
  int width = 0, height = 0;
  int x = 0, y = 0;
  const uint8_t* pixels = nullptr;  // width x height bytes, bottom row first
};
// A picture 1 pixel wide or high (or empty) is too thin to be a sprite: it becomes the
// placeholder record, 1 x 1 of index 0 placed at (1, 1), whatever placement was asked
// for.  Any other picture is converted into work with ToLibraryBitmap and keeps (x, y);
// the record's pixels are work's until it changes.  Throws as ToLibraryBitmap.
TLibraryRecord ToLibraryRecord(TDIB& work, const TColorTable& palette, const TPicture& picture,
                               int16_t x, int16_t y);

// Makes image opaque by blending every pixel with transparency over black: a fully
// transparent pixel becomes black, a half transparent one half its colour.  Pictures
// with a colour table keep it (its colours are blended); others end up as RGB32.
// Pictures without transparency are left as they are.
void BlendOverBlack(QImage& image);
