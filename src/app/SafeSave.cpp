// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SafeSave.h"

#include <QFile>
#include <filesystem>
#include <string>

#include "platform/posix/atomic_file.h"
#include "qtbridge/AnsiText.h"
#include "runtime/exceptions.h"

namespace pling::app {

void SaveFileSafely(const QString& path, std::string_view bytes) {
  const std::string name = QFile::encodeName(path).toStdString();
  std::error_code ignored;
  const bool existed = std::filesystem::is_regular_file(name, ignored);
  const runtime::TResult<void> saved = platform::SaveFileContents(name, bytes);
  if (saved) return;
  // The cause follows the name of the file that failed (that of a link's target
  // where the name is a link).
  std::string cause = saved.Error().text;
  const std::size_t colon = cause.rfind(": ");
  if (colon != std::string::npos) cause.erase(0, colon + 2);
  std::string text = "Cannot save " + qtbridge::ToAnsi(path) + ": " + cause;
  if (existed) text += "\nThe file there was left as it was.";
  throw runtime::Exception(text);
}

}  // namespace pling::app
