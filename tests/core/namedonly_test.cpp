// What every writer keeps to, whatever the library's index looks like: it changes only
// the images it names (an index may list records out of file order, and two entries may
// share a record), and it refuses a picture whose record the reader would not show.
// Either way a refused change leaves the files as they were.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <functional>

#include "common/errors.h"
#include "editing/batchimport.h"
#include "editing/createlib.h"
#include "editing/rangeedit.h"
#include "library/jovcheck.h"
#include "library/myjov.h"
#include "library/tolibrary.h"
#include "support/libbuilder.h"

namespace {

// What an image shows: its picture and placement.
struct Shown {
  QImage picture;
  int px, py;
  bool operator==(const Shown& o) const { return picture == o.picture && px == o.px && py == o.py; }
};

std::vector<Shown> Show(const QString& path) {
  TJOV jov;
  EXPECT_EQ(jov.Open(path), TOpenResult::Opened);
  std::vector<Shown> shown;
  for (int i = 0; i < jov.ImageCount(); ++i) {
    const QImage picture = jov.ImageAt(i)->copy();
    shown.push_back({picture, jov.px(), jov.py()});
  }
  return shown;
}

// Eight images of several sizes, placements and pixels, in file order; the index lists
// them as `order` says (entry k is the record of image order[k]).
QString Lay(const QString& dir, int fileType, const std::vector<int>& order) {
  LibraryBuilder records(fileType);
  std::vector<int32_t> at;
  for (int i = 0; i < 8; ++i) {
    const int w = 4 * (i % 3 + 1), h = i % 2 + 2;
    std::vector<uint8_t> pixels(size_t(w * h));
    for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = uint8_t(i * 29 + k + 1);
    at.push_back(records.Add8(int16_t(w), int16_t(h), int16_t(i * 3 - 5), int16_t(7 - i), pixels));
  }
  LibraryBuilder b(fileType);
  const int front = fileType == 1 ? 1084 : 1080;
  b.AddBytes(records.Data().mid(front));
  for (const int i : order) b.AddEntry(at[size_t(i)]);
  return b.Write(dir, "lib");
}

struct IndexKind {
  const char* name;
  std::vector<int> order;
};
const IndexKind kKinds[] = {
    {"in order", {0, 1, 2, 3, 4, 5, 6, 7}},
    {"3 and 4 swapped", {0, 1, 2, 4, 3, 5, 6, 7}},
    // Image 0 stays first: a variant 1 index is told by its first entry.
    {"reversed behind 0", {0, 7, 6, 5, 4, 3, 2, 1}},
    {"5 shares 2's record", {0, 1, 2, 3, 4, 2, 6, 7}},
};

std::vector<uint8_t> Filled(int w, int h, uint8_t v) {
  return std::vector<uint8_t>(size_t(w * h), v);
}

// A folder of two bitmaps, 000002.bmp and 000003.bmp, with placement files.
QString PictureFolder(const QString& dir) {
  const QString folder = QDir(dir).filePath("pictures");
  QDir().mkpath(folder + "/Placements");
  for (const int i : {2, 3}) {
    QImage picture(5 + i, 3, QImage::Format_RGB32);
    picture.fill(qRgb(40 * i, 200, 90));
    picture.save(folder + QStringLiteral("/%1.bmp").arg(i, 6, 10, QLatin1Char('0')));
    WriteFileBytes(folder + QStringLiteral("/Placements/%1.txt").arg(i, 6, 10, QLatin1Char('0')),
                   "12\r\n-4\r\n");
  }
  return folder + "/";
}

struct Writer {
  const char* name;
  std::function<void(TJOV&, const QString& folder)> run;
  // Where image i is afterwards; -1 for an image the writer names (or removes).
  std::function<int(int)> after;
};

int Same(int i) {
  return i;
}
std::function<int(int)> Naming(std::vector<int> named, int at = INT32_MAX, int shift = 0) {
  return [named, at, shift](int i) {
    if (std::find(named.begin(), named.end(), i) != named.end()) return -1;
    return i >= at ? i + shift : i;
  };
}

std::vector<Writer> Writers() {
  const TImportPlacements typed{true, {9, -9}};
  const QStringList two = {QStringLiteral("000002.bmp"), QStringLiteral("000003.bmp")};
  return {
      {"replace, same size",
       [](TJOV& j, const QString&) { j.ReplaceRecord(2, 12, 2, Filled(12, 2, 200).data()); },
       Naming({2})},
      {"replace, larger",
       [](TJOV& j, const QString&) { j.ReplaceRecord(3, 12, 5, Filled(12, 5, 201).data()); },
       Naming({3})},
      {"replace, smaller",
       [](TJOV& j, const QString&) { j.ReplaceRecord(4, 4, 1, Filled(4, 1, 202).data()); },
       Naming({4})},
      {"set px", [](TJOV& j, const QString&) { j.SetImagePx(2, 99); }, Naming({2})},
      {"placements 2..5",
       [typed](TJOV& j, const QString&) { ImportPlacements(j, QString(), typed, 2, 5); },
       Naming({2, 3, 4, 5})},
      {"append",
       [](TJOV& j, const QString&) { j.AppendRecord(4, 1, 0, 0, Filled(4, 1, 3).data()); }, Same},
      {"insert at 3",
       [](TJOV& j, const QString&) { InsertRecord(j, 3, 8, 2, 1, 1, Filled(8, 2, 4).data()); },
       Naming({}, 3, 1)},
      {"insert at 0",
       [](TJOV& j, const QString&) { InsertRecord(j, 0, 4, 3, 1, 1, Filled(4, 3, 5).data()); },
       Naming({}, 0, 1)},
      {"delete 2..3", [](TJOV& j, const QString&) { DeleteRange(j, 2, 3); }, Naming({2, 3}, 4, -2)},
      {"delete 5", [](TJOV& j, const QString&) { DeleteRange(j, 5, 5); }, Naming({5}, 6, -1)},
      {"clear 2..4", [](TJOV& j, const QString&) { ClearRange(j, 2, 4); }, Naming({2, 3, 4})},
      {"clear 5", [](TJOV& j, const QString&) { ClearRange(j, 5, 5); }, Naming({5})},
      {"pixels 2..3", [](TJOV& j, const QString& f) { ImportPixels(j, f, 2, 3); }, Naming({2, 3})},
      {"batch replace 4..5",
       [two](TJOV& j, const QString& f) { ImportReplace(j, f, two, {}, 4, 5); }, Naming({4, 5})},
      {"batch insert at 2", [two](TJOV& j, const QString& f) { ImportInsert(j, f, two, {}, 2); },
       Naming({}, 2, 2)},
      {"batch add", [two](TJOV& j, const QString& f) { ImportAdd(j, f, two, {}); }, Same},
      {"compact", [](TJOV& j, const QString&) { CompactLibrary(j); }, Same},
  };
}

TEST(NamedOnly, EveryWriterChangesOnlyTheImagesItNames) {
  for (const int fileType : {0, 1}) {
    for (const IndexKind& kind : kKinds) {
      for (const Writer& writer : Writers()) {
        SCOPED_TRACE(testing::Message()
                     << "FileType " << fileType << ", index " << kind.name << ", " << writer.name);
        QTemporaryDir dir;
        const QString lib = Lay(dir.path(), fileType, kind.order);
        const QString folder = PictureFolder(dir.path());
        const QByteArray oldData = ReadFileBytes(lib),
                         oldIndex = ReadFileBytes(dir.filePath("lib.JOX"));
        const std::vector<Shown> before = Show(lib);
        bool refused = false;
        {
          TJOV jov;
          ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
          try {
            writer.run(jov, folder);
          } catch (const EJovError& e) {
            refused = true;
          }
        }
        if (refused) {
          EXPECT_EQ(ReadFileBytes(lib), oldData);
          EXPECT_EQ(ReadFileBytes(dir.filePath("lib.JOX")), oldIndex);
          continue;
        }
        const std::vector<Shown> now = Show(lib);
        for (int i = 0; i < int(before.size()); ++i) {
          const int j = writer.after(i);
          if (j < 0) continue;
          ASSERT_LT(j, int(now.size()));
          EXPECT_TRUE(now[size_t(j)] == before[size_t(i)]) << "image " << i << " is now " << j;
        }
        TJOV reopened;
        ASSERT_EQ(reopened.Open(lib), TOpenResult::Opened);
        for (const TProblem& p : CheckLibrary(reopened))
          EXPECT_TRUE(p.note) << p.problem.toStdString();
      }
    }
  }
}

// A picture whose record would be over 2000 in width or height is refused by every writer,
// with the reason naming the limit, before anything is written.
TEST(NamedOnly, PicturesTheReaderWouldNotShowAreRefusedByEveryWriter) {
  for (const QSize size : {QSize(2001, 10), QSize(10, 2001)}) {
    SCOPED_TRACE(testing::Message() << size.width() << " x " << size.height());
    QTemporaryDir dir;
    const QString lib = Lay(dir.path(), 0, kKinds[0].order);
    const QString folder = dir.filePath("large/");
    QDir().mkpath(folder);
    QImage large(size, QImage::Format_RGB32);
    large.fill(qRgb(1, 2, 3));
    ASSERT_TRUE(large.save(folder + "000001.bmp"));
    const QStringList files = {QStringLiteral("000001.bmp")};
    const QByteArray oldData = ReadFileBytes(lib),
                     oldIndex = ReadFileBytes(dir.filePath("lib.JOX"));
    const QString reason = QStringLiteral(
                               "the picture is %1 x %2; a library image can be at most "
                               "2000 x 2000")
                               .arg(size.width())
                               .arg(size.height());
    const std::vector<std::pair<const char*, std::function<void(TJOV&)>>> writers = {
        {"Import At", [&](TJOV& j) { j.ReplaceImage(1, TPicture(large)); }},
        {"insert", [&](TJOV& j) { InSert(j, TPicture(large), 0, 0, 1); }},
        {"add", [&](TJOV& j) { ImportAdd(j, folder, files, {}); }},
        {"batch insert", [&](TJOV& j) { ImportInsert(j, folder, files, {}, 0); }},
        {"batch replace", [&](TJOV& j) { ImportReplace(j, folder, files, {}, 1, 1); }},
        {"pixels", [&](TJOV& j) { ImportPixels(j, folder, 1, 1); }},
        {"create",
         [&](TJOV&) {
           TCreateOptions options;
           options.folder = folder;
           options.dataPath = lib;
           CreateLibrary(options);
         }},
    };
    for (const auto& [name, run] : writers) {
      SCOPED_TRACE(name);
      TJOV jov;
      ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
      try {
        run(jov);
        ADD_FAILURE() << "written";
      } catch (const EJovError& e) {
        EXPECT_EQ(e.Message(), reason);
      }
      QString error;
      EXPECT_FALSE(jov.AppendImage(TPicture(large), 0, 0, &error));
      EXPECT_EQ(error, reason);
      EXPECT_EQ(ReadFileBytes(lib), oldData);
      EXPECT_EQ(ReadFileBytes(dir.filePath("lib.JOX")), oldIndex);
    }
  }
}

}  // namespace
