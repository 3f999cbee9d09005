#include "common/parseinteger.h"

namespace {

int DigitValue(QChar c, bool hex) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (hex && u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (hex && u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

}  // namespace

TParsedInteger ParseInteger(const QString& text) {
  TParsedInteger result;
  const qsizetype n = text.size();
  qsizetype i = 0;
  while (i < n && text[i] == QLatin1Char(' ')) ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  bool hex = false;
  if (i < n && (text[i] == QLatin1Char('$') || text[i] == QLatin1Char('x') ||
                text[i] == QLatin1Char('X'))) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
             (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
    hex = true;
    i += 2;
  }
  // The magnitude may reach 2^31 only for a negative number.
  const int64_t limit = negative ? int64_t(1) << 31 : (int64_t(1) << 31) - 1;
  const int base = hex ? 16 : 10;
  int64_t magnitude = 0;
  bool anyDigit = false;
  for (; i < n; ++i) {
    const int d = DigitValue(text[i], hex);
    const int64_t next = magnitude * base + d;
    if (d < 0 || next > limit) {
      result.value = int32_t(magnitude);
      result.errorPos = int(i + 1);
      return result;
    }
    magnitude = next;
    anyDigit = true;
  }
  if (!anyDigit) {
    result.value = 0;
    result.errorPos = int(n + 1);
    return result;
  }
  result.value = negative ? int32_t(-magnitude) : int32_t(magnitude);
  return result;
}
