#include "viewerlink/viewer_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "reception/tls_session.h"
#include "viewerlink/viewer_certificates.h"
#include "viewerlink/viewer_protocol.h"
#include "viewerlink/viewer_queue.h"

namespace qv {

struct CViewerServer::Connection {
  enum class State { kHandshake, kRequest, kAwaitingBackfill, kStreaming, kRefused };

  uint64_t id = 0;  // never reused, unlike the descriptor
  int fd = -1;
  std::string peer;  // "address port N", for reports
  std::unique_ptr<CTlsSession> tls;
  State state = State::kHandshake;
  std::string request;
  std::string pending;  // being written; offered again as it is after a wait
  std::size_t written = 0;  // of pending
  std::string backfill;     // frames of the history still to send
  std::size_t backfillSent = 0;
  CViewerQueue queue{kViewerQueueBytes};
  bool watchingWrite = false;
  std::chrono::steady_clock::time_point accepted = std::chrono::steady_clock::now();
};

namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string Peer(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return std::string(text) + " port " + std::to_string(ntohs(address.sin_port));
}

std::string Frame(std::string_view text) {
  std::string frame;
  AppendViewerFrame(frame, MakeLocalRecord(text, 4, "127.0.0.1").FormatRecordLine());
  return frame;
}

}  // namespace

ViewerLinkSettings ViewerLinkSettings::Read() {
  const CSettingsStore& store = AppSettings();
  ViewerLinkSettings settings;
  settings.port = store.GetInt("Settings", "viewerport", 0);
  settings.certificate = store.GetString("Settings", "viewercert", "");
  settings.key = store.GetString("Settings", "viewerkey", "");
  settings.ca = store.GetString("Settings", "viewerca", "");
  settings.maxBackfill = static_cast<uint32_t>(std::max(store.GetInt("Settings", "maxsize", 100000), 0));
  return settings;
}

CViewerServer::CViewerServer(CSyslogSink& reporter, const ViewerLinkSettings& settings, BackfillSource backfill)
    : reporter_(reporter), backfill_(std::move(backfill)), maxBackfill_(settings.maxBackfill) {
  const std::string cannot = "Viewer link: cannot serve viewers on TCP port " + std::to_string(settings.port) + ": ";
  ViewerCertificateFiles ca{settings.ca, ""};
  ViewerCertificateFiles own{settings.certificate, settings.key};
  std::string why;
  if (settings.ca.empty() && !EnsureViewerCa(&ca, &why)) {
    failure_ = cannot + why;
    return;
  }
  if ((settings.certificate.empty() || settings.key.empty()) && !EnsureViewerServerCertificate(&own, &why)) {
    failure_ = cannot + why;
    return;
  }
  tls_ = CTlsServerContext::Create(own.certificate, own.key, ca.certificate, &why);
  if (!tls_) {
    failure_ = cannot + why + " (settings \"viewercert\", \"viewerkey\", \"viewerca\")";
    return;
  }
  // Records are written as the socket takes them, a TLS record at a time.
  SSL_CTX_set_mode(tls_->get(), SSL_MODE_ENABLE_PARTIAL_WRITE);

  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(settings.port));
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  const int on = 1;
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  flushTimer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  threadWake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ownerWake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  const itimerspec everySecond{{1, 0}, {1, 0}};
  if (settings.port < 0 || settings.port > 65535 || listener_ < 0 || epoll_ < 0 || timer_ < 0 || flushTimer_ < 0 ||
      threadWake_ < 0 || ownerWake_ < 0 ||
      setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(listener_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(listener_, 64) != 0 ||
      timerfd_settime(timer_, 0, &everySecond, nullptr) != 0) {
    failure_ = cannot + std::strerror(settings.port < 0 || settings.port > 65535 ? EINVAL : errno);
    return;
  }
  for (int fd : {listener_, timer_, flushTimer_, threadWake_}) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
  }
  thread_ = std::thread([this] { Run(); });
}

