#pragma once

// The one picture loader of every command that takes a picture file.  Bitmap files (and
// the "dib" extensions) are read by the program's own reader into a TDIB; every other
// format that Qt's image plugins read comes through QImageReader into a QImage that is
// reused from one load to the next.

#include <QImage>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "bitmap/dib.h"

class QImageReader;

// The largest picture the loader reads: 256 MiB of decoded pixels at 4 bytes a pixel,
// and no wider or higher than an image record can store.
inline constexpr int64_t kMaxPictureBytes = int64_t(256) << 20;

class TPictureLoader {
 public:
  // Reads the picture file at path and returns it; the picture stays valid until the
  // next Load.  It holds a TDIB for bitmap files and a QImage for everything else, and
  // it is opaque: pixels with transparency come blended over black (an indexed picture,
  // such as a palette PNG, keeps its indices and has its colour table blended).  A PNG
  // file's offset is the QImage's offset().
  //
  // The file is chosen by its extension first ("bmp", and the "dib" extensions, go to
  // the bitmap reader), then by its content.  A bitmap file the bitmap reader refuses
  // (a header or bit-field layout it does not know) is handed to Qt's reader, which
  // either reads it whole or refuses it too.
  //
  // Throws EFOpenError when the file cannot be opened, and EInvalidGraphic naming the
  // file and the reason when it cannot be read or is too large (checked before the
  // pixels are allocated).  After a failure the loader holds no picture.
  const TPicture& Load(const QString& path);

  // The picture of the last successful Load; empty before it and after a failure.
  const TPicture& Picture() const { return picture_; }

 private:
  QImage& ImageSlot();
  TDIB& DibSlot();
  void Clear();
  void LoadBitmapFile(const QString& path);
  void LoadWithQt(const QString& path, QImageReader& reader);

  TPicture picture_;
  QImage spareImage_;           // the reused image while the picture holds a TDIB
  bool flattenedArgb_ = false;  // the image was ARGB32 and is now RGB32 (BlendOverBlack)
};

// The name filters of a picture-open dialog: "All pictures (...)" with every pattern
// first, then one entry per format the loader reads, then "All files (*)".  Patterns are
// given in lower and upper case.
QStringList PictureNameFilters();
// The same, joined with ";;" as QFileDialog takes them.
QString PictureFilter();
