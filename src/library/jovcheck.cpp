#include "library/jovcheck.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/byteio.h"
#include "common/fileio.h"
#include "library/jovformat.h"
#include "library/myjov.h"

namespace {

// The bytes of a FileType 2 data file that its reader takes as the header.
constexpr int64_t kHeader16DataSize = 28;

// Where a record lies in the data file: [start, end), end clipped to the file.
struct Span {
  int64_t start;
  int64_t end;
  int index;
};

class Checker {
 public:
  explicit Checker(TJOV& jov)
      : jov_(jov),
        data_(*jov.DataStream()),
        dataSize_(data_.Size()),
        wide_(jov.FileType() == TFileType::RunCoded) {}

  std::vector<TProblem> Run() {
    // The header (and for the 8-bit variants the palette) the records follow.
    const int64_t headed = wide_ ? kHeader16DataSize : jov::kFirstRecord + jov_.OffSet();
    if (dataSize_ < headed)
      Add(-1, QStringLiteral("the data file is %1 bytes, shorter than its header (%2 bytes)")
                  .arg(dataSize_)
                  .arg(headed));
    CheckIndexFile();
    for (int i = 0; i < jov_.ImageCount(); ++i) {
      const std::optional<int32_t> entry = jov_.EntryOf(i);
      if (!entry) {
        Add(i, jov_.ImageCount() - i == 1 ? QStringLiteral("image %1 has no index entry").arg(i)
                                          : QStringLiteral("images %1 to %2 have no index entry")
                                                .arg(i)
                                                .arg(jov_.ImageCount() - 1));
        break;
      }
      CheckRecord(i, *entry);
    }
    CheckOverlaps();
    NoteOrder();
    MeasureGaps(headed);
    return std::move(problems_);
  }

  const TGaps& Gaps() const { return gaps_; }

 private:
  void Add(int index, const QString& text) { problems_.push_back({index, text, false}); }
  void Note(int index, const QString& text) { problems_.push_back({index, text, true}); }
  void AddImage(int index, const QString& text) {
    Add(index, QStringLiteral("image %1: ").arg(index) + text);
  }

  // The index file's header and count against the data file's count and its own size.
  void CheckIndexFile() {
    const QString& path = jov_.IndexFileName();
    if (!FileExists(path)) {
      Add(-1, QStringLiteral("the index file %1 is missing").arg(path));
      return;
    }
    const std::unique_ptr<TFile> index = TFile::Open(path, TFile::Mode::Read);
    const int64_t size = index->Size();
    const int64_t headerSize =
        wide_ ? jov::kIndexHeader16Size : jov::IndexEntryOffset(jov_.OffSet(), 0);
    const int64_t countAt = wide_ ? jov::kIndexHeader16Size - 4 : jov::kCountOffset;
    if (size < countAt + 4) {
      Add(-1, QStringLiteral("the index file is %1 bytes, too short for its count").arg(size));
      return;
    }
    uint8_t count[4];
    index->ReadExactAt(countAt, count, 4);
    const int64_t indexCount = GetI32(count);
    if (!wide_) {
      uint8_t header[jov::kDataHeaderSize] = {};
      data_.ReadAt(0, header, sizeof header);
      const int64_t dataCount = GetI32(header + jov::kCountOffset);
      if (dataCount < 0) Add(-1, QStringLiteral("the image count %1 is negative").arg(dataCount));
      if (dataCount != indexCount)
        Add(-1, QStringLiteral("the image count is %1 in the data file but %2 in the index file")
                    .arg(dataCount)
                    .arg(indexCount));
    }
    if (indexCount < 0) {
      Add(-1, QStringLiteral("the index count %1 is negative").arg(indexCount));
      return;
    }
    const int64_t held = std::max<int64_t>(0, (size - headerSize) / 4);
    if (held < indexCount)
      Add(-1, QStringLiteral("the index file holds %1 entries, fewer than its count %2")
                  .arg(held)
                  .arg(indexCount));
  }

