#pragma once

// The images of a range as the writers of shared pictures (the contact sheet, the
// animation) take them: first the size and placement of every image from its record
// header alone, to lay the whole picture out, then the pictures one at a time.  All
// they need of the library object is here.

#include <QImage>
#include <array>
#include <functional>

class TJOV;

struct TRecordFrame {
  int width = 0;  // the record's own width (an 8-bit picture's rows are wider, rounded to 4)
  int height = 0;
  int px = 0;
  int py = 0;
  bool Empty() const { return width <= 0 || height <= 0; }
};

class TRangePictures {
 public:
  explicit TRangePictures(TJOV& jov);

  // True for the run-coded variant: its pictures are RGB565 (QImage::Format_RGB16).
  bool SixteenBit() const { return sixteenBit_; }
  // The library palette as opaque colours (8-bit variants).
  const std::array<QRgb, 256>& Colours() const { return colours_; }

  // Size and placement from the record header of image index, without its pixels.  An
  // image the library cannot show (no index entry, a header the file does not hold, a
  // size that is not positive or over the variant's limit) is empty, with its placement.
  TRecordFrame Header(int index);

  // The picture of image index as the library shows it: Format_Indexed8 in the palette, or
  // Format_RGB16.  Null when it does not hold the frame's size (an empty image, a record
  // cut short).  Valid until the next call.
  const QImage* Picture(int index, const TRecordFrame& frame);

 private:
  TJOV& jov_;
  bool sixteenBit_;
  std::array<QRgb, 256> colours_{};
};
