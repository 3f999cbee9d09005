#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

// Little-endian integers read from and written into byte buffers with explicit shifts.
// The reader keeps a sticky failure flag: once a read runs past the end, every later
// read yields 0 and Ok() stays false, so a parser checks once at the end of a block.

inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline int16_t GetI16(const uint8_t* p) { return int16_t(GetU16(p)); }
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int32_t GetI32(const uint8_t* p) { return int32_t(GetU32(p)); }

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutI16(uint8_t* p, int16_t v) { PutU16(p, uint16_t(v)); }
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void PutI32(uint8_t* p, int32_t v) { PutU32(p, uint32_t(v)); }
inline uint64_t GetU64(const uint8_t* p) {
  return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32);
}
inline int64_t GetI64(const uint8_t* p) { return int64_t(GetU64(p)); }
inline void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, uint32_t(v));
  PutU32(p + 4, uint32_t(v >> 32));
}
inline void PutI64(uint8_t* p, int64_t v) { PutU64(p, uint64_t(v)); }

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

  bool Ok() const { return ok_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return pos_ <= size_ ? size_ - pos_ : 0; }
  void Seek(size_t pos) {
    if (pos > size_) ok_ = false;
    pos_ = pos;
  }
  void Skip(size_t n) { Seek(pos_ + n); }

  uint8_t U8() { return Take(1) ? data_[pos_ - 1] : 0; }
  uint16_t U16() { return Take(2) ? GetU16(data_ + pos_ - 2) : 0; }
  int16_t I16() { return int16_t(U16()); }
  uint32_t U32() { return Take(4) ? GetU32(data_ + pos_ - 4) : 0; }
  int32_t I32() { return int32_t(U32()); }
  bool Bytes(void* out, size_t n) {
    if (!Take(n)) return false;
    std::memcpy(out, data_ + pos_ - n, n);
    return true;
  }

 private:
  bool Take(size_t n) {
    if (!ok_ || n > Remaining()) {
      ok_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class ByteWriter {
 public:
  ByteWriter(uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Ok() const { return ok_; }
  size_t Position() const { return pos_; }
  void U8(uint8_t v) {
    if (Take(1)) data_[pos_ - 1] = v;
  }
  void U16(uint16_t v) {
    if (Take(2)) PutU16(data_ + pos_ - 2, v);
  }
  void I16(int16_t v) { U16(uint16_t(v)); }
  void U32(uint32_t v) {
    if (Take(4)) PutU32(data_ + pos_ - 4, v);
  }
  void I32(int32_t v) { U32(uint32_t(v)); }
  void Bytes(const void* src, size_t n) {
    if (Take(n)) std::memcpy(data_ + pos_ - n, src, n);
  }

 private:
  bool Take(size_t n) {
    if (!ok_ || n > size_ - pos_) {
      ok_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }
  uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};
