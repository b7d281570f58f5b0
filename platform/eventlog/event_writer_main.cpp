// qv_event_writer LOG SOURCE COUNT: writes COUNT information events from another process, with
// insertion strings "<pid>" and "<index>". Exit code 0 when every write succeeded.

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/eventlog/event_log.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int count = std::atoi(argv[3]);
  for (int i = 0; i < count; ++i) {
    qv::evt::EventRecord event;
    event.eventType = qv::evt::kInformationType;
    event.eventId = 1000;
    event.source = argv[2];
    event.computer = "writer";
    event.strings = {std::to_string(getpid()), std::to_string(i)};
    if (qv::evt::WriteEvent(argv[1], event) != qv::evt::kSuccess) return 1;
  }
  return 0;
}
