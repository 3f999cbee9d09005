#include "support/loopfs.h"

#include <unistd.h>

#include <QDir>
#include <QProcess>

namespace {

// Runs a program; empty when it succeeded, else what went wrong.
QString Run(const QString& program, const QStringList& arguments) {
  QProcess p;
  p.start(program, arguments);
  if (!p.waitForFinished(120000)) return program + QStringLiteral(" did not run");
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAllStandardError());
  return {};
}

}  // namespace

TLoopFs::TLoopFs(const QString& type, int megabytes) {
  if (::geteuid() != 0) {
    skipped_ = QStringLiteral("mounting a loop device needs root");
    return;
  }
  const QString image = dir_.filePath(QStringLiteral("image"));
  QDir(dir_.path()).mkdir(QStringLiteral("mnt"));
  const QStringList format = type == QLatin1String("xfs")
                                 ? QStringList{"-q", "-f", image}
                                 : QStringList{"-q", "-F", "-b", "4096", image};
  skipped_ = Run(QStringLiteral("truncate"), {"-s", QStringLiteral("%1M").arg(megabytes), image});
  if (skipped_.isEmpty()) skipped_ = Run(QStringLiteral("mkfs.") + type, format);
  if (skipped_.isEmpty()) skipped_ = Run(QStringLiteral("mount"), {"-o", "loop", image, Root()});
  mounted_ = skipped_.isEmpty();
}

TLoopFs::~TLoopFs() {
  if (mounted_) Run(QStringLiteral("umount"), {Root()});
}

QString TLoopFs::Root() const {
  return dir_.filePath(QStringLiteral("mnt"));
}
