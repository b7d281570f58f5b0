#pragma once
// The "Send E-Mail" action's SMTP client: one TCP connection per mail to the server of the
// setting "mailserver" at the port "mailport" (25), a fixed dialogue (greeting, HELO, MAIL FROM,
// RCPT TO, DATA, the data, QUIT) and the connection closed again. Each reply must carry the code
// its step expects (220, 250, 250 or 251, 250 or 251, 354, 250); at the first one that does not,
// the client says QUIT and the mail has failed, so a refused sender never gets its data sent as
// commands. Addresses go in angle brackets right after the colon, as strict servers require.
//
// Security ("mailsecurity"): 0 plain text; 1 STARTTLS after the greeting, and a server that does
// not offer it fails the mail (there is no falling back to plain text); 2 TLS from the first
// byte (port 465). With TLS the dialogue says EHLO (again after STARTTLS) to learn the server's
// extensions. With "mailverify" (1) the server's certificate must be trusted by the system's CA
// store and made out to the name or address in "mailserver"; 0 accepts any certificate.
//
// Login: with a user name ("mailuser"), the client logs in with "mailpassword" by AUTH PLAIN or,
// when the server offers only that, AUTH LOGIN. Credentials go only inside TLS: with security 0
// the mail fails before any connection is made. The password and the user name never appear in
// a report: the "maildebug" lines show the AUTH commands masked, and failure() never holds them.
//
// The sender address is "mailfrom" as it stands when it holds an "@", else "mailfrom@maildomain"
// (the computer's name for an empty domain). The data carries the header lines From, To,
// Subject, Date (RFC 5322 form, this computer's zone) and a Message-ID unique to the mail.
//
// With the setting "maildebug" on, every step, every line sent and every reply is reported as a
// local message through the reporter, which is how a user diagnoses mail problems. Whatever that
// setting, a failed mail leaves its reason in failure(); the action reports it (throttled).
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
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>

#include "reception/syslog_sink.h"
#include "rules/mail/mail_channel.h"

namespace qv {

inline constexpr int32_t kDefaultMailPort = 25;
// "mailsecurity"
enum MailSecurity : int32_t { kMailPlain = 0, kMailStartTls = 1, kMailTls = 2 };

// The settings of one mail, section "Settings".
struct MailSettings {
  std::string server;                // "mailserver": name or dotted address
  std::string from;                  // "mailfrom"
  std::string domain;                // "maildomain"
  int32_t port = kDefaultMailPort;   // "mailport"
  int32_t security = kMailPlain;     // "mailsecurity"
  std::string user;                  // "mailuser": empty, no login
  std::string password;              // "mailpassword"
  bool verify = true;                // "mailverify"
  bool debug = false;                // "maildebug"

  // Reads them from the settings store, absent ones as their defaults.
  static MailSettings Load();
};

class CMailSender {
 public:
  struct Options {
    // The longest wait for each reply of the server, and for the connection to be made.
    std::chrono::milliseconds replyTimeout{30000};
    // The longest the whole dialogue may take, from the look-up of the server to the farewell.
    std::chrono::milliseconds dialogueDeadline{60000};
    // A PEM file of CA certificates trusted instead of the system's store (tests make a CA).
    std::string trustStore;
  };

  // `reporter` must outlive the sender; it receives the "maildebug" reports.
  explicit CMailSender(CSyslogSink& reporter);
  CMailSender(CSyslogSink& reporter, Options options);

  // Sends one mail: the header lines "From:", "To:" and "Subject:", an empty line and `text`;
  // with `includeBody`, a line end and `body` (the message's comma-separated line) follow.
  // Reads the mail settings from the store first. True when the server accepted the data; false when the
  // settings cannot work, the server cannot be found or reached, TLS cannot be made or its
  // certificate is not trusted, a reply does not come in time or is not the expected one, or the
  // dialogue's deadline passes; then failure() says why in one line. Never throws.
  bool SendMail(std::string_view recipient, std::string_view body, std::string_view subject, std::string_view text,
                bool includeBody);
  // The same with the settings given (the Email Settings dialog's test mail).
  bool SendMail(const MailSettings& settings, std::string_view recipient, std::string_view body,
                std::string_view subject, std::string_view text, bool includeBody);

