#pragma once

// The program's own picture class: rows of pixels laid out as in a bitmap file, with
// a colour table, held in a reference-counted store that pictures share until one of
// them writes (copy-on-write).

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "common/stream.h"

class QPainter;

// 256 colour entries of 4 bytes: blue, green, red, 0.  The library palette, the colour
// table of a bitmap file and ColorEntries all share this form.
using TColorTable = std::array<uint8_t, 1024>;

// How red, green and blue are packed into a 16- or 32-bit pixel.
struct ChannelLayout {
  int32_t RedMask = 0, GreenMask = 0, BlueMask = 0;
  int32_t RedBits = 0, GreenBits = 0, BlueBits = 0;
  int32_t RedShift = 0, GreenShift = 0, BlueShift = 0;
  int32_t RedFill = 0, GreenFill = 0, BlueFill = 0;

  static ChannelLayout FromBits(int r, int g, int b);
  static ChannelLayout FromMasks(uint32_t red, uint32_t green, uint32_t blue);

  // Packs 8-bit channel values into a pixel of this layout.
  uint32_t Pack(uint8_t r, uint8_t g, uint8_t b) const;
  // Unpacks a pixel into 8-bit channel values, repeating the top bits in the low ones.
  void Unpack(uint32_t pixel, uint8_t& r, uint8_t& g, uint8_t& b) const;

  bool SameMasks(const ChannelLayout& other) const {
    return RedMask == other.RedMask && GreenMask == other.GreenMask && BlueMask == other.BlueMask;
  }
};

const ChannelLayout& Layout888();
const ChannelLayout& Layout555();
const ChannelLayout& Layout565();

// A pixel block of ordinary memory.  Blocks are recycled, because the first touch of
// fresh memory costs far more than writing into memory already touched.
class TPixelBlock {
 public:
  TPixelBlock() = default;
  ~TPixelBlock() { Release(); }
  TPixelBlock(const TPixelBlock&) = delete;
  TPixelBlock& operator=(const TPixelBlock&) = delete;
  // Allocates size bytes (content not defined); throws EOutOfMemory.
  void Allocate(int64_t size);
  void Release();
  uint8_t* Data() const { return data_; }
  int64_t Size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t capacity_ = 0;
};

// The shared store behind TDIB pictures.
class TDIBSharedImage {
 public:
  TDIBSharedImage() = default;
  ~TDIBSharedImage();
  TDIBSharedImage(const TDIBSharedImage&) = delete;
  TDIBSharedImage& operator=(const TDIBSharedImage&) = delete;

  // Makes the store; throws EInvalidGraphicOperation for a depth or layout that is not
  // accepted.  The pixel content is not defined (compressed stores get no block).
  void InitStore(int width, int height, int depth, bool compressed, bool plain,
                 const uint8_t* colours, const ChannelLayout& layout);
  void Duplicate(const TDIBSharedImage& source, bool plain);
  void Decompress(const TDIBSharedImage& source, bool plain);
  void SetStoreColors(const uint8_t* colours);
  // Reads a packed DIB (information header, masks, colours, pixels) from a stream.
  void ReadPacked(TStream& stream, bool plain);

  // Reset to the state of the empty store, with the given plain flag.
  void Reset(bool plain);

  int depth = 0;
  std::vector<uint8_t> header;  // the header block, exactly as written to files
  TColorTable colorTable{};
  int colorOffset = 40;
  bool compressed = false;
  bool plain = true;  // false: the store is drawable (it has been drawn on)
  int height = 0;
  int rowStep = 0;  // -rowBytes
  int colorCount = 0;
  uint8_t* pixels = nullptr;  // bottom row first
  ChannelLayout layout;
  int64_t size = 0;
  uint8_t* topRow = nullptr;
  int width = 0;
  int rowBytes = 0;

  TPixelBlock block;
};

// The store every new or emptied picture refers to.
const std::shared_ptr<TDIBSharedImage>& EmptyStore();

// Row size in bytes of a picture: rows are padded to a multiple of 4 bytes.
inline int64_t DibRowBytes(int64_t depth, int64_t width) {
  return ((depth * width + 31) / 32) * 4;
}

// The most pixel bytes a picture read from a bitmap file or packed DIB may hold once
// decoded; larger ones are refused as invalid.
constexpr int64_t kMaxReadPixelBytes = int64_t(256) << 20;

class TDIB;

// The drawing surface of a picture.  It offers what the program draws on pictures:
// filling a rectangle with a colour, and drawing another picture at a position so that
// each pixel gets the nearest colour of an 8-bit (or lower) picture's colour table.
class TDIBCanvas {
 public:
  explicit TDIBCanvas(TDIB& owner) : owner_(owner) {}
  void FillRect(const QRect& rect, QRgb colour);
  void Draw(int x, int y, const QImage& picture);
  void Draw(int x, int y, const TDIB& picture);

 private:
  TDIB& owner_;
};

// Anything that can be handed to TDIB::CopyFrom.  Objects that are not pictures are
// refused there with EConvertError.
class TPersistent {
 public:
  virtual ~TPersistent() = default;
  virtual QString ClassName() const = 0;
};

