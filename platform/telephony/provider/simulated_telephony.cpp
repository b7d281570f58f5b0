#include "platform/telephony/provider/simulated_telephony.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths/data_root.h"
#include "platform/sync/manual_reset_event.h"
#include "platform/telephony/provider/spool_format.h"

namespace qv::simtapi {

using namespace tapi;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kProviderApiVersion = 0x00020002;
constexpr uint32_t kLowestApiVersion = 0x00010003;
constexpr char kProviderInfo[] = "Quorvel simulated telephony";

// Fills the variable part of a record: every text fits, or none is written and only the needed
// size tells the caller how much to offer next time.
class CVariablePart {
 public:
  CVariablePart(void* record, uint32_t totalSize, uint32_t fixedSize)
      : base_(static_cast<char*>(record)), total_(totalSize), fixed_(fixedSize) {}

  // An empty text is left out (size and offset 0).
  void Add(const std::string& text, uint32_t* size, uint32_t* offset) {
    *size = 0;
    *offset = 0;
    if (!text.empty()) texts_.push_back({&text, size, offset});
  }

  // Writes the texts when they all fit and returns the used size.
  uint32_t Finish(uint32_t* neededSize) {
    uint32_t needed = fixed_;
    for (const Text& text : texts_) needed += static_cast<uint32_t>(text.text->size() + 1);
    *neededSize = needed;
    if (needed > total_) return fixed_;
    uint32_t used = fixed_;
    for (const Text& text : texts_) {
      const auto bytes = static_cast<uint32_t>(text.text->size() + 1);
      std::memcpy(base_ + used, text.text->c_str(), bytes);
      *text.size = bytes;
      *text.offset = used;
      used += bytes;
    }
    return used;
  }

 private:
  struct Text {
    const std::string* text;
    uint32_t* size;
    uint32_t* offset;
  };

  char* base_;
  uint32_t total_;
  uint32_t fixed_;
  std::vector<Text> texts_;
};

}  // namespace

// One application: its line devices, open lines, call handles, message queue and the watcher of
// the calls folder. Every member is guarded by the provider's lock.
class CSimulatedApp {
 public:
  struct OpenLine {
    uint32_t deviceId;
    uintptr_t callbackInstance;
    uint32_t lineStates;
  };
  struct CallRecord {
    SpoolCall description;
    HLINE line;
    uint32_t deviceId;
    uint32_t callId;
  };

  CSimulatedApp(CSimulatedTelephony& provider, std::string spool)
      : lines(ReadSpoolLines(spool + "/lines")), provider_(provider), callsFolder_(spool + "/calls") {}
  ~CSimulatedApp() {
    if (inotify_ >= 0) close(inotify_);
  }

