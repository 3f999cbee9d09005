#include "bitmap/dib.h"

#include <QPainter>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "bitmap/bmpformat.h"
#include "common/byteio.h"
#include "common/errors.h"

namespace {

// Shifts left by s bits, or right by -s bits when s is negative; shifts of 32 bits or
// more give 0, so that odd layouts never shift by an undefined amount.
uint32_t ShiftBy(uint32_t value, int32_t s) {
  if (s >= 0) return s < 32 ? value << s : 0;
  return s > -32 ? value >> -s : 0;
}

// Width of a channel mask: the run of 1 bits that starts at its lowest set bit.
int MaskWidth(uint32_t mask) {
  int low = 0;
  while (low <= 30 && !(mask & (uint32_t(1) << low))) ++low;
  if (low > 30) return 0;
  int width = 0;
  while (low + width < 32 && (mask & (uint32_t(1) << (low + width)))) ++width;
  return width;
}

// Largest pixel block a store holds: the header's image-size field is 32 bits, and
// RowBytes and the sizes derived from it are kept in int.
constexpr int64_t kMaxStoreSize = INT32_MAX;

}  // namespace

// ---------------------------------------------------------------------------------
// Channel layouts

ChannelLayout ChannelLayout::FromBits(int r, int g, int b) {
  r = std::clamp(r, 0, 32);
  g = std::clamp(g, 0, 32);
  b = std::clamp(b, 0, 32);
  auto ones = [](int n) { return (uint64_t(1) << n) - 1; };
  ChannelLayout l;
  l.RedMask = int32_t(uint32_t(ones(r) << std::min(g + b, 63)));
  l.GreenMask = int32_t(uint32_t(ones(g) << b));
  l.BlueMask = int32_t(uint32_t(ones(b)));
  l.RedBits = r;
  l.GreenBits = g;
  l.BlueBits = b;
  l.RedShift = r + g + b - 8;
  l.GreenShift = g + b - 8;
  l.BlueShift = 8 - b;
  l.RedFill = 8 - r;
  l.GreenFill = 8 - g;
  l.BlueFill = 8 - b;
  return l;
}

ChannelLayout ChannelLayout::FromMasks(uint32_t red, uint32_t green, uint32_t blue) {
  return FromBits(MaskWidth(red), MaskWidth(green), MaskWidth(blue));
}

uint32_t ChannelLayout::Pack(uint8_t r, uint8_t g, uint8_t b) const {
  return (ShiftBy(r, RedShift) & uint32_t(RedMask)) |
         (ShiftBy(g, GreenShift) & uint32_t(GreenMask)) |
         (ShiftBy(b, -BlueShift) & uint32_t(BlueMask));
}

void ChannelLayout::Unpack(uint32_t pixel, uint8_t& r, uint8_t& g, uint8_t& b) const {
  const uint32_t r8 = ShiftBy(pixel & uint32_t(RedMask), -RedShift) & 0xFF;
  const uint32_t g8 = ShiftBy(pixel & uint32_t(GreenMask), -GreenShift) & 0xFF;
  const uint32_t b8 = ShiftBy(pixel & uint32_t(BlueMask), BlueShift) & 0xFF;
  // The top bits of each channel are repeated in the low bits, so that a 5-bit 31
  // becomes 255 and a 5-bit 16 becomes 132.  (Shifting the widened value right by the
  // fill width instead would give 144 for 16, and a picture taken from 16 to 24 bits and
  // back would change colour.)
  r = uint8_t(r8 | ShiftBy(r8, -RedBits));
  g = uint8_t(g8 | ShiftBy(g8, -GreenBits));
  b = uint8_t(b8 | ShiftBy(b8, -BlueBits));
}

const ChannelLayout& Layout888() {
  static const ChannelLayout layout = ChannelLayout::FromBits(8, 8, 8);
  return layout;
}

const ChannelLayout& Layout555() {
  static const ChannelLayout layout = ChannelLayout::FromBits(5, 5, 5);
  return layout;
}

const ChannelLayout& Layout565() {
  static const ChannelLayout layout = ChannelLayout::FromBits(5, 6, 5);
  return layout;
}

// ---------------------------------------------------------------------------------
// Pixel blocks

namespace {

// Under AddressSanitizer every block is exactly its size, so that an overrun is caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooling = false;
#else
constexpr bool kPooling = true;
#endif

// Freed blocks kept for reuse.  A picture that is remade at the same size again and
// again (the library object's work picture) then writes into memory it touched before.
class BlockPool {
 public:
  static constexpr size_t kMaxBlocks = 4;
  static constexpr int64_t kMaxPooledCapacity = int64_t(256) << 20;

