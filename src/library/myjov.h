#pragma once

// TJOV: the one object through which the program reads an image library.  It opens the
// data file, recognises the variant, loads the index and the palette, hands out any
// image as a bitmap with its size and placement, and writes placements and records.
// Every change goes through one transaction (library/transaction.h).

#include <QImage>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "bitmap/dib.h"
#include "common/bytebuffer.h"
#include "common/fileevents.h"
#include "library/libfiles.h"
#include "library/libstamp.h"
#include "library/recordreader.h"
#include "library/transaction.h"

class TOldView;
class TOperationDelegate;

enum TLibType { ltLoadBmp, ltLoadMemory, ltLoadMunual, ltUseCache };

// The variant of a library (its FileType 0, 1 or 2).
enum class TFileType {
  Indexed = 0,      // 8-bit palette images
  IndexedLong = 1,  // 8-bit palette images, 4 more bytes in each header
  RunCoded = 2,     // run-coded 16-bit images, read only
};
// Only the 8-bit variants are written.
inline bool IsWritable(TFileType type) {
  return type != TFileType::RunCoded;
}

// How an Open ended.  The caller shows the messages: the core never opens a window.
enum class TOpenResult {
  Opened,      // the library is open
  Missing,     // no file of that name: show MissingFileMessage(FileName)
  NotLibrary,  // none of the three variants: the library stays closed
};

class TJOV {
 public:
  TJOV();
  ~TJOV();
  TJOV(const TJOV&) = delete;
  TJOV& operator=(const TJOV&) = delete;

  // Opens the library whose data file is path; throws EJovError("FileName not
  // assigned..") when it is empty, and lets a failure to open the file propagate.  An
  // open library is closed first.
  TOpenResult Open(QString path);
  // Closes the files.  ImageCount, FileName, the palette, the placement tables and the
  // last image's properties stay.
  void Close();
  bool IsOpen() const { return files_.data != nullptr; }

