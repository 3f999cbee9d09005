#pragma once

// Finding the structural problems of a library: counts that disagree, index entries
// outside the data file, records that run past it, overlap or exceed the size limits.

#include <QString>
#include <cstdint>
#include <vector>

class TJOV;

struct TProblem {
  int index = -1;     // the image concerned; -1 for the library as a whole
  QString problem;    // one short English line that names the image and the numbers
  bool note = false;  // sound, but worth knowing: a shared record, an index out of order
};

// The bytes of the data file behind its header that no image's record covers: stale
// bytes that edits leave between records, which compact removes.
struct TGaps {
  int64_t total = 0;
  int64_t largest = 0;
};

// Lists every structural problem of the open library jov, in the order: the files and
// counts, then each image in index order, then the overlaps; then the notes: records
// that several images share, and an index that does not list records in file order.  Reads the
// index and the record headers only, never pixels: memory stays in proportion to the image count.
// Throws the file layer's errors when a file cannot be read.
// With gaps, also measures the gaps.
std::vector<TProblem> CheckLibrary(TJOV& jov, TGaps* gaps = nullptr);
