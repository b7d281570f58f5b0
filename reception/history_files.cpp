#include "reception/history_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "core/settings/settings_store.h"
#include "platform/files/owned_file.h"
#include "platform/files/whole_lines.h"
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

// `lines` (whole lines, each ended by a line feed) cut where the one-line-at-a-time rule
// switches files: before a line, when the file has grown beyond `limit`. The first piece
// continues a file of `size` bytes (it is empty when that file is already beyond the limit);
// every later piece starts an emptied file, the two files in turn.
std::vector<std::string_view> CutAtLimit(std::string_view lines, off_t size, int32_t limit) {
  std::vector<std::string_view> pieces;
  std::size_t begin = 0;
  std::size_t at = 0;
  while (at < lines.size()) {
    if (size > limit) {
      pieces.push_back(lines.substr(begin, at - begin));
      begin = at;
      size = 0;
    }
    const std::size_t feed = lines.find('\n', at);
    const std::size_t end = feed == std::string_view::npos ? lines.size() : feed + 1;
    size += static_cast<off_t>(end - at);
    at = end;
  }
  pieces.push_back(lines.substr(begin));
  return pieces;
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
// -1 when the file cannot be used; refusal_ then says why.
int CHistoryFiles::Writer(const std::string& path, const struct stat* info) {
  if (writer_ >= 0 && info != nullptr && writerPath_ == path && writerDevice_ == info->st_dev &&
      writerInode_ == info->st_ino) {
    return writer_;
  }
  CloseWriter();
  // "histpath" may lie in a folder that others can write: a file planted there is not used.
  OwnedFile opened = OpenOwnedFile(path, OwnedFileAccess::kAppend);
  struct stat identity {};
  if (!opened || fstat(opened.fd, &identity) != 0) {
    if (opened) close(opened.fd);
    refusal_ = opened.refusal.empty() ? std::strerror(errno) : opened.refusal;
    return -1;
  }
  writer_ = opened.fd;
  writerPath_ = path;
  writerDevice_ = identity.st_dev;
  writerInode_ = identity.st_ino;
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
  const bool written = Write(line);
  // Only the changes are reported, so a full disk costs one report, not one per message.
  if (!written && !failing_) {
    failing_ = true;
    report_ = "History: cannot write " + Current() + ": " + refusal_;
  } else if (written && failing_) {
    failing_ = false;
    report_ = "History: writing " + Current() + " again";
  }
}

void CHistoryFiles::AppendUntracked(std::string_view line) { Write(line); }

bool CHistoryFiles::Write(std::string_view lines) {
  if (limit_ == 0) return true;
  const auto current = CurrentStatus();
  const struct stat* known = nullptr;
  off_t size = 0;
  if (!current) {
    ChooseCurrent();
    if (const auto chosen = Status(Current())) size = chosen->st_size;
  } else {
    known = &*current;
    size = current->st_size;
  }
  // Pieces that only pass through a file emptied again later in the batch are never written:
  // of more than two pieces, only the last two stay, each in a file of its own.
  const std::vector<std::string_view> pieces = CutAtLimit(lines, size, limit_);
  const std::size_t kept = pieces.size() > 2 ? pieces.size() - 2 : 0;
  bool written = true;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) {
      currentIsA_ = !currentIsA_;
      known = nullptr;
    }
    if (i < kept) continue;
    if (i > 0) std::remove(Current().c_str());  // a new file starts empty
    if (pieces[i].empty()) continue;
    const int fd = Writer(Current(), known);
    const int error = fd >= 0 ? AppendWholeLines(fd, pieces[i]) : -1;
    if (error > 0) refusal_ = std::strerror(error);
    written = written && error == 0;
  }
  return written;
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
