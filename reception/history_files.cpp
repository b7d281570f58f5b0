#include "reception/history_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <optional>

#include "core/settings/settings_store.h"
#include "platform/paths/data_root.h"

namespace qv {
namespace {

std::optional<struct stat> Status(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return info;
}

// True when a was modified strictly later than b, to the nanosecond.
bool ModifiedLater(const struct stat& a, const struct stat& b) {
  if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) return a.st_mtim.tv_sec > b.st_mtim.tv_sec;
  return a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// Writes all of `line` with one O_APPEND descriptor; stops quietly at the first error.
void AppendToFile(const std::string& path, std::string_view line) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = write(fd, line.data() + written, line.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
}

}  // namespace

CHistoryFiles::CHistoryFiles() {
  std::string folder = AppSettings().GetString("settings", "histpath");
  if (folder.empty()) {
    folder = DataRoot();
    EnsureDataRoot();
  }
  fileA_ = folder + "/qvhista.txt";
  fileB_ = folder + "/qvhistb.txt";
  ChooseCurrent();
}

void CHistoryFiles::ChooseCurrent() {
  const auto a = Status(fileA_);
  const auto b = Status(fileB_);
  if (a && b) {
    currentIsA_ = ModifiedLater(*a, *b);
  } else {
    currentIsA_ = true;
    std::remove(fileB_.c_str());
  }
}

void CHistoryFiles::SetLimitKB(int32_t kilobytes) {
  const int64_t bytes = static_cast<int64_t>(kilobytes) * 512;
  if (bytes <= 0) {
    limit_ = 0;
  } else {
    limit_ = bytes > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                           : static_cast<int32_t>(bytes);
  }
}

void CHistoryFiles::Append(std::string_view line) {
  if (limit_ == 0) return;
  const auto current = Status(Current());
  if (!current) {
    ChooseCurrent();
  } else if (current->st_size > limit_) {
    currentIsA_ = !currentIsA_;
    std::remove(Current().c_str());
  }
  AppendToFile(Current(), line);
}

void CHistoryFiles::GetLoadOrder(std::string& older, std::string& newer) const {
  const auto a = Status(fileA_);
  const auto b = Status(fileB_);
  older.clear();
  newer.clear();
  if (a && b) {
    const bool bIsNewer = ModifiedLater(*b, *a);  // equal times count fileB as the older
    older = bIsNewer ? fileA_ : fileB_;
    newer = bIsNewer ? fileB_ : fileA_;
  } else if (a) {
    older = fileA_;
  } else if (b) {
    older = fileB_;
  }
}

void CHistoryFiles::Clear() {
  std::remove(fileA_.c_str());
  std::remove(fileB_.c_str());
}

}  // namespace qv
