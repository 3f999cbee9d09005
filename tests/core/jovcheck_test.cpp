// The structural check: each kind of damage, built byte by byte, gives its problem; sound
// libraries of every variant give none.

#include "library/jovcheck.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "library/myjov.h"
#include "support/libbuilder.h"

namespace {

std::vector<uint8_t> Pixels(int n) {
  return std::vector<uint8_t>(size_t(n), 7);
}

// Three 4 x 2 images at 1080, 1096 and 1112; the data file is 1128 bytes.
LibraryBuilder Three(int fileType = 0) {
  LibraryBuilder b(fileType);
  for (int i = 0; i < 3; ++i) b.Add8(4, 2, int16_t(i), 0, Pixels(8));
  return b;
}

void Chop(const QString& path, int bytes) {
  QFile f(path);
  ASSERT_TRUE(f.resize(f.size() - bytes));
}

struct Case {
  const char* name;
  std::function<LibraryBuilder()> build;
  std::function<void(const QString& dataPath)> damage;
  QStringList expected;  // %I stands for the index file's path
};

TEST(CheckLibrary, FindsEveryKindOfDamage) {
  const std::vector<Case> cases = {
      {"sound, with stale bytes and a placeholder",
       [] {
         LibraryBuilder b = Three();
         b.AddBytes(QByteArray(5, 'x'));
         b.Add8(1, 1, 1, 1, Pixels(1));
         return b;
       },
       nullptr,
       {}},
      {"sound variant 1", [] { return Three(1); }, nullptr, {}},
      {"sound run-coded, with leading non-images and an empty image",
       [] {
         LibraryBuilder b(2);
         b.AddEntry(-1);
         b.AddEntry(-5);
         b.Add16(2, 1, 0, 0, RowRecord({0xC1, 2, 1, 2}));
         b.AddEntry(0);
         b.Add16(1000, 1, 0, 0, {});
         return b;
       },
       nullptr,
       {}},
      {"counts disagree",
       [] {
         LibraryBuilder b = Three();
         b.dataCount = 4;
         return b;
       },
       nullptr,
       {"the image count is 4 in the data file but 3 in the index file",
        "image 3 has no index entry"}},
      {"negative count",
       [] {
         LibraryBuilder b = Three();
         b.dataCount = -1;
         return b;
       },
       nullptr,
       {"the image count -1 is negative",
        "the image count is -1 in the data file but 3 in the index file"}},
      {"index shorter than its count",
       [] {
         LibraryBuilder b = Three();
         b.dataCount = b.indexCount = 5;
         return b;
       },
       nullptr,
       {"the index file holds 3 entries, fewer than its count 5",
        "images 3 to 4 have no index entry"}},
      {"index file missing",
       [] { return Three(); },
       [](const QString& data) { QFile::remove(IndexPathOf(data)); },
       {"the index file %I is missing", "images 0 to 2 have no index entry"}},
      {"entry before the first record",
       [] {
         LibraryBuilder b = Three();
         b.AddEntry(1079);
         return b;
       },
       nullptr,
       {"image 3: entry 1079 lies before the first record at 1080"}},
      {"variant 1 entry before its first record",
       [] {
         LibraryBuilder b = Three(1);
         b.AddEntry(1080);
         return b;
       },
       nullptr,
       {"image 3: entry 1080 lies before the first record at 1084"}},
      {"entry past the end",
       [] {
         LibraryBuilder b = Three();
         b.AddEntry(1128);
         return b;
       },
       nullptr,
       {"image 3: entry 1128 lies past the end of the data file (1128 bytes)"}},
      {"record cut short",
       [] { return Three(); },
       [](const QString& data) { Chop(data, 3); },
       {"image 2: the record at 1112 (16 bytes) runs past the end of the data file (1125 bytes)"}},
      {"record header cut short",
       [] {
         LibraryBuilder b = Three();
         b.AddEntry(1124);
         return b;
       },
       nullptr,
       {"image 3: the record header at 1124 runs past the end of the data file (1128 bytes)",
        "image 3: the record at 1124..1127 overlaps image 2 at 1112..1127"}},
      {"sizes not positive or over the limit",
       [] {
         LibraryBuilder b(0);
         b.Add8(2001, 1, 0, 0, Pixels(2001));
         b.Add8(0, 5, 0, 0, {});
         b.Add8(4, -2, 0, 0, {});
         b.Add8(4, 2000, 0, 0, Pixels(8000));
         return b;
       },
       nullptr,
       {"image 0: the size 2001x1 is over the limit of 2000",
        "image 1: the size 0x5 is not positive", "image 2: the size 4x-2 is not positive"}},
      // Sound, but out of file order and shared: notes, not problems (below).
      {"the same record twice",
       [] {
         LibraryBuilder b = Three();
         b.AddEntry(1096);
         return b;
       },
       nullptr,
       {}},
      {"a record larger than the space to the next",
       [] {
         LibraryBuilder b(0);
         b.Add8(4, 4, 0, 0, Pixels(8));  // says 16 pixel bytes, the next record follows after 8
         b.Add8(4, 2, 0, 0, Pixels(8));
         b.Add8(4, 2, 0, 0, Pixels(8));
         return b;
       },
       nullptr,
       {"image 1: the record at 1096..1111 overlaps image 0 at 1080..1103"}},
      {"run-coded damage",
       [] {
         LibraryBuilder b(2);
         b.Add16(2, 1, 0, 0, {1, 2}, -2);
         b.AddEntry(10);
         b.Add16(1001, 1, 0, 0, {});
         b.Add16(2, 1, 0, 0, {1, 2}, 3);  // one word more than the file holds
         return b;
       },
       nullptr,
       {"image 0: the word count -2 is negative",
        "image 1: entry 10 lies in the data file's 28-byte header",
        "image 2: the size 1001x1 is over the limit of 1000",
        "image 3: the record at 66 (23 bytes) runs past the end of the data file (87 bytes)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const QString path = c.build().Write(dir.path(), "lib");
    if (c.damage) c.damage(path);
    TJOV jov;
    ASSERT_EQ(jov.Open(path), TOpenResult::Opened);
    QStringList got;
    for (const TProblem& p : CheckLibrary(jov))
      if (!p.note) got << p.problem;
    QStringList expected = c.expected;
    expected.replaceInStrings("%I", jov.IndexFileName());
    EXPECT_EQ(got.join('\n').toStdString(), expected.join('\n').toStdString());
  }
}

TEST(CheckLibrary, NotesASharedRecordAndAnIndexOutOfFileOrder) {
  QTemporaryDir dir;
  LibraryBuilder b = Three();
  b.AddEntry(1096);
  TJOV jov;
  ASSERT_EQ(jov.Open(b.Write(dir.path(), "lib")), TOpenResult::Opened);
  QStringList notes;
  for (const TProblem& p : CheckLibrary(jov)) {
    EXPECT_TRUE(p.note) << p.problem.toStdString();
    notes << p.problem;
  }
  EXPECT_EQ(notes, QStringList({"image 3 shares its record at 1096 with image 1",
                                "the index lists records out of file order: image 3 at 1096 lies "
                                "before image 2 at 1112"}));
}

TEST(CheckLibrary, ProblemsCarryTheirImageIndex) {
  QTemporaryDir dir;
  LibraryBuilder b = Three();
  b.dataCount = 5;
  b.AddEntry(99999);
  TJOV jov;
  jov.Open(b.Write(dir.path(), "lib"));
  const std::vector<TProblem> problems = CheckLibrary(jov);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0].index, -1);  // the counts
  EXPECT_EQ(problems[1].index, 3);
  EXPECT_EQ(problems[2].index, 4);  // no entry
  jov.Close();
  EXPECT_TRUE(CheckLibrary(jov).empty());
}

}  // namespace