  ~BlockPool() {
    std::lock_guard lock(mutex_);
    for (auto& b : blocks_) std::free(b.data);
    blocks_.clear();
    gone = true;
  }

  // A kept block of at least size bytes that does not waste much, or null.
  uint8_t* Take(int64_t size, int64_t& capacity) {
    std::lock_guard lock(mutex_);
    size_t best = blocks_.size();
    for (size_t i = 0; i < blocks_.size(); ++i) {
      const int64_t c = blocks_[i].capacity;
      if (c < size || c > size * 2 + 65536) continue;
      if (best == blocks_.size() || c < blocks_[best].capacity) best = i;
    }
    if (best == blocks_.size()) return nullptr;
    uint8_t* data = blocks_[best].data;
    capacity = blocks_[best].capacity;
    blocks_.erase(blocks_.begin() + ptrdiff_t(best));
    return data;
  }

  void Give(uint8_t* data, int64_t capacity) {
    if (capacity > kMaxPooledCapacity || !kPooling) {
      std::free(data);
      return;
    }
    uint8_t* drop = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (blocks_.size() >= kMaxBlocks) {
        drop = blocks_.front().data;
        blocks_.erase(blocks_.begin());
      }
      blocks_.push_back({data, capacity});
    }
    std::free(drop);
  }

  static inline bool gone = false;

 private:
  struct Block {
    uint8_t* data;
    int64_t capacity;
  };
  std::mutex mutex_;
  std::vector<Block> blocks_;
};

BlockPool& Pool() {
  static BlockPool pool;
  return pool;
}

}  // namespace

void TPixelBlock::Allocate(int64_t size) {
  Release();
  if (size <= 0) return;
  if (uint64_t(size) > SIZE_MAX) throw EOutOfMemory();
  int64_t capacity = 0;
  uint8_t* data = BlockPool::gone ? nullptr : Pool().Take(size, capacity);
  if (!data) {
    data = static_cast<uint8_t*>(std::malloc(size_t(size)));
    if (!data) throw EOutOfMemory();
    capacity = size;
  }
  data_ = data;
  size_ = size;
  capacity_ = capacity;
}

