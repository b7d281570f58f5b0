#include "rules/mail/mail_sender.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/settings/settings_store.h"

namespace qv {
namespace {

constexpr uint16_t kDefaultSmtpPort = 25;

// Closes the connection on every way out of the dialogue.
class ScopedSocket {
 public:
  explicit ScopedSocket(int fd) : fd_(fd) {}
  ~ScopedSocket() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedSocket(const ScopedSocket&) = delete;
  ScopedSocket& operator=(const ScopedSocket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

uint16_t ServiceTablePort() {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (getservbyname_r("smtp", "tcp", &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return ntohs(static_cast<uint16_t>(found->s_port));
  }
  return kDefaultSmtpPort;
}

// The server as a dotted address, else its first IPv4 address from the resolver. On failure
// `error` holds the resolver's code (or errno for a system failure).
bool ServerAddress(const std::string& server, in_addr* address, int* error) {
  if (inet_pton(AF_INET, server.c_str(), address) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  const int status = getaddrinfo(server.c_str(), nullptr, &hints, &results);
  if (status != 0 || results == nullptr) {
    *error = status == EAI_SYSTEM ? errno : status;
    return false;
  }
  *address = reinterpret_cast<const sockaddr_in*>(results->ai_addr)->sin_addr;
  freeaddrinfo(results);
  return true;
}

// Makes the socket's blocking sends give up after `timeout`.
void LimitSends(int fd, std::chrono::milliseconds timeout) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// Connects within `timeout`; errno tells why when it fails (ETIMEDOUT when time ran out).
bool ConnectWithin(int fd, const sockaddr_in& to, std::chrono::milliseconds timeout) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    if (errno != EINPROGRESS) return false;
    pollfd waiter{fd, POLLOUT, 0};
    const int ready = poll(&waiter, 1, static_cast<int>(timeout.count()));
    if (ready <= 0) {
      if (ready == 0) errno = ETIMEDOUT;
      return false;
    }
    int failure = 0;
    socklen_t length = sizeof failure;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) return false;
    if (failure != 0) {
      errno = failure;
      return false;
    }
  }
  // Back to blocking sends, each bounded (see SendCommand).
  return fcntl(fd, F_SETFL, flags) == 0;
}

// "mailfrom@maildomain", or with this computer's name for an empty domain, or "mailfrom" alone.
std::string SenderAddress(const std::string& from, const std::string& domain) {
  if (!domain.empty()) return from + "@" + domain;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return from;
  return from + "@" + WithoutLineBreaks(host);
}

}  // namespace

std::string ToSmtpData(std::string_view text) {
  std::string data;
  data.reserve(text.size() + text.size() / 16 + 2);
  bool lineStart = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      data += "\r\n";
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') data += '.';
    data += c;
    lineStart = false;
  }
  return data;
}

std::string WithoutLineBreaks(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    if (c != '\r' && c != '\n') result += c;
  }
  return result;
}

CMailSender::CMailSender(CSyslogSink& reporter) : CMailSender(reporter, Options{}) {}

CMailSender::CMailSender(CSyslogSink& reporter, Options options) : reporter_(reporter), options_(options) {}

void CMailSender::Report(const std::string& text) { reporter_.OnLocalMessage(text); }

std::chrono::milliseconds CMailSender::NextWait() const {
  const auto now = std::chrono::steady_clock::now();
  if (deadline_ == std::chrono::steady_clock::time_point::max()) return options_.replyTimeout;
  if (now >= deadline_) return std::chrono::milliseconds(0);
  // Rounded up, so that a wait never ends just before the deadline and spins.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - now);
  return std::min(options_.replyTimeout, left);
}

