#include "reception/tcp_forwarder.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "core/message/syslog_message.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstRetry = 1s;
constexpr std::chrono::milliseconds kLongestRetry = 30s;
constexpr int kConnectTimeoutMs = 3000;
constexpr int kSendTimeoutSeconds = 2;

// "host:port" or "[v6]:port" split; false when the host or a port 1..65535 is missing.
bool SplitHostPort(std::string_view hostPort, std::string* host, std::string* port) {
  const std::size_t colon = hostPort.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = hostPort.substr(0, colon);
  const std::string_view digits = hostPort.substr(colon + 1);
  int number = 0;
  const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (parsed.ec != std::errc() || parsed.ptr != digits.data() + digits.size() || number < 1 || number > 65535) {
    return false;
  }
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  host->assign(name);
  port->assign(digits);
  return !host->empty();
}

// A connected blocking socket (sends limited in time) to one of the host's addresses, or -1.
int ConnectTo(const std::string& host, const std::string& port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return -1;
  int connected = -1;
  for (addrinfo* each = found; each != nullptr && connected < 0; each = each->ai_next) {
    const int fd = socket(each->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    bool ok = connect(fd, each->ai_addr, each->ai_addrlen) == 0;
    if (!ok && errno == EINPROGRESS) {
      pollfd watched{fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof error;
      ok = poll(&watched, 1, kConnectTimeoutMs) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
           error == 0;
    }
    const timeval limit{kSendTimeoutSeconds, 0};
    if (ok) {
      ok = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
    }
    if (ok) {
      connected = fd;
    } else {
      close(fd);
    }
  }
  freeaddrinfo(found);
  return connected;
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace

// One destination: its queue and the thread that empties it.
class CTcpForwarder::Destination {
 public:
  Destination(std::string host, std::string port, std::size_t maxBytes)
      : host_(std::move(host)), port_(std::move(port)), maxBytes_(maxBytes), thread_([this] { Run(); }) {}
  ~Destination() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  // Queues the frame, dropping the oldest ones as needed; returns how many frames were dropped
  // since the last call (also by the sending thread).
  uint64_t Queue(std::string frame) {
    uint64_t dropped = 0;
    {
      const std::lock_guard lock(mutex_);
      while (!queue_.empty() && bytes_ + frame.size() > maxBytes_) {
        bytes_ -= queue_.front().size();
        queue_.pop_front();
        ++dropped_;
      }
      if (frame.size() <= maxBytes_) {
        bytes_ += frame.size();
        queue_.push_back(std::move(frame));
      } else {
        ++dropped_;
      }
      dropped = dropped_;
      dropped_ = 0;
    }
    wake_.notify_one();
    return dropped;
  }

  std::size_t queuedBytes() {
    const std::lock_guard lock(mutex_);
    return bytes_;
  }

 private:
  void Run() {
    int fd = -1;
    std::chrono::milliseconds retry = kFirstRetry;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (queue_.empty()) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        continue;
      }
      // Taken out while it is sent, so that Queue may drop the oldest lines meanwhile.
      std::string frame = std::move(queue_.front());
      queue_.pop_front();
      bytes_ -= frame.size();
      lock.unlock();
      if (fd < 0) fd = ConnectTo(host_, port_);
      const bool sent = fd >= 0 && SendAll(fd, frame);
      lock.lock();
      if (sent) {
        retry = kFirstRetry;
        continue;
      }
      if (bytes_ + frame.size() <= maxBytes_) {
        bytes_ += frame.size();
        queue_.push_front(std::move(frame));  // first again on the next connection
      } else {
        ++dropped_;  // newer lines filled its room meanwhile
      }
      if (fd >= 0) close(fd);
      fd = -1;
      wake_.wait_for(lock, retry, [this] { return stopping_; });
      retry = std::min(retry * 2, kLongestRetry);
    }
    if (fd >= 0) close(fd);
  }

  const std::string host_;
  const std::string port_;
  const std::size_t maxBytes_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  std::size_t bytes_ = 0;    // of the frames in queue_
  uint64_t dropped_ = 0;     // since Queue last returned the count
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything above exists
};

CTcpForwarder::CTcpForwarder() : CTcpForwarder(Report{}, Options{}) {}
CTcpForwarder::CTcpForwarder(Report report) : CTcpForwarder(std::move(report), Options{}) {}
CTcpForwarder::CTcpForwarder(Report report, Options options)
    : report_(std::move(report)), options_(options), throttle_(options.reportInterval) {}
CTcpForwarder::~CTcpForwarder() = default;

std::size_t CTcpForwarder::queuedBytes() const {
  std::size_t bytes = 0;
  for (const auto& [name, destination] : destinations_) bytes += destination->queuedBytes();
  return bytes;
}

void CTcpForwarder::Say(const std::string& destination, uint64_t dropped, bool more) {
  if (!report_) return;
  report_("Send to another Syslog server: " + std::to_string(dropped) + (more ? " more" : "") + " lines for " +
          std::string(kScheme) + destination + " were dropped, oldest first: the destination does not take them " +
          "and its queue of " + std::to_string(options_.maxBytes / 1024) + " KiB is full; check that it runs");
}

void CTcpForwarder::ReportHeldBack() {
  for (const auto& [destination, count] : throttle_.TakeDue()) Say(destination, count, true);
}

void CTcpForwarder::Forward(std::string_view target, const SyslogMessage& record) {
  if (!Handles(target)) return;
  const std::string_view hostPort = target.substr(kScheme.size());
  auto found = destinations_.find(hostPort);
  if (found == destinations_.end()) {
    std::string host, port;
    if (!SplitHostPort(hostPort, &host, &port)) return;
    found = destinations_.emplace(std::string(hostPort), std::make_unique<Destination>(host, port, options_.maxBytes))
                .first;
  }
  const std::string line = record.FormatSyslogLine();
  const uint64_t dropped = found->second->Queue(std::to_string(line.size()) + " " + line);
  for (uint64_t i = 0; i < dropped; ++i) {
    if (const auto count = throttle_.Count(found->first)) Say(found->first, *count, false);
  }
}

}  // namespace qv
