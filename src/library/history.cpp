#include "library/history.h"

#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "common/bytebuffer.h"
#include "common/byteio.h"
#include "common/checksum.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/operation.h"
#include "library/transaction.h"

// Layout of the history file (all integers little-endian):
//   two slots of 512 bytes at 0 and 512; the valid one with the higher number counts:
//     "JOVHIST1", u64 number, u64 end of the entries, u64 newest done entry, u64 newest
//     undone entry, u64 last refused number, u64 first kept number, u64 next number,
//     u64 committed journal, u64 bytes of the kept entries, u64 the last change's entry,
//     u32 flags (1: pending switch), u32 0, the state (i64 sizes[2], u64 index checksum,
//     u64 head checksum, u64 written checksum, per file u64 device, u64 inode, i64
//     modification time in ns), zeros, u64 checksum of the 504 bytes before it
//   entries from byte 1024 on, each a head of 152 bytes and a body:
//     head: "JOVHREC1", u64 number, u64 the entry below it, i64 time in ms, u32 side
//     (0 done, 1 undone), u32 what's length, u32 pieces[2], u32 ranges[2], u64 kept
//     bytes, u64 body length, u64 body checksum, the state it makes and the state it
//     applies to (each i64 sizes[2], u64 index checksum, u64 head checksum), u64
//     checksum of the head before it
//     body: what (UTF-8, padded to 8), the pieces of the data file then the index file
//     (u32 kind, u32 0, i64 length, i64 from, i64 add), the ranges the change that made
//     the state wrote (i64 begin, i64 end, data file then index file), the kept bytes.
// A piece says how a stretch of a file is made: bytes of the file as it is (from their
// offset), kept bytes (from their offset among the kept ones), or index entries of the
// file as it is plus a number (from the first one's offset).

namespace {

constexpr char kSlotTag[] = "JOVHIST1";
constexpr char kEntryTag[] = "JOVHREC1";
constexpr int kSlotSize = 512;
constexpr int kSlotSummed = kSlotSize - 8;
constexpr int64_t kFirstEntry = 2 * kSlotSize;
constexpr int kHeadSize = 152;
constexpr int kHeadSummed = kHeadSize - 8;
constexpr int kPieceSize = 32;
constexpr int kRangeSize = 16;
constexpr uint64_t kSlotSeed = 0x5A17C0DE00000001ull;
constexpr uint64_t kHeadSeed = 0x5A17C0DE00000002ull;
constexpr uint64_t kBodySeed = 0x5A17C0DE00000003ull;
constexpr uint64_t kStateSeed = 0x5A17C0DE00000004ull;
constexpr uint32_t kPending = 1;
// Written before the change's files were flushed: the slot stands only when the library
// is as it says.  Only the slot of the change that sets it carries it.
constexpr uint32_t kStaged = 2;
constexpr int kMaxWhat = 1000;
// The state's checksums read the data file's first bytes (header and palette) and at
// most so many ranges and bytes of what the last change wrote.
constexpr int64_t kHeadBytes = 2048;
constexpr int kMaxRanges = 64;
constexpr int64_t kMaxRangeBytes = 16 << 20;
// The file grows in steps, written with zeros, so that a change's flush of the history
// seldom has to record a new size or new blocks.
constexpr int64_t kGrowth = 1 << 20;
// An index stretch shorter than this is kept as bytes; a run of entries shifted alike
// shorter than kMinRun too.
constexpr int64_t kMinWords = 64;
constexpr int64_t kMinRun = 8;
constexpr int64_t kChunk = 4 << 20;

enum class TPieceKind : uint32_t { Current = 0, Kept = 1, Words = 2 };

struct TPiece {
  TPieceKind kind;
  int64_t length, from, add;
};

using TRange = std::pair<int64_t, int64_t>;

// Sizes and checksums of a state, without stamps: what an entry keeps of the states on
// either side of it.
struct TPrint {
  int64_t size[2] = {0, 0};
  uint64_t indexSum = 0, headSum = 0;
  bool operator==(const TPrint&) const = default;
};

TPrint PrintOf(const THistoryState& s) {
  return {{s.size[0], s.size[1]}, s.indexSum, s.headSum};
}

struct TSlot {
  uint64_t number = 0, end = kFirstEntry, doneTop = 0, undoneTop = 0, refusedUpTo = 0,
           firstKept = 0, next = 1, journal = 0, keptBytes = 0, lastEntry = 0;
  uint32_t flags = 0;
  THistoryState state;
};

struct THead {
  uint64_t number = 0, below = 0;
  int64_t whenMs = 0;
  uint32_t side = 0, whatLength = 0, pieces[2] = {0, 0}, ranges[2] = {0, 0};
  uint64_t keptBytes = 0, bodyLength = 0, bodySum = 0;
  TPrint makes, appliesTo;
  int64_t at = 0;  // where it stands (not stored)
  int64_t Bytes() const { return kHeadSize + int64_t(bodyLength); }
  int64_t WhatPadded() const { return (int64_t(whatLength) + 7) / 8 * 8; }
  int64_t PiecesAt() const { return at + kHeadSize + WhatPadded(); }
  int64_t RangesAt() const { return PiecesAt() + int64_t(pieces[0] + pieces[1]) * kPieceSize; }
  int64_t KeptAt() const { return RangesAt() + int64_t(ranges[0] + ranges[1]) * kRangeSize; }
};

void PutPrint(uint8_t* p, const TPrint& s) {
  PutI64(p, s.size[0]);
  PutI64(p + 8, s.size[1]);
  PutU64(p + 16, s.indexSum);
  PutU64(p + 24, s.headSum);
}

TPrint GetPrint(const uint8_t* p) {
  return {{GetI64(p), GetI64(p + 8)}, GetU64(p + 16), GetU64(p + 24)};
}

// A slot or an entry head: a tag, its fields, and a checksum of the first `summed` bytes
// under a seed of its own, so that neither passes for the other.
void SealBlock(uint8_t* p, uint64_t seed, int summed) {
  TSum sum(seed);
  sum.Add(p, summed);
  PutU64(p + summed, sum.Value());
}

bool BlockIntact(const uint8_t* p, const char* tag, uint64_t seed, int summed) {
  if (std::memcmp(p, tag, 8) != 0) return false;
  TSum sum(seed);
  sum.Add(p, summed);
  return GetU64(p + summed) == sum.Value();
}

void PutSlot(uint8_t* p, const TSlot& s) {
  std::memset(p, 0, kSlotSize);
  std::memcpy(p, kSlotTag, 8);
  const uint64_t fields[] = {s.number,    s.end,  s.doneTop, s.undoneTop, s.refusedUpTo,
                             s.firstKept, s.next, s.journal, s.keptBytes, s.lastEntry};
  for (int k = 0; k < 10; ++k) PutU64(p + 8 + 8 * k, fields[k]);
  PutU32(p + 88, s.flags);
  PutPrint(p + 96, PrintOf(s.state));
  PutU64(p + 128, s.state.writtenSum);
  for (int f = 0; f < 2; ++f) {
    PutU64(p + 136 + 24 * f, s.state.stamp[f].device);
    PutU64(p + 144 + 24 * f, s.state.stamp[f].inode);
    PutI64(p + 152 + 24 * f, s.state.stamp[f].modifiedNs);
  }
  SealBlock(p, kSlotSeed, kSlotSummed);
}

bool GetSlot(const uint8_t* p, TSlot& s) {
  if (!BlockIntact(p, kSlotTag, kSlotSeed, kSlotSummed)) return false;
  uint64_t* fields[] = {&s.number,    &s.end,  &s.doneTop, &s.undoneTop, &s.refusedUpTo,
                        &s.firstKept, &s.next, &s.journal, &s.keptBytes, &s.lastEntry};
  for (int k = 0; k < 10; ++k) *fields[k] = GetU64(p + 8 + 8 * k);
  s.flags = GetU32(p + 88);
  const TPrint print = GetPrint(p + 96);
  s.state.size[0] = print.size[0];
  s.state.size[1] = print.size[1];
  s.state.indexSum = print.indexSum;
  s.state.headSum = print.headSum;
  s.state.writtenSum = GetU64(p + 128);
  for (int f = 0; f < 2; ++f) {
    s.state.stamp[f].device = GetU64(p + 136 + 24 * f);
    s.state.stamp[f].inode = GetU64(p + 144 + 24 * f);
    s.state.stamp[f].modifiedNs = GetI64(p + 152 + 24 * f);
  }
  return s.end >= uint64_t(kFirstEntry) && s.end < (uint64_t(1) << 62);
}

void PutHead(uint8_t* p, const THead& h) {
  std::memset(p, 0, kHeadSize);
  std::memcpy(p, kEntryTag, 8);
  PutU64(p + 8, h.number);
  PutU64(p + 16, h.below);
  PutI64(p + 24, h.whenMs);
  PutU32(p + 32, h.side);
  PutU32(p + 36, h.whatLength);
  PutU32(p + 40, h.pieces[0]);
  PutU32(p + 44, h.pieces[1]);
  PutU32(p + 48, h.ranges[0]);
  PutU32(p + 52, h.ranges[1]);
  PutU64(p + 56, h.keptBytes);
  PutU64(p + 64, h.bodyLength);
  PutU64(p + 72, h.bodySum);
  PutPrint(p + 80, h.makes);
  PutPrint(p + 112, h.appliesTo);
  SealBlock(p, kHeadSeed, kHeadSummed);
}

bool GetHead(const uint8_t* p, THead& h) {
  if (!BlockIntact(p, kEntryTag, kHeadSeed, kHeadSummed)) return false;
  h.number = GetU64(p + 8);
  h.below = GetU64(p + 16);
  h.whenMs = GetI64(p + 24);
  h.side = GetU32(p + 32);
  h.whatLength = GetU32(p + 36);
  h.pieces[0] = GetU32(p + 40);
  h.pieces[1] = GetU32(p + 44);
  h.ranges[0] = GetU32(p + 48);
  h.ranges[1] = GetU32(p + 52);
  h.keptBytes = GetU64(p + 56);
  h.bodyLength = GetU64(p + 64);
  h.bodySum = GetU64(p + 72);
  h.makes = GetPrint(p + 80);
  h.appliesTo = GetPrint(p + 112);
  const uint64_t listed = uint64_t(h.WhatPadded()) +
                          uint64_t(h.pieces[0] + uint64_t(h.pieces[1])) * kPieceSize +
                          uint64_t(h.ranges[0] + uint64_t(h.ranges[1])) * kRangeSize;
  return h.whatLength <= kMaxWhat && h.side <= 1 && h.bodyLength < (uint64_t(1) << 62) &&
         listed + h.keptBytes == h.bodyLength;
}

// Sums bytes fed in pieces of any length, as TSum wants them: in multiples of 32.
class TStreamSum {
 public:
  explicit TStreamSum(uint64_t seed) : sum_(seed) {}
  void Add(const uint8_t* p, int64_t n) {
    if (held_ > 0) {
      const int64_t m = std::min<int64_t>(n, 32 - held_);
      std::memcpy(hold_ + held_, p, size_t(m));
      held_ += int(m);
      p += m;
      n -= m;
      if (held_ < 32) return;
      sum_.Add(hold_, 32);
      held_ = 0;
    }
    const int64_t whole = n / 32 * 32;
    sum_.Add(p, whole);
    std::memcpy(hold_, p + whole, size_t(n - whole));
    held_ = int(n - whole);
  }
  uint64_t Value() {
    if (held_ > 0) sum_.Add(hold_, held_);
    held_ = 0;
    return sum_.Value();
  }