  // Waits for one reply: true with `reply` holding its lines, each with its line end; a reply of
  // several lines ("250-...") ends with the line whose code is followed by a blank. What the
  // server sent beyond it is kept for the next reply. False when no data comes within the reply
  // timeout, the dialogue's deadline passes (within SendMail), the receive fails, the server
  // closes the connection, or the reply grows beyond kMaxReplyBytes.
  static constexpr std::size_t kMaxReplyBytes = 4096;
  bool ReadReply(CMailChannel& channel, std::string& reply);

  // Sends the bytes, stopping at the dialogue's deadline; the outcome is not examined (a failure
  // shows at the next reply). The "maildebug" line shows `shown` instead when it is not empty.
  void SendCommand(CMailChannel& channel, std::string_view bytes, std::string_view shown = {});

  // Why the last SendMail failed ("the server answered MAIL FROM with 553 ..."); empty after
  // one that succeeded.
  const std::string& failure() const { return failure_; }
  // The last reply that decided a step (the acceptance of the data after a success, the refusal
  // after a failure), without its last line end; empty when none came.
  const std::string& lastReply() const { return lastReply_; }

 private:
  void Report(const std::string& text);
  bool Fail(std::string reason);
  // Sends `command` (nothing when empty; `shown` in its place in the debug line) and reads the
  // reply, which must begin with one of `expected` (three-digit codes); otherwise says QUIT and
  // fails with `step` named. `reply` receives the reply when given.
  bool Step(CMailChannel& channel, const std::string& command, std::string_view step,
            std::initializer_list<std::string_view> expected, std::string_view shown = {},
            std::string* reply = nullptr);
  // Says QUIT and awaits the farewell, which is not required.
  void Quit(CMailChannel& channel);
  // Runs the TLS handshake on the channel.
  bool StartTls(CMailChannel& channel, const std::string& server, bool verify);
  // EHLO; `extensions` receives the reply.
  bool Hello(CMailChannel& channel, const std::string& name, std::string* extensions);
  // AUTH PLAIN, else AUTH LOGIN, whichever the EHLO reply `extensions` offers.
  bool LogIn(CMailChannel& channel, const std::string& extensions, const std::string& user,
             const std::string& password);
  // The reply timeout, or less when the dialogue's deadline is nearer; 0 once it has passed.
  std::chrono::milliseconds NextWait() const;
  // Now plus NextWait().
  CMailChannel::Deadline NextDeadline() const;

  CSyslogSink& reporter_;
  Options options_;
  bool debug_ = false;
  std::string failure_;
  std::string lastReply_;
  std::string received_;  // read from the server and not yet taken as a reply
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
};

// The data of a mail in SMTP form: every line end (CR LF, a lone LF or a lone CR) becomes CR LF,
// and a line that begins with "." gets another "." in front.
std::string ToSmtpData(std::string_view text);

// `text` without any CR or LF, for header values and command arguments.
std::string WithoutLineBreaks(std::string_view text);

// The sender address: `from` as it stands when it holds an "@", else from@domain, else
// from@<this computer's name>, else `from` alone.
std::string MailSenderAddress(const std::string& from, const std::string& domain);

// The mechanisms of the AUTH line of an EHLO reply ("250-AUTH LOGIN PLAIN", also the older
// "250-AUTH=LOGIN"), upper-case, each followed by a blank; empty when there is none.
std::string AuthMechanisms(std::string_view ehloReply);

// True when the EHLO reply lists `keyword` (compared without regard to case) as an extension.
bool OffersExtension(std::string_view ehloReply, std::string_view keyword);

// An RFC 5322 date ("Tue, 08 Dec 2026 13:56:27 +0100") for `when` in the local zone.
std::string MailDate(std::time_t when);

}  // namespace qv
