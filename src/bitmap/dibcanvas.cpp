// Drawing on a TDIB: filling rectangles and drawing pictures, with every colour given
// to a picture of depth 8 or less turned into the index of the nearest entry of its
// colour table.

#include <QImage>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "bitmap/bmpformat.h"
#include "bitmap/dib.h"
#include "common/byteio.h"

namespace {

// ---------------------------------------------------------------------------------
// Nearest colour of a colour table
//
// Nearest means the smallest squared distance in red, green and blue; of equally near
// entries the one with the lowest index wins, so a colour of the table maps to the
// first entry holding it.  A direct-mapped cache of colours already looked up sits in
// front of a grid of 32 x 32 x 32 cells; each cell, built when first needed, lists the
// entries that can be nearest to some colour inside it, so a lookup compares a few
// entries instead of all of them.

class ColourMapper {
 public:
  ColourMapper(const uint8_t* table, int count) : count_(std::clamp(count, 0, 256)) {
    std::memcpy(table_, table, size_t(count_) * 4);
    for (int i = 0; i < count_; ++i) {
      b_[i] = table[i * 4];
      g_[i] = table[i * 4 + 1];
      r_[i] = table[i * 4 + 2];
    }
    std::fill(std::begin(keys_), std::end(keys_), kNoKey);
  }

  bool Matches(const uint8_t* table, int count) const {
    return count == count_ && std::memcmp(table, table_, size_t(count_) * 4) == 0;
  }

  // The index for colour rgb (0x00RRGGBB).
  uint8_t Map(uint32_t rgb) {
    const uint32_t slot = (rgb * 2654435761u) >> (32 - kCacheBits);
    if (keys_[slot] == rgb) return values_[slot];
    const uint8_t index = Search(rgb);
    keys_[slot] = rgb;
    values_[slot] = index;
    return index;
  }

 private:
  static constexpr int kCacheBits = 14;
  static constexpr uint32_t kNoKey = 0xFFFFFFFFu;  // no colour of 24 bits
  static constexpr int kCells = 32 * 32 * 32;
  static constexpr uint32_t kUnbuilt = 0xFFFFFFFFu;

  uint8_t Search(uint32_t rgb) {
    if (count_ == 0) return 0;
    const int r = int(rgb >> 16) & 0xFF, g = int(rgb >> 8) & 0xFF, b = int(rgb) & 0xFF;
    if (cells_.empty()) cells_.assign(kCells, kUnbuilt);
    const int cell = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    uint32_t entry = cells_[size_t(cell)];
    if (entry == kUnbuilt) entry = cells_[size_t(cell)] = BuildCell(cell);
    // A cell holds at least one candidate: the entry its bound comes from.
    const Candidate* c = candidates_.data() + (entry >> 8);
    const int n = int(entry & 0xFF) + 1;
    // Candidates come by their least distance to the cell, so none after one whose least
    // distance exceeds the best distance found can be nearer.
    int best = c[0].index;
    int bestDistance = INT32_MAX;
    for (int k = 0; k < n && c[k].least <= bestDistance; ++k) {
      const int dr = r - c[k].r, dg = g - c[k].g, db = b - c[k].b;
      const int d = dr * dr + dg * dg + db * db;
      if (d < bestDistance || (d == bestDistance && c[k].index < best)) {
        bestDistance = d;
        best = c[k].index;
      }
    }
    return uint8_t(best);
  }

