// Fuzzes the library reader: a data file and its index file, both taken from the input,
// are opened as a library, every image is fetched (also as stored rows, which must agree
// with the picture), some are drawn, and placements are written.
//
// A crash found through state left by earlier runs reproduces with those runs' inputs
// given first (the object is reused, as in the viewer).
//
// Input layout: byte 0 holds flags (bit 0: there is an index file; bit 1: it is named
// ".jox" instead of ".JOX", so the search for another case runs), bytes 1..4 the length
// of the data file (little-endian, cut to what follows), then the data file, then the
// index file.
//
// TJOV looks for its files through the file system (whether the data file exists, and
// which name the index has), so the two files are written per run into a folder of
// its own on a memory file system (/dev/shm when there is one).
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/errors.h"
#include "library/myjov.h"
#include "viewer/jovdraw.h"

namespace {

QByteArray g_dataPath, g_upperIndexPath, g_lowerIndexPath;
QString g_dataName;
volatile uint32_t g_sink = 0;

void WriteFile(const QByteArray& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(fd, data + done, size - done);
    if (put <= 0) std::abort();
    done += size_t(put);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  const QByteArray dir = QByteArray(base) + "/jov-fuzz-" + QByteArray::number(qint64(getpid()));
  QDir().mkpath(QString::fromLocal8Bit(dir));
  g_dataPath = dir + "/lib.jov";
  g_upperIndexPath = dir + "/lib.JOX";
  g_lowerIndexPath = dir + "/lib.jox";
  g_dataName = QString::fromLocal8Bit(g_dataPath);
  std::atexit([] {
    ::unlink(g_dataPath.constData());
    ::unlink(g_upperIndexPath.constData());
    ::unlink(g_lowerIndexPath.constData());
    ::rmdir(QByteArray(g_dataPath).replace("/lib.jov", "").constData());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint8_t flags = data[0];
  uint32_t declared;
  std::memcpy(&declared, data + 1, 4);
  data += 5;
  size -= 5;
  const size_t dataSize = std::min<size_t>(declared, size);

  ::unlink(g_upperIndexPath.constData());
  ::unlink(g_lowerIndexPath.constData());
  WriteFile(g_dataPath, data, dataSize);
  if (flags & 1)
    WriteFile(flags & 2 ? g_lowerIndexPath : g_upperIndexPath, data + dataSize, size - dataSize);

  // One library object serves every run, as the viewer keeps one and opens library after
  // library with it; it also spares each run the allocation of its placement tables.
  static TJOV jov;
  jov.Close();
  if (jov.Open(g_dataName) != TOpenResult::Opened) return 0;

  // Images past the end of the index are all empty; fetching one of them stands for
  // the rest, so that a count of two thousand million does not take forever.
  const int64_t entries = int64_t(jov.IndexEntries().size());
  const int last = int(std::min<int64_t>(jov.ImageCount(), entries + 1));
  for (int i = 0; i < last; ++i) {
    const QImage* picture = jov.ImageAt(i);
    if (picture == nullptr) std::abort();
    // Touch the first and last byte of every row the picture claims to have.
    uint32_t sum = 0;
    for (int y = 0; y < picture->height(); ++y) {
      const uchar* row = picture->constScanLine(y);
      sum += row[0] + row[picture->bytesPerLine() - 1];
    }
    g_sink = g_sink + sum;

    // Stored rows, when handed out, are the picture's rows bottom first, unpadded.
    const QImage shown = picture->copy();
    if (const uint8_t* rows = jov.StoredRows8(i)) {
      if (shown.width() != jov.Width() || shown.height() != jov.Height()) std::abort();
      for (int y = 0; y < jov.Height(); ++y)
        if (std::memcmp(rows + size_t(jov.Height() - 1 - y) * size_t(jov.Width()),
                        shown.constScanLine(y), size_t(jov.Width())) != 0)
          std::abort();
      if (jov.OutputBitmap() != shown) std::abort();
    }
  }
  jov.ImageAt(-1);
  jov.ImageAt(jov.ImageCount() - 1);
  jov.ImageAt(jov.ImageCount());

  // Drawing: a few images, as thumbnails and zoomed in and out.
  QImage canvasImage(48, 48, QImage::Format_RGB32);
  canvasImage.fill(Qt::white);
  {
    QPainter canvas(&canvasImage);
    for (int i = 0; i < std::min(last, 3); ++i) {
      DrawThumbnail(jov, canvas, QRect(2, 2, 40, 40), i);
      DrawZoomed(jov, canvas, -3, 5, i, 1.5, i % 2 == 0);
      DrawZoomed(jov, canvas, 7, -2, i, 0.5, i % 2 != 0);
    }
  }

  // Placements are written into the data file only where a record can be.
  // A damaged library may refuse a change with an error; it must never crash or write
  // outside its files.
  if (jov.ImageCount() > 0) {
    try {
      jov.SetImagePx(0, 17);
      jov.SetImagePy(jov.ImageCount() - 1, -3);
      jov.SetImagePx(last, 1);
    } catch (const EJovError&) {
    }
  }
  return 0;
}
