#include "editing/gifexport.h"

#include <gif_lib.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "bitmap/bmpformat.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/operation.h"
#include "editing/rangepictures.h"

namespace {

constexpr int64_t kMaxSide = 65535;
constexpr size_t kWriteSize = 1024 * 1024;

bool IsBlack(QRgb colour) {
  return (colour & 0xFFFFFF) == 0;
}

// giflib's output goes through the file layer in large writes.  A failure is kept to be
// thrown again once giflib has returned its error.
struct TGifSink {
  std::unique_ptr<TFile> file;
  std::vector<uint8_t> pending;
  int64_t written = 0;
  std::exception_ptr error;

  void Flush() {
    file->WriteAt(written, pending.data(), int64_t(pending.size()));
    written += int64_t(pending.size());
    pending.clear();
  }
  static int Output(GifFileType* gif, const GifByteType* bytes, int n) {
    auto* sink = static_cast<TGifSink*>(gif->UserData);
    try {
      sink->pending.insert(sink->pending.end(), bytes, bytes + n);
      if (sink->pending.size() >= kWriteSize) sink->Flush();
      return n;
    } catch (...) {
      sink->error = std::current_exception();
      return 0;
    }
  }
};

struct TMapDeleter {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using TColourMap = std::unique_ptr<ColorMapObject, TMapDeleter>;

// A colour table of the given colours, padded with black to the power of two a GIF
// table must have.
TColourMap MakeMap(const std::vector<QRgb>& colours) {
  const int size = 1 << std::max(1, GifBitSize(int(colours.size())));
  TColourMap map(GifMakeMapObject(size, nullptr));
  if (!map) throw std::bad_alloc();
  for (int i = 0; i < size; ++i) {
    const QRgb c = size_t(i) < colours.size() ? colours[size_t(i)] : 0;
    map->Colors[i] = {GifByteType(qRed(c)), GifByteType(qGreen(c)), GifByteType(qBlue(c))};
  }
  return map;
}

struct TFramePlace {
  int left = 0;
  int top = 0;
};

class TAnimation {
 public:
  TAnimation(TJOV& jov, const TAnimationOptions& options)
      : source_(jov), options_(options), count_(options.range.end - options.range.start + 1) {}

  void Write(const QString& path, TOperationDelegate* delegate) {
    delegate_ = delegate;
    steps_ = source_.SixteenBit() ? 2 * count_ : count_;
    ReadFrames();
    if (source_.SixteenBit())
      CountColours16();
    else
      MapPalette8();

    TGifSink sink;
    sink.file = TFile::Open(path, TFile::Mode::Create);
    try {
      WriteGif(sink);
    } catch (...) {
      // A cut-short animation is of no use: the file goes.
      sink.file.reset();
      try {
        RemoveFile(path);
      } catch (...) {
      }
      throw;
    }
  }

 private:
  void Step(int done) { ::Step(delegate_, done, steps_); }

  // The record headers: the frames' sizes, and where each sits on the logical screen.
  void ReadFrames() {
    frames_.resize(size_t(count_));
    places_.resize(size_t(count_));
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (int k = 0; k < count_; ++k) {
      const TRecordFrame f = source_.Header(options_.range.start + k);
      frames_[size_t(k)] = f;
      if (f.Empty()) continue;
      if (options_.placement) {
        left = std::min<int64_t>(left, f.px), top = std::min<int64_t>(top, f.py);
        right = std::max<int64_t>(right, int64_t(f.px) + f.width);
        bottom = std::max<int64_t>(bottom, int64_t(f.py) + f.height);
      } else {
        left = top = 0;
        right = std::max<int64_t>(right, f.width), bottom = std::max<int64_t>(bottom, f.height);
      }
    }
    if (right == INT64_MIN) left = top = 0, right = bottom = 1;  // no image to show
    if (right - left > kMaxSide || bottom - top > kMaxSide)
      throw EJovError(QStringLiteral("The animation would be %1 x %2 pixels, more than a GIF "
                                     "holds (65535 a side)")
                          .arg(right - left)
                          .arg(bottom - top));
    width_ = int(right - left), height_ = int(bottom - top);
    for (int k = 0; k < count_; ++k) {
      const TRecordFrame& f = frames_[size_t(k)];
      if (f.Empty()) continue;
      places_[size_t(k)] = options_.placement
                               ? TFramePlace{int(f.px - left), int(f.py - top)}
                               : TFramePlace{(width_ - f.width) / 2, (height_ - f.height) / 2};
    }
  }

