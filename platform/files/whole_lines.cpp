#include "platform/files/whole_lines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qv {

int AppendWholeLines(int fd, std::string_view lines) {
  std::size_t written = 0;
  while (written < lines.size()) {
    const ssize_t n = write(fd, lines.data() + written, lines.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      const int error = n == 0 ? ENOSPC : errno;
      const std::size_t lastEnd = lines.substr(0, written).rfind('\n');
      const std::size_t partial = lastEnd == std::string_view::npos ? written : written - lastEnd - 1;
      struct stat info {};
      if (partial > 0 && fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(partial)) {
        if (ftruncate(fd, info.st_size - static_cast<off_t>(partial)) != 0) {
          // Nothing more can be done; the half line stays.
        }
      }
      return error;
    }
  }
  return 0;
}

}  // namespace qv
