#pragma once

// The image shown, on the clipboard and back: as a PNG picture with black transparent (the
// picture the PNG export writes) and as a bitmap (the packed DIB of the picture, under the
// name the Windows clipboard format goes by, and as a bitmap file for other programs).

#include <QString>

class QMimeData;
class TJOV;

// The clipboard's name for a packed DIB.
inline constexpr char kDibMimeType[] = "application/x-qt-windows-mime;value=\"DeviceIndependentBitmap\"";

// Image index of the library on the clipboard.  The caller owns the data.
QMimeData* ImageMimeData(TJOV& jov, int index);

// Writes the picture the clipboard data holds into folder as a file the picture loader
// reads, so that a pasted picture is read as the same picture in a file would be: the PNG
// first, then a bitmap, then any picture Qt hands over.  The file's path; empty when the
// data holds no picture.
QString SaveClipboardPicture(const QMimeData& data, const QString& folder);
