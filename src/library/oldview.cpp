#include "library/oldview.h"

#include <algorithm>

int64_t TOldView::ReadAt(TFile& data, int64_t offset, void* buffer, int64_t n) const {
  if (offset < 0 || n <= 0 || offset >= oldSize_) return 0;
  const int64_t end = std::min(offset + n, oldSize_);
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (offset + done < end) {
    const int64_t at = offset + done;
    // The first range that starts behind at; the one before it may hold at.
    const auto next =
        std::upper_bound(ranges_.begin(), ranges_.end(), at,
                         [](int64_t o, const TJournalRange& r) { return o < r.offset; });
    const TJournalRange* inside = nullptr;
    if (next != ranges_.begin() && at < std::prev(next)->offset + std::prev(next)->length)
      inside = &*std::prev(next);
    const int64_t stop = inside != nullptr       ? std::min(end, inside->offset + inside->length)
                         : next == ranges_.end() ? end
                                                 : std::min(end, next->offset);
    const int64_t want = stop - at;
    const int64_t got = inside != nullptr
                            ? journal_->ReadAt(inside->at + (at - inside->offset), out + done, want)
                            : data.ReadAt(at, out + done, want);
    done += got;
    if (got < want) break;
  }
  return done;
}
