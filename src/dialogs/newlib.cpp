#include "dialogs/newlib.h"

TFormnew::TFormnew(TFormMain& main)
    : TJovDialog(main, QStringLiteral("创建新的数据文件"), QStringLiteral("Create New File")) {}