CViewerServer::~CViewerServer() {
  if (thread_.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      HandOverLines(handOver_);
      handOver_.stop = true;
    }
    Wake(threadWake_);
    thread_.join();
  }
  for (auto& entry : connections_) {
    entry.second->tls.reset();
    close(entry.first);
  }
  for (int fd : {listener_, timer_, flushTimer_, threadWake_, ownerWake_, epoll_}) {
    if (fd >= 0) close(fd);
  }
}

void CViewerServer::HandOver::Clear() {
  lines.clear();
  sizes.clear();
  marks.clear();
  sendNow = stop = woken = false;
}

void CViewerServer::Wake(int descriptor) {
  const uint64_t one = 1;
  // A full counter (never, in practice) is still readable: the wake is not lost.
  if (write(descriptor, &one, sizeof one) < 0) return;
}

void CViewerServer::HandOverLines(HandOver& into) {
  if (outgoing_.sizes.empty()) return;
  if (into.lines.size() + outgoing_.lines.size() > kMaxHandOverBytes) {
    // The link's thread has fallen far behind: these lines are lost for every viewer, who is told.
    if (into.marks.empty() || into.marks.back().position != into.sizes.size() || into.marks.back().connection != 0) {
      into.marks.push_back({into.sizes.size(), 0, {}, 0});
    }
    into.marks.back().dropped += outgoing_.sizes.size();
  } else if (into.sizes.empty()) {
    std::swap(into.lines, outgoing_.lines);  // the usual case: nothing waits, no copy
    std::swap(into.sizes, outgoing_.sizes);
  } else {
    into.lines += outgoing_.lines;
    into.sizes.insert(into.sizes.end(), outgoing_.sizes.begin(), outgoing_.sizes.end());
  }
  outgoing_.lines.clear();
  outgoing_.sizes.clear();
}

void CViewerServer::Publish(std::string_view recordLine) {
  if (started_.load(std::memory_order_relaxed) == 0) return;
  outgoing_.lines.append(recordLine);
  outgoing_.sizes.push_back(static_cast<uint32_t>(recordLine.size()));
}

void CViewerServer::Flush(bool now) {
  if (!thread_.joinable() || (outgoing_.sizes.empty() && !now)) return;
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    HandOverLines(handOver_);
    handOver_.sendNow = handOver_.sendNow || now;
    wake = !handOver_.woken || now;
    handOver_.woken = true;
  }
  if (wake) Wake(threadWake_);
}

void CViewerServer::OnReceive() {
  uint64_t count = 0;
  if (ownerWake_ < 0 || read(ownerWake_, &count, sizeof count) < 0) return;
  std::vector<std::string> toSay;
  std::vector<BackfillRequest> requests;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    toSay.swap(toSay_);
    requests.swap(requests_);
  }
  for (const std::string& text : toSay) reporter_.OnLocalMessage(text);
  if (requests.empty()) return;
  for (const BackfillRequest& request : requests) {
    // The owner writes what it accepted before it reads: the lines published so far are in the
    // tail, and the ones handed over later follow it.
    std::string tail = backfill_(request.lines);
    started_.fetch_add(1, std::memory_order_relaxed);
    const std::lock_guard<std::mutex> lock(mutex_);
    HandOverLines(handOver_);
    handOver_.marks.push_back({handOver_.sizes.size(), request.connection, std::move(tail), 0});
    handOver_.sendNow = true;
    handOver_.woken = true;
  }
  Wake(threadWake_);
}

int32_t CViewerServer::boundPort() const {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (listener_ < 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

void CViewerServer::Report(const std::string& kind, const std::string& text) {
  if (const auto count = reports_.Count(kind)) {
    heldBack_.erase(kind);
    Say(text + (*count > 1 ? " (" + std::to_string(*count) + " times since the last report)" : ""));
  } else {
    heldBack_[kind] = text;
  }
}

void CViewerServer::Say(std::string text) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    toSay_.push_back(std::move(text));
  }
  Wake(ownerWake_);
}

