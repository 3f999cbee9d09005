#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>

#include "common/fileio.h"

// A sequential byte stream with a position, as the bitmap readers and writers use it.
class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to n bytes; returns the count read (short only at the end).
  virtual int64_t Read(void* buffer, int64_t n) = 0;
  // Writes all n bytes or throws EWriteError.
  virtual void Write(const void* buffer, int64_t n) = 0;
  virtual int64_t Size() = 0;
  virtual int64_t Position() const = 0;
  virtual void Seek(int64_t position) = 0;

  int64_t Remaining() { return Size() - Position(); }
  // Reads exactly n bytes or throws EReadError ("Stream read error").
  void ReadBuffer(void* buffer, int64_t n);
};

// A stream over a file of the file layer.
class TFileStream final : public TStream {
 public:
  TFileStream(const QString& path, TFile::Mode mode) : file_(TFile::Open(path, mode)) {}
  explicit TFileStream(std::unique_ptr<TFile> file) : file_(std::move(file)) {}
  int64_t Read(void* buffer, int64_t n) override;
  void Write(const void* buffer, int64_t n) override;
  int64_t Size() override { return file_->Size(); }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }
  TFile& File() { return *file_; }

 private:
  std::unique_ptr<TFile> file_;
  int64_t position_ = 0;
};

// A growable stream in memory.
class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(QByteArray bytes) : bytes_(std::move(bytes)) {}
  int64_t Read(void* buffer, int64_t n) override;
  void Write(const void* buffer, int64_t n) override;
  int64_t Size() override { return bytes_.size(); }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }
  const QByteArray& Bytes() const { return bytes_; }
  QByteArray& Bytes() { return bytes_; }

 private:
  QByteArray bytes_;
  int64_t position_ = 0;
};

// A read-only stream over a block of memory owned by someone else (clipboard data).
class TGlobalMemoryStream final : public TStream {
 public:
  TGlobalMemoryStream(const void* data, int64_t size)
      : data_(static_cast<const char*>(data)), size_(size) {}
  explicit TGlobalMemoryStream(const QByteArray& block)
      : TGlobalMemoryStream(block.constData(), block.size()) {}
  int64_t Read(void* buffer, int64_t n) override;
  void Write(const void* buffer, int64_t n) override;
  int64_t Size() override { return size_; }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }

 private:
  const char* data_;
  int64_t size_;
  int64_t position_ = 0;
};
