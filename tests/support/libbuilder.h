#pragma once

// Builds library files byte by byte from the format tables, independently of the
// production readers and writers.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

class LibraryBuilder {
 public:
  // fileType 0, 1 or 2.
  explicit LibraryBuilder(int fileType);

  // 256 x (blue, green, red, 0); entry 0 is black, entry i > 0 is (i, 255 - i, i / 2).
  std::array<uint8_t, 1024> palette{};
  // Counts written into the headers; by default the number of entries.
  int32_t dataCount = INT32_MIN;
  int32_t indexCount = INT32_MIN;

  // An 8-bit record; pixels are rows bottom row first, w bytes each.  Returns its offset.
  int32_t Add8(int16_t w, int16_t h, int16_t px, int16_t py, const std::vector<uint8_t>& pixels);
  // A 16-bit record with the given pixel words; wordCount overrides the stored count.
  int32_t Add16(int16_t w, int16_t h, int16_t px, int16_t py, const std::vector<uint16_t>& words,
                int32_t wordCount = INT32_MIN);
  // An index entry of any value, without a record.
  void AddEntry(int32_t offset) { entries_.push_back(offset); }
  // Raw bytes appended to the data file (a gap, stale bytes).
  void AddBytes(const QByteArray& bytes) { records_ += bytes; }

  QByteArray Data() const;
  QByteArray Index() const;
  // Writes dir/name.jov and dir/name.JOX; returns the data file's path.
  QString Write(const QString& dir, const QString& name) const;

  int32_t NextOffset() const { return int32_t(HeaderSize() + records_.size()); }

 private:
  int HeaderSize() const;
  int fileType_;
  QByteArray records_;
  std::vector<int32_t> entries_;
};

// Row records of a 16-bit picture as words: one row record per row, each a word L and
// then the codes.  Helpers for tests.
std::vector<uint16_t> RowRecord(const std::vector<uint16_t>& codes);

// A whole file written to disk.
void WriteFileBytes(const QString& path, const QByteArray& bytes);
// The whole file, or nothing when it cannot be read.
QByteArray ReadFileBytes(const QString& path);
