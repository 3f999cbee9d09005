#include "dialogs/addpic.h"

TFormadd::TFormadd(TFormMain& main)
    : TJovDialog(main, QStringLiteral("批量导入图片"), QStringLiteral("Import From Folder")) {}
