#pragma once

// The rules and pieces every writer of image records shares: the checks made before a
// change, the counts and entries it writes, the tail it moves and the stretch it writes
// front to back.  Each exists once, here.

#include <QString>
#include <cstdint>
#include <vector>

#include "common/bytebuffer.h"
#include "common/errors.h"
#include "library/transaction.h"

class TJOV;
class TOperationDelegate;

// ---- Refusals.  Each throws EJovError with the reason, before anything is written.

// A data file can hold records up to what an i32 index entry can address.
void CheckDataEnd(int64_t end);
// The library is open and of an 8-bit variant.
void CheckWritable(const TJOV& jov);
// first..last are images of the library.
void CheckImageRange(const TJOV& jov, int first, int last);
// A record of width x height pixels can be stored (sizes are i16).
void CheckRecordSize(int width, int height);
// An image whose record cannot be changed, and why.
EJovError RecordRefusal(int index, const QString& why);

// ---- Reading what a change works on.

// The index entries of images first..last, each of which must be in the index.
std::vector<int64_t> EntriesOf(const TJOV& jov, int first, int last);
// An image's entry, checked to point between the front of the data file and its end.
int64_t EntryInside(TJovTransaction& t, const TJOV& jov, int index, int64_t entry);
// Where an image's record lies in the data file as the change found it, checked to be
// whole inside the file.
struct TRecordExtent {
  int64_t at = 0, end = 0;
  int width = 0, height = 0;
};
TRecordExtent RecordExtent(TJovTransaction& t, const TJOV& jov, int index, int64_t entry);

// ---- Writing.

// Declares the two image counts, and writes both.
void ProtectCounts(TJovTransaction& t);
void WriteCounts(TJovTransaction& t, int32_t count);
// Writes index entries from image first on.
void WriteEntries(TJovTransaction& t, int offSet, int first, const std::vector<int64_t>& entries);
// Moves length bytes of the data file from `from` to `to` in chunks (back to front
// towards the end, front to back towards the start), reporting the bytes moved to the
// delegate, which may cancel between chunks.
void MoveTail(TJovTransaction& t, int64_t from, int64_t to, int64_t length,
              TOperationDelegate* delegate);

// Writes a stretch of the data file front to back from pieces: new bytes, and old bytes
// as the file held them when the change started (whatever was written over them since),
// gathered in one chunk-sized buffer.  Old bytes are read through a window of the old
// file, and long runs of them are moved by the transaction, inside the kernel where it
// can.  Nothing is written past what an index entry can address.
class TStretchWriter {
 public:
  TStretchWriter(TJovTransaction& t, int64_t at);
  // Where the next byte goes.
  int64_t Position() const { return at_; }
  void Put(const void* data, int64_t n);
  // A record: its header and its pixel block.
  void PutRecord(const uint8_t* header, int64_t headerSize, const uint8_t* pixels, int64_t n);
  void PutOld(int64_t offset, int64_t n);
  // n old bytes at offset, to look at before they are put (a record header); valid
  // until the next call.
  const uint8_t* PeekOld(int64_t offset, int64_t n);
  // Writes what is gathered; returns the end of the stretch.
  int64_t Flush();

 private:
  void Fill(const uint8_t* data, int64_t n);
  const uint8_t* Window(int64_t offset, int64_t n);

  TJovTransaction& t_;
  int64_t start_;  // where the gathered bytes go
  int64_t at_;
  int64_t used_ = 0;
  TByteBuffer buffer_;
  TByteBuffer window_;
  int64_t windowStart_ = 0, windowEnd_ = 0;
};
