#include "monitors/file_monitor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string_view>
#include <utility>

#include "core/settings/settings_store.h"

namespace qv {
namespace {

struct PathStatus {
  bool exists = false;
  int64_t modifiedNs = 0;
  int64_t size = 0;
};

PathStatus TakeStatus(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  return {true, static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
          static_cast<int64_t>(info.st_size)};
}

std::string ShortName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Cuts bytes into lines (ending at a line feed, carriage returns dropped) and sends each as
// prefix + line. A line longer than kMaxLineBytes goes in pieces; the line feed right after a
// full piece ends that piece and adds no empty line.
class CLineSender {
 public:
  using Send = std::function<void(const std::string& text)>;
  CLineSender(std::string prefix, Send send) : prefix_(std::move(prefix)), send_(std::move(send)) {}

  void Add(std::string_view bytes) {
    for (const char c : bytes) {
      if (c == '\n') {
        if (!line_.empty() || !justCut_) Flush();
        justCut_ = false;
      } else if (c != '\r') {
        line_ += c;
        justCut_ = false;
        if (line_.size() == CFileMonitor::kMaxLineBytes) {
          Flush();
          justCut_ = true;
        }
      }
    }
  }
  // The last line counts even without a line feed.
  void Finish() {
    if (!line_.empty()) Flush();
  }

 private:
  void Flush() {
    send_(prefix_ + line_);
    line_.clear();
  }

  std::string prefix_;
  Send send_;
  std::string line_;
  bool justCut_ = false;
};

}  // namespace

CFileMonitor::CFileMonitor(MonitorReporter reporter) : CMonitorThread(std::move(reporter)) {}

CFileMonitor::~CFileMonitor() { EndWorker(); }

void CFileMonitor::Init() {
  entries_.clear();
  const CSettingsStore& settings = AppSettings();
  const int32_t count = std::min(settings.GetInt("Settings", "filecount", 0), kMaxEntries);
  for (int32_t i = 0; i < count; ++i) {
    const std::string index = std::to_string(i);
    const std::string path = settings.GetString("Files", "file" + index);
    if (path.empty()) continue;
    AddEntry(path, settings.GetInt("Files", "filelog" + index, 0) != 0);
  }
}

void CFileMonitor::AddEntry(const std::string& path, bool log) {
  const PathStatus status = TakeStatus(path);
  entries_.push_back(Entry{path, status.modifiedNs, status.exists, status.size, log});
}

void CFileMonitor::Run() {
  if (entries_.empty()) return;
  while (WaitPollInterval()) {
    for (Entry& entry : entries_) {
      CheckEntry(entry);
      if (StopRequested()) return;
    }
  }
}

void CFileMonitor::CheckEntry(Entry& entry) {
  const PathStatus now = TakeStatus(entry.path);
  if (now.exists == entry.exists && now.modifiedNs == entry.modifiedNs && now.size == entry.size) return;

  if (entry.exists && !now.exists) {
    Report("File Monitor: " + entry.path + " Deleted");
  } else if (!entry.exists && now.exists) {
    Report("File Monitor: " + entry.path + " Created");
  } else if (!entry.log) {
    Report("File Monitor: " + entry.path + " Modified");
  }

  if (entry.log && now.exists && now.size != entry.size) {
    // A smaller file was truncated or replaced: read it again from the start.
    const int64_t from = entry.size < now.size ? entry.size : 0;
    ReportAppendedLines(entry.path, from, now.size);
  }
  entry.exists = now.exists;
  entry.modifiedNs = now.modifiedNs;
  entry.size = now.size;
}

void CFileMonitor::ReportAppendedLines(const std::string& path, int64_t from, int64_t to) {
  // Only regular files hold lines; non-blocking, so that no special file can hold the worker.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return;
  }

  // Only the bytes up to the size just seen: anything written since belongs to the next poll,
  // which starts at that size, so no line is sent twice.
  CLineSender lines(ShortName(path) + ": ", [this](const std::string& text) { Report(text); });
  char buffer[65536];
  int64_t offset = from;
  bool finished = true;
  while (offset < to) {
    if (StopRequested()) {
      finished = false;
      break;
    }
    const int64_t wanted = to - offset < static_cast<int64_t>(sizeof buffer) ? to - offset : sizeof buffer;
    const ssize_t got = pread(fd, buffer, static_cast<std::size_t>(wanted), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // a read error or a file that shrank meanwhile ends the report
    lines.Add(std::string_view(buffer, static_cast<std::size_t>(got)));
    offset += got;
  }
  if (finished) lines.Finish();
  close(fd);
}

}  // namespace qv
