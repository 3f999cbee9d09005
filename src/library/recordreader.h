#pragma once

// Reading image records out of a data file, and laying 8-bit records into pictures:
// the decoding half of the library object, kept apart from its state.

#include <QImage>
#include <QList>
#include <cstdint>

#include "common/bytebuffer.h"
#include "common/fileio.h"

// Reads a record in at most two reads: ReadHead takes the header and as many bytes after
// it as the previous record had (a library's records are often alike), ReadRest then
// makes sure all of the record is there.  Sizes are checked against the file before
// anything is allocated for them.
class TRecordReader {
 public:
  // Reads the header (headerSize bytes) at offset and the guessed rest; returns how many
  // bytes it got, or -1 when the file does not hold the header.
  int64_t ReadHead(TFile& file, int64_t offset, int64_t headerSize);
  // Makes sure total bytes of the record at offset are there, have of them read by
  // ReadHead; false when the file ends before.
  bool ReadRest(TFile& file, int64_t offset, int64_t have, int64_t total);
  uint8_t* Data() const { return buffer_.Data(); }
  // Hands the record read last over to keep, taking keep's buffer for the next read.
  void SwapBuffer(TByteBuffer& keep) { std::swap(buffer_, keep); }

 private:
  TByteBuffer buffer_;
  int64_t lastRecordSize_ = 256;  // read ahead with the header of the next record
  int64_t headWanted_ = 0;        // bytes the last ReadHead asked for
};

// Lays the stored rows of an 8-bit record (bottom row first, w bytes each) into out, an
// indexed picture with the colours given, w rounded up to a multiple of 4 wide: a record
// written by another tool with an odd width keeps its shape, its padding columns pad.
// out keeps its pixel block when its size repeats.
void LayRows8(const uint8_t* pixels, int w, int h, const QList<QRgb>& colours, uint8_t pad,
              QImage& out);

// The palette entry nearest to black (the padding of odd-width records).
uint8_t NearestToBlack(const uint8_t* palette);
