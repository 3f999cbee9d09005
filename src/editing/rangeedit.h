#pragma once

// Changes that insert or remove records in the middle of a library, or blank a range of
// them: the add-one dialog's insert, and the delete dialog's two modes.  Each is one
// transaction of the library (all or nothing, whatever stops it); the records behind the
// change move in place, in chunks, and the library object describes the files as they
// are afterwards.  Only FileType 0 and 1 libraries are changed.

#include <QString>
#include <cstdint>
#include <functional>

class TJOV;
class TPicture;

// Progress of a long change: done out of total (bytes moved, or images cleared).  It
// may pump window messages; the library object draws nothing while a change is under
// way.
using TChangeProgress = std::function<void(int64_t done, int64_t total)>;

// Inserts a record of width x height pixels (bottom row first) with placement x, y
// before image index: the records from there on move by the new record's length
// towards the end, their entries with them, and both counts grow by one.  An index at
// or past the image count (always so in a library without images) puts the record at
// the end of the data file.  Throws EJovError when it cannot, the library unchanged.
void InsertRecord(TJOV& jov, int index, int width, int height, int x, int y, const uint8_t* pixels,
                  const TChangeProgress& progress = nullptr);

// The add-one dialog's insert: the picture converted into the library palette (a
// picture that cannot be converted becomes one pixel), with the placement x, y, before
// image index.  False when it failed (the reason goes to error, when given).
bool InSert(TJOV& jov, const TPicture& picture, int16_t x, int16_t y, int index,
            QString* error = nullptr, const TChangeProgress& progress = nullptr);

// Removes images s..e: the bytes from the first record of the range to the next image's
// record (the end of the file for the last image) go, everything behind moves down, and
// the later entries keep their distances from one another, the first of them at the
// removed block's start (at the start of the record area when s is 0).  False when it
// failed or s..e is not a range of the library (reason to error); the library is then
// unchanged.
bool DeleteRange(TJOV& jov, int s, int e, QString* error = nullptr,
                 const TChangeProgress& progress = nullptr);

// Turns images s..e into 4 x 1 records of the palette colour nearest to black, keeping
// their placements, in one pass over the data file: the files end up as replacing each
// image in turn leaves them (the unreferenced bytes behind the last record aside).
// progress counts images.  False when it failed (reason to error); the library is then
// unchanged.
bool ClearRange(TJOV& jov, int s, int e, const TChangeProgress& progress = nullptr,
                QString* error = nullptr);
