#include "common/fileio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileevents.h"
#include "common/stream.h"
#include "support/libbuilder.h"

namespace {

TEST(FileLayer, ReadsWritesAndTruncatesAtOffsets) {
  QTemporaryDir dir;
  const QString path = dir.filePath("f.bin");
  {
    auto f = TFile::Open(path, TFile::Mode::Create);
    f->WriteAt(0, "hello", 5);
    f->WriteAt(10, "x", 1);  // a hole reads as zeros
    EXPECT_EQ(f->Size(), 11);
    f->Flush();
  }
  auto f = TFile::Open(path, TFile::Mode::ReadWrite);
  char buf[16] = {};
  EXPECT_EQ(f->ReadAt(3, buf, 16), 8);
  EXPECT_EQ(std::string(buf, 2), "lo");
  EXPECT_EQ(buf[4], '\0');
  EXPECT_EQ(f->ReadAt(100, buf, 4), 0);
  EXPECT_THROW(f->ReadExactAt(8, buf, 4), EReadError);
  f->Truncate(4);
  EXPECT_EQ(f->Size(), 4);
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(dir.path()));
}

TEST(FileLayer, GatheredWritesAndScatteredReadsKeepTheOrderOfTheParts) {
  QTemporaryDir dir;
  auto f = TFile::Open(dir.filePath("parts.bin"), TFile::Mode::Create);
  // More parts than one system call takes.
  std::vector<char> bytes(2000);
  std::vector<TFile::Part> parts;
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = char(i * 7);
    parts.push_back({&bytes[i], 1});
  }
  f->WritePartsAt(3, parts.data(), int(parts.size()));
  EXPECT_EQ(f->Size(), 2003);
  std::vector<char> back(2000, 0);
  for (size_t i = 0; i < back.size(); ++i) parts[i] = {&back[back.size() - 1 - i], 1};
  EXPECT_EQ(f->ReadPartsAt(3, parts.data(), int(parts.size())), 2000);
  EXPECT_EQ(back[0], bytes[1999]);
  EXPECT_EQ(back[1999], bytes[0]);
  // At the end of the file the read comes up short.
  EXPECT_EQ(f->ReadPartsAt(2001, parts.data(), 4), 2);
}

TEST(FileLayer, OpenFailuresCarryTheReasonAndFactoriesCanBeReplaced) {
  QTemporaryDir dir;
  try {
    TFile::Open(dir.filePath("missing"), TFile::Mode::Read);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_TRUE(e.Message().startsWith("Cannot open file \"" + dir.filePath("missing") + "\"."));
  }
  EXPECT_THROW(TFile::Open(dir.path(), TFile::Mode::Read), EFOpenError);
  int opened = 0;
  auto old = TFile::SetFactory([&](const QString& p, TFile::Mode m) {
    ++opened;
    return TFile::OpenNative(p, m);
  });
  TFile::Open(dir.filePath("new"), TFile::Mode::Create);
  TFile::SetFactory(old);
  EXPECT_EQ(opened, 1);
}

TEST(ByteIo, ReaderFailureIsStickyAndWriterStaysInBounds) {
  const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF};
  ByteReader r(data, sizeof data);
  EXPECT_EQ(r.U32(), 0x04030201u);
  EXPECT_EQ(r.I16(), -1);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.U8(), 0);
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.U16(), 0);

  uint8_t out[3] = {};
  ByteWriter w(out, sizeof out);
  w.U16(0xBEEF);
  w.U16(0x1234);  // does not fit: nothing written
  EXPECT_FALSE(w.Ok());
  EXPECT_EQ(out[0], 0xEF);
  EXPECT_EQ(out[2], 0);
}

TEST(Streams, MemoryAndReadOnlyStreamsReadShortAtTheEnd) {
  TMemoryStream m;
  m.Write("abcdef", 6);
  m.Seek(4);
  char buf[8];
  EXPECT_EQ(m.Read(buf, 8), 2);
  m.Seek(5);
  EXPECT_THROW(m.ReadBuffer(buf, 2), EReadError);
  TGlobalMemoryStream g(m.Bytes());
  EXPECT_EQ(g.Read(buf, 3), 3);
  EXPECT_EQ(g.Remaining(), 3);
  EXPECT_THROW(g.Write("x", 1), EWriteError);
}

}  // namespace

TEST(FileLayer, FileExistsForFilesOnly) {
  QTemporaryDir dir;
  const QString file = dir.filePath("file"), link = dir.filePath("broken");
  WriteFileBytes(file, "x");
  QFile::link(dir.filePath("gone"), link);
  const struct {
    QString path;
    bool exists;
  } cases[] = {{file, true},
               {dir.path(), false},
               {dir.filePath("none"), false},
               {link, false},
               {QString(), false}};
  for (const auto& c : cases) EXPECT_EQ(FileExists(c.path), c.exists) << c.path.toStdString();
}

// One instance moves from folder to folder: what happened in the folder it left, before
// or after it left, is not an event of the one it watches now.
TEST(FileEvents, AWatchMovedToAnotherFolderReportsOnlyThatFolder) {
  QTemporaryDir dir;
  QDir(dir.path()).mkpath("a");
  QDir(dir.path()).mkpath("b");
  const QString a = dir.filePath("a"), b = dir.filePath("b");
  TFileEvents events;
  EXPECT_TRUE(events.Any()) << "nothing watched: maybe";
  events.Watch(a);
  ASSERT_TRUE(events.Watching());
  EXPECT_FALSE(events.Any());
  WriteFileBytes(a + "/one", "1");
  events.Watch(b);  // the write in a is forgotten with the watch of a
  WriteFileBytes(a + "/two", "2");
  EXPECT_FALSE(events.Any());
  WriteFileBytes(b + "/three", "3");
  EXPECT_TRUE(events.Any());
  EXPECT_FALSE(events.Any()) << "a look forgets what it saw";
  // The file watched by itself reports writes through another of its names.
  ASSERT_EQ(::link(QFile::encodeName(b + "/three").constData(),
                   QFile::encodeName(a + "/three").constData()),
            0);
  events.Watch(b, b + "/three");
  WriteFileBytes(a + "/three", "33");
  EXPECT_TRUE(events.Any());
  events.Stop();
  EXPECT_FALSE(events.Watching());
  EXPECT_TRUE(events.Any()) << "stopped: maybe";
  // Watching the same again after Stop keeps what was written while stopped, and only
  // that; watching another folder forgets it.
  events.Watch(b, b + "/three");
  WriteFileBytes(b + "/four", "4");
  events.Stop();
  events.Watch(b, b + "/three");
  EXPECT_FALSE(events.Any()) << "what came before Stop is forgotten";
  events.Stop();
  WriteFileBytes(b + "/five", "5");
  events.Watch(b, b + "/three");
  EXPECT_TRUE(events.Any()) << "a write while stopped is seen on watching again";
  events.Stop();
  WriteFileBytes(b + "/six", "6");
  events.Watch(a);
  EXPECT_FALSE(events.Any());
  // A marked name is told apart from the others, and telling it keeps the events.
  events.Mark("h");
  WriteFileBytes(a + "/h-not", "1");
  EXPECT_FALSE(events.Named());
  WriteFileBytes(a + "/h", "1");
  EXPECT_TRUE(events.Named());
  EXPECT_TRUE(events.Any()) << "Named leaves the events to the next look";
  EXPECT_TRUE(events.Named()) << "until the next Mark";
  events.Mark("h");
  EXPECT_FALSE(events.Named());
}