  // Starts watching the calls folder; false when it cannot be watched.
  bool StartWatching() {
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) return false;
    if (inotify_add_watch(inotify_, callsFolder_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM) < 0) {
      return false;
    }
    watcher_ = std::thread([this] { Watch(); });
    return true;
  }
  // Called without the provider's lock held.
  void StopWatching() {
    stop_.Set();
    if (watcher_.joinable()) watcher_.join();
  }

  void Queue(uint32_t device, uint32_t message, uintptr_t instance, uintptr_t param1, uintptr_t param2,
             uintptr_t param3) {
    queue.push_back(LINEMESSAGE{device, message, instance, param1, param2, param3});
    messageEvent.Set();
    provider_.messageQueued_.notify_all();
  }

  std::vector<SpoolLine> lines;
  std::map<HLINE, OpenLine> openLines;
  std::map<HCALL, CallRecord> calls;
  std::deque<LINEMESSAGE> queue;
  CManualResetEvent messageEvent;  // set while the queue holds messages

 private:
  struct ActiveCall {
    std::vector<HCALL> handles;
    std::optional<Clock::time_point> deadline;
  };

  void Watch() {
    {
      std::lock_guard lock(provider_.mutex_);
      ScanFolder();
    }
    for (;;) {
      int timeoutMs = -1;
      {
        std::lock_guard lock(provider_.mutex_);
        for (const auto& [name, call] : active_) {
          if (!call.deadline) continue;
          const auto left = std::chrono::ceil<std::chrono::milliseconds>(*call.deadline - Clock::now()).count();
          const int ms = static_cast<int>(std::clamp<int64_t>(left, 0, 60000));
          if (timeoutMs < 0 || ms < timeoutMs) timeoutMs = ms;
        }
      }
      const int fds[] = {stop_.Fd(), inotify_};
      const int ready = WaitForAny(fds, timeoutMs);
      if (ready == 0 || ready == kWaitFailed) return;
      std::lock_guard lock(provider_.mutex_);
      if (ready == 1) ReadFolderEvents();
      EndExpiredCalls();
    }
  }

  void ScanFolder() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(callsFolder_, error)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) StartCall(name);
  }

  void ReadFolderEvents() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t got = read(inotify_, buffer, sizeof buffer);
      if (got <= 0) return;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
        inotify_event event;
        std::memcpy(&event, buffer + at, sizeof event);
        const char* name = buffer + at + sizeof(inotify_event);
        if (event.len > 0) {
          const std::string file(name, strnlen(name, event.len));
          if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) StartCall(file);
          if (event.mask & (IN_DELETE | IN_MOVED_FROM)) EndCall(file);
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      }
    }
  }

  std::optional<uint32_t> FindDevice(const std::string& line) const {
    if (lines.empty()) return std::nullopt;
    if (line.empty()) return 0;
    for (uint32_t i = 0; i < lines.size(); ++i) {
      if (lines[i].id == line) return i;
    }
    for (uint32_t i = 0; i < lines.size(); ++i) {
      if (lines[i].name == line) return i;
    }
    return std::nullopt;
  }

  void StartCall(const std::string& file) {
    if (file.empty() || file.front() == '.' || active_.count(file) != 0) return;
    const auto text = ReadSpoolFile(callsFolder_ + "/" + file);
    if (!text) return;
    const SpoolCall call = ParseSpoolCall(*text);
    ActiveCall active;
    if (call.durationSeconds) active.deadline = Clock::now() + std::chrono::seconds(std::min<int64_t>(*call.durationSeconds, 86400 * 365));
    const auto device = FindDevice(call.line);
    for (const auto& [line, open] : openLines) {
      if (!device || open.deviceId != *device) continue;
      const HCALL handle = provider_.NewHandle();
      calls[handle] = CallRecord{call, line, open.deviceId, provider_.nextCallId_++};
      active.handles.push_back(handle);
      const uintptr_t instance = open.callbackInstance;
      Queue(line, LINE_APPNEWCALL, instance, 0, handle, LINECALLPRIVILEGE_MONITOR);
      if (call.outbound) {
        Queue(handle, LINE_CALLSTATE, instance, LINECALLSTATE_DIALING, 0, LINECALLPRIVILEGE_MONITOR);
        Queue(handle, LINE_CALLSTATE, instance, LINECALLSTATE_CONNECTED, 0, 0);
      } else {
        if (open.lineStates & LINEDEVSTATE_RINGING) Queue(line, LINE_LINEDEVSTATE, instance, LINEDEVSTATE_RINGING, 1, 0);
        Queue(handle, LINE_CALLSTATE, instance, LINECALLSTATE_OFFERING, 0, LINECALLPRIVILEGE_MONITOR);
      }
    }
    active_[file] = std::move(active);
  }

  void EndCall(const std::string& file) {
    const auto found = active_.find(file);
    if (found == active_.end()) return;
    for (const HCALL handle : found->second.handles) {
      const auto call = calls.find(handle);
      if (call == calls.end()) continue;  // deallocated or its line closed
      const uintptr_t instance = openLines.count(call->second.line) != 0 ? openLines[call->second.line].callbackInstance : 0;
      Queue(handle, LINE_CALLSTATE, instance, LINECALLSTATE_DISCONNECTED, 0, 0);
      Queue(handle, LINE_CALLSTATE, instance, LINECALLSTATE_IDLE, 0, 0);
    }
    active_.erase(found);
  }

  void EndExpiredCalls() {
    const auto now = Clock::now();
    std::vector<std::string> expired;
    for (const auto& [name, call] : active_) {
      if (call.deadline && *call.deadline <= now) expired.push_back(name);
    }
    for (const std::string& name : expired) {
      EndCall(name);
      unlink((callsFolder_ + "/" + name).c_str());  // the spool entry is used up
    }
  }

  CSimulatedTelephony& provider_;
  std::string callsFolder_;
  std::map<std::string, ActiveCall> active_;
  int inotify_ = -1;
  CManualResetEvent stop_;
  std::thread watcher_;
};

