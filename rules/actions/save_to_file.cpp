#include "rules/actions/save_to_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/owned_file.h"

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

bool SaveToFile(std::string_view format, const SyslogMessage& message, std::time_t now, std::string* failure) {
  const std::string name = SaveFileName(format, now);
  const auto fail = [&](const std::string& why) {
    if (failure != nullptr) *failure = "Save to file: cannot write " + (name.empty() ? std::string(format) : name) + ": " + why;
    return false;
  };
  if (name.empty()) return fail("the name is empty or longer than " + std::to_string(kSaveFileNameBuffer - 1) + " bytes");
  // O_APPEND: each line lands whole at the end even when another program appends too. The file
  // holds received messages, so it is not for other users; and the name may lie in a folder
  // that others can write, so what another user planted there (a link, a FIFO, a file of
  // theirs) is never written.
  const OwnedFile file = OpenOwnedFile(name, OwnedFileAccess::kAppend);
  if (!file) return fail(file.refusal);
  const std::string line = message.FormatRecordLine();
  std::size_t written = 0;
  int error = 0;
  while (written < line.size()) {
    const ssize_t count = write(file.fd, line.data() + written, line.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      error = count < 0 ? errno : ENOSPC;
      break;
    }
    written += static_cast<std::size_t>(count);
  }
  close(file.fd);
  return error == 0 || fail(std::strerror(error));
}

}  // namespace qv
