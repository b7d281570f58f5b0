#pragma once
// The byte stream of one mail dialogue: a TCP connection to the mail server, plain at first and
// inside TLS (OpenSSL) once StartTls has succeeded, either right after the connection (TLS from
// the first byte, port 465) or after the server's go-ahead to STARTTLS.
//
// Every operation ends by the deadline it is given, however slowly the server answers: the
// socket is non-blocking and each wait is a poll of the time left. A server gone meanwhile costs
// a failed send, never the process (sends use MSG_NOSIGNAL; StartTls makes the process ignore
// SIGPIPE when it had the default disposition, since OpenSSL writes with write(2)).
//
// The server's certificate is checked, when asked for, against the system's CA store (or the
// PEM file of CA certificates a test names) and against the server's name or address as the
// user wrote it. TLS 1.2 is the least version offered.
//
// One object per connection, used on one thread; the destructor closes the connection.

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

using SSL_CTX = struct ssl_ctx_st;
using SSL = struct ssl_st;

namespace qv {

class CMailChannel {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  // How the server's certificate is checked.
  struct TlsCheck {
    bool verify = true;       // false: any certificate is accepted
    std::string serverName;   // the name or dotted address the certificate must be made out to
    std::string trustStore;   // PEM file of trusted CA certificates; empty: the system's store
  };

  CMailChannel() = default;
  ~CMailChannel();
  CMailChannel(const CMailChannel&) = delete;
  CMailChannel& operator=(const CMailChannel&) = delete;

  // Makes the TCP connection. False with the system's error code in `error` (ETIMEDOUT when
  // the deadline passed first).
  bool Connect(const sockaddr_in& to, Deadline deadline, int* error);

  // Runs the TLS handshake on the connection; from then on everything sent and received is
  // encrypted. False with `failure` naming the reason (an untrusted certificate, a name that
  // does not match, a server that does not speak TLS, time that ran out).
  bool StartTls(const TlsCheck& check, Deadline deadline, std::string* failure);

  // Sends all of `bytes`; false when the deadline passes first or the send fails.
  bool Send(std::string_view bytes, Deadline deadline);

  enum class Received { kData, kClosed, kTimeout, kFailed };
  // Receives what is there, up to `size` bytes, waiting until the deadline for something.
  Received Receive(char* buffer, std::size_t size, Deadline deadline, std::size_t* count);

  // Ends TLS politely (one close notice, not awaited) before the connection is closed.
  void Close();

  bool secure() const { return ssl_ != nullptr; }

 private:
  // Waits until the socket is ready for `events` or the deadline passes; false on time out.
  bool Wait(short events, Deadline deadline) const;

  int fd_ = -1;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace qv
