#include "monitors/call_monitor.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qv {
namespace {

using namespace tapi;

constexpr uint32_t kApiVersion = 0x00020002;
constexpr uint32_t kDevCapsBytes = 1276;
constexpr uint32_t kCallInfoBytes = 4420;
// A provider asking for more than this for one call's information is not believed.
constexpr uint32_t kMaxCallInfoBytes = 1 << 20;

const char kNoDevice[] = "Call Monitor: No Device Suitable for monitoring calls found";
const char kUnavailable[] = "<Unavailable>";

// A record with a variable part, in a buffer aligned for its fixed fields.
template <typename Record>
class CRecordBuffer {
 public:
  explicit CRecordBuffer(uint32_t bytes) { Resize(bytes); }

  void Resize(uint32_t bytes) {
    words_.assign((std::max<uint32_t>(bytes, sizeof(Record)) + 3) / 4, 0);
    get()->dwTotalSize = bytes;
  }
  Record* get() { return reinterpret_cast<Record*>(words_.data()); }

  // The text at `offset` of `size` bytes, up to its first zero; empty when the numbers point
  // outside what the provider wrote.
  std::string Text(uint32_t size, uint32_t offset) {
    const uint64_t written = std::min<uint64_t>(get()->dwUsedSize, words_.size() * 4);
    if (size == 0 || uint64_t{offset} + size > written) return {};
    const char* text = reinterpret_cast<const char*>(words_.data()) + offset;
    return std::string(text, strnlen(text, size));
  }

 private:
  std::vector<uint32_t> words_;
};

std::string CallerText(uint32_t flags, const std::string& number) {
  std::string caller;
  if (flags & (LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS | LINECALLPARTYID_PARTIAL)) caller = number;
  if (flags & (LINECALLPARTYID_OUTOFAREA | LINECALLPARTYID_UNAVAIL)) caller = kUnavailable;
  if (flags & LINECALLPARTYID_BLOCKED) caller = "<Withheld>";
  if (flags & LINECALLPARTYID_UNKNOWN) caller = "<Currently Unknown>";
  return caller.empty() ? kUnavailable : caller;
}

}  // namespace

CCallMonitor::CCallMonitor(MonitorReporter reporter, CTelephonyLibrary& telephony)
    : CMonitorThread(std::move(reporter)), tapi_(telephony) {}

CCallMonitor::~CCallMonitor() {
  EndWorker();
  CloseLines();
}

void CCallMonitor::Run() {
  if (OpenLines() == 0) WaitForCalls();
  CloseLines();
}

int CCallMonitor::OpenLines() {
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  uint32_t devices = 0;
  uint32_t version = kApiVersion;
  if (tapi_.lineInitializeExA(&lineApp_, nullptr, nullptr, nullptr, &devices, &version, &params) != 0) {
    lineApp_ = 0;
    Report(kNoDevice);
    return -1;
  }
  messageEvent_ = params.hEvent;
  lines_.fill(0);

  bool opened = false;
  for (uint32_t device = 0; device < devices && device < kMaxLines; ++device) {
    uint32_t negotiated = 0;
    LINEEXTENSIONID extension{};
    if (tapi_.lineNegotiateAPIVersion(lineApp_, device, kApiVersion, kApiVersion, &negotiated, &extension) != 0) {
      continue;
    }
    CRecordBuffer<LINEDEVCAPS> caps(kDevCapsBytes);
    if (tapi_.lineGetDevCapsA(lineApp_, device, negotiated, 0, caps.get()) != 0 ||
        (caps.get()->dwMediaModes & LINEMEDIAMODE_DATAMODEM) == 0) {
      continue;
    }
    LINECALLPARAMS callParams{};
    callParams.dwTotalSize = sizeof callParams;
    callParams.dwBearerMode = LINEBEARERMODE_VOICE;
    callParams.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
    // A device that cannot be opened is skipped; the others stay usable.
    if (tapi_.lineOpenA(lineApp_, device, &lines_[device], kApiVersion, 0, 1, LINECALLPRIVILEGE_MONITOR,
                        LINEMEDIAMODE_DATAMODEM, &callParams) != 0) {
      lines_[device] = 0;
      continue;
    }
    // Ringing notices are only a courtesy: call states arrive without them, so a refusal here
    // still leaves a line worth listening on.
    tapi_.lineSetStatusMessages(lines_[device], LINEDEVSTATE_RINGING, 0);
    Report("Call Monitor: Listening for calls on " +
           caps.Text(caps.get()->dwLineNameSize, caps.get()->dwLineNameOffset));
    opened = true;
  }
  if (!opened) {
    Report(kNoDevice);
    return -1;
  }
  return 0;
}

void CCallMonitor::WaitForCalls() {
  for (;;) {
    // The stop event comes first, so that a stream of messages cannot hold the monitor up.
    const int fds[] = {StopEvent().Fd(), messageEvent_};
    if (WaitForAny(fds, -1) != 1) return;
    LINEMESSAGE message{};
    if (tapi_.lineGetMessage(lineApp_, &message, 0) != 0) return;
    if (message.dwMessageID == LINE_CALLSTATE && message.dwParam1 == LINECALLSTATE_IDLE) {
      ReportCall(message.hDevice);
      tapi_.lineDeallocateCall(message.hDevice);
    }
  }
}

void CCallMonitor::CloseLines() {
  for (HLINE& line : lines_) {
    if (line != 0) tapi_.lineClose(line);
    line = 0;
  }
  if (lineApp_ != 0) tapi_.lineShutdown(lineApp_);
  lineApp_ = 0;
  messageEvent_ = -1;
}

void CCallMonitor::ReportCall(HCALL call) {
  CRecordBuffer<LINECALLINFO> info(kCallInfoBytes);
  if (tapi_.lineGetCallInfoA(call, info.get()) != 0) return;
  const uint32_t needed = info.get()->dwNeededSize;
  if (needed > info.get()->dwTotalSize) {
    if (needed > kMaxCallInfoBytes) return;
    info.Resize(needed);
    if (tapi_.lineGetCallInfoA(call, info.get()) != 0) return;
  }
  const LINECALLINFO& record = *info.get();

  if (record.dwOrigin & LINECALLORIGIN_OUTBOUND) {
    std::string called = info.Text(record.dwCalledIDSize, record.dwCalledIDOffset);
    if ((record.dwCalledIDFlags & LINECALLPARTYID_ADDRESS) == 0 || called.empty()) called = kUnavailable;
    std::string program = info.Text(record.dwAppNameSize, record.dwAppNameOffset);
    if (program.empty()) program = kUnavailable;
    Report("Call Monitor: " + program + " made an outbound call to " + called);
  } else {
    Report("Call Monitor: Incoming call from " +
           CallerText(record.dwCallerIDFlags, info.Text(record.dwCallerIDSize, record.dwCallerIDOffset)));
  }
}

}  // namespace qv
