#include "rules/mail/mail_channel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace qv {
namespace {

// The oldest queued OpenSSL error as text, the queue then emptied (it is per thread).
std::string TakeOpenSslError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

int MillisecondsLeft(CMailChannel::Deadline deadline) {
  const auto now = std::chrono::steady_clock::now();
  if (now >= deadline) return 0;
  // Rounded up, so that a wait never ends just before the deadline and spins.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace

CMailChannel::~CMailChannel() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  if (context_ != nullptr) SSL_CTX_free(context_);
  if (fd_ >= 0) close(fd_);
}

bool CMailChannel::Wait(short events, Deadline deadline) const {
  for (;;) {
    const int left = MillisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd waiter{fd_, events, 0};
    const int ready = poll(&waiter, 1, left);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

bool CMailChannel::Connect(const sockaddr_in& to, Deadline deadline, int* error) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    *error = errno;
    return false;
  }
  if (connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
  if (errno != EINPROGRESS) {
    *error = errno;
    return false;
  }
  if (!Wait(POLLOUT, deadline)) {
    *error = ETIMEDOUT;
    return false;
  }
  int failure = 0;
  socklen_t length = sizeof failure;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
  *error = failure;
  return failure == 0;
}

bool CMailChannel::StartTls(const TlsCheck& check, Deadline deadline, std::string* failure) {
  ERR_clear_error();
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
  context_ = SSL_CTX_new(TLS_client_method());
  if (context_ == nullptr) {
    *failure = "cannot set up TLS: " + TakeOpenSslError("no context");
    return false;
  }
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  SSL_CTX_set_mode(context_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (check.verify) {
    const bool loaded = check.trustStore.empty()
                            ? SSL_CTX_set_default_verify_paths(context_) == 1
                            : SSL_CTX_load_verify_locations(context_, check.trustStore.c_str(), nullptr) == 1;
    if (!loaded) {
      *failure = "cannot read the trusted CA certificates" +
                 (check.trustStore.empty() ? std::string() : " of " + check.trustStore) + ": " +
                 TakeOpenSslError("unreadable");
      return false;
    }
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
  }
  ssl_ = SSL_new(context_);
  if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) {
    *failure = "cannot set up TLS: " + TakeOpenSslError("no session");
    return false;
  }
  in_addr numeric{};
  const bool isAddress = inet_pton(AF_INET, check.serverName.c_str(), &numeric) == 1;
  // Server name indication carries names only, never an address.
  // (SSL_set_tlsext_host_name is a macro with a C cast.)
  if (!isAddress && !check.serverName.empty()) {
    SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(check.serverName.c_str()));
  }
  if (check.verify) {
    const bool named = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), check.serverName.c_str()) == 1
                                 : SSL_set1_host(ssl_, check.serverName.c_str()) == 1;
    if (!named) {
      *failure = "cannot check the certificate against \"" + check.serverName + "\"";
      ERR_clear_error();
      return false;
    }
  }
  for (;;) {
    const int result = SSL_connect(ssl_);
    if (result == 1) return true;
    const int code = SSL_get_error(ssl_, result);
    if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
      if (Wait(code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) continue;
      *failure = "the TLS handshake did not end in time";
      return false;
    }
    const long verified = SSL_get_verify_result(ssl_);
    if (check.verify && verified != X509_V_OK) {
      *failure = "the server's certificate is not trusted: " + std::string(X509_verify_cert_error_string(verified)) +
                 " (switch the certificate check off only for a server you know)";
      ERR_clear_error();
    } else {
      *failure = "the TLS handshake failed: " + TakeOpenSslError("the server closed the connection");
    }
    return false;
  }
}

bool CMailChannel::Send(std::string_view bytes, Deadline deadline) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const std::size_t rest = bytes.size() - sent;
    if (ssl_ != nullptr) {
      const int count = SSL_write(ssl_, bytes.data() + sent, rest > INT_MAX ? INT_MAX : static_cast<int>(rest));
      if (count > 0) {
        sent += static_cast<std::size_t>(count);
        continue;
      }
      const int code = SSL_get_error(ssl_, count);
      if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) {
        ERR_clear_error();
        return false;
      }
      if (!Wait(code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) return false;
      continue;
    }
    const ssize_t count = send(fd_, bytes.data() + sent, rest, MSG_NOSIGNAL);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLOUT, deadline)) {
      return false;
    }
  }
  return true;
}

CMailChannel::Received CMailChannel::Receive(char* buffer, std::size_t size, Deadline deadline, std::size_t* count) {
  *count = 0;
  for (;;) {
    short waitFor = POLLIN;
    if (ssl_ != nullptr) {
      // Decrypted bytes may wait inside OpenSSL, which no readiness of the socket announces:
      // the read is tried before any wait.
      const int result = SSL_read(ssl_, buffer, size > INT_MAX ? INT_MAX : static_cast<int>(size));
      if (result > 0) {
        *count = static_cast<std::size_t>(result);
        return Received::kData;
      }
      const int code = SSL_get_error(ssl_, result);
      if (code == SSL_ERROR_ZERO_RETURN) return Received::kClosed;
      if (code == SSL_ERROR_WANT_WRITE) {
        waitFor = POLLOUT;
      } else if (code != SSL_ERROR_WANT_READ) {
        ERR_clear_error();
        return code == SSL_ERROR_SYSCALL ? Received::kClosed : Received::kFailed;
      }
    } else {
      const ssize_t result = recv(fd_, buffer, size, 0);
      if (result > 0) {
        *count = static_cast<std::size_t>(result);
        return Received::kData;
      }
      if (result == 0) return Received::kClosed;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return Received::kFailed;
    }
    if (!Wait(waitFor, deadline)) return Received::kTimeout;
  }
}

void CMailChannel::Close() {
  if (ssl_ != nullptr) {
    SSL_shutdown(ssl_);  // the close notice; the server's answer is not awaited
    ERR_clear_error();
  }
}

}  // namespace qv
