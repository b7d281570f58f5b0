#include "rules/actions/event_log_copy.h"

#include <mutex>
#include <string>

#include "core/message/names.h"
#include "core/settings/reg.h"
#include "platform/eventlog/event_log.h"
#include "platform/eventlog/message_file.h"

namespace qv {
namespace {

using evt::kErrorType;
using evt::kInformationType;
using evt::kWarningType;
constexpr uint32_t kTypesSupported = kErrorType | kWarningType | kInformationType;

void RegisterEventSourceKey() {
  evt::InstallOwnMessageFile();
  CReg key(std::string(evt::kEventLogKey) + "\\Application\\" + kEventSourceName);
  key.SetString("EventMessageFile", evt::OwnMessageFilePath());
  key.SetDWORD("TypesSupported", kTypesSupported);
}

}  // namespace

uint16_t EventTypeForSeverity(int32_t severity) {
  const int32_t level = severity < 0 ? 0 : severity % 8;
  if (level <= 3) return kErrorType;
  if (level == 4) return kWarningType;
  return kInformationType;
}

bool CopyToEventLog(const SyslogMessage& message) {
  if (message.facility == kFacilityWindows && message.ipAddress == "127.0.0.1") return false;
  static std::once_flag registered;
  std::call_once(registered, RegisterEventSourceKey);

  evt::HEventSource source = nullptr;
  if (evt::RegisterEventSource(kEventSourceName, &source) != evt::kSuccess) return false;
  const evt::Status status = evt::ReportEvent(source, EventTypeForSeverity(message.severity), 0, 0,
                                              {message.FormatDetailBlock()});
  evt::DeregisterEventSource(source);
  return status == evt::kSuccess;
}

}  // namespace qv
