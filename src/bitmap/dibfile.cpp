// Bitmap files (BMP), packed DIBs and clipboard data for TDIB.
//
// A bitmap file is a 14-byte file header followed by a packed DIB: an information
// header (the 12-byte core form or the 40-byte form), the masks of a bit-field picture,
// the colour table and the pixels.  Every number in it is untrusted: sizes are worked
// out in 64-bit arithmetic and checked against the bytes the stream still holds before
// anything is allocated.

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "bitmap/bmpformat.h"
#include "bitmap/dib.h"
#include "common/byteio.h"
#include "common/errors.h"

namespace {

using bmp::kCompressionBitFields;
using bmp::kCompressionNone;
using bmp::kCompressionRle4;
using bmp::kCompressionRle8;
using bmp::kFileHeaderSize;
using bmp::kInfoHeaderSize;
using bmp::kMaskBytes;

constexpr uint32_t kCoreHeaderSize = 12;
constexpr int kMaxColours = 256;

// Limits on what a file may make us allocate.  A picture of more than 256 MiB of pixels
// (the order of Qt's own image allocation limit) is taken for a damaged or hostile file,
// whatever its form: no picture this program handles comes near it.  For run-length
// data the pixels are only allocated when the picture is decoded, so the decoded size is
// also bounded by the size of the data that was actually read: runs and skips let a few
// bytes stand for many pixels, but not for more than 64 KiB plus 1,024 pixel bytes per
// byte of data.  (A real encoder spends at least 2 bytes per row and per 255 pixels of a
// run; 1,024 leaves room for rows ended early and for moves.)  The data themselves may
// be larger than the picture (runs of single pixels cost 2 bytes each), but not without
// bound.
constexpr int64_t kMaxImageSize = kMaxReadPixelBytes;
constexpr int64_t kMaxRunLengthBytes = 2 * kMaxImageSize;
constexpr int64_t kRleBaseAllowance = int64_t(64) << 10;
constexpr int64_t kRleMaxExpansion = 1024;

// What ReadBitmapFile reads in its first system call: the file header, the largest
// information header, the masks and a full colour table fit.
constexpr int64_t kReadAheadBytes = 2048;

// Pictures up to this many pixel bytes are written together with their headers.
constexpr int64_t kGatherWriteBytes = int64_t(256) << 10;

constexpr int kClipboardFormatDib = 8;

[[noreturn]] void ThrowInvalid() {
  throw EInvalidGraphic(std::string("DIB is invalid"));
}

// The depths and layouts a store accepts; a store refuses anything else with its own
// message, before it allocates anything.
bool StoreAccepts(int depth, const ChannelLayout& layout) {
  switch (depth) {
    case 1:
    case 4:
    case 24:
    case 32:
      return layout.SameMasks(Layout888());
    case 8:
      return true;
    case 16:
      return layout.SameMasks(Layout555()) || layout.SameMasks(Layout565());
    default:
      return false;
  }
}

// Bit fields are taken only in the exact layouts a store holds.  Masks elsewhere in the
// word (red in the top byte, red and blue swapped, overlapping channels) would be read by
// their widths alone as the standard layout, and the colours would come out wrong.
bool KnownMasks(uint32_t red, uint32_t green, uint32_t blue) {
  for (const ChannelLayout* known : {&Layout888(), &Layout555(), &Layout565()})
    if (red == uint32_t(known->RedMask) && green == uint32_t(known->GreenMask) &&
        blue == uint32_t(known->BlueMask))
      return true;
  return false;
}

// Swaps rows so that a block read top row first is held bottom row first.
void FlipRows(uint8_t* pixels, int64_t rowBytes, int64_t rows) {
  std::vector<uint8_t> spare(static_cast<size_t>(rowBytes));
  for (int64_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
    uint8_t* a = pixels + top * rowBytes;
    uint8_t* b = pixels + bottom * rowBytes;
    std::memcpy(spare.data(), a, size_t(rowBytes));
    std::memcpy(a, b, size_t(rowBytes));
    std::memcpy(b, spare.data(), size_t(rowBytes));
  }
}

// The information header of a packed DIB (core or info), and what follows it.
struct TDibHead {
  uint32_t headerSize = 0;
  int64_t width = 0;
  int64_t height = 0;
  int depth = 0;
  uint32_t compression = kCompressionNone;
  uint32_t headerImageSize = 0;
  uint32_t coloursUsed = 0;
  int64_t colourBytes = 4;
};

// Reads the information header whose size field got already holds.
TDibHead ReadDibHead(TStream& stream, uint8_t (&head)[kInfoHeaderSize]) {
  TDibHead h;
  h.headerSize = GetU32(head);
  if (h.headerSize == kCoreHeaderSize) {
    stream.ReadBuffer(head + 4, kCoreHeaderSize - 4);
    h.width = GetU16(head + 4);
    h.height = GetU16(head + 6);
    h.depth = GetU16(head + 10);
    h.colourBytes = 3;
  } else if (h.headerSize == kInfoHeaderSize) {
    stream.ReadBuffer(head + 4, kInfoHeaderSize - 4);
    h.width = GetI32(head + 4);
    h.height = GetI32(head + 8);
    h.depth = GetU16(head + 14);
    h.compression = GetU32(head + 16);
    h.headerImageSize = GetU32(head + 20);
    h.coloursUsed = GetU32(head + 32);
  } else {
    ThrowInvalid();
  }
  return h;
}

// Reads the colour table that follows the header (and masks); returns its bytes.
int64_t ReadColours(TStream& stream, const TDibHead& h, TColorTable& colours) {
  int64_t colourCount = h.coloursUsed;
  if (colourCount == 0 && h.depth <= 8) colourCount = int64_t(1) << h.depth;
  colourCount = std::min<int64_t>(colourCount, kMaxColours);
  if (colourCount <= 0) return 0;
  uint8_t raw[kMaxColours * 4];
  stream.ReadBuffer(raw, colourCount * h.colourBytes);
  for (int64_t i = 0; i < colourCount; ++i) {
    std::memcpy(&colours[size_t(i * 4)], raw + i * h.colourBytes, 3);
    colours[size_t(i * 4 + 3)] = 0;
  }
  return colourCount * h.colourBytes;
}

// Checks the depth, compression and size of the picture; returns the bytes of its pixel
// block as stored (run-length data as read, or the rows).
int64_t CheckedPixelBytes(const TDibHead& h, bool compressed) {
  if (h.compression > kCompressionBitFields) ThrowInvalid();
  // Run-length data of the other kind than the depth would be decoded as garbage.
  if ((h.compression == kCompressionRle8 && h.depth != 8) ||
      (h.compression == kCompressionRle4 && h.depth != 4))
    ThrowInvalid();
  // Dimensions: a positive width and a height other than 0 (negative: top row first).
  if (h.width <= 0 || h.height == 0) ThrowInvalid();
  // Run-length rows always run bottom up: only uncompressed and bit-field pictures may be
  // stored top row first.
  if (compressed && h.height < 0) ThrowInvalid();
  const int64_t rows = h.height < 0 ? -h.height : h.height;
  const int64_t rowBytes = DibRowBytes(h.depth, h.width);
  if (rowBytes > kMaxImageSize || rows > kMaxImageSize) ThrowInvalid();
  const int64_t imageSize = rowBytes * rows;
  if (imageSize > kMaxImageSize) ThrowInvalid();
  if (!compressed) return imageSize;
  if (h.headerImageSize == 0 || h.headerImageSize > kMaxRunLengthBytes) ThrowInvalid();
  if (imageSize > kRleBaseAllowance + kRleMaxExpansion * int64_t(h.headerImageSize)) ThrowInvalid();
  return h.headerImageSize;
}

// Reads the pixel block into the store made for it.
void ReadPixels(TDIBSharedImage& store, TStream& stream, bool compressed, int64_t pixelBytes,
                bool topDown) {
  if (compressed) {
    // The run-length data are kept as read; the store is decoded on first write access.
    store.block.Allocate(pixelBytes);
    store.pixels = store.block.Data();
    store.topRow = store.pixels;
    store.size = pixelBytes;
    PutU32(store.header.data() + 20, uint32_t(pixelBytes));
    stream.ReadBuffer(store.pixels, pixelBytes);
  } else {
    stream.ReadBuffer(store.pixels, store.size);
    if (topDown) FlipRows(store.pixels, store.rowBytes, store.height);
  }
}

// Reads a packed DIB into store.  pixelOffset is where a bitmap file's header says the
// pixels start, counted from the start of the packed DIB, or -1 for a packed DIB on its
// own, which may be empty.  A bitmap file always goes on after its file header.
void ReadPackedInto(TDIBSharedImage& store, TStream& stream, bool plain, int64_t pixelOffset) {
  uint8_t head[kInfoHeaderSize] = {};
  const int64_t got = stream.Read(head, 4);
  if (got == 0) {
    if (pixelOffset >= 0) throw EReadError();
    store.Reset(plain);
    return;
  }
  if (got < 4) ThrowInvalid();
  const TDibHead h = ReadDibHead(stream, head);
  int64_t consumed = h.headerSize;

  ChannelLayout layout = h.depth == 16 ? Layout555() : Layout888();
  bool knownMasks = true;
  if (h.compression == kCompressionBitFields) {
    uint8_t masks[kMaskBytes];
    stream.ReadBuffer(masks, kMaskBytes);
    const uint32_t red = GetU32(masks), green = GetU32(masks + 4), blue = GetU32(masks + 8);
    knownMasks = KnownMasks(red, green, blue);
    layout = ChannelLayout::FromMasks(red, green, blue);
    consumed += kMaskBytes;
  }
  TColorTable colours{};
  consumed += ReadColours(stream, h, colours);

  if (!StoreAccepts(h.depth, layout)) {
    // The store raises the error for the depth or layout before it allocates anything.
    store.InitStore(1, 1, h.depth, false, plain, colours.data(), layout);
    ThrowInvalid();  // not reached: the store has refused
  }
  if (!knownMasks) throw EInvalidGraphicOperation(std::string("PixelFormat in invalid"));
  const bool compressed = h.compression == kCompressionRle8 || h.compression == kCompressionRle4;
  const int64_t pixelBytes = CheckedPixelBytes(h, compressed);

  // A file may leave a gap between the colours and the pixels; its header then says
  // where the pixels are.  An offset inside the headers (some writers leave it 0) is
  // ignored: the pixels then follow the colours at once.
  const int64_t gap = pixelOffset > consumed ? pixelOffset - consumed : 0;
  if (stream.Remaining() - gap < pixelBytes) throw EReadError();
  if (gap > 0) stream.Seek(stream.Position() + gap);

  const int64_t rows = h.height < 0 ? -h.height : h.height;
  store.InitStore(int(h.width), int(rows), h.depth, compressed, plain, colours.data(), layout);
  ReadPixels(store, stream, compressed, pixelBytes, h.height < 0);
}

// Serves small reads from one larger read of the stream under it, so that reading a
// bitmap file takes one system call for all headers and colours and one for the pixels.
class TReadAheadStream final : public TStream {
 public:
  explicit TReadAheadStream(TStream& inner) : inner_(inner), size_(inner.Size()) {}

