#include "widgets/guard.h"

#include <cstdio>

#include "common/errors.h"

namespace {

std::function<void(const QString&)>& Reporter() {
  static std::function<void(const QString&)> reporter;
  return reporter;
}

// An error raised while its message is being shown is not shown again.
bool& Reporting() {
  static bool reporting = false;
  return reporting;
}

}  // namespace

void SetUnhandledErrorReporter(std::function<void(const QString&)> reporter) {
  Reporter() = std::move(reporter);
}

QString CurrentErrorMessage() {
  try {
    throw;
  } catch (const EJovError& e) {
    return e.Message();
  } catch (const std::bad_alloc&) {
    return QStringLiteral("Out of memory");
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

void ShowUnhandledError(const QString& message) {
  if (Reporter() && !Reporting()) {
    Reporting() = true;
    try {
      Reporter()(message);
    } catch (...) {
    }
    Reporting() = false;
    return;
  }
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}
