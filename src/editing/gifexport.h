#pragma once

// An animated GIF of a range of images, each frame placed as the viewer places the image
// with "Apply X/Y", to show a walking cycle or an effect moving as it does in the game.

#include <QString>

#include "editing/export.h"
#include "editing/rangepictures.h"

class TJOV;
class TOperationDelegate;

struct TAnimationOptions {
  TExportRange range;     // clamped to the library, start <= end
  int fps = 10;           // frames per second, 1 to 100: each frame shows 100 / fps hundredths
  int plays = 0;          // how many times the animation plays; 0 for ever
  bool placement = true;  // frames at their placements; false: centred
};

// Writes images range.start..range.end to path as an animated GIF, one frame per image.
//
// Placed, each frame's top-left corner is the image's placement (px, py) from one common
// anchor, and the picture (the logical screen) is the smallest rectangle holding every
// frame; centred, it is as large as the widest and the tallest image and each frame sits
// in its middle.  Every frame is cleared when the next one comes (disposal "restore to
// background"), and an empty image is one transparent pixel.  The delay of every frame is
// 100 / fps hundredths of a second, rounded.  plays = 0 loops for ever; plays = 1 writes no
// loop block, so that the animation stops after once; otherwise the loop block repeats it
// plays - 1 times.
//
// Colours: an 8-bit library gives the library palette as the global colour table, and the
// entry nearest to black as the transparent index, which every pure black entry becomes.
// A run-coded library's RGB565 pixels get a palette of the colours they use, black being
// the transparent index 0: one global table when the range uses at most 255 other colours,
// else one table per frame; a frame with more than 255 colours is refused (EJovError,
// before the file is made).  A picture larger than a GIF holds (65,535 pixels a side) is
// refused too.  progress is called with the images done so far (for a run-coded library,
// twice as many steps: colours, then frames).  Throws on failure, leaving no file behind.
void WriteAnimation(TJOV& jov, const QString& path, const TAnimationOptions& options,
                    TOperationDelegate* delegate = nullptr);
