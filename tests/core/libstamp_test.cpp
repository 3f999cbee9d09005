// A reader that follows other programs: what it makes of the files after each kind of
// change another object makes to them, and whether a fetch at that moment is trusted.

#include "library/libstamp.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "library/myjov.h"
#include "support/idpictures.h"

namespace {

constexpr int kBase = 8;

struct Look {
  TLibraryChange change;
  bool fetchTrusted;
  int shownId;  // the id image 0 shows when the fetch is trusted
};

Look LookAt(TJOV& reader) {
  const QImage* image = reader.ImageAt(0);
  const bool trusted = reader.FetchesSound();
  return {reader.ChangeByOthers(), trusted, trusted ? IdOf(*image, kBase) : 0};
}

std::vector<uint8_t> Pixels(int id) {
  const QSize s = IdSize(id, kBase);
  return std::vector<uint8_t>(size_t(s.width() * s.height()), uint8_t(id));
}

struct Case {
  const char* what;
  bool newPair;
  // Runs the change with writer (another object on the same files, as another program
  // is), and may look at the reader while it runs; the look afterwards is returned.
  std::function<void(TJOV& writer, TJOV& reader, std::vector<Look>& during)> change;
  std::vector<Look> expectedDuring;
  Look expectedAfter;
  int idOpenedAgain;  // what image 0 is once the reader opens the library again
};

TEST(FollowOthers, EachKindOfChangeIsSeenAndNoFetchAcrossOneIsTrusted) {
  const QSize s2 = IdSize(2, kBase);
  const std::vector<Case> cases = {
      {"nothing",
       false,
       [](TJOV&, TJOV&, std::vector<Look>&) {},
       {},
       {TLibraryChange::None, true, 1},
       1},
      {"an append in place",
       false,
       [&](TJOV& w, TJOV&, std::vector<Look>&) {
         w.AppendRecord(s2.width(), s2.height(), 0, 0, Pixels(2).data());
       },
       {},
       {TLibraryChange::Committed, false, 0},
       1},
      // The open data file is the replaced one, whole and as the index read with it says.
      {"a replace through a new pair",
       true,
       [&](TJOV& w, TJOV&, std::vector<Look>&) {
         w.ReplaceRecord(0, s2.width(), s2.height(), Pixels(2).data());
       },
       {},
       {TLibraryChange::Committed, true, 1},
       2},
      {"a replace in place, looked at while under way",
       false,
       [&](TJOV& w, TJOV& r, std::vector<Look>& during) {
         w.SetOnChangeBegun([&](std::shared_ptr<const TOldView>) { during.push_back(LookAt(r)); });
         w.ReplaceRecord(0, s2.width(), s2.height(), Pixels(2).data());
       },
       {{TLibraryChange::Underway, false, 0}},
       {TLibraryChange::Committed, false, 0},
       2},
      {"a switch record standing",
       false,
       [](TJOV& w, TJOV& r, std::vector<Look>& during) {
         WriteFileBytes(w.Paths().Switch(), "x");
         during.push_back(LookAt(r));
         QFile::remove(w.Paths().Switch());
       },
       {{TLibraryChange::Underway, true, 1}},
       {TLibraryChange::None, true, 1},
       1},
      // Written right after the reader opened, before its first look.
      {"the history written by another program",
       false,
       [](TJOV& w, TJOV&, std::vector<Look>&) { WriteFileBytes(w.Paths().History(), "x"); },
       {},
       {TLibraryChange::Committed, true, 1},
       1},
      // The reader's own change is what it shows.
      {"a change of the reader itself",
       false,
       [](TJOV&, TJOV& r, std::vector<Look>&) { r.SetImagePlacement(0, 5, 6); },
       {},
       {TLibraryChange::None, true, 1},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    LibraryBuilder b(0);
    for (int id : {1, 3, 4}) AddIdImage(b, id, kBase);
    const QString path = b.Write(dir.path(), "lib");
    const int64_t floor = TJovTransaction::SetRewriteFloor(c.newPair ? 0 : int64_t(1) << 40);
    TJOV reader, writer;
    reader.SetFollowOthers(true);
    ASSERT_EQ(reader.Open(path), TOpenResult::Opened);
    ASSERT_EQ(writer.Open(path), TOpenResult::Opened);
    std::vector<Look> during;
    c.change(writer, reader, during);
    TJovTransaction::SetRewriteFloor(floor);
    ASSERT_EQ(during.size(), c.expectedDuring.size());
    for (size_t i = 0; i < during.size(); ++i) {
      EXPECT_EQ(during[i].change, c.expectedDuring[i].change);
      EXPECT_EQ(during[i].fetchTrusted, c.expectedDuring[i].fetchTrusted);
    }
    const Look after = LookAt(reader);
    EXPECT_EQ(after.change, c.expectedAfter.change);
    EXPECT_EQ(after.fetchTrusted, c.expectedAfter.fetchTrusted);
    EXPECT_EQ(after.shownId, c.expectedAfter.shownId);
    // Opened again, it shows the files as they are, trusted.
    ASSERT_EQ(reader.Open(path), TOpenResult::Opened);
    const Look reopened = LookAt(reader);
    EXPECT_EQ(reopened.change, TLibraryChange::None);
    EXPECT_TRUE(reopened.fetchTrusted);
    EXPECT_EQ(reopened.shownId, c.idOpenedAgain);
    // Closed while another program appends, and opened again: it counts the new image.
    const int count = reader.ImageCount();
    reader.Close();
    QFile::remove(writer.Paths().History());
    ASSERT_EQ(writer.Open(path), TOpenResult::Opened);
    writer.AppendRecord(s2.width(), s2.height(), 0, 0, Pixels(2).data());
    ASSERT_EQ(reader.Open(path), TOpenResult::Opened);
    EXPECT_EQ(reader.ImageCount(), count + 1);
    EXPECT_EQ(LookAt(reader).change, TLibraryChange::None);
    EXPECT_TRUE(reader.FetchesSound());
  }
}

}  // namespace
