#pragma once

// Changes that insert or remove records in the middle of a library, or blank a range of
// them: the add-one dialog's insert, and the delete dialog's two modes.  Each is one
// transaction of the library (all or nothing, whatever stops it); the records behind the
// change move in place, in chunks, and the library object describes the files as they
// are afterwards.  Only FileType 0 and 1 libraries are changed.  Each throws EJovError
// with the reason when it fails or is refused, and ECancelled when the delegate asks to
// stop; the library is then unchanged.

#include <cstdint>

class TJOV;
class TPicture;
class TOperationDelegate;

// Inserts a record of width x height pixels (bottom row first) with placement x, y
// before image index: the records from there on move by the new record's length
// towards the end, their entries with them, and both counts grow by one.  An index at
// or past the image count (always so in a library without images) puts the record at
// the end of the data file.  The delegate counts bytes moved.
void InsertRecord(TJOV& jov, int index, int width, int height, int x, int y, const uint8_t* pixels,
                  TOperationDelegate* delegate = nullptr);

// The add-one dialog's insert: the picture converted into the library palette (a
// picture that cannot be converted becomes one pixel), with the placement x, y, before
// image index.
void InSert(TJOV& jov, const TPicture& picture, int16_t x, int16_t y, int index,
            TOperationDelegate* delegate = nullptr);

// Removes images s..e: the bytes from the first record of the range to the next image's
// record (the end of the file for the last image) go, everything behind moves down, and
// the later entries keep their distances from one another, the first of them at the
// removed block's start (at the start of the record area when s is 0).  The delegate
// counts bytes moved.
void DeleteRange(TJOV& jov, int s, int e, TOperationDelegate* delegate = nullptr);

// Turns images s..e into 4 x 1 records of the palette colour nearest to black, keeping
// their placements, in one pass over the data file: the files end up as replacing each
// image in turn leaves them (the unreferenced bytes behind the last record aside).  The
// delegate counts images.
void ClearRange(TJOV& jov, int s, int e, TOperationDelegate* delegate = nullptr);
