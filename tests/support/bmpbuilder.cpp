#include "support/bmpbuilder.h"

#include <QFile>

namespace {

void Put16(QByteArray& out, uint32_t v) {
  out.append(char(v & 0xFF));
  out.append(char((v >> 8) & 0xFF));
}

void Put32(QByteArray& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

}  // namespace

QByteArray BuildBmp(const BmpSpec& spec) {
  QByteArray info;
  if (spec.core) {
    Put32(info, spec.headerSize.value_or(12));
    Put16(info, uint32_t(spec.width));
    Put16(info, uint32_t(spec.height));
    Put16(info, spec.planes);
    Put16(info, spec.depth);
  } else {
    Put32(info, spec.headerSize.value_or(40));
    Put32(info, uint32_t(spec.width));
    Put32(info, uint32_t(spec.height));
    Put16(info, spec.planes);
    Put16(info, spec.depth);
    Put32(info, spec.compression);
    Put32(info, spec.imageSize.value_or(uint32_t(spec.pixels.size())));
    Put32(info, uint32_t(spec.xResolution));
    Put32(info, uint32_t(spec.yResolution));
    Put32(info, spec.coloursUsed);
    Put32(info, spec.coloursImportant);
  }
  if (spec.masks)
    for (uint32_t mask : *spec.masks) Put32(info, mask);
  for (uint32_t colour : spec.colours) {
    info.append(char(colour & 0xFF));
    info.append(char((colour >> 8) & 0xFF));
    info.append(char((colour >> 16) & 0xFF));
    if (!spec.core) info.append(char(0));
  }
  info.append(QByteArray(qsizetype(spec.gap), char(0xEE)));

  QByteArray out;
  if (spec.fileHeader) {
    const uint32_t offset = uint32_t(14 + info.size());
    out.append("BM");
    Put32(out, spec.fileSize.value_or(uint32_t(offset + spec.pixels.size())));
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, spec.pixelOffset.value_or(offset));
  }
  out.append(info);
  out.append(spec.pixels);
  return out;
}

int64_t BmpRowBytes(int depth, int width) {
  return (int64_t(depth) * width + 31) / 32 * 4;
}

QByteArray PackBmpRows(int depth, int width, const std::vector<std::vector<uint32_t>>& rows,
                       bool topDown) {
  const int64_t rowBytes = BmpRowBytes(depth, width);
  const int height = int(rows.size());
  QByteArray out(qsizetype(rowBytes * height), char(0));
  for (int y = 0; y < height; ++y) {
    const int fileRow = topDown ? y : height - 1 - y;
    auto* row = reinterpret_cast<uint8_t*>(out.data()) + fileRow * rowBytes;
    for (int x = 0; x < width; ++x) {
      const uint32_t v = rows[size_t(y)][size_t(x)];
      switch (depth) {
        case 1:
          row[x / 8] |= uint8_t((v & 1) << (7 - x % 8));
          break;
        case 4:
          row[x / 2] |= uint8_t((v & 0xF) << (x % 2 ? 0 : 4));
          break;
        case 8:
          row[x] = uint8_t(v);
          break;
        default:
          for (int b = 0; b < depth / 8; ++b) row[x * (depth / 8) + b] = uint8_t(v >> (8 * b));
      }
    }
  }
  return out;
}

std::vector<std::vector<uint32_t>> RandomBmpPixels(int width, int height, int bits, uint32_t seed) {
  std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(height),
                                          std::vector<uint32_t>(static_cast<size_t>(width)));
  const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  for (auto& row : rows)
    for (auto& v : row) v = (NextRandom(seed) ^ (NextRandom(seed) << 16)) & mask;
  return rows;
}

std::vector<uint32_t> RandomBmpColours(int n, uint32_t seed) {
  std::vector<uint32_t> colours(static_cast<size_t>(n));
  for (auto& c : colours) c = NextRandom(seed) & 0xFFFFFF;
  return colours;
}

bool WriteBytesToFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}
