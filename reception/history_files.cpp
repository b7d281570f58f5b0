#include "reception/history_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Writes all of `line` (one line or several) to an O_APPEND descriptor. When only part of it
// fits (disk full), the part of a line is cut off again, so that the next line does not continue
// a half one; whole lines before it stay. Returns 0, or the error that stopped the write.
int WriteLine(int fd, std::string_view line) {
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = write(fd, line.data() + written, line.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      const int error = n == 0 ? ENOSPC : errno;
      const std::size_t lastEnd = line.substr(0, written).rfind('\n');
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

}  // namespace

CHistoryFiles::~CHistoryFiles() { CloseWriter(); }

void CHistoryFiles::CloseWriter() {
  if (writer_ >= 0) close(writer_);
  writer_ = -1;
}

// The descriptor for `path` whose file is `info` (or, with no info, a file about to be
// created). A descriptor whose file has since been deleted, replaced or switched away from is
// closed and the path opened anew, so a line never goes to a file that is no longer current.
int CHistoryFiles::Writer(const std::string& path, const struct stat* info) {
  if (writer_ >= 0 && info != nullptr && writerPath_ == path && writerDevice_ == info->st_dev &&
      writerInode_ == info->st_ino) {
    return writer_;
  }
  CloseWriter();
  // Never through a symbolic link: "histpath" may lie in a folder that others can write.
  writer_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, OutsideFileMode());
  struct stat opened {};
  if (writer_ < 0 || fstat(writer_, &opened) != 0) {
    CloseWriter();
    return -1;
  }
  writerPath_ = path;
  writerDevice_ = opened.st_dev;
  writerInode_ = opened.st_ino;
  return writer_;
}

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

// The current file's status: through the held descriptor when it is the current file's (no
// path walk), where a link count of 0 means the file was deleted or replaced since.
std::optional<struct stat> CHistoryFiles::CurrentStatus() const {
  if (writer_ < 0 || writerPath_ != Current()) return Status(Current());
  struct stat info {};
  if (fstat(writer_, &info) != 0 || info.st_nlink == 0) return Status(Current());
  return info;
}

void CHistoryFiles::Append(std::string_view line) {
  const int error = Write(line);
  // Only the changes are reported, so a full disk costs one report, not one per message.
  if (error != 0 && !failing_) {
    failing_ = true;
    report_ = "History: cannot write " + Current() + ": " + std::strerror(error);
  } else if (error == 0 && failing_) {
    failing_ = false;
    report_ = "History: writing " + Current() + " again";
  }
}

void CHistoryFiles::AppendUntracked(std::string_view line) { Write(line); }

int CHistoryFiles::Write(std::string_view line) {
  if (limit_ == 0) return 0;
  const auto current = CurrentStatus();
  const struct stat* known = nullptr;
  if (!current) {
    ChooseCurrent();
  } else if (current->st_size > limit_) {
    currentIsA_ = !currentIsA_;
    std::remove(Current().c_str());
  } else {
    known = &*current;
  }
  const int fd = Writer(Current(), known);
  return fd >= 0 ? WriteLine(fd, line) : errno;
}

void CHistoryFiles::CheckFileName() {
  if (writer_ < 0) return;
  struct stat named {};
  if (stat(writerPath_.c_str(), &named) != 0 || named.st_dev != writerDevice_ || named.st_ino != writerInode_) {
    CloseWriter();
  }
}

std::optional<std::string> CHistoryFiles::TakeReport() {
  std::optional<std::string> report;
  report.swap(report_);
  return report;
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
  CloseWriter();
  std::remove(fileA_.c_str());
  std::remove(fileB_.c_str());
}

}  // namespace qv
