// jovtool: the viewer's operations from the command line, on the same core code.

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <map>

#include "common/errors.h"
#include "library/jovformat.h"
#include "library/myjov.h"

namespace {

constexpr char kUsage[] =
    "usage: jovtool COMMAND [ARGS...]\n"
    "commands:\n"
    "  info LIB [--json]      list the images of a library\n";

// A command line that does not fit its command.
struct UsageError {
  QString message;
};
// An operation that failed or was refused.
struct Failure {
  QString message;
};

void PrintOut(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void PrintErr(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

QString JsonString(const QString& text) {
  const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// Arguments of one command: positionals and --options, in any order.
struct Args {
  QStringList positional;
  QStringList flags;

  bool Has(const QString& flag) const { return flags.contains(flag); }
};

Args Split(const QStringList& raw, const QStringList& knownFlags) {
  Args args;
  for (const QString& a : raw) {
    if (a.startsWith(QLatin1String("--"))) {
      if (!knownFlags.contains(a)) throw UsageError{QStringLiteral("unknown option ") + a};
      args.flags << a;
    } else {
      args.positional << a;
    }
  }
  return args;
}

// Opens LIB as the viewer opens it; the messages are the viewer's.
void OpenLibrary(TJOV& jov, const QString& path) {
  jov.FileName = path;
  switch (jov.Open()) {
    case TOpenResult::Opened: return;
    case TOpenResult::Missing: throw Failure{TJOV::MissingFileMessage(path)};
    case TOpenResult::NotLibrary:
      throw Failure{QStringLiteral("JOv文件已经被破坏或不是jov文件！")};
  }
}

int CmdInfo(const QStringList& raw) {
  const Args args = Split(raw, {QStringLiteral("--json")});
  if (args.positional.size() != 1) throw UsageError{QStringLiteral("info takes one library")};
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  const QString label = TypeLabel(jov.FileType, jov.OffSet);
  if (args.Has(QStringLiteral("--json"))) {
    // Written by hand to keep the documented key order; one image per line.
    QString out = QStringLiteral("{\n  \"file\": %1,\n  \"fileType\": %2,\n  \"offSet\": %3,\n"
                                 "  \"imageCount\": %4,\n  \"typeLabel\": %5,\n  \"images\": [")
                      .arg(JsonString(jov.FileName))
                      .arg(jov.FileType)
                      .arg(jov.OffSet)
                      .arg(jov.ImageCount)
                      .arg(JsonString(label));
    for (int i = 0; i < jov.ImageCount; ++i) {
      jov.ImageAt(i);
      const std::optional<int32_t> entry = jov.EntryOf(i);
      out += QStringLiteral("%1\n    {\"index\": %2, \"width\": %3, \"height\": %4, \"px\": %5, "
                            "\"py\": %6, \"offset\": %7}")
                 .arg(i == 0 ? "" : ",")
                 .arg(i)
                 .arg(jov.Width)
                 .arg(jov.Height)
                 .arg(jov.px)
                 .arg(jov.py)
                 .arg(entry ? QString::number(*entry) : QStringLiteral("null"));
      if (out.size() > 1 << 16) {
        PrintOut(out);
        out.clear();
      }
    }
    out += jov.ImageCount > 0 ? QStringLiteral("\n  ]\n}\n") : QStringLiteral("]\n}\n");
    PrintOut(out);
    return 0;
  }
  QString out;
  out += label + QLatin1Char('\n');
  out += QStringLiteral("images: %1\n").arg(jov.ImageCount);
  for (int i = 0; i < jov.ImageCount; ++i) {
    jov.ImageAt(i);
    out += QStringLiteral("%1 %2x%3 %4 %5\n").arg(i).arg(jov.Width).arg(jov.Height).arg(jov.px).arg(jov.py);
    if (out.size() > 1 << 16) {
      PrintOut(out);
      out.clear();
    }
  }
  PrintOut(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  const std::map<QString, std::function<int(const QStringList&)>> commands = {
      {QStringLiteral("info"), CmdInfo},
  };
  if (args.isEmpty() || !commands.count(args[0])) {
    if (!args.isEmpty() && args[0] != QLatin1String("--help"))
      PrintErr(QStringLiteral("jovtool: unknown command %1\n").arg(args[0]));
    PrintErr(QString::fromLatin1(kUsage));
    return 2;
  }
  const QString command = args.takeFirst();
  try {
    return commands.at(command)(args);
  } catch (const UsageError& e) {
    PrintErr(QStringLiteral("jovtool: %1\n").arg(e.message));
    PrintErr(QString::fromLatin1(kUsage));
    return 2;
  } catch (const Failure& e) {
    PrintErr(QStringLiteral("jovtool: %1\n").arg(e.message));
    return 1;
  } catch (const EJovError& e) {
    PrintErr(QStringLiteral("jovtool: %1\n").arg(e.Message()));
    return 1;
  } catch (const std::exception& e) {
    PrintErr(QStringLiteral("jovtool: %1\n").arg(QString::fromLocal8Bit(e.what())));
    return 1;
  }
}
