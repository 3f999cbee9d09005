// The picture class: store sizes and header block, copy-on-write, the palette cache,
// run-length decoding and conversion to QImage.

#include "bitmap/dib.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <cstring>
#include <vector>

#include "common/byteio.h"
#include "common/errors.h"

namespace {

TColorTable Ramp(int step) {
  TColorTable t{};
  for (int i = 0; i < 256; ++i) {
    t[size_t(i * 4)] = uint8_t(i * step);
    t[size_t(i * 4 + 1)] = uint8_t(i * step + 1);
    t[size_t(i * 4 + 2)] = uint8_t(i * step + 2);
  }
  return t;
}

TDIB Picture(int w, int h, int depth, const ChannelLayout& layout = Layout888()) {
  TDIB d;
  d.RequestedLayout = layout;
  d.Recreate(w, h, depth);
  return d;
}

template <class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const EJovError& e) {
    return e.what();
  }
  return "no error";
}

// A compressed store holding data as read from a file, for the decoder.
struct RunLengthSource {
  TDIBSharedImage store;
  std::vector<uint8_t> data;
  RunLengthSource(int w, int h, int depth, std::vector<uint8_t> bytes) : data(std::move(bytes)) {
    const TColorTable colours{};
    store.InitStore(w, h, depth, true, true, colours.data(), Layout888());
    store.pixels = data.data();
    store.size = int64_t(data.size());
  }
  ~RunLengthSource() { store.pixels = nullptr; }
  // Decoded rows, top row first.
  std::vector<std::vector<uint8_t>> Decode() {
    TDIBSharedImage out;
    out.Decompress(store, true);
    EXPECT_FALSE(out.compressed);
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < out.height; ++y) {
      const uint8_t* r = out.topRow - int64_t(y) * out.rowBytes;
      rows.emplace_back(r, r + out.rowBytes);
    }
    return rows;
  }
};

using Rows = std::vector<std::vector<uint8_t>>;

}  // namespace

TEST(DibTest, NewAndResizedPictures) {
  TDIB d;
  EXPECT_TRUE(d.IsEmpty());
  EXPECT_EQ(d.PixelWidth(), 0);
  EXPECT_EQ(d.PixelHeight(), 0);
  EXPECT_EQ(d.BitDepth(), 0);
  EXPECT_EQ(d.ColorEntries[400], 100);
  EXPECT_EQ(d.ColorEntries[401], 100);
  EXPECT_EQ(d.ColorEntries[402], 100);
  EXPECT_EQ(d.ColorEntries[403], 0);
  EXPECT_TRUE(d.CurrentLayout().SameMasks(Layout888()));
  EXPECT_TRUE(d.ToImage().isNull());

  d.ChangeBitDepth(8);
  EXPECT_EQ(d.PixelWidth(), 1);
  EXPECT_EQ(d.PixelHeight(), 1);
  EXPECT_EQ(d.BitDepth(), 8);
  EXPECT_EQ(d.RowBytes(), 4);
  EXPECT_EQ(d.ImageSize(), 4);

  d.ChangeWidth(5);
  d.ChangeHeight(3);
  EXPECT_EQ(d.PixelWidth(), 5);
  EXPECT_EQ(d.PixelHeight(), 3);
  EXPECT_EQ(d.BitDepth(), 8);
  EXPECT_EQ(d.RowBytes(), 8);
  EXPECT_EQ(d.ImageSize(), 24);
  EXPECT_TRUE(d.PaletteModified());

  TDIB fresh;
  fresh.ChangeHeight(7);  // an empty picture becomes 8-bit
  EXPECT_EQ(fresh.PixelWidth(), 1);
  EXPECT_EQ(fresh.BitDepth(), 8);

  d.ChangeWidth(0);
  EXPECT_TRUE(d.IsEmpty());
  EXPECT_TRUE(d.SharesStoreWith(TDIB()));
}