 private:
  TSum sum_;
  uint8_t hold_[32];
  int held_ = 0;
};

// Whether the body of the entry whose head is `head` (read at head.at) is all there, as
// its checksum says; false when it runs past the file's end.
bool BodyIntact(TFile& file, const THead& head) {
  TStreamSum sum(kBodySeed);
  TByteBuffer buffer;
  uint8_t* chunk = buffer.Reserve(std::min<int64_t>(kChunk, int64_t(head.bodyLength) + 1));
  for (int64_t done = 0; done < int64_t(head.bodyLength);) {
    const int64_t n = std::min(kChunk, int64_t(head.bodyLength) - done);
    if (file.ReadAt(head.at + kHeadSize + done, chunk, n) != n) return false;
    sum.Add(chunk, n);
    done += n;
  }
  return sum.Value() == head.bodySum;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

EJovError Refused(const QString& text) {
  return EJovError(text);
}

QString ChangedElsewhere(const QString& dataPath) {
  return QStringLiteral(
             "\"%1\" was changed by a program that keeps no history since its last change "
             "here: its history no longer fits it.  Clear the history to start a new one.")
      .arg(dataPath);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The history file

class THistoryFile {
 public:
  explicit THistoryFile(TLibraryPaths paths) : paths_(std::move(paths)) {}

  // Opens the file when it is there (or, with create, makes it) and reads the current
  // slot; false when there is none.  Reopens after another program replaced it.
  bool Load(bool create);
  bool Exists() const { return file_ != nullptr; }
  TSlot& Slot() { return slot_; }
  TFile& File() { return *file_; }
  const TLibraryPaths& Paths() const { return paths_; }

  // The entries of one side from top, newest first, down to the first kept one.
  std::vector<THead> Side(uint64_t top) { return Side(top, slot_.firstKept); }
  std::vector<THead> Side(uint64_t top, uint64_t firstKept);
  // A pending slot whose switch did not happen: the one before it counts again.
  bool HasEarlier() const { return earlierValid_; }
  void UseEarlier() { slot_ = Earlier(); }
  TSlot Earlier() const {
    TSlot s = earlier_;
    s.number = slot_.number;  // written as the next one
    return s;
  }
  THead HeadAt(int64_t at);
  // Whether the entry the slot names last (if any) is wholly in the file.
  bool LastEntryIntact(const TSlot& slot);
  // The ranges the entry at `at` lists (the state it leaves was written there).
  std::vector<TRange> RangesOf(const THead& head, int file);

  // Makes room up to end, in steps of zeros.
  void Grow(int64_t end);
  // After a commit: makes the next step of room when the room left behind end is less
  // than half a step, without flushing it.  Never throws.
  void GrowAhead(int64_t end);
  // Writes slot as the next one and, with flush, flushes: the commit point of a change.
  // Staged, it is marked as written before its change's files were on the disk.
  void WriteSlot(TSlot slot, bool flush, bool staged = false);
  // Rewrites the file with only the entries still kept, when what it holds besides them
  // has grown large; under the writer's lock, before an entry is added.
  void CompactIfWasteful(int64_t adding);
  // Removes every entry (the state stays as the slot says).
  void Empty();

 private:
  int64_t GrowthStep() const;
  void WriteZeros(int64_t target);  // from the end of the file up to target

  TLibraryPaths paths_;
  std::unique_ptr<TFile> file_;
  TSlot slot_;
  TSlot earlier_;
  bool earlierValid_ = false;
  int64_t fileSize_ = 0;
  TFileStamp identity_;  // the open file's device and inode
  // The slots as this object last read and checked them, or wrote them: unchanged, their
  // last entry needs no second check.
  uint8_t checked_[2 * kSlotSize] = {};
  bool checkedValid_ = false;
};

namespace {

// The device and inode of an open file, by name where the file cannot tell.
TFileStamp IdentityOf(TFile& file, const QString& path) {
  const TFileStamp s = file.Stamp();
  return s.Exists() ? s : StampAt(path);
}

}  // namespace

bool THistoryFile::Load(bool create) {
  const QString path = paths_.History();
  // One stat by name tells whether there is a history, whether the open file is still
  // it, and its size.
  const TFileStamp there = FileStampAt(path);
  if (file_ &&
      (!there.Exists() || there.device != identity_.device || there.inode != identity_.inode))
    file_.reset();
  if (!file_) {
    checkedValid_ = false;
    if (!there.Exists()) {
      if (!create) return false;
      file_ = TFile::Open(path, TFile::Mode::Create);
      slot_ = TSlot{};
      // The slot is written by the caller; the file's name must be durable before it
      // can hold a commit point.
      uint8_t zeros[kFirstEntry] = {};
      file_->WriteAt(0, zeros, kFirstEntry);
      file_->Flush();
      SyncFolder(paths_.Folder());
      fileSize_ = kFirstEntry;
      identity_ = IdentityOf(*file_, path);
      return true;
    }
    file_ = TFile::Open(path, TFile::Mode::ReadWrite);
    identity_ = IdentityOf(*file_, path);
    fileSize_ = file_->Size();
  } else {
    fileSize_ = there.size;
  }
  uint8_t bytes[2 * kSlotSize] = {};
  file_->ReadAt(0, bytes, 2 * kSlotSize);
  const bool checked = checkedValid_ && std::memcmp(bytes, checked_, sizeof bytes) == 0;
  checkedValid_ = false;
  TSlot a, b;
  const bool okA = GetSlot(bytes, a), okB = GetSlot(bytes + kSlotSize, b);
  if (!okA && !okB) {
    slot_ = TSlot{};  // nothing readable: an empty history, refused by its state
    return true;
  }
  const bool aNewer = okA && (!okB || a.number > b.number);
  slot_ = aNewer ? a : b;
  earlierValid_ = aNewer ? okB : okA;
  earlier_ = aNewer ? b : a;
  // A slot and the entry it adds are flushed together: after a power cut the slot may be
  // there without its entry.  Such a slot never took effect; the one before it stands.
  // The next slot is written over the broken one, keeping this one until it is durable.
  if (!checked && !LastEntryIntact(slot_)) {
    slot_ = earlierValid_ ? earlier_ : TSlot{};
    earlierValid_ = false;
    return true;
  }
  std::memcpy(checked_, bytes, sizeof bytes);
  checkedValid_ = true;
  return true;
}

bool THistoryFile::LastEntryIntact(const TSlot& slot) {
  if (slot.lastEntry == 0) return true;
  const int64_t at = int64_t(slot.lastEntry);
  THead h;
  uint8_t bytes[kHeadSize];
  if (at < kFirstEntry || at + kHeadSize > fileSize_ ||
      file_->ReadAt(at, bytes, kHeadSize) != kHeadSize || !GetHead(bytes, h) ||
      at + h.Bytes() > fileSize_)
    return false;
  h.at = at;
  return BodyIntact(*file_, h);
}

THead THistoryFile::HeadAt(int64_t at) {
  THead h;
  uint8_t bytes[kHeadSize];
  if (at < kFirstEntry || at + kHeadSize > fileSize_ ||
      file_->ReadAt(at, bytes, kHeadSize) != kHeadSize || !GetHead(bytes, h) ||
      at + h.Bytes() > fileSize_)
    throw EJovError(
        QStringLiteral("The history \"%1\" is damaged; clear it to go on.").arg(paths_.History()));
  h.at = at;
  return h;
}

std::vector<THead> THistoryFile::Side(uint64_t top, uint64_t firstKept) {
  std::vector<THead> out;
  for (uint64_t at = top; at != 0;) {
    const THead h = HeadAt(int64_t(at));
    if (h.number < firstKept) break;
    // Entries below stand before their upper ones, with lower numbers.
    if (!out.empty() && (h.number >= out.back().number || h.at >= out.back().at)) break;
    out.push_back(h);
    at = h.below;
  }
  return out;
}

std::vector<TRange> THistoryFile::RangesOf(const THead& h, int file) {
  std::vector<TRange> out(h.ranges[file]);
  if (out.empty()) return out;
  std::vector<uint8_t> bytes(out.size() * kRangeSize);
  file_->ReadExactAt(h.RangesAt() + (file == 1 ? int64_t(h.ranges[0]) * kRangeSize : 0),
                     bytes.data(), int64_t(bytes.size()));
  for (size_t k = 0; k < out.size(); ++k)
    out[k] = {GetI64(&bytes[k * kRangeSize]), GetI64(&bytes[k * kRangeSize + 8])};
  return out;
}

int64_t THistoryFile::GrowthStep() const {
  // A small history grows by a quarter of itself (64 KiB at least), so that a library
  // edited once keeps a small file beside it; a large one by 1 MiB or an eighth.
  return fileSize_ < 4 * kGrowth ? std::max<int64_t>(64 << 10, fileSize_ / 4)
                                 : std::max(kGrowth, fileSize_ / 8);
}

void THistoryFile::WriteZeros(int64_t target) {
  static const std::vector<uint8_t> zeros(size_t(kGrowth), 0);
  for (int64_t at = fileSize_; at < target;) {
    const int64_t n = std::min<int64_t>(kGrowth, target - at);
    file_->WriteAt(at, zeros.data(), n);
    at += n;
  }
}

void THistoryFile::Grow(int64_t end) {
  if (end <= fileSize_) return;
  const int64_t target = std::max(end, fileSize_ + GrowthStep());
  WriteZeros(target);
  fileSize_ = target;
}

void THistoryFile::GrowAhead(int64_t end) {
  const int64_t step = GrowthStep();
  if (fileSize_ - end >= step / 2) return;
  // Written after the commit point and sent on their way at once, the zeros reach the
  // disk between changes, not inside the next one's flush.
  try {
    const int64_t from = fileSize_;
    WriteZeros(fileSize_ + step);
    fileSize_ += step;
    file_->StartWriteback(from, step);
  } catch (const EJovError&) {
    // The next change grows the file, as it would have.
  }
}

void THistoryFile::WriteSlot(TSlot slot, bool flush, bool staged) {
  slot.number = slot_.number + 1;
  slot.flags = staged ? slot.flags | kStaged : slot.flags & ~kStaged;
  uint8_t bytes[kSlotSize];
  PutSlot(bytes, slot);
  const int64_t at = int64_t(slot.number % 2) * kSlotSize;
  checkedValid_ = false;  // until the write is known whole
  file_->WriteAt(at, bytes, kSlotSize);
  if (flush) file_->Flush();
  slot_ = slot;
  std::memcpy(checked_ + at, bytes, kSlotSize);
  checkedValid_ = true;
}

void THistoryFile::Empty() {
  TSlot slot = slot_;
  slot.end = kFirstEntry;
  slot.doneTop = slot.undoneTop = slot.keptBytes = slot.lastEntry = 0;
  slot.firstKept = slot.next;
  slot.refusedUpTo = slot.next - 1;
  WriteSlot(slot, true);
}

void THistoryFile::CompactIfWasteful(int64_t adding) {
  const int64_t used = int64_t(slot_.end) - kFirstEntry;
  if (used <= 2 * (int64_t(slot_.keptBytes) + adding) + (16 << 20)) return;
  // The entries kept are copied, oldest first, into a new file beside, which takes the
  // history's place once flushed: a crash meanwhile leaves the old one.
  std::vector<THead> entries = Side(slot_.doneTop);
  const std::vector<THead> undone = Side(slot_.undoneTop);
  entries.insert(entries.end(), undone.begin(), undone.end());
  std::sort(entries.begin(), entries.end(),
            [](const THead& a, const THead& b) { return a.at < b.at; });
  const QString draft = paths_.HistoryDraft();
  std::unique_ptr<TFile> out = TFile::Open(draft, TFile::Mode::Create);
  std::unordered_map<int64_t, int64_t> moved{{0, 0}};
  int64_t at = kFirstEntry;
  TByteBuffer buffer;
  uint8_t* chunk = buffer.Reserve(kChunk);
  TSlot slot = slot_;
  slot.keptBytes = 0;
  for (THead h : entries) {
    moved[h.at] = at;
    h.below = moved.count(int64_t(h.below)) ? uint64_t(moved[int64_t(h.below)]) : 0;
    uint8_t head[kHeadSize];
    PutHead(head, h);
    out->WriteAt(at, head, kHeadSize);
    out->CopyFrom(*file_, h.at + kHeadSize, at + kHeadSize, int64_t(h.bodyLength), chunk, kChunk);
    at += h.Bytes();
    slot.keptBytes += uint64_t(h.Bytes());
  }
  auto place = [&](uint64_t old) {
    return old && moved.count(int64_t(old)) ? moved[int64_t(old)] : 0;
  };
  slot.doneTop = uint64_t(place(slot_.doneTop));
  slot.undoneTop = uint64_t(place(slot_.undoneTop));
  slot.lastEntry = uint64_t(place(slot_.lastEntry));
  slot.end = uint64_t(at);
  slot.number = slot_.number + 1;
  uint8_t bytes[2 * kSlotSize];
  PutSlot(bytes, slot);
  std::memset(bytes + kSlotSize, 0, kSlotSize);
  if (slot.number % 2 == 1) std::swap_ranges(bytes, bytes + kSlotSize, bytes + kSlotSize);
  out->WriteAt(0, bytes, 2 * kSlotSize);
  out->Flush();
  out.reset();
  RenameFile(draft, paths_.History());
  SyncFolder(paths_.Folder());
  file_.reset();
  Load(false);
}

// ---------------------------------------------------------------------------------------
// States

QString ImagesText(int first, int last) {
  return first == last ? QStringLiteral("image %1").arg(first)
                       : QStringLiteral("images %1 to %2").arg(first).arg(last);
}

THistoryState::Stamp StampOf(const QString& path, int64_t* size) {
  struct stat st {};
  if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  if (size != nullptr) *size = int64_t(st.st_size);
  return {uint64_t(st.st_dev), uint64_t(st.st_ino),
          int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

THistoryRecorder::THistoryRecorder(const int64_t oldSize[2], const THistoryState::Stamp stamps[2])
    : maps_{TChangeMap(oldSize[0]), TChangeMap(oldSize[1])}, stamps_{stamps[0], stamps[1]} {}

namespace {

// Reads bytes of one side of a change: the files as it found them or as it left them.
using TReader = std::function<void(TLibFile, int64_t, uint8_t*, int64_t)>;

// At most kMaxRanges ranges, joining the closest neighbours, and at most kMaxRangeBytes;
// whole tells whether they still cover every byte of the ranges given.
std::vector<TRange> Capped(std::vector<TRange> ranges, bool& whole) {
  while (ranges.size() > size_t(kMaxRanges)) {
    size_t best = 0;
    for (size_t k = 1; k + 1 < ranges.size(); ++k)
      if (ranges[k + 1].first - ranges[k].second < ranges[best + 1].first - ranges[best].second)
        best = k;
    ranges[best].second = ranges[best + 1].second;
    ranges.erase(ranges.begin() + long(best) + 1);
  }
  int64_t total = 0;
  for (size_t k = 0; k < ranges.size(); ++k) {
    if (total + ranges[k].second - ranges[k].first > kMaxRangeBytes) {
      whole = false;
      ranges[k].second = ranges[k].first + (kMaxRangeBytes - total);
      ranges.resize(k + 1);
      break;
    }
    total += ranges[k].second - ranges[k].first;
  }
  return ranges;
}

// Checksums of one side already known, which StateOf then takes instead of reading.
struct TKnownSums {
  std::optional<uint64_t> index, head;
};

// The checksums of one side's files; sizes and ranges as that side has them.
THistoryState StateOf(const TReader& read, const int64_t size[2],
                      const std::vector<TRange> (&written)[2], const TKnownSums& known = {}) {
  THistoryState s;
  s.size[0] = size[0];
  s.size[1] = size[1];
  TByteBuffer buffer;
  uint8_t* chunk = nullptr;
  // The index (when it is one chunk) and the head are read once: the ranges written into
  // them are summed from these.
  std::vector<uint8_t> held[2];
  auto sum = [&](TLibFile f, int64_t from, int64_t to, TStreamSum& into) {
    if (from >= to) return;
    const std::vector<uint8_t>& bytes = held[int(f)];
    if (from >= 0 && to <= int64_t(bytes.size())) {
      into.Add(bytes.data() + from, to - from);
      return;
    }
    if (chunk == nullptr) chunk = buffer.Reserve(kChunk);
    for (int64_t at = from; at < to;) {
      const int64_t n = std::min(kChunk, to - at);
      read(f, at, chunk, n);
      into.Add(chunk, n);
      at += n;
    }
  };
  auto hold = [&](TLibFile f, int64_t n) {
    held[int(f)].resize(size_t(n));
    read(f, 0, held[int(f)].data(), n);
  };
  TStreamSum index(kStateSeed), head(kStateSeed), ranges(kStateSeed);
  if (!known.index) {
    if (size[1] <= kChunk) hold(TLibFile::Index, size[1]);
    sum(TLibFile::Index, 0, size[1], index);
  }
  if (!known.head) {
    hold(TLibFile::Data, std::min(size[0], kHeadBytes));
    sum(TLibFile::Data, 0, std::min(size[0], kHeadBytes), head);
  }
  for (int f = 0; f < 2; ++f) {
    for (const auto& [begin, end] : written[f]) {
      uint8_t where[16];
      PutI64(where, begin);
      PutI64(where + 8, end);
      ranges.Add(where, 16);
      sum(TLibFile(f), begin, std::min(end, size[f]), ranges);
    }
  }
  s.indexSum = known.index.value_or(index.Value());
  s.headSum = known.head.value_or(head.Value());
  s.writtenSum = ranges.Value();
  return s;
}

// ---------------------------------------------------------------------------------------
// An entry in the making: the old files told from the new ones.

class TDraft {
 public:
  TDraft(TJovTransaction& t, const THistoryRecorder& r);
  int64_t Bytes() const { return kHeadSize + BodyLength(); }
  // Writes the entry at `at` of out (head last), reading the kept bytes from the old files.
  void WriteTo(TFile& out, int64_t at, THead& head, TOperationDelegate* delegate);
  const std::vector<TRange>& Written(int f) const { return written_[f]; }
  // Whether the checksums of the state after the change see every byte it changed: it
  // only wrote new bytes, no more than the ranges hold, and moved none.
  bool SumsSeeEveryChange() const { return sumsSeeAll_; }

 private:
  std::vector<uint8_t> Listed() const;
  struct TKept {
    int file;
    int64_t from, length;        // old bytes of the file
    std::vector<uint8_t> bytes;  // or these
  };
  void AddPieces(int f);
  void AddWords(int64_t from, int64_t length);
  void Keep(int f, int64_t from, int64_t length);
  void KeepBytes(const uint8_t* p, int64_t n);
  int64_t BodyLength() const;

  TJovTransaction& t_;
  const THistoryRecorder& r_;
  QByteArray what_;
  std::vector<TPiece> pieces_[2];
  std::vector<TRange> written_[2];
  std::vector<TKept> kept_;
  int64_t keptBytes_ = 0;
  // The new index as words, and where each value first stands, made when first needed.
  std::vector<uint32_t> newWords_;
  std::unordered_map<uint32_t, int64_t> firstPlace_;
  bool wordsRead_ = false;
  bool sumsSeeAll_ = true;
};

TDraft::TDraft(TJovTransaction& t, const THistoryRecorder& r)
    : t_(t), r_(r), what_(r.what.toUtf8().left(kMaxWhat)) {
  for (int f = 0; f < 2; ++f) {
    AddPieces(f);
    const TChangeMap& map = r.Map(TLibFile(f));
    written_[f] = Capped(map.NewRanges(), sumsSeeAll_);
    for (const TChangeMap::Stretch& s : map.Stretches())
      if (s.from >= 0 && s.from != s.at) sumsSeeAll_ = false;
  }
}

void TDraft::Keep(int f, int64_t from, int64_t length) {
  if (length <= 0) return;
  if (!pieces_[f].empty() && pieces_[f].back().kind == TPieceKind::Kept &&
      pieces_[f].back().from + pieces_[f].back().length == keptBytes_) {
    pieces_[f].back().length += length;
  } else {
    pieces_[f].push_back({TPieceKind::Kept, length, keptBytes_, 0});
  }
  kept_.push_back({f, from, length, {}});
  keptBytes_ += length;
}

void TDraft::KeepBytes(const uint8_t* p, int64_t n) {
  if (n <= 0) return;
  std::vector<TPiece>& pieces = pieces_[1];
  if (!pieces.empty() && pieces.back().kind == TPieceKind::Kept &&
      pieces.back().from + pieces.back().length == keptBytes_)
    pieces.back().length += n;
  else
    pieces.push_back({TPieceKind::Kept, n, keptBytes_, 0});
  kept_.push_back({1, 0, n, std::vector<uint8_t>(p, p + n)});
  keptBytes_ += n;
}

void TDraft::AddPieces(int f) {
  int64_t old = 0;
  for (const TChangeMap::OldPiece& p : r_.Map(TLibFile(f)).OldFromNew()) {
    if (p.from >= 0)
      pieces_[f].push_back({TPieceKind::Current, p.length, p.from, 0});
    else if (f == 1 && p.length >= 4 * kMinWords)
      AddWords(old, p.length);
    else
      Keep(f, old, p.length);
    old += p.length;
  }
}

// Old index entries that the change rewrote: most are new entries shifted alike (an insert
// moves every record behind it), kept as runs of new entries plus the shift.
void TDraft::AddWords(int64_t from, int64_t length) {
  const int64_t first = (from + 3) / 4, last = (from + length) / 4;  // whole words
  Keep(1, from, first * 4 - from);
  if (!wordsRead_) {
    const int64_t size = t_.NewSize(TLibFile::Index);
    newWords_.resize(size_t(size / 4));
    std::vector<uint8_t> bytes(size_t(size / 4 * 4));
    t_.ReadNew(TLibFile::Index, 0, bytes.data(), int64_t(bytes.size()));
    for (size_t k = 0; k < newWords_.size(); ++k) newWords_[k] = GetU32(&bytes[4 * k]);
    for (size_t k = newWords_.size(); k-- > 0;) firstPlace_[newWords_[k]] = int64_t(k);
    wordsRead_ = true;
  }
  const int64_t n = last - first;
  std::vector<uint8_t> bytes(size_t(std::max<int64_t>(0, n) * 4));
  if (n > 0) t_.ReadOld(TLibFile::Index, first * 4, bytes.data(), n * 4);
  auto oldWord = [&](int64_t i) { return GetU32(&bytes[size_t(4 * i)]); };
  const int64_t newCount = int64_t(newWords_.size());
  const int64_t shift = newCount - t_.OldSize(TLibFile::Index) / 4;
  const TChangeMap& data = r_.Map(TLibFile::Data);
  auto runLength = [&](int64_t i, int64_t j, uint32_t add) {
    int64_t k = 0;
    while (i + k < n && j + k < newCount && oldWord(i + k) == newWords_[size_t(j + k)] + add) ++k;
    return k;
  };
  int64_t literalFrom = 0, lastEnd = -1;
  for (int64_t i = 0; i < n;) {
    // Where the old entry's record now stands, and candidates for the new entry that
    // names it: the same place, the place shifted by the entries added or removed, the
    // place after the last run, and the first entry naming that record.
    int64_t candidates[4] = {first + i, first + i + shift, lastEnd, -1};
    if (const std::optional<int64_t> moved = data.NewPlaceOf(oldWord(i))) {
      auto it = firstPlace_.find(uint32_t(*moved));
      if (it != firstPlace_.end()) candidates[3] = it->second;
    }
    int64_t best = 0, bestJ = 0;
    for (const int64_t j : candidates) {
      if (j < 0 || j >= newCount) continue;
      const int64_t length = runLength(i, j, oldWord(i) - newWords_[size_t(j)]);
      if (length > best) best = length, bestJ = j;
      if (best >= kMinRun) break;
    }
    if (best < kMinRun) {
      ++i;
      continue;
    }
    KeepBytes(bytes.data() + 4 * literalFrom, 4 * (i - literalFrom));
    pieces_[1].push_back({TPieceKind::Words, 4 * best, 4 * bestJ,
                          int64_t(uint32_t(oldWord(i) - newWords_[size_t(bestJ)]))});
    i += best;
    literalFrom = i;
    lastEnd = bestJ + best;
  }
  KeepBytes(bytes.data() + 4 * literalFrom, 4 * (n - literalFrom));
  Keep(1, std::max(first, last) * 4, from + length - std::max(first, last) * 4);
}

int64_t TDraft::BodyLength() const {
  int64_t n = (what_.size() + 7) / 8 * 8 + keptBytes_;
  for (int f = 0; f < 2; ++f)
    n += int64_t(pieces_[f].size()) * kPieceSize + int64_t(written_[f].size()) * kRangeSize;
  return n;
}

// The body's first part: what, padded to 8 bytes, the pieces and the ranges written.
std::vector<uint8_t> TDraft::Listed() const {
  std::vector<uint8_t> listed(size_t((what_.size() + 7) / 8 * 8), 0);
  std::memcpy(listed.data(), what_.constData(), size_t(what_.size()));
  for (int f = 0; f < 2; ++f) {
    for (const TPiece& p : pieces_[f]) {
      uint8_t b[kPieceSize] = {};
      PutU32(b, uint32_t(p.kind));
      PutI64(b + 8, p.length);
      PutI64(b + 16, p.from);
      PutI64(b + 24, p.add);
      listed.insert(listed.end(), b, b + kPieceSize);
    }
  }
  for (int f = 0; f < 2; ++f) {
    for (const auto& [begin, end] : written_[f]) {
      uint8_t b[kRangeSize];
      PutI64(b, begin);
      PutI64(b + 8, end);
      listed.insert(listed.end(), b, b + kRangeSize);
    }
  }
  return listed;
}

void TDraft::WriteTo(TFile& out, int64_t at, THead& head, TOperationDelegate* delegate) {
  TStreamSum sum(kBodySeed);
  int64_t to = at + kHeadSize;
  auto put = [&](const uint8_t* p, int64_t n) {
    out.WriteAt(to, p, n);
    sum.Add(p, n);
    to += n;
  };
  const std::vector<uint8_t> listed = Listed();
  // A small entry (most are) goes out in one write with its head; a large one in chunks.
  int64_t keptTotal = 0;
  for (const TKept& k : kept_) keptTotal += k.bytes.empty() ? k.length : int64_t(k.bytes.size());
  const bool whole = keptTotal <= kChunk / 4;
  std::vector<uint8_t> entry;
  if (whole) {
    entry.resize(size_t(kHeadSize));
    entry.reserve(size_t(kHeadSize) + listed.size() + size_t(keptTotal));
    entry.insert(entry.end(), listed.begin(), listed.end());
    for (const TKept& k : kept_) {
      const size_t at = entry.size();
      if (!k.bytes.empty()) {
        entry.insert(entry.end(), k.bytes.begin(), k.bytes.end());
      } else {
        entry.resize(at + size_t(k.length));
        t_.ReadOld(TLibFile(k.file), k.from, entry.data() + at, k.length);
      }
    }
    sum.Add(entry.data() + kHeadSize, int64_t(entry.size()) - kHeadSize);
  } else {
    put(listed.data(), int64_t(listed.size()));
    TByteBuffer buffer;
    uint8_t* chunk = buffer.Reserve(std::min(kChunk, keptTotal));
    for (const TKept& k : kept_) {
      if (!k.bytes.empty()) {
        put(k.bytes.data(), int64_t(k.bytes.size()));
        continue;
      }
      for (int64_t done = 0; done < k.length;) {
        CheckCancel(delegate);
        const int64_t n = std::min(kChunk, k.length - done);
        t_.ReadOld(TLibFile(k.file), k.from + done, chunk, n);
        put(chunk, n);
        done += n;
      }
    }
  }
  head.whatLength = uint32_t(what_.size());
  for (int f = 0; f < 2; ++f) {
    head.pieces[f] = uint32_t(pieces_[f].size());
    head.ranges[f] = uint32_t(written_[f].size());
  }
  head.keptBytes = uint64_t(keptBytes_);
  head.bodyLength = uint64_t(BodyLength());
  head.bodySum = sum.Value();
  if (whole) {
    PutHead(entry.data(), head);
    out.WriteAt(at, entry.data(), int64_t(entry.size()));
    return;
  }
  uint8_t bytes[kHeadSize];
  PutHead(bytes, head);
  out.WriteAt(at, bytes, kHeadSize);
}

// ---------------------------------------------------------------------------------------
// The commit

THistoryFile& HistoryOf(TLibraryFiles& files) {
  if (!files.history) files.history = std::make_shared<THistoryFile>(files.paths);
  return *files.history;
}

// The entries of both sides that a limit keeps once adding bytes more: the oldest go.
uint64_t FirstKeptWithin(THistoryFile& h, int64_t limit, int64_t adding, uint64_t dropDoneFrom,
                         uint64_t dropUndone) {
  std::vector<THead> all = h.Side(dropDoneFrom);
  if (dropUndone) {
    const std::vector<THead> undone = h.Side(dropUndone);
    all.insert(all.end(), undone.begin(), undone.end());
  }
  std::sort(all.begin(), all.end(),
            [](const THead& a, const THead& b) { return a.number < b.number; });
  int64_t total = adding;
  for (const THead& e : all) total += e.Bytes();
  uint64_t firstKept = h.Slot().firstKept;
  for (const THead& e : all) {
    if (total <= limit) break;
    total -= e.Bytes();
    firstKept = e.number + 1;
  }
  return firstKept;
}

class TCommit final : public THistoryCommit {
 public:
  TCommit(TJovTransaction& t, THistoryFile& h, const THistoryRecorder& r, TDraft draft,
          THistoryState before, bool fits, TOperationDelegate* delegate)
      : t_(t),
        h_(h),
        r_(r),
        draft_(std::move(draft)),
        before_(before),
        fits_(fits),
        delegate_(delegate) {}

  void Stage(uint64_t journalId) override;
  void Commit() override;
  void WritePending() override;
  bool Revert() override;
  void Settle() override;

 private:
  THistoryState After();
  void WriteEntry();

  TJovTransaction& t_;
  THistoryFile& h_;
  const THistoryRecorder& r_;
  TDraft draft_;
  THistoryState before_;
  bool fits_;  // the library is in the state the history knows
  TOperationDelegate* delegate_;
  TSlot was_;
  TSlot slot_;  // the slot that adds the entry, once the entry is written
  bool entryWritten_ = false;
  bool written_ = false;
  bool staged_ = false;  // the slot went to the disk beside the files
};

THistoryState TCommit::After() {
  // One look at each file the change wrote gives its stamp and its size (the new files
  // are complete); a file left alone is as the transaction found it.
  THistoryState::Stamp stamps[2];
  int64_t sizes[2] = {-1, -1};
  for (int f = 0; f < 2; ++f) {
    if (t_.Untouched(TLibFile(f))) {
      stamps[f] = r_.StampAtStart(TLibFile(f));
      sizes[f] = t_.OldSize(TLibFile(f));
    } else {
      stamps[f] = StampOf(t_.NewPath(TLibFile(f)), &sizes[f]);
    }
  }
  for (int f = 0; f < 2; ++f)
    if (sizes[f] < 0) sizes[f] = t_.NewSize(TLibFile(f));
  // What the change left where it was keeps its checksum: a small edit of a large library
  // reads neither its index nor its head again.
  TKnownSums known;
  const TChangeMap& index = r_.Map(TLibFile::Index);
  if (index.Unchanged() && sizes[1] == before_.size[1]) known.index = before_.indexSum;
  const int64_t head = std::min(sizes[0], kHeadBytes);
  if (head == std::min(before_.size[0], kHeadBytes) && r_.Map(TLibFile::Data).Keeps(0, head))
    known.head = before_.headSum;
  THistoryState s =
      StateOf([&](TLibFile f, int64_t at, uint8_t* out, int64_t n) { t_.ReadNew(f, at, out, n); },
              sizes, {draft_.Written(0), draft_.Written(1)}, known);
  for (int f = 0; f < 2; ++f) s.stamp[f] = stamps[f];
  return s;
}

void TCommit::WriteEntry() {
  if (entryWritten_) return;
  const THistoryState after = After();
  if (r_.role != THistoryRole::Change) {
    const THead applied = h_.HeadAt(r_.applying);
    // What the undo made must be what the entry was taken from.
    if (PrintOf(after) != applied.makes)
      throw EJovError(QStringLiteral("The history entry \"%1\" did not give back the library it "
                                     "was taken from; the library is left as it was.")
                          .arg(r_.what));
  }
  const int64_t adding = draft_.Bytes();
  h_.CompactIfWasteful(adding);
  was_ = h_.Slot();
  TSlot slot = h_.Slot();
  const bool undo = r_.role == THistoryRole::Undo;
  const THead applied = r_.role == THistoryRole::Change ? THead{} : h_.HeadAt(r_.applying);
  // The sides after this change, before its entry goes on.
  uint64_t doneTop = slot.doneTop, undoneTop = slot.undoneTop;
  if (r_.role == THistoryRole::Change) undoneTop = 0;
  if (undo) doneTop = applied.below;
  if (r_.role == THistoryRole::Redo) undoneTop = applied.below;
  if (!fits_) slot.refusedUpTo = slot.next - 1;
  // What stays kept, known without reading the entries while the limit holds: the
  // applied entry leaves its side, and a change drops what was undone.
  int64_t kept = int64_t(slot.keptBytes) - (r_.role == THistoryRole::Change ? 0 : applied.Bytes());
  if (r_.role == THistoryRole::Change)
    for (const THead& e : h_.Side(slot.undoneTop)) kept -= e.Bytes();
  const bool withinLimit = kept + adding <= t_.HistoryLimit();
  if (!withinLimit)
    slot.firstKept = FirstKeptWithin(h_, t_.HistoryLimit(), adding, doneTop, undoneTop);
  THead head;
  head.number = slot.next;
  head.at = int64_t(slot.end);
  head.whenMs = NowMs();
  head.side = undo ? 1 : 0;
  head.below = undo ? undoneTop : doneTop;
  head.makes = PrintOf(before_);
  head.appliesTo = PrintOf(after);
  h_.Grow(head.at + adding);
  draft_.WriteTo(h_.File(), head.at, head, delegate_);
  (undo ? undoneTop : doneTop) = uint64_t(head.at);
  slot.doneTop = doneTop;
  slot.undoneTop = undoneTop;
  slot.next = head.number + 1;
  slot.end = uint64_t(head.at + adding);
  slot.lastEntry = uint64_t(head.at);
  slot.state = after;
  // What the kept entries weigh, now that the oldest may have gone.
  if (withinLimit) {
    slot.keptBytes = uint64_t(kept + adding);
  } else {
    slot.keptBytes = 0;
    for (const uint64_t top : {slot.doneTop, slot.undoneTop})
      for (const THead& e : h_.Side(top, slot.firstKept)) slot.keptBytes += uint64_t(e.Bytes());
  }
  slot_ = slot;
  entryWritten_ = true;
}

void TCommit::Stage(uint64_t journalId) {
  WriteEntry();
  slot_.flags = 0;
  slot_.journal = journalId;
  // Only a change whose every byte the state's checksums see can be told from the files
  // after a power cut; any other writes its slot once its files are on the disk.
  staged_ = draft_.SumsSeeEveryChange();
  if (staged_) {
    written_ = true;
    h_.WriteSlot(slot_, false, true);
  }
  // One call sends the entry, the slot's page, and whatever else of the file waits.
  h_.File().StartWriteback(0, int64_t(slot_.end));
}

void TCommit::Commit() {
  if (staged_) {
    h_.File().Flush();
  } else {
    written_ = true;
    h_.WriteSlot(slot_, true);
  }
  h_.GrowAhead(int64_t(slot_.end));
}

void TCommit::WritePending() {
  WriteEntry();
  TSlot slot = slot_;
  slot.flags = kPending;
  written_ = true;
  h_.WriteSlot(slot, true);
  // Its room is made once the switch is made.
}

bool TCommit::Revert() {
  if (!written_) return true;
  try {
    TSlot slot = was_;
    h_.WriteSlot(slot, true);
    return true;
  } catch (const EJovError&) {
    return false;
  }
}

void TCommit::Settle() {
  try {
    TSlot slot = h_.Slot();
    slot.flags &= ~kPending;
    h_.WriteSlot(slot, false);
    h_.GrowAhead(int64_t(slot.end));
  } catch (const EJovError&) {
    // An opening finds the switch made and settles it then.
  }
}

// Whether the library, as read with `read` (its sizes and stamps given), is in the state
// `slot` knows; `state` is then the library's.  Equal stamps are taken for equal content
// unless only the content may tell.
bool SlotFits(THistoryFile& h, const TSlot& slot, const THistoryState::Stamp stamps[2],
              const int64_t sizes[2], const TReader& read, THistoryState& state,
              bool byContent = false) {
  std::vector<TRange> ranges[2];
  if (slot.number == 0) {
    state = StateOf(read, sizes, ranges);
    return false;
  }
  if (!byContent && sizes[0] == slot.state.size[0] && sizes[1] == slot.state.size[1] &&
      stamps[0] == slot.state.stamp[0] && stamps[1] == slot.state.stamp[1]) {
    state = slot.state;
    return true;
  }
  if (slot.lastEntry != 0) {
    const THead last = h.HeadAt(int64_t(slot.lastEntry));
    ranges[0] = h.RangesOf(last, 0);
    ranges[1] = h.RangesOf(last, 1);
  }
  state = StateOf(read, sizes, ranges);
  return state.SameContent(slot.state);
}

// Whether the library, as read with `read` (its sizes and stamps given), is in the state
// the history knows; before is that state.  A pending slot whose switch did not happen
// gives way to the one before it.
bool FitsHistory(THistoryFile& h, const THistoryState::Stamp stamps[2], const int64_t sizes[2],
                 const TReader& read, THistoryState& before) {
  auto check = [&](const TSlot& slot) { return SlotFits(h, slot, stamps, sizes, read, before); };
  if (check(h.Slot())) return true;
  if ((h.Slot().flags & kPending) == 0) return false;
  if (!h.HasEarlier()) {
    // The first entry, made for a switch that did not happen: no history yet.
    h.UseEarlier();
    const std::vector<TRange> none[2];
    before = StateOf(read, sizes, none);
    return false;
  }
  if (check(h.Earlier())) {
    h.UseEarlier();
    return true;
  }
  return false;
}

// The same for the files a transaction found, read before or after it began.
bool TransactionFitsHistory(TJovTransaction& t, THistoryFile& h, THistoryState& before) {
  const int64_t sizes[2] = {t.OldSize(TLibFile::Data), t.OldSize(TLibFile::Index)};
  const THistoryRecorder* r = t.Recorder();
  const THistoryState::Stamp stamps[2] = {r->StampAtStart(TLibFile::Data),
                                          r->StampAtStart(TLibFile::Index)};
  return FitsHistory(
      h, stamps, sizes,
      [&](TLibFile f, int64_t at, uint8_t* out, int64_t n) {
        if (t.Begun())
          t.ReadOld(f, at, out, n);
        else
          t.File(f).ReadExactAt(at, out, n);
      },
      before);
}

}  // namespace

std::unique_ptr<THistoryCommit> PrepareHistoryCommit(TJovTransaction& t, TLibraryFiles& files,
                                                     const THistoryRecorder& recorder,
                                                     TOperationDelegate* delegate) {
  if (files.historyLimit <= 0) return nullptr;
  THistoryFile& h = HistoryOf(files);
  h.Load(true);
  THistoryState before;
  const bool fits = TransactionFitsHistory(t, h, before);
  if (recorder.role != THistoryRole::Change && !fits)
    throw Refused(ChangedElsewhere(files.paths.Data()));
  TDraft draft(t, recorder);
  if (draft.Bytes() > files.historyLimit) {
    if (recorder.role != THistoryRole::Change)
      throw Refused(QStringLiteral("Undoing \"%1\" needs more room in the history than its limit "
                                   "(%2 MiB) allows.")
                        .arg(recorder.what)
                        .arg(files.historyLimit >> 20));
    if (delegate != nullptr &&
        !delegate->ConfirmWithoutUndo(
            QStringLiteral("This change (%1) is larger than the history's limit of %2 MiB: it "
                           "cannot be undone, and the changes before it no longer can either.")
                .arg(recorder.what)
                .arg(files.historyLimit >> 20)))
      throw ECancelled();
    return nullptr;
  }
  return std::make_unique<TCommit>(t, h, recorder, std::move(draft), before, fits, delegate);
}

void ForgetHistory(TLibraryFiles& files) {
  try {
    files.history.reset();
    RemoveFile(files.paths.History());
  } catch (const EJovError&) {
    // Left behind, it no longer fits the library and is refused.
  }
}

namespace {

// The library's files as they stand, read without the lock; each opened when first read.
struct TStandingFiles {
  explicit TStandingFiles(const TLibraryPaths& paths) : paths_(paths) {
    for (int f = 0; f < 2; ++f) stamps[f] = StampOf(paths.File(TLibFile(f)), &sizes[f]);
  }
  TReader Reader() {
    return [this](TLibFile f, int64_t at, uint8_t* out, int64_t n) {
      std::unique_ptr<TFile>& file = files_[int(f)];
      if (!file) file = TFile::Open(paths_.File(f), TFile::Mode::Read);
      file->ReadExactAt(at, out, n);
    };
  }

  THistoryState::Stamp stamps[2];
  int64_t sizes[2] = {0, 0};

 private:
  const TLibraryPaths& paths_;
  std::unique_ptr<TFile> files_[2];
};

}  // namespace

bool HistoryCommittedJournal(const TLibraryPaths& paths, uint64_t journalId,
                             const TRolledBackFiles& rolledBack) {
  try {
    THistoryFile h(paths);
    if (journalId == 0 || !h.Load(false) || h.Slot().journal != journalId) return false;
    // A slot written once the files were on the disk names a change that committed; a
    // switch's is settled from the pair that stands, by the opening.
    if ((h.Slot().flags & kStaged) == 0) return true;
    // A slot sent to the disk beside its change's files: the change committed only when
    // they got there whole.  The stamps cannot tell: a file's time may reach the disk
    // without its bytes.
    TStandingFiles standing(paths);
    const int64_t* sizes = standing.sizes;
    THistoryState state;
    if (SlotFits(h, h.Slot(), standing.stamps, sizes, standing.Reader(), state, true)) return true;
    // Not as the slot says: either the change's bytes did not all get there, and rolling
    // the journal back gives the files it was made on, or another program changed the
    // library after it committed, which the roll back must not undo.
    if (!rolledBack.read || h.Slot().lastEntry == 0) return true;
    for (int f = 0; f < 2; ++f)
      if (sizes[f] != rolledBack.size[f] && sizes[f] != h.Slot().state.size[f]) return true;
    const THead last = h.HeadAt(int64_t(h.Slot().lastEntry));
    const std::vector<TRange> none[2];
    const THistoryState old = StateOf([&](TLibFile f, int64_t at, uint8_t* out,
                                          int64_t n) { rolledBack.read(int(f), at, out, n); },
                                      rolledBack.size, none);
    if (PrintOf(old) != last.makes) return true;
    // It never took effect: the slot before it is made current again, on the disk, before
    // the journal takes the files back, so that a stop in between finds the same.
    h.WriteSlot(h.HasEarlier() ? h.Earlier() : TSlot{}, true);
    return false;
  } catch (const EJovError&) {
    return false;
  }
}

// ---------------------------------------------------------------------------------------
// Listing

namespace {

THistoryEntry EntryOf(THistoryFile& h, const THead& head, bool refused) {
  THistoryEntry e;
  QByteArray what(int(head.whatLength), '\0');
  h.File().ReadExactAt(head.at + kHeadSize, what.data(), head.whatLength);
  e.what = QString::fromUtf8(what);
  e.whenMs = head.whenMs;
  e.bytes = head.Bytes();
  e.undone = head.side == 1;
  e.refused = refused;
  return e;
}

}  // namespace

THistoryListing ListHistory(const TLibraryPaths& paths) {
  THistoryListing out;
  THistoryFile h(paths);
  if (!h.Load(false)) return out;
  out.fileBytes = h.File().Size();
  // Read without the lock, as a change would read it: the stamps, or where they changed
  // (after a power cut) the content.  A change under way may make the answer stale; the
  // undo checks again under the lock.
  TStandingFiles standing(paths);
  THistoryState state;
  try {
    out.changedElsewhere =
        !FitsHistory(h, standing.stamps, standing.sizes, standing.Reader(), state);
  } catch (const EJovError&) {
    out.changedElsewhere = true;
  }
  const TSlot& slot = h.Slot();
  for (const THead& head : h.Side(slot.doneTop))
    out.done.push_back(EntryOf(h, head, out.changedElsewhere || head.number <= slot.refusedUpTo));
  for (const THead& head : h.Side(slot.undoneTop))
    out.undone.push_back(EntryOf(h, head, out.changedElsewhere));
  return out;
}

// ---------------------------------------------------------------------------------------
// Undo and redo

namespace {

THistoryFile& LoadedHistory(TLibraryFiles& files) {
  THistoryFile& h = HistoryOf(files);
  if (!h.Load(false))
    throw Refused(QStringLiteral("\"%1\" has no history of changes.").arg(files.paths.Data()));
  return h;
}

// The pieces of one file that an entry lists.
std::vector<TPiece> PiecesOf(THistoryFile& h, const THead& head, int file) {
  std::vector<TPiece> out(head.pieces[file]);
  if (out.empty()) return out;
  std::vector<uint8_t> bytes(out.size() * kPieceSize);
  h.File().ReadExactAt(head.PiecesAt() + (file == 1 ? int64_t(head.pieces[0]) * kPieceSize : 0),
                       bytes.data(), int64_t(bytes.size()));
  for (size_t k = 0; k < out.size(); ++k) {
    const uint8_t* p = &bytes[k * kPieceSize];
    out[k] = {TPieceKind(GetU32(p)), GetI64(p + 8), GetI64(p + 16), GetI64(p + 24)};
  }
  return out;
}

// Checks the entry's body against its checksum and its pieces against the files they
// read from and make.
void CheckEntry(THistoryFile& h, const THead& head, const std::vector<TPiece> (&pieces)[2],
                const int64_t sizes[2]) {
  const QString damaged =
      QStringLiteral("The history \"%1\" is damaged; clear it to go on.").arg(h.File().Path());
  if (!BodyIntact(h.File(), head)) throw EJovError(damaged);
  for (int f = 0; f < 2; ++f) {
    int64_t made = 0;
    for (const TPiece& p : pieces[f]) {
      const int64_t readEnd = p.kind == TPieceKind::Kept ? int64_t(head.keptBytes) : sizes[f];
      if (p.length <= 0 || p.from < 0 || p.from > readEnd - p.length ||
          (p.kind == TPieceKind::Words &&
           (p.length % 4 != 0 || p.from % 4 != 0 || made % 4 != 0)) ||
          p.kind > TPieceKind::Words)
        throw EJovError(damaged);
      made += p.length;
    }
    if (made != head.makes.size[f]) throw EJovError(damaged);
  }
}

// The data file's last piece, when it is the file's tail moved by whole blocks of the
// file system, is moved by a shift (TJovTransaction::PlanShift), as the insert or delete
// it undoes was: an undo then costs what its change did, not a copy of the tail.  Only
// when nothing before it reads the moved bytes where they stand: the pieces before it
// come from the history, or stay in place ahead of the shift.  The shift's delta, or 0
// when the tail is to be copied.
int64_t PlanTailShift(TJovTransaction& t, const std::vector<TPiece>& pieces, int64_t size) {
  const int64_t unit = t.ShiftUnit();
  if (pieces.empty() || unit <= 0) return 0;
  const TPiece& tail = pieces.back();
  int64_t at = 0;
  for (size_t k = 0; k + 1 < pieces.size(); ++k) at += pieces[k].length;
  const int64_t delta = at - tail.from;
  if (tail.kind != TPieceKind::Current || tail.from + tail.length != size || delta == 0 ||
      delta % unit != 0)
    return 0;
  int64_t end = 0;
  for (size_t k = 0; k + 1 < pieces.size(); ++k) {
    const TPiece& p = pieces[k];
    if (p.kind == TPieceKind::Current &&
        (p.from != end || end + p.length > std::min(at, tail.from)))
      return 0;
    end += p.length;
  }
  const int64_t planned = t.PlanShift(delta < 0 ? at : tail.from, delta);
  if (planned != 0 && planned != delta) throw std::logic_error("a shift of another length");
  return planned;
}

}  // namespace

THistoryStep NextHistoryStep(TJovTransaction& t, TLibraryFiles& files, THistoryRole role) {
  THistoryStep step;
  THistoryFile& h = HistoryOf(files);
  if (!h.Load(false)) return step;
  THistoryState before;
  const bool fits = t.Recorder() != nullptr && TransactionFitsHistory(t, h, before);
  const uint64_t top = role == THistoryRole::Undo ? h.Slot().doneTop : h.Slot().undoneTop;
  const std::vector<THead> side = h.Side(top);
  if (side.empty()) return step;
  step.at = side.front().at;
  step.entry = EntryOf(h, side.front(),
                       !fits || side.front().number <= h.Slot().refusedUpTo ||
                           side.front().appliesTo != PrintOf(before));
  return step;
}

void ApplyHistoryStep(TJovTransaction& t, TLibraryFiles& files, const THistoryStep& step,
                      THistoryRole role) {
  THistoryRecorder* recorder = t.Recorder();
  if (recorder == nullptr)
    throw Refused(QStringLiteral("The history of changes is turned off (its limit is 0)."));
  THistoryFile& h = LoadedHistory(files);
  THistoryState before;
  if (!TransactionFitsHistory(t, h, before)) throw Refused(ChangedElsewhere(files.paths.Data()));
  const THead head = h.HeadAt(step.at);
  if (head.number <= h.Slot().refusedUpTo)
    throw Refused(QStringLiteral("\"%1\" was made before a change by a program that keeps no "
                                 "history; it can no longer be undone.  Clear the history to "
                                 "start a new one.")
                      .arg(step.entry.what));
  if (head.appliesTo != PrintOf(before))
    throw Refused(
        QStringLiteral("The library is not in the state \"%1\" left it.").arg(step.entry.what));
  const int64_t sizes[2] = {t.OldSize(TLibFile::Data), t.OldSize(TLibFile::Index)};
  std::vector<TPiece> pieces[2] = {PiecesOf(h, head, 0), PiecesOf(h, head, 1)};
  CheckEntry(h, head, pieces, sizes);
  recorder->role = role;
  recorder->applying = step.at;
  recorder->what = step.entry.what;

  // A shifted tail is neither journalled nor cut: the journal holds the shift.
  const int64_t shift = PlanTailShift(t, pieces[0], sizes[0]);
  // Bytes written into the room an opening shift makes overwrite nothing old.
  const size_t copied[2] = {pieces[0].size() - (shift != 0 ? 1 : 0), pieces[1].size()};
  const int64_t roomAt = shift > 0 ? pieces[0].back().from : sizes[0];
  int64_t total = 0;
  for (int f = 0; f < 2; ++f) {
    int64_t at = 0;
    for (size_t k = 0; k < copied[f]; ++k) {
      const TPiece& p = pieces[f][k];
      if (p.kind != TPieceKind::Current || p.from != at) {
        t.Protect(TLibFile(f), at, f == 0 ? std::min(at + p.length, roomAt) - at : p.length);
        total += p.length;
      }
      at += p.length;
    }
    if (at < sizes[f] && !(f == 0 && shift != 0)) t.Protect(TLibFile(f), at, sizes[f] - at);
  }
  t.Begin();
  if (shift != 0) t.Shift();
  TOperationDelegate* delegate = t.Delegate();
  TByteBuffer buffer;
  uint8_t* chunk = buffer.Reserve(kChunk);
  int64_t done = 0;
  const int64_t keptAt = head.KeptAt();
  for (int f = 0; f < 2; ++f) {
    const TLibFile file = TLibFile(f);
    int64_t at = 0;
    for (size_t k = 0; k < copied[f]; ++k) {
      const TPiece& p = pieces[f][k];
      if (p.kind == TPieceKind::Current && p.from == at) {
        at += p.length;
        continue;
      }
      for (int64_t d = 0; d < p.length;) {
        const int64_t n = std::min(kChunk, p.length - d);
        if (p.kind == TPieceKind::Current) {
          t.Move(file, p.from + d, at + d, n);
        } else if (p.kind == TPieceKind::Kept) {
          h.File().ReadExactAt(keptAt + p.from + d, chunk, n);
          t.Write(file, at + d, chunk, n);
        } else {
          t.ReadOld(file, p.from + d, chunk, n);
          for (int64_t k = 0; k < n; k += 4) PutU32(chunk + k, GetU32(chunk + k) + uint32_t(p.add));
          t.Write(file, at + d, chunk, n);
        }
        d += n;
        done += n;
        StepInBytes(delegate, done, total);
      }
      at += p.length;
    }
    if (at < sizes[f] && !(f == 0 && shift != 0)) t.Truncate(file, at);
  }
}

void ClearHistory(TJovTransaction& t, TLibraryFiles& files) {
  THistoryFile& h = HistoryOf(files);
  if (!h.Load(false)) return;
  // The history starts again from the library as it is now.
  const int64_t sizes[2] = {t.OldSize(TLibFile::Data), t.OldSize(TLibFile::Index)};
  std::vector<TRange> none[2];
  THistoryState now = StateOf(
      [&](TLibFile f, int64_t at, uint8_t* out, int64_t n) { t.File(f).ReadExactAt(at, out, n); },
      sizes, none);
  now.stamp[0] = StampOf(files.paths.Data());
  now.stamp[1] = StampOf(files.paths.Index());
  h.Slot().state = now;
  h.Slot().flags = 0;
  h.Empty();
}