void CViewerServer::Watch(const Connection& connection, bool writable) {
  epoll_event event{};
  event.events = EPOLLIN | (writable ? EPOLLOUT : 0u);
  event.data.fd = connection.fd;
  epoll_ctl(epoll_, EPOLL_CTL_MOD, connection.fd, &event);
}

void CViewerServer::Run() {
  std::array<epoll_event, 32> events{};
  for (;;) {
    const int ready = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), -1);
    for (int i = 0; i < ready; ++i) {
      const epoll_event& event = events[static_cast<std::size_t>(i)];
      if (event.data.fd == listener_) {
        Accept();
      } else if (event.data.fd == timer_) {
        OnTimer();
      } else if (event.data.fd == flushTimer_) {
        uint64_t expirations = 0;
        if (read(flushTimer_, &expirations, sizeof expirations) >= 0) flushArmed_ = false;
        TakeHandOver();
        SendAll();
      } else if (event.data.fd == threadWake_) {
        uint64_t count = 0;
        if (read(threadWake_, &count, sizeof count) < 0) continue;
        bool now = false, stop = false;
        {
          const std::lock_guard<std::mutex> lock(mutex_);
          now = handOver_.sendNow;
          stop = handOver_.stop;
        }
        if (!now && !stop) {
          ArmFlush();
          continue;
        }
        TakeHandOver();
        SendAll();
        if (stop) return;
      } else if (const auto found = connections_.find(event.data.fd); found != connections_.end()) {
        Serve(*found->second, event.events);
      }
    }
  }
}

void CViewerServer::TakeHandOver() {
  taken_.Clear();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::swap(taken_, handOver_);
    handOver_.stop = taken_.stop;  // a stop stays asked for
  }
  std::size_t mark = 0, offset = 0;
  const auto marksAt = [&](std::size_t position) {
    for (; mark < taken_.marks.size() && taken_.marks[mark].position == position; ++mark) {
      Mark& happened = taken_.marks[mark];
      if (happened.connection != 0) {
        StartStreaming(happened);
        continue;
      }
      for (auto& entry : connections_) {
        if (entry.second->state == Connection::State::kStreaming) entry.second->queue.CountDropped(happened.dropped);
      }
    }
  };
  for (std::size_t line = 0; line < taken_.sizes.size(); ++line) {
    marksAt(line);
    const std::string_view recordLine(taken_.lines.data() + offset, taken_.sizes[line]);
    offset += taken_.sizes[line];
    frame_.clear();
    AppendViewerFrame(frame_, recordLine);  // once for all viewers
    for (auto& entry : connections_) {
      if (entry.second->state == Connection::State::kStreaming) entry.second->queue.PushFrame(frame_);
    }
  }
  marksAt(taken_.sizes.size());
}

void CViewerServer::StartStreaming(Mark& start) {
  for (auto& entry : connections_) {
    Connection& connection = *entry.second;
    if (connection.id != start.connection || connection.state != Connection::State::kAwaitingBackfill) continue;
    connection.backfill.clear();
    const std::string& tail = start.tail;
    for (std::size_t begin = 0; begin < tail.size();) {
      const std::size_t end = std::min(tail.find('\n', begin), tail.size() - 1);
      AppendViewerFrame(connection.backfill, std::string_view(tail).substr(begin, end + 1 - begin));
      begin = end + 1;
    }
    connection.state = Connection::State::kStreaming;
    return;
  }
  started_.fetch_sub(1, std::memory_order_relaxed);  // it closed while its backfill was read
}

