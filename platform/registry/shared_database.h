#pragma once
// Opening a SQLite database in the data root that several processes share (the settings tree,
// the event logs). The file is created with the mode a group sharing the data root can use; the
// connection runs in WAL mode with a 10 s busy timeout, and the schema is made inside one
// immediate transaction. Switching a new database to WAL can fail at once, without the busy
// handler, while another process is creating it, so the opening is tried up to 50 times, 20 ms
// apart, as long as another connection is what is in the way.
//
// Safe on any thread. The connection returned belongs to the caller (sqlite3_close); it is
// opened without SQLite's own mutex, so the caller uses it from one thread at a time.

#include <string>

struct sqlite3;

namespace qv {

// The open database at `path` with `schema` made, or null when it cannot be opened for this user.
sqlite3* OpenSharedDatabase(const std::string& path, const char* schema);

}  // namespace qv
