#include "rules/actions/save_to_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files/owned_file.h"
#include "platform/files/whole_lines.h"

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

CSaveToFile::~CSaveToFile() { CloseAll(); }

void CSaveToFile::CloseAll() {
  const std::lock_guard lock(mutex_);
  for (const OpenFile& file : files_) close(file.fd);
  files_.clear();
}

void CSaveToFile::Close(std::size_t index) {
  close(files_[index].fd);
  files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(index));
}

int CSaveToFile::Writer(const std::string& name, std::string* refusal) {
  const auto open = std::find_if(files_.begin(), files_.end(), [&](const OpenFile& file) { return file.name == name; });
  if (open != files_.end()) {
    // lstat: a link planted under the name is another file, which the open below refuses.
    struct stat named {};
    if (lstat(name.c_str(), &named) == 0 && named.st_dev == open->device && named.st_ino == open->inode) {
      open->lastUse = ++uses_;
      return open->fd;
    }
    Close(static_cast<std::size_t>(open - files_.begin()));
  }
  // O_APPEND: each line lands whole at the end even when another program appends too. The file
  // holds received messages, so it is not for other users; and the name may lie in a folder
  // that others can write, so what another user planted there (a link, a FIFO, a file of
  // theirs) is never written.
  const OwnedFile opened = OpenOwnedFile(name, OwnedFileAccess::kAppend);
  struct stat identity {};
  if (!opened || fstat(opened.fd, &identity) != 0) {
    *refusal = opened ? std::strerror(errno) : opened.refusal;
    if (opened) close(opened.fd);
    return -1;
  }
  if (files_.size() >= kMaxOpenFiles) {
    const auto oldest = std::min_element(files_.begin(), files_.end(),
                                         [](const OpenFile& a, const OpenFile& b) { return a.lastUse < b.lastUse; });
    Close(static_cast<std::size_t>(oldest - files_.begin()));
  }
  files_.push_back(OpenFile{name, opened.fd, identity.st_dev, identity.st_ino, ++uses_});
  return opened.fd;
}

bool CSaveToFile::Save(std::string_view nameFormat, RecordFormat format, const SyslogMessage& message,
                       std::time_t now, std::string* failure) {
  const std::string name = SaveFileName(nameFormat, now);
  const auto fail = [&](const std::string& why) {
    if (failure != nullptr) {
      *failure = "Save to file: cannot write " + (name.empty() ? std::string(nameFormat) : name) + ": " + why;
    }
    return false;
  };
  if (name.empty()) return fail("the name is empty or longer than " + std::to_string(kSaveFileNameBuffer - 1) + " bytes");
  std::string refusal;
  const std::lock_guard lock(mutex_);
  const int fd = Writer(name, &refusal);
  if (fd < 0) return fail(refusal);
  const int error = AppendWholeLines(fd, FormatFileLine(message, format));
  return error == 0 || fail(std::strerror(error));
}

}  // namespace qv
