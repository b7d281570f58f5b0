#include "platform/services/service_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/services/service_record.h"

namespace qv::svc {

namespace {

template <typename T>
void ParseNumber(std::string_view text, T* value) {
  T parsed{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error == std::errc() && end == text.data() + text.size()) *value = parsed;
}

ServiceState Parse(const std::string& text) {
  ServiceState state;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string_view key(line.data(), equals);
    const std::string_view value(line.data() + equals + 1, line.size() - equals - 1);
    if (key == "type") ParseNumber(value, &state.status.serviceType);
    else if (key == "state") ParseNumber(value, &state.status.currentState);
    else if (key == "accepted") ParseNumber(value, &state.status.controlsAccepted);
    else if (key == "exit") ParseNumber(value, &state.status.win32ExitCode);
    else if (key == "specific") ParseNumber(value, &state.status.serviceSpecificExitCode);
    else if (key == "checkpoint") ParseNumber(value, &state.status.checkPoint);
    else if (key == "waithint") ParseNumber(value, &state.status.waitHint);
    else if (key == "pid") ParseNumber(value, &state.pid);
    else if (key == "starttime") ParseNumber(value, &state.startTime);
    else if (key == "boot") state.bootId = std::string(value);
    else if (key == "token") state.startToken = std::string(value);
    else if (key == "requested") ParseNumber(value, &state.requestedAt);
    else if (key == "handled") ParseNumber(value, &state.controlsHandled);
    else if (key == "failure") state.failure = std::string(value);
  }
  if (state.status.currentState < kStopped || state.status.currentState > 7) state.status.currentState = kStopped;
  return state;
}

std::string Format(const ServiceState& state) {
  std::ostringstream out;
  out << "type=" << state.status.serviceType << "\nstate=" << state.status.currentState
      << "\naccepted=" << state.status.controlsAccepted << "\nexit=" << state.status.win32ExitCode
      << "\nspecific=" << state.status.serviceSpecificExitCode << "\ncheckpoint=" << state.status.checkPoint
      << "\nwaithint=" << state.status.waitHint << "\npid=" << state.pid << "\nstarttime=" << state.startTime
      << "\nboot=" << state.bootId      << "\ntoken=" << state.startToken << "\nrequested=" << state.requestedAt
      << "\nhandled=" << state.controlsHandled << "\nfailure=" << state.failure << "\n";
  return out.str();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0660);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written && rename(temporary.c_str(), path.c_str()) == 0;
}

// The fields of /proc/<pid>/stat after the command name, which may itself hold spaces and ')'.
bool ReadProcStat(pid_t pid, char* processState, uint64_t* startTime) {
  if (pid <= 0) return false;
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  // Field 3 is the state, field 22 the start time.
  for (int number = 3; number <= 22 && fields >> field; ++number) {
    if (number == 3) *processState = field.empty() ? '?' : field[0];
    if (number == 22) {
      ParseNumber(std::string_view(field), startTime);
      return true;
    }
  }
  return false;
}

}  // namespace

CServiceStateFile::CServiceStateFile(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  base_ = ServicesFolder() + "/" + lower;
}

ServiceState CServiceStateFile::Read() const { return Parse(ReadFile(base_ + ".state")); }

bool CServiceStateFile::Update(const std::function<bool(ServiceState&)>& change) const {
  if (!EnsureServicesFolder()) return false;
  const int lock = open((base_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
  if (lock < 0) return false;
  bool stored = false;
  if (flock(lock, LOCK_EX) == 0) {
    ServiceState state = Read();
    stored = change(state) && WriteFileAtomically(base_ + ".state", Format(state));
  }
  close(lock);
  return stored;
}

ServiceStatus EffectiveStatus(const ServiceState& state, int64_t now) {
  ServiceStatus status = state.status;
  if (status.currentState == kStopped) return status;
  const bool unclaimedStartExpired =
      state.pid == 0 && (state.startToken.empty() || now - state.requestedAt > kStartClaimSeconds);
  const bool processGone = state.pid != 0 && ((!state.bootId.empty() && state.bootId != CurrentBootId()) ||
                                              !ProcessIsAlive(state.pid, state.startTime));
  if (unclaimedStartExpired || processGone) {
    ServiceStatus stopped;
    stopped.serviceType = status.serviceType;
    stopped.win32ExitCode = kProcessAborted;
    return stopped;
  }
  status.processId = state.pid;
  return status;
}

bool RecordServiceFailure(std::string_view line) {
  const char* mark = std::getenv(kStartMarkVariable);
  if (mark == nullptr) return false;
  const std::string_view text(mark);
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || !IsValidServiceName(text.substr(0, colon))) return false;
  std::string oneLine(line);
  for (char& c : oneLine) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return CServiceStateFile(text.substr(0, colon)).Update([&](ServiceState& state) {
    state.failure = oneLine;
    return true;
  });
}

const std::string& CurrentBootId() {
  static const std::string bootId = [] {
    std::string text = ReadFile("/proc/sys/kernel/random/boot_id");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }();
  return bootId;
}

uint64_t ProcessStartTime(pid_t pid) {
  char processState = '?';
  uint64_t startTime = 0;
  return ReadProcStat(pid, &processState, &startTime) ? startTime : 0;
}

bool ProcessIsAlive(pid_t pid, uint64_t startTime) {
  char processState = '?';
  uint64_t actualStart = 0;
  if (!ReadProcStat(pid, &processState, &actualStart)) return false;
  if (processState == 'Z' || processState == 'X' || processState == 'x') return false;
  return startTime == 0 || actualStart == startTime;
}

}  // namespace qv::svc
