#include "reception/stream_forwarder.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "core/message/record_formats.h"
#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "reception/syslog_socket.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kTcpScheme = "tcp://";
constexpr std::string_view kTlsScheme = "tls://";
constexpr std::chrono::milliseconds kFirstRetry = 1s;
constexpr std::chrono::milliseconds kLongestRetry = 30s;
// How often an idle connection is looked at for the server's end.
constexpr std::chrono::milliseconds kIdleLook = 500ms;
// Frames sent with one write, at most this many bytes (or one frame when it is longer).
constexpr std::size_t kBatchBytes = 64 * 1024;

struct Target {
  bool tls = false;
  bool rfc5424 = false;
  std::string host, port;
};

// "tcp://host:port" or "tls://[v6]:port", either possibly ending in "#5424"; false when the scheme,
// the host or a port 1..65535 is missing.
bool ParseTarget(std::string_view value, Target* target) {
  if (value.starts_with(kTlsScheme)) {
    target->tls = true;
  } else if (!value.starts_with(kTcpScheme)) {
    return false;
  }
  value.remove_prefix(kTcpScheme.size());
  target->rfc5424 = value.ends_with(kRfc5424Suffix);
  if (target->rfc5424) value.remove_suffix(kRfc5424Suffix.size());
  const std::size_t colon = value.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = value.substr(0, colon);
  const std::string_view digits = value.substr(colon + 1);
  int number = 0;
  const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (parsed.ec != std::errc() || parsed.ptr != digits.data() + digits.size() || number < 1 || number > 65535) {
    return false;
  }
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  target->host.assign(name);
  target->port.assign(digits);
  return !target->host.empty();
}

}  // namespace

// One destination: its queue and the thread that empties it.
class CStreamForwarder::Destination {
 public:
  // `tls` null with `setupError` set: a TLS destination whose context could not be made; its
  // attempts fail with that reason.
  Destination(Target target, std::size_t maxBytes, std::shared_ptr<CTlsClientContext> tls, std::string setupError)
      : target_(std::move(target)),
        maxBytes_(maxBytes),
        tls_(std::move(tls)),
        setupError_(std::move(setupError)),
        thread_([this] { Run(); }) {}
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

  bool rfc5424() const { return target_.rfc5424; }

  // Queues the frame, dropping the oldest ones as needed.
  void Queue(std::string frame) {
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
    }
    wake_.notify_one();
  }

  // The frames dropped since the last call, by Queue or by the sending thread.
  uint64_t TakeDropped() {
    const std::lock_guard lock(mutex_);
    return std::exchange(dropped_, 0);
  }

  // The failed connection attempts since the last call, and the reason of the newest;
  // `recovered` tells whether a connection was made after a failure since the last call.
  uint64_t TakeFailures(std::string* reason, bool* recovered) {
    const std::lock_guard lock(mutex_);
    *reason = lastFailure_;
    *recovered = std::exchange(recovered_, false);
    return std::exchange(failures_, 0);
  }

  std::size_t queuedBytes() {
    const std::lock_guard lock(mutex_);
    return bytes_;
  }

  // Frames queued or being sent.
  std::size_t unsent() {
    const std::lock_guard lock(mutex_);
    return queue_.size() + sending_;
  }

 private:
  void Run() {
    std::unique_ptr<CForwardConnection> connection;
    std::chrono::milliseconds retry = kFirstRetry;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (queue_.empty()) {
        if (!connection) {
          wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
          continue;
        }
        if (wake_.wait_for(lock, kIdleLook, [this] { return stopping_ || !queue_.empty(); })) continue;
        lock.unlock();
        if (connection->PeerClosed()) connection.reset();  // the server ends it: so do we
        lock.lock();
        continue;
      }
      // Taken out while they are sent, so that Queue may drop the oldest lines meanwhile.
      std::deque<std::string> batch;
      std::string bytes;
      while (!queue_.empty() && (bytes.empty() || bytes.size() + queue_.front().size() <= kBatchBytes)) {
        bytes += queue_.front();
        bytes_ -= queue_.front().size();
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      sending_ = batch.size();
      lock.unlock();
      std::string failure;
      if (connection && connection->PeerClosed()) connection.reset();
      if (!connection) connection = Connect(&failure);
      const bool sent = connection && connection->Send(bytes);
      if (!sent) connection.reset();
      lock.lock();
      sending_ = 0;
      if (sent) {
        retry = kFirstRetry;
        recovered_ = recovered_ || std::exchange(down_, false);
        continue;
      }
      if (!failure.empty()) {
        ++failures_;
        lastFailure_ = failure;
        down_ = true;
      }
      // First again on the next connection, as far as their room allows; the oldest go first.
      while (!batch.empty() && bytes_ + batch.back().size() <= maxBytes_) {
        bytes_ += batch.back().size();
        queue_.push_front(std::move(batch.back()));
        batch.pop_back();
      }
      dropped_ += batch.size();
      wake_.wait_for(lock, retry, [this] { return stopping_.load(); });
      retry = std::min(retry * 2, kLongestRetry);
    }
  }

  std::unique_ptr<CForwardConnection> Connect(std::string* failure) {
    if (target_.tls && !tls_) {
      *failure = setupError_;
      return nullptr;
    }
    return CForwardConnection::Open(target_.host, target_.port, tls_.get(), stopping_, failure);
  }

  const Target target_;
  const std::size_t maxBytes_;
  const std::shared_ptr<CTlsClientContext> tls_;
  const std::string setupError_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  std::size_t bytes_ = 0;    // of the frames in queue_
  std::size_t sending_ = 0;  // frames taken out to be sent
  uint64_t dropped_ = 0;     // since TakeDropped
  uint64_t failures_ = 0;  // failed connection attempts since TakeFailures
  std::string lastFailure_;
  bool down_ = false;       // the last connection attempt failed
  bool recovered_ = false;  // lines went out after a failure, since TakeFailures
  std::atomic<bool> stopping_{false};  // also read by waits inside a connection, without the lock
  std::thread thread_;                 // last: starts once everything above exists
};

