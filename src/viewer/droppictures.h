#pragma once

// Pictures dropped on the main window, and the folder a batch import reads them from.  The
// batch import takes a folder; loose files dropped together are linked (copied where a link
// cannot be made) into a temporary folder, each with the placement file that lies beside
// it in an exchange folder, so that they come in as their own folder would bring them.

#include <QString>
#include <QStringList>

#include "editing/exchange.h"

class QMimeData;

struct TDroppedPictures {
  QStringList files;  // local picture files
  QString folder;     // a local folder, when one was dropped
  bool Empty() const { return files.isEmpty() && folder.isEmpty(); }
};

// The picture files (every kind the picture loader reads) and the first folder among
// dropped data.
TDroppedPictures DroppedPictures(const QMimeData* data);

// Links the files into folder, and the placement file of each (NAME.bmp: Placements/NAME.txt
// beside it) into folder/Placements.  Returns the kind of file most of them are: the batch
// import reads one kind from a folder.
TPictureFileFormat LinkIntoFolder(const QStringList& files, const QString& folder);

// The kind of picture file most of a folder's files are.
TPictureFileFormat FolderFormat(const QString& folder);
