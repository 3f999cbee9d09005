#include "library/myjov.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "bitmap/bmpformat.h"
#include "common/byteio.h"
#include "common/errors.h"
#include "library/jovformat.h"
#include "library/oldview.h"
#include "library/pairswitch.h"
#include "library/runcode16.h"

namespace {

constexpr int kMinTableSize = 65537;

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

// ---------------------------------------------------------------------------------------
// Opening

TOpenResult TJOV::Open(QString path) {
  if (path.isEmpty()) throw EJovError(std::string("FileName not assigned.."));
  fileName_ = std::move(path);
  OutputBitmap();  // settle rows handed out by StoredRows8 before the palette changes
  DropView();
  indexEntries_.clear();
  offSet_ = 0;
  fileType_ = TFileType::Indexed;
  // A follower watches the files before it reads them: what others write while it opens
  // is among the events it looks at once it has read them.
  const auto watch = [this](const TLibraryPaths& paths) {
    if (followOthers_) WatchFiles(paths);
  };
  if (!OpenLibraryFiles(files_, fileName_, watch)) {
    events_.Stop();
    return TOpenResult::Missing;
  }
  if (!RecogniseVariant()) {
    CloseLibraryFiles(files_);
    events_.Stop();
    fileType_ = TFileType::Indexed;
    offSet_ = 0;
    return TOpenResult::NotLibrary;
  }
  // New files a change of an earlier run left unswitched go, when no writer holds them.
  if (files_.writable) RemoveLeftNewPair(*files_.data, files_.paths);
  const bool watchedAll = followOthers_ && events_.Watching();
  if (!watchedAll) TakeStamps();
  ReadIndexAndPalette();
  // Something written beside the library while it was opened (this opening's own
  // clean-up among it): the stamps first, then the library read again, as unwatched.
  if (watchedAll && !TakeStampsOfOpening()) {
    TakeStamps();
    if (RecogniseVariant())
      ReadIndexAndPalette();
    else
      shown_.underway = true;  // read again once the files have settled
  }
  return TOpenResult::Opened;
}

void TJOV::ReadIndexAndPalette() {
  LoadIndex(files_.paths.Index());
  GrowTables();
  if (fileType_ != TFileType::RunCoded) LoadPalette();
}

bool TJOV::RecogniseVariant() {
  uint8_t header[jov::kDataHeaderSize] = {};
  const int64_t got = files_.data->ReadAt(0, header, sizeof header);
  if (TitleMatches(header, got, jov::kTitle0)) {
    fileType_ = TFileType::Indexed;
  } else if (TitleMatches(header, got, jov::kTitle1)) {
    fileType_ = TFileType::IndexedLong;
  } else if (got >= 19 && std::memcmp(header + 2, jov::kTitle2, 16) == 0 && header[18] == 0) {
    fileType_ = TFileType::RunCoded;
  } else {
    return false;
  }
  // FileType 2 takes its count from the index (without one it has no images); a negative
  // count in a damaged header means no images.
  imageCount_ =
      fileType_ == TFileType::RunCoded ? 0 : std::max(0, GetI32(header + jov::kCountOffset));
  return true;
}

void TJOV::GrowTables() {
  const size_t tableSize = std::max<size_t>(kMinTableSize, indexEntries_.size());
  if (pxTable_.size() < tableSize) {
    pxTable_.resize(tableSize, 0);
    pyTable_.resize(tableSize, 0);
  }
}

void TJOV::Close() {
  OutputBitmap();  // settle rows handed out by StoredRows8 while their palette is here
  DropView();
  CloseLibraryFiles(files_);
  events_.Stop();
  indexEntries_.clear();
  offSet_ = 0;
  fileType_ = TFileType::Indexed;
}

void TJOV::LoadIndex(const QString& path) {
  indexRead_ = {};
  // No index (or a folder by its name): no entries.
  std::unique_ptr<TFile> file;
  try {
    file = TFile::Open(path, TFile::Mode::Read);
  } catch (const EFOpenError&) {
    return;
  }
  indexRead_ = file->Stamp();
  const int64_t size = indexRead_.Exists() ? indexRead_.size : file->Size();
  if (fileType_ == TFileType::RunCoded) {
    LoadIndex16(*file, size);
    return;
  }
  ReadZeroFilled(*file, 0, indexHeader_.data(), jov::kIndexHeaderSize);
  const int32_t count = GetI32(indexHeader_.data() + jov::kCountOffset);
  // Room for the entries plus one last entry of 0.
  auto readAt = [&](int64_t offset) {
    const int64_t n = EntriesAvailable(size, offset, count);
    indexEntries_.assign(size_t(n) + 1, 0);
    ReadEntries(*file, offset, n, indexEntries_);
  };
  if (fileType_ == TFileType::IndexedLong) {
    offSet_ = 4;
    readAt(jov::IndexEntryOffset(4, 0));
    // A variant 1 title over a variant 0 layout: the first record is not at 1084.
    if (indexEntries_[0] != jov::FirstRecordOffset(1)) {
      readAt(jov::IndexEntryOffset(0, 0));
      fileType_ = TFileType::Indexed;
      offSet_ = 0;
    }
  } else {
    offSet_ = 0;
    readAt(jov::IndexEntryOffset(0, 0));
  }
}

void TJOV::LoadIndex16(TFile& file, int64_t size) {
  offSet_ = 0;
  ReadZeroFilled(file, 0, indexHeader16_.data(), jov::kIndexHeader16Size);
  const int64_t n = EntriesAvailable(size, jov::kIndexHeader16Size,
                                     GetI32(indexHeader16_.data() + jov::kCountOffset16));
  indexEntries_.assign(size_t(n), 0);
  ReadEntries(file, jov::kIndexHeader16Size, n, indexEntries_);
  // Leading negative entries are not images: skip them, counting them in OffSet.  The
  // list keeps its length; the slots past the images repeat the last entry.
  int64_t skipped = 0;
  while (skipped < n && indexEntries_[size_t(skipped)] < 0) ++skipped;
  if (skipped > 0) {
    std::move(indexEntries_.begin() + skipped, indexEntries_.end(), indexEntries_.begin());
    std::fill(indexEntries_.end() - skipped, indexEntries_.end(), indexEntries_.back());
  }
  offSet_ = int(skipped);
  imageCount_ = int(n - skipped);
}

void TJOV::LoadPalette() {
  ReadZeroFilled(*files_.data, jov::PaletteOffset(offSet_), palette_.data(), jov::kPaletteSize);
  colorTable_.resize(256);
  for (int i = 0; i < 256; ++i) colorTable_[i] = bmp::EntryColour(&palette_[size_t(i) * 4]);
  std::memcpy(workDIB_.ColorEntries.data(), palette_.data(), palette_.size());
  // Padding columns of odd-width records are filled with the colour nearest to black.
  blackIndex_ = NearestToBlack(palette_.data());
}

std::optional<int32_t> TJOV::EntryOf(int index) const {
  const size_t entries = fileType_ == TFileType::RunCoded
                             ? indexEntries_.size()
                             : (indexEntries_.empty() ? 0 : indexEntries_.size() - 1);
  if (index < 0 || size_t(index) >= entries) return std::nullopt;
  return indexEntries_[size_t(index)];
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

// ---------------------------------------------------------------------------------------
// Fetching

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
  if (libType_ != ltLoadBmp) return nullptr;
  std::shared_lock reading(viewMutex_);
  return &FetchImage(index);
}

void TJOV::WatchFiles(const TLibraryPaths& paths) {
  // A file with one name is written through the folder: its events are the folder's.
  events_.Watch(paths.Folder(), paths.CanSwitch() ? QString() : paths.Data());
  events_.Mark(paths.History().section(QLatin1Char('/'), -1));
}

bool TJOV::TakeStampsOfOpening() {
  // Watched since before the files were opened: without events the opening read one
  // settled state (a hot journal it met was rolled back under the lock, or the opening
  // failed), and the files' stamps now are those of what it read: the data file's the
  // one its name had just before it was opened.
  shown_.data = openData_ = files_.dataFound;
  shown_.index = indexRead_.Exists() ? indexRead_ : StampAt(files_.paths.Index());
  // The history's is taken by the first look for changes by others: watched since
  // before the opening, it is as the opening found it while no event names it.
  historyStampDue_ = true;
  shown_.underway = false;
  fetchesStale_ = false;
  // Looked at after the stamps, so that none of them is taken after an event unseen.
  return !events_.Any();
}

void TJOV::TakeStamps() {
  // Only a follower compares them; an object that reads the library once takes none.
  if (!followOthers_) return;
  // Events from here on are looked at by the next fetch: none came before the stamps.
  if (IsOpen()) WatchFiles(files_.paths);
  fetchesStale_ = false;
  shown_ = TLibraryStamp::Of(files_.paths, &probe_);
  historyStampDue_ = false;
  openData_ = files_.data ? files_.data->Stamp() : TFileStamp{};
  // A switch that finished between opening the data file and these stamps: the index at
  // the name is the new pair's, the open data file the old one.
  if (openData_.inode != shown_.data.inode || openData_.device != shown_.data.device)
    shown_.underway = true;
}

TLibraryChange TJOV::ChangeByOthers() {
  if (!IsOpen()) return TLibraryChange::None;
  const TLibraryStamp now = TLibraryStamp::Of(files_.paths, &probe_);
  // The events are read after the stamp: one that names the history came before it.
  if (historyStampDue_) {
    shown_.history = events_.Named() ? TFileStamp::Unknown() : now.history;
    historyStampDue_ = false;
  }
  const TLibraryChange change = CompareToShown(shown_, now);
  // Fetches that met a change are trusted again only once the library is read anew.
  return change == TLibraryChange::None && fetchesStale_ ? TLibraryChange::Committed : change;
}

bool TJOV::FetchesSound() {
  std::shared_lock reading(viewMutex_);
  if (FetchIsSound()) return true;
  ++staleFetches_;
  return false;
}

bool TJOV::FetchIsSound() {
  // A view of the library as it was is this program's own change, read as before it.
  if (!followOthers_ || viewFile_ || !IsOpen()) return true;
  // The journal is looked at last: a change whose writes the data file's times do not
  // show (a clock tick shared with the write before) is still seen while under way.
  if (shown_.underway || fetchesStale_) return false;
  // Nothing written beside the library since the stamps were taken: nothing to compare.
  if (!events_.Any()) return true;
  fetchesStale_ = files_.data->Stamp() != openData_ || probe_.Hot(files_.paths.Journal());
  return !fetchesStale_;
}

void TJOV::SetOnChangeBegun(std::function<void(std::shared_ptr<const TOldView>)> onBegun) {
  files_.onBegun = std::move(onBegun);
}

void TJOV::ShowAsBefore(std::shared_ptr<const TOldView> view) {
  // Waits for a fetch under way: none may read half from before and half from after.
  std::unique_lock putting(viewMutex_);
  // The view holds the bytes before this change, not before one this object has not yet
  // taken up by opening again: such a change is refused (it rolls back).
  if (viewFile_)
    throw EJovError(std::string(
        "The window still shows the library as it was before the last change; it must take "
        "that change up before another one."));
  if (IsOpen()) viewFile_ = std::make_unique<TOldViewFile>(*files_.data, std::move(view));
}

void TJOV::DropView() {
  std::unique_lock dropping(viewMutex_);
  viewFile_.reset();
}

const uint8_t* TJOV::StoredRows8(int index) {
  std::shared_lock reading(viewMutex_);
  if (libType_ != ltLoadBmp || fileType_ == TFileType::RunCoded || !IsOpen() || index < 0 ||
      index >= imageCount_)
    return nullptr;
  const std::optional<int32_t> entry = EntryOf(index);
  if (!entry) return nullptr;
  const int64_t headerSize = jov::RecordHeaderSize(offSet_);
  int w, h;
  const int64_t have = ReadRecordSize(*entry, headerSize, index, w, h);
  if (have < 0 || w % 4 != 0 || w > jov::kMaxImageSide8 || h > jov::kMaxImageSide8) return nullptr;
  if (!reader_.ReadRest(Source(), *entry, have, headerSize + int64_t(w) * h)) return nullptr;
  width_ = w;
  height_ = h;
  px_ = PxTable(index);
  py_ = PyTable(index);
  // The rows move to the second buffer, where they wait to be laid into the output
  // bitmap; the next read goes into the other one.  The rows of the previous call are
  // superseded, as this image is now the last one fetched.
  reader_.SwapBuffer(storedRows_);
  storedRowsAt_ = headerSize;
  storedSize_ = QSize(w, h);
  return storedRows_.Data() + headerSize;
}

const QImage& TJOV::FetchImage(int index) {
  // Rows StoredRows8 handed out are the current picture, which some fetches keep.
  OutputBitmap();
  if (index < 0 || index >= imageCount_) {
    MakeOutputOnePixel();
    return outputBitmap_;
  }
  // An image that the index does not reach shows as an empty picture.
  const std::optional<int32_t> entry = EntryOf(index);
  if (!IsOpen() || !entry) {
    MakeOutputEmpty();
  } else if (fileType_ == TFileType::RunCoded) {
    ReadImage16(*entry, index);
  } else {
    ReadImage8(*entry, index);
  }
  width_ = outputBitmap_.width();
  height_ = outputBitmap_.height();
  px_ = PxTable(index);
  py_ = PyTable(index);
  return outputBitmap_;
}

int64_t TJOV::ReadRecordSize(int64_t offset, int64_t headerSize, int index, int& w, int& h) {
  const int64_t have = reader_.ReadHead(Source(), offset, headerSize);
  if (have < 0) {
    MakeOutputEmpty();
    return -1;
  }
  const uint8_t* header = reader_.Data();
  w = GetI16(header);
  h = GetI16(header + 2);
  SetTables(index, GetI16(header + 4), GetI16(header + 6));
  if (w <= 0 || h <= 0) {
    MakeOutputEmpty();
    return -1;
  }
  return have;
}

void TJOV::ReadImage8(int64_t offset, int index) {
  const int64_t headerSize = jov::RecordHeaderSize(offSet_);
  int w, h;
  const int64_t have = ReadRecordSize(offset, headerSize, index, w, h);
  if (have < 0) return;
  // Too large to show: the previous picture stays.
  if (w > jov::kMaxImageSide8 || h > jov::kMaxImageSide8) return;
  if (!reader_.ReadRest(Source(), offset, have, headerSize + int64_t(w) * h)) {
    MakeOutputEmpty();
    return;
  }
  LayRows8(reader_.Data() + headerSize, w, h, colorTable_, blackIndex_, outputBitmap_);
}

const QImage& TJOV::OutputBitmap() {
  // Rows handed out by StoredRows8 are laid into the bitmap only when it is asked for.
  if (storedRowsAt_ >= 0) {
    const int64_t at = std::exchange(storedRowsAt_, -1);
    LayRows8(storedRows_.Data() + at, storedSize_.width(), storedSize_.height(), colorTable_,
             blackIndex_, outputBitmap_);
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
  const int64_t wordCount = GetI32(reader_.Data() + jov::kWordCountOffset16);
  if (w > jov::kMaxImageSide16 || h > jov::kMaxImageSide16) return;
  // The words must all be in the file; a record cut short shows as an empty picture.
  if (wordCount < 0 ||
      !reader_.ReadRest(Source(), offset, have, jov::kImageHeader16Size + wordCount * 2)) {
    MakeOutputEmpty();
    return;
  }
  if (outputBitmap_.width() != w || outputBitmap_.height() != h ||
      outputBitmap_.format() != QImage::Format_RGB16)
    outputBitmap_ = QImage(w, h, QImage::Format_RGB16);
  DecodeRuns16(reader_.Data() + jov::kImageHeader16Size, wordCount, w, h, outputBitmap_);
}
