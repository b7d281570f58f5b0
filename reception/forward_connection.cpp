#include "reception/forward_connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "reception/tls_session.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kConnectLimit = 3s;
constexpr auto kHandshakeLimit = 10s;
constexpr auto kStallLimit = 5s;  // a send that makes no progress for this long breaks
constexpr auto kSlice = 200ms;    // how soon a wait sees `abandon`
// How long a TLS 1.3 client whose certificate was asked for waits for the server's verdict.
constexpr auto kVerdictWait = 500ms;

// Waits until `fd` is ready for `events` (or has an error to tell); false at `deadline` or
// once `abandon` is set.
bool WaitUntilReady(int fd, short events, Clock::time_point deadline, const std::atomic<bool>& abandon) {
  while (!abandon.load()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd watched{fd, events, 0};
    const int ready = poll(&watched, 1, static_cast<int>(std::min<std::chrono::milliseconds>(left, kSlice).count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
  return false;
}

// A connected non-blocking socket to one of the host's addresses, or -1 with `failure` set.
int ConnectSocket(const std::string& host, const std::string& port, const std::atomic<bool>& abandon,
                  std::string* failure) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0) {
    *failure = std::string("cannot find the host: ") + gai_strerror(error);
    return -1;
  }
  int connected = -1;
  for (addrinfo* each = found; each != nullptr && connected < 0 && !abandon.load(); each = each->ai_next) {
    const int fd = socket(each->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      *failure = std::strerror(errno);
      continue;
    }
    int error = connect(fd, each->ai_addr, each->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      socklen_t length = sizeof error;
      if (!WaitUntilReady(fd, POLLOUT, Clock::now() + kConnectLimit, abandon)) {
        error = ETIMEDOUT;
      } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
      }
    }
    if (error == 0) {
      connected = fd;
    } else {
      *failure = std::strerror(error);
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (connected < 0 && failure->empty()) *failure = "stopped";
  return connected;
}

bool IsAddress(const std::string& host) {
  unsigned char bytes[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), bytes) == 1 || inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

class PlainConnection final : public CForwardConnection {
 public:
  PlainConnection(int fd, const std::atomic<bool>& abandon) : fd_(fd), abandon_(abandon) {}
  ~PlainConnection() override { close(fd_); }

  bool Send(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
      } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!WaitUntilReady(fd_, POLLOUT, Clock::now() + kStallLimit, abandon_)) return false;
      } else if (sent == 0 || errno != EINTR) {
        return false;
      }
    }
    return true;
  }

  bool PeerClosed() override {
    char ignored[512];
    for (int reads = 0; reads < 8; ++reads) {
      const ssize_t received = recv(fd_, ignored, sizeof ignored, MSG_DONTWAIT);
      if (received == 0) return true;
      if (received < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    }
    return false;  // a server that talks: it has not closed yet
  }

 private:
  const int fd_;
  const std::atomic<bool>& abandon_;
};

class TlsConnection final : public CForwardConnection {
 public:
  TlsConnection(int fd, SSL* ssl, const std::atomic<bool>& abandon) : fd_(fd), ssl_(ssl), abandon_(abandon) {}
  ~TlsConnection() override {
    if (!failed_) SSL_shutdown(ssl_);  // our close_notify, as far as the socket takes it now
    SSL_free(ssl_);
    close(fd_);
  }

