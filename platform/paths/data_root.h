#pragma once
// The one folder that both programs share: the registry, the event logs, the service manager's
// state, the telephony spool, the relay socket and (when "histpath" is empty) the history files
// live below it.
//
// It is $QUORVEL_HOME when that is set and not empty, else /var/lib/quorvel. The folder holds
// connection strings and every received message, so it is created with mode 0700 on first use
// and a folder found there must be closed to other users (CheckDataRoot). `dunmir add` run as
// root may share it with the system group `quorvel` (root:quorvel, mode 2770): members of that
// group then use the service's settings, history and relay. Files the programs create are
// then 0660, which is why both programs run with umask 007 (UseSharedUmask).

#include <string>
#include <sys/types.h>

namespace qv {

// The data root as an absolute or relative path without a trailing "/". Read from the
// environment at every call, so a test that points QUORVEL_HOME elsewhere is followed at once.
std::string DataRoot();

// Creates the data root (and its parents) when missing. Returns false when it does not exist
// afterwards, for example because the user may not write the parent folder.
bool EnsureDataRoot();

// "<data root>/<name>".
std::string DataPath(const std::string& name);

// Creates the data root when missing, then checks that it is a folder that belongs to the
// effective user, to root or to the service's user `quorvel`, and grants nothing to other users. Returns "" when it may be used,
// else one line naming the folder and what is wrong, for example
// "/var/lib/quorvel is open to other users (mode 0777); chmod o-rwx it", or
// "/var/lib/quorvel cannot be used by this user: Permission denied" for a folder of root or the
// service that this user may not read and write (not a member of its group). Every program calls
// this before it touches the data root and refuses to start on a problem.
std::string CheckDataRoot();

// True when `folder` is shared with its group the way `dunmir add` shares the data root: the
// set-group-id bit and full group access (mode 2770).
bool IsSharedWithGroup(const std::string& folder);

// The mode for files the programs create outside the data root (history under "histpath",
// "Save to file"): 0640, or 0660 while the data root is shared with its group.
mode_t OutsideFileMode();

// Creates `path` empty when it does not exist, with the mode the umask leaves of 0666, and
// never through a symbolic link. For database files inside the data root: the database library
// would make them 0644 less the umask, which a group sharing the data root could not write
// (its journal files take the database file's mode). False when it could not be made.
bool CreateDataFile(const std::string& path);

// Sets the process's umask to 007, so that files and sockets made in a group-shared data root
// stay usable by the group and never by others. Both programs call it once at start.
void UseSharedUmask();

}  // namespace qv