void CViewerServer::Accept() {
  for (std::size_t i = 0; i < kMaxWaiting; ++i) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) {
        Report("descriptors", "Viewer link: cannot accept a viewer: " + std::string(std::strerror(errno)));
      }
      return;
    }
    if (connections_.size() - served_ >= kMaxWaiting) {
      close(fd);
      Report("waiting", "Viewer link: refused a connection from " + Peer(peer) + ": " + std::to_string(kMaxWaiting) +
                            " connections are still in their handshake or request");
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->id = nextConnection_++;
    connection->fd = fd;
    connection->peer = Peer(peer);
    connection->tls = std::make_unique<CTlsSession>(*tls_, fd);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    Connection& served = *connection;
    connections_.emplace(fd, std::move(connection));
    Serve(served, EPOLLIN);  // the client's hello may be here already
  }
}

void CViewerServer::Serve(Connection& connection, uint32_t events) {
  if (connection.state == Connection::State::kHandshake) {
    const CTlsSession::Status status = connection.tls->Handshake();
    if (status == CTlsSession::Status::kWantRead || status == CTlsSession::Status::kWantWrite) {
      Watch(connection, status == CTlsSession::Status::kWantWrite);
      return;
    }
    if (status != CTlsSession::Status::kReady) {
      Report("handshake", "Viewer link: refused a viewer from " + connection.peer + ": " + connection.tls->failure() +
                              " (only viewers with a certificate from the viewers' CA are served; make one with "
                              "`qvreg viewer-cert NAME`)");
      Close(connection.fd);
      return;
    }
    connection.state = Connection::State::kRequest;
    Watch(connection, false);
  }
  if (connection.state == Connection::State::kRequest) {
    if (!ReadRequest(connection)) return;
  } else if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) {
    // A streaming client sends nothing more: what comes is read and let go, its end noticed.
    char discard[4096];
    CTlsSession::Status status = CTlsSession::Status::kReady;
    for (int reads = 0; reads < 4 && connection.tls->Read(discard, sizeof discard, &status) > 0; ++reads) {
    }
    if (status == CTlsSession::Status::kClosed || status == CTlsSession::Status::kFailed) {
      Close(connection.fd);
      return;
    }
  }
  if (connection.state != Connection::State::kRequest) Send(connection);
}

bool CViewerServer::ReadRequest(Connection& connection) {
  char bytes[kMaxRequestBytes];
  CTlsSession::Status status = CTlsSession::Status::kReady;
  // One byte at a time up to the line end: nothing after the request belongs to it.
  while (connection.request.size() < kMaxRequestBytes) {
    if (connection.tls->Read(bytes, 1, &status) != 1) break;
    if (bytes[0] == '\n') {
      const auto lines = ParseBackfillRequest(connection.request);
      if (!lines) break;
      if (served_ >= kMaxViewers) {
        Report("full", "Viewer link: refused a viewer from " + connection.peer + ": " + std::to_string(kMaxViewers) +
                           " viewers are served, the most there may be");
        connection.state = Connection::State::kRefused;
        connection.pending = Frame("Viewer link: the service serves " + std::to_string(kMaxViewers) +
                                   " viewers already, the most it serves; try again later");
        return true;
      }
      // The owner reads the backfill; the stream starts when it comes back (StartStreaming).
      connection.state = Connection::State::kAwaitingBackfill;
      ++served_;
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({connection.id, std::min(*lines, maxBackfill_)});
      }
      Wake(ownerWake_);
      return true;
    }
    connection.request += bytes[0];
  }
  if (status == CTlsSession::Status::kWantRead || status == CTlsSession::Status::kWantWrite) {
    if (connection.request.size() < kMaxRequestBytes) return false;
  }
  if (status != CTlsSession::Status::kClosed) {
    Report("request", "Viewer link: refused a viewer from " + connection.peer +
                          ": its request was not \"backfill N\" followed by a line end");
  }
  Close(connection.fd);
  return false;
}

