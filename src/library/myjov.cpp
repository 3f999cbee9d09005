#include "library/myjov.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "bitmap/bmpformat.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "library/jovformat.h"
#include "library/jovjournal.h"
#include "library/jovnewpair.h"
#include "library/runcode16.h"

namespace {

constexpr int kMinTableSize = 65537;
// The most a fetch reads ahead of a record's header on the guess that the record is as
// large as the previous one.
constexpr int64_t kMaxReadAhead = 256 * 1024;
constexpr QRgb kBlackKey = 0xFF000000;
constexpr QRgb kRedKey = 0xFFFF0000;

int64_t RoundUp4(int64_t width) {
  return (width * 8 + 31) / 32 * 4;
}

bool TitleMatches(const uint8_t* header, int64_t got, const char* title) {
  const int64_t len = int64_t(std::strlen(title));
  return got >= len + 1 && header[0] == len && std::memcmp(header + 1, title, size_t(len)) == 0;
}

// Reads up to n bytes at offset into out, zero-filling whatever the file does not hold.
void ReadZeroFilled(TFile& file, int64_t offset, uint8_t* out, int64_t n) {
  const int64_t got = file.ReadAt(offset, out, n);
  if (got < n) std::memset(out + got, 0, size_t(n - got));
}

// The entries that a file of fileSize bytes can hold from offset on, at most count.
int64_t EntriesAvailable(int64_t fileSize, int64_t offset, int64_t count) {
  if (count <= 0 || fileSize <= offset) return 0;
  return std::min<int64_t>(count, (fileSize - offset) / 4);
}

void ReadEntries(TFile& file, int64_t offset, int64_t n, std::vector<int32_t>& out) {
  std::vector<uint8_t> raw(size_t(n) * 4);
  const int64_t got = file.ReadAt(offset, raw.data(), int64_t(raw.size()));
  std::fill(raw.begin() + got, raw.end(), 0);
  for (int64_t i = 0; i < n; ++i) out[size_t(i)] = GetI32(raw.data() + i * 4);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Paths

QString BaseNameOf(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return name;
  const QString extension = name.mid(dot);
  return name.left(name.indexOf(extension));
}

QString IndexPathOf(const QString& dataPath) {
  const QString folder = QFileInfo(dataPath).path();
  const QString wanted = BaseNameOf(dataPath) + QStringLiteral(".JOX");
  // An index written on another system may be named .jox or .Jox.
  const QString found = FindFileIgnoringCase(folder, wanted);
  return found.isEmpty() ? QDir(folder).filePath(wanted) : found;
}

void BuildBitmap16Header(uint8_t (&header)[66]) {
  constexpr int kMasksAt = bmp::kFileHeaderSize + bmp::kInfoHeaderSize;
  static_assert(sizeof header == kMasksAt + bmp::kMaskBytes);
  bmp::EncodeFileHeader(header, 0, sizeof header);
  bmp::EncodeInfoHeader(header + bmp::kFileHeaderSize, 0, 0, 16, bmp::kCompressionBitFields, 0);
  bmp::EncodeMasks(header + kMasksAt, Layout565());
}

// ---------------------------------------------------------------------------------------
// Drawing helpers

namespace {

// The picture as premultiplied ARGB with every pixel equal to key made transparent.
// scratch is reused between calls so that playing does not allocate per frame.
const QImage& KeyedCopy(const QImage& picture, QRgb key, QImage& scratch) {
  const int w = picture.width(), h = picture.height();
  if (scratch.width() != w || scratch.height() != h ||
      scratch.format() != QImage::Format_ARGB32_Premultiplied)
    scratch = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
  const QRgb opaqueKey = key | 0xFF000000;
  if (picture.format() == QImage::Format_Indexed8) {
    QRgb lut[256];
    const QList<QRgb> table = picture.colorTable();
    for (int i = 0; i < 256; ++i) {
      const QRgb c = i < table.size() ? (table[i] | 0xFF000000) : 0xFF000000;
      lut[i] = c == opaqueKey ? 0 : c;
    }
    for (int y = 0; y < h; ++y) {
      const uchar* src = picture.constScanLine(y);
      auto* dst = reinterpret_cast<QRgb*>(scratch.scanLine(y));
      for (int x = 0; x < w; ++x) dst[x] = lut[src[x]];
    }
  } else if (picture.format() == QImage::Format_RGB16) {
    for (int y = 0; y < h; ++y) {
      const auto* src = reinterpret_cast<const quint16*>(picture.constScanLine(y));
      auto* dst = reinterpret_cast<QRgb*>(scratch.scanLine(y));
      for (int x = 0; x < w; ++x) {
        const QRgb c = 0xFF000000u | bmp::Widen565(src[x]);
        dst[x] = c == opaqueKey ? 0 : c;
      }
    }
  } else {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
      const auto* src = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
      auto* dst = reinterpret_cast<QRgb*>(scratch.scanLine(y));
      for (int x = 0; x < w; ++x) {
        const QRgb c = src[x] | 0xFF000000;
        dst[x] = c == opaqueKey ? 0 : c;
      }
    }
  }
  return scratch;
}

QImage& DrawScratch() {
  static QImage scratch;
  return scratch;
}

}  // namespace

void DrawTransparent(QPainter& canvas, int x, int y, const QImage& picture, QRgb key) {
  if (picture.isNull()) return;
  const QImage& keyed = KeyedCopy(picture, key, DrawScratch());
  canvas.drawImage(QPoint(x, y), keyed);
}

void DrawFocusRect(QPainter& canvas, const QRect& rect) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  // Every other pixel along the frame, inverted (XOR with white), as a focus frame is.
  QList<QPoint> points;
  const int l = rect.left(), t = rect.top(), r = rect.left() + rect.width() - 1,
            b = rect.top() + rect.height() - 1;
  for (int x = l; x <= r; x += 2) {
    points.append(QPoint(x, t));
    if (b != t) points.append(QPoint(x, b));
  }
  for (int y = t + 2; y < b; y += 2) {
    points.append(QPoint(l, y));
    if (r != l) points.append(QPoint(r, y));
  }
  canvas.save();
  canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  canvas.setPen(QPen(QColor(255, 255, 255), 1));
  canvas.setRenderHint(QPainter::Antialiasing, false);
  canvas.drawPoints(points.constData(), int(points.size()));
  canvas.restore();
}

