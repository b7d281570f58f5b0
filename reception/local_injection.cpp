#include "reception/local_injection.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"

namespace qv {

void SendLocalSyslog(std::string_view text, int32_t severity, std::string_view sourceAddress) {
  const int32_t port = AppSettings().GetInt("Settings", "udpport", 514);
  if (port < 1 || port > 65535) return;  // would otherwise wrap round to some other port

  std::string line = MakeLocalRecord(text, severity, sourceAddress).FormatRecordLine();
  if (line.size() >= 2) line.resize(line.size() - 2);  // the datagram carries no CR LF

  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(static_cast<uint16_t>(port));
  destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, line.data(), line.size(), 0, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  close(fd);
}

}  // namespace qv
