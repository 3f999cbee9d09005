#pragma once

// A fast position-dependent checksum (running sums and sums of sums over 64-bit words in
// four lanes): good enough to tell whole bytes from torn or stale ones, not a defence
// against anyone forging them.  Bytes are fed in chunks whose sizes are multiples of 32,
// except the last.

#include <bit>
#include <cstdint>
#include <cstring>

class TSum {
 public:
  explicit TSum(uint64_t seed = 0) {
    for (int k = 0; k < 4; ++k) {
      lanes_[k] = seed ^ (0x243F6A8885A308D3ull * uint64_t(k + 1));
      mixed_[k] = ~seed + uint64_t(k);
    }
  }
  void Add(const uint8_t* p, int64_t n) {
    int64_t i = 0;
    // Four independent lanes keep the additions from waiting on one another.
    for (; i + 32 <= n; i += 32) {
      uint64_t w[4];
      std::memcpy(w, p + i, 32);
      for (int k = 0; k < 4; ++k) {
        lanes_[k] += LittleEndian(w[k]);
        mixed_[k] += lanes_[k];
      }
    }
    for (; i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      lanes_[0] += LittleEndian(w);
      mixed_[0] += lanes_[0];
    }
    if (i < n) {
      uint64_t w = uint64_t(n - i) << 56;
      for (int k = 0; i + k < n; ++k) w |= uint64_t(p[i + k]) << (8 * k);
      lanes_[1] += w;
      mixed_[1] += lanes_[1];
    }
  }
  void AddU64(uint64_t v) {
    uint8_t bytes[8];
    for (int k = 0; k < 8; ++k) bytes[k] = uint8_t(v >> (8 * k));
    Add(bytes, 8);
  }
  uint64_t Value() const {
    uint64_t v = 0;
    for (int k = 0; k < 4; ++k)
      v = (v ^ lanes_[k] * 0x9E3779B97F4A7C15ull ^ mixed_[k]) * 0xFF51AFD7ED558CCDull;
    return v;
  }

 private:
  static uint64_t LittleEndian(uint64_t w) {
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(w);
    return w;
  }
  uint64_t lanes_[4], mixed_[4];
};