// ---------------------------------------------------------------------------------------
// TJOV

TJOV::TJOV() {
  outputBitmap_ = QImage(1, 1, QImage::Format_Indexed8);
  outputBitmap_.setColorTable(QList<QRgb>(256, 0xFF000000));
  outputBitmap_.fill(0);
  workDIB_.ChangeBitDepth(8);
  workDIB_.RequestedLayout = Layout888();
  pxTable_.assign(kMinTableSize, 0);
  pyTable_.assign(kMinTableSize, 0);
}

TJOV::~TJOV() {
  storedRowsAt_ = -1;  // nobody will look at the output bitmap any more
  Close();
}

QString TJOV::MissingFileMessage(const QString& fileName) {
  return fileName + QStringLiteral(" 不存在.");
}

TOpenResult TJOV::Open() {
  if (FileName.isEmpty()) throw EJovError(std::string("FileName not assigned.."));
  // The journal of the library open until now goes with it.
  TJovTransaction::DropJournal(DataStream.get(), journal_);
  // A new pair of files that was being switched in is put in place first.
  RecoverSwitchOnOpen(FileName);
  if (!FileExists(FileName)) return TOpenResult::Missing;
  OutputBitmap();  // settle rows handed out by StoredRows8 before the palette changes
  bool writable = true;
  for (int attempt = 0;; ++attempt) {
    writable = true;
    try {
      DataStream = TFile::Open(FileName, TFile::Mode::ReadWrite);
    } catch (const EFOpenError&) {
      // A library on read-only media can still be viewed; writes to it then fail.
      DataStream = TFile::Open(FileName, TFile::Mode::Read);
      writable = false;
    }
    // A change that was interrupted is undone before anything is read.
    try {
      TJovTransaction::RecoverOnOpen(*DataStream, FileName, writable);
      break;
    } catch (const ELibraryReplaced&) {
      // Another program switched a new pair in meanwhile: that one is the library.
      DataStream.reset();
      if (attempt == 2) throw;
    } catch (...) {
      DataStream.reset();
      throw;
    }
  }

  uint8_t header[jov::kDataHeaderSize] = {};
  const int64_t got = DataStream->ReadAt(0, header, sizeof header);
  if (TitleMatches(header, got, jov::kTitle0)) {
    FileType = 0;
  } else if (TitleMatches(header, got, jov::kTitle1)) {
    FileType = 1;
  } else if (got >= 19 && std::memcmp(header + 2, jov::kTitle2, 16) == 0 && header[18] == 0) {
    FileType = 2;
  } else {
    DataStream.reset();
    FileType = 0;
    OffSet = 0;
    return TOpenResult::NotLibrary;
  }

  if (FileType == 2) {
    // The count comes from the index; without one the library has no images.
    ImageCount = 0;
  } else {
    // A negative count in a damaged header means no images.
    ImageCount = std::max(0, GetI32(header + jov::kCountOffset));
  }
  indexFileName_ = IndexPathOf(FileName);
  if (writable) RemoveLeftNewPair(*DataStream, FileName, indexFileName_);
  LoadIndex(indexFileName_);
  GrowTables();
  if (FileType != 2) LoadPalette();
  return TOpenResult::Opened;
}

