#include "library/jovformat.h"

QString TypeLabel(int fileType, int offSet) {
  switch (fileType) {
    case 0: return QStringLiteral("VARN   数据格式(1)");
    case 1: return QStringLiteral("VARN   数据格式(2)");
    case 2:
      return offSet > 0 ? QStringLiteral("OLM   数据格式(2)") : QStringLiteral("OLM   数据格式(1)");
    default: return QString();
  }
}
