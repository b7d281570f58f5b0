#include "ui/remote/remote_reception.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "viewerlink/viewer_protocol.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kHandshakeTime{10};

struct FreeContext {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct FreeSsl {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

std::string OpenSslError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::string Fingerprint(X509* certificate) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest.data(), &size) != 1) return "";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i + 1 < size ? "%02X:" : "%02X", digest[i]);
    text += byte;
  }
  return text;
}

bool IsAddress(const std::string& host) {
  in6_addr any{};
  return inet_pton(AF_INET, host.c_str(), &any) == 1 || inet_pton(AF_INET6, host.c_str(), &any) == 1;
}

// A blocking TCP connection with reads and writes that time out after a second; -1 and `error`.
// Each socket is shown to `hold` before it connects (false: stop now), so a stop can end a
// connect that waits.
int Dial(const RemoteTarget& target, const std::function<bool(int)>& hold, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(target.port);
  if (const int failed = getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found); failed != 0) {
    *error = std::string("cannot find the host: ") + gai_strerror(failed);
    return -1;
  }
  int fd = -1;
  *error = "cannot connect";
  for (addrinfo* each = found; each != nullptr && fd < 0; each = each->ai_next) {
    fd = socket(each->ai_family, each->ai_socktype | SOCK_CLOEXEC, each->ai_protocol);
    if (fd < 0) continue;
    if (!hold(fd)) {
      close(fd);
      fd = -1;
      *error = "stopped";
      break;
    }
    const timeval connectTime{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &connectTime, sizeof connectTime);
    if (connect(fd, each->ai_addr, each->ai_addrlen) != 0) {
      *error = std::string("cannot connect: ") + std::strerror(errno);
      hold(-1);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd >= 0) {
    const timeval second{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
  }
  return fd;
}

}  // namespace

bool ParseRemoteAddress(const std::string& text, std::string* host, int32_t* port) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon > 6) return false;
  std::string name = text.substr(0, colon);
  if (name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  if (name.empty() || name.find_first_of(" /[]") != std::string::npos) return false;
  int32_t number = 0;
  for (char c : text.substr(colon + 1)) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (number < 1 || number > 65535) return false;
  *host = name;
  *port = number;
  return true;
}

CRemoteReception::CRemoteReception(RemoteTarget target, std::function<void()> wake)
    : target_(std::move(target)), wake_(wake), handOver_(kMaxWaiting, std::move(wake)) {
  status_ = "Connecting to " + target_.host + ":" + std::to_string(target_.port) + "...";
}

CRemoteReception::~CRemoteReception() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
    if (socket_ >= 0) shutdown(socket_, SHUT_RDWR);
  }
  stopped_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CRemoteReception::Start() {
  // A service gone meanwhile must cost a write its EPIPE, not the program its life.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
  thread_ = std::thread([this] { Run(); });
}

CRemoteReception::State CRemoteReception::state() const {
  const std::lock_guard lock(mutex_);
  return state_;
}

std::string CRemoteReception::StatusText() const {
  const std::lock_guard lock(mutex_);
  return status_;
}

std::string CRemoteReception::untrustedFingerprint() const {
  const std::lock_guard lock(mutex_);
  return fingerprint_;
}

void CRemoteReception::SetState(State state, std::string text) {
  {
    const std::lock_guard lock(mutex_);
    state_ = state;
    status_ = std::move(text);
  }
  wake_();
}

void CRemoteReception::Run() {
  const std::string name = target_.host + ":" + std::to_string(target_.port);
  auto delay = std::chrono::seconds(kFirstRetry);
  for (;;) {
    SetState(State::kConnecting, "Connecting to " + name + "...");
    bool trustProblem = false;
    const std::string why = Serve(&trustProblem);
    std::unique_lock lock(mutex_);
    if (stop_) return;
    if (trustProblem) {
      lock.unlock();
      SetState(State::kUntrusted, "Not connected to " + name + ": " + why);
      lock.lock();
      stopped_.wait(lock, [this] { return stop_; });
      return;
    }
    if (state_ == State::kConnected) delay = kFirstRetry;  // it worked: start again
    lock.unlock();
    SetState(State::kBroken, "Not connected to " + name + ": " + why + "; trying again in " +
                                 std::to_string(delay.count()) + " s");
    lock.lock();
    if (stopped_.wait_for(lock, delay, [this] { return stop_; })) return;
    delay = std::min<std::chrono::seconds>(delay * 2, kLastRetry);
  }
}


