#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "common/byteio.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/stream.h"

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