  // ---- The published properties.
  const QString& FileName() const { return fileName_; }
  int ImageCount() const { return imageCount_; }
  TLibType LibType() const { return libType_; }
  void SetLibType(TLibType type) { libType_ = type; }
  // Placement and size of the image fetched last.
  int px() const { return px_; }
  int py() const { return py_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // FileType 0 and 1: the extra header bytes (0 or 4); FileType 2: the skipped entries.
  int OffSet() const { return offSet_; }
  TFileType FileType() const { return fileType_; }

  // ---- What the editing code reads.
  const std::vector<int32_t>& IndexEntries() const { return indexEntries_; }
  const TColorTable& Palette() const { return palette_; }
  // The open data file; null while closed.
  TFile* DataStream() const { return files_.data.get(); }
  const TLibraryPaths& Paths() const { return files_.paths; }
  const QString& IndexFileName() const { return files_.paths.Index(); }
  // The index entry of image index, when the index holds one.  The extra last slot of 0
  // that the 8-bit variants carry is not an entry.
  std::optional<int32_t> EntryOf(int index) const;
  // Placement of image index as last read from its record header (0 when never read).
  int PxTable(int index) const;
  int PyTable(int index) const;
  const std::array<uint8_t, 24>& IndexHeader16() const { return indexHeader16_; }
  const std::array<uint8_t, 48>& IndexHeader() const { return indexHeader_; }

  // ---- Fetching.
  // The shared output bitmap, overwritten by every fetch; null unless LibType is
  // ltLoadBmp.  A caller that keeps the picture copies it.
  const QImage* ImageAt(int index);
  // The pixel rows of an 8-bit record as the file stores them (bottom row first, Width
  // bytes each) when they are exactly the picture ImageAt would give, i.e. the record
  // is readable and its width a multiple of 4; nullptr otherwise, and the caller takes
  // ImageAt.  Sets Width, Height, px and py as ImageAt does (the output bitmap follows
  // when next asked for); the rows stay valid until the next fetch.
  const uint8_t* StoredRows8(int index);
  // The shared output bitmap as the last fetch (ImageAt or StoredRows8) left it.
  const QImage& OutputBitmap();
  const TDIB& WorkDIB() const { return workDIB_; }

  // ---- Writing (FileType 0 and 1).  Each change is one transaction over the pair of
  // files: after it, or after the process dies anywhere in it, the files are exactly as
  // before or exactly as after, and this object describes them as they are.
  //
  // Write px / py of record index (the first pair only).  Always true.
  bool SetImagePx(int index, int16_t value);
  bool SetImagePy(int index, int16_t value);
  // Writes px and py of record index together, as one change.  Always true.
  bool SetImagePlacement(int index, int16_t x, int16_t y);
  // Replaces the pixels and size of image index by the picture (converted into the
  // library palette with ToLibraryBitmap); the placement stays.  False when no library
  // is open or the image has no record; file errors propagate.
  bool ReplaceImage(int index, const TPicture& picture, TOperationDelegate* delegate = nullptr);
  // Appends the picture as the new last image; a picture 1 pixel wide or high becomes
  // the placeholder record.  True also when no library is open (nothing is written);
  // false when an error was caught (its message then goes to error, when given).
  bool AppendImage(const TPicture& picture, int16_t x, int16_t y, QString* error = nullptr);
  // Appends the 1 x 1 placeholder record (placement 1, 1).  Results as AppendImage.
  bool AppendBlankImage();
  // The writers after conversion: pixels is the record's pixel block, width x height
  // bytes, bottom row first.  ReplaceRecord is ReplaceImage's write: false when no
  // library is open or the image has no record.  AppendRecord throws on failure.
  bool ReplaceRecord(int index, int width, int height, const uint8_t* pixels,
                     TOperationDelegate* delegate = nullptr);
  void AppendRecord(int width, int height, int x, int y, const uint8_t* pixels);

  // Runs one change of the files of the open library: takes the writer's lock (rolling
  // back an interrupted change first), re-reads the count and the index so that the
  // change works on the files as they are, then runs body(TJovTransaction&), which
  // protects, begins, writes and commits, and then brings ImageCount and IndexEntries up
  // to date (or calls RefreshFromFiles).  When body throws, the transaction rolls back
  // and this object re-reads the files before the error goes on.  Every operation that
  // changes a library goes through here.
  template <class Body>
  void Change(Body&& body, TChangeKind kind = TChangeKind::Edit,
              TOperationDelegate* delegate = nullptr) {
    for (;;) {
      std::unique_ptr<TJovTransaction> transaction = StartTransaction(kind, delegate);
      try {
        RefreshFromFiles();
        body(*transaction);
        // Still under the writer's lock: what this change left is what this object shows.
        TakeStamps();
        return;
      } catch (const EShiftRefused&) {
        // The file system would not shift: run again, copying (the refusal is kept).
        transaction.reset();
        ResyncAfterFailure();
      } catch (...) {
        transaction.reset();  // rolls back, or leaves the journal for the next opening
        ResyncAfterFailure();
        throw;
      }
    }
  }
  // Re-reads the image count and the index entries from the files.
  void RefreshFromFiles();

  // ---- Another object of this program changing the library while this one shows it (a
  // window painting while a worker thread writes): the changer hands every change made in
  // place to onBegun once its old bytes are safe, and this object, given them by
  // ShowAsBefore, reads the library as it was until it is opened again (a second change
  // before that is refused: it throws, and the change rolls back).  Both may be called
  // from another thread than the one fetching.
  void SetOnChangeBegun(std::function<void(std::shared_ptr<const TOldView>)> onBegun);

  // The bytes the library's history of changes may keep (0: none is kept, and a change
  // leaves none behind); by default kDefaultHistoryLimit.  Kept until changed.
  void SetHistoryLimit(int64_t bytes) { files_.historyLimit = bytes; }
  int64_t HistoryLimit() const { return files_.historyLimit; }
  void ShowAsBefore(std::shared_ptr<const TOldView> view);

  // ---- Other programs changing the library while this object shows it.  Following them,
  // FetchesSound tells whether the fetches made since the stamps were taken read the
  // library as this object shows it: its open data file still as it was when the index
  // was read, and no change under way (library/libstamp.h).  A caller asks after the
  // fetches of what it is about to show (a frame), and shows nothing of them when the
  // answer is no: that picture may hold bytes of a half-made change, or of another image.
  // Off by default (jovtool reads a library once).  The fetches themselves cost nothing
  // more; the check is one system call while nothing is written beside the library.
  // Set before opening: the stamps are taken at opening.
  void SetFollowOthers(bool on) { followOthers_ = on; }
  bool FollowsOthers() const { return followOthers_; }
  // Once it says no, it says no until the library is opened again.
  bool FetchesSound();
  // The checks that said no since this object was made.
  int StaleFetches() const { return staleFetches_; }
  // The files as this object last read or wrote them (at Open and after each Change),
  // taken while it follows others.
  const TLibraryStamp& ShownStamp() const { return shown_; }
  // What the files at the library's names now say against that.
  TLibraryChange ChangeByOthers();

  // The text shown when the data file is missing.
  static QString MissingFileMessage(const QString& fileName);

 private:
  bool RecogniseVariant();
  void LoadIndex(const QString& path);
  void LoadIndex16(TFile& file, int64_t size);
  void LoadPalette();
  const QImage& FetchImage(int index);
  void ReadImage8(int64_t offset, int index);
  void ReadImage16(int64_t offset, int index);
  void SetTables(int index, int x, int y);
  void GrowTables();
  void ResyncAfterFailure();
  void TakeStamps();
  // The stamps of what Open read, when its watch saw nothing meanwhile (false: it did).
  bool TakeStampsOfOpening();
  void ReadIndexAndPalette();
  void WatchFiles(const TLibraryPaths& paths);
  bool FetchIsSound();
  // The transaction of Change.  When another program has switched a new pair of this
  // library in since it was opened (a change of its own that rewrote the data file),
  // the data file at FileName is taken up in place of the open one, as long as its
  // header and palette are the same; a library replaced by a different one stays refused.
  std::unique_ptr<TJovTransaction> StartTransaction(TChangeKind kind, TOperationDelegate* delegate);
  bool WritePlacement(int index, int fieldOffset, const uint8_t* bytes, int length);
  void MakeOutputEmpty();
  void MakeOutputOnePixel();
  // Reads a record header's size (w, h) and placement, storing the placement in the
  // tables; returns the reader's count, or -1 after emptying the output when the header
  // is missing or the size is 0 or negative.
  int64_t ReadRecordSize(int64_t offset, int64_t headerSize, int index, int& w, int& h);

  QString fileName_;
  int imageCount_ = 0;
  TLibType libType_ = ltLoadBmp;
  int px_ = 0, py_ = 0;
  int width_ = 0, height_ = 0;
  int offSet_ = 0;
  TFileType fileType_ = TFileType::Indexed;
  std::vector<int32_t> indexEntries_;
  TColorTable palette_{};
  TLibraryFiles files_;

  // Placements of every image read so far.  They start with room for 65,537 images and
  // grow with the index, so a larger library never writes past their end.
  std::vector<int32_t> pxTable_;
  std::vector<int32_t> pyTable_;
  QImage outputBitmap_;
  TDIB workDIB_;
  std::array<uint8_t, 24> indexHeader16_{};
  std::array<uint8_t, 48> indexHeader_{};
  QList<QRgb> colorTable_;  // the palette as QRgb, the colour table of 8-bit output
  // What fetches read: the data file, or the view of it as it was (ShowAsBefore).
  TFile& Source() { return viewFile_ ? *viewFile_ : *files_.data; }
  void DropView();
  std::unique_ptr<TFile> viewFile_;
  std::shared_mutex viewMutex_;  // fetches read under it; a view is put in place under it alone

  TRecordReader reader_;
  TByteBuffer storedRows_;     // the record StoredRows8 handed out last
  int64_t storedRowsAt_ = -1;  // where its rows start, until laid into the output bitmap
  QSize storedSize_;           // and the record's size
  uint8_t blackIndex_ = 0;     // palette index nearest to black

  TLibraryStamp shown_;
  TFileStamp openData_;   // the open data file when the index was read
  TFileStamp indexRead_;  // the index file the last opening read (none: no such file)
  TJournalProbe probe_;
  // The history's stamp in shown_ is still to be taken (see TakeStampsOfOpening).
  bool historyStampDue_ = false;
  TFileEvents events_;  // since the stamps were taken; none: the check has nothing to do
  bool followOthers_ = false;
  bool fetchesStale_ = false;  // a check failed: none passes until the stamps are taken again
  int staleFetches_ = 0;
};