  // 8-bit: the library palette, every pure black entry drawn as the entry black maps to.
  void MapPalette8() {
    const std::array<QRgb, 256>& colours = source_.Colours();
    int best = INT32_MAX;
    for (int i = 0; i < 256; ++i) {
      const QRgb c = colours[size_t(i)];
      if (const int d = qRed(c) * qRed(c) + qGreen(c) * qGreen(c) + qBlue(c) * qBlue(c); d < best)
        best = d, transparent_ = i;
    }
    for (int i = 0; i < 256; ++i)
      map8_[size_t(i)] = IsBlack(colours[size_t(i)]) ? uint8_t(transparent_) : uint8_t(i);
    global_ = MakeMap(std::vector<QRgb>(colours.begin(), colours.end()));
  }

  // Run-coded: the colours the range uses.  One table for all frames when they fit,
  // else every frame gets its own in WriteGif.
  void CountColours16() {
    transparent_ = 0;
    seenIn_.assign(65536, 0);
    std::vector<bool> used(65536);
    int usedCount = 0;
    for (int k = 0; k < count_; ++k) {
      Step(k);
      const int colours = CollectColours16(k, [&](uint16_t c) {
        if (!used[c]) used[c] = true, ++usedCount;
      });
      if (colours > 255)
        throw EJovError(QStringLiteral("Image %1 has %2 colours besides black, more than a GIF "
                                       "frame holds (255)")
                            .arg(options_.range.start + k)
                            .arg(colours));
    }
    sharedTable_ = usedCount <= 255;
    std::vector<QRgb> table{0};
    if (sharedTable_)
      for (int c = 1; c < 65536; ++c)
        if (used[size_t(c)]) {
          map16_[size_t(c)] = uint8_t(table.size());
          table.push_back(bmp::Widen565(uint32_t(c)));
        }
    global_ = MakeMap(table);
  }

  // Calls found once for every colour but black of frame k; returns how many there are.
  template <class Found>
  int CollectColours16(int k, Found&& found) {
    const QImage* picture = source_.Picture(options_.range.start + k, frames_[size_t(k)]);
    if (picture == nullptr) return 0;
    const uint32_t stamp = uint32_t(++generation_);
    int count = 0;
    for (int y = 0; y < picture->height(); ++y) {
      const auto* row = reinterpret_cast<const quint16*>(picture->constScanLine(y));
      for (int x = 0; x < frames_[size_t(k)].width; ++x)
        if (row[x] != 0 && seenIn_[row[x]] != stamp) {
          seenIn_[row[x]] = stamp;
          ++count;
          found(row[x]);
        }
    }
    return count;
  }

  void WriteGif(TGifSink& sink) {
    int error = 0;
    struct TCloser {
      void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
    };
    std::unique_ptr<GifFileType, TCloser> gif(EGifOpen(&sink, &TGifSink::Output, &error));
    if (!gif) throw EJovError(QStringLiteral("Cannot write a GIF: %1").arg(GifErrorString(error)));
    const auto check = [&](int result) {
      if (result == GIF_OK) return;
      if (sink.error) std::rethrow_exception(sink.error);
      throw EJovError(QStringLiteral("Cannot write a GIF: %1").arg(GifErrorString(gif->Error)));
    };
    EGifSetGifVersion(gif.get(), true);
    check(EGifPutScreenDesc(gif.get(), width_, height_, 8, transparent_, global_.get()));
    if (options_.plays != 1) {
      // The loop block counts the repeats after the first play; 0 repeats for ever.
      const int repeats = options_.plays == 0 ? 0 : std::min(options_.plays - 1, 65535);
      static const char application[] = "NETSCAPE2.0";
      GifByteType loop[3] = {1, GifByteType(repeats & 0xFF), GifByteType(repeats >> 8)};
      check(EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE));
      check(EGifPutExtensionBlock(gif.get(), 11, application));
      check(EGifPutExtensionBlock(gif.get(), 3, loop));
      check(EGifPutExtensionTrailer(gif.get()));
    }
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_BACKGROUND;
    control.DelayTime = std::max(1, (100 + options_.fps / 2) / options_.fps);
    control.TransparentColor = transparent_;
    GifByteType controlBytes[4];
    const size_t controlSize = EGifGCBToExtension(&control, controlBytes);

