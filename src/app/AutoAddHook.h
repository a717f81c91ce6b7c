// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The receivers list's side of "Automatic add" (AutoAddRule.h).
#include "app/AutoAddRule.h"

namespace pling::app {

class TListBox;

// Tells `rule` of every name selected in `list` from now on (as long as both live).
void TrackAutoAddUse(TListBox& list, TAutoAddRule& rule);

}  // namespace pling::app
