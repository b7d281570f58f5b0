#pragma once
// The "Copy to Windows Event log" action: writes a message to the Application log as an event of
// the source "quorvel", with event id 0 and the message's detail block as its one insertion
// string. The source's message file (the data root's "qvmsg.txt") shows event 0 as exactly that
// string.

#include <cstdint>

#include "core/message/syslog_message.h"

namespace qv {

inline constexpr const char* kEventSourceName = "quorvel";

// The event type for a severity: 0..3 error (1), 4 warning (2), 5..7 information (4). Severities
// past 7 (the modify action can set 8..15) read modulo 8, as the severity names do; negative
// ones as 0.
uint16_t EventTypeForSeverity(int32_t severity);

// Writes the event. A message of facility 24 ("Windows") from 127.0.0.1 came from the event-log
// translator and is not written back, which would loop. The first call in a process that gets
// past that test registers the source: the key Application\quorvel below the event-log key with
// "EventMessageFile" (REG_SZ, the message file, which is installed too) and "TypesSupported" 7;
// it is not tried again, whatever its outcome. Returns whether an event was written; failures
// are not reported. Safe to call from any thread.
bool CopyToEventLog(const SyslogMessage& message);

}  // namespace qv