  // An entry can be nearest to a colour of the cell only when its least distance to the
  // cell is no more than the greatest distance from the cell of the entry whose greatest
  // distance is smallest.  The result packs where the candidates start (high 24 bits) and
  // their count less one (low 8 bits).
  uint32_t BuildCell(int cell) {
    const int lo[3] = {(cell >> 10) << 3, ((cell >> 5) & 31) << 3, (cell & 31) << 3};
    int nearest[256];
    int bound = INT32_MAX;
    for (int i = 0; i < count_; ++i) {
      const int v[3] = {r_[i], g_[i], b_[i]};
      int dmin = 0, dmax = 0;
      for (int a = 0; a < 3; ++a) {
        const int l = lo[a], h = lo[a] + 7;
        const int below = v[a] < l ? l - v[a] : (v[a] > h ? v[a] - h : 0);
        const int far = std::max(std::abs(v[a] - l), std::abs(v[a] - h));
        dmin += below * below;
        dmax += far * far;
      }
      nearest[i] = dmin;
      bound = std::min(bound, dmax);
    }
    const uint32_t start = uint32_t(candidates_.size());
    for (int i = 0; i < count_; ++i)
      if (nearest[i] <= bound)
        candidates_.push_back(
            {uint8_t(r_[i]), uint8_t(g_[i]), uint8_t(b_[i]), uint8_t(i), nearest[i]});
    std::stable_sort(candidates_.begin() + start, candidates_.end(),
                     [](const Candidate& a, const Candidate& b) { return a.least < b.least; });
    const uint32_t n = uint32_t(candidates_.size()) - start;
    return (start << 8) | (n - 1);
  }

  struct Candidate {
    uint8_t r, g, b, index;
    int32_t least;  // squared distance to the nearest colour of the cell
  };

  int count_;
  uint8_t table_[1024]{};
  int16_t r_[256]{}, g_[256]{}, b_[256]{};
  uint32_t keys_[1 << kCacheBits];
  uint8_t values_[1 << kCacheBits]{};
  std::vector<uint32_t> cells_;        // per cell: candidates start << 8 | (count - 1)
  std::vector<Candidate> candidates_;  // at most 32768 x 256 entries: start fits 24 bits
};

// Mappers of the colour tables drawn into most recently, so that pictures drawn one
// after another into pictures of the same colours reuse what was looked up.
ColourMapper& MapperFor(const uint8_t* table, int count) {
  constexpr size_t kKept = 4;
  thread_local std::vector<std::unique_ptr<ColourMapper>> mappers;
  for (size_t i = 0; i < mappers.size(); ++i) {
    if (mappers[i]->Matches(table, count)) {
      if (i > 0)
        std::rotate(mappers.begin(), mappers.begin() + ptrdiff_t(i),
                    mappers.begin() + ptrdiff_t(i) + 1);
      return *mappers.front();
    }
  }
  if (mappers.size() >= kKept) mappers.pop_back();
  mappers.insert(mappers.begin(), std::make_unique<ColourMapper>(table, count));
  return *mappers.front();
}

// ---------------------------------------------------------------------------------
// The picture drawn into

struct Target {
  TDIBSharedImage& s;
  ColourMapper* mapper = nullptr;

  explicit Target(TDIBSharedImage& store) : s(store) {
    if (s.depth <= 8) mapper = &MapperFor(s.colorTable.data(), s.colorCount);
  }

  uint8_t* Row(int y) const { return s.topRow - int64_t(y) * s.rowBytes; }

  // The pixel value for colour rgb (0x00RRGGBB).
  uint32_t Encode(uint32_t rgb) const {
    switch (s.depth) {
      case 1:
      case 4:
      case 8:
        return mapper->Map(rgb);
      case 24:
        return rgb;
      default:
        return s.layout.Pack(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb));
    }
  }

  void Put(uint8_t* row, int x, uint32_t v) const {
    switch (s.depth) {
      case 1:
      case 4:
      case 8:
        bmp::PutIndex(row, s.depth, x, v);
        break;
      case 16:
        PutU16(row + 2 * int64_t(x), uint16_t(v));
        break;
      case 24: {
        uint8_t* p = row + 3 * int64_t(x);
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        break;
      }
      default:
        PutU32(row + 4 * int64_t(x), v);
        break;
    }
  }