// A picture of another kind: it knows its size and draws itself onto a canvas.
class TGraphic : public TPersistent {
 public:
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void Draw(TDIBCanvas& canvas, int x, int y) const = 0;
};

class TPicture;

// What ToClipboardData hands over: the packed-DIB clipboard format 8 and its bytes.
struct TClipboardData {
  int format = 8;
  QByteArray data;
};

class TDIB {
 public:
  TDIB();
  ~TDIB();
  // Copies share the store.
  TDIB(const TDIB& other);
  TDIB& operator=(const TDIB& other);

  bool IsEmpty() const { return ImageSize() == 0; }
  int PixelWidth() const { return width_; }
  int PixelHeight() const { return height_; }
  int BitDepth() const { return depth_; }
  int RowBytes() const { return rowBytes_; }
  int64_t ImageSize() const { return size_; }
  const ChannelLayout& CurrentLayout() const { return currentLayout_; }

  void ChangeWidth(int w);
  void ChangeHeight(int h);
  void ChangeBitDepth(int n);
  void Recreate(int w, int h, int n);
  void MakeEmpty();
  // Takes over the picture of a source.  Nothing (or an empty holder) empties the
  // picture; another TDIB is shared, not copied; a QImage keeps its colour table and
  // depth; any other graphic becomes a 24-bit picture.  Objects that are not pictures
  // throw EConvertError.  On failure the picture stays as it was.
  void CopyFrom(std::nullptr_t);
  void CopyFrom(const TDIB& source);
  void CopyFrom(const QImage& source);
  void CopyFrom(const TPicture& source);
  void CopyFrom(const TPersistent& source);
  void CommitColors();
  // Direct access to the pixel block (bottom row first); ImageSize bytes.
  uint8_t* PixelData();
  // Row y counted from the top; throws for a row outside the picture.
  uint8_t* RowAt(int y);
  TDIBCanvas& Surface();

  // Draws the whole picture stretched into rect (nearest neighbour).
  void DrawInto(QPainter& painter, const QRect& rect) const;
  // The picture as a QImage (top row first), for drawing and saving elsewhere.
  QImage ToImage() const;

  // Bitmap files, packed DIBs and clipboard data.
  void ReadBitmapStream(TStream& stream);
  void ReadBitmapFile(const QString& path);
  void WriteBitmapStream(TStream& stream) const;
  void WriteBitmapFile(const QString& path) const;
  void ReadPackedDIB(TStream& stream);
  void WritePackedDIB(TStream& stream) const;
  void FromClipboardData(const QByteArray& data);
  TClipboardData ToClipboardData() const;

  // Read-only views of the store, for callers that read pixels without writing.
  const TDIBSharedImage& Store() const { return *store_; }
  const uint8_t* ConstPixelData() const { return store_->pixels; }
  bool SharesStoreWith(const TDIB& other) const { return store_ == other.store_; }
  bool IsCompressed() const { return store_->compressed; }
  bool IsPlain() const { return store_->plain; }
  bool PaletteModified() const { return paletteModified_; }
  void SetPaletteModified(bool value) { paletteModified_ = value; }

  // The picture's own colour table; apply changes with CommitColors.
  TColorTable ColorEntries{};
  // The layout given to new stores of depth 16 or 32.
  ChannelLayout RequestedLayout;

 private:
  friend class TDIBCanvas;
  void ReplaceStore(std::shared_ptr<TDIBSharedImage> store);
  void MakePrivate(bool allowPlain);
  // ChangeBitDepth on a picture that holds pixels.
  void ConvertBitDepth(int n);
  void CopyFromGraphic(const TGraphic& source);
  // Takes over the store of a picture that was changed in place of this one.
  void Adopt(const TDIB& work);
  void ChangeSide(int w, int h, bool empties);

  std::unique_ptr<TDIBCanvas> surface_;
  std::shared_ptr<TDIBSharedImage> store_;
  int depth_ = 0;
  int height_ = 0;
  int rowStep_ = 0;
  ChannelLayout currentLayout_;
  uint8_t* pixels_ = nullptr;
  int64_t size_ = 0;
  uint8_t* topRow_ = nullptr;
  int width_ = 0;
  int rowBytes_ = 0;
  bool paletteModified_ = false;
};

// A holder of one picture of any kind, or of none.
class TPicture : public TPersistent {
 public:
  using Content = std::variant<std::monostate, TDIB, QImage, std::shared_ptr<const TGraphic>>;
  TPicture() = default;
  explicit TPicture(Content graphic) : Graphic(std::move(graphic)) {}
  QString ClassName() const override { return QStringLiteral("TPicture"); }

  Content Graphic;
};

// Picture formats read through TDIB ("dib"), looked up by extension without regard to
// case.  The picture loader of the editing code consults this list.
struct TPictureFormat {
  QString extension;
  QString description;
};
const std::vector<TPictureFormat>& RegisteredDibFormats();
bool IsDibExtension(const QString& extension);
