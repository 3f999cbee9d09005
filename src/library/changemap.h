#pragma once

// What a change made of one file, told as the new file's stretches: each either old
// bytes (from somewhere in the file as the change found it) or bytes the change wrote.
// From it follows how the old file is made again from the new one, which is what a
// history entry keeps: where each old byte now stands, and the old bytes that no longer
// stand anywhere.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

class TChangeMap {
 public:
  explicit TChangeMap(int64_t oldSize = 0);

  // New bytes at [offset, offset + length).
  void Wrote(int64_t offset, int64_t length);
  // Old bytes [from, from + length) copied to [to, to + length).
  void Copied(int64_t from, int64_t to, int64_t length);
  // The file cut to size, or grown with zeros.
  void Cut(int64_t size);

  int64_t OldSize() const { return oldSize_; }
  int64_t Size() const { return size_; }
  // Nothing changed.
  bool Unchanged() const;
  // The new bytes [begin, end) are the old bytes [begin, end), where they stood.
  bool Keeps(int64_t begin, int64_t end) const;

  // A stretch of the new file: from >= 0 for old bytes [from, from + length), -1 for new.
  struct Stretch {
    int64_t at, length, from;
  };
  std::vector<Stretch> Stretches() const;
  // The new bytes, as [begin, end) ranges front to back.
  std::vector<std::pair<int64_t, int64_t>> NewRanges() const;

  // A piece of the old file: `length` old bytes that now stand at `from` in the new file,
  // or (from -1) that stand nowhere any more.  The pieces cover the old file front to back.
  struct OldPiece {
    int64_t length, from;
  };
  std::vector<OldPiece> OldFromNew() const;
  // Where the old byte at offset stands in the new file, when it still stands somewhere.
  std::optional<int64_t> NewPlaceOf(int64_t oldOffset) const;

 private:
  struct Segment {
    int64_t length, from;
  };
  void Assign(int64_t at, int64_t length, int64_t from);
  void SplitAt(int64_t at);
  // The old bytes still found in the new file, by old offset: {from, length, at}.
  struct Placed {
    int64_t from, length, at;
  };
  const std::vector<Placed>& PlacedByOld() const;

  int64_t oldSize_;
  int64_t size_;
  std::map<int64_t, Segment> segments_;  // by new offset, covering [0, size_)
  mutable std::vector<Placed> placed_;
  mutable bool placedValid_ = false;
};
