#include "reception/tls_session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>

namespace qv {

std::string TakeOpenSslError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::shared_ptr<CTlsServerContext> CTlsServerContext::Create(const std::string& certificatePath,
                                                             const std::string& keyPath, const std::string& caPath,
                                                             std::string* error) {
  ERR_clear_error();
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr) {
    *error = TakeOpenSslError("cannot create a TLS context");
    return nullptr;
  }
  std::shared_ptr<CTlsServerContext> owner(new CTlsServerContext(context));
  // OpenSSL writes alerts and tickets with write(2): a peer gone meanwhile must cost an EPIPE
  // on that connection, not the process.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_num_tickets(context, 0);  // syslog clients do not resume sessions
  // Syslog clients often just close the socket after their last message: that is an end, not an attack.
  SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
  // A syslog server never sends; the viewer link allows partial writes on its own context, and
  // a write retried after a wait may come from a moved buffer.
  // Idle sessions give their read and write buffers back (about 34 KB each).
  SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
  if (SSL_CTX_use_certificate_chain_file(context, certificatePath.c_str()) != 1) {
    *error = "cannot load TLS certificate " + certificatePath + ": " + TakeOpenSslError("unreadable");
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey_file(context, keyPath.c_str(), SSL_FILETYPE_PEM) != 1) {
    *error = "cannot load TLS key " + keyPath + ": " + TakeOpenSslError("unreadable");
    return nullptr;
  }
  if (SSL_CTX_check_private_key(context) != 1) {
    *error = "TLS key " + keyPath + " does not match certificate " + certificatePath;
    ERR_clear_error();
    return nullptr;
  }
  if (!caPath.empty()) {
    if (SSL_CTX_load_verify_locations(context, caPath.c_str(), nullptr) != 1) {
      *error = "cannot load TLS client CA " + caPath + ": " + TakeOpenSslError("unreadable");
      return nullptr;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  return owner;
}

CTlsServerContext::~CTlsServerContext() { SSL_CTX_free(context_); }

CTlsSession::CTlsSession(const CTlsServerContext& context, int fd) : ssl_(SSL_new(context.get())) {
  if (ssl_ != nullptr) SSL_set_fd(ssl_, fd);
}

CTlsSession::~CTlsSession() { SSL_free(ssl_); }

CTlsSession::Status CTlsSession::Classify(int result) {
  switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_WANT_READ: return Status::kWantRead;
    case SSL_ERROR_WANT_WRITE: return Status::kWantWrite;
    case SSL_ERROR_ZERO_RETURN:
      failure_ = "connection closed during the handshake";
      return Status::kClosed;
    case SSL_ERROR_SYSCALL:
      if (ERR_peek_error() == 0) {
        failure_ = "connection closed during the handshake";
        return SSL_is_init_finished(ssl_) ? Status::kClosed : Status::kFailed;
      }
      [[fallthrough]];
    default:
      failure_ = TakeOpenSslError("TLS error");
      return Status::kFailed;
  }
}

CTlsSession::Status CTlsSession::Handshake() {
  if (ssl_ == nullptr) {
    failure_ = "cannot create a TLS session";
    return Status::kFailed;
  }
  ERR_clear_error();
  const int result = SSL_accept(ssl_);
  return result == 1 ? Status::kReady : Classify(result);
}

std::size_t CTlsSession::Read(char* buffer, std::size_t size, Status* status) {
  ERR_clear_error();
  std::size_t count = 0;
  const int result = SSL_read_ex(ssl_, buffer, size, &count);
  *status = result == 1 ? Status::kReady : Classify(result);
  return result == 1 ? count : 0;
}

std::size_t CTlsSession::Write(const char* data, std::size_t size, Status* status) {
  ERR_clear_error();
  std::size_t count = 0;
  const int result = SSL_write_ex(ssl_, data, size, &count);
  *status = result == 1 ? Status::kReady : Classify(result);
  return result == 1 ? count : 0;
}

bool CTlsSession::HasPending() const { return SSL_pending(ssl_) > 0; }

void CTlsSession::Shutdown() {
  if (ssl_ == nullptr || !SSL_is_init_finished(ssl_)) return;
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

}  // namespace qv