TEST(DibTest, RowSizesAndRowAccess) {
  struct {
    int depth, width, rowBytes;
  } cases[] = {{1, 1, 4}, {4, 9, 8}, {24, 3, 12}, {24, 5, 16}, {16, 3, 8}, {32, 3, 12}, {1, 33, 8}};
  for (const auto& c : cases) {
    TDIB d = Picture(c.width, 2, c.depth, c.depth == 16 ? Layout555() : Layout888());
    EXPECT_EQ(d.RowBytes(), c.rowBytes) << c.depth << " " << c.width;
    EXPECT_EQ(d.ImageSize(), 2 * c.rowBytes);
  }

  TDIB d = Picture(5, 3, 8);
  uint8_t* base = d.PixelData();
  EXPECT_EQ(d.RowAt(0), base + 2 * 8);
  EXPECT_EQ(d.RowAt(2), base);
  EXPECT_EQ(MessageOf([&] { d.RowAt(3); }), "Index of the scanning line exceeded the range. (3)");
  EXPECT_EQ(MessageOf([&] { d.RowAt(-1); }), "Index of the scanning line exceeded the range. (-1)");
}

TEST(DibTest, HeaderBlockBytes) {
  const TColorTable colours = Ramp(3);
  TDIBSharedImage s8;
  s8.InitStore(5, 3, 8, false, true, colours.data(), Layout888());
  ASSERT_EQ(s8.header.size(), 40u + 1024u);
  const uint8_t* h = s8.header.data();
  EXPECT_EQ(GetU32(h), 40u);
  EXPECT_EQ(GetI32(h + 4), 5);
  EXPECT_EQ(GetI32(h + 8), 3);
  EXPECT_EQ(GetU16(h + 12), 1);
  EXPECT_EQ(GetU16(h + 14), 8);
  EXPECT_EQ(GetU32(h + 16), 0u);
  EXPECT_EQ(GetU32(h + 20), 24u);
  for (int i = 24; i < 40; ++i) EXPECT_EQ(h[i], 0) << i;
  EXPECT_EQ(std::memcmp(h + 40, colours.data(), 1024), 0);
  EXPECT_EQ(s8.colorCount, 256);

  TDIBSharedImage s16;
  s16.InitStore(3, 2, 16, false, true, colours.data(), Layout565());
  ASSERT_EQ(s16.header.size(), 52u);
  EXPECT_EQ(GetU32(s16.header.data() + 16), 3u);
  EXPECT_EQ(GetU32(s16.header.data() + 20), 16u);
  EXPECT_EQ(GetU32(s16.header.data() + 40), 0xF800u);
  EXPECT_EQ(GetU32(s16.header.data() + 44), 0x7E0u);
  EXPECT_EQ(GetU32(s16.header.data() + 48), 0x1Fu);
  EXPECT_EQ(s16.colorOffset, 52);
  EXPECT_EQ(s16.colorCount, 0);

  TDIBSharedImage s4;
  s4.InitStore(3, 2, 4, true, false, colours.data(), Layout888());
  EXPECT_EQ(s4.header.size(), 40u + 64u);
  EXPECT_EQ(GetU32(s4.header.data() + 16), 2u);
  EXPECT_TRUE(s4.compressed);
  EXPECT_TRUE(s4.plain);
  EXPECT_EQ(s4.block.Data(), nullptr);

  TDIBSharedImage s32;
  s32.InitStore(1, 1, 32, false, true, colours.data(), Layout888());
  EXPECT_EQ(GetU32(s32.header.data() + 16), 3u);
  EXPECT_EQ(GetU32(s32.header.data() + 40), 0xFF0000u);
}

TEST(DibTest, RefusedDepthsAndLayoutsLeaveThePicture) {
  TDIBSharedImage s;
  const TColorTable colours{};
  EXPECT_EQ(MessageOf([&] { s.InitStore(1, 1, 2, false, true, colours.data(), Layout888()); }),
            "Bitcount in invalid (2)");
  EXPECT_EQ(MessageOf([&] { s.InitStore(1, 1, 24, false, true, colours.data(), Layout565()); }),
            "PixelFormat in invalid");
  EXPECT_EQ(MessageOf([&] { s.InitStore(1, 1, 8, false, true, colours.data(), Layout565()); }),
            "no error");

  TDIB d = Picture(4, 4, 16, Layout555());
  const TDIB before = d;
  d.RequestedLayout = Layout888();
  EXPECT_THROW(d.Recreate(6, 6, 16), EInvalidGraphicOperation);
  EXPECT_TRUE(d.SharesStoreWith(before));
  EXPECT_EQ(d.PixelWidth(), 4);
  EXPECT_TRUE(d.CurrentLayout().SameMasks(Layout555()));

  d.RequestedLayout = Layout565();
  d.Recreate(4, 4, 16);  // same size, other layout: a new store
  EXPECT_FALSE(d.SharesStoreWith(before));
  EXPECT_TRUE(d.CurrentLayout().SameMasks(Layout565()));
  const TDIB same = d;
  d.Recreate(4, 4, 16);
  EXPECT_TRUE(d.SharesStoreWith(same));

  // A size whose pixel block could not be described in the header is refused.
  EXPECT_THROW(d.Recreate(100000, 100000, 8), EOutOfMemory);
  EXPECT_TRUE(d.SharesStoreWith(same));
}

