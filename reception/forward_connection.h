#pragma once
// The client side of one forwarding connection, plain TCP or TLS (RFC 5425), as the stream
// forwarder's destination threads use it. The socket is non-blocking; every wait is a poll
// bounded in time (connect 3 s, TLS handshake 10 s, a send that makes no progress 5 s) and cut
// short, within 200 ms, once the caller's `abandon` flag is set, so a destination thread stops
// promptly whatever the peer does.
//
// TLS: 1.2 or later. The server's certificate must chain to the CA file of the context (the
// setting "forwardca") or, without one, to the system's CA store, and must name the host the
// value gave: its DNS name, or its address when the value gave an address. A client
// certificate is presented when the context has one ("forwardcert", "forwardkey").
//
// A syslog server never speaks on these connections, except to end them: PeerClosed() notices
// its FIN or TLS close_notify without waiting, so that the forwarder stops sending into a
// connection the server is closing and lets the server read what was sent before. Anything else
// the server sends (TLS session tickets, stray bytes) is read and ignored.
//
// A connection belongs to one thread. Creating a TLS context makes the process ignore SIGPIPE
// when it had the default disposition (OpenSSL writes with write(2)).

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

using SSL_CTX = struct ssl_ctx_st;

namespace qv {

class CTlsClientContext {
 public:
  struct Files {
    std::string caPath;           // empty: the system's CA store
    std::string certificatePath;  // empty: no client certificate
    std::string keyPath;          // empty: the key is in the certificate's file
  };
  // Null with `error` set to one line when a file cannot be read or the key does not fit.
  static std::shared_ptr<CTlsClientContext> Create(const Files& files, std::string* error);
  ~CTlsClientContext();
  CTlsClientContext(const CTlsClientContext&) = delete;
  CTlsClientContext& operator=(const CTlsClientContext&) = delete;

  SSL_CTX* get() const { return context_; }

 private:
  explicit CTlsClientContext(SSL_CTX* context) : context_(context) {}
  SSL_CTX* context_;
};

class CForwardConnection {
 public:
  // Connects to `host` (a name, a dotted address or an IPv6 address) on `port`, over TLS when
  // `tls` is given. Null, with `failure` set to one line ("connection refused", "certificate
  // verify failed: self-signed certificate"), when that fails or `abandon` is set meanwhile.
  // `abandon` must outlive the connection.
  static std::unique_ptr<CForwardConnection> Open(const std::string& host, const std::string& port,
                                                  const CTlsClientContext* tls, const std::atomic<bool>& abandon,
                                                  std::string* failure);
  virtual ~CForwardConnection() = default;
  CForwardConnection(const CForwardConnection&) = delete;
  CForwardConnection& operator=(const CForwardConnection&) = delete;

  // Sends all of `bytes`; false when the connection broke, stalled or was abandoned (the
  // connection is then of no further use).
  virtual bool Send(std::string_view bytes) = 0;
  // True when the server has ended the connection (or it failed); never waits.
  virtual bool PeerClosed() = 0;

 protected:
  CForwardConnection() = default;
};

}  // namespace qv