CSimulatedTelephony::CSimulatedTelephony() = default;

CSimulatedTelephony::~CSimulatedTelephony() {
  std::map<HLINEAPP, std::unique_ptr<CSimulatedApp>> apps;
  {
    std::lock_guard lock(mutex_);
    apps.swap(apps_);
  }
  for (auto& [handle, app] : apps) app->StopWatching();
}

CSimulatedApp* CSimulatedTelephony::FindApp(HLINEAPP handle) {
  const auto found = apps_.find(handle);
  return found == apps_.end() ? nullptr : found->second.get();
}

CSimulatedApp* CSimulatedTelephony::FindAppOfLine(HLINE line) {
  for (auto& [handle, app] : apps_) {
    if (app->openLines.count(line) != 0) return app.get();
  }
  return nullptr;
}

CSimulatedApp* CSimulatedTelephony::FindAppOfCall(HCALL call) {
  for (auto& [handle, app] : apps_) {
    if (app->calls.count(call) != 0) return app.get();
  }
  return nullptr;
}

LONG CSimulatedTelephony::lineInitializeExA(HLINEAPP* lineApp, void*, LINECALLBACK, const char*, uint32_t* numDevs,
                                            uint32_t* apiVersion, LINEINITIALIZEEXPARAMS* params) {
  if (lineApp == nullptr || numDevs == nullptr || apiVersion == nullptr || params == nullptr) {
    return LINEERR_INVALPOINTER;
  }
  if (params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) return LINEERR_STRUCTURETOOSMALL;
  if (params->dwOptions != LINEINITIALIZEEXOPTION_USEEVENT) return LINEERR_INVALPARAM;
  if (*apiVersion < kLowestApiVersion) return LINEERR_INCOMPATIBLEAPIVERSION;

  const std::string spool = DataPath("telephony");
  std::error_code error;
  EnsureDataRoot();
  std::filesystem::create_directories(spool + "/lines", error);
  std::filesystem::create_directories(spool + "/calls", error);

  std::lock_guard lock(mutex_);
  auto app = std::make_unique<CSimulatedApp>(*this, spool);
  if (!app->StartWatching()) return LINEERR_OPERATIONFAILED;
  const HLINEAPP handle = NewHandle();
  *lineApp = handle;
  *numDevs = static_cast<uint32_t>(app->lines.size());
  *apiVersion = kProviderApiVersion;
  params->dwNeededSize = params->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
  params->hEvent = app->messageEvent.Fd();
  apps_[handle] = std::move(app);
  return 0;
}

