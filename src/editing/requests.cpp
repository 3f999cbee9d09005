#include "editing/requests.h"

#include <QFileInfo>
#include <functional>

#include "common/errors.h"
#include "common/parseinteger.h"
#include "editing/batchimport.h"
#include "editing/createlib.h"
#include "editing/export.h"
#include "editing/gifexport.h"
#include "editing/messages.h"
#include "editing/rangeedit.h"
#include "editing/sheet.h"
#include "editing/undo.h"
#include "library/myjov.h"
#include "library/recordops.h"
#include "library/tolibrary.h"

namespace {

TRefusal Refuse(const QString& message, TField field = TField::None, const QString& detail = {}) {
  return TRefusal{message, field, detail};
}

TOutcome Refused(const TRefusal& r) {
  TOutcome o;
  o.kind = TOutcome::Kind::Refused;
  o.message = r.message;
  o.reason = r.detail;
  o.field = r.field;
  return o;
}

// Runs op, which throws on failure: done with the success text, failed with the failure
// text and the error's message, or cancelled.
TOutcome Running(const QString& success, const QString& failure, const std::function<void()>& op) {
  TOutcome o;
  try {
    op();
    o.message = success;
  } catch (const ECancelled& e) {
    o.kind = TOutcome::Kind::Cancelled;
    o.message = failure;
    o.reason = e.Message();
  } catch (const std::exception& e) {
    o.kind = TOutcome::Kind::Failed;
    o.message = failure;
    o.reason = QString::fromUtf8(e.what());
  }
  return o;
}

// The image index is an image of the open library.
TValidation ImageOf(const TJOV& jov, int index, const QString& message) {
  if (index >= 0 && index < jov.ImageCount()) return std::nullopt;
  return Refuse(message, TField::None,
                QStringLiteral("image %1 is not in the library (it has %2 images)")
                    .arg(index)
                    .arg(jov.ImageCount()));
}

// The library can be changed: open, and of an 8-bit variant.
TValidation Changeable(const TJOV& jov, const QString& message) {
  if (!jov.IsOpen()) return Refuse(msg::kOpenFirst);
  if (!IsWritable(jov.FileType()))
    return Refuse(message, TField::None,
                  QStringLiteral("%1 holds run-coded 16-bit images, which are read only")
                      .arg(jov.FileName()));
  return std::nullopt;
}

// A range typed as two numbers, each a whole number of the library, end not below begin.
struct TRange {
  int begin = 0, end = 0;
};
TValidation ValidRange(const TJOV& jov, const QString& beginText, const QString& endText,
                       const QString& message, TRange& range) {
  const int last = jov.IsOpen() ? jov.ImageCount() - 1 : -1;
  const TParsedInteger b = ParseInteger(beginText);
  const TParsedInteger e = ParseInteger(endText);
  const QString detail =
      QStringLiteral("images %1 to %2 of %3").arg(beginText, endText).arg(last + 1);
  if (!b.ok() || b.value < 0 || b.value > last) return Refuse(message, TField::Begin, detail);
  if (!e.ok() || e.value < 0 || e.value > last || e.value < b.value)
    return Refuse(message, TField::End, detail);
  range = {b.value, e.value};
  return std::nullopt;
}

}  // namespace

QString TRefusal::Line() const {
  if (detail.isEmpty()) return message;
  if (message.isEmpty()) return detail;
  return QStringLiteral("%1 (%2)").arg(message, detail);
}

QString TOutcome::Text() const {
  if (reason.isEmpty()) return message;
  if (message.isEmpty()) return reason;
  return message + QLatin1Char('\n') + reason;
}

// ---------------------------------------------------------------------------------------
// Export

TValidation TExportRangeRequest::Validate(const TJOV& jov) const {
  if (!jov.IsOpen()) return Refuse(msg::kOpenFirst);
  const TParsedInteger b = ParseInteger(beginText);
  if (!b.ok()) return Refuse(msg::kBadIndex, TField::Begin);
  const TParsedInteger e = ParseInteger(endText);
  if (!e.ok()) return Refuse(msg::kBadIndex, TField::End);
  // A start one above the end is an empty run; further above, the two numbers cannot
  // both be meant, and nothing is written.
  const TExportRange range = ClampExportRange(b.value, e.value, jov.ImageCount());
  if (range.start > range.end + 1) return Refuse(msg::kBadIndex, TField::Begin);
  if (folder.isEmpty()) return Refuse(msg::kNoExportFolder, TField::Folder);
  return std::nullopt;
}

