#include "platform/eventlog/file_change_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

namespace qv::evt {

CFileChangeWatcher::CFileChangeWatcher(const std::string& folder, std::string prefix) : prefix_(std::move(prefix)) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ >= 0 && inotify_add_watch(fd_, folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO) < 0) {
    close(fd_);
    fd_ = -1;
  }
}

CFileChangeWatcher::~CFileChangeWatcher() {
  if (fd_ >= 0) close(fd_);
}

bool CFileChangeWatcher::Drain() {
  if (fd_ < 0) return false;
  bool relevant = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t length = read(fd_, buffer, sizeof buffer);
    if (length <= 0) break;
    for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
      inotify_event event;
      std::memcpy(&event, buffer + offset, sizeof event);
      const char* name = buffer + offset + sizeof(inotify_event);
      if (event.len > 0 && std::strncmp(name, prefix_.c_str(), prefix_.size()) == 0) relevant = true;
      if ((event.mask & IN_Q_OVERFLOW) != 0) relevant = true;
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
  return relevant;
}

}  // namespace qv::evt
