#pragma once

#include <QString>
#include <stdexcept>
#include <string>

// The core's exceptions.  Every message is the text the user is shown, in UTF-8.
class EJovError : public std::runtime_error {
 public:
  explicit EJovError(const std::string& message) : std::runtime_error(message) {}
  explicit EJovError(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

// A picture that cannot be read ("DIB is invalid").
class EInvalidGraphic : public EJovError {
 public:
  using EJovError::EJovError;
};

// An operation a picture cannot perform (bad depth or layout, scan line out of range).
class EInvalidGraphicOperation : public EJovError {
 public:
  using EJovError::EJovError;
};

// A drawing surface that could not be made.
class EOutOfResources : public EJovError {
 public:
  using EJovError::EJovError;
};

// Memory for a pixel block could not be had.
class EOutOfMemory : public EJovError {
 public:
  EOutOfMemory() : EJovError(std::string("Out of memory")) {}
};

// A file that could not be opened or created.
class EFOpenError : public EJovError {
 public:
  using EJovError::EJovError;
};

// A read that ended before the bytes it needed ("Stream read error"), or failed.
class EReadError : public EJovError {
 public:
  EReadError() : EJovError(std::string("Stream read error")) {}
  using EJovError::EJovError;
};

// A write that could not be completed.
class EWriteError : public EJovError {
 public:
  EWriteError() : EJovError(std::string("Stream write error")) {}
  using EJovError::EJovError;
};

// An object that cannot be assigned to another ("Cannot assign a %s to a %s.").
class EConvertError : public EJovError {
 public:
  using EJovError::EJovError;
};

// A file or folder that could not be created.
class EFCreateError : public EJovError {
 public:
  using EJovError::EJovError;
};

// A placement file with fewer than two lines.
class EPlacementFileError : public EJovError {
 public:
  using EJovError::EJovError;
};

// An operation stopped at the user's request; a change it made is rolled back.
class ECancelled : public EJovError {
 public:
  ECancelled() : EJovError(QStringLiteral("已取消")) {}
};
