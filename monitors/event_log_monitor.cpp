#include "monitors/event_log_monitor.h"

#include <vector>

#include "core/message/syslog_message.h"
#include "platform/eventlog/environment_strings.h"
#include "platform/eventlog/message_file.h"
#include "platform/registry/registry.h"

namespace qv {
namespace {

constexpr int32_t kFacilityWindows = 24;
constexpr std::size_t kMaxMessageFileList = 4096;
// Larger than any record the event-log layer can hold; a probe answering more is not believed.
constexpr uint32_t kMaxEntryBytes = 16u << 20;

int32_t SeverityOf(uint16_t eventType) {
  switch (eventType) {
    case evt::kErrorType:
      return 3;
    case evt::kWarningType:
      return 4;
    case evt::kInformationType:
      return 6;
    default:
      return 5;
  }
}

// Line breaks and tabs become spaces, and runs of spaces one space.
std::string FoldWhitespace(const std::string& text) {
  std::string folded;
  folded.reserve(text.size());
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    if (c == ' ' && !folded.empty() && folded.back() == ' ') continue;
    folded += c;
  }
  return folded;
}

std::string FallbackText(const std::vector<std::string>& strings) {
  std::string text;
  for (const std::string& insertion : strings) {
    text += ' ';
    text += insertion;
    if (text.size() >= CEventLogMonitor::kMaxFallbackBytes) break;
  }
  if (text.size() > CEventLogMonitor::kMaxFallbackBytes) text.resize(CEventLogMonitor::kMaxFallbackBytes);
  return text;
}

// The source's "EventMessageFile", or nothing when its key or the value is missing.
std::optional<std::string> MessageFileList(const std::string& logName, const std::string& source) {
  reg::ScopedKey key;
  const std::string path = std::string(evt::kEventLogKey) + "\\" + logName + "\\" + source;
  if (reg::OpenKey(reg::LocalMachine(), path, reg::Access::kRead, key.out()) != reg::kSuccess) return std::nullopt;
  std::string value;
  if (reg::QueryValue(key.get(), "EventMessageFile", nullptr, &value) != reg::kSuccess) return std::nullopt;
  const std::size_t zero = value.find('\0');
  if (zero != std::string::npos) value.resize(zero);
  if (value.size() > kMaxMessageFileList) value.resize(kMaxMessageFileList);
  return value;
}

// Message `eventId` formatted from the file at `path`; empty when the file or message is missing.
std::string FormatFromFile(const std::string& path, uint32_t eventId, const std::vector<std::string>& strings) {
  const auto file = evt::CMessageFile::Load(path);
  if (!file) return {};
  std::string text = evt::FormatEventMessage(*file, eventId, strings).value_or(std::string());
  if (text.size() > CEventLogMonitor::kMaxFormattedBytes) text.resize(CEventLogMonitor::kMaxFormattedBytes);
  return text;
}

}  // namespace

CEventLogMonitor::CEventLogMonitor(LocalRecordPoster post) : CMonitorThread(PostingReporter(post)), post_(std::move(post)) {}

CEventLogMonitor::~CEventLogMonitor() {
  EndWorker();
  evt::CloseEventLog(log_);
}

bool CEventLogMonitor::OpenLog(const std::string& logName) {
  logName_ = logName;
  evt::CloseEventLog(log_);
  log_ = nullptr;
  notifying_ = false;
  if (evt::OpenEventLog(logName, &log_) != evt::kSuccess) {
    log_ = nullptr;
    return false;
  }
  // Step past the newest entry, so that sequential reads begin with what is written later.
  uint32_t count = 0;
  uint32_t oldest = 0;
  if (evt::GetNumberOfEventLogRecords(log_, &count) == evt::kSuccess &&
      evt::GetOldestEventLogRecord(log_, &oldest) == evt::kSuccess && count > 0) {
    std::vector<char> newest(2049);
    uint32_t read = 0;
    uint32_t needed = 0;
    const uint32_t flags = evt::kSeekRead | evt::kForwardsRead;
    if (evt::ReadEventLog(log_, flags, oldest + count - 1, newest.data(), 2049, &read, &needed) ==
        evt::kInsufficientBuffer) {
      newest.resize(needed);
      evt::ReadEventLog(log_, flags, oldest + count - 1, newest.data(), needed, &read, &needed);
    }
  }
  notifying_ = evt::NotifyChangeEventLog(log_) == evt::kSuccess;
  return notifying_;
}

void CEventLogMonitor::Run() {
  for (;;) {
    if (!notifying_) {
      StopEvent().Wait(-1);
      return;
    }
    const evt::WaitResult result = evt::WaitForEventLogChange(log_, StopEvent().Fd(), -1);
    if (result != evt::WaitResult::kChanged || StopRequested()) return;
    TranslateNewEntries();
  }
}

void CEventLogMonitor::TranslateNewEntries() {
  std::vector<char> buffer(32768);
  const uint32_t flags = evt::kSequentialRead | evt::kForwardsRead;

  while (!StopRequested()) {
    uint32_t read = 0;
    uint32_t needed = 0;
    if (evt::ReadEventLog(log_, flags, 0, buffer.data(), 0, &read, &needed) != evt::kInsufficientBuffer ||
        needed == 0 || needed > kMaxEntryBytes) {
      return;
    }
    if (needed > buffer.size()) buffer.resize(needed);
    if (evt::ReadEventLog(log_, flags, 0, buffer.data(), needed, &read, &needed) != evt::kSuccess) return;
    const auto entry = evt::DecodeEventRecord(std::string_view(buffer.data(), read));
    if (!entry || entry->source == "quorvel") continue;

    std::vector<std::string> strings = entry->strings;
    if (strings.size() > kMaxInsertionStrings) strings.resize(kMaxInsertionStrings);

    SyslogMessage record;
    record.facility = kFacilityWindows;
    record.hostName = entry->computer;
    record.ipAddress = "127.0.0.1";
    record.senderPort = 514;
    record.severity = SeverityOf(entry->eventType);
    record.timeReceived = static_cast<int32_t>(entry->timeWritten);
    record.timeSent = static_cast<int32_t>(entry->timeGenerated);
    record.message = FoldWhitespace(logName_ + "/" + entry->source + ":" + MessageText(*entry, strings));
    post_(std::move(record));
  }
}

std::string CEventLogMonitor::MessageText(const evt::EventRecord& entry, const std::vector<std::string>& strings) const {
  const auto list = MessageFileList(logName_, entry.source);
  if (!list) return FallbackText(strings);
  std::string files = evt::ExpandEnvironmentStrings(*list);
  if (files.size() > kMaxMessageFileList) files.resize(kMaxMessageFileList);

  // Every element that ends at a ";" is tried; the last one only when it has two characters or
  // more. Empty elements are skipped.
  std::size_t start = 0;
  while (start < files.size()) {
    const std::size_t end = files.find(';', start);
    const bool last = end == std::string::npos;
    const std::string element = files.substr(start, last ? std::string::npos : end - start);
    if (!element.empty() && (!last || element.size() >= 2)) {
      std::string text = FormatFromFile(element, entry.eventId, strings);
      if (!text.empty()) return text;
    }
    if (last) break;
    start = end + 1;
  }
  return FallbackText(strings);
}

}  // namespace qv
