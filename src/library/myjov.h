#pragma once

// TJOV: the one object through which the program reads an image library.  It opens
// the data file, recognises the variant, loads the index and the palette, hands out
// any image as a bitmap with its size and placement, draws images and writes
// placements.

#include <QImage>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bitmap/dib.h"
#include "common/bytebuffer.h"
#include "common/fileio.h"
#include "library/jovjournal.h"

class QPainter;

enum TLibType { ltLoadBmp, ltLoadMemory, ltLoadMunual, ltUseCache };

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

  // Published properties: plain fields, no side effects.
  QString FileName;
  int ImageCount = 0;
  TLibType LibType = ltLoadBmp;
  int px = 0;
  int py = 0;
  int OffSet = 0;
  int Width = 0;
  int Height = 0;
  int FileType = 0;

  // Public fields the editing code works with.
  std::vector<int32_t> IndexEntries;
  std::unique_ptr<TFile> DataStream;
  std::array<uint8_t, 1024> Palette{};

  // Opens the library named by FileName; throws EJovError("FileName not assigned..")
  // when it is empty, and lets a failure to open the file propagate.
  TOpenResult Open();
  void Close();
  bool IsOpen() const { return DataStream != nullptr; }

  // The shared output bitmap, overwritten by every fetch; null unless LibType is
  // ltLoadBmp.  A caller that keeps the picture copies it.
  const QImage* ImageAt(int index);
  // The pixel rows of an 8-bit record as the file stores them (bottom row first, Width
  // bytes each) when they are exactly the picture ImageAt would give, i.e. the record
  // is readable and its width a multiple of 4; nullptr otherwise, and the caller takes
  // ImageAt.  Sets Width, Height, px and py as ImageAt does (the output bitmap follows
  // when next asked for); the rows stay valid until the next fetch.
  // Exporting uses it to write a record without laying it into the output bitmap.
  const uint8_t* StoredRows8(int index);

  void DrawThumbnail(QPainter& canvas, const QRect& rect, int index);
  void DrawZoomed(QPainter& canvas, int x, int y, int index, double zoom, bool transparent);

  // Write px / py of record index (the first pair only).  Always true.
  bool SetImagePx(int index, int16_t value);
  bool SetImagePy(int index, int16_t value);
  // Writes px and py of record index together, as one change.  Always true.
  bool SetImagePlacement(int index, int16_t x, int16_t y);

  // The record writers (FileType 0 and 1).  Each change is one transaction over the
  // pair of files: after it, or after the process dies anywhere in it, the files are
  // exactly as before or exactly as after, and this object describes them as they are.
  //
  // Replaces the pixels and size of image index by the picture (converted into the
  // library palette with ToLibraryBitmap); the placement stays.  False when no library
  // is open or the image has no record; file errors propagate.
  bool ReplaceImage(int index, const TPicture& picture);
  // Appends the picture as the new last image; a picture 1 pixel wide or high becomes
  // the placeholder record.  True also when no library is open (nothing is written);
  // false when an error was caught (its message then goes to error, when given).
  bool AppendImage(const TPicture& picture, int16_t x, int16_t y, QString* error = nullptr);
  // Appends the 1 x 1 placeholder record (placement 1, 1).  Results as AppendImage.
  bool AppendBlankImage();

  // The writers after conversion: pixels is the record's pixel block, width x height
  // bytes, bottom row first.  ReplaceRecord is ReplaceImage's write: false when no
  // library is open or the image has no record.  AppendRecord throws on failure.
  bool ReplaceRecord(int index, int width, int height, const uint8_t* pixels);
  void AppendRecord(int width, int height, int x, int y, const uint8_t* pixels);

  // Runs one change of the files of the open library: takes the writer's lock (rolling
  // back an interrupted change first), re-reads the count and the index so that the
  // change works on the files as they are, then runs body(TJovTransaction&), which
  // protects, begins, writes and commits, and then brings ImageCount and IndexEntries up
  // to date (or calls RefreshFromFiles).  When body throws, the transaction rolls back
  // and this object re-reads the files before the error goes on.  Every operation that
  // changes a library goes through here.
  template <class Body>
  void Change(Body&& body) {
    std::unique_ptr<TJovTransaction> transaction = StartTransaction();
    TChanging changing(changing_);
    try {
      RefreshFromFiles();
      body(*transaction);
    } catch (...) {
      transaction.reset();  // rolls back, or leaves the journal for the next opening
      ResyncAfterFailure();
      throw;
    }
  }
  // True while a change is under way: a change that reports progress may let windows
  // repaint, and the drawing operations then draw nothing rather than half-moved records.
  bool Changing() const { return changing_; }
  // Re-reads the image count and the index entries from the files.
  void RefreshFromFiles();

  // The index entry of image index, when the index holds one.  The extra last slot of 0
  // that the 8-bit variants carry is not an entry.
  std::optional<int32_t> EntryOf(int index) const;

  const QString& IndexFileName() const { return indexFileName_; }
  // Placement of image index as last read from its record header (0 when never read).
  int PxTable(int index) const;
  int PyTable(int index) const;
  // The shared output bitmap as the last fetch (ImageAt or StoredRows8) left it.
  const QImage& OutputBitmap();
  const TDIB& WorkDIB() const { return workDIB_; }
  const std::array<uint8_t, 24>& IndexHeader16() const { return indexHeader16_; }
  const std::array<uint8_t, 48>& IndexHeader() const { return indexHeader_; }

  // The text shown when the data file is missing.
  static QString MissingFileMessage(const QString& fileName);

 private:
  void LoadIndex(const QString& path);
  void LoadPalette();
  const QImage& FetchImage(int index);
  void ReadImage8(int64_t offset, int index);
  void ReadImage16(int64_t offset, int index);
  // Lays the stored rows of an 8-bit record (bottom row first) into the output bitmap.
  void LayRows8(const uint8_t* pixels, int w, int h);
  void SetTables(int index, int x, int y);
  void ResyncAfterFailure();
  // The transaction of Change.  When another program has switched a new pair of this
  // library in since it was opened (a change of its own that rewrote the data file),
  // the data file at FileName is taken up in place of the open one, as long as its
  // header and palette are the same; a library replaced by a different one stays refused.
  std::unique_ptr<TJovTransaction> StartTransaction();
  void GrowTables();
  bool WritePlacement(int index, int fieldOffset, const uint8_t* bytes, int length);
  void MakeOutputEmpty();
  void MakeOutputOnePixel();
  void DrawPicture(QPainter& canvas, const QRect& target, const QImage& picture, QRgb key);

  struct TChanging {
    explicit TChanging(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~TChanging() { flag_ = was_; }
    bool& flag_;
    bool was_;
  };
  bool changing_ = false;

  // The journal kept between the changes of the open library.
  std::unique_ptr<TFile> journal_;
  QString indexFileName_;
  // Placements of every image read so far.  They start with room for 65,537 images and
  // grow with the index, so a larger library never writes past their end.
  std::vector<int32_t> pxTable_;
  std::vector<int32_t> pyTable_;
  QImage outputBitmap_;
  TDIB workDIB_;
  std::array<uint8_t, 24> indexHeader16_{};
  std::array<uint8_t, 48> indexHeader_{};
  QList<QRgb> colorTable_;  // Palette as QRgb, the colour table of 8-bit output
  // Reads a record into readBuffer_ in at most two reads: ReadRecordHead takes the
  // header and as many bytes after it as the previous record had, and returns how many
  // it got (-1 when the file does not hold the header); ReadRecordRest then makes sure
  // all total bytes are there (false when the file ends before).
  int64_t ReadRecordHead(int64_t offset, int64_t headerSize);
  bool ReadRecordRest(int64_t offset, int64_t have, int64_t total);
  // Reads a record header's size (w, h) and placement, storing the placement in the
  // tables; returns ReadRecordHead's count, or -1 after emptying the output when the
  // header is missing or the size is 0 or negative.
  int64_t ReadRecordSize(int64_t offset, int64_t headerSize, int index, int& w, int& h);
  void ResizeOutput(int w, int h, QImage::Format format);

  TByteBuffer readBuffer_;        // reused between fetches
  int64_t lastRecordSize_ = 256;  // read ahead with the header of the next record
  int64_t headWanted_ = 0;        // bytes the last ReadRecordHead asked for
  TByteBuffer storedRows_;        // the record StoredRows8 handed out last
  int64_t storedRowsAt_ = -1;     // where its rows start, until laid into the output bitmap
  QSize storedSize_;              // and the record's size
  uint8_t blackIndex_ = 0;        // palette index nearest to black
  QImage keyedScratch_;           // reused by the drawing operations
};

// The file name without folder and extension: the name cut just before the first
// occurrence of its extension (dot included).  "a.jov.jov" gives "a".
QString BaseNameOf(const QString& path);

// The path of the index file of a data file: same folder, BaseNameOf + ".JOX".  When
// that exact name is missing, a file of the same name in another case is taken.
QString IndexPathOf(const QString& dataPath);

// Fills the fixed fields of a 16-bit (RGB565, bit fields) bitmap file header.
void BuildBitmap16Header(uint8_t (&header)[66]);

// Draws picture at (x, y), leaving out every pixel equal to key.
void DrawTransparent(QPainter& canvas, int x, int y, const QImage& picture, QRgb key);

// Draws the dotted focus frame over [x, x + w) x [y, y + h) by inverting.
void DrawFocusRect(QPainter& canvas, const QRect& rect);
