#pragma once
// The TLS side of syslog over TLS (RFC 5425), on OpenSSL: a server context made from the
// settings' certificate, key and optional client CA, and one session per accepted connection.
// Sessions work on non-blocking sockets: an operation that needs the socket again says whether
// it waits to read or to write. TLS 1.2 is the least version offered; renegotiation is refused.
//
// Creating a context makes the process ignore SIGPIPE when it had the default disposition.
// A context may be shared by the sessions of one thread; a session belongs to one connection.

#include <memory>
#include <string>

using SSL_CTX = struct ssl_ctx_st;
using SSL = struct ssl_st;

namespace qv {

// The oldest queued OpenSSL error of this thread as text (`fallback` when there is none); the
// thread's queue is then emptied.
std::string TakeOpenSslError(const char* fallback);

class CTlsServerContext {
 public:
  // Loads the certificate chain and private key (PEM files). With `caPath` (a PEM file of CA
  // certificates), every client must present a certificate that one of them signed. Returns
  // null and sets `error` to one line when a file cannot be read or the key does not fit.
  static std::shared_ptr<CTlsServerContext> Create(const std::string& certificatePath, const std::string& keyPath,
                                                   const std::string& caPath, std::string* error);
  ~CTlsServerContext();
  CTlsServerContext(const CTlsServerContext&) = delete;
  CTlsServerContext& operator=(const CTlsServerContext&) = delete;

  SSL_CTX* get() const { return context_; }

 private:
  explicit CTlsServerContext(SSL_CTX* context) : context_(context) {}
  SSL_CTX* context_;
};

class CTlsSession {
 public:
  enum class Status { kReady, kWantRead, kWantWrite, kClosed, kFailed };

  // Serves the accepted, non-blocking socket `fd` (not owned).
  CTlsSession(const CTlsServerContext& context, int fd);
  ~CTlsSession();
  CTlsSession(const CTlsSession&) = delete;
  CTlsSession& operator=(const CTlsSession&) = delete;

  // Moves the handshake on; kReady once it is complete.
  Status Handshake();
  // Reads up to `size` plaintext bytes into `buffer`: the count, or 0 with `status` telling why
  // none (kWantRead/kWantWrite: try again when the socket is ready; kClosed: the peer ended).
  std::size_t Read(char* buffer, std::size_t size, Status* status);
  // Writes up to `size` plaintext bytes from `data`: the count written, or 0 with `status`
  // telling why none. After kWantRead/kWantWrite the next call must offer the same bytes again
  // (more may follow them); the context must allow partial writes for counts below `size`.
  std::size_t Write(const char* data, std::size_t size, Status* status);
  // Plaintext already decrypted and waiting, which no socket readiness will announce.
  bool HasPending() const;
  // Sends close_notify, as far as the socket takes it now; reading goes on until the peer's.
  void Shutdown();
  // The reason of the last kFailed, for the local message.
  const std::string& failure() const { return failure_; }

 private:
  Status Classify(int result);

  SSL* ssl_;
  std::string failure_;
};

}  // namespace qv
