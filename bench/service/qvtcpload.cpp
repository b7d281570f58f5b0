// qvtcpload: a syslog-over-TCP sender for throughput measurements.
//
//   qvtcpload --port P --connections C --messages N [--host 127.0.0.1] [--size 150]
//
// Opens C connections and sends N messages in all, spread evenly over them, as fast as the
// receiver takes them (TCP pushes back; nothing is lost). Each message is an RFC 3164 line of
// exactly --size bytes carrying "qvbench seq=<n>", ended by a line feed. The connections are
// served round-robin from one thread, 64 messages at a time each. Only loopback destinations
// are accepted. Prints the count sent and the time it took.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr unsigned long kPerTurn = 64;

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string Message(unsigned long seq, std::size_t size) {
  char head[96];
  std::snprintf(head, sizeof head, "<134>Dec  7 21:00:00 loadgen qvbench seq=%010lu ", seq);
  std::string text = head;
  text.resize(size > text.size() + 1 ? size - 1 : text.size(), 'x');
  return text + '\n';
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  unsigned long connections = 1;
  unsigned long messages = 0;
  std::size_t size = 150;
  std::string host = "127.0.0.1";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--port") port = std::atoi(value);
    else if (option == "--connections") connections = std::strtoul(value, nullptr, 10);
    else if (option == "--messages") messages = std::strtoul(value, nullptr, 10);
    else if (option == "--size") size = static_cast<std::size_t>(std::atol(value));
    else if (option == "--host") host = value;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  if (port <= 0 || connections < 1 || connections > 1000 || messages < 1 || messages > 10000000 ||
      inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1 || (ntohl(to.sin_addr.s_addr) >> 24) != 127) {
    std::fprintf(stderr, "usage: qvtcpload --port P --connections C (1..1000) --messages N [--host 127.x.x.x]\n");
    return 2;
  }
  std::vector<int> fds;
  for (unsigned long c = 0; c < connections; ++c) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
      std::perror("qvtcpload: connect");
      return 1;
    }
    fds.push_back(fd);
  }
  const double start = Now();
  unsigned long sent = 0;
  while (sent < messages) {
    for (int fd : fds) {
      std::string batch;
      for (unsigned long i = 0; i < kPerTurn && sent < messages; ++i) batch += Message(++sent, size);
      if (!batch.empty() && !SendAll(fd, batch)) {
        std::perror("qvtcpload: send");
        return 1;
      }
    }
  }
  for (int fd : fds) close(fd);
  const double elapsed = Now() - start;
  std::printf("sent %lu in %.3f s (%.0f/s)\n", sent, elapsed, static_cast<double>(sent) / elapsed);
  return 0;
}
