// Fuzzes ParseInteger, the reader of every integer typed by the user or read from a
// placement file.  The first byte chooses how the rest becomes text: UTF-8, Latin-1 or
// raw UTF-16.  Besides sanitizer findings, it checks what any correct parse must give.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/parseinteger.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

QString TextOf(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const qsizetype n = qsizetype(size - 1);
  switch (data[0] % 3) {
    case 0: return QString::fromUtf8(bytes, n);
    case 1: return QString::fromLatin1(bytes, n);
    default: return QString(reinterpret_cast<const QChar*>(bytes), n / 2);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Copied so that the UTF-16 view is aligned.
  const QByteArray copy(reinterpret_cast<const char*>(data), qsizetype(size));
  const QString text = TextOf(reinterpret_cast<const uint8_t*>(copy.constData()), size);
  const TParsedInteger parsed = ParseInteger(text);

  // The error position is 0, a character of the text, or one past its end.
  Check(parsed.errorPos >= 0 && parsed.errorPos <= text.size() + 1);
  if (!parsed.ok()) return 0;
  // A number that was read writes back (decimal and hexadecimal) as text that reads the
  // same, and a trailing character that is not a digit is reported where it stands.
  const int64_t value = parsed.value;
  const QString decimal = QString::number(value);
  Check(ParseInteger(decimal).ok() && ParseInteger(decimal).value == parsed.value);
  const QString hex = (value < 0 ? QStringLiteral("-$") : QStringLiteral("$")) +
                      QString::number(value < 0 ? -value : value, 16);
  Check(ParseInteger(hex).ok() && ParseInteger(hex).value == parsed.value);
  const TParsedInteger trailing = ParseInteger(text + QLatin1Char('g'));
  Check(trailing.errorPos == text.size() + 1);
  return 0;
}
