// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Files the window writes for the user (the panes' "Save as", the settings saved
// elsewhere at exit): written whole or not at all. A write that fails (a full
// disk, a file that may not be written) leaves the file that was there as it was
// and raises an error that names the file and the cause.
#include <QString>
#include <string_view>

namespace pling::app {

// Puts `bytes` in place of the file at `path`. Raises runtime::Exception
// "Cannot save PATH: CAUSE", and says that an existing file was left as it was.
void SaveFileSafely(const QString& path, std::string_view bytes);

}  // namespace pling::app
