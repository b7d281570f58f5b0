#pragma once
// Opening a file that may lie in a folder other users can write ("histpath" may be /tmp, a
// "Save to file" name may point anywhere): the history files, the files of "Save to file" and
// the viewer's Load History all open through here, so that a file planted there in advance can
// neither block the program (a FIFO), nor redirect it (a symbolic link, a hard link to another
// file), nor collect the messages for another user (a file of theirs open to all).
//
// The path is opened with O_NONBLOCK | O_NOFOLLOW, then fstat decides: the file is used only
// when it is a regular file with one link, owned by the running user or root (or, while the
// data root is shared with its group, by the service's user `quorvel`, whose files the group's
// viewer reads and continues). A file that does not exist is created with O_EXCL, mode
// OutsideFileMode(), so that nothing can slip in between the test and the creation. Nothing
// here waits: a FIFO without a reader is refused at once, one with a reader after fstat.

#include <string>

namespace qv {

enum class OwnedFileAccess {
  kAppend,  // write at the end, creating the file when it does not exist
  kRead,    // read an existing file
};

struct OwnedFile {
  int fd = -1;  // owned by the caller, close-on-exec; -1 when refused
  // When refused: why, in a few words ("is a FIFO", "has 2 links", "belongs to user 1001",
  // "No such file or directory"), for a message that names the path.
  std::string refusal;
  int error = 0;  // the errno behind the refusal, or EPERM for a file that is not fit

  explicit operator bool() const { return fd >= 0; }
};

OwnedFile OpenOwnedFile(const std::string& path, OwnedFileAccess access);

}  // namespace qv