TEST(DibTest, ChannelLayouts) {
  const ChannelLayout l = ChannelLayout::FromMasks(0xF800, 0x7E0, 0x1F);
  EXPECT_TRUE(l.SameMasks(Layout565()));
  EXPECT_EQ(l.RedShift, 8);
  EXPECT_EQ(l.BlueShift, 3);
  // Masks above the low bits still count by their width.
  EXPECT_TRUE(ChannelLayout::FromMasks(0xFF000000u, 0xFF0000, 0xFF00).SameMasks(Layout888()));
  EXPECT_EQ(ChannelLayout::FromMasks(0, 0, 0).RedMask, 0);

  EXPECT_EQ(Layout555().Pack(255, 0, 255), 0x7C1Fu);
  EXPECT_EQ(Layout565().Pack(0x12, 0x34, 0x56), 0x11AAu);
  EXPECT_EQ(Layout888().Pack(1, 2, 3), 0x010203u);
  uint8_t r, g, b;
  Layout555().Unpack(0x7FFF, r, g, b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 255);
  EXPECT_EQ(b, 255);
  Layout555().Unpack(16 << 10, r, g, b);
  EXPECT_EQ(r, 132) << "top bits repeated in the low bits";
  // Every 16-bit pixel survives unpacking and packing again.
  for (const ChannelLayout* l : {&Layout555(), &Layout565()})
    for (uint32_t p = 0; p < 0x10000; ++p) {
      if (l == &Layout555() && p >= 0x8000) break;
      l->Unpack(p, r, g, b);
      ASSERT_EQ(l->Pack(r, g, b), p);
    }

  // Narrow and wide channels shift the other way round without going wrong.
  const ChannelLayout narrow = ChannelLayout::FromBits(1, 1, 1);
  EXPECT_EQ(narrow.Pack(255, 255, 255), 7u);
  EXPECT_EQ(narrow.Pack(127, 127, 127), 0u);
  narrow.Unpack(7, r, g, b);
  EXPECT_GE(r, 128);
  EXPECT_GE(b, 128);
  const ChannelLayout wide = ChannelLayout::FromBits(10, 10, 10);
  EXPECT_EQ(wide.Pack(255, 0, 0), 0x3FC00000u);
  wide.Unpack(0x3FC00000u, r, g, b);
  EXPECT_EQ(r, 255);
}

TEST(DibTest, CopiesShareUntilWritten) {
  TDIB a = Picture(4, 2, 8);
  std::memset(a.PixelData(), 7, size_t(a.ImageSize()));
  TDIB b = a;
  EXPECT_TRUE(b.SharesStoreWith(a));
  b.PixelData()[0] = 9;
  EXPECT_FALSE(b.SharesStoreWith(a));
  EXPECT_EQ(a.ConstPixelData()[0], 7);
  EXPECT_EQ(b.ConstPixelData()[1], 7);

  TDIB c;
  c = a;
  TDIB& alias = c;
  c = alias;
  EXPECT_TRUE(c.SharesStoreWith(a));
  c.CommitColors();  // nothing changed: still shared
  EXPECT_TRUE(c.SharesStoreWith(a));
  c.ColorEntries[0] = 200;
  c.CommitColors();
  EXPECT_FALSE(c.SharesStoreWith(a));
  EXPECT_EQ(c.Store().colorTable[0], 200);
  EXPECT_EQ(c.Store().header[40], 200);
  EXPECT_EQ(a.Store().colorTable[0], 0);
  EXPECT_EQ(a.ColorEntries[0], 0);
  EXPECT_EQ(c.ConstPixelData()[0], 7);

  // The surface makes the store drawable; remade stores keep the kind.
  EXPECT_TRUE(a.IsPlain());
  TDIBCanvas& canvas = a.Surface();
  EXPECT_FALSE(a.IsPlain());
  const TDIB snapshot = a;
  canvas.FillRect(QRect(0, 0, 4, 2), qRgb(0, 0, 0));
  EXPECT_FALSE(a.SharesStoreWith(snapshot));
  EXPECT_EQ(snapshot.ConstPixelData()[1], 7);
  EXPECT_EQ(a.ConstPixelData()[1], 0);
  a.ChangeWidth(8);
  EXPECT_FALSE(a.IsPlain());
  a.MakeEmpty();
  EXPECT_TRUE(a.IsPlain());
  a.ChangeWidth(3);
  EXPECT_TRUE(a.IsPlain());
}

