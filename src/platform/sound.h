// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Event sounds of the desktop's sound theme.
#include <string_view>

namespace pling::platform {

// Starts the theme's sound for a freedesktop event name such as
// "message-new-instant" and returns at once; false when no sound can be played
// (no event-sound library on the system, no sound device or server, no such
// sound in the theme), so that the caller can fall back to the display's bell.
// Call it from one thread only (the main thread).
bool PlayEventSound(std::string_view eventId);

}  // namespace pling::platform
