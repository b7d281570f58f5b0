#include "rules/mail/mail_sender.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/evp.h>
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

// "<seconds.pid.n@domain>": unique among the mails of this computer.
std::string MessageId(std::time_t when, const std::string& sender) {
  static std::atomic<uint32_t> counter{0};
  const std::size_t at = sender.rfind('@');
  const std::string domain = at == std::string::npos || at + 1 == sender.size() ? "localhost" : sender.substr(at + 1);
  return "<" + std::to_string(static_cast<long long>(when)) + "." + std::to_string(getpid()) + "." +
         std::to_string(++counter) + "@" + domain + ">";
}

// The reply without its last line end, for a report.
std::string ReplyText(const std::string& reply) {
  std::string text = reply;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Base64(std::string_view bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::string Upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

// The text of each extension line of an EHLO reply (after "250-" or "250 "), the greeting line
// left out, up to its line end.
template <typename Visit>
void ForEachExtension(std::string_view reply, Visit visit) {
  bool first = true;
  for (std::size_t start = 0; start < reply.size();) {
    std::size_t end = reply.find('\n', start);
    if (end == std::string_view::npos) end = reply.size();
    std::string_view line = reply.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!first && line.size() > 4) visit(line.substr(4));
    first = false;
    start = end + 1;
  }
}

}  // namespace

std::string AuthMechanisms(std::string_view ehloReply) {
  std::string mechanisms;
  ForEachExtension(ehloReply, [&](std::string_view line) {
    const std::string upper = Upper(line);
    if (upper.rfind("AUTH", 0) != 0 || upper.size() < 5 || (upper[4] != ' ' && upper[4] != '=')) return;
    for (std::size_t from = 5; from < upper.size();) {
      const std::size_t blank = std::min(upper.find(' ', from), upper.size());
      if (blank > from) mechanisms += upper.substr(from, blank - from) + " ";
      from = blank + 1;
    }
  });
  return mechanisms;
}

bool OffersExtension(std::string_view ehloReply, std::string_view keyword) {
  bool offered = false;
  const std::string wanted = Upper(keyword);
  ForEachExtension(ehloReply, [&](std::string_view line) {
    const std::string upper = Upper(line);
    if (upper.rfind(wanted, 0) == 0 && (upper.size() == wanted.size() || upper[wanted.size()] == ' ')) offered = true;
  });
  return offered;
}

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

bool CMailSender::Step(CMailChannel& channel, const std::string& command, std::string_view step,
                       std::initializer_list<std::string_view> expected, std::string_view shown, std::string* reply) {
  if (!command.empty()) SendCommand(channel, command, shown);
  std::string answer;
  if (!ReadReply(channel, answer)) {
    return Fail(failure_.empty() ? "no reply to " + std::string(step) + " in time" : failure_);
  }
  lastReply_ = ReplyText(answer);
  if (reply != nullptr) *reply = answer;
  for (const std::string_view code : expected) {
    if (answer.compare(0, code.size(), code) == 0) return true;
  }
  const std::string reason = "the server answered " + std::string(step) + " with \"" + lastReply_ + "\"";
  Quit(channel);
  return Fail(reason);
}

void CMailSender::Quit(CMailChannel& channel) {
  std::string farewell;
  SendCommand(channel, "QUIT\r\n");
  ReadReply(channel, farewell);  // awaited, not required
  channel.Close();
}

bool CMailSender::StartTls(CMailChannel& channel, const std::string& server, bool verify) {
  std::string why;
  // A failure is reported once, by the action, not also as a debug line.
  if (!channel.StartTls(CMailChannel::TlsCheck{verify, server, options_.trustStore}, NextDeadline(), &why)) {
    return Fail(why);
  }
  if (debug_) Report(std::string("TLS started") + (verify ? ", certificate checked" : ", certificate not checked"));
  return true;
}

bool CMailSender::Hello(CMailChannel& channel, const std::string& name, std::string* extensions) {
  return Step(channel, "EHLO " + name + "\r\n", "EHLO", {"250"}, {}, extensions);
}

