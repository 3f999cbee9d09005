#include "library/changemap.h"

#include <algorithm>

TChangeMap::TChangeMap(int64_t oldSize) : oldSize_(oldSize), size_(oldSize) {
  if (oldSize > 0) segments_[0] = {oldSize, 0};
}

bool TChangeMap::Unchanged() const {
  if (size_ != oldSize_) return false;
  if (size_ == 0) return true;
  return segments_.size() == 1 && segments_.begin()->second.from == 0;
}

bool TChangeMap::Keeps(int64_t begin, int64_t end) const {
  if (begin >= end) return true;
  if (end > size_ || end > oldSize_) return false;
  // Stretches that continue one another are one segment: in place means one segment.
  auto it = segments_.upper_bound(begin);
  if (it == segments_.begin()) return false;
  --it;
  const auto& [start, s] = *it;
  return s.from == start && start + s.length >= end;
}

void TChangeMap::SplitAt(int64_t at) {
  auto it = segments_.upper_bound(at);
  if (it == segments_.begin()) return;
  --it;
  const int64_t start = it->first;
  Segment& s = it->second;
  if (at <= start || at >= start + s.length) return;
  const Segment tail{start + s.length - at, s.from < 0 ? -1 : s.from + (at - start)};
  s.length = at - start;
  segments_[at] = tail;
}

void TChangeMap::Assign(int64_t at, int64_t length, int64_t from) {
  if (length <= 0) return;
  placedValid_ = false;
  // Bytes skipped past the end read as zeros: new bytes.
  if (at > size_) Assign(size_, at - size_, -1);
  SplitAt(at);
  SplitAt(at + length);
  segments_.erase(segments_.lower_bound(at), segments_.lower_bound(at + length));
  auto it = segments_.emplace(at, Segment{length, from}).first;
  size_ = std::max(size_, at + length);
  // Neighbours that continue one another become one segment, so that a change of many
  // small writes keeps a short map.
  auto joins = [](int64_t at1, const Segment& a, int64_t at2, const Segment& b) {
    if (at1 + a.length != at2) return false;
    return (a.from < 0 && b.from < 0) || (a.from >= 0 && b.from == a.from + a.length);
  };
  if (it != segments_.begin()) {
    auto prev = std::prev(it);
    if (joins(prev->first, prev->second, it->first, it->second)) {
      prev->second.length += it->second.length;
      segments_.erase(it);
      it = prev;
    }
  }
  auto next = std::next(it);
  if (next != segments_.end() && joins(it->first, it->second, next->first, next->second)) {
    it->second.length += next->second.length;
    segments_.erase(next);
  }
}

void TChangeMap::Wrote(int64_t offset, int64_t length) {
  Assign(offset, length, -1);
}

void TChangeMap::Copied(int64_t from, int64_t to, int64_t length) {
  if (length <= 0) return;
  // Only old bytes are copied; anything past the old end would be new bytes.
  const int64_t old = std::clamp<int64_t>(oldSize_ - from, 0, length);
  Assign(to, old, from);
  Assign(to + old, length - old, -1);
}

void TChangeMap::Cut(int64_t size) {
  if (size > size_) {
    Assign(size_, size - size_, -1);
    return;
  }
  placedValid_ = false;
  SplitAt(size);
  segments_.erase(segments_.lower_bound(size), segments_.end());
  size_ = size;
}

std::vector<TChangeMap::Stretch> TChangeMap::Stretches() const {
  std::vector<Stretch> out;
  out.reserve(segments_.size());
  for (const auto& [at, s] : segments_) out.push_back({at, s.length, s.from});
  return out;
}

std::vector<std::pair<int64_t, int64_t>> TChangeMap::NewRanges() const {
  std::vector<std::pair<int64_t, int64_t>> out;
  for (const auto& [at, s] : segments_)
    if (s.from < 0) out.emplace_back(at, at + s.length);
  return out;
}

const std::vector<TChangeMap::Placed>& TChangeMap::PlacedByOld() const {
  if (placedValid_) return placed_;
  placed_.clear();
  for (const auto& [at, s] : segments_)
    if (s.from >= 0) placed_.push_back({s.from, s.length, at});
  std::sort(placed_.begin(), placed_.end(),
            [](const Placed& a, const Placed& b) { return a.from < b.from; });
  placedValid_ = true;
  return placed_;
}

std::vector<TChangeMap::OldPiece> TChangeMap::OldFromNew() const {
  std::vector<OldPiece> out;
  auto put = [&](int64_t length, int64_t from) {
    if (length <= 0) return;
    if (!out.empty()) {
      OldPiece& last = out.back();
      if ((last.from < 0 && from < 0) || (last.from >= 0 && from == last.from + last.length)) {
        last.length += length;
        return;
      }
    }
    out.push_back({length, from});
  };
  int64_t at = 0;  // old bytes before this are placed
  for (const Placed& p : PlacedByOld()) {
    const int64_t end = std::min(p.from + p.length, oldSize_);
    if (end <= at) continue;
    if (p.from > at) {
      put(p.from - at, -1);
      at = p.from;
    }
    put(end - at, p.at + (at - p.from));
    at = end;
  }
  put(oldSize_ - at, -1);
  return out;
}

std::optional<int64_t> TChangeMap::NewPlaceOf(int64_t oldOffset) const {
  const std::vector<Placed>& placed = PlacedByOld();
  auto it = std::upper_bound(placed.begin(), placed.end(), oldOffset,
                             [](int64_t v, const Placed& p) { return v < p.from; });
  // Stretches may overlap in old offsets (one old record copied twice): look back over
  // the ones that start before.
  for (int back = 0; it != placed.begin() && back < 4; ++back) {
    --it;
    if (oldOffset < it->from + it->length) return it->at + (oldOffset - it->from);
  }
  return std::nullopt;
}