  int64_t Read(void* buffer, int64_t n) override {
    if (n <= 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = std::min<int64_t>(n, length_ - next_);
    std::memcpy(out, buffer_ + next_, size_t(done));
    next_ += done;
    if (done == n) return done;
    if (n - done >= kReadAheadBytes) return done + inner_.Read(out + done, n - done);
    const int64_t want = std::clamp<int64_t>(size_ - inner_.Position(), 0, kReadAheadBytes);
    length_ = want > 0 ? inner_.Read(buffer_, want) : 0;
    next_ = 0;
    const int64_t more = std::min<int64_t>(n - done, length_);
    std::memcpy(out + done, buffer_, size_t(more));
    next_ = more;
    return done + more;
  }
  void Write(const void*, int64_t) override { throw EWriteError(); }
  int64_t Size() override { return size_; }
  int64_t Position() const override { return inner_.Position() - (length_ - next_); }
  void Seek(int64_t position) override {
    inner_.Seek(position);
    length_ = next_ = 0;
  }

 private:
  TStream& inner_;
  int64_t size_;
  uint8_t buffer_[kReadAheadBytes];
  int64_t length_ = 0;
  int64_t next_ = 0;
};

}  // namespace

void TDIBSharedImage::ReadPacked(TStream& stream, bool plain) {
  ReadPackedInto(*this, stream, plain, -1);
}

void TDIB::ReadBitmapStream(TStream& stream) {
  uint8_t fileHeader[kFileHeaderSize];
  const int64_t got = stream.Read(fileHeader, kFileHeaderSize);
  if (got == 0) return;
  if (got < kFileHeaderSize || fileHeader[0] != 'B' || fileHeader[1] != 'M') ThrowInvalid();
  const int64_t pixelOffset =
      std::max<int64_t>(int64_t(GetU32(fileHeader + 10)) - kFileHeaderSize, 0);
  auto store = std::make_shared<TDIBSharedImage>();
  ReadPackedInto(*store, stream, store_->plain, pixelOffset);
  ReplaceStore(std::move(store));
}

void TDIB::ReadBitmapFile(const QString& path) {
  TFileStream file(path, TFile::Mode::Read);
  TReadAheadStream stream(file);
  ReadBitmapStream(stream);
}

void TDIB::ReadPackedDIB(TStream& stream) {
  auto store = std::make_shared<TDIBSharedImage>();
  ReadPackedInto(*store, stream, store_->plain, -1);
  ReplaceStore(std::move(store));
}

void TDIB::WriteBitmapStream(TStream& stream) const {
  if (IsEmpty()) return;
  const TDIBSharedImage& store = *store_;
  const int64_t headerBytes = int64_t(store.header.size());
  const int64_t pixelBytes = std::min<int64_t>(GetU32(store.header.data() + 20), store.size);
  // The headers go out in one write and the pixels in another; small pictures are
  // gathered into a single write, which costs less than a second system call.
  const bool gather = pixelBytes <= kGatherWriteBytes;
  std::vector<uint8_t> head(size_t(kFileHeaderSize + headerBytes + (gather ? pixelBytes : 0)));
  bmp::EncodeFileHeader(head.data(), uint32_t(kFileHeaderSize + headerBytes + pixelBytes),
                        uint32_t(kFileHeaderSize + headerBytes));
  std::memcpy(&head[kFileHeaderSize], store.header.data(), size_t(headerBytes));
  if (gather && pixelBytes > 0)
    std::memcpy(&head[size_t(kFileHeaderSize + headerBytes)], store.pixels, size_t(pixelBytes));
  stream.Write(head.data(), int64_t(head.size()));
  if (!gather) stream.Write(store.pixels, pixelBytes);
}

void TDIB::WriteBitmapFile(const QString& path) const {
  TFileStream stream(path, TFile::Mode::Create);
  WriteBitmapStream(stream);
}

void TDIB::WritePackedDIB(TStream& stream) const {
  if (IsEmpty()) return;
  const TDIBSharedImage& store = *store_;
  const int64_t pixelBytes = std::min<int64_t>(GetU32(store.header.data() + 20), store.size);
  stream.Write(store.header.data(), int64_t(store.header.size()));
  stream.Write(store.pixels, pixelBytes);
}

void TDIB::FromClipboardData(const QByteArray& data) {
  TGlobalMemoryStream stream(data);
  ReadPackedDIB(stream);
}

TClipboardData TDIB::ToClipboardData() const {
  TMemoryStream stream;
  WritePackedDIB(stream);
  TClipboardData result;
  result.format = kClipboardFormatDib;
  result.data = stream.Bytes();
  return result;
}

const std::vector<TPictureFormat>& RegisteredDibFormats() {
  static const std::vector<TPictureFormat> formats{
      {QStringLiteral("dib"), QStringLiteral("Device Independent Bitmap")}};
  return formats;
}

bool IsDibExtension(const QString& extension) {
  const QString bare = extension.startsWith(QLatin1Char('.')) ? extension.mid(1) : extension;
  if (bare.isEmpty()) return false;
  for (const TPictureFormat& format : RegisteredDibFormats())
    if (bare.compare(format.extension, Qt::CaseInsensitive) == 0) return true;
  return false;
}