  // The colour of a pixel (0x00RRGGBB).
  uint32_t Get(const uint8_t* row, int x) const {
    switch (s.depth) {
      case 1:
      case 4:
      case 8:
        return bmp::EntryColour(&s.colorTable[size_t(bmp::IndexAt(row, s.depth, x)) * 4]) &
               0xFFFFFFu;
      case 24: {
        const uint8_t* p = row + 3 * int64_t(x);
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
      }
      default: {
        const uint32_t v =
            s.depth == 16 ? GetU16(row + 2 * int64_t(x)) : GetU32(row + 4 * int64_t(x));
        uint8_t r, g, b;
        s.layout.Unpack(v, r, g, b);
        return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
      }
    }
  }

  // Colour c with alpha a (1 to 254) over the pixel's colour.
  uint32_t Blend(uint32_t c, int a, const uint8_t* row, int x) const {
    const uint32_t d = Get(row, x);
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const int sc = int(c >> shift) & 0xFF, dc = int(d >> shift) & 0xFF;
      out |= uint32_t((sc * a + dc * (255 - a) + 127) / 255) << shift;
    }
    return out;
  }
};

// The part of a picture of w x h placed at (x, y) that falls inside the target.
struct Clip {
  int dx = 0, dy = 0;  // first target pixel
  int sx = 0, sy = 0;  // first source pixel
  int w = 0, h = 0;
  bool Empty() const { return w <= 0 || h <= 0; }
};

Clip ClipTo(const TDIBSharedImage& t, int x, int y, int w, int h) {
  const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(int64_t(x) + w, t.width);
  const int64_t bottom = std::min<int64_t>(int64_t(y) + h, t.height);
  Clip c;
  if (right <= left || bottom <= top) return c;
  c.dx = int(left);
  c.dy = int(top);
  c.sx = int(left - x);
  c.sy = int(top - y);
  c.w = int(right - left);
  c.h = int(bottom - top);
  return c;
}

// ---------------------------------------------------------------------------------
// Drawing kernels.  SrcRow(j) gives the source row of clipped row j; a reader gives the
// value of source column sx + i in it.

// Sources without transparency: Read gives 0x00RRGGBB.
template <class SrcRow, class Read>
void DrawOpaque(const Target& t, const Clip& c, SrcRow srcRow, Read read) {
  if (t.s.depth == 8) {
    ColourMapper& mapper = *t.mapper;
    for (int j = 0; j < c.h; ++j) {
      const uint8_t* src = srcRow(j);
      uint8_t* dst = t.Row(c.dy + j) + c.dx;
      uint32_t last = 0xFFFFFFFFu;
      uint8_t index = 0;
      for (int i = 0; i < c.w; ++i) {
        const uint32_t rgb = read(src, c.sx + i);
        if (rgb != last) {
          last = rgb;
          index = mapper.Map(rgb);
        }
        dst[i] = index;
      }
    }
    return;
  }
  for (int j = 0; j < c.h; ++j) {
    const uint8_t* src = srcRow(j);
    uint8_t* dst = t.Row(c.dy + j);
    for (int i = 0; i < c.w; ++i) t.Put(dst, c.dx + i, t.Encode(read(src, c.sx + i)));
  }
}

// Sources with transparency: Read gives a QRgb with its alpha.  Transparent pixels keep
// the target's pixel; partly transparent ones are mixed with it.
template <class SrcRow, class Read>
void DrawWithAlpha(const Target& t, const Clip& c, SrcRow srcRow, Read read) {
  for (int j = 0; j < c.h; ++j) {
    const uint8_t* src = srcRow(j);
    uint8_t* dst = t.Row(c.dy + j);
    for (int i = 0; i < c.w; ++i) {
      const QRgb p = read(src, c.sx + i);
      const int a = qAlpha(p);
      if (a == 0) continue;
      const int x = c.dx + i;
      const uint32_t rgb = p & 0xFFFFFFu;
      t.Put(dst, x, t.Encode(a == 255 ? rgb : t.Blend(rgb, a, dst, x)));
    }
  }
}

