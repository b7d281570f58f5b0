// qvloadgen: an evenly paced syslog sender for throughput measurements.
//
//   qvloadgen --port P --rate R --seconds S [--host 127.0.0.1] [--size 150] [--first N]
//   qvloadgen --port P --burst N [--host 127.0.0.1] [--size 150] [--first N]
//
// Sends R messages per second for S seconds, in batches of 16 (sendmmsg) released on a fixed
// schedule, so that the receiver sees a steady rate instead of an opening burst; or, with
// --burst, N messages as fast as the sender can, to see what a receiver loses in a flood. Each
// message is an RFC 3164 line of exactly --size bytes carrying "qvbench seq=<n>", numbered from
// --first. Only loopback destinations are accepted. Prints the count sent and the rate achieved.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr unsigned kBatch = 16;

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Waits until the monotonic clock reaches `deadline`: sleeps while far, spins when close, since
// at high rates the gap between batches is shorter than the sleep granularity.
void WaitUntil(double deadline) {
  for (double left = deadline - Now(); left > 0; left = deadline - Now()) {
    if (left > 300e-6) {
      const double nap = left - 200e-6;
      timespec t{static_cast<time_t>(nap), static_cast<long>((nap - static_cast<double>(static_cast<time_t>(nap))) * 1e9)};
      nanosleep(&t, nullptr);
    }
  }
}

std::string Message(unsigned long seq, std::size_t size) {
  char head[96];
  std::snprintf(head, sizeof head, "<134>Dec  7 21:00:00 loadgen qvbench seq=%010lu ", seq);
  std::string text = head;
  text.resize(size > text.size() ? size : text.size(), 'x');
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  double rate = 0;
  double seconds = 0;
  std::size_t size = 150;
  unsigned long first = 1;
  unsigned long burst = 0;
  std::string host = "127.0.0.1";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--port") port = std::atoi(value);
    else if (option == "--rate") rate = std::atof(value);
    else if (option == "--seconds") seconds = std::atof(value);
    else if (option == "--size") size = static_cast<std::size_t>(std::atol(value));
    else if (option == "--first") first = std::strtoul(value, nullptr, 10);
    else if (option == "--host") host = value;
    else if (option == "--burst") burst = std::strtoul(value, nullptr, 10);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  const bool paced = burst == 0;
  const bool badLoad = paced ? (rate <= 0 || seconds <= 0 || seconds > 60) : burst > 100'000'000;
  if (port <= 0 || badLoad || inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1 ||
      (ntohl(to.sin_addr.s_addr) >> 24) != 127) {
    std::fprintf(stderr,
                 "usage: qvloadgen --port P (--rate R --seconds S (at most 60) | --burst N) [--host 127.x.x.x] "
                 "[--size N] [--first N]\n");
    return 2;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    std::perror("qvloadgen: socket");
    return 1;
  }
  const unsigned long total = paced ? static_cast<unsigned long>(rate * seconds) : burst;
  std::vector<std::string> texts(kBatch);
  std::vector<iovec> iov(kBatch);
  std::vector<mmsghdr> headers(kBatch);
  const double start = Now();
  unsigned long sent = 0;
  while (sent < total) {
    if (paced) WaitUntil(start + static_cast<double>(sent) / rate);
    const unsigned count = static_cast<unsigned>(std::min<unsigned long>(kBatch, total - sent));
    for (unsigned i = 0; i < count; ++i) {
      texts[i] = Message(first + sent + i, size);
      iov[i] = {texts[i].data(), texts[i].size()};
      headers[i] = {};
      headers[i].msg_hdr.msg_iov = &iov[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
    unsigned done = 0;
    while (done < count) {
      const int n = sendmmsg(fd, headers.data() + done, count - done, 0);
      if (n < 0 && errno != EINTR && errno != ENOBUFS && errno != EAGAIN) {
        std::perror("qvloadgen: sendmmsg");
        return 1;
      }
      if (n > 0) done += static_cast<unsigned>(n);
    }
    sent += count;
  }
  const double elapsed = Now() - start;
  std::printf("sent %lu in %.3f s (%.0f/s)\n", sent, elapsed, static_cast<double>(sent) / elapsed);
  close(fd);
  return 0;
}