TEST(DibTest, RunLength8Decoding) {
  RunLengthSource src(6, 3, 8, {3, 7,                    // run of three 7s
                                0, 3, 0xA, 0xB, 0xC, 0,  // literal of three, padded
                                0, 0,                    // end of row
                                0, 2, 2,   1,            // move 2 right, 1 up
                                1, 4,                    // one 4
                                0, 1,                    // end of picture
                                5, 9});                  // after the end: ignored
  const Rows rows = src.Decode();
  EXPECT_EQ(rows[2], (std::vector<uint8_t>{7, 7, 7, 0xA, 0xB, 0xC, 0, 0}));
  EXPECT_EQ(rows[1], (std::vector<uint8_t>(8, 0)));
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0, 0, 4, 0, 0, 0, 0, 0}));
}

TEST(DibTest, RunLength4Decoding) {
  RunLengthSource src(7, 2, 4, {3, 0x12,                       // 1 2 1
                                0, 3,    0xAB, 0xC0,           // literal A B C (two bytes, even)
                                1, 0xF0,                       // F
                                0, 0,                          // end of row
                                0, 5,    0x12, 0x34, 0x50, 0,  // literal 1 2 3 4 5, padded
                                2, 0xEE,                       // E E
                                0, 1});
  const Rows rows = src.Decode();
  EXPECT_EQ(rows[1], (std::vector<uint8_t>{0x12, 0x1A, 0xBC, 0xF0}));
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0x12, 0x34, 0x5E, 0xE0}));
}

TEST(DibTest, RunLengthDecodingStaysInsideThePicture) {
  // Runs and literals longer than the row are cut at its end and do not wrap.
  Rows rows = RunLengthSource(4, 2, 8, {0, 6, 1, 2, 3, 4, 5, 6, 0, 1}).Decode();
  EXPECT_EQ(rows[1], (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(rows[0], (std::vector<uint8_t>(4, 0)));
  rows = RunLengthSource(4, 2, 8, {255, 1, 2, 2, 0, 0, 1, 3}).Decode();
  EXPECT_EQ(rows[1], (std::vector<uint8_t>{1, 1, 1, 1}));
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{3, 0, 0, 0}));
  rows = RunLengthSource(4, 1, 4, {0, 9, 0x12, 0x34, 0x56, 0x78, 0x9A, 0, 2, 0xCC}).Decode();
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0x12, 0x34, 0, 0}));

  // A move far right and up past the top, then more rows than the picture has.
  rows = RunLengthSource(4, 2, 8, {0, 2, 250, 0, 3, 5, 0, 2, 0, 255, 4, 4}).Decode();
  EXPECT_EQ(rows[1], (std::vector<uint8_t>(4, 0)));
  rows = RunLengthSource(3, 2, 4, {0, 0, 0, 0, 0, 0, 0, 0, 2, 0x77, 0, 2}).Decode();
  EXPECT_EQ(rows[0], (std::vector<uint8_t>(4, 0)));

  // Data that end inside a literal, a move or a pair give what was there.
  rows = RunLengthSource(8, 1, 8, {2, 5, 0, 10, 1, 2, 3}).Decode();
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{5, 5, 1, 2, 3, 0, 0, 0}));
  rows = RunLengthSource(8, 1, 4, {0, 9, 0x12}).Decode();
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0x12, 0, 0, 0}));
  rows = RunLengthSource(2, 1, 8, {1, 9, 0, 2, 1}).Decode();
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{9, 0, 0, 0}));
  rows = RunLengthSource(2, 1, 8, {1}).Decode();
  EXPECT_EQ(rows[0], (std::vector<uint8_t>(4, 0)));
  rows = RunLengthSource(2, 1, 8, {}).Decode();
  EXPECT_EQ(rows[0], (std::vector<uint8_t>(4, 0)));

  // Duplicating keeps the data as they are.
  RunLengthSource kept(2, 1, 8, {2, 6, 0, 1});
  TDIBSharedImage copy;
  copy.Duplicate(kept.store, true);
  EXPECT_TRUE(copy.compressed);
  EXPECT_EQ(copy.size, 4);
  EXPECT_EQ(GetU32(copy.header.data() + 20), 4u);
  EXPECT_EQ(std::memcmp(copy.pixels, kept.data.data(), 4), 0);
}