// Sources of colour indices: Read gives an index into colours (256 entries).  Each
// colour is looked up once.
template <class SrcRow, class Read>
void DrawIndexed(const Target& t, const Clip& c, SrcRow srcRow, Read read, const QRgb* colours) {
  uint32_t encoded[256]{};
  bool opaque = true;
  for (int i = 0; i < 256; ++i) {
    if (qAlpha(colours[i]) == 255)
      encoded[i] = t.Encode(colours[i] & 0xFFFFFFu);
    else
      opaque = false;
  }
  for (int j = 0; j < c.h; ++j) {
    const uint8_t* src = srcRow(j);
    uint8_t* dst = t.Row(c.dy + j);
    if (opaque && t.s.depth == 8) {
      for (int i = 0; i < c.w; ++i) dst[c.dx + i] = uint8_t(encoded[read(src, c.sx + i)]);
      continue;
    }
    for (int i = 0; i < c.w; ++i) {
      const int index = read(src, c.sx + i);
      const QRgb p = colours[index];
      const int a = qAlpha(p);
      if (a == 0) continue;
      const int x = c.dx + i;
      t.Put(dst, x, a == 255 ? encoded[index] : t.Encode(t.Blend(p & 0xFFFFFFu, a, dst, x)));
    }
  }
}

void DrawImage(const Target& t, int x, int y, const QImage& source) {
  const Clip c = ClipTo(t.s, x, y, source.width(), source.height());
  if (c.Empty()) return;

  QImage image = source;
  bool converted = true;
  switch (image.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
    case QImage::Format_RGB16:
      converted = false;
      break;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
      image = source.copy(c.sx, c.sy, c.w, c.h).convertToFormat(QImage::Format_Indexed8);
      break;
    default:
      image = source.copy(c.sx, c.sy, c.w, c.h)
                  .convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32
                                                            : QImage::Format_RGB32);
      break;
  }
  if (image.isNull()) return;
  // A converted image holds only the part that is drawn.
  Clip cc = c;
  if (converted) cc.sx = cc.sy = 0;

  const uchar* bits = image.constBits();
  const int64_t bpl = image.bytesPerLine();
  auto srcRow = [&](int j) { return bits + int64_t(cc.sy + j) * bpl; };
  switch (image.format()) {
    case QImage::Format_Indexed8: {
      QRgb colours[256];
      const QVector<QRgb> table = image.colorTable();
      for (int i = 0; i < 256; ++i) colours[i] = i < table.size() ? table[i] : qRgb(0, 0, 0);
      DrawIndexed(
          t, cc, srcRow, [](const uint8_t* r, int i) { return int(r[i]); }, colours);
      break;
    }
    case QImage::Format_RGB32:
      DrawOpaque(t, cc, srcRow, [](const uint8_t* r, int i) {
        return reinterpret_cast<const QRgb*>(r)[i] & 0xFFFFFFu;
      });
      break;
    case QImage::Format_ARGB32:
      DrawWithAlpha(t, cc, srcRow,
                    [](const uint8_t* r, int i) { return reinterpret_cast<const QRgb*>(r)[i]; });
      break;
    case QImage::Format_RGB888:
      DrawOpaque(t, cc, srcRow, [](const uint8_t* r, int i) {
        const uint8_t* p = r + 3 * int64_t(i);
        return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
      });
      break;
    case QImage::Format_BGR888:
      DrawOpaque(t, cc, srcRow, [](const uint8_t* r, int i) {
        const uint8_t* p = r + 3 * int64_t(i);
        return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
      });
      break;
    case QImage::Format_RGB16:
      DrawOpaque(t, cc, srcRow, [](const uint8_t* r, int i) {
        return bmp::Widen565(reinterpret_cast<const quint16*>(r)[i]);
      });
      break;
    default:
      break;
  }
}

