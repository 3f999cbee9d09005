#include "dialogs/del.h"

TFormdel::TFormdel(TFormMain& main)
    : TJovDialog(main, QStringLiteral("删除入图片"), QStringLiteral("Delete Image")) {}