int TExportRangeRequest::First(const TJOV& jov) const {
  return ClampExportRange(ParseInteger(beginText).value, ParseInteger(endText).value,
                          jov.ImageCount())
      .start;
}

int TExportRangeRequest::Count(const TJOV& jov) const {
  const TExportRange range = ClampExportRange(ParseInteger(beginText).value,
                                              ParseInteger(endText).value, jov.ImageCount());
  return range.end - range.start + 1;
}

TOutcome TExportRangeRequest::Run(TJOV& jov, TOperationDelegate* delegate) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  const TExportRange range = ClampExportRange(ParseInteger(beginText).value,
                                              ParseInteger(endText).value, jov.ImageCount());
  return Running(msg::kSequenceExported, QString(), [&] {
    const QString f = WithTrailingSeparator(folder);
    EnsurePlacementsFolder(f);
    ExportSequence(jov, f, range, delegate, format);
  });
}

namespace {

// The range of a request's two numbers as the export clamps it.
TExportRange ClampedRange(const QString& beginText, const QString& endText, const TJOV& jov) {
  return ClampExportRange(ParseInteger(beginText).value, ParseInteger(endText).value,
                          jov.ImageCount());
}

}  // namespace

TValidation TSharePictureRequest::Validate(const TJOV& jov) const {
  if (!jov.IsOpen()) return Refuse(msg::kOpenFirst);
  if (!ParseInteger(beginText).ok()) return Refuse(msg::kBadIndex, TField::Begin);
  if (!ParseInteger(endText).ok()) return Refuse(msg::kBadIndex, TField::End);
  const TExportRange range = ClampedRange(beginText, endText, jov);
  if (range.start > range.end)
    return Refuse(msg::kBadIndex, TField::Begin,
                  QStringLiteral("no image to show: the range %1..%2 is empty (the library has "
                                 "%3 images)")
                      .arg(range.start)
                      .arg(range.end)
                      .arg(jov.ImageCount()));
  if (path.isEmpty()) return Refuse(msg::kNoExportFolder, TField::File);
  return std::nullopt;
}

int TSharePictureRequest::Count(const TJOV& jov) const {
  const TExportRange range = ClampedRange(beginText, endText, jov);
  return range.end - range.start + 1;
}

TOutcome TSharePictureRequest::Run(TJOV& jov, TOperationDelegate* delegate) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  const TExportRange range = ClampedRange(beginText, endText, jov);
  QString summary;
  TOutcome o = Running(QString(), QString(), [&] {
    if (kind == Kind::Sheet) {
      const TSheetSize size = WriteSheet(jov, path, {range, columns, scale}, delegate);
      summary = QStringLiteral("%1: images %2..%3, %4 x %5 pixels")
                    .arg(path)
                    .arg(range.start)
                    .arg(range.end)
                    .arg(size.width)
                    .arg(size.height);
    } else {
      WriteAnimation(jov, path, {range, fps, plays, placement}, delegate);
      summary = QStringLiteral("%1: images %2..%3, %4 frames")
                    .arg(path)
                    .arg(range.start)
                    .arg(range.end)
                    .arg(range.end - range.start + 1);
    }
  });
  if (o.Done()) o.message = summary;
  return o;
}

TValidation TExportOneRequest::Validate(const TJOV& jov) const {
  if (!jov.IsOpen()) return Refuse(msg::kOpenFirst);
  return ImageOf(jov, index, QString());
}

TOutcome TExportOneRequest::Run(TJOV& jov) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  return Running(msg::kExported, QString(), [&] { ExportImage(jov, index, path, format); });
}

// ---------------------------------------------------------------------------------------
// Import At and add

