#include "support/libbuilder.h"

#include <QFile>
#include <cstring>
#include <stdexcept>

namespace {

void Put16(QByteArray& out, uint16_t v) {
  out.append(char(v & 0xFF));
  out.append(char(v >> 8));
}
void Put32(QByteArray& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.append(char((v >> (8 * i)) & 0xFF));
}
QByteArray Title(const char* text, int fieldSize) {
  QByteArray t;
  t.append(char(std::strlen(text)));
  t.append(text);
  t.resize(fieldSize, '\0');
  return t;
}

}  // namespace

LibraryBuilder::LibraryBuilder(int fileType) : fileType_(fileType) {
  for (int i = 0; i < 256; ++i) {
    palette[i * 4] = uint8_t(i);
    palette[i * 4 + 1] = uint8_t(255 - i);
    palette[i * 4 + 2] = uint8_t(i / 2);
    palette[i * 4 + 3] = 0;
  }
  palette[0] = palette[1] = palette[2] = 0;  // entry 0 is black, as in real palettes
}

int LibraryBuilder::HeaderSize() const {
  switch (fileType_) {
    case 0:
      return 56 + 1024;
    case 1:
      return 60 + 1024;
    default:
      return 28;
  }
}

int32_t LibraryBuilder::Add8(int16_t w, int16_t h, int16_t px, int16_t py,
                             const std::vector<uint8_t>& pixels) {
  const int32_t at = NextOffset();
  Put16(records_, uint16_t(w));
  Put16(records_, uint16_t(h));
  Put16(records_, uint16_t(px));
  Put16(records_, uint16_t(py));
  if (fileType_ == 1) {  // the second copy of the placement
    Put16(records_, uint16_t(px));
    Put16(records_, uint16_t(py));
  }
  records_.append(reinterpret_cast<const char*>(pixels.data()), qsizetype(pixels.size()));
  entries_.push_back(at);
  return at;
}

int32_t LibraryBuilder::Add16(int16_t w, int16_t h, int16_t px, int16_t py,
                              const std::vector<uint16_t>& words, int32_t wordCount) {
  const int32_t at = NextOffset();
  Put16(records_, uint16_t(w));
  Put16(records_, uint16_t(h));
  Put16(records_, uint16_t(px));
  Put16(records_, uint16_t(py));
  records_.append(QByteArray(5, '\x5A'));  // unread bytes
  Put32(records_, uint32_t(wordCount == INT32_MIN ? int32_t(words.size()) : wordCount));
  for (uint16_t v : words) Put16(records_, v);
  entries_.push_back(at);
  return at;
}

QByteArray LibraryBuilder::Data() const {
  QByteArray out;
  const int32_t count = dataCount == INT32_MIN ? int32_t(entries_.size()) : dataCount;
  if (fileType_ == 2) {
    out.append("\x01\x02", 2);
    out.append("ILIB v1.0-TALVEN");
    out.append('\0');
    out.append(QByteArray(9, '\x33'));
    out += records_;
    return out;
  }
  out = Title(fileType_ == 0 ? "ILIB v1.0-TALVEN Entertainment inc." : "TALVEN Entertainment inc.",
              44);
  Put32(out, uint32_t(count));
  Put32(out, 256);
  Put32(out, 1024);
  if (fileType_ == 1) Put32(out, 0xDEADBEEF);
  out.append(reinterpret_cast<const char*>(palette.data()), 1024);
  out += records_;
  return out;
}

QByteArray LibraryBuilder::Index() const {
  QByteArray out;
  const int32_t count = indexCount == INT32_MIN ? int32_t(entries_.size()) : indexCount;
  if (fileType_ == 2) {
    out = QByteArray(20, '\x11');
    Put32(out, uint32_t(count));
  } else {
    out = Title("INDX v1.0-TALVEN Entertainment inc.", 44);
    Put32(out, uint32_t(count));
    if (fileType_ == 1) Put32(out, 0);
  }
  for (int32_t e : entries_) Put32(out, uint32_t(e));
  return out;
}

QString LibraryBuilder::Write(const QString& dir, const QString& name) const {
  const QString data = dir + "/" + name + ".jov";
  WriteFileBytes(data, Data());
  WriteFileBytes(dir + "/" + name + ".JOX", Index());
  return data;
}

std::vector<uint16_t> RowRecord(const std::vector<uint16_t>& codes) {
  std::vector<uint16_t> out;
  out.push_back(uint16_t(codes.size()));
  out.insert(out.end(), codes.begin(), codes.end());
  return out;
}

QByteArray ReadFileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFileBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write " + path.toStdString());
}
