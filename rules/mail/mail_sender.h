#pragma once
// The "Send E-Mail" action's SMTP client: one TCP connection per mail to the server of the
// setting "mailserver", a fixed dialogue (greeting, HELO, MAIL FROM, RCPT TO, DATA, the data,
// QUIT) and the connection closed again. Reply codes are not examined: each step only waits for
// the reply line, so the dialogue runs to its end unless the connection or a wait fails.
//
// With the setting "maildebug" on, every step, every line sent and every reply is reported as a
// local message through the reporter, which is how a user diagnoses mail problems.
//
// The data is made safe for SMTP: line ends go out as CR LF, a line of the text or the body that
// begins with "." gets another "." (so a line "." cannot end the data early), and CR and LF are
// removed from the recipient, the subject and the sender address.
//
// One object per mail, used on one thread; SendMail blocks that thread for the whole dialogue,
// which ends by its overall deadline (60 s) however slowly the server trickles its replies.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "reception/syslog_sink.h"

namespace qv {

class CMailSender {
 public:
  struct Options {
    // The longest wait for each reply of the server, and for the connection to be made.
    std::chrono::milliseconds replyTimeout{30000};
    // 0: the service table's port for "smtp" over "tcp", or 25. Tests name a port of their own.
    uint16_t port = 0;
    // The longest the whole dialogue may take, from the look-up of the server to the farewell.
    std::chrono::milliseconds dialogueDeadline{60000};
  };

  // `reporter` must outlive the sender; it receives the "maildebug" reports.
  explicit CMailSender(CSyslogSink& reporter);
  CMailSender(CSyslogSink& reporter, Options options);

  // Sends one mail: the header lines "From:", "To:" and "Subject:", an empty line and `text`;
  // with `includeBody`, a line end and `body` (the message's comma-separated line) follow.
  // Reads the settings "mailserver", "mailfrom", "maildomain" and "maildebug" first. True when
  // the dialogue ran to its end (the reply to the data was read); false when the server cannot be
  // found or reached, a reply does not come in time or the dialogue's deadline passes. Never
  // throws.
  bool SendMail(std::string_view recipient, std::string_view body, std::string_view subject, std::string_view text,
                bool includeBody);

  // Waits for one reply line: true with `reply` holding the received chunk up to and including
  // its first line feed. A chunk without a line feed is replaced by the next one. False when no
  // data comes within the reply timeout, the dialogue's deadline passes (within SendMail), the
  // receive fails or the server closes the connection.
  bool ReadReply(int socket, std::string& reply);

  // Sends the bytes, stopping at the dialogue's deadline; the outcome is not examined (a failure
  // shows at the next reply).
  void SendCommand(int socket, std::string_view bytes);

 private:
  void Report(const std::string& text);
  // The reply timeout, or less when the dialogue's deadline is nearer; 0 once it has passed.
  std::chrono::milliseconds NextWait() const;

  CSyslogSink& reporter_;
  Options options_;
  bool debug_ = false;
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
};

// The data of a mail in SMTP form: every line end (CR LF, a lone LF or a lone CR) becomes CR LF,
// and a line that begins with "." gets another "." in front.
std::string ToSmtpData(std::string_view text);

// `text` without any CR or LF, for header values and command arguments.
std::string WithoutLineBreaks(std::string_view text);

}  // namespace qv
