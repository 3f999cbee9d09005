// jovtool sheet and gif as a user runs them: ranges clamped as export clamps them, the
// command-line checks, and no file left behind by a run that fails.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "cli/jovtoolrun.h"
#include "support/libbuilder.h"

namespace {

TEST(JovtoolShare, SheetAndGifRunsAndRefusals) {
  QTemporaryDir dir;
  LibraryBuilder b(0);
  for (int16_t i = 0; i < 3; ++i)
    b.Add8(8, int16_t(4 + i), int16_t(i), -3,
           std::vector<uint8_t>(size_t(32 + 8 * i), uint8_t(i + 1)));
  const QString lib = b.Write(dir.path(), "lib");
  LibraryBuilder rich(2);  // one run-coded frame of 300 colours
  std::vector<uint16_t> words = {302, 0xC1, 300};
  for (uint16_t c = 1; c <= 300; ++c) words.push_back(c);
  rich.Add16(300, 1, 0, 0, words);
  const QString richLib = rich.Write(dir.path(), "rich");
  const QString png = dir.filePath("s.png"), gif = dir.filePath("a.gif");

  const struct {
    QStringList args;
    int code;
    QString out;  // the start of stdout, or of the message after "jovtool: "
  } runs[] = {
      {{"sheet", lib, png, "--quiet"}, 0, ""},
      {{"sheet", lib, png, "--from", "-5", "--to", "99", "--columns", "2", "--scale", "0x2"},
       0,
       png + ": images 0..2, 78 x 64 pixels"},
      {{"gif", lib, gif, "--from", "1", "--fps", "$19", "--loop", "1", "--no-placement"},
       0,
       gif + ": images 1..2, 2 frames"},
      {{"gif", lib, gif, "--from", "2", "--to", "1"}, 1, "请输入正确的编号 (no image to show: the range 2..1"},
      {{"sheet", lib, png, "--from", "5"}, 1, "请输入正确的编号 (no image to show: the range 5..2"},
      {{"gif", richLib, gif}, 1, "Image 0 has 300 colours"},
      {{"gif", dir.filePath("none.jov"), gif}, 1, dir.filePath("none.jov")},
      {{"gif", lib, gif, "--fps", "0"}, 2, "--fps is 1 to 100"},
      {{"gif", lib, gif, "--fps", "ten"}, 2, "--fps is not a number"},
      {{"gif", lib, gif, "--loop", "-1"}, 2, "--loop is 0 to 65536"},
      {{"gif", lib, gif, "--scale", "2"}, 2, "unknown option --scale"},
      {{"sheet", lib, png, "--scale", "17"}, 2, "--scale is 1 to 16"},
      {{"sheet", lib, png, "--columns", "0"}, 2, "--columns is 1 to"},
      {{"sheet", lib}, 2, "sheet takes LIB OUT.png"},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.args.join(' ').toStdString());
    QFile::remove(png), QFile::remove(gif);
    const ToolRun run = Jovtool(r.args);
    EXPECT_EQ(run.code, r.code) << run.err.toStdString();
    const QString written = r.args[0] == "sheet" ? png : gif;
    EXPECT_EQ(QFile::exists(written), r.code == 0);
    if (r.code == 0) {
      EXPECT_TRUE(r.out.isEmpty() ? run.out.isEmpty() : run.out.startsWith(r.out))
          << run.out.toStdString();
      EXPECT_EQ(run.err, "");  // no progress bar off a terminal
    } else {
      EXPECT_TRUE(run.err.startsWith("jovtool: " + r.out)) << run.err.toStdString();
    }
  }
  // The last good runs' files: the sheet at twice the size, the two frames centred in a
  // screen of the larger one.
  ASSERT_EQ(Jovtool({"sheet", lib, png, "--scale", "2", "--columns", "2", "--quiet"}).code, 0);
  EXPECT_EQ(QImage(png).size(), QSize(78, 64));
  ASSERT_EQ(Jovtool({"gif", lib, gif, "--from", "1", "--quiet", "--no-placement"}).code, 0);
  QFile file(gif);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray head = file.read(10);
  EXPECT_EQ(head.left(6), "GIF89a");
  EXPECT_EQ(uint8_t(head[6]) | uint8_t(head[7]) << 8, 8);
  EXPECT_EQ(uint8_t(head[8]) | uint8_t(head[9]) << 8, 6);
}

}  // namespace
