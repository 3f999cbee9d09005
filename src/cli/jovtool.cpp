// jovtool: the viewer's operations from the command line, on the same core code.

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <map>

#include "cli/cliutil.h"
#include "cli/cmdcheck.h"
#include "cli/cmdcreate.h"
#include "cli/cmdedit.h"
#include "cli/cmdexport.h"
#include "cli/cmdhistory.h"
#include "cli/cmdimport.h"
#include "cli/cmdshare.h"
#include "cli/demo.h"
#include "common/errors.h"
#include "library/jovcheck.h"
#include "library/jovformat.h"
#include "library/myjov.h"

namespace {

constexpr char kUsage[] =
    "usage: jovtool COMMAND [ARGS...]\n"
    "commands:\n"
    "  info LIB [--json]      list the images of a library\n"
    "  export-one LIB INDEX FILE [--format bmp|png]\n"
    "                         write image INDEX as a bitmap (or PNG) file\n"
    "  export LIB DIR [--from N] [--to M] [--format bmp|png]\n"
    "                         write images N..M as an exchange folder\n"
    "  sheet LIB OUT.png [--from N] [--to M] [--columns C] [--scale S]\n"
    "                         a contact sheet of images N..M: C cells a row (8), each\n"
    "                         image enlarged S times (1 to 16) over its number\n"
    "  gif LIB OUT.gif [--from N] [--to M] [--fps F] [--loop K] [--no-placement]\n"
    "                         an animation of images N..M at their placements (or\n"
    "                         centred), F frames a second (10), played K times (0: for ever)\n"
    "  replace LIB INDEX PICTURE\n"
    "                         replace the pixels of image INDEX by a picture file\n"
    "  add LIB PICTURE [--insert-at INDEX] [--placement X,Y]\n"
    "                         append a picture file as the new last image, or insert\n"
    "                         it before image INDEX\n"
    "  delete LIB S E         delete images S..E\n"
    "  clear LIB S E          blank images S..E, keeping their places\n"
    "  import LIB DIR --add | --insert B | --replace B E [--placement X,Y]\n"
    "         [--format bmp|png]\n"
    "                         import a folder of bitmaps (or PNG files): appended,\n"
    "                         inserted before B, or written over images B..E\n"
    "  import LIB DIR --pixels B E [--format bmp|png]\n"
    "                         the pixels of images B..E from the folder's numbered bitmaps\n"
    "  import LIB [DIR] --placements B E [--placement X,Y]\n"
    "                         the placements of images B..E from the folder, or one pair\n"
    "  set-placement LIB INDEX X Y\n"
    "                         write the placement of image INDEX\n"
    "  check LIB [--json]     list the structural problems of a library\n"
    "  create LIB DIR [--palette system|bmp] [--placement X,Y] [--format bmp|png]\n"
    "                         make a new library from the bitmap (or PNG) files of DIR\n"
    "  compact LIB            rewrite a library without its unreferenced bytes\n"
    "  undo LIB               undo the last change of a library, from its history\n"
    "  redo LIB               make the last undone change again\n"
    "  history LIB [--json] [--clear]\n"
    "                         list the changes the history holds, or clear it\n"
    "  demo DIR [--quiet]     write small demo libraries of every variant into DIR\n"
    "  --help                 show this text\n"
    "  --version              show the version\n"
    "--format png: PNG files in place of bitmaps, black as transparency and the\n"
    "placement as the picture's offset\n"
    "--history-limit SIZE: with replace, add, set-placement, import, delete, clear,\n"
    "undo and redo, the most the history may hold (256M by default; 0 keeps none)\n"
    "exit status: 0 done, 1 the operation failed, 2 the command line is wrong\n";

QString JsonString(const QString& text) {
  const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(array.mid(1, array.size() - 2));
}

int CmdInfo(const QStringList& raw) {
  const Args args = SplitArgs(raw, {QStringLiteral("--json")});
  args.ExpectPositionals(1, QStringLiteral("info takes one library"));
  TJOV jov;
  OpenLibrary(jov, args.positional[0]);
  const QString label = TypeLabel(int(jov.FileType()), jov.OffSet());
  if (args.Has(QStringLiteral("--json"))) {
    // Written by hand to keep the documented key order; one image per line.
    QString out = QStringLiteral(
                      "{\n  \"file\": %1,\n  \"fileType\": %2,\n  \"offSet\": %3,\n"
                      "  \"imageCount\": %4,\n  \"typeLabel\": %5,\n  \"images\": [")
                      .arg(JsonString(jov.FileName()))
                      .arg(int(jov.FileType()))
                      .arg(jov.OffSet())
                      .arg(jov.ImageCount())
                      .arg(JsonString(label));
    for (int i = 0; i < jov.ImageCount(); ++i) {
      jov.ImageAt(i);
      const std::optional<int32_t> entry = jov.EntryOf(i);
      out += QStringLiteral(
                 "%1\n    {\"index\": %2, \"width\": %3, \"height\": %4, \"px\": %5, "
                 "\"py\": %6, \"offset\": %7}")
                 .arg(i == 0 ? "" : ",")
                 .arg(i)
                 .arg(jov.Width())
                 .arg(jov.Height())
                 .arg(jov.px())
                 .arg(jov.py())
                 .arg(entry ? QString::number(*entry) : QStringLiteral("null"));
      if (out.size() > 1 << 16) {
        PrintOut(out);
        out.clear();
      }
    }
    // What compact would free: the bytes between and behind the records (it compacts
    // the 8-bit variants only).
    TGaps gaps;
    CheckLibrary(jov, &gaps);
    const QString saves = jov.FileType() == TFileType::RunCoded ? QStringLiteral("null")
                                                                : QString::number(gaps.total);
    out += (jov.ImageCount() > 0 ? QStringLiteral("\n  ],\n") : QStringLiteral("],\n")) +
           QStringLiteral("  \"compactSaves\": %1\n}\n").arg(saves);
    PrintOut(out);
    return 0;
  }
  QString out;
  out += label + QLatin1Char('\n');
  out += QStringLiteral("images: %1\n").arg(jov.ImageCount());
  for (int i = 0; i < jov.ImageCount(); ++i) {
    jov.ImageAt(i);
    out += QStringLiteral("%1 %2x%3 %4 %5\n")
               .arg(i)
               .arg(jov.Width())
               .arg(jov.Height())
               .arg(jov.px())
               .arg(jov.py());
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
      {QStringLiteral("demo"), CmdDemo},
      {QStringLiteral("export-one"), CmdExportOne},
      {QStringLiteral("export"), CmdExport},
      {QStringLiteral("check"), CmdCheck},
      {QStringLiteral("replace"), CmdReplace},
      {QStringLiteral("add"), CmdAdd},
      {QStringLiteral("set-placement"), CmdSetPlacement},
      {QStringLiteral("import"), CmdImport},
      {QStringLiteral("delete"), CmdDelete},
      {QStringLiteral("clear"), CmdClear},
      {QStringLiteral("create"), CmdCreate},
      {QStringLiteral("compact"), CmdCompact},
      {QStringLiteral("sheet"), CmdSheet},
      {QStringLiteral("gif"), CmdGif},
      {QStringLiteral("undo"), CmdUndo},
      {QStringLiteral("redo"), CmdRedo},
      {QStringLiteral("history"), CmdHistory},
  };
  // The commands that change a library through its history.
  const QStringList keepingHistory = {QStringLiteral("replace"),       QStringLiteral("add"),
                                      QStringLiteral("set-placement"), QStringLiteral("import"),
                                      QStringLiteral("delete"),        QStringLiteral("clear"),
                                      QStringLiteral("undo"),          QStringLiteral("redo")};
  if (args.size() == 1 && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
    PrintOut(QString::fromLatin1(kUsage));
    return 0;
  }
  if (args.size() == 1 && args[0] == QLatin1String("--version")) {
    PrintOut(QStringLiteral("jovtool " JOV_VERSION "\n"));
    return 0;
  }
  if (args.isEmpty() || !commands.count(args[0])) {
    if (!args.isEmpty()) PrintErr(QStringLiteral("jovtool: unknown command %1\n").arg(args[0]));
    PrintErr(QString::fromLatin1(kUsage));
    return 2;
  }
  const QString command = args.takeFirst();
  try {
    if (keepingHistory.contains(command)) TakeHistoryLimit(args);
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