void TJOV::GrowTables() {
  const size_t tableSize = std::max<size_t>(kMinTableSize, IndexEntries.size());
  if (pxTable_.size() < tableSize) {
    pxTable_.resize(tableSize, 0);
    pyTable_.resize(tableSize, 0);
  }
}

void TJOV::Close() {
  OutputBitmap();  // settle rows handed out by StoredRows8 while their palette is here
  TJovTransaction::DropJournal(DataStream.get(), journal_);
  DataStream.reset();
  IndexEntries.clear();
  OffSet = 0;
  FileType = 0;
}

void TJOV::LoadIndex(const QString& path) {
  if (!FileExists(path)) return;
  std::unique_ptr<TFile> file;
  try {
    file = TFile::Open(path, TFile::Mode::Read);
  } catch (const EFOpenError&) {
    return;
  }
  const int64_t size = file->Size();
  if (FileType == 2) {
    OffSet = 0;
    ReadZeroFilled(*file, 0, indexHeader16_.data(), jov::kIndexHeader16Size);
    const int64_t n = EntriesAvailable(size, jov::kIndexHeader16Size,
                                       GetI32(indexHeader16_.data() + jov::kCountOffset16));
    IndexEntries.assign(size_t(n), 0);
    ReadEntries(*file, jov::kIndexHeader16Size, n, IndexEntries);
    // Leading negative entries are not images: skip them, counting them in OffSet.  The
    // list keeps its length; the slots past the images repeat the last entry.
    int64_t skipped = 0;
    while (skipped < n && IndexEntries[size_t(skipped)] < 0) ++skipped;
    if (skipped > 0) {
      std::move(IndexEntries.begin() + skipped, IndexEntries.end(), IndexEntries.begin());
      std::fill(IndexEntries.end() - skipped, IndexEntries.end(), IndexEntries.back());
    }
    OffSet = int(skipped);
    ImageCount = int(n - skipped);
    return;
  }

  ReadZeroFilled(*file, 0, indexHeader_.data(), jov::kIndexHeaderSize);
  const int32_t count = GetI32(indexHeader_.data() + jov::kCountOffset);
  // Room for the entries plus one last entry of 0.
  auto readAt = [&](int64_t offset) {
    const int64_t n = EntriesAvailable(size, offset, count);
    IndexEntries.assign(size_t(n) + 1, 0);
    ReadEntries(*file, offset, n, IndexEntries);
  };
  if (FileType == 1) {
    OffSet = 4;
    readAt(jov::IndexEntryOffset(4, 0));
    // A variant 1 title over a variant 0 layout: the first record is not at 1084.
    if (IndexEntries[0] != jov::FirstRecordOffset(1)) {
      readAt(jov::IndexEntryOffset(0, 0));
      FileType = 0;
      OffSet = 0;
    }
  } else {
    OffSet = 0;
    readAt(jov::IndexEntryOffset(0, 0));
  }
}