void DrawStore(const Target& t, int x, int y, const TDIBSharedImage& s) {
  const Clip c = ClipTo(t.s, x, y, s.width, s.height);
  if (c.Empty() || !s.pixels || s.size <= 0) return;
  auto srcRow = [&](int j) -> const uint8_t* { return s.topRow - int64_t(c.sy + j) * s.rowBytes; };
  if (s.depth <= 8) {
    QRgb colours[256];
    for (int i = 0; i < 256; ++i) colours[i] = bmp::EntryColour(&s.colorTable[size_t(i * 4)]);
    switch (s.depth) {
      case 1:
        DrawIndexed(
            t, c, srcRow, [](const uint8_t* r, int i) { return bmp::IndexAt(r, 1, i); }, colours);
        break;
      case 4:
        DrawIndexed(
            t, c, srcRow, [](const uint8_t* r, int i) { return bmp::IndexAt(r, 4, i); }, colours);
        break;
      default:
        DrawIndexed(
            t, c, srcRow, [](const uint8_t* r, int i) { return int(r[i]); }, colours);
        break;
    }
    return;
  }
  switch (s.depth) {
    case 24:
      DrawOpaque(t, c, srcRow, [](const uint8_t* r, int i) {
        const uint8_t* p = r + 3 * int64_t(i);
        return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
      });
      break;
    case 16:
      if (s.layout.SameMasks(Layout565()))
        DrawOpaque(t, c, srcRow, [](const uint8_t* r, int i) {
          return bmp::Widen565(GetU16(r + 2 * int64_t(i)));
        });
      else
        DrawOpaque(t, c, srcRow, [](const uint8_t* r, int i) {
          return bmp::Widen555(GetU16(r + 2 * int64_t(i)));
        });
      break;
    case 32:  // always 8-8-8
      DrawOpaque(t, c, srcRow,
                 [](const uint8_t* r, int i) { return GetU32(r + 4 * int64_t(i)) & 0xFFFFFFu; });
      break;
    default:
      break;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------
// TDIBCanvas

// The colour's alpha is not looked at: a fill always paints.
void TDIBCanvas::FillRect(const QRect& rect, QRgb colour) {
  owner_.MakePrivate(false);
  TDIBSharedImage& s = *owner_.store_;
  if (s.size <= 0 || !s.pixels || rect.isEmpty()) return;
  const Clip c = ClipTo(s, rect.x(), rect.y(), rect.width(), rect.height());
  if (c.Empty()) return;
  const Target t(s);
  const uint32_t v = t.Encode(colour & 0xFFFFFFu);
  for (int j = 0; j < c.h; ++j) {
    uint8_t* row = t.Row(c.dy + j);
    if (s.depth == 8) {
      std::memset(row + c.dx, int(v), size_t(c.w));
    } else {
      for (int i = 0; i < c.w; ++i) t.Put(row, c.dx + i, v);
    }
  }
}

void TDIBCanvas::Draw(int x, int y, const QImage& picture) {
  owner_.MakePrivate(false);
  TDIBSharedImage& s = *owner_.store_;
  if (s.size <= 0 || !s.pixels || picture.isNull()) return;
  DrawImage(Target(s), x, y, picture);
}

void TDIBCanvas::Draw(int x, int y, const TDIB& picture) {
  owner_.MakePrivate(false);
  TDIBSharedImage& s = *owner_.store_;
  if (s.size <= 0 || !s.pixels || picture.IsEmpty()) return;
  const TDIBSharedImage& source = *picture.store_;
  if (source.compressed || &source == &s) {
    // Run-length data are decoded, and a picture drawn onto itself is read from a copy.
    TDIBSharedImage copy;
    copy.Decompress(source, true);
    DrawStore(Target(s), x, y, copy);
    return;
  }
  DrawStore(Target(s), x, y, source);
}