bool CViewerServer::Send(Connection& connection) {
  std::size_t budget = kWriteBudget;
  while (budget > 0) {
    if (connection.written == connection.pending.size()) {
      connection.pending.clear();
      connection.written = 0;
      if (connection.backfillSent < connection.backfill.size()) {
        const std::size_t take = std::min(kChunk, connection.backfill.size() - connection.backfillSent);
        connection.pending.assign(connection.backfill, connection.backfillSent, take);
        connection.backfillSent += take;
        if (connection.backfillSent == connection.backfill.size()) {
          std::string().swap(connection.backfill);
          connection.backfillSent = 0;
        }
      } else if (connection.state == Connection::State::kStreaming) {
        connection.queue.Take(connection.pending, kChunk);
      }
      if (connection.pending.empty()) {
        if (connection.state == Connection::State::kRefused) {
          Close(connection.fd);
          return false;
        }
        if (connection.watchingWrite) Watch(connection, false);
        connection.watchingWrite = false;
        return true;
      }
    }
    CTlsSession::Status status = CTlsSession::Status::kReady;
    const std::size_t count = connection.tls->Write(connection.pending.data() + connection.written,
                                                    connection.pending.size() - connection.written, &status);
    connection.written += count;
    budget -= std::min(budget, count);
    if (count == 0) {
      if (status == CTlsSession::Status::kClosed || status == CTlsSession::Status::kFailed) {
        Close(connection.fd);
        return false;
      }
      break;  // the socket is full: wait until it takes more
    }
  }
  // Data is left: the socket's readiness (or the budget's end) brings us back.
  if (!connection.watchingWrite) Watch(connection, true);
  connection.watchingWrite = true;
  return true;
}

void CViewerServer::ArmFlush() {
  if (flushArmed_) return;
  const auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(kFlushDelay).count();
  const itimerspec once{{0, 0}, {static_cast<time_t>(delay / 1000000000), static_cast<long>(delay % 1000000000)}};
  flushArmed_ = timerfd_settime(flushTimer_, 0, &once, nullptr) == 0;
  if (!flushArmed_) {
    TakeHandOver();
    SendAll();
  }
}

void CViewerServer::SendAll() {
  std::vector<int> fds;
  for (const auto& entry : connections_) {
    if (entry.second->state == Connection::State::kStreaming && !entry.second->watchingWrite) fds.push_back(entry.first);
  }
  // A viewer whose socket was full waits for writability; the others are written now.
  for (int fd : fds) {
    if (const auto found = connections_.find(fd); found != connections_.end()) Send(*found->second);
  }
}

void CViewerServer::Close(int fd) {
  const auto found = connections_.find(fd);
  if (found == connections_.end()) return;
  const Connection::State state = found->second->state;
  if (state == Connection::State::kAwaitingBackfill || state == Connection::State::kStreaming) --served_;
  // A connection awaiting its backfill is let go when its start comes (StartStreaming).
  if (state == Connection::State::kStreaming) started_.fetch_sub(1, std::memory_order_relaxed);
  epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  found->second->tls.reset();
  connections_.erase(found);
  close(fd);
}

void CViewerServer::OnTimer() {
  uint64_t expirations = 0;
  if (read(timer_, &expirations, sizeof expirations) < 0) return;
  const auto now = std::chrono::steady_clock::now();
  std::vector<int> overdue;
  for (const auto& [fd, connection] : connections_) {
    const bool waiting = connection->state == Connection::State::kHandshake ||
                         connection->state == Connection::State::kRequest;
    if (waiting && now - connection->accepted >= kRequestTime) overdue.push_back(fd);
  }
  for (int fd : overdue) {
    Report("late", "Viewer link: refused a viewer from " + connections_.at(fd)->peer + ": no handshake and request within " +
                       std::to_string(kRequestTime.count()) + " s");
    Close(fd);
  }
  for (const auto& [kind, count] : reports_.TakeDue(now)) {
    const auto held = heldBack_.find(kind);
    if (held == heldBack_.end()) continue;
    Say(held->second + (count > 1 ? " (" + std::to_string(count) + " times since the last report)" : ""));
    heldBack_.erase(held);
  }
}

}  // namespace qv
