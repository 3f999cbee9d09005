#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

// A reusable byte buffer.  Unlike std::vector it never clears what it hands out, so a
// buffer that is filled again and again costs nothing but the writes.
class TByteBuffer {
 public:
  // Room for n bytes; the first keep bytes are preserved when the buffer grows.
  uint8_t* Reserve(int64_t n, int64_t keep = 0) {
    if (n > capacity_) {
      const int64_t grown = std::max(n, capacity_ + capacity_ / 2);
      std::unique_ptr<uint8_t[]> bigger(new uint8_t[size_t(grown)]);
      if (keep > 0) std::memcpy(bigger.get(), data_.get(), size_t(std::min(keep, capacity_)));
      data_ = std::move(bigger);
      capacity_ = grown;
    }
    return data_.get();
  }
  uint8_t* Data() const { return data_.get(); }
  int64_t Capacity() const { return capacity_; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  int64_t capacity_ = 0;
};
