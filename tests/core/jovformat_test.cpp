#include "library/jovformat.h"

#include <gtest/gtest.h>

#include <QFile>
#include <utility>
#include <vector>

#include "support/libbuilder.h"

// The templates are resources of the static core library: they are registered by hand.
static void InitTemplates() {
  Q_INIT_RESOURCE(templates);
}

namespace {

using Ranges = std::vector<std::pair<int, int>>;

uint8_t* Bytes(QByteArray& a) {
  return reinterpret_cast<uint8_t*>(a.data());
}

// a with the bytes of the half-open ranges set to 0: bytes no reader looks at, which the
// encoders leave 0 and the other writers fill with marks of their own.
QByteArray Blank(QByteArray a, const Ranges& unread) {
  for (const auto& [from, to] : unread)
    for (int i = from; i < to && i < a.size(); ++i) a[i] = 0;
  return a;
}

}  // namespace

TEST(JovFormat, HeadersMatchTheEmptyLibraryTemplatesOutsideTheirFiller) {
  InitTemplates();
  QFile jovFile(QStringLiteral(":/EXEFILE/JOV")), joxFile(QStringLiteral(":/EXEFILE/JOX"));
  ASSERT_TRUE(jovFile.open(QIODevice::ReadOnly));
  ASSERT_TRUE(joxFile.open(QIODevice::ReadOnly));
  QByteArray jovTemplate = jovFile.readAll();
  const QByteArray joxTemplate = joxFile.readAll();
  ASSERT_EQ(jovTemplate.size(), jov::FirstRecordOffset(0));
  ASSERT_EQ(joxTemplate.size(), jov::IndexHeaderSize(0));

  QByteArray data(jov::FirstRecordOffset(0), '\x7F');
  jov::EncodeDataHeader(Bytes(data), 0, 0, Bytes(jovTemplate) + jov::PaletteOffset(0));
  QByteArray index(jov::IndexHeaderSize(0), '\x7F');
  jov::EncodeIndexHeader(Bytes(index), 0, 0);
  // Bytes 36 to 43 of both templates are filler behind the title.
  EXPECT_EQ(data, Blank(jovTemplate, {{36, 44}}));
  EXPECT_EQ(index, Blank(joxTemplate, {{36, 44}}));
}

// Headers, a record header and index entries of every variant against the fixture
// builder, which writes the files from the format tables on its own.
TEST(JovFormat, EncodersAgreeWithTheFixtureBuilderOnEveryReadByte) {
  for (int fileType : {0, 1, 2}) {
    SCOPED_TRACE(fileType);
    const int offSet = fileType == 1 ? 4 : 0;
    LibraryBuilder b(fileType);
    b.dataCount = b.indexCount = 7;  // not the number of entries, to catch a mix-up
    const int32_t record =
        fileType == 2 ? b.Add16(5, 3, -7, 300, {1, 2, 3}) : b.Add8(4, 1, -7, 300, {1, 2, 3, 4});
    b.AddEntry(-1);
    const QByteArray built = b.Data();
    const int first = jov::FirstRecordOffset(fileType);
    ASSERT_EQ(record, first);

    QByteArray data(first, '\x7F');
    jov::EncodeDataHeader(Bytes(data), fileType, 7, b.palette.data());
    QByteArray head(fileType == 2 ? jov::kImageHeader16Size : jov::RecordHeaderSize(offSet),
                    '\x7F');
    if (fileType == 2)
      jov::EncodeRecordHeader16(Bytes(head), 5, 3, -7, 300, 3);
    else
      jov::EncodeRecordHeader(Bytes(head), offSet, 4, 1, -7, 300);
    const int indexHeader = jov::IndexHeaderSize(fileType);
    QByteArray index(indexHeader + 8, '\x7F');
    jov::EncodeIndexHeader(Bytes(index), fileType, 7);
    const std::vector<int32_t> entries{record, -1};
    jov::EncodeIndexEntries(Bytes(index) + indexHeader, entries);

    Ranges dataUnread, headUnread, indexUnread;
    if (fileType == 1) dataUnread = {{56, 60}};
    if (fileType == 2) {
      dataUnread = {{0, 2}, {19, 28}};
      headUnread = {{8, 13}};
      indexUnread = {{0, 20}};
    }
    EXPECT_EQ(data, Blank(built.left(first), dataUnread));
    EXPECT_EQ(head, Blank(built.mid(first, head.size()), headUnread));
    EXPECT_EQ(index, Blank(b.Index(), indexUnread));
  }
}