std::string CRemoteReception::Serve(bool* trustProblem) {
  std::string error;
  const int fd = Dial(
      target_,
      [this](int held) {
        const std::lock_guard lock(mutex_);
        socket_ = stop_ ? -1 : held;
        return !stop_;
      },
      &error);
  if (fd < 0) return error;
  struct Unregister {
    CRemoteReception* self;
    int fd;
    ~Unregister() {
      const std::lock_guard lock(self->mutex_);
      self->socket_ = -1;
      close(fd);
    }
  } unregister{this, fd};
  const auto stopping = [this] {
    const std::lock_guard lock(mutex_);
    return stop_;
  };

  ERR_clear_error();
  std::unique_ptr<SSL_CTX, FreeContext> context(SSL_CTX_new(TLS_client_method()));
  if (!context) return OpenSslError("cannot make a TLS context");
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  const char* file = target_.certificateFile.c_str();
  if (SSL_CTX_use_certificate_file(context.get(), file, SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(context.get(), file, SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_load_verify_locations(context.get(), file, nullptr) != 1) {
    *trustProblem = true;  // no retry helps until the file is fixed
    return "cannot use the certificate file " + target_.certificateFile + ": " + OpenSslError("unreadable");
  }
  std::unique_ptr<SSL, FreeSsl> ssl(SSL_new(context.get()));
  if (!ssl) return OpenSslError("cannot make a TLS session");
  if (IsAddress(target_.host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), target_.host.c_str());
  } else {
    SSL_set1_host(ssl.get(), target_.host.c_str());
    SSL_ctrl(ssl.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(target_.host.c_str()));
  }
  SSL_set_verify(ssl.get(), SSL_VERIFY_NONE, nullptr);  // judged below, with the pin
  SSL_set_fd(ssl.get(), fd);
  const auto deadline = Clock::now() + kHandshakeTime;
  for (;;) {
    ERR_clear_error();
    const int result = SSL_connect(ssl.get());
    if (result == 1) break;
    const int reason = SSL_get_error(ssl.get(), result);
    const bool again = reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE;
    if (!again || stopping() || Clock::now() > deadline) {
      return "TLS handshake failed: " + OpenSslError(again ? "no answer" : "the service closed the connection");
    }
  }
  if (SSL_get_verify_result(ssl.get()) != X509_V_OK) {
    X509* certificate = SSL_get1_peer_certificate(ssl.get());
    const std::string fingerprint = Fingerprint(certificate);
    X509_free(certificate);
    if (fingerprint.empty() || fingerprint != target_.pinnedFingerprint) {
      {
        const std::lock_guard lock(mutex_);
        fingerprint_ = fingerprint;
      }
      *trustProblem = true;
      return std::string("the service's certificate is not trusted (") +
             X509_verify_cert_error_string(SSL_get_verify_result(ssl.get())) + "), fingerprint " + fingerprint;
    }
  }
  const std::string request = FormatBackfillRequest(target_.backfill);
  if (SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) != static_cast<int>(request.size())) {
    return "cannot send the request: " + OpenSslError("the connection broke");
  }
  SetState(State::kConnected, "Connected to " + target_.host + ":" + std::to_string(target_.port));

  // After a reconnection, the backfill is held until the last line already received shows up
  // in it (what precedes it is had) or the backfill ends (a pause, or as many lines as asked).
  bool skipping = !lastLine_.empty() && target_.backfill > 0;
  std::vector<std::string> held;
  std::vector<std::string> lines;
  CViewerFrameReader reader;
  std::array<char, 64 * 1024> buffer{};
  const auto deliver = [&] {
    if (!lines.empty()) lastLine_ = lines.back();
    handOver_.Hand(lines);
  };
  const auto take = [&](std::string_view line) {
    if (skipping) {
      if (line == lastLine_) {
        held.clear();
        skipping = false;
        return;
      }
      held.emplace_back(line);
      if (held.size() >= target_.backfill) {
        lines.insert(lines.end(), std::make_move_iterator(held.begin()), std::make_move_iterator(held.end()));
        held.clear();
        skipping = false;
      }
      return;
    }
    lines.emplace_back(line);
  };
  for (;;) {
    ERR_clear_error();
    const int read = SSL_read(ssl.get(), buffer.data(), static_cast<int>(buffer.size()));
    if (read <= 0) {
      const int reason = SSL_get_error(ssl.get(), read);
      if (stopping()) return "stopped";
      if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) {
        if (skipping) {  // a pause: the backfill is over
          lines.insert(lines.end(), std::make_move_iterator(held.begin()), std::make_move_iterator(held.end()));
          held.clear();
          skipping = false;
          deliver();
        }
        continue;
      }
      return reason == SSL_ERROR_ZERO_RETURN || (reason == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
                 ? "the service closed the connection"
                 : "the connection broke: " + OpenSslError("TLS error");
    }
    if (!reader.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(read)), take)) {
      deliver();
      return "the service sent something that is not a frame";
    }
    deliver();
  }
}

}  // namespace qv
