#include "snmp/trap_sender.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "snmp/snmp_endpoint.h"

namespace qv {
namespace {

constexpr int kSendTimeoutSeconds = 5;

bool IsUsable(uint32_t networkOrder) {
  const uint32_t address = ntohl(networkOrder);
  return address != 0 && (address >> 24) != 127;
}

// The local address the kernel would use towards an outside address; connecting a UDP socket
// only picks the route.
uint32_t RoutedAddress() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in outside{};
  outside.sin_family = AF_INET;
  outside.sin_port = htons(7);
  inet_pton(AF_INET, "128.127.50.1", &outside.sin_addr);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  uint32_t address = 0;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&outside), sizeof outside) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
    address = local.sin_addr.s_addr;
  }
  close(fd);
  return address;
}

uint32_t HostNameAddress() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0) return 0;
  uint32_t address = 0;
  for (const addrinfo* entry = found; entry != nullptr && address == 0; entry = entry->ai_next) {
    const uint32_t candidate = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    if (IsUsable(candidate)) address = candidate;
  }
  freeaddrinfo(found);
  return address;
}

std::string DottedText(uint32_t networkOrder) {
  in_addr address{};
  address.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN] = "0.0.0.0";
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

const std::string& LocalAddressText() {
  static std::once_flag once;
  static std::string text;
  std::call_once(once, [] { text = DottedText(GetLocalAddress()); });
  return text;
}

}  // namespace

uint32_t GetLocalAddress() {
  const uint32_t routed = RoutedAddress();
  return IsUsable(routed) ? routed : HostNameAddress();
}

std::optional<CSnmpMessage> BuildSnmpTrap(std::string_view text, std::string_view community,
                                          std::string_view enterprise, int32_t generic, int32_t specific,
                                          std::string_view bindingName, std::string_view agentAddress) {
  auto name = CSnmpOid::FromText(bindingName);
  CSnmpMessage trap(kPduTrapV1);
  if (!name || !trap.SetEnterprise(enterprise)) return std::nullopt;
  trap.SetCommunity(community);
  trap.SetAgentAddress(agentAddress);
  trap.SetTimeStamp(0);
  trap.SetGenericTrap(generic);
  trap.SetSpecificTrap(specific);
  trap.AppendBinding(std::move(*name), std::make_unique<CSnmpOctetString>(std::string(text)));
  return trap;
}

bool SendSnmpTrap(std::string_view host, std::string_view text, std::string_view community,
                  std::string_view enterprise, int32_t generic, int32_t specific, std::string_view bindingName,
                  std::string_view messageAddress, uint16_t port) {
  const std::string& localAddress = LocalAddressText();
  const std::string_view agentAddress = messageAddress == "127.0.0.1" ? std::string_view(localAddress) : messageAddress;
  const auto trap = BuildSnmpTrap(text, community, enterprise, generic, specific, bindingName, agentAddress);
  if (!trap) return false;
  CSnmpEndpoint endpoint(port, kSendTimeoutSeconds, host);
  endpoint.Send(*trap);
  return true;
}

}  // namespace qv
