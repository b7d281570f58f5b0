// qvevent: writes events to the event logs that the programs share, and lists a log.
//
//   qvevent write --log LOG --source SOURCE --type TYPE --id N [--computer NAME] [--] [STRING...]
//       writes one event whose insertion strings are the STRINGs. TYPE is error, warning,
//       information, audit-success or audit-failure; N is the event identifier (decimal, or
//       hexadecimal after 0x); the computer defaults to this machine's host name. Options come
//       first, in any order; "--" ends them, so that a string may start with "--".
//   qvevent list LOG
//       prints the log's records, oldest first, one a line, fields separated by tabs: number,
//       time generated, time written (local time, YYYY-MM-DD HH:MM:SS), type, identifier,
//       source, computer, then each insertion string. Tabs, line ends and backslashes inside a
//       field are written as \t, \n, \r and \\.
//
// A log is a sub-key of HKLM\SYSTEM\CurrentControlSet\Services\Eventlog; Application, System
// and Security always exist. The logs are the ones in $QUORVEL_HOME. Exit codes: 0 success,
// 1 no such log, 2 bad command line, 3 the log could not be written or read.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/eventlog/event_log.h"
#include "platform/paths/data_root.h"
#include "platform/eventlog/message_file.h"

namespace {

using namespace qv::evt;

constexpr int kNoSuchLog = 1;
constexpr int kUsage = 2;
constexpr int kFailed = 3;

constexpr std::pair<std::string_view, uint16_t> kTypes[] = {
    {"error", kErrorType},
    {"warning", kWarningType},
    {"information", kInformationType},
    {"audit-success", kAuditSuccessType},
    {"audit-failure", kAuditFailureType},
};

int Usage() {
  std::fputs(
      "usage: qvevent write --log LOG --source SOURCE --type TYPE --id N [--computer NAME] [--] [STRING...]\n"
      "       qvevent list LOG\n"
      "TYPE: error, warning, information, audit-success, audit-failure\n",
      stderr);
  return kUsage;
}

int Failed(const char* what, std::string_view log, Status status) {
  std::fprintf(stderr, "qvevent: %s %.*s: status %ld\n", what, static_cast<int>(log.size()), log.data(), status);
  return status == kFileNotFound ? kNoSuchLog : kFailed;
}

std::optional<uint16_t> ParseType(std::string_view name) {
  for (const auto& [text, value] : kTypes) {
    if (text == name) return value;
  }
  return std::nullopt;
}

std::string TypeName(uint16_t type) {
  for (const auto& [text, value] : kTypes) {
    if (value == type) return std::string(text);
  }
  return std::to_string(type);
}

int Write(int argc, char** argv) {
  std::map<std::string_view, std::string_view> options;
  int next = 2;
  for (; next < argc; ++next) {
    const std::string_view arg = argv[next];
    if (arg == "--") {
      ++next;
      break;
    }
    if (arg != "--log" && arg != "--source" && arg != "--type" && arg != "--id" && arg != "--computer") break;
    if (next + 1 >= argc || options.count(arg) != 0) return Usage();
    options[arg] = argv[++next];
  }
  for (std::string_view required : {"--log", "--source", "--type", "--id"}) {
    if (options.count(required) == 0) return Usage();
  }
  const std::optional<uint16_t> type = ParseType(options["--type"]);
  const std::optional<uint32_t> id = ParseNumber(options["--id"]);
  if (!type || !id) return Usage();

  EventRecord event;
  event.source = options["--source"];
  event.computer = options.count("--computer") != 0 ? std::string(options["--computer"]) : LocalComputerName();
  event.eventType = *type;
  event.eventId = *id;
  for (; next < argc; ++next) event.strings.emplace_back(argv[next]);
  const std::string_view log = options["--log"];
  const Status status = WriteEvent(log, event);
  if (status == kInvalidParameter) {
    std::fputs("qvevent: the event is too large or a name is empty or too long\n", stderr);
    return kUsage;
  }
  return status == kSuccess ? 0 : Failed("cannot write to", log, status);
}

std::string Time(uint32_t seconds) {
  const std::time_t time = seconds;
  std::tm local{};
  char text[32] = "?";
  if (localtime_r(&time, &local) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string Escaped(const std::string& field) {
  std::string out;
  for (char c : field) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c; break;
    }
  }
  return out;
}

void Print(const EventRecord& record) {
  std::string line = std::to_string(record.recordNumber) + "\t" + Time(record.timeGenerated) + "\t" +
                     Time(record.timeWritten) + "\t" + TypeName(record.eventType) + "\t" +
                     std::to_string(record.eventId) + "\t" + Escaped(record.source) + "\t" + Escaped(record.computer);
  for (const std::string& text : record.strings) line += "\t" + Escaped(text);
  std::printf("%s\n", line.c_str());
}

int List(std::string_view logName) {
  HEventLog log = nullptr;
  Status status = OpenEventLog(logName, &log);
  if (status != kSuccess) return Failed("cannot open", logName, status);
  std::string buffer(1 << 16, '\0');
  for (;;) {
    uint32_t read = 0;
    uint32_t needed = 0;
    status = ReadEventLog(log, kSequentialRead | kForwardsRead, 0, buffer.data(), static_cast<uint32_t>(buffer.size()),
                          &read, &needed);
    if (status == kInsufficientBuffer) {
      buffer.resize(needed);
      continue;
    }
    if (status != kSuccess) break;
    std::string_view rest(buffer.data(), read);
    std::size_t length = 0;
    while (!rest.empty()) {
      const std::optional<EventRecord> record = DecodeEventRecord(rest, &length);
      if (!record) break;
      Print(*record);
      rest.remove_prefix(length);
    }
  }
  CloseEventLog(log);
  return status == kHandleEof ? 0 : Failed("cannot read", logName, status);
}

}  // namespace

int main(int argc, char** argv) {
  qv::UseSharedUmask();
  if (const std::string problem = qv::CheckDataRoot(); !problem.empty()) {
    std::fprintf(stderr, "qvevent: %s\n", problem.c_str());
    return 1;
  }
  if (argc < 2) return Usage();
  const std::string_view command = argv[1];
  if (command == "write") return Write(argc, argv);
  if (command == "list" && argc == 3) return List(argv[2]);
  return Usage();
}
