#pragma once
// The settings of the "Preferences" and "Email Settings" dialogs and the severity colours,
// without the windows: reading them with their defaults, validating the numeric fields with the
// messages users know, and writing them in a fixed order. Not thread-safe.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "rules/mail/mail_sender.h"
#include "ui/editors/field_validation.h"
#include "ui/editors/reception_preferences.h"

namespace qv {

struct PreferencesFields {
  // Numeric fields as typed.
  std::string maxsize;      // "Maximum number of entries shown", 1..10000000
  std::string udpport;      // "Syslog server port", 1..32767
  std::string timemark;     // "Time Mark (Minutes)", 0..60000
  std::string historysize;  // "History size (KB)", any unsigned number
  std::string msgboxtime;   // "Time Message Box Timeout (Seconds)", 0..32767
  int dblclick = 2;         // 0 "Browser", 1 "Telnet", 2 "Find"
  bool resolve = false;
  bool resolvetextip = false;
  bool timeutc = false;
  bool loadhistory = true;
  bool startHidden = false;  // "Start Hidden": read from "hideifmini", written to it and "startminimized"
  bool startserver = true;
  bool promptforsave = false;
  bool maildebug = false;
  ReceptionFields reception;  // the "Reception" and "Forwarding and Viewers" pages
};

inline constexpr const char* kDefaultPortText = "514";

class CPreferences {
 public:
  // The numeric and file fields, the "Reception" and "Forwarding and Viewers" pages' last (in
  // ReceptionField's order).
  enum class Field {
    kMaxSize,
    kUdpPort,
    kTimeMark,
    kHistorySize,
    kMessageBoxTime,
    kTcpPort,
    kTcpMaxConnections,
    kTlsPort,
    kTlsCertificate,
    kTlsKey,
    kForwardQueue,
    kForwardCertificate,
    kForwardKey,
    kViewerPort,
    kViewerCertificate,
    kViewerKey
  };
  using Error = FieldError<Field>;

  static PreferencesFields Load();
  // Validates every numeric field and the "Reception" page (first failing one reported, nothing
  // written), then writes udpport, startserver, loadhistory, historysize, maxsize, resolve,
  // resolvetextip, hideifmini, startminimized, promptforsave, msgboxtime, maildebug, timeutc,
  // dblclick, timemark, and the "Reception" page's settings (SaveReception).
  static std::optional<Error> Save(const PreferencesFields& fields);
};

// The severity colours "color0".."color7" (red in the lowest byte, then green, then blue).
// Choices are stored the moment they are made, so a cancelled Preferences dialog keeps them.
class CSeverityColours {
 public:
  static constexpr int kCount = 8;
  static uint32_t Default(int severity);  // the list view's default table
  static uint32_t Get(int severity);
  static void Set(int severity, uint32_t colour);
  // Stores and returns the default colour.
  static uint32_t Reset(int severity);
};

struct EmailSettings {
  std::string server;  // "mailserver"
  std::string from;    // "mailfrom"
  std::string domain;  // "maildomain"
  std::string subject; // "mailsubject"
  std::string text;    // "mailtext"
  bool include = true; // "includemsg"
  std::string port = std::to_string(kDefaultMailPort);  // "mailport" as typed, 1..65535
  int32_t security = kMailPlain;  // "mailsecurity"
  std::string user;               // "mailuser"
  std::string password;           // "mailpassword", kept in the settings store only
  bool verify = true;             // "mailverify"

  enum class Field { kPort };
  using Error = FieldError<Field>;

  static EmailSettings Load();
  // The settings of a mail sent with these values ("maildebug" off); the port must be valid.
  std::optional<Error> Read(MailSettings& mail) const;
  // Validates the port (nothing written when it fails), then writes includemsg, mailfrom,
  // maildomain, mailsubject, mailtext, mailserver, mailport, mailsecurity, mailuser,
  // mailpassword, mailverify; texts as typed, empty ones too.
  std::optional<Error> Save() const;
};

// The port a change of security suggests: a port field that holds the usual port of some
// security (25, 587, 465) gets the usual one of `security`; any other port stays as typed.
std::string SuggestedMailPort(const std::string& port, int32_t security);

}  // namespace qv