TEST(DibTest, ToImageAndDrawInto) {
  TDIB d8 = Picture(3, 2, 8);
  d8.ColorEntries = Ramp(2);
  d8.CommitColors();
  std::memset(d8.PixelData(), 0, size_t(d8.ImageSize()));
  d8.RowAt(0)[0] = 5;
  d8.RowAt(1)[2] = 6;
  QImage img = d8.ToImage();
  ASSERT_EQ(img.format(), QImage::Format_Indexed8);
  EXPECT_EQ(img.pixelIndex(0, 0), 5);
  EXPECT_EQ(img.pixelIndex(2, 1), 6);
  EXPECT_EQ(img.pixel(0, 0), qRgb(12, 11, 10));

  TDIB d4 = Picture(3, 1, 4);
  d4.RowAt(0)[0] = 0x12;
  d4.RowAt(0)[1] = 0x30;
  img = d4.ToImage();
  EXPECT_EQ(img.colorCount(), 16);
  EXPECT_EQ(img.pixelIndex(0, 0), 1);
  EXPECT_EQ(img.pixelIndex(1, 0), 2);
  EXPECT_EQ(img.pixelIndex(2, 0), 3);

  TDIB d1 = Picture(9, 1, 1);
  d1.RowAt(0)[0] = 0x80;
  d1.RowAt(0)[1] = 0x80;
  img = d1.ToImage();
  EXPECT_EQ(img.format(), QImage::Format_Mono);
  EXPECT_EQ(img.pixelIndex(0, 0), 1);
  EXPECT_EQ(img.pixelIndex(1, 0), 0);
  EXPECT_EQ(img.pixelIndex(8, 0), 1);

  TDIB d16 = Picture(1, 1, 16, Layout565());
  PutU16(d16.RowAt(0), 0xF800);
  EXPECT_EQ(d16.ToImage().pixel(0, 0), qRgb(255, 0, 0));
  TDIB d555 = Picture(1, 1, 16, Layout555());
  PutU16(d555.RowAt(0), 0x03E0);
  EXPECT_EQ(d555.ToImage().pixel(0, 0), qRgb(0, 255, 0));

  TDIB d24 = Picture(2, 1, 24);
  uint8_t* p = d24.RowAt(0);
  p[3] = 1, p[4] = 2, p[5] = 3;  // blue, green, red of the second pixel
  EXPECT_EQ(d24.ToImage().pixel(1, 0), qRgb(3, 2, 1));

  TDIB d32 = Picture(1, 1, 32);
  PutU32(d32.RowAt(0), 0x00102030);
  img = d32.ToImage();
  EXPECT_EQ(img.pixel(0, 0), qRgb(0x10, 0x20, 0x30));

  // Stretched drawing takes the nearest pixel, without smoothing.
  QImage out(6, 4, QImage::Format_RGB32);
  out.fill(Qt::white);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  d8.DrawInto(painter, QRect(0, 0, 6, 4));
  TDIB().DrawInto(painter, QRect(0, 0, 6, 4));
  EXPECT_TRUE(painter.renderHints().testFlag(QPainter::SmoothPixmapTransform));
  painter.end();
  EXPECT_EQ(out.pixel(1, 1), qRgb(12, 11, 10));
  EXPECT_EQ(out.pixel(2, 0), qRgb(2, 1, 0));
  EXPECT_EQ(out.pixel(5, 3), qRgb(14, 13, 12));
}