  // Makes the handshake and checks the server's certificate against `host`.
  bool Handshake(const std::string& host, std::string* failure) {
    if (IsAddress(host)) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
    } else {
      // SSL_set_tlsext_host_name, without the macro's cast.
      SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(host.c_str()));
      SSL_set1_host(ssl_, host.c_str());
    }
    SSL_set_fd(ssl_, fd_);
    SSL_set_ex_data(ssl_, 0, &certificateAsked_);  // SSL_set_app_data, without the macro's cast
    const auto deadline = Clock::now() + kHandshakeLimit;
    for (;;) {
      ERR_clear_error();
      const int result = SSL_connect(ssl_);
      if (result == 1) return Accepted(failure);
      const int error = SSL_get_error(ssl_, result);
      if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
        failed_ = true;
        const long verified = SSL_get_verify_result(ssl_);
        if (verified != X509_V_OK) {
          *failure = std::string("certificate verify failed: ") + X509_verify_cert_error_string(verified);
          ERR_clear_error();
        } else if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
          *failure = "the server closed the connection during the TLS handshake";
        } else {
          *failure = "TLS handshake failed: " + TakeOpenSslError("unknown error");
        }
        return false;
      }
      if (!WaitUntilReady(fd_, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, abandon_)) {
        failed_ = true;
        *failure = "TLS handshake not done within " + std::to_string(kHandshakeLimit.count()) + " s";
        return false;
      }
    }
  }

  // Called by OpenSSL when the server asks for a client certificate.
  static int NoteCertificateRequest(SSL* ssl, void*) {
    if (auto* asked = static_cast<bool*>(SSL_get_ex_data(ssl, 0))) *asked = true;
    return 1;
  }

  bool Send(std::string_view bytes) override {
    while (!bytes.empty()) {
      ERR_clear_error();
      std::size_t written = 0;
      if (SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written) == 1) {
        bytes.remove_prefix(written);
        continue;
      }
      const int error = SSL_get_error(ssl_, 0);
      const bool waits = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
      if (!waits || !WaitUntilReady(fd_, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, Clock::now() + kStallLimit,
                                    abandon_)) {
        failed_ = true;
        ERR_clear_error();
        return false;
      }
    }
    return true;
  }

  bool PeerClosed() override {
    char ignored[512];
    for (int reads = 0; reads < 8; ++reads) {
      pollfd watched{fd_, POLLIN, 0};
      const bool nothingDecrypted = SSL_pending(ssl_) == 0;
      if (nothingDecrypted && poll(&watched, 1, 0) != 1) return false;
      ERR_clear_error();
      std::size_t count = 0;
      if (SSL_read_ex(ssl_, ignored, sizeof ignored, &count) == 1) continue;
      const int error = SSL_get_error(ssl_, 0);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return false;  // a ticket, say
      failed_ = error != SSL_ERROR_ZERO_RETURN;  // after close_notify ours may still be sent
      endReason_ = failed_ ? TakeOpenSslError("it closed the connection") : "it closed the connection";
      return true;
    }
    return false;
  }

 private:
  // TLS 1.3 ends the client's handshake before the server has judged the client's certificate;
  // a refusal comes as an alert just after. So when one was asked for, the verdict is awaited
  // briefly, lest the first lines go into a connection the server is refusing.
  bool Accepted(std::string* failure) {
    if (!certificateAsked_ || SSL_version(ssl_) < TLS1_3_VERSION) return true;
    if (!WaitUntilReady(fd_, POLLIN, Clock::now() + kVerdictWait, abandon_) || !PeerClosed()) return true;
    failed_ = true;
    *failure = "the server refused the connection: " + endReason_;
    return false;
  }

  const int fd_;
  SSL* const ssl_;
  const std::atomic<bool>& abandon_;
  bool failed_ = false;            // no close_notify may be sent after a fatal error
  bool certificateAsked_ = false;  // the server sent a CertificateRequest
  std::string endReason_;          // why PeerClosed found the connection ended
};

}  // namespace

std::shared_ptr<CTlsClientContext> CTlsClientContext::Create(const Files& files, std::string* error) {
  ERR_clear_error();
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) {
    *error = TakeOpenSslError("cannot create a TLS context");
    return nullptr;
  }
  std::shared_ptr<CTlsClientContext> owner(new CTlsClientContext(context));
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_cb(context, &TlsConnection::NoteCertificateRequest, nullptr);
  if (files.caPath.empty()) {
    if (SSL_CTX_set_default_verify_paths(context) != 1) {
      *error = "cannot load the system's CA store: " + TakeOpenSslError("unreadable");
      return nullptr;
    }
  } else if (SSL_CTX_load_verify_locations(context, files.caPath.c_str(), nullptr) != 1) {
    *error = "cannot load the CA file " + files.caPath + " (setting \"forwardca\"): " + TakeOpenSslError("unreadable");
    return nullptr;
  }
  if (files.certificatePath.empty()) return owner;
  const std::string& keyPath = files.keyPath.empty() ? files.certificatePath : files.keyPath;
  if (SSL_CTX_use_certificate_chain_file(context, files.certificatePath.c_str()) != 1) {
    *error = "cannot load the client certificate " + files.certificatePath + " (setting \"forwardcert\"): " +
             TakeOpenSslError("unreadable");
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey_file(context, keyPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context) != 1) {
    *error = "cannot use the client key " + keyPath + " (setting \"forwardkey\"): " +
             TakeOpenSslError("it does not match the certificate");
    return nullptr;
  }
  return owner;
}

CTlsClientContext::~CTlsClientContext() { SSL_CTX_free(context_); }

std::unique_ptr<CForwardConnection> CForwardConnection::Open(const std::string& host, const std::string& port,
                                                             const CTlsClientContext* tls,
                                                             const std::atomic<bool>& abandon, std::string* failure) {
  const int fd = ConnectSocket(host, port, abandon, failure);
  if (fd < 0) return nullptr;
  if (tls == nullptr) return std::make_unique<PlainConnection>(fd, abandon);
  SSL* ssl = SSL_new(tls->get());
  if (ssl == nullptr) {
    close(fd);
    *failure = TakeOpenSslError("cannot create a TLS session");
    return nullptr;
  }
  auto connection = std::make_unique<TlsConnection>(fd, ssl, abandon);
  if (!connection->Handshake(host, failure)) return nullptr;
  return connection;
}

}  // namespace qv
