#pragma once

// The texts the user is shown for the outcome of an operation, each defined once: the
// window's message boxes and jovtool print the same words.

#include <QString>

namespace msg {

// Refusals of what the user typed or chose.
inline const QString kOpenFirst = QStringLiteral("请先打开jov文件！");
inline const QString kBadIndex = QStringLiteral("请输入正确的编号");
inline const QString kBadFormat = QStringLiteral("请输入正确的格式");
inline const QString kNoExportFolder = QStringLiteral("请输入导出的位置！");
inline const QString kNoPictureFolder = QStringLiteral("请输入图片所在路径!");
inline const QString kNoNewFileName = QStringLiteral("请输入新建数据文件名!");
inline const QString kTooFewPictures = QStringLiteral("图片数目不够！");
inline const QString kChoosePicture = QStringLiteral("请选择要添加图片文件!");
inline const QString kNotALibrary = QStringLiteral("JOv文件已经被破坏或不是jov文件！");

// How operations ended.
inline const QString kExported = QStringLiteral("导出图片成功！");
inline const QString kSequenceExported = QStringLiteral("批量导出图片成功！");
inline const QString kImported = QStringLiteral("导入图片成功！");
inline const QString kImportFailed = QStringLiteral("导入图片失败！");
inline const QString kAdded = QStringLiteral("加入图片成功！");
inline const QString kAddFailed = QStringLiteral("加入图片失败！");
inline const QString kBatchImported = QStringLiteral("批量导入成功");
inline const QString kBatchImportFailed = QStringLiteral("批量导入失败");
inline const QString kDeleted = QStringLiteral("删除成功");
inline const QString kDeleteFailed = QStringLiteral("删除失败");
inline const QString kCreated = QStringLiteral("建立新文件成功!");
// The second line of the window's box after a library was written anew.
inline const QString kHistoryStartsAnew = QStringLiteral("The history of changes starts anew.");
inline const QString kCreateFailed = QStringLiteral("建立新文件失败!");

// Another program changed the open library.  The status bar's note when the window takes
// the change up, and the refusal of a dialog's run that was set up on the library as it
// was: the user looks at the fields again before running it.
inline const QString kChangedByAnotherProgram = QStringLiteral("changed by another program");
inline const QString kChangedWhileDialogOpen = QStringLiteral(
    "The library was changed by another program while this dialog was open. The window now "
    "shows it as it is: check the fields and run again.");

}  // namespace msg
