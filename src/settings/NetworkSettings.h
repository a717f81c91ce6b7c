// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The stored settings the network transport takes, handed to it where the window
// and pling-cli both need them.

#include <string>

namespace pling::settings {

class TMegaRegistry;

// Hands the WINS server, the announced comment and whether messages to other
// computers are tried as session messages (StoredKeys.h) to the transport, in
// this order, each its table default while absent. Call it before the first
// mailslot or network write. A stored value that cannot be read (a registry
// value that is no integer) raises runtime::EConvertError; those before it are
// handed on.
void ApplyTransportSettings(const TMegaRegistry& store);

// The switch for the whole transport (kNetworkKey), then ApplyTransportSettings.
void ApplyNetworkSettings(const TMegaRegistry& store);

// From now on, while this process holds the network ports, a change of the
// stored comment that another program of this user reports (CommentStored) is
// read again from the program's store (ConfigureProgramStore) and announced at
// once.
void FollowCommentSetting();
// The comment (ANSI code page) was just stored in the program's store: this
// process announces it from now on, and the process that holds the ports (this
// one or another) reads it again and announces it at once.
void CommentStored(std::string comment);

}  // namespace pling::settings
