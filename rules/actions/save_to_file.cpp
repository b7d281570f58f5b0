#include "rules/actions/save_to_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths/data_root.h"

namespace qv {

std::string SaveFileName(std::string_view format, std::time_t now) {
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return "";
  char name[kSaveFileNameBuffer];
  // The format is the user's file name by design; strftime writes no more than the buffer holds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const std::size_t length = std::strftime(name, sizeof name, std::string(format).c_str(), &local);
#pragma GCC diagnostic pop
  return std::string(name, length);
}

bool SaveToFile(std::string_view format, const SyslogMessage& message, std::time_t now) {
  const std::string name = SaveFileName(format, now);
  if (name.empty()) return false;
  // O_APPEND: each line lands whole at the end even when another program appends too. The file
  // holds received messages, so it is not for other users; and the name may lie in a folder
  // that others can write, so a symbolic link there is never followed.
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, OutsideFileMode());
  if (fd < 0) return false;
  const std::string line = message.FormatRecordLine();
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t count = write(fd, line.data() + written, line.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    written += static_cast<std::size_t>(count);
  }
  close(fd);
  return written == line.size();
}

}  // namespace qv