bool CMailSender::LogIn(CMailChannel& channel, const std::string& extensions, const std::string& user,
                        const std::string& password) {
  const std::string mechanisms = AuthMechanisms(extensions);
  if (mechanisms.find("PLAIN ") != std::string::npos) {
    return Step(channel, "AUTH PLAIN " + Base64(std::string(1, '\0') + user + '\0' + password) + "\r\n", "AUTH",
                {"235"}, "AUTH PLAIN ****\r\n");
  }
  if (mechanisms.find("LOGIN ") != std::string::npos) {
    return Step(channel, "AUTH LOGIN\r\n", "AUTH LOGIN", {"334"}) &&
           Step(channel, Base64(user) + "\r\n", "the user name", {"334"}, "****\r\n") &&
           Step(channel, Base64(password) + "\r\n", "the password", {"235"}, "****\r\n");
  }
  Quit(channel);
  return Fail("the server offers no login by AUTH PLAIN or LOGIN" +
              (mechanisms.empty() ? std::string(" (none at all)") : " (only " + mechanisms.substr(0, mechanisms.size() - 1) + ")"));
}

std::chrono::milliseconds CMailSender::NextWait() const {
  const auto now = std::chrono::steady_clock::now();
  if (deadline_ == std::chrono::steady_clock::time_point::max()) return options_.replyTimeout;
  if (now >= deadline_) return std::chrono::milliseconds(0);
  // Rounded up, so that a wait never ends just before the deadline and spins.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - now);
  return std::min(options_.replyTimeout, left);
}

CMailChannel::Deadline CMailSender::NextDeadline() const {
  return std::chrono::steady_clock::now() + NextWait();
}

MailSettings MailSettings::Load() {
  const CSettingsStore& store = AppSettings();
  MailSettings settings;
  settings.server = store.GetString("Settings", "mailserver");
  settings.from = store.GetString("Settings", "mailfrom");
  settings.domain = store.GetString("Settings", "maildomain");
  settings.port = store.GetInt("Settings", "mailport", kDefaultMailPort);
  settings.security = store.GetInt("Settings", "mailsecurity", kMailPlain);
  settings.user = store.GetString("Settings", "mailuser");
  settings.password = store.GetString("Settings", "mailpassword");
  settings.verify = store.GetInt("Settings", "mailverify", 1) != 0;
  settings.debug = store.GetInt("Settings", "maildebug", 0) != 0;
  return settings;
}

bool CMailSender::SendMail(std::string_view recipient, std::string_view body, std::string_view subject,
                           std::string_view text, bool includeBody) {
  return SendMail(MailSettings::Load(), recipient, body, subject, text, includeBody);
}

