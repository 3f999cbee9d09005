#pragma once

// The rules and pieces every writer of image records shares: the checks made before a
// change, the counts and entries it writes, the tail it moves and the stretch it writes
// front to back.  Each exists once, here.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
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
// Appending: the index reaches near the image count (a count from a damaged header far
// beyond it would have an entry written gigabytes into the index file).
void CheckAppendable(const TJOV& jov);
// first..last are images of the library.
void CheckImageRange(const TJOV& jov, int first, int last);
// A record of width x height pixels holds a picture the reader shows (at most 2000 x
// 2000; EPictureTooLarge otherwise).
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
  // Old bytes gathered among new ones: where they go and where they come from.
  struct Copy {
    int64_t to, from, length;
  };
  std::vector<Copy> copies_;
};

// ---- Changing only the images a change names.  An index need not list records in file
// order, and two entries may share one record: a change moves the entries of every
// record behind the bytes it moves, whatever their index order, and never overwrites in
// place a record another image also uses.

// Where the records of a library start, against the images a change names.
class TRecordPlaces {
 public:
  // Names no image yet; Name adds them.
  TRecordPlaces(TJovTransaction& t, const TJOV& jov);
  void Name(int index);
  bool Named(int index) const;
  // Every image's entry as the change found it; -1 for an image the index does not reach.
  const std::vector<int64_t>& Entries() const { return entries_; }
  // Whether the bytes [from, to) belong to named images alone: no record of another image
  // starts among them (none shares a record starting at from), and no record that starts
  // before from runs into them.
  bool Private(int64_t from, int64_t to) const;
  // Throws RecordRefusal for index when a record runs across `at` (bytes inserted there
  // would split it).
  void CheckNoneAcross(int index, int64_t at) const;
  // The entries of the images not named once the bytes at and behind each edit's old end
  // have moved by the edit's delta (the deltas of all edits before an entry summed).
  struct TEdit {
    int64_t oldEnd;
    int64_t delta;
  };
  std::vector<int64_t> Moved(std::vector<TEdit> edits) const;
  // Declares the index entries a change may rewrite, and writes those that differ from
  // the old ones as one stretch.
  void ProtectEntries() const;
  void WriteChangedEntries(const std::vector<int64_t>& entries) const;

 private:
  TJovTransaction& t_;
  const TJOV& jov_;
  std::vector<int64_t> entries_;
  std::vector<bool> named_;
};

// The first image whose entry changes when the entries of images index on change, and
// those of every record at or behind `from` in the file move, whatever their index order.
int FirstChangedEntry(const std::vector<int64_t>& old, int index, int64_t from);

// A new record for an image: its size, the header bytes after width and height (the
// placement and, for FileType 1, its copy), and its pixels.
struct TRecordContent {
  int width = 0, height = 0;
  const uint8_t* placement = nullptr;
  const uint8_t* pixels = nullptr;
};
// Gives image index its new record, its record's old header given.  The content stays
// valid until the next call.
using TRecordSource = std::function<TRecordContent(int index, const uint8_t* oldHeader)>;

// Gives images (in index order) new records from source, as one change begun here and
// committed by the caller.  Where every named record belongs to named images alone, the
// records are rewritten where they lie, in one pass in file order from the first that
// changes size, and every record behind one that changed size moves with its entry; the
// data file is never shortened and grows by every record that grew, as replacing the
// images one after the other leaves it.  Otherwise the new records are appended and
// only the named entries change.  fixedSize, when every new record's size is known
// before, lets records that keep their size be rewritten in place alone.  The delegate
// counts images.
void RewriteRecords(TJovTransaction& t, const TJOV& jov, const std::vector<int>& images,
                    std::optional<std::pair<int, int>> fixedSize, const TRecordSource& source,
                    TOperationDelegate* delegate);

// New bytes for the header of an image's record: a placement, or one of its halves.
struct THeaderField {
  int index = 0;
  int offset = 4;  // from the start of the record: 4 for px, 6 for py
  int length = 4;  // at most 4
  uint8_t bytes[4] = {};
};
// Writes the fields, as one change begun here (unless there is nothing to write) and
// committed by the caller.  A field of an
// image whose entry lies outside the data file is left alone.  A record another image
// also uses, or whose header lies in another image's record, is not written over: the
// image gets a copy of its record, with the new field, at the end of the data file.
void WriteHeaderFields(TJovTransaction& t, const TJOV& jov,
                       const std::vector<THeaderField>& fields);
