#pragma once

// The exchange folder: numbered bitmap files side by side, and beside them the
// sub-folder "Placements" with one placement text file per image.  This is how images
// leave a library and come back.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class TJOV;

inline constexpr char kPlacementsFolder[] = "Placements";

// The kind of picture file images leave a library as, and the kind of file a folder
// import takes.  Bitmaps are the exchange folder's own; PNG keeps the see-through black
// as transparency and the placement as the picture's offset, which image editors keep.
enum class TPictureFileFormat { Bmp, Png };

// "bmp" or "png".
QString PictureFileExtension(TPictureFileFormat format);
// The format named "bmp" or "png" (as typed, e.g. after --format); nullopt for others.
std::optional<TPictureFileFormat> PictureFileFormatNamed(const QString& name);
// The format a file name asks for by its extension (".png" or ".bmp", in any case);
// otherwise fallback.
TPictureFileFormat PictureFileFormatOf(const QString& path, TPictureFileFormat fallback);

// "%.6d.bmp" (or "%.6d.png") and "%.6d.txt": at least six digits, never cut.
QString ExchangeBitmapName(int index, TPictureFileFormat format = TPictureFileFormat::Bmp);
QString PlacementFileName(int index);

// A folder text with the separator appended when it lacks one.
QString WithTrailingSeparator(const QString& folder);

// The placement file of a bitmap file: G/NAME.bmp pairs with G/Placements/NAME.txt.
QString PlacementPathFor(const QString& bitmapPath);

// The bytes of a placement file: px and py in decimal, each line ended by CR LF.
QByteArray PlacementFileBytes(int px, int py);
// Writes a placement file, replacing an existing one.  Throws on failure.
void WritePlacementFile(const QString& path, int px, int py);

struct TPlacement {
  int32_t x = 0;
  int32_t y = 0;
};

// Reads a placement file by the one rule every reader shares: lines end at CR, LF or
// CR LF; line 1 gives x and line 2 gives y through ParseInteger, whose error position is
// not looked at; further lines are ignored.  Throws EFOpenError when the file cannot be
// opened and EPlacementFileError when it has fewer than two lines.
TPlacement ReadPlacementFile(const QString& path);
// The same rule on bytes already read.
TPlacement ParsePlacement(const QByteArray& bytes, const QString& pathForMessage = QString());

// The names (no folder) of the picture files of folder: regular files matching "*.bmp"
// (or "*.png") without regard to case, neither hidden nor system files, sorted by name without
// regard to case (names that differ only in case in byte order).  Sub-folders are not
// searched.  Throws EFOpenError when the folder cannot be read.
QStringList ListBitmapFiles(const QString& folder,
                            TPictureFileFormat format = TPictureFileFormat::Bmp);

// A typed placement pair ("New Like:", "Use New:"): x is the number before the first
// comma and y the number after it; without a comma x is 0 and the whole text gives y.
// Numbers are read with ParseInteger without looking at its error position.
TPlacement ParsePlacementText(const QString& text);

// Writes image index of the open library as a picture file, exactly the picture ImageAt
// gives.  A bitmap file is 8-bit with the library palette, or 16-bit RGB565 with
// bit-field masks.  A PNG file of an 8-bit library is indexed with the library palette,
// every entry of pure black fully transparent; of a run-coded library it is RGBA with
// black pixels transparent; either carries (px, py) as its offset.  Leaves the library's
// px, py, Width and Height describing that image.  Throws on failure.
void ExportImage(TJOV& jov, int index, const QString& path,
                 TPictureFileFormat format = TPictureFileFormat::Bmp);

// The picture ImageAt gives, made for a PNG file (the export's, and the clipboard's): pure
// black becomes transparent (the palette entries of pure black, or the black pixels of a
// run-coded picture) and the placement becomes the offset.  An empty picture, which a PNG
// file cannot hold, becomes one transparent pixel.  The picture has the record's width,
// not the shown one's.
QImage PngPicture(TJOV& jov, int index);
