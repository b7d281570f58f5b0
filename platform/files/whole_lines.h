#pragma once
// Appending lines to a file that other programs (logrotate, the other program of the pair, a
// reader) see at any moment: all of the text goes to the kernel in one write, and a write that
// stops part-way (disk full) never leaves half a line behind for the next line to continue.

#include <string_view>

namespace qv {

// Writes all of `lines` (one line or several, each ended by a line feed) to an O_APPEND
// descriptor, with one write unless the kernel takes less. When only part of it fits, the part
// of a line is cut off again; whole lines before it stay. Returns 0, or the errno that stopped
// the write (ENOSPC for a write that took nothing).
int AppendWholeLines(int fd, std::string_view lines);

}  // namespace qv
