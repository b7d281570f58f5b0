#pragma once
// What the viewer keeps about remote services in the settings tree:
//   section "Settings": "remotehost" and "remotecert" (texts), "remoteport" - the last connection,
//     filled in by File > Connect to Server; "remoteactive" 1 while the viewer follows it, so
//     that a viewer closed while connected offers the connection again at its next start;
//   section "RemotePins": one text value per host, the SHA-256 fingerprint of the service
//     certificate the user chose to trust there (trust on first use).
// Read and written at each use.

#include <cstdint>
#include <string>

#include "ui/remote/remote_reception.h"

namespace qv {

// The last connection (host empty when there was none), with the pin for its host and the
// backfill: the store's "maxsize".
RemoteTarget LastRemoteTarget();
// Remembers `target` as the last connection (not its pin).
void RememberRemoteTarget(const RemoteTarget& target);
// `target` completed with the pin kept for its host and the backfill ("maxsize").
RemoteTarget WithStoredTrust(RemoteTarget target);
void PinRemoteFingerprint(const std::string& host, const std::string& fingerprint);
// Whether the viewer followed a remote service when it last closed ("remoteactive").
bool RemoteWasActive();
void RememberRemoteActive(bool active);

}  // namespace qv