bool CMailSender::SendMail(std::string_view recipient, std::string_view body, std::string_view subject,
                           std::string_view text, bool includeBody) {
  const CSettingsStore& settings = AppSettings();
  deadline_ = std::chrono::steady_clock::now() + options_.dialogueDeadline;
  const std::string server = settings.GetString("Settings", "mailserver");
  const std::string from = WithoutLineBreaks(settings.GetString("Settings", "mailfrom"));
  const std::string domain = WithoutLineBreaks(settings.GetString("Settings", "maildomain"));
  debug_ = settings.GetInt("Settings", "maildebug", 0) != 0;
  const uint16_t port = options_.port != 0 ? options_.port : ServiceTablePort();

  if (debug_) Report("connecting to " + server);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  int lookupError = 0;
  if (!ServerAddress(server, &to.sin_addr, &lookupError)) {
    if (debug_) Report("Couldn't determine address for " + server + ", (" + std::to_string(lookupError) + ")");
    return false;
  }
  const ScopedSocket connection(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int fd = connection.get();
  if (fd < 0) {
    if (debug_) Report("Couldn't create socket(" + std::to_string(errno) + ")");
    return false;
  }
  if (!ConnectWithin(fd, to, NextWait())) {
    if (debug_) Report("Couldn't connect to host(" + std::to_string(errno) + ")");
    return false;
  }

  std::string reply;
  if (!ReadReply(fd, reply)) return false;
  SendCommand(fd, domain.empty() ? std::string("HELO\r\n") : "HELO " + domain + "\r\n");
  if (!ReadReply(fd, reply)) return false;
  const std::string sender = SenderAddress(from, domain);
  const std::string rcpt = WithoutLineBreaks(recipient);
  SendCommand(fd, "MAIL FROM: " + sender + "\r\n");
  if (!ReadReply(fd, reply)) return false;
  SendCommand(fd, "RCPT TO: " + rcpt + "\r\n");
  if (!ReadReply(fd, reply)) return false;
  SendCommand(fd, "DATA\r\n");
  if (!ReadReply(fd, reply)) return false;
  SendCommand(fd, "From: " + sender + "\r\nTo: " + rcpt + "\r\nSubject: " + WithoutLineBreaks(subject) +
                      "\r\n\r\n" + ToSmtpData(text));
  if (includeBody) {
    SendCommand(fd, "\r\n");
    SendCommand(fd, ToSmtpData(body));
  }
  SendCommand(fd, "\r\n.\r\n");
  if (!ReadReply(fd, reply)) return false;
  SendCommand(fd, "QUIT\r\n");
  ReadReply(fd, reply);  // the farewell is awaited, not required
  return true;
}

bool CMailSender::ReadReply(int socket, std::string& reply) {
  char buffer[256];
  for (;;) {
    const std::chrono::milliseconds wait = NextWait();
    if (wait.count() <= 0) return false;
    pollfd waiter{socket, POLLIN, 0};
    const int ready = poll(&waiter, 1, static_cast<int>(wait.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    // Each chunk is read to the start of the buffer, so a chunk without a line feed is dropped.
    const ssize_t received = recv(socket, buffer, sizeof buffer - 1, 0);
    if (received <= 0) return false;
    const void* lineFeed = std::memchr(buffer, '\n', static_cast<std::size_t>(received));
    if (lineFeed == nullptr) continue;
    reply.assign(buffer, static_cast<std::size_t>(static_cast<const char*>(lineFeed) - buffer) + 1);
    if (debug_) Report("Server said >" + reply + "<");
    return true;
  }
}

void CMailSender::SendCommand(int socket, std::string_view bytes) {
  // A partial send would cut the data short, so the rest follows until all is sent or the send
  // fails. MSG_NOSIGNAL: a server that closed early must not end the program with SIGPIPE.
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const std::chrono::milliseconds wait = NextWait();
    if (wait.count() <= 0) break;
    LimitSends(socket, wait);
    const ssize_t count = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) break;
    sent += static_cast<std::size_t>(count);
  }
  if (debug_) Report("We said >" + std::string(bytes) + "<");
}

}  // namespace qv
