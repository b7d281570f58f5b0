#pragma once
// A network namespace of the test's own: the calling process moves into a new namespace that
// has nothing but its own loopback interface, brought up. Echo requests and everything else sent
// there never reach another machine, and the namespace's settings (a host that ignores echo, the
// group range allowed to open ICMP datagram sockets) can be changed without touching the
// machine's own.
//
// Needs root (CAP_SYS_ADMIN); Enter returns false elsewhere and the test should skip. Entering
// is done once per process and must happen before the test starts other threads, which then
// inherit the namespace.

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace qv::testing {

class OwnNetworkNamespace {
 public:
  static bool Enter() {
    static const bool entered = EnterOnce();
    return entered;
  }

  // The namespace's loopback stops (or starts again) answering echo requests.
  static bool IgnoreEcho(bool ignore) { return WriteSetting("/proc/sys/net/ipv4/icmp_echo_ignore_all", ignore ? "1" : "0"); }

  // Gives the namespace's loopback interface one more address (as the alias "lo:<n>"), for
  // example a documentation address that stands for a sender on another machine.
  static bool AddLoopbackAddress(const char* dottedAddress, int alias = 1) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::snprintf(request.ifr_name, IFNAMSIZ, "lo:%d", alias);
    auto* address = reinterpret_cast<sockaddr_in*>(&request.ifr_addr);
    address->sin_family = AF_INET;
    const bool added = inet_pton(AF_INET, dottedAddress, &address->sin_addr) == 1 && ioctl(fd, SIOCSIFADDR, &request) == 0;
    close(fd);
    return added;
  }

  // Lets every group open ICMP datagram sockets (or nobody, the default of a new namespace).
  static bool AllowDatagramPing(bool allow) {
    return WriteSetting("/proc/sys/net/ipv4/ping_group_range", allow ? "0 2147483647" : "1 0");
  }

 private:
  static bool EnterOnce() {
    if (unshare(CLONE_NEWNET) != 0) return false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up;
  }

  static bool WriteSetting(const char* path, const std::string& value) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    close(fd);
    return written;
  }
};

}  // namespace qv::testing
