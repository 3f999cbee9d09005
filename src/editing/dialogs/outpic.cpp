#include "editing/dialogs/outpic.h"

TFormout::TFormout(TFormMain& main)
    : TJovDialog(main, QStringLiteral("批量导出图片"), QStringLiteral("Export Image Sequence")) {}
