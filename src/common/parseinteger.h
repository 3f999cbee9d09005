#pragma once

#include <QString>
#include <cstdint>

// Reads a signed 32-bit integer the way every text field and placement file of the
// program is read.  Leading spaces are skipped, then an optional sign, then decimal
// digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X".  The whole rest of
// the text must be digits.
struct TParsedInteger {
  int32_t value = 0;
  // 0 on success; otherwise the 1-based position of the first character that does not
  // fit (one past the end when the text ends too early), and value holds the magnitude
  // of the digits read before it.
  int errorPos = 0;
  bool ok() const { return errorPos == 0; }
};

TParsedInteger ParseInteger(const QString& text);