  void CheckRecord(int i, int64_t entry) {
    // A FileType 2 entry of 0 or below is an empty image.
    if (wide_ && entry <= 0) return;
    const int64_t first = wide_ ? kHeader16DataSize : jov::kFirstRecord + jov_.OffSet();
    if (entry < first) {
      AddImage(i, wide_ ? QStringLiteral("entry %1 lies in the data file's %2-byte header")
                              .arg(entry)
                              .arg(first)
                        : QStringLiteral("entry %1 lies before the first record at %2")
                              .arg(entry)
                              .arg(first));
      return;
    }
    if (entry >= dataSize_) {
      AddImage(i, QStringLiteral("entry %1 lies past the end of the data file (%2 bytes)")
                      .arg(entry)
                      .arg(dataSize_));
      return;
    }
    const int64_t headerSize =
        wide_ ? jov::kImageHeader16Size : jov::RecordHeaderSize(jov_.OffSet());
    if (entry + headerSize > dataSize_) {
      AddImage(i, QStringLiteral("the record header at %1 runs past the end of the data file "
                                 "(%2 bytes)")
                      .arg(entry)
                      .arg(dataSize_));
      spans_.push_back({entry, dataSize_, i});
      return;
    }
    uint8_t header[jov::kImageHeader16Size];
    data_.ReadExactAt(entry, header, headerSize);
    const int w = GetI16(header), h = GetI16(header + 2);
    const int limit = wide_ ? jov::kMaxImageSide16 : jov::kMaxImageSide8;
    int64_t size = headerSize;
    if (w <= 0 || h <= 0) {
      AddImage(i, QStringLiteral("the size %1x%2 is not positive").arg(w).arg(h));
    } else if (w > limit || h > limit) {
      AddImage(i,
               QStringLiteral("the size %1x%2 is over the limit of %3").arg(w).arg(h).arg(limit));
    }
    if (wide_) {
      const int64_t words = GetI32(header + jov::kWordCountOffset16);
      if (words < 0)
        AddImage(i, QStringLiteral("the word count %1 is negative").arg(words));
      else
        size += 2 * words;
    } else if (w > 0 && h > 0) {
      size += int64_t(w) * h;
    }
    if (entry + size > dataSize_)
      AddImage(i, QStringLiteral("the record at %1 (%2 bytes) runs past the end of the data file "
                                 "(%3 bytes)")
                      .arg(entry)
                      .arg(size)
                      .arg(dataSize_));
    spans_.push_back({entry, std::min(entry + size, dataSize_), i});
  }

  // Records sorted by where they start; each one that starts before the farthest end so
  // far overlaps the record of that end.
  void CheckOverlaps() {
    std::sort(spans_.begin(), spans_.end(), [](const Span& a, const Span& b) {
      return a.start != b.start ? a.start < b.start : a.index < b.index;
    });
    const Span* reach = nullptr;
    for (const Span& s : spans_) {
      // Entries of one record: the images share it.
      if (reach != nullptr && s.start == reach->start && s.end == reach->end) {
        Note(s.index, QStringLiteral("image %1 shares its record at %2 with image %3")
                          .arg(s.index)
                          .arg(s.start)
                          .arg(reach->index));
        continue;
      }
      if (reach != nullptr && s.start < reach->end)
        AddImage(s.index, QStringLiteral("the record at %1..%2 overlaps image %3 at %4..%5")
                              .arg(s.start)
                              .arg(s.end - 1)
                              .arg(reach->index)
                              .arg(reach->start)
                              .arg(reach->end - 1));
      if (reach == nullptr || s.end > reach->end) reach = &s;
    }
  }

  // The bytes from the header on that no record covers (spans sorted by start).
  void MeasureGaps(int64_t headed) {
    int64_t covered = headed;
    auto gap = [&](int64_t upTo) {
      if (upTo <= covered) return;
      gaps_.total += upTo - covered;
      gaps_.largest = std::max(gaps_.largest, upTo - covered);
    };
    for (const Span& s : spans_) {
      gap(s.start);
      covered = std::max(covered, s.end);
    }
    gap(dataSize_);
  }

  // The first image whose record lies before the previous image's in the file.
  void NoteOrder() {
    for (int i = 1; i < jov_.ImageCount(); ++i) {
      const std::optional<int32_t> a = jov_.EntryOf(i - 1), b = jov_.EntryOf(i);
      if (!a || !b || *b >= *a || (wide_ && *b <= 0)) continue;
      Note(i, QStringLiteral("the index lists records out of file order: image %1 at %2 lies "
                             "before image %3 at %4")
                  .arg(i)
                  .arg(*b)
                  .arg(i - 1)
                  .arg(*a));
      return;
    }
  }

  TJOV& jov_;
  TFile& data_;
  const int64_t dataSize_;
  const bool wide_;
  std::vector<TProblem> problems_;
  std::vector<Span> spans_;
  TGaps gaps_;
};

}  // namespace

std::vector<TProblem> CheckLibrary(TJOV& jov, TGaps* gaps) {
  if (!jov.IsOpen()) return {};
  Checker checker(jov);
  std::vector<TProblem> problems = checker.Run();
  if (gaps) *gaps = checker.Gaps();
  return problems;
}