void TPixelBlock::Release() {
  if (!data_) return;
  if (BlockPool::gone)
    std::free(data_);
  else
    Pool().Give(data_, capacity_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

// ---------------------------------------------------------------------------------
// Shared store

TDIBSharedImage::~TDIBSharedImage() = default;

void TDIBSharedImage::Reset(bool plainStore) {
  block.Release();
  depth = 0;
  header.clear();
  for (int i = 0; i < 256; ++i) {
    colorTable[size_t(i * 4)] = colorTable[size_t(i * 4 + 1)] = colorTable[size_t(i * 4 + 2)] =
        uint8_t(i);
    colorTable[size_t(i * 4 + 3)] = 0;
  }
  colorOffset = 40;
  compressed = false;
  plain = plainStore;
  height = 0;
  rowStep = 0;
  colorCount = 0;
  pixels = nullptr;
  layout = Layout888();
  size = 0;
  topRow = nullptr;
  width = 0;
  rowBytes = 0;
}

void TDIBSharedImage::InitStore(int w, int h, int d, bool compress, bool plainStore,
                                const uint8_t* colours, const ChannelLayout& lay) {
  Reset(plainStore);
  switch (d) {
    case 1:
    case 4:
    case 24:
    case 32:
      if (!lay.SameMasks(Layout888()))
        throw EInvalidGraphicOperation(std::string("PixelFormat in invalid"));
      break;
    case 8:
      break;
    case 16:
      if (!lay.SameMasks(Layout555()) && !lay.SameMasks(Layout565()))
        throw EInvalidGraphicOperation(std::string("PixelFormat in invalid"));
      break;
    default:
      throw EInvalidGraphicOperation(QString::asprintf("Bitcount in invalid (%d)", d));
  }
  // A picture without rows or columns holds nothing: it is the empty state.
  if (w <= 0 || h <= 0) return;

  const int64_t rb = DibRowBytes(d, w);
  const int64_t total = rb * int64_t(h);
  if (total > kMaxStoreSize) throw EOutOfMemory();

  const bool masks = d == 16 || d == 32;
  const int count = d <= 8 ? 1 << d : 0;
  uint32_t compression = bmp::kCompressionNone;
  if (masks)
    compression = bmp::kCompressionBitFields;
  else if (compress && d == 4)
    compression = bmp::kCompressionRle4;
  else if (compress && d == 8)
    compression = bmp::kCompressionRle8;

  depth = d;
  height = h;
  width = w;
  rowBytes = int(rb);
  rowStep = -rowBytes;
  size = total;
  layout = lay;
  colorCount = count;
  colorOffset = bmp::kInfoHeaderSize + (masks ? bmp::kMaskBytes : 0);

  header.assign(size_t(colorOffset + 4 * count), 0);
  uint8_t* hb = header.data();
  bmp::EncodeInfoHeader(hb, w, h, d, compression, uint32_t(total));
  if (masks) bmp::EncodeMasks(hb + bmp::kInfoHeaderSize, lay);

  if (colours)
    std::memcpy(colorTable.data(), colours, colorTable.size());
  else
    colorTable.fill(0);
  if (count > 0) std::memcpy(hb + colorOffset, colorTable.data(), size_t(count) * 4);

  compressed = compression == bmp::kCompressionRle8 || compression == bmp::kCompressionRle4;
  plain = plainStore || compressed;

  if (!compressed) {
    block.Allocate(size);
    pixels = block.Data();
    topRow = pixels + int64_t(height - 1) * rowBytes;
  }
}

void TDIBSharedImage::Duplicate(const TDIBSharedImage& source, bool plainStore) {
  if (source.size == 0 || !source.pixels) {
    Reset(plainStore);
    return;
  }
  InitStore(source.width, source.height, source.depth, source.compressed, plainStore,
            source.colorTable.data(), source.layout);
  if (source.compressed) {
    block.Allocate(source.size);
    pixels = block.Data();
    topRow = pixels;
    size = source.size;
    std::memcpy(pixels, source.pixels, size_t(size));
    PutU32(header.data() + 20, uint32_t(size));
  } else {
    std::memcpy(pixels, source.pixels, size_t(std::min(size, source.size)));
  }
}

namespace {

// Decodes run-length data into zeroed rows: out is the bottom row and rowStep the
// distance from a row to the one above it (negative for rows held top row first, as in a
// QImage).  Every write is checked against the picture and every read against the data:
// runs and skips that go past the end of a row are cut there, anything above the top row
// is dropped, and data that end early leave the rest of the picture 0.
void DecodeRunLength(const uint8_t* data, int64_t length, int depth, uint8_t* out, int width,
                     int height, int64_t rowStep) {
  const bool four = depth == 4;
  int64_t x = 0, y = 0;
  int64_t pos = 0;
  auto put = [&](int64_t px, uint8_t value) {
    bmp::PutIndex(out + y * rowStep, depth, int(px), value);
  };
  while (y < height && pos + 2 <= length) {
    const int count = data[pos];
    const int code = data[pos + 1];
    pos += 2;
    if (count > 0) {
      const int64_t n = std::min<int64_t>(count, width - x);
      for (int64_t k = 0; k < n; ++k)
        put(x + k, four ? uint8_t((k & 1) ? code & 0x0F : code >> 4) : uint8_t(code));
      x += n;
      continue;
    }
    if (code == 0) {  // end of row
      x = 0;
      ++y;
    } else if (code == 1) {  // end of picture
      break;
    } else if (code == 2) {  // move right and up
      if (pos + 2 > length) break;
      x = std::min<int64_t>(x + data[pos], width);
      y += data[pos + 1];
      pos += 2;
    } else {  // literal run of code pixels, padded to an even number of bytes
      const int64_t bytes = four ? (code + 1) / 2 : code;
      const int64_t available = std::min<int64_t>(bytes, length - pos);
      const int64_t pixelsThere = four ? std::min<int64_t>(code, available * 2) : available;
      const int64_t n = std::min<int64_t>(pixelsThere, width - x);
      for (int64_t k = 0; k < n; ++k) put(x + k, uint8_t(bmp::IndexAt(data + pos, depth, int(k))));
      x += n;
      if (available < bytes) break;
      pos += bytes;
      pos += pos & 1;
    }
  }
}

}  // namespace

void TDIBSharedImage::Decompress(const TDIBSharedImage& source, bool plainStore) {
  if (!source.compressed) {
    Duplicate(source, plainStore);
    return;
  }
  InitStore(source.width, source.height, source.depth, false, plainStore, source.colorTable.data(),
            source.layout);
  if (size == 0) return;
  std::memset(pixels, 0, size_t(size));
  if (source.pixels && source.size > 0 && (depth == 8 || depth == 4))
    DecodeRunLength(source.pixels, source.size, depth, pixels, width, height, rowBytes);
}

void TDIBSharedImage::SetStoreColors(const uint8_t* colours) {
  std::memcpy(colorTable.data(), colours, colorTable.size());
  if (size > 0 && colorCount > 0 && header.size() >= size_t(colorOffset) + size_t(colorCount) * 4)
    std::memcpy(header.data() + colorOffset, colorTable.data(), size_t(colorCount) * 4);
}

const std::shared_ptr<TDIBSharedImage>& EmptyStore() {
  static const std::shared_ptr<TDIBSharedImage> store = [] {
    auto s = std::make_shared<TDIBSharedImage>();
    s->Reset(true);
    return s;
  }();
  return store;
}

// ---------------------------------------------------------------------------------
// TDIB

TDIB::TDIB() {
  ReplaceStore(EmptyStore());
}

TDIB::~TDIB() = default;

TDIB::TDIB(const TDIB& other) {
  ReplaceStore(other.store_);
}

TDIB& TDIB::operator=(const TDIB& other) {
  if (this != &other) ReplaceStore(other.store_);
  return *this;
}

void TDIB::ReplaceStore(std::shared_ptr<TDIBSharedImage> store) {
  if (store == store_) return;
  store_ = std::move(store);
  const TDIBSharedImage& s = *store_;
  ColorEntries = s.colorTable;
  RequestedLayout = s.layout;
  currentLayout_ = s.layout;
  depth_ = s.depth;
  height_ = s.height;
  rowStep_ = s.rowStep;
  pixels_ = s.pixels;
  size_ = s.size;
  topRow_ = s.topRow;
  width_ = s.width;
  rowBytes_ = s.rowBytes;
}

void TDIB::MakePrivate(bool allowPlain) {
  const TDIBSharedImage& s = *store_;
  if (store_.use_count() <= 1 && !s.compressed && (allowPlain || !s.plain)) return;
  auto fresh = std::make_shared<TDIBSharedImage>();
  fresh->Decompress(s, s.plain && allowPlain);
  ReplaceStore(std::move(fresh));
}

// A new width or height of 0 or less empties the picture; an empty picture that gets a
// side becomes 8-bit, its other side at least 1.
void TDIB::ChangeSide(int w, int h, bool empties) {
  if (empties)
    MakeEmpty();
  else if (IsEmpty())
    Recreate(std::max(w, 1), std::max(h, 1), 8);
  else
    Recreate(w, h, depth_);
}

void TDIB::ChangeWidth(int w) {
  ChangeSide(w, height_, w <= 0);
}

void TDIB::ChangeHeight(int h) {
  ChangeSide(width_, h, h <= 0);
}

void TDIB::ChangeBitDepth(int n) {
  if (n <= 0)
    MakeEmpty();
  else if (IsEmpty())
    Recreate(std::max(width_, 1), std::max(height_, 1), n);
  else
    ConvertBitDepth(n);
}

// ConvertBitDepth, which carries the pixels over to the new depth, and CopyFrom live in
// dibassign.cpp.

void TDIB::Recreate(int w, int h, int n) {
  if (w == width_ && h == height_ && n == depth_ && RequestedLayout.SameMasks(currentLayout_))
    return;
  if (w <= 0 || h <= 0) {
    MakeEmpty();
    return;
  }
  // A failing InitStore frees the new store; the picture keeps the one it has.
  auto fresh = std::make_shared<TDIBSharedImage>();
  fresh->InitStore(w, h, n, false, store_->plain, ColorEntries.data(), RequestedLayout);
  ReplaceStore(std::move(fresh));
  paletteModified_ = true;
}

void TDIB::MakeEmpty() {
  ReplaceStore(EmptyStore());
}

void TDIB::CommitColors() {
  if (ColorEntries == store_->colorTable) return;
  const TColorTable wanted = ColorEntries;
  MakePrivate(true);
  ColorEntries = wanted;
  store_->SetStoreColors(wanted.data());
  paletteModified_ = true;
}

uint8_t* TDIB::PixelData() {
  MakePrivate(true);
  return pixels_;
}

uint8_t* TDIB::RowAt(int y) {
  if (y < 0 || y >= height_)
    throw EInvalidGraphicOperation(
        QString::asprintf("Index of the scanning line exceeded the range. (%d)", y));
  MakePrivate(true);
  return topRow_ - int64_t(y) * rowBytes_;
}

TDIBCanvas& TDIB::Surface() {
  if (store_->plain) {
    auto fresh = std::make_shared<TDIBSharedImage>();
    fresh->Decompress(*store_, false);
    ReplaceStore(std::move(fresh));
  }
  if (!surface_) surface_ = std::make_unique<TDIBCanvas>(*this);
  return *surface_;
}

// ---------------------------------------------------------------------------------
// Conversion to QImage and drawing

namespace {

QVector<QRgb> ColourTableOf(const TDIBSharedImage& s, int count) {
  QVector<QRgb> table(count);
  for (int i = 0; i < count; ++i) table[i] = bmp::EntryColour(&s.colorTable[size_t(i * 4)]);
  return table;
}

// A store of 1, 4 or 8 bits as an indexed image (1 bit stays 1 bit).
QImage IndexedImageOfStore(const TDIBSharedImage& s) {
  const int w = s.width, h = s.height;
  auto row = [&](int y) -> const uint8_t* { return s.topRow - int64_t(y) * s.rowBytes; };
  QImage image(w, h, s.depth == 1 ? QImage::Format_Mono : QImage::Format_Indexed8);
  if (image.isNull()) return {};
  image.setColorTable(ColourTableOf(s, s.depth == 1 ? 2 : s.depth == 4 ? 16 : s.colorCount));
  if (s.depth == 1) {
    const size_t n = size_t(std::min<int64_t>(s.rowBytes, image.bytesPerLine()));
    for (int y = 0; y < h; ++y) std::memcpy(image.scanLine(y), row(y), n);
  } else if (s.depth == 4) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = row(y);
      uint8_t* dst = image.scanLine(y);
      for (int x = 0; x < w; ++x) dst[x] = uint8_t(bmp::IndexAt(src, 4, x));
    }
  } else if (s.compressed) {
    // Run-length data are decoded straight into the image, which has the same rows as a
    // decoded store: no decoded copy is held beside it.
    image.fill(0);
    DecodeRunLength(s.pixels, s.size, 8, image.scanLine(h - 1), w, h, -image.bytesPerLine());
  } else {
    for (int y = 0; y < h; ++y) std::memcpy(image.scanLine(y), row(y), size_t(w));
  }
  return image;
}

// A store of 16, 24 or 32 bits as an image of the same colours.
QImage DirectImageOfStore(const TDIBSharedImage& s) {
  const int w = s.width, h = s.height;
  auto row = [&](int y) -> const uint8_t* { return s.topRow - int64_t(y) * s.rowBytes; };
  const QImage::Format format = s.depth == 24                     ? QImage::Format_BGR888
                                : s.depth == 32                   ? QImage::Format_RGB32
                                : s.layout.SameMasks(Layout565()) ? QImage::Format_RGB16
                                                                  : QImage::Format_RGB555;
  QImage image(w, h, format);
  if (image.isNull()) return {};
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = row(y);
    if (s.depth == 24) {
      std::memcpy(image.scanLine(y), src, size_t(w) * 3);
    } else if (s.depth == 32) {
      auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < w; ++x) dst[x] = GetU32(src + 4 * x) | 0xFF000000u;
    } else {
      auto* dst = reinterpret_cast<quint16*>(image.scanLine(y));
      for (int x = 0; x < w; ++x) dst[x] = GetU16(src + 2 * x);
    }
  }
  return image;
}

QImage ImageOfStore(const TDIBSharedImage& s) {
  if (s.size <= 0 || !s.pixels || s.width <= 0 || s.height <= 0) return {};
  switch (s.depth) {
    case 1:
    case 4:
    case 8:
      return IndexedImageOfStore(s);
    case 16:
    case 24:
    case 32:
      return DirectImageOfStore(s);
    default:
      return {};
  }
}

}  // namespace

QImage TDIB::ToImage() const {
  // 4-bit run-length data are decoded into a store first and widened to 8 bits from it.
  if (store_->compressed && store_->depth != 8) {
    TDIBSharedImage decoded;
    decoded.Decompress(*store_, true);
    return ImageOfStore(decoded);
  }
  return ImageOfStore(*store_);
}

void TDIB::DrawInto(QPainter& painter, const QRect& rect) const {
  if (size_ < 1) return;
  const QImage image = ToImage();
  if (image.isNull()) return;
  const bool smooth = painter.renderHints().testFlag(QPainter::SmoothPixmapTransform);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(rect, image);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}
