#include "editing/pngstream.h"

#include <zlib.h>

#include <cstring>

#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"

namespace {

// Level 6, zlib's default: a shared picture is uploaded and downloaded more often than
// it is written, and sprites on a transparent ground deflate well at it.
constexpr int kLevel = 6;
constexpr size_t kIdatSize = 64 * 1024;
constexpr size_t kWriteSize = 1024 * 1024;

void PutU32BE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

}  // namespace

struct TPngStream::TZlib {
  z_stream stream{};
  bool open = false;
  ~TZlib() {
    if (open) deflateEnd(&stream);
  }
};

TPngStream::TPngStream(const QString& path, int width, int height, const QList<QRgb>& palette)
    : zlib_(std::make_unique<TZlib>()),
      width_(width),
      rowsLeft_(height),
      indexed_(!palette.isEmpty()) {
  if (width <= 0 || height <= 0 || palette.size() > 256)
    throw EJovError(QStringLiteral("Cannot write a %1 x %2 PNG picture").arg(width).arg(height));
  if (deflateInit(&zlib_->stream, kLevel) != Z_OK) throw std::bad_alloc();
  zlib_->open = true;
  file_ = TFile::Open(path, TFile::Mode::Create);
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Put(signature, sizeof signature);
  uint8_t header[13];
  PutU32BE(header, uint32_t(width));
  PutU32BE(header + 4, uint32_t(height));
  header[8] = 8;                             // bits per sample
  header[9] = indexed_ ? 3 : 6;              // indexed colour, or RGB with alpha
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
  Chunk("IHDR", header, sizeof header);
  if (indexed_) {
    std::vector<uint8_t> colours, alpha;
    for (const QRgb c : palette) {
      colours.insert(colours.end(), {uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
      alpha.push_back(uint8_t(qAlpha(c)));
    }
    // The alpha table ends at its last entry that is not opaque.
    while (!alpha.empty() && alpha.back() == 255) alpha.pop_back();
    Chunk("PLTE", colours.data(), colours.size());
    if (!alpha.empty()) Chunk("tRNS", alpha.data(), alpha.size());
  }
  idat_.reserve(kIdatSize);
}

TPngStream::~TPngStream() = default;

void TPngStream::WriteRow(const uint8_t* row) {
  if (rowsLeft_ <= 0) throw EJovError(std::string("PNG picture written past its last row"));
  // Every row is stored unfiltered: palette indices gain nothing from the filters, and
  // most of a sheet is transparent ground.
  static const uint8_t filter = 0;
  Deflate(&filter, 1, false);
  Deflate(row, size_t(width_) * size_t(BytesPerPixel()), --rowsLeft_ == 0);
}

void TPngStream::Finish() {
  if (rowsLeft_ != 0) throw EJovError(std::string("PNG picture ended before its last row"));
  if (!idat_.empty()) Chunk("IDAT", idat_.data(), idat_.size());
  idat_.clear();
  Chunk("IEND", nullptr, 0);
  Flush();
}

void TPngStream::Deflate(const uint8_t* data, size_t n, bool last) {
  z_stream& z = zlib_->stream;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = uInt(n);
  for (;;) {
    const size_t had = idat_.size();
    idat_.resize(kIdatSize);
    z.next_out = idat_.data() + had;
    z.avail_out = uInt(kIdatSize - had);
    const int result = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
    idat_.resize(kIdatSize - z.avail_out);
    if (result == Z_STREAM_ERROR) throw EJovError(std::string("PNG compression failed"));
    if (idat_.size() == kIdatSize) {
      Chunk("IDAT", idat_.data(), idat_.size());
      idat_.clear();
      continue;  // the compressor may hold more output
    }
    if (z.avail_in == 0 && (!last || result == Z_STREAM_END)) return;
  }
}

void TPngStream::Chunk(const char* type, const uint8_t* data, size_t n) {
  uint8_t head[8];
  PutU32BE(head, uint32_t(n));
  std::memcpy(head + 4, type, 4);
  uLong crc = crc32(0, head + 4, 4);
  if (n > 0) crc = crc32(crc, data, uInt(n));
  uint8_t tail[4];
  PutU32BE(tail, uint32_t(crc));
  Put(head, sizeof head);
  if (n > 0) Put(data, n);
  Put(tail, sizeof tail);
}

void TPngStream::Put(const uint8_t* data, size_t n) {
  pending_.insert(pending_.end(), data, data + n);
  if (pending_.size() >= kWriteSize) Flush();
}

void TPngStream::Flush() {
  if (pending_.empty()) return;
  file_->WriteAt(written_, pending_.data(), int64_t(pending_.size()));
  written_ += int64_t(pending_.size());
  pending_.clear();
}