TValidation TImportAtRequest::Validate(const TJOV& jov) const {
  if (picturePath.isEmpty() || !jov.IsOpen()) return Refuse(msg::kImportFailed);
  if (const TValidation refusal = Changeable(jov, msg::kImportFailed)) return refusal;
  return ImageOf(jov, index, msg::kImportFailed);
}

TOutcome TImportAtRequest::Run(TJOV& jov, const TPicture& picture,
                               TOperationDelegate* delegate) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  return Running(msg::kImported, msg::kImportFailed, [&] {
    if (!jov.ReplaceImage(index, picture, delegate))
      throw EJovError(QStringLiteral("image %1 has no record to replace").arg(index));
  });
}

TValidation TAddRequest::Validate(const TJOV& jov) const {
  if (picturePath.isEmpty()) return Refuse(msg::kChoosePicture, TField::Picture);
  if (const TValidation refusal = Changeable(jov, msg::kAddFailed)) return refusal;
  // Before any image, or at the end (a library without images has only that place).
  if (insert && (index < 0 || index > jov.ImageCount()))
    return Refuse(msg::kAddFailed, TField::None,
                  QStringLiteral("cannot insert before image %1: the library has %2 images")
                      .arg(index)
                      .arg(jov.ImageCount()));
  return std::nullopt;
}

TOutcome TAddRequest::Run(TJOV& jov, const TPicture& picture, TOperationDelegate* delegate) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  return Running(msg::kAdded, msg::kAddFailed, [&] {
    if (insert) {
      InSert(jov, picture, x, y, index, delegate);
      return;
    }
    // Too thin to be a sprite: the placeholder stands in, without the placement.
    TDIB work;
    const TLibraryRecord record = ToLibraryRecord(work, jov.Palette(), picture, x, y);
    jov.AppendRecord(record.width, record.height, record.x, record.y, record.pixels);
  });
}

// ---------------------------------------------------------------------------------------
// Batch import

TValidation TBatchImportRequest::Validate(const TJOV& jov) {
  const QString& failure = mode == Mode::Placements ? msg::kBadFormat : msg::kBadIndex;
  if (const TValidation refusal = Changeable(jov, msg::kBatchImportFailed)) return refusal;
  const bool needsFolder = mode != Mode::Placements || !newLike;
  if (needsFolder && folder.isEmpty()) return Refuse(msg::kNoPictureFolder, TField::Folder);
  if (needsFolder && !QFileInfo(folder).isDir())
    return Refuse(msg::kBatchImportFailed, TField::Folder,
                  QStringLiteral("%1 is not a folder").arg(folder));
  files_ = mode == Mode::Placements ? QStringList()
                                    : ListBitmapFiles(WithTrailingSeparator(folder), format);
  if (mode == Mode::Add) return std::nullopt;
  TRange range;
  // Insert checks End too, although its dialog does not let it be edited.
  if (TValidation refusal = ValidRange(jov, beginText, endText, failure, range)) {
    refusal->detail.clear();
    return refusal;
  }
  const bool counted = mode == Mode::Replace || mode == Mode::Pixels;
  if (counted && files_.size() < int64_t(range.end) - range.begin + 1)
    return Refuse(msg::kTooFewPictures, TField::End);
  return std::nullopt;
}

int TBatchImportRequest::Count(const TJOV&) const {
  switch (mode) {
    case Mode::Add:
    case Mode::Insert:
      return int(files_.size());
    default:
      return ParseInteger(endText).value - ParseInteger(beginText).value + 1;
  }
}

TOutcome TBatchImportRequest::Run(TJOV& jov, TOperationDelegate* delegate) {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  const int begin = ParseInteger(beginText).value, end = ParseInteger(endText).value;
  const bool typedPlacements = mode == Mode::Placements && newLike;
  const QString f = typedPlacements ? QString() : WithTrailingSeparator(folder);
  const TImportPlacements placements{newLike, pair};
  return Running(msg::kBatchImported, msg::kBatchImportFailed, [&] {
    switch (mode) {
      case Mode::Add:
        return ImportAdd(jov, f, files_, placements, delegate);
      case Mode::Insert:
        return ImportInsert(jov, f, files_, placements, begin, delegate);
      case Mode::Replace:
        return ImportReplace(jov, f, files_, placements, begin, end, delegate);
      case Mode::Pixels:
        return ImportPixels(jov, f, begin, end, delegate, format);
      case Mode::Placements:
        return ImportPlacements(jov, f, placements, begin, end, delegate);
    }
  });
}

