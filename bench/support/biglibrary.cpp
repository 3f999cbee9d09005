#include "support/biglibrary.h"

#include <QDir>
#include <QFile>
#include <map>
#include <memory>
#include <vector>

#include "common/byteio.h"
#include "library/jovformat.h"
#include "support/libbuilder.h"

QTemporaryDir& BenchFolder(const QString& prefix) {
  static std::map<QString, std::unique_ptr<QTemporaryDir>> folders;
  std::unique_ptr<QTemporaryDir>& folder = folders[prefix];
  if (!folder) {
    const QString root = qEnvironmentVariable("JOV_BENCH_DIR");
    folder = std::make_unique<QTemporaryDir>((root.isEmpty() ? QDir::tempPath() : root) + "/" +
                                             prefix + "-XXXXXX");
  }
  return *folder;
}

QString BigLibrary(const QString& folder, const QString& name, int count, int side) {
  const QDir dir(folder);
  const QString path = dir.filePath(name + ".jov");
  if (QFile::exists(path)) return path;
  LibraryBuilder header(0);
  header.dataCount = header.indexCount = count + 1;
  QByteArray data = header.Data();
  std::vector<int32_t> entries;
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  int64_t at = data.size();
  auto record = [&](int w, int h, uint8_t seed) {
    QByteArray r(8 + w * h, '\0');
    auto* p = reinterpret_cast<uint8_t*>(r.data());
    jov::EncodeRecordHeader(p, 0, w, h, -w / 2, -h);
    for (int i = 0; i < w * h; ++i) p[8 + i] = uint8_t(seed + i * 13);
    return r;
  };
  entries.push_back(int32_t(at));
  data += record(64, 64, 1);
  at = data.size();
  const QByteArray big = record(side, side, 7);
  for (int i = 0; i < count; ++i) {
    entries.push_back(int32_t(at));
    data += big;
    at += big.size();
    if (data.size() > (1 << 20)) {
      file.write(data);
      data.clear();
    }
  }
  file.write(data);
  file.close();
  QByteArray index = header.Index().left(jov::kIndexHeaderSize);
  index.resize(jov::kIndexHeaderSize + qsizetype(entries.size()) * 4);
  for (size_t i = 0; i < entries.size(); ++i)
    PutI32(reinterpret_cast<uint8_t*>(index.data()) + jov::kIndexHeaderSize + i * 4, entries[i]);
  WriteFileBytes(dir.filePath(name + ".JOX"), index);
  return path;
}
