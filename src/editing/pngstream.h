#pragma once

// A PNG file written row by row: each row is deflated as it comes and goes out through
// the file layer, so that a picture of any height costs one row and the compressor.

#include <QtGui/qrgb.h>

#include <QList>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class TFile;

class TPngStream {
 public:
  // Creates the file at path (replacing one that is there) for a width x height picture:
  // indexed with palette as its colours and their alpha (tRNS) when palette is given,
  // otherwise 8-bit RGBA.  Throws on failure.
  TPngStream(const QString& path, int width, int height, const QList<QRgb>& palette = {});
  ~TPngStream();
  TPngStream(const TPngStream&) = delete;
  TPngStream& operator=(const TPngStream&) = delete;

  // The next row, top row first: width palette indices, or width x (red, green, blue,
  // alpha) bytes.
  void WriteRow(const uint8_t* row);
  // Ends the file after the last row.  Throws on failure, as WriteRow does.
  void Finish();

  int BytesPerPixel() const { return indexed_ ? 1 : 4; }

 private:
  void Deflate(const uint8_t* data, size_t n, bool last);
  void Chunk(const char* type, const uint8_t* data, size_t n);
  void Put(const uint8_t* data, size_t n);
  void Flush();

  struct TZlib;
  std::unique_ptr<TZlib> zlib_;
  std::unique_ptr<TFile> file_;
  int width_;
  int rowsLeft_;
  bool indexed_;
  std::vector<uint8_t> idat_;     // deflated bytes waiting for their IDAT chunk
  std::vector<uint8_t> pending_;  // file bytes waiting to be written
  int64_t written_ = 0;
};
