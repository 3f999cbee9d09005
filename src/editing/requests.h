#pragma once

// One request per operation: its parameters as the user gave them, one validation that
// returns the user's message, and one run.  A dialog and jovtool build the same request
// and run it the same way; they differ only in how they show the outcome.  Validation
// changes nothing; a run validates again, so that it never works from a stale check.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "editing/exchange.h"

class TJOV;
class TPicture;
class TOperationDelegate;

// The field a refusal is about: the dialog gives it the focus.
enum class TField { None, Begin, End, Folder, File, Picture };

// Why a request cannot run: the documented text, and for a terminal what it is about.
struct TRefusal {
  QString message;
  TField field = TField::None;
  QString detail;
  // One line: the message, and the detail in brackets when there is one.
  QString Line() const;
};
using TValidation = std::optional<TRefusal>;

// How a run ended.
struct TOutcome {
  enum class Kind { Done, Refused, Failed, Cancelled };
  Kind kind = Kind::Done;
  QString message;  // the success text, or the failure text (may be empty)
  QString reason;   // why it failed or was refused; "已取消" when cancelled
  TField field = TField::None;
  int64_t count = 0;  // images created, bytes freed
  bool Done() const { return kind == Kind::Done; }
  // The text of a message box: the message, then the reason on its own line.
  QString Text() const;
};

// Sequence export ("Export all" and jovtool export): images begin..end, clamped to the
// library, as an exchange folder.
struct TExportRangeRequest {
  QString folder;
  QString beginText = QStringLiteral("0"), endText = QStringLiteral("0");
  TPictureFileFormat format = TPictureFileFormat::Bmp;
  TValidation Validate(const TJOV& jov) const;
  // The range the run exports (valid once Validate passes): first, and how many.
  int First(const TJOV& jov) const;
  int Count(const TJOV& jov) const;
  TOutcome Run(TJOV& jov, TOperationDelegate* delegate = nullptr) const;
};

// The pictures to share ("Export all" and jovtool sheet and gif): images begin..end,
// clamped to the library, as a contact sheet (PNG) or an animation (GIF).
struct TSharePictureRequest {
  enum class Kind { Sheet, Animation };
  Kind kind = Kind::Sheet;
  QString path;
  QString beginText = QStringLiteral("0"), endText = QStringLiteral("0");
  int columns = 8, scale = 1;  // a sheet's cells in a row, and their enlargement
  int fps = 10, plays = 0;     // an animation's speed, and how often it plays (0: for ever)
  bool placement = true;       // frames at their placements, or centred
  TValidation Validate(const TJOV& jov) const;
  // Images the run goes over.
  int Count(const TJOV& jov) const;
  TOutcome Run(TJOV& jov, TOperationDelegate* delegate = nullptr) const;
};

// "Export At" and jovtool export-one: one image as a picture file.
struct TExportOneRequest {
  int index = 0;
  QString path;
  TPictureFileFormat format = TPictureFileFormat::Bmp;
  TValidation Validate(const TJOV& jov) const;
  TOutcome Run(TJOV& jov) const;
};

// "Import At" and jovtool replace: new pixels for one image from a picture.
struct TImportAtRequest {
  int index = 0;
  QString picturePath;
  TValidation Validate(const TJOV& jov) const;
  TOutcome Run(TJOV& jov, const TPicture& picture, TOperationDelegate* delegate = nullptr) const;
};

// The add-one dialog and jovtool add: a picture appended, or inserted before index.
struct TAddRequest {
  QString picturePath;
  bool insert = false;
  int index = 0;
  int16_t x = 0, y = 0;  // stored in 16 bits
  TValidation Validate(const TJOV& jov) const;
  TOutcome Run(TJOV& jov, const TPicture& picture, TOperationDelegate* delegate = nullptr) const;
};

// The batch import ("Import All" and jovtool import).
struct TBatchImportRequest {
  enum class Mode { Add, Insert, Replace, Pixels, Placements };
  Mode mode = Mode::Add;
  QString folder;
  QString beginText = QStringLiteral("0"), endText = QStringLiteral("0");
  bool newLike = false;  // every image takes pair; otherwise the folder's placement files
  TPlacement pair;
  TPictureFileFormat format = TPictureFileFormat::Bmp;
  // Checks in the dialog's order; lists the folder's picture files for the run.
  TValidation Validate(const TJOV& jov);
  // Images the run goes over, for a progress bar (valid once Validate passes).
  int Count(const TJOV& jov) const;
  TOutcome Run(TJOV& jov, TOperationDelegate* delegate = nullptr);

 private:
  QStringList files_;
};

// The delete dialog and jovtool delete and clear: images begin..end removed or blanked.
struct TDeleteRequest {
  QString beginText = QStringLiteral("0"), endText = QStringLiteral("0");
  bool clear = false;
  TValidation Validate(const TJOV& jov) const;
  TOutcome Run(TJOV& jov, TOperationDelegate* delegate = nullptr) const;
};

// The create dialog and jovtool create: a new library from a folder of pictures.
struct TCreateRequest {
  QString folder;
  QString dataPath;
  bool paletteFromFirstBitmap = false;
  std::optional<TPlacement> placement;  // every image's; none: the placement files
  TPictureFileFormat format = TPictureFileFormat::Bmp;
  TValidation Validate() const;
  TOutcome Run(TOperationDelegate* delegate = nullptr) const;
};

// jovtool compact: the library rewritten without unreferenced bytes; count is the bytes
// freed.
struct TCompactRequest {
  TValidation Validate(const TJOV& jov) const;
  TOutcome Run(TJOV& jov, TOperationDelegate* delegate = nullptr) const;
};

// Undo and Redo (window and jovtool): the newest done change undone, or the newest
// undone one made again.  The message names it: "undid insert 1 image at 0".
struct THistoryStepRequest {
  bool redo = false;
  TValidation Validate(const TJOV& jov) const;
  TOutcome Run(TJOV& jov, TOperationDelegate* delegate = nullptr) const;
};

// The X and Y buttons and jovtool set-placement: px and/or py of one image, as typed.
struct TPlacementRequest {
  int index = 0;
  std::optional<QString> xText, yText;
  TValidation Validate(const TJOV& jov) const;
  TOutcome Run(TJOV& jov) const;
};