LONG CSimulatedTelephony::lineNegotiateAPIVersion(HLINEAPP lineApp, uint32_t deviceId, uint32_t lowVersion,
                                                  uint32_t highVersion, uint32_t* apiVersion,
                                                  LINEEXTENSIONID* extensionId) {
  std::lock_guard lock(mutex_);
  const CSimulatedApp* app = FindApp(lineApp);
  if (app == nullptr) return LINEERR_INVALAPPHANDLE;
  if (deviceId >= app->lines.size()) return LINEERR_BADDEVICEID;
  if (apiVersion == nullptr || extensionId == nullptr) return LINEERR_INVALPOINTER;
  const SpoolLine& line = app->lines[deviceId];
  const uint32_t chosen = std::min(highVersion, line.highVersion);
  if (lowVersion > highVersion || chosen < std::max(lowVersion, line.lowVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  *apiVersion = chosen;
  *extensionId = LINEEXTENSIONID{};
  return 0;
}

LONG CSimulatedTelephony::lineGetDevCapsA(HLINEAPP lineApp, uint32_t deviceId, uint32_t apiVersion, uint32_t,
                                          LINEDEVCAPS* caps) {
  std::lock_guard lock(mutex_);
  const CSimulatedApp* app = FindApp(lineApp);
  if (app == nullptr) return LINEERR_INVALAPPHANDLE;
  if (deviceId >= app->lines.size()) return LINEERR_BADDEVICEID;
  if (caps == nullptr) return LINEERR_INVALPOINTER;
  if (caps->dwTotalSize < sizeof(LINEDEVCAPS)) return LINEERR_STRUCTURETOOSMALL;
  const SpoolLine& line = app->lines[deviceId];
  if (apiVersion < line.lowVersion || apiVersion > line.highVersion) return LINEERR_INCOMPATIBLEAPIVERSION;

  const uint32_t total = caps->dwTotalSize;
  std::memset(caps, 0, sizeof(LINEDEVCAPS));
  caps->dwTotalSize = total;
  caps->dwPermanentLineID = deviceId + 1;
  caps->dwStringFormat = STRINGFORMAT_ASCII;
  caps->dwNumAddresses = 1;
  caps->dwBearerModes = LINEBEARERMODE_VOICE;
  caps->dwMediaModes = line.mediaModes;
  caps->dwLineStates = LINEDEVSTATE_RINGING;
  const std::string providerInfo = kProviderInfo;
  CVariablePart texts(caps, total, sizeof(LINEDEVCAPS));
  texts.Add(providerInfo, &caps->dwProviderInfoSize, &caps->dwProviderInfoOffset);
  texts.Add(line.name, &caps->dwLineNameSize, &caps->dwLineNameOffset);
  caps->dwUsedSize = texts.Finish(&caps->dwNeededSize);
  return 0;
}

LONG CSimulatedTelephony::lineOpenA(HLINEAPP lineApp, uint32_t deviceId, HLINE* line, uint32_t apiVersion, uint32_t,
                                    uintptr_t callbackInstance, uint32_t privileges, uint32_t mediaModes,
                                    const LINECALLPARAMS*) {
  std::lock_guard lock(mutex_);
  CSimulatedApp* app = FindApp(lineApp);
  if (app == nullptr) return LINEERR_INVALAPPHANDLE;
  if (deviceId >= app->lines.size()) return LINEERR_BADDEVICEID;
  if (line == nullptr) return LINEERR_INVALPOINTER;
  const SpoolLine& device = app->lines[deviceId];
  if (apiVersion < device.lowVersion || apiVersion > device.highVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  constexpr uint32_t kKnown = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
  if (privileges == 0 || (privileges & ~kKnown) != 0 ||
      ((privileges & LINECALLPRIVILEGE_NONE) != 0 && privileges != LINECALLPRIVILEGE_NONE)) {
    return LINEERR_INVALPRIVSELECT;
  }
  if ((mediaModes & ~device.mediaModes) != 0) return LINEERR_INVALMEDIAMODE;
  const HLINE handle = NewHandle();
  app->openLines[handle] = CSimulatedApp::OpenLine{deviceId, callbackInstance, 0};
  *line = handle;
  return 0;
}

LONG CSimulatedTelephony::lineSetStatusMessages(HLINE line, uint32_t lineStates, uint32_t) {
  std::lock_guard lock(mutex_);
  CSimulatedApp* app = FindAppOfLine(line);
  if (app == nullptr) return LINEERR_INVALLINEHANDLE;
  app->openLines[line].lineStates = lineStates;
  return 0;
}

LONG CSimulatedTelephony::lineGetMessage(HLINEAPP lineApp, LINEMESSAGE* message, uint32_t timeoutMs) {
  if (message == nullptr) return LINEERR_INVALPOINTER;
  std::unique_lock lock(mutex_);
  const auto waiting = [&] {
    const CSimulatedApp* app = FindApp(lineApp);
    return app == nullptr || !app->queue.empty();
  };
  if (timeoutMs == 0xFFFFFFFF) {
    messageQueued_.wait(lock, waiting);
  } else {
    messageQueued_.wait_for(lock, std::chrono::milliseconds(timeoutMs), waiting);
  }
  CSimulatedApp* app = FindApp(lineApp);
  if (app == nullptr) return LINEERR_INVALAPPHANDLE;
  if (app->queue.empty()) return LINEERR_OPERATIONFAILED;
  *message = app->queue.front();
  app->queue.pop_front();
  if (app->queue.empty()) app->messageEvent.Reset();
  return 0;
}

LONG CSimulatedTelephony::lineGetCallInfoA(HCALL call, LINECALLINFO* info) {
  std::lock_guard lock(mutex_);
  CSimulatedApp* app = FindAppOfCall(call);
  if (app == nullptr) return LINEERR_INVALCALLHANDLE;
  if (info == nullptr) return LINEERR_INVALPOINTER;
  if (info->dwTotalSize < sizeof(LINECALLINFO)) return LINEERR_STRUCTURETOOSMALL;
  const CSimulatedApp::CallRecord& record = app->calls[call];
  const SpoolCall& description = record.description;

  const uint32_t total = info->dwTotalSize;
  std::memset(info, 0, sizeof(LINECALLINFO));
  info->dwTotalSize = total;
  info->hLine = record.line;
  info->dwLineDeviceID = record.deviceId;
  info->dwBearerMode = LINEBEARERMODE_VOICE;
  info->dwMediaMode = LINEMEDIAMODE_DATAMODEM;
  info->dwCallID = record.callId;
  info->dwOrigin = description.outbound ? LINECALLORIGIN_OUTBOUND : LINECALLORIGIN_INBOUND;
  info->dwCallerIDFlags = description.callerFlags;
  info->dwCalledIDFlags = description.calledFlags;
  CVariablePart texts(info, total, sizeof(LINECALLINFO));
  texts.Add(description.callerId, &info->dwCallerIDSize, &info->dwCallerIDOffset);
  texts.Add(description.callerName, &info->dwCallerIDNameSize, &info->dwCallerIDNameOffset);
  texts.Add(description.calledId, &info->dwCalledIDSize, &info->dwCalledIDOffset);
  texts.Add(description.appName, &info->dwAppNameSize, &info->dwAppNameOffset);
  info->dwUsedSize = texts.Finish(&info->dwNeededSize);
  return 0;
}

LONG CSimulatedTelephony::lineDeallocateCall(HCALL call) {
  std::lock_guard lock(mutex_);
  CSimulatedApp* app = FindAppOfCall(call);
  if (app == nullptr) return LINEERR_INVALCALLHANDLE;
  app->calls.erase(call);
  return 0;
}

LONG CSimulatedTelephony::lineClose(HLINE line) {
  std::lock_guard lock(mutex_);
  CSimulatedApp* app = FindAppOfLine(line);
  if (app == nullptr) return LINEERR_INVALLINEHANDLE;
  app->openLines.erase(line);
  std::erase_if(app->calls, [&](const auto& call) { return call.second.line == line; });
  return 0;
}

LONG CSimulatedTelephony::lineShutdown(HLINEAPP lineApp) {
  std::unique_ptr<CSimulatedApp> app;
  {
    std::lock_guard lock(mutex_);
    const auto found = apps_.find(lineApp);
    if (found == apps_.end()) return LINEERR_INVALAPPHANDLE;
    app = std::move(found->second);
    apps_.erase(found);
    messageQueued_.notify_all();
  }
  app->StopWatching();
  return 0;
}

CSimulatedTelephony& SimulatedTelephony() {
  static CSimulatedTelephony provider;
  return provider;
}

}  // namespace qv::simtapi
