#include "platform/eventlog/event_log.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/eventlog/event_log_store.h"
#include "platform/eventlog/file_change_watcher.h"
#include "platform/paths/data_root.h"
#include "platform/registry/registry.h"

namespace qv::evt {

struct EventLogHandle {
  std::string name;
  int64_t position = -1;  // next record of a sequential read; -1 before the first read
  bool armed = false;
  uint32_t seenNewest = 0;
  std::unique_ptr<CFileChangeWatcher> watcher;
};

struct EventSourceHandle {
  std::string log;
  std::string source;
  std::string computer;
};

namespace {

constexpr std::array<std::string_view, 3> kDefaultLogs = {"Application", "System", "Security"};
constexpr uint32_t kDefaultMaxSize = 20 * 1024 * 1024;
constexpr uint32_t kMinMaxSize = 64 * 1024;
constexpr int kFallbackPollMs = 250;

std::string LogKeyPath(std::string_view logName) { return std::string(kEventLogKey) + "\\" + std::string(logName); }

bool ValidName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameBytes && name.find('\0') == std::string_view::npos;
}

bool LogExists(std::string_view logName) {
  if (!ValidName(logName) || logName.find('\\') != std::string_view::npos) return false;
  reg::ScopedKey key;
  return reg::OpenKey(reg::LocalMachine(), LogKeyPath(logName), reg::Access::kRead, key.out()) == reg::kSuccess;
}

uint32_t MaxSizeOf(std::string_view logName) {
  reg::ScopedKey key;
  std::string data;
  uint32_t type = 0;
  uint32_t value = kDefaultMaxSize;
  if (reg::OpenKey(reg::LocalMachine(), LogKeyPath(logName), reg::Access::kRead, key.out()) == reg::kSuccess &&
      reg::QueryValue(key.get(), "MaxSize", &type, &data) == reg::kSuccess && type == reg::kRegDword &&
      data.size() == sizeof value) {
    std::memcpy(&value, data.data(), sizeof value);
  }
  return std::max(value, kMinMaxSize);
}

// The log whose key has a sub-key named `source`; Application when none has.
std::string LogOfSource(std::string_view source) {
  reg::ScopedKey logs;
  if (reg::OpenKey(reg::LocalMachine(), kEventLogKey, reg::Access::kRead, logs.out()) != reg::kSuccess) {
    return "Application";
  }
  std::string log;
  for (uint32_t i = 0; reg::EnumKey(logs.get(), i, &log) == reg::kSuccess; ++i) {
    reg::ScopedKey key;
    if (reg::OpenKey(logs.get(), log + "\\" + std::string(source), reg::Access::kRead, key.out()) == reg::kSuccess) {
      return log;
    }
  }
  return "Application";
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

}  // namespace

Status EnsureDefaultLogs() {
  static std::mutex mutex;
  static std::string ensuredFor;  // the data root where the keys are known to exist
  std::lock_guard<std::mutex> lock(mutex);
  const std::string root = DataRoot();
  if (root == ensuredFor) return kSuccess;
  for (std::string_view log : kDefaultLogs) {
    reg::ScopedKey key;
    const reg::Status status = reg::CreateKey(reg::LocalMachine(), LogKeyPath(log), reg::Access::kReadWrite, key.out());
    if (status != reg::kSuccess) return status == reg::kAccessDenied ? kAccessDenied : kStoreFailed;
  }
  ensuredFor = root;
  return kSuccess;
}

Status OpenEventLog(std::string_view logName, HEventLog* log) {
  if (log == nullptr) return kInvalidParameter;
  *log = nullptr;
  const Status ensured = EnsureDefaultLogs();
  if (ensured != kSuccess) return ensured;
  if (!LogExists(logName)) return kFileNotFound;
  *log = new EventLogHandle{std::string(logName), -1, false, 0, nullptr};
  return kSuccess;
}

void CloseEventLog(HEventLog log) { delete log; }

Status GetNumberOfEventLogRecords(HEventLog log, uint32_t* count) {
  if (log == nullptr) return kInvalidHandle;
  if (count == nullptr) return kInvalidParameter;
  LogSpan span;
  const Status status = CEventLogStore::Instance().GetSpan(log->name, &span);
  if (status == kSuccess) *count = span.count;
  return status;
}

Status GetOldestEventLogRecord(HEventLog log, uint32_t* number) {
  if (log == nullptr) return kInvalidHandle;
  if (number == nullptr) return kInvalidParameter;
  LogSpan span;
  const Status status = CEventLogStore::Instance().GetSpan(log->name, &span);
  if (status == kSuccess) *number = span.oldest;
  return status;
}

Status ReadEventLog(HEventLog log, uint32_t flags, uint32_t recordOffset, void* buffer, uint32_t bytesToRead,
                    uint32_t* bytesRead, uint32_t* minBytesNeeded) {
  if (log == nullptr) return kInvalidHandle;
  const bool seek = (flags & kSeekRead) != 0;
  const bool forwards = (flags & kForwardsRead) != 0;
  if (seek == ((flags & kSequentialRead) != 0) || forwards == ((flags & kBackwardsRead) != 0) ||
      (flags & ~(kSequentialRead | kSeekRead | kForwardsRead | kBackwardsRead)) != 0 || bytesRead == nullptr ||
      minBytesNeeded == nullptr || (buffer == nullptr && bytesToRead > 0)) {
    return kInvalidParameter;
  }
  *bytesRead = 0;
  *minBytesNeeded = 0;
  CEventLogStore& store = CEventLogStore::Instance();
  LogSpan span;
  Status status = store.GetSpan(log->name, &span);
  if (status != kSuccess) return status;

  int64_t start = 0;
  if (seek) {
    if (span.count == 0 || recordOffset < span.oldest || recordOffset > span.newest) return kInvalidParameter;
    start = recordOffset;
  } else {
    if (span.count == 0) return kHandleEof;
    start = log->position >= 0 ? log->position : (forwards ? span.oldest : span.newest);
    if (forwards) start = std::max<int64_t>(start, span.oldest);  // skips records removed meanwhile
    if (start < span.oldest || start > span.newest) return kHandleEof;
  }

  std::string records;
  uint32_t last = 0;
  status = store.Read(log->name, static_cast<uint32_t>(start), forwards, bytesToRead, &records, &last, minBytesNeeded);
  if (status != kSuccess) return status;
  std::memcpy(buffer, records.data(), records.size());
  *bytesRead = static_cast<uint32_t>(records.size());
  log->position = forwards ? int64_t{last} + 1 : int64_t{last} - 1;
  return kSuccess;
}

Status NotifyChangeEventLog(HEventLog log) {
  if (log == nullptr) return kInvalidHandle;
  const std::string folder = EventLogFolder();
  if (folder.empty()) return kAccessDenied;
  // The watch exists before the newest number is taken, so no write can slip between the two.
  log->watcher = std::make_unique<CFileChangeWatcher>(folder, "eventlog.db");
  LogSpan span;
  const Status status = CEventLogStore::Instance().GetSpan(log->name, &span);
  if (status != kSuccess) return status;
  log->seenNewest = span.newest;
  log->armed = true;
  return kSuccess;
}

WaitResult WaitForEventLogChange(HEventLog log, int stopFd, int timeoutMs) {
  if (log == nullptr || !log->armed) return WaitResult::kFailed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  bool check = true;
  for (;;) {
    if (check) {
      LogSpan span;
      if (CEventLogStore::Instance().GetSpan(log->name, &span) == kSuccess && span.newest != log->seenNewest) {
        log->seenNewest = span.newest;
        return WaitResult::kChanged;
      }
    }
    int wait = timeoutMs < 0 ? -1 : RemainingMs(deadline);
    if (timeoutMs >= 0 && wait == 0) return WaitResult::kTimedOut;
    if (!log->watcher->active()) wait = wait < 0 ? kFallbackPollMs : std::min(wait, kFallbackPollMs);
    pollfd fds[2] = {{log->watcher->fd(), POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (poll(fds, 2, wait) < 0 && errno != EINTR) return WaitResult::kFailed;
    if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return WaitResult::kStopped;
    check = !log->watcher->active() || ((fds[0].revents & POLLIN) != 0 && log->watcher->Drain());
  }
}

Status RegisterEventSource(std::string_view sourceName, HEventSource* source) {
  if (source == nullptr) return kInvalidParameter;
  *source = nullptr;
  if (!ValidName(sourceName)) return kInvalidParameter;
  const Status ensured = EnsureDefaultLogs();
  if (ensured != kSuccess) return ensured;
  *source = new EventSourceHandle{LogOfSource(sourceName), std::string(sourceName), LocalComputerName()};
  return kSuccess;
}

void DeregisterEventSource(HEventSource source) { delete source; }

Status ReportEvent(HEventSource source, uint16_t eventType, uint16_t category, uint32_t eventId,
                   const std::vector<std::string>& strings, std::string_view data, uint32_t* recordNumber) {
  if (source == nullptr) return kInvalidHandle;
  EventRecord event;
  event.eventType = eventType;
  event.category = category;
  event.eventId = eventId;
  event.source = source->source;
  event.computer = source->computer;
  event.strings = strings;
  event.data = std::string(data);
  const Status status = WriteEvent(source->log, event);
  if (status == kSuccess && recordNumber != nullptr) *recordNumber = event.recordNumber;
  return status;
}

Status WriteEvent(std::string_view logName, EventRecord& event) {
  if (!ValidName(event.source) || event.computer.size() > kMaxNameBytes ||
      event.computer.find('\0') != std::string::npos || event.strings.size() > kMaxStrings ||
      event.data.size() > kMaxDataBytes) {
    return kInvalidParameter;
  }
  const Status ensured = EnsureDefaultLogs();
  if (ensured != kSuccess) return ensured;
  if (!LogExists(logName)) return kFileNotFound;
  for (std::string& text : event.strings) {
    text.resize(std::min({text.size(), kMaxStringBytes, std::strlen(text.c_str())}));
  }
  return CEventLogStore::Instance().Append(logName, event, MaxSizeOf(logName));
}

std::string LocalComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace qv::evt