bool CMailSender::SendMail(const MailSettings& settings, std::string_view recipient, std::string_view body,
                           std::string_view subject, std::string_view text, bool includeBody) {
  deadline_ = std::chrono::steady_clock::now() + options_.dialogueDeadline;
  failure_.clear();
  lastReply_.clear();
  received_.clear();
  const std::string& server = settings.server;
  const std::string from = WithoutLineBreaks(settings.from);
  const std::string domain = WithoutLineBreaks(settings.domain);
  debug_ = settings.debug;
  const int32_t port = settings.port;
  const int32_t security = settings.security;
  const std::string user = WithoutLineBreaks(settings.user);
  const bool verify = settings.verify;

  if (port < 1 || port > 65535) return Fail("the mail port " + std::to_string(port) + " is not a port (1 to 65535)");
  if (security < kMailPlain || security > kMailTls) {
    return Fail("the mail security " + std::to_string(security) + " is unknown (0 none, 1 STARTTLS, 2 TLS)");
  }
  if (!user.empty() && security == kMailPlain) {
    return Fail("the user name and password are sent only over TLS: choose STARTTLS or TLS in the Email Settings "
                "(nothing was sent)");
  }
  if (debug_) Report("connecting to " + server);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  int lookupError = 0;
  if (!ServerAddress(server, &to.sin_addr, &lookupError)) {
    if (debug_) Report("Couldn't determine address for " + server + ", (" + std::to_string(lookupError) + ")");
    return Fail("cannot find the mail server \"" + server + "\" (" + std::to_string(lookupError) + ")");
  }
  CMailChannel channel;
  int connectError = 0;
  if (!channel.Connect(to, NextDeadline(), &connectError)) {
    if (debug_) Report("Couldn't connect to host(" + std::to_string(connectError) + ")");
    return Fail("cannot connect to " + server + " port " + std::to_string(port) + ": " + std::strerror(connectError));
  }
  if (security == kMailTls && !StartTls(channel, server, verify)) return false;

  const std::string sender = MailSenderAddress(from, domain);
  const std::string rcpt = WithoutLineBreaks(recipient);
  if (!Step(channel, "", "the connection", {"220"})) return false;
  if (security == kMailPlain) {
    if (!Step(channel, domain.empty() ? std::string("HELO\r\n") : "HELO " + domain + "\r\n", "HELO", {"250"})) {
      return false;
    }
  } else {
    // EHLO needs a name: the domain, else this computer's (the sender address ends with it).
    const std::size_t at = sender.rfind('@');
    const std::string name = !domain.empty() ? domain : at == std::string::npos ? "localhost" : sender.substr(at + 1);
    std::string extensions;
    if (!Hello(channel, name, &extensions)) return false;
    if (security == kMailStartTls) {
      if (!OffersExtension(extensions, "STARTTLS")) {
        Quit(channel);
        return Fail("the server does not offer STARTTLS, and the mail is never sent in plain text instead");
      }
      if (!Step(channel, "STARTTLS\r\n", "STARTTLS", {"220"})) return false;
      // Anything the server sent after its go-ahead came unprotected and is not read.
      received_.clear();
      if (!StartTls(channel, server, verify) || !Hello(channel, name, &extensions)) return false;
    }
    if (!user.empty() && !LogIn(channel, extensions, user, settings.password)) return false;
  }
  if (!Step(channel, "MAIL FROM:<" + sender + ">\r\n", "MAIL FROM", {"250", "251"}) ||
      !Step(channel, "RCPT TO:<" + rcpt + ">\r\n", "RCPT TO", {"250", "251"}) ||
      !Step(channel, "DATA\r\n", "DATA", {"354"})) {
    return false;
  }
  const std::time_t now = std::time(nullptr);
  SendCommand(channel, "From: " + sender + "\r\nTo: " + rcpt + "\r\nSubject: " + WithoutLineBreaks(subject) +
                           "\r\nDate: " + MailDate(now) + "\r\nMessage-ID: " + MessageId(now, sender) + "\r\n\r\n" +
                           ToSmtpData(text));
  if (includeBody) {
    SendCommand(channel, "\r\n");
    SendCommand(channel, ToSmtpData(body));
  }
  if (!Step(channel, "\r\n.\r\n", "the mail data", {"250"})) return false;
  Quit(channel);
  failure_.clear();
  return true;
}

bool CMailSender::ReadReply(CMailChannel& channel, std::string& reply) {
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
    if (NextWait().count() <= 0) {
      return Fail("the dialogue took longer than its " + std::to_string(options_.dialogueDeadline.count() / 1000) +
                  " s");
    }
    char buffer[1024];
    std::size_t count = 0;
    switch (channel.Receive(buffer, sizeof buffer, NextDeadline(), &count)) {
      case CMailChannel::Received::kData:
        received_.append(buffer, count);
        break;
      case CMailChannel::Received::kTimeout:
        if (NextWait().count() <= 0) continue;  // the deadline, said above
        return false;                           // the caller names the step that got no reply
      case CMailChannel::Received::kClosed:
        return Fail("the server closed the connection");
      case CMailChannel::Received::kFailed:
        return Fail("the connection to the server failed");
    }
  }
}

void CMailSender::SendCommand(CMailChannel& channel, std::string_view bytes, std::string_view shown) {
  // All or nothing by the deadline: a failure shows at the next reply.
  if (NextWait().count() > 0) channel.Send(bytes, NextDeadline());
  if (debug_) Report("We said >" + std::string(shown.empty() ? bytes : shown) + "<");
}

}  // namespace qv