CStreamForwarder::Options CStreamForwarder::Options::Read() {
  const CSettingsStore& store = AppSettings();
  Options options;
  const int32_t mebibytes = std::clamp(store.GetInt("Settings", "forwardqueue", 64), 1, 65536);
  options.maxBytes = static_cast<std::size_t>(mebibytes) * 1024 * 1024;
  options.tls.caPath = store.GetString("Settings", "forwardca", "");
  options.tls.certificatePath = store.GetString("Settings", "forwardcert", "");
  options.tls.keyPath = store.GetString("Settings", "forwardkey", "");
  return options;
}

CStreamForwarder::CStreamForwarder(Report report, Options options)
    : report_(std::move(report)), options_(std::move(options)), throttle_(options_.reportInterval) {}
CStreamForwarder::~CStreamForwarder() = default;

bool CStreamForwarder::Handles(std::string_view target) {
  return target.starts_with(kTcpScheme) || target.starts_with(kTlsScheme);
}

std::size_t CStreamForwarder::queuedBytes() const {
  std::size_t bytes = 0;
  for (const auto& [name, destination] : destinations_) bytes += destination->queuedBytes();
  return bytes;
}

std::shared_ptr<CTlsClientContext> CStreamForwarder::TlsContext() {
  if (!tlsTried_) {
    tlsTried_ = true;
    tls_ = CTlsClientContext::Create(options_.tls, &tlsError_);
  }
  return tls_;
}

void CStreamForwarder::SayDropped(const std::string& name, uint64_t dropped, bool more) {
  if (!report_) return;
  report_("Send to another Syslog server: " + std::to_string(dropped) + (more ? " more" : "") + " lines for " + name +
          " were dropped, oldest first: the destination does not take them and its queue of " +
          std::to_string(options_.maxBytes / 1024) + " KiB (setting \"forwardqueue\") is full; check that it runs");
}

void CStreamForwarder::SayFailure(const std::string& name, const std::string& reason, uint64_t count) {
  saidDown_.insert(name);
  if (!report_) return;
  report_("Send to another Syslog server: cannot connect to " + name + ": " + reason +
          (count > 1 ? " (" + std::to_string(count) + " attempts since the last report)" : "") +
          "; its lines wait and are sent once it answers");
}

void CStreamForwarder::TakeReports(const std::string& name, Destination& destination) {
  if (const uint64_t dropped = destination.TakeDropped(); dropped > 0) {
    if (const auto count = throttle_.Count(name, dropped)) SayDropped(name, *count, false);
  }
  std::string reason;
  bool recovered = false;
  if (const uint64_t failures = destination.TakeFailures(&reason, &recovered); failures > 0) {
    lastFailure_[name] = reason;
    if (const auto count = throttle_.Count("connect " + name, failures)) SayFailure(name, reason, *count);
  }
  // The end of an outage is said when its start was.
  if (recovered && saidDown_.erase(name) > 0 && report_) {
    report_("Send to another Syslog server: connected to " + name + " again; the lines that waited are sent");
  }
}

void CStreamForwarder::ReportHeldBack() { SayHeldBack(CReportThrottle::Clock::now()); }

void CStreamForwarder::SayHeldBack(CReportThrottle::Clock::time_point now) {
  for (const auto& [name, destination] : destinations_) TakeReports(name, *destination);
  constexpr std::string_view kConnect = "connect ";
  for (const auto& [kind, count] : throttle_.TakeDue(now)) {
    if (kind.starts_with(kConnect)) {
      const std::string name = kind.substr(kConnect.size());
      SayFailure(name, lastFailure_[name], count);
    } else {
      SayDropped(kind, count, true);
    }
  }
}

uint64_t CStreamForwarder::Finish(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  const auto unsent = [this] {
    uint64_t count = 0;
    for (const auto& [name, destination] : destinations_) count += destination->unsent();
    return count;
  };
  while (unsent() > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
  SayHeldBack(CReportThrottle::Clock::now() + options_.reportInterval);  // all of it: there is no later
  uint64_t lost = 0;
  for (const auto& [name, destination] : destinations_) {
    const uint64_t left = destination->unsent();
    lost += left;
    if (left > 0 && report_) {
      report_("Send to another Syslog server: " + std::to_string(left) + " lines for " + name +
              " were not sent before the program stopped and are lost");
    }
  }
  return lost;
}

void CStreamForwarder::Forward(std::string_view target, const SyslogMessage& record) {
  auto found = destinations_.find(target);
  if (found == destinations_.end()) {
    Target parsed;
    if (!ParseTarget(target, &parsed)) return;
    std::shared_ptr<CTlsClientContext> tls = parsed.tls ? TlsContext() : nullptr;
    auto destination = std::make_unique<Destination>(std::move(parsed), options_.maxBytes, std::move(tls), tlsError_);
    found = destinations_.emplace(std::string(target), std::move(destination)).first;
  }
  Destination& destination = *found->second;
  const std::string line = destination.rfc5424() ? FormatRfc5424Line(record) : record.FormatSyslogLine();
  destination.Queue(std::to_string(line.size()) + " " + line);
  TakeReports(found->first, destination);
}

}  // namespace qv
