// Inputs the fuzzing targets (fuzz/) turned up, kept as byte arrays, and the limits on
// what a hostile file may make the readers allocate.

#include <gtest/gtest.h>

#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <string>

#include "bitmap/dib.h"
#include "common/errors.h"
#include "common/stream.h"
#include "support/bmpbuilder.h"

namespace {

// "" when the bitmap file reads, otherwise the exception's class and message.
std::string ReadBitmapOutcome(const QByteArray& file, TDIB* out = nullptr) {
  TDIB dib;
  try {
    TMemoryStream stream(file);
    dib.ReadBitmapStream(stream);
  } catch (const EInvalidGraphic& e) {
    return std::string("EInvalidGraphic: ") + e.what();
  } catch (const EReadError& e) {
    return std::string("EReadError: ") + e.what();
  } catch (const EJovError& e) {
    return std::string("EJovError: ") + e.what();
  }
  if (out) *out = dib;
  return "";
}

}  // namespace

// Run-length data may stand for at most 64 KiB plus 1,024 bytes of pixels per byte of
// data: a few bytes that declare a large blank picture are refused before anything is
// allocated for it.
TEST(FuzzLimits, RunLengthPicturesAreBoundedByTheirData) {
  auto blank = [](int rows) {
    BmpSpec spec;
    spec.width = 1024;  // 1,024 bytes a row at 8 bits
    spec.height = rows;
    spec.depth = 8;
    spec.compression = 1;
    spec.colours = {0x000000, 0xFFFFFF};
    spec.coloursUsed = 2;
    spec.pixels = QByteArray::fromHex("0001");  // end of picture: 2 bytes of data
    return BuildBmp(spec);
  };
  // 64 KiB + 1,024 x 2 bytes is exactly 66 rows of 1,024 bytes.
  TDIB dib;
  ASSERT_EQ(ReadBitmapOutcome(blank(66), &dib), "");
  EXPECT_EQ(dib.PixelHeight(), 66);
  const uint8_t* pixels = dib.PixelData();
  ASSERT_EQ(dib.ImageSize(), 66 * 1024);
  EXPECT_TRUE(std::all_of(pixels, pixels + dib.ImageSize(), [](uint8_t p) { return p == 0; }));
  EXPECT_EQ(ReadBitmapOutcome(blank(67)), "EInvalidGraphic: DIB is invalid");
  // A blank square of 1 MiB from 2 bytes of data.
  EXPECT_EQ(ReadBitmapOutcome(blank(1024)), "EInvalidGraphic: DIB is invalid");
}