    std::vector<GifByteType> line;
    const int base = source_.SixteenBit() ? count_ : 0;
    for (int k = 0; k < count_; ++k) {
      Step(base + k);
      check(EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, int(controlSize), controlBytes));
      const TRecordFrame& f = frames_[size_t(k)];
      const QImage* picture = f.Empty() ? nullptr : source_.Picture(options_.range.start + k, f);
      // With tables of their own, every frame has one, also an empty one: giflib drops
      // the copy it keeps of a frame's table, without freeing it, when the next frame
      // comes without one.
      TColourMap local;
      if (source_.SixteenBit() && !sharedTable_) {
        std::vector<QRgb> table{0};
        if (picture)
          CollectColours16(k, [&](uint16_t c) {
            map16_[c] = uint8_t(table.size());
            table.push_back(bmp::Widen565(c));
          });
        local = MakeMap(table);
      }
      if (picture == nullptr) {
        // An image with nothing to show is one transparent pixel.
        const TFramePlace place = f.Empty() ? TFramePlace{} : places_[size_t(k)];
        check(EGifPutImageDesc(gif.get(), place.left, place.top, 1, 1, false, local.get()));
        GifByteType pixel = GifByteType(transparent_);
        check(EGifPutLine(gif.get(), &pixel, 1));
        continue;
      }
      const TFramePlace place = places_[size_t(k)];
      check(EGifPutImageDesc(gif.get(), place.left, place.top, f.width, f.height, false,
                             local.get()));
      line.resize(size_t(f.width));
      for (int y = 0; y < f.height; ++y) {
        if (source_.SixteenBit()) {
          const auto* row = reinterpret_cast<const quint16*>(picture->constScanLine(y));
          for (int x = 0; x < f.width; ++x) line[size_t(x)] = row[x] == 0 ? 0 : map16_[row[x]];
        } else {
          const uchar* row = picture->constScanLine(y);
          for (int x = 0; x < f.width; ++x) line[size_t(x)] = map8_[row[x]];
        }
        check(EGifPutLine(gif.get(), line.data(), f.width));
      }
    }
    error = 0;
    const int closed = EGifCloseFile(gif.release(), &error);
    if (sink.error) std::rethrow_exception(sink.error);
    if (closed != GIF_OK)
      throw EJovError(QStringLiteral("Cannot write a GIF: %1").arg(GifErrorString(error)));
    sink.Flush();
  }

  TRangePictures source_;
  TAnimationOptions options_;
  int count_;
  int steps_ = 0;
  TOperationDelegate* delegate_ = nullptr;
  std::vector<TRecordFrame> frames_;
  std::vector<TFramePlace> places_;
  int width_ = 1;
  int height_ = 1;
  int transparent_ = 0;
  TColourMap global_;
  std::array<uint8_t, 256> map8_{};
  std::vector<uint8_t> map16_ = std::vector<uint8_t>(65536);
  bool sharedTable_ = true;
  std::vector<uint32_t> seenIn_;  // the last frame in which each RGB565 colour was seen
  int generation_ = 0;
};

}  // namespace

void WriteAnimation(TJOV& jov, const QString& path, const TAnimationOptions& options,
                    TOperationDelegate* delegate) {
  if (options.range.start < 0 || options.range.start > options.range.end || options.fps < 1 ||
      options.fps > 100 || options.plays < 0)
    throw EJovError(
        std::string("An animation needs at least one image, 1 to 100 frames a second and "
                    "a play count of 0 or more"));
  TAnimation(jov, options).Write(path, delegate);
}
