#include "dialogs/addone.h"

TFormaddone::TFormaddone(TFormMain& main)
    : TJovDialog(main, QStringLiteral("添加图片"), QStringLiteral("Add Image")) {}
