// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SafeSave.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/file_error.h"
#include "platform/posix/atomic_file.h"
#include "qtbridge/AnsiText.h"
#include "runtime/exceptions.h"

namespace pling::app {

void SaveFileSafely(const QString& path, std::string_view bytes) {
  const std::string name = QFile::encodeName(path).toStdString();
  std::error_code ignored;
  const bool existed = std::filesystem::is_regular_file(name, ignored);
  platform::ClearFileError();
  const int error = platform::SaveFileContents(name, bytes);
  if (error == 0) return;
  // The recorded cause follows the name of the file it was recorded for (that
  // of a link's target where the name is a link).
  std::string cause = platform::LastFileErrorText();
  const std::size_t colon = cause.rfind(": ");
  cause = colon == std::string::npos ? std::string(std::strerror(error)) : cause.substr(colon + 2);
  std::string text = "Cannot save " + qtbridge::ToAnsi(path) + ": " + cause;
  if (existed) text += "\nThe file there was left as it was.";
  throw runtime::Exception(text);
}

}  // namespace pling::app