// ---------------------------------------------------------------------------------------
// Delete and clear

TValidation TDeleteRequest::Validate(const TJOV& jov) const {
  TRange range;
  if (const TValidation refusal = ValidRange(jov, beginText, endText, msg::kBadIndex, range))
    return refusal;
  return Changeable(jov, msg::kDeleteFailed);
}

TOutcome TDeleteRequest::Run(TJOV& jov, TOperationDelegate* delegate) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  const int begin = ParseInteger(beginText).value, end = ParseInteger(endText).value;
  return Running(msg::kDeleted, msg::kDeleteFailed, [&] {
    if (clear)
      ClearRange(jov, begin, end, delegate);
    else
      DeleteRange(jov, begin, end, delegate);
  });
}

// ---------------------------------------------------------------------------------------
// Create and compact

TValidation TCreateRequest::Validate() const {
  if (folder.isEmpty()) return Refuse(msg::kNoPictureFolder, TField::Folder);
  if (dataPath.isEmpty()) return Refuse(msg::kNoNewFileName, TField::File);
  return std::nullopt;
}

TOutcome TCreateRequest::Run(TOperationDelegate* delegate) const {
  if (const TValidation refusal = Validate()) return Refused(*refusal);
  TCreateOptions options;
  options.folder = folder;
  options.dataPath = dataPath;
  options.paletteFromFirstBitmap = paletteFromFirstBitmap;
  options.placement = placement;
  options.format = format;
  int images = 0;
  TOutcome o = Running(msg::kCreated, msg::kCreateFailed,
                       [&] { images = CreateLibrary(options, delegate); });
  o.count = images;
  return o;
}

TValidation TCompactRequest::Validate(const TJOV& jov) const {
  return Changeable(jov, QString());
}

TOutcome TCompactRequest::Run(TJOV& jov, TOperationDelegate* delegate) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  int64_t freed = 0;
  TOutcome o = Running(QString(), QString(), [&] { freed = CompactLibrary(jov, delegate); });
  o.count = freed;
  if (o.Done()) o.message = QStringLiteral("freed %1 bytes").arg(freed);
  return o;
}

// ---------------------------------------------------------------------------------------
// Undo and redo

TValidation THistoryStepRequest::Validate(const TJOV& jov) const {
  return Changeable(jov, QString());
}

TOutcome THistoryStepRequest::Run(TJOV& jov, TOperationDelegate* delegate) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  QString what;
  TOutcome o = Running(QString(), QString(), [&] {
    what = UndoOrRedo(jov, redo ? THistoryRole::Redo : THistoryRole::Undo, delegate);
  });
  if (o.Done()) o.message = (redo ? QStringLiteral("redid %1") : QStringLiteral("undid %1")).arg(what);
  return o;
}

// ---------------------------------------------------------------------------------------
// Placements

TValidation TPlacementRequest::Validate(const TJOV& jov) const {
  for (const std::optional<QString>& text : {xText, yText})
    if (text && !ParseInteger(*text).ok()) return Refuse(msg::kBadFormat);
  // With no library open the entries are checked and nothing is written.
  if (!jov.IsOpen()) return std::nullopt;
  if (const TValidation refusal = Changeable(jov, QString())) return refusal;
  return ImageOf(jov, index, QString());
}

TOutcome TPlacementRequest::Run(TJOV& jov) const {
  if (const TValidation refusal = Validate(jov)) return Refused(*refusal);
  return Running(QString(), QString(), [&] {
    if (!jov.IsOpen()) return;
    // Stored as signed 16-bit numbers: only the low 16 bits are kept.
    const auto value = [](const std::optional<QString>& text) {
      return int16_t(ParseInteger(*text).value);
    };
    if (xText && yText)
      jov.SetImagePlacement(index, value(xText), value(yText));
    else if (xText)
      jov.SetImagePx(index, value(xText));
    else if (yText)
      jov.SetImagePy(index, value(yText));
  });
}
