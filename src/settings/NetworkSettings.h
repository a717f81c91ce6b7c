// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The stored settings the network transport takes, handed to it where the window
// and pling-cli both need them.

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

}  // namespace pling::settings
