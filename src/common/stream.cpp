#include "common/stream.h"

#include <algorithm>
#include <cstring>

#include "common/errors.h"

void TStream::ReadBuffer(void* buffer, int64_t n) {
  if (n < 0 || Read(buffer, n) != n) throw EReadError();
}

int64_t TFileStream::Read(void* buffer, int64_t n) {
  if (n <= 0 || position_ < 0) return 0;
  const int64_t got = file_->ReadAt(position_, buffer, n);
  position_ += got;
  return got;
}

void TFileStream::Write(const void* buffer, int64_t n) {
  if (n <= 0) return;
  file_->WriteAt(position_, buffer, n);
  position_ += n;
}

int64_t TMemoryStream::Read(void* buffer, int64_t n) {
  if (n <= 0 || position_ < 0 || position_ >= bytes_.size()) return 0;
  const int64_t got = std::min<int64_t>(n, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.constData() + position_, size_t(got));
  position_ += got;
  return got;
}

void TMemoryStream::Write(const void* buffer, int64_t n) {
  if (n <= 0) return;
  if (position_ < 0) throw EWriteError();
  const int64_t end = position_ + n;
  if (end > bytes_.size()) bytes_.resize(qsizetype(end));
  std::memcpy(bytes_.data() + position_, buffer, size_t(n));
  position_ = end;
}

int64_t TGlobalMemoryStream::Read(void* buffer, int64_t n) {
  if (n <= 0 || position_ < 0 || position_ >= size_) return 0;
  const int64_t got = std::min<int64_t>(n, size_ - position_);
  std::memcpy(buffer, data_ + position_, size_t(got));
  position_ += got;
  return got;
}

void TGlobalMemoryStream::Write(const void*, int64_t) { throw EWriteError(); }