void TJOV::LoadPalette() {
  ReadZeroFilled(*DataStream, jov::PaletteOffset(OffSet), Palette.data(), jov::kPaletteSize);
  colorTable_.resize(256);
  for (int i = 0; i < 256; ++i) colorTable_[i] = bmp::EntryColour(&Palette[size_t(i) * 4]);
  std::memcpy(workDIB_.ColorEntries.data(), Palette.data(), Palette.size());
  // Padding columns of odd-width records are filled with the colour nearest to black.
  int best = 0;
  int bestDistance = INT32_MAX;
  for (int i = 0; i < 256; ++i) {
    const int b = Palette[i * 4], g = Palette[i * 4 + 1], r = Palette[i * 4 + 2];
    const int d = r * r + g * g + b * b;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  blackIndex_ = uint8_t(best);
}

std::optional<int32_t> TJOV::EntryOf(int index) const {
  const size_t entries =
      FileType == 2 ? IndexEntries.size() : (IndexEntries.empty() ? 0 : IndexEntries.size() - 1);
  if (index < 0 || size_t(index) >= entries) return std::nullopt;
  return IndexEntries[size_t(index)];
}

int TJOV::PxTable(int index) const {
  return index >= 0 && size_t(index) < pxTable_.size() ? pxTable_[size_t(index)] : 0;
}
int TJOV::PyTable(int index) const {
  return index >= 0 && size_t(index) < pyTable_.size() ? pyTable_[size_t(index)] : 0;
}

void TJOV::SetTables(int index, int x, int y) {
  if (index < 0) return;
  if (size_t(index) >= pxTable_.size()) {
    pxTable_.resize(size_t(index) + 1, 0);
    pyTable_.resize(size_t(index) + 1, 0);
  }
  pxTable_[size_t(index)] = x;
  pyTable_[size_t(index)] = y;
}

void TJOV::MakeOutputEmpty() {
  outputBitmap_ = QImage();
}

void TJOV::MakeOutputOnePixel() {
  QImage::Format format = outputBitmap_.isNull() ? QImage::Format_Indexed8 : outputBitmap_.format();
  QImage one(1, 1, format);
  if (format == QImage::Format_Indexed8) {
    one.setColorTable(outputBitmap_.isNull() ? colorTable_ : outputBitmap_.colorTable());
    if (one.colorCount() == 0) one.setColorTable(QList<QRgb>(256, 0xFF000000));
  }
  one.fill(0);
  outputBitmap_ = one;
}

const QImage* TJOV::ImageAt(int index) {
  if (LibType != ltLoadBmp) return nullptr;
  return &FetchImage(index);
}

const uint8_t* TJOV::StoredRows8(int index) {
  if (LibType != ltLoadBmp || FileType == 2 || !IsOpen() || index < 0 || index >= ImageCount)
    return nullptr;
  const std::optional<int32_t> entry = EntryOf(index);
  if (!entry) return nullptr;
  const int64_t headerSize = jov::RecordHeaderSize(OffSet);
  int w, h;
  const int64_t have = ReadRecordSize(*entry, headerSize, index, w, h);
  if (have < 0 || w % 4 != 0 || w > jov::kMaxImageSide8 || h > jov::kMaxImageSide8) return nullptr;
  if (!ReadRecordRest(*entry, have, headerSize + int64_t(w) * h)) return nullptr;
  Width = w;
  Height = h;
  px = PxTable(index);
  py = PyTable(index);
  // The rows move to the second buffer, where they wait to be laid into the output
  // bitmap; the next read goes into the other one.  The rows of the previous call are
  // superseded, as this image is now the last one fetched.
  std::swap(readBuffer_, storedRows_);
  storedRowsAt_ = headerSize;
  storedSize_ = QSize(w, h);
  return storedRows_.Data() + headerSize;
}

const QImage& TJOV::FetchImage(int index) {
  // Rows StoredRows8 handed out are the current picture, which some fetches keep.
  OutputBitmap();
  if (index < 0 || index >= ImageCount) {
    MakeOutputOnePixel();
    return outputBitmap_;
  }
  // An image that the index does not reach shows as an empty picture.
  const std::optional<int32_t> entry = EntryOf(index);
  if (!IsOpen() || !entry) {
    MakeOutputEmpty();
  } else if (FileType == 2) {
    ReadImage16(*entry, index);
  } else {
    ReadImage8(*entry, index);
  }
  Width = outputBitmap_.width();
  Height = outputBitmap_.height();
  px = PxTable(index);
  py = PyTable(index);
  return outputBitmap_;
}

int64_t TJOV::ReadRecordHead(int64_t offset, int64_t headerSize) {
  if (offset < 0) return -1;
  headWanted_ = std::max(headerSize, std::min(lastRecordSize_, kMaxReadAhead));
  const int64_t got = DataStream->ReadAt(offset, readBuffer_.Reserve(headWanted_), headWanted_);
  return got >= headerSize ? got : -1;
}

bool TJOV::ReadRecordRest(int64_t offset, int64_t have, int64_t total) {
  if (have >= total) {
    lastRecordSize_ = total;
    return true;
  }
  // A short first read met the end of the file.  Otherwise the size is checked against
  // the file before anything is allocated for it.
  if (have < headWanted_ || offset + total > DataStream->Size()) return false;
  lastRecordSize_ = total;
  uint8_t* buffer = readBuffer_.Reserve(total, have);
  return DataStream->ReadAt(offset + have, buffer + have, total - have) == total - have;
}

int64_t TJOV::ReadRecordSize(int64_t offset, int64_t headerSize, int index, int& w, int& h) {
  const int64_t have = ReadRecordHead(offset, headerSize);
  if (have < 0) {
    MakeOutputEmpty();
    return -1;
  }
  const uint8_t* header = readBuffer_.Data();
  w = GetI16(header);
  h = GetI16(header + 2);
  SetTables(index, GetI16(header + 4), GetI16(header + 6));
  if (w <= 0 || h <= 0) {
    MakeOutputEmpty();
    return -1;
  }
  return have;
}

void TJOV::ResizeOutput(int w, int h, QImage::Format format) {
  // The bitmap is reused while it keeps its size, so stepping through a library of
  // like-sized images does not allocate.
  if (outputBitmap_.width() != w || outputBitmap_.height() != h || outputBitmap_.format() != format)
    outputBitmap_ = QImage(w, h, format);
}

void TJOV::ReadImage8(int64_t offset, int index) {
  const int64_t headerSize = jov::RecordHeaderSize(OffSet);
  int w, h;
  const int64_t have = ReadRecordSize(offset, headerSize, index, w, h);
  if (have < 0) return;
  // Too large to show: the previous picture stays.
  if (w > jov::kMaxImageSide8 || h > jov::kMaxImageSide8) return;
  if (!ReadRecordRest(offset, have, headerSize + int64_t(w) * h)) {
    MakeOutputEmpty();
    return;
  }
  LayRows8(readBuffer_.Data() + headerSize, w, h);
}

void TJOV::LayRows8(const uint8_t* pixels, int w, int h) {
  // Rows are stored bottom row first, w bytes each.  They are laid into rows of the
  // width rounded up to a multiple of 4 one by one, so that a record written by another
  // tool with an odd width keeps its shape; the padding columns are black.
  const int outWidth = int(RoundUp4(w));
  ResizeOutput(outWidth, h, QImage::Format_Indexed8);
  if (outputBitmap_.colorTable() != colorTable_) outputBitmap_.setColorTable(colorTable_);
  uchar* const bits = outputBitmap_.bits();
  const qsizetype stride = outputBitmap_.bytesPerLine();
  for (int y = 0; y < h; ++y) {
    uchar* row = bits + y * stride;
    std::memcpy(row, pixels + size_t(h - 1 - y) * size_t(w), size_t(w));
    if (outWidth > w) std::memset(row + w, blackIndex_, size_t(outWidth - w));
  }
}

const QImage& TJOV::OutputBitmap() {
  // Rows handed out by StoredRows8 are laid into the bitmap only when it is asked for.
  if (storedRowsAt_ >= 0) {
    const int64_t at = std::exchange(storedRowsAt_, -1);
    LayRows8(storedRows_.Data() + at, storedSize_.width(), storedSize_.height());
  }
  return outputBitmap_;
}

void TJOV::ReadImage16(int64_t offset, int index) {
  if (offset <= 0) {
    MakeOutputEmpty();
    return;
  }
  int w, h;
  const int64_t have = ReadRecordSize(offset, jov::kImageHeader16Size, index, w, h);
  if (have < 0) return;
  const int64_t wordCount = GetI32(readBuffer_.Data() + jov::kWordCountOffset16);
  if (w > jov::kMaxImageSide16 || h > jov::kMaxImageSide16) return;
  // The words must all be in the file; a record cut short shows as an empty picture.
  if (wordCount < 0 || !ReadRecordRest(offset, have, jov::kImageHeader16Size + wordCount * 2)) {
    MakeOutputEmpty();
    return;
  }
  ResizeOutput(w, h, QImage::Format_RGB16);
  DecodeRuns16(readBuffer_.Data() + jov::kImageHeader16Size, wordCount, w, h, outputBitmap_);
}

// ---------------------------------------------------------------------------------------
// Drawing

void TJOV::DrawPicture(QPainter& canvas, const QRect& target, const QImage& picture, QRgb key) {
  const QImage& keyed = KeyedCopy(picture, key, keyedScratch_);
  canvas.save();
  canvas.setRenderHint(QPainter::SmoothPixmapTransform, false);
  canvas.drawImage(target, keyed);
  canvas.restore();
}

void TJOV::DrawThumbnail(QPainter& canvas, const QRect& rect, int index) {
  if (LibType != ltLoadBmp || changing_) return;
  const QImage* picture = ImageAt(index);
  if (picture == nullptr || picture->isNull()) return;
  const int w = std::min(rect.width(), picture->width());
  const int h = std::min(rect.height(), picture->height());
  if (w <= 0 || h <= 0) return;
  DrawPicture(canvas, QRect(rect.topLeft(), QSize(w, h)), *picture, kBlackKey);
}

void TJOV::DrawZoomed(QPainter& canvas, int x, int y, int index, double zoom, bool transparent) {
  if (LibType != ltLoadBmp || changing_) return;
  const QImage* picture = ImageAt(index);
  if (picture == nullptr) return;
  // Rounded to the nearest integer, halves to even (the default rounding mode).
  const int w = int(std::nearbyint(picture->width() * zoom));
  const int h = int(std::nearbyint(picture->height() * zoom));
  DrawFocusRect(canvas, QRect(x, y, w, h));
  if (w > 0 && h > 0 && !picture->isNull())
    DrawPicture(canvas, QRect(x, y, w, h), *picture, transparent ? kBlackKey : kRedKey);
}
