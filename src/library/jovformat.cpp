#include "library/jovformat.h"

#include "common/byteio.h"

namespace jov {

void EncodeRecordHeader(uint8_t* out, int offSet, int width, int height, int px, int py) {
  PutU16(out, uint16_t(width));
  PutU16(out + 2, uint16_t(height));
  PutU16(out + 4, uint16_t(px));
  PutU16(out + 6, uint16_t(py));
  // FileType 1 keeps a second copy of the placement.
  if (offSet == 4) {
    PutU16(out + 8, uint16_t(px));
    PutU16(out + 10, uint16_t(py));
  }
}

}  // namespace jov

QString TypeLabel(int fileType, int offSet) {
  switch (fileType) {
    case 0: return QStringLiteral("VARN   数据格式(1)");
    case 1: return QStringLiteral("VARN   数据格式(2)");
    case 2:
      return offSet > 0 ? QStringLiteral("OLM   数据格式(2)") : QStringLiteral("OLM   数据格式(1)");
    default: return QString();
  }
}
