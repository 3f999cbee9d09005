// Fuzzes the writers: a fuzzed edit applied to a fuzzed library.  Whatever the library's
// index looks like (out of file order, entries shared, damaged), the edit either changes
// only the images it names, every other image reading the same record as before, or is
// refused and leaves both files as they were.  A library the edit leaves must open.
//
// Input layout: byte 0 the edit, bytes 1 and 2 its numbers, then the layout of the
// library target: a flags byte (bit 0: there is an index file), the data file's length
// (4 bytes, little-endian), the data file, the index file.
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"
#include "editing/batchimport.h"
#include "editing/createlib.h"
#include "editing/rangeedit.h"
#include "library/jovformat.h"
#include "library/myjov.h"

namespace {

QString g_dir;

void Put(const QString& path, const uint8_t* data, size_t size) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
  f.write(reinterpret_cast<const char*>(data), qint64(size));
}

QByteArray Bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What every image reads: its record's bytes (header and pixels) when the record lies
// whole in the data file and the reader shows it; nothing otherwise.
std::vector<std::optional<QByteArray>> Records(const QString& lib) {
  TJOV jov;
  if (jov.Open(lib) != TOpenResult::Opened || !IsWritable(jov.FileType())) return {};
  const QByteArray data = Bytes(lib);
  const int64_t headerSize = jov::RecordHeaderSize(jov.OffSet());
  const int n = int(std::min<int64_t>(jov.ImageCount(), int64_t(jov.IndexEntries().size())));
  std::vector<std::optional<QByteArray>> records(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const std::optional<int32_t> e = jov.EntryOf(i);
    if (!e || *e < jov::FirstRecordOffset(int(jov.FileType())) || *e + headerSize > data.size())
      continue;
    const auto* h = reinterpret_cast<const uint8_t*>(data.constData()) + *e;
    const int w = GetI16(h), ht = GetI16(h + 2);
    if (w <= 0 || ht <= 0 || w > jov::kMaxImageSide8 || ht > jov::kMaxImageSide8) continue;
    const int64_t length = headerSize + int64_t(w) * ht;
    if (*e + length > data.size()) continue;
    records[size_t(i)] = data.mid(*e, length);
  }
  return records;
}

struct Edit {
  std::function<void(TJOV&)> run;
  std::function<int(int)> after;  // where image i is afterwards; -1 when the edit names it
};

Edit MakeEdit(uint8_t kind, int a, int b) {
  auto same = [](int i) { return i; };
  auto naming = [](int first, int last, int shift) {
    return [first, last, shift](int i) { return i < first ? i : i <= last ? -1 : i + shift; };
  };
  const int w = 4 * (b % 4 + 1), h = b % 5 + 1;
  switch (kind % 8) {
    case 0:
      return {
          [=](TJOV& j) { j.ReplaceRecord(a, w, h, std::vector<uint8_t>(size_t(w * h), 7).data()); },
          naming(a, a, 0)};
    case 1:
      return {[=](TJOV& j) {
                j.AppendRecord(w, h, 1, 2, std::vector<uint8_t>(size_t(w * h), 8).data());
              },
              same};
    case 2:
      return {[=](TJOV& j) {
                InsertRecord(j, a, w, h, 3, 4, std::vector<uint8_t>(size_t(w * h), 9).data());
              },
              [a](int i) { return i < a ? i : i + 1; }};
    case 3:
      return {[=](TJOV& j) { DeleteRange(j, a, a + b % 3); }, naming(a, a + b % 3, -(b % 3 + 1))};
    case 4:
      return {[=](TJOV& j) { ClearRange(j, a, a + b % 3); }, naming(a, a + b % 3, 0)};
    case 5:
      return {[=](TJOV& j) { j.SetImagePx(a, int16_t(b)); }, naming(a, a, 0)};
    case 6:
      return {[=](TJOV& j) {
                ImportPlacements(j, QString(), {true, {b, -b}}, a, a + b % 3);
              },
              naming(a, a + b % 3, 0)};
    default:
      return {[](TJOV& j) { CompactLibrary(j); }, same};
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_dir = QStringLiteral("%1/jov-edit-%2").arg(QString::fromLatin1(base)).arg(getpid());
  QDir().mkpath(g_dir);
  std::atexit([] { QDir(g_dir).removeRecursively(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const Edit edit = MakeEdit(data[0], data[1] % 16, data[2]);
  const uint8_t flags = data[3];
  uint32_t declared;
  std::memcpy(&declared, data + 4, 4);
  data += 8;
  size -= 8;
  const size_t dataSize = std::min<size_t>(declared, size);
  const QString lib = g_dir + "/lib.jov", index = g_dir + "/lib.JOX";
  QDir(g_dir).removeRecursively();
  QDir().mkpath(g_dir);
  Put(lib, data, dataSize);
  if (flags & 1) Put(index, data + dataSize, size - dataSize);

  const std::vector<std::optional<QByteArray>> before = Records(lib);
  const QByteArray oldData = Bytes(lib), oldIndex = Bytes(index);
  bool refused = false;
  {
    TJOV jov;
    if (jov.Open(lib) != TOpenResult::Opened || !IsWritable(jov.FileType())) return 0;
    try {
      edit.run(jov);
    } catch (const EJovError&) {
      refused = true;
    }
  }
  if (refused) {
    if (Bytes(lib) != oldData || Bytes(index) != oldIndex) std::abort();
    return 0;
  }
  const std::vector<std::optional<QByteArray>> now = Records(lib);
  for (size_t i = 0; i < before.size(); ++i) {
    const int j = edit.after(int(i));
    if (j < 0 || !before[i]) continue;
    if (size_t(j) >= now.size() || now[size_t(j)] != before[i]) std::abort();
  }
  return 0;
}
