#pragma once

// Finding the structural problems of a library: counts that disagree, index entries
// outside the data file, records that run past it, overlap or exceed the size limits.

#include <QString>
#include <vector>

class TJOV;

struct TProblem {
  int index = -1;     // the image concerned; -1 for the library as a whole
  QString problem;    // one short English line that names the image and the numbers
  bool note = false;  // sound, but worth knowing: a shared record, an index out of order
};

// Lists every structural problem of the open library jov, in the order: the files and
// counts, then each image in index order, then the overlaps; then the notes: records
// that several images share, and an index that does not list records in file order.  Reads the
// index and the record headers only, never pixels: memory stays in proportion to the image count.
// Throws the file layer's errors when a file cannot be read.
std::vector<TProblem> CheckLibrary(TJOV& jov);
