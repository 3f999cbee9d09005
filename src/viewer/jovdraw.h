#pragma once

// Drawing library images onto a canvas: thumbnails and the zoomed preview.  Pixels of
// the key colour leave the canvas as it was, every other pixel replaces it; stretching
// is nearest-neighbour.

#include <QRect>

class QPainter;
class TJOV;

// Draws image index of jov fitted into rect from its top-left corner: each side the
// smaller of the rectangle's and the picture's, so a large picture is squeezed to the
// cell and a small one keeps its size.  Black is transparent.
void DrawThumbnail(TJOV& jov, QPainter& canvas, const QRect& rect, int index);

// Draws image index of jov scaled by zoom (sizes rounded half to even) with its top-left
// corner at (x, y), over a dotted focus frame of that area; the key colour is black when
// transparent, pure red otherwise.
void DrawZoomed(TJOV& jov, QPainter& canvas, int x, int y, int index, double zoom,
                bool transparent);

// Draws the dotted focus frame over rect by inverting.
void DrawFocusRect(QPainter& canvas, const QRect& rect);
