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
#include <atomic>
#include <cstdio>
#include <cerrno>
#include <cstring>

#include "core/message/names.h"
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

// "<seconds.pid.n@domain>": unique among the mails of this computer.
std::string MessageId(std::time_t when, const std::string& sender) {
  static std::atomic<uint32_t> counter{0};
  const std::size_t at = sender.rfind('@');
  const std::string domain = at == std::string::npos || at + 1 == sender.size() ? "localhost" : sender.substr(at + 1);
  return "<" + std::to_string(static_cast<long long>(when)) + "." + std::to_string(getpid()) + "." +
         std::to_string(++counter) + "@" + domain + ">";
}

// The reply's first line without its line end, for a report.
std::string ReplyText(const std::string& reply) {
  std::string text = reply;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
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

std::string MailSenderAddress(const std::string& from, const std::string& domain) {
  if (from.find('@') != std::string::npos) return from;
  if (!domain.empty()) return from + "@" + domain;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return from;
  return from + "@" + WithoutLineBreaks(host);
}

std::string MailDate(std::time_t when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return "";
  // Names from our own tables: the process's locale must not translate them.
  const long offset = local.tm_gmtoff / 60;
  const long magnitude = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday % 7],
                local.tm_mday, kMonthNames.at(static_cast<std::size_t>(local.tm_mon)), local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

CMailSender::CMailSender(CSyslogSink& reporter) : CMailSender(reporter, Options{}) {}

CMailSender::CMailSender(CSyslogSink& reporter, Options options) : reporter_(reporter), options_(options) {}

void CMailSender::Report(const std::string& text) { reporter_.OnLocalMessage(text); }

bool CMailSender::Fail(std::string reason) {
  failure_ = std::move(reason);
  return false;
}

bool CMailSender::Step(int socket, const std::string& command, std::string_view step,
                       std::initializer_list<std::string_view> expected) {
  if (!command.empty()) SendCommand(socket, command);
  std::string reply;
  if (!ReadReply(socket, reply)) {
    return Fail(failure_.empty() ? "no reply to " + std::string(step) + " in time" : failure_);
  }
  for (const std::string_view code : expected) {
    if (reply.compare(0, code.size(), code) == 0) return true;
  }
  const std::string reason = "the server answered " + std::string(step) + " with \"" + ReplyText(reply) + "\"";
  SendCommand(socket, "QUIT\r\n");
  ReadReply(socket, reply);  // the farewell is awaited, not required
  return Fail(reason);
}

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
  failure_.clear();
  received_.clear();
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
    return Fail("cannot find the mail server \"" + server + "\" (" + std::to_string(lookupError) + ")");
  }
  const ScopedSocket connection(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int fd = connection.get();
  if (fd < 0) {
    if (debug_) Report("Couldn't create socket(" + std::to_string(errno) + ")");
    return Fail(std::string("cannot create a socket: ") + std::strerror(errno));
  }
  if (!ConnectWithin(fd, to, NextWait())) {
    const int error = errno;
    if (debug_) Report("Couldn't connect to host(" + std::to_string(error) + ")");
    return Fail("cannot connect to " + server + " port " + std::to_string(port) + ": " + std::strerror(error));
  }

  const std::string sender = MailSenderAddress(from, domain);
  const std::string rcpt = WithoutLineBreaks(recipient);
  if (!Step(fd, "", "the connection", {"220"}) ||
      !Step(fd, domain.empty() ? std::string("HELO\r\n") : "HELO " + domain + "\r\n", "HELO", {"250"}) ||
      !Step(fd, "MAIL FROM: " + sender + "\r\n", "MAIL FROM", {"250", "251"}) ||
      !Step(fd, "RCPT TO: " + rcpt + "\r\n", "RCPT TO", {"250", "251"}) || !Step(fd, "DATA\r\n", "DATA", {"354"})) {
    return false;
  }
  const std::time_t now = std::time(nullptr);
  SendCommand(fd, "From: " + sender + "\r\nTo: " + rcpt + "\r\nSubject: " + WithoutLineBreaks(subject) +
                      "\r\nDate: " + MailDate(now) + "\r\nMessage-ID: " + MessageId(now, sender) + "\r\n\r\n" +
                      ToSmtpData(text));
  if (includeBody) {
    SendCommand(fd, "\r\n");
    SendCommand(fd, ToSmtpData(body));
  }
  if (!Step(fd, "\r\n.\r\n", "the mail data", {"250"})) return false;
  std::string reply;
  SendCommand(fd, "QUIT\r\n");
  ReadReply(fd, reply);  // the farewell is awaited, not required
  failure_.clear();
  return true;
}

bool CMailSender::ReadReply(int socket, std::string& reply) {
  for (;;) {
    // The reply is complete with a line whose code is not followed by "-".
    for (std::size_t lineStart = 0, lineFeed; (lineFeed = received_.find('\n', lineStart)) != std::string::npos;
         lineStart = lineFeed + 1) {
      if (lineFeed - lineStart > 3 && received_[lineStart + 3] == '-') continue;
      reply.assign(received_, 0, lineFeed + 1);
      received_.erase(0, lineFeed + 1);
      if (debug_) Report("Server said >" + reply + "<");
      return true;
    }
    if (received_.size() > kMaxReplyBytes) return Fail("the server's reply has no end");
    const std::chrono::milliseconds wait = NextWait();
    if (wait.count() <= 0) return Fail("the dialogue took longer than its " +
                                       std::to_string(options_.dialogueDeadline.count() / 1000) + " s");
    pollfd waiter{socket, POLLIN, 0};
    const int ready = poll(&waiter, 1, static_cast<int>(wait.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;  // the caller names the step that got no reply
    char buffer[1024];
    const ssize_t received = recv(socket, buffer, sizeof buffer, 0);
    if (received <= 0) return Fail("the server closed the connection");
    received_.append(buffer, static_cast<std::size_t>(received));
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
