// Fuzzes the bitmap readers: a bitmap file read from a stream in memory or through the
// file layer (with its read-ahead), or a packed DIB as the clipboard hands it over.  A
// picture that was read has its pixels touched (run-length data are decoded then), is
// turned into a QImage, drawn on, and written back; what was written must read back
// as the same picture.
#include <QImage>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bitmap/dib.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/stream.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A read-only file in memory, so that reading through the file layer touches no disk.
class TMemoryFile final : public TFile {
 public:
  TMemoryFile(const QString& path, const QByteArray& bytes) : TFile(path), bytes_(bytes) {}
  int64_t ReadAt(int64_t offset, void* buffer, int64_t n) override {
    if (offset < 0 || n < 0) throw EReadError();
    if (offset >= bytes_.size()) return 0;
    const int64_t got = std::min<int64_t>(n, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.constData() + offset, size_t(got));
    return got;
  }
  void WriteAt(int64_t, const void*, int64_t) override { throw EWriteError(); }
  int64_t Size() override { return bytes_.size(); }
  void Truncate(int64_t) override { throw EWriteError(); }
  void Flush() override {}

 private:
  const QByteArray& bytes_;
};

QByteArray g_input;

const QString kInputPath = QStringLiteral("/fuzz-input.bmp");

bool SamePixels(TDIB& a, TDIB& b) {
  if (a.PixelWidth() != b.PixelWidth() || a.PixelHeight() != b.PixelHeight() ||
      a.BitDepth() != b.BitDepth() || a.ImageSize() != b.ImageSize())
    return false;
  const int64_t n = a.ImageSize();
  return n == 0 || std::memcmp(a.PixelData(), b.PixelData(), size_t(n)) == 0;
}

// The same picture held the same way: size, depth, compression and the bytes as held.
bool SameStore(const TDIB& a, const TDIB& b) {
  if (a.PixelWidth() != b.PixelWidth() || a.PixelHeight() != b.PixelHeight() ||
      a.BitDepth() != b.BitDepth() || a.IsCompressed() != b.IsCompressed() ||
      a.ImageSize() != b.ImageSize())
    return false;
  const int64_t n = a.ImageSize();
  return n == 0 || std::memcmp(a.ConstPixelData(), b.ConstPixelData(), size_t(n)) == 0;
}

// No file makes the reader hold more pixel bytes than the cap: not as read, and not
// once run-length data are decoded.
void CheckCap(const TDIB& dib) {
  const int64_t decoded = DibRowBytes(dib.BitDepth(), dib.PixelWidth()) * dib.PixelHeight();
  Check(dib.ImageSize() <= kMaxReadPixelBytes && decoded <= kMaxReadPixelBytes);
}

void Exercise(TDIB& dib) {
  CheckCap(dib);
  // The picture as a QImage, decoded without a store when it holds 8-bit run-length data.
  const QImage image = dib.ToImage();
  if (!dib.IsEmpty() && !image.isNull())
    Check(image.width() == dib.PixelWidth() && image.height() == dib.PixelHeight());

  // Written back as it is held (run-length data stay compressed), it reads back the same.
  TMemoryStream asHeld;
  dib.WriteBitmapStream(asHeld);
  TDIB heldBack;
  asHeld.Seek(0);
  heldBack.ReadBitmapStream(asHeld);
  Check(SameStore(dib, heldBack));

  // Touching the pixels decodes them; every byte of the block must be there.
  TDIB copy = dib;
  uint8_t* pixels = copy.PixelData();
  const int64_t size = copy.ImageSize();
  // Decoded into a store or straight into an image, the picture is the same.
  Check(copy.ToImage() == image);
  uint32_t sum = 0;
  for (int64_t i = 0; i < size; ++i) sum += pixels[i];
  if (size > 0) {
    pixels[0] ^= uint8_t(sum);
    pixels[size - 1] ^= 0x5A;
    Check(copy.RowAt(0) != nullptr && copy.RowAt(copy.PixelHeight() - 1) != nullptr);
  }
  // The copy was made private: the original keeps its store.
  Check(!copy.SharesStoreWith(dib) || size == 0);

  TMemoryStream written;
  copy.WriteBitmapStream(written);
  TDIB back;
  written.Seek(0);
  back.ReadBitmapStream(written);
  Check(SamePixels(copy, back));

  // The packed form the clipboard carries reads back the same too.
  TDIB fromClipboard;
  fromClipboard.FromClipboardData(copy.ToClipboardData().data);
  Check(SamePixels(copy, fromClipboard));

  // Drawing decodes a plain store into a drawable one.
  if (size > 0) copy.Surface().FillRect(QRect(-1, -1, 3, 3), qRgb(200, 10, 90));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TFile::SetFactory([](const QString& path, TFile::Mode mode) -> std::unique_ptr<TFile> {
    if (path == kInputPath && mode == TFile::Mode::Read)
      return std::make_unique<TMemoryFile>(path, g_input);
    throw EFOpenError(QStringLiteral("Cannot open file \"%1\".").arg(path));
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int how = data[0] % 3;
  g_input = QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
  TDIB dib;
  try {
    if (how == 0) {
      TMemoryStream stream(g_input);
      dib.ReadBitmapStream(stream);
    } else if (how == 1) {
      dib.ReadBitmapFile(kInputPath);
    } else {
      dib.FromClipboardData(g_input);
    }
  } catch (const EJovError&) {
    // A refused file leaves the picture empty.
    Check(dib.IsEmpty());
    return 0;
  }
  try {
    Exercise(dib);
  } catch (const EJovError&) {
    // Only reading can fail: what this program wrote, it reads back.
    std::abort();
  }
  return 0;
}
