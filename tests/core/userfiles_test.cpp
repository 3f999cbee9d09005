// The user's files stay whole: a change reaches the files the user's names point to
// (links followed, hard links kept), new files take the old ones' mode and owner, and
// files or folders the user cannot write are refused with a reason the user understands.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <functional>

#include "common/errors.h"
#include "editing/createlib.h"
#include "editing/rangeedit.h"
#include "library/myjov.h"
#include "support/libbuilder.h"

namespace {

constexpr uid_t kNobody = 65534;

QString Lay(const QString& folder, const QString& name = "lib") {
  QDir().mkpath(folder);
  LibraryBuilder b(0);
  for (int i = 0; i < 6; ++i) b.Add8(8, 4, int16_t(i), 0, std::vector<uint8_t>(32, uint8_t(i + 1)));
  return b.Write(folder, name);
}

int CountOf(const QString& lib) {
  TJOV jov;
  return jov.Open(lib) == TOpenResult::Opened ? jov.ImageCount() : -1;
}

void InsertAt0(const QString& lib) {
  TJOV jov;
  ASSERT_EQ(jov.Open(lib), TOpenResult::Opened);
  InsertRecord(jov, 0, 4, 1, 0, 0, std::vector<uint8_t>(4, 7).data());
}

struct TEveryChangeRewrites {
  int64_t floor = TJovTransaction::SetRewriteFloor(0);
  ~TEveryChangeRewrites() { TJovTransaction::SetRewriteFloor(floor); }
};

QStringList Beside(const QString& folder) {
  return QDir(folder).entryList({"*-journal", "*-new", "*-switch"}, QDir::Files);
}

// Links to a folder, links to files (one folder, two folders) and a second hard link:
// a change that would go through a new pair reaches the real files and keeps every name.
TEST(UserFiles, ChangesReachTheFilesLinksPointToAndKeepEveryName) {
  TEveryChangeRewrites rewrite;
  struct Case {
    const char* name;
    // Lays the library and the names the user uses; returns the user's data path and the
    // real data file.
    std::function<std::pair<QString, QString>(const QDir&)> lay;
  };
  const Case cases[] = {
      {"a linked folder",
       [](const QDir& d) {
         const QString real = Lay(d.filePath("real"));
         QFile::link(d.filePath("real"), d.filePath("link"));
         return std::pair(d.filePath("link/lib.jov"), real);
       }},
      {"linked files",
       [](const QDir& d) {
         const QString real = Lay(d.filePath("real"));
         QDir().mkpath(d.filePath("work"));
         QFile::link(real, d.filePath("work/lib.jov"));
         QFile::link(d.filePath("real/lib.JOX"), d.filePath("work/lib.JOX"));
         return std::pair(d.filePath("work/lib.jov"), real);
       }},
      {"files linked into two folders",
       [](const QDir& d) {
         const QString real = Lay(d.filePath("a"));
         QDir().mkpath(d.filePath("b"));
         QFile::rename(d.filePath("a/lib.JOX"), d.filePath("b/lib.JOX"));
         QDir().mkpath(d.filePath("work"));
         QFile::link(real, d.filePath("work/lib.jov"));
         QFile::link(d.filePath("b/lib.JOX"), d.filePath("work/lib.JOX"));
         return std::pair(d.filePath("work/lib.jov"), real);
       }},
      {"a second hard link",
       [](const QDir& d) {
         const QString real = Lay(d.filePath("real"));
         QDir().mkpath(d.filePath("other"));
         ::link(QFile::encodeName(real).constData(),
                QFile::encodeName(d.filePath("other/lib.jov")).constData());
         ::link(QFile::encodeName(d.filePath("real/lib.JOX")).constData(),
                QFile::encodeName(d.filePath("other/lib.JOX")).constData());
         return std::pair(d.filePath("other/lib.jov"), real);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const auto [user, real] = c.lay(QDir(dir.path()));
    const bool userIsLink = QFileInfo(user).isSymLink();
    InsertAt0(user);
    EXPECT_EQ(CountOf(real), 7) << "the real files have the change";
    EXPECT_EQ(CountOf(user), 7) << "the user's names show it";
    EXPECT_EQ(QFileInfo(user).isSymLink(), userIsLink);
    for (const QString& folder : {QFileInfo(user).path(), QFileInfo(real).path()})
      EXPECT_EQ(Beside(folder), QStringList());
    // Created anew over the user's name: the same files again.
    QTemporaryDir pictures;
    QImage(8, 8, QImage::Format_RGB32).save(pictures.filePath("000000.bmp"));
    TCreateOptions options;
    options.folder = pictures.path();
    options.dataPath = user;
    CreateLibrary(options);
    EXPECT_EQ(CountOf(real), 1);
    EXPECT_EQ(CountOf(user), 1);
    EXPECT_EQ(QFileInfo(user).isSymLink(), userIsLink);
  }
}

TEST(UserFiles, ANewPairTakesTheOldFilesModeAndOwner) {
  TEveryChangeRewrites rewrite;
  QTemporaryDir dir;
  const QString lib = Lay(dir.path());
  const bool root = ::geteuid() == 0;
  for (const QString& path : {lib, dir.filePath("lib.JOX")}) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    if (root) {
      ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
    }
  }
  auto inode = [](const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
  };
  const ino_t before = inode(lib);
  InsertAt0(lib);
  ASSERT_NE(inode(lib), before) << "the change went through a new pair";
  for (const QString& path : {lib, dir.filePath("lib.JOX")}) {
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << path.toStdString();
    if (root) {
      EXPECT_EQ(st.st_uid, kNobody);
      EXPECT_EQ(st.st_gid, kNobody);
    }
  }
}

// Runs check as an ordinary user: in a child that becomes "nobody" when this runs as
// root; returns its exit status (0: check passed).
int AsOrdinaryUser(const std::function<bool()>& check) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(3);
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}

TEST(UserFiles, FilesAndFoldersTheUserCannotWriteAreRefusedWithAReason) {
  QTemporaryDir dir;
  ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
  // A protected library: create over it is refused, with the reason.
  const QString lib = Lay(dir.filePath("protected"));
  const QString pictures = dir.filePath("pictures");
  QDir().mkpath(pictures);
  QImage(8, 8, QImage::Format_RGB32).save(pictures + "/000000.bmp");
  for (const QString& path : {dir.filePath("protected"), pictures, pictures + "/000000.bmp"})
    ::chmod(QFile::encodeName(path).constData(), 0777);
  for (const QString& path : {lib, dir.filePath("protected/lib.JOX")})
    ::chmod(QFile::encodeName(path).constData(), 0444);
  const QByteArray before = ReadWholeFile(lib);
  EXPECT_EQ(AsOrdinaryUser([&] {
              TCreateOptions options;
              options.folder = pictures;
              options.dataPath = lib;
              try {
                CreateLibrary(options);
              } catch (const EJovError& e) {
                return e.Message().contains("cannot be written") &&
                       e.Message().contains("Permission denied");
              }
              return false;
            }),
            0);
  EXPECT_EQ(ReadWholeFile(lib), before);
  // A folder the user cannot write: the change says why.
  const QString shut = Lay(dir.filePath("shut"));
  for (const QString& path : {shut, dir.filePath("shut/lib.JOX")})
    ::chmod(QFile::encodeName(path).constData(), 0666);
  ::chmod(QFile::encodeName(dir.filePath("shut")).constData(), 0555);
  EXPECT_EQ(AsOrdinaryUser([&] {
              TJOV jov;
              if (jov.Open(shut) != TOpenResult::Opened) return false;
              try {
                jov.SetImagePx(0, 5);
              } catch (const EJovError& e) {
                return e.Message().contains("is read-only: a change needs to write a small file "
                                            "beside the library while it runs");
              }
              return false;
            }),
            0);
}

}  // namespace
