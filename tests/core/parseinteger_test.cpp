#include <gtest/gtest.h>

#include "common/parseinteger.h"

namespace {

struct Case {
  const char* text;
  int32_t value;
  int errorPos;
};

TEST(ParseInteger, ReadsDecimalAndEveryHexForm) {
  const Case cases[] = {
      {"0", 0, 0},          {"42", 42, 0},         {"  -5", -5, 0},   {"+17", 17, 0},
      {"$10", 16, 0},       {"x1f", 31, 0},        {"X1F", 31, 0},    {"0x10", 16, 0},
      {"0XfF", 255, 0},     {"-$10", -16, 0},      {"007", 7, 0},     {"2147483647", INT32_MAX, 0},
      {"-2147483648", INT32_MIN, 0}, {"$7FFFFFFF", INT32_MAX, 0}, {"-$80000000", INT32_MIN, 0},
  };
  for (const Case& c : cases) {
    const TParsedInteger r = ParseInteger(QString::fromUtf8(c.text));
    EXPECT_EQ(r.value, c.value) << c.text;
    EXPECT_EQ(r.errorPos, c.errorPos) << c.text;
  }
}

TEST(ParseInteger, ReportsThePositionOfTheFirstMisfitAndTheDigitsBeforeIt) {
  const Case cases[] = {
      {"", 0, 1},         {"   ", 0, 4},       {"-", 0, 2},        {"12abc", 12, 3},
      {"5x", 5, 2},       {"-12a", 12, 4},      {"$", 0, 2},        {"0x", 0, 3},
      {"$1G", 1, 3},      {"12 ", 12, 3},       {" 1 2", 1, 3},     {"--1", 0, 2},
      {"1.5", 1, 2},      {"abc", 0, 1},        {"\xe4\xb8\x80", 0, 1},
      // Outside the signed 32-bit range: the digit that overflows is the misfit.
      {"2147483648", 214748364, 10}, {"-2147483649", 214748364, 11},
      {"$FFFFFFFF", 0xFFFFFFF, 9},   {"99999999999", 999999999, 10},
  };
  for (const Case& c : cases) {
    const TParsedInteger r = ParseInteger(QString::fromUtf8(c.text));
    EXPECT_EQ(r.errorPos, c.errorPos) << c.text;
    EXPECT_EQ(r.value, c.value) << c.text;
    EXPECT_FALSE(r.ok()) << c.text;
  }
}

}  // namespace
