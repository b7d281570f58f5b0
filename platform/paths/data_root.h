#pragma once
// The one folder that both programs share: the registry, the event logs, the service manager's
// state, the telephony spool and (when "histpath" is empty) the history files live below it.
//
// It is $QUORVEL_HOME when that is set and not empty, else /var/lib/quorvel. The folder holds
// connection strings, so it is created with mode 0700 on first use.

#include <string>

namespace qv {

// The data root as an absolute or relative path without a trailing "/". Read from the
// environment at every call, so a test that points QUORVEL_HOME elsewhere is followed at once.
std::string DataRoot();

// Creates the data root (and its parents) when missing. Returns false when it does not exist
// afterwards, for example because the user may not write the parent folder.
bool EnsureDataRoot();

// "<data root>/<name>".
std::string DataPath(const std::string& name);

}  // namespace qv
