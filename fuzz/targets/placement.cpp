// Fuzzes the placement-file reader: any bytes either read as two values or are refused
// with the placement-file error, and what was read writes back as a file that reads the
// same.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/errors.h"
#include "editing/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  TPlacement placement;
  try {
    placement = ParsePlacement(bytes, QStringLiteral("fuzz.txt"));
  } catch (const EPlacementFileError&) {
    return 0;
  }
  const TPlacement again = ParsePlacement(PlacementFileBytes(placement.x, placement.y));
  if (again.x != placement.x || again.y != placement.y) std::abort();
  return 0;
}
