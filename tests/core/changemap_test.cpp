#include "library/changemap.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Whether a stretch of a changed file still holds the old bytes where they were: what
// lets a change carry a checksum over instead of reading the bytes again.
TEST(ChangeMap, KeepsOnlyOldBytesThatStayWhereTheyWere) {
  const struct {
    const char* what;
    std::function<void(TChangeMap&)> change;
    int64_t begin, end;
    bool keeps;
  } cases[] = {
      {"nothing changed", [](TChangeMap&) {}, 0, 100, true},
      {"a write behind the stretch", [](TChangeMap& m) { m.Wrote(60, 4); }, 0, 60, true},
      {"a write inside it", [](TChangeMap& m) { m.Wrote(10, 4); }, 0, 60, false},
      {"old bytes copied back onto their place",
       [](TChangeMap& m) {
         m.Wrote(10, 4);
         m.Copied(10, 10, 4);
       },
       0, 60, true},
      {"old bytes moved there from elsewhere", [](TChangeMap& m) { m.Copied(40, 0, 20); }, 0, 20,
       false},
      {"the tail moved on, the front kept", [](TChangeMap& m) { m.Copied(50, 58, 50); }, 0, 50,
       true},
      {"the file cut inside it", [](TChangeMap& m) { m.Cut(30); }, 0, 60, false},
      {"the file grown past its old end", [](TChangeMap& m) { m.Wrote(100, 8); }, 90, 108, false},
      {"an empty stretch", [](TChangeMap& m) { m.Wrote(0, 100); }, 5, 5, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TChangeMap map(100);
    c.change(map);
    EXPECT_EQ(map.Keeps(c.begin, c.end), c.keeps);
  }
}

}  // namespace
