#pragma once
// The syslog header forms read beside the classic "<PRI>Mmm dd hh:mm:ss host message": the
// RFC 5424 form, and the looser RFC 3164 forms that real devices send (sequence numbers, Cisco's
// '*' and '.' stamp marks and origin, milliseconds, a year before or after the clock, an RFC 3339
// stamp, a tag straight after the stamp, no message, no priority). Each parser either reads the
// whole header or reports failure, so that the caller can fall back to the classic steps; none
// of them allocates unless it succeeds.
//
// Pure functions of the text; safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Which forms a receiver reads; the owner reads them from section "Settings" when it starts to
// receive. The members' initial values are the settings' defaults.
struct ParseOptions {
  bool rfc5424 = true;   // "rfc5424"
  bool lenient = true;   // "lenient"
  bool yearFix = false;  // "yearfix": a stamp without a year takes the year nearest to its arrival
  bool fullStructuredData = false;  // "rfc5424sd": RFC 5424 text as "APP[PROCID]: MSGID [SD] MSG"
};

// "rfc5424" (default 1), "lenient" (default 1), "yearfix" (default 0) and "rfc5424sd" (default 0).
ParseOptions ReadParseOptions();

// A BSD time stamp's fields ("Mmm dd [yyyy] hh:mm:ss"), month 0..11, year 0 when none was given.
struct BsdStamp {
  int year = 0;
  int month = 0;
  int day = 0, hour = 0, minute = 0, second = 0;
};

// What a header parser read. `timeSent` is already UTC seconds when the stamp carried a full date
// (RFC 3339, or a year); otherwise `bsd` holds the fields for the caller to place in a year.
struct SyslogHeader {
  int32_t priority = 0;
  std::optional<int32_t> timeSent;
  std::optional<BsdStamp> bsd;
  std::string hostName;
  std::string message;
};

// The priority given to a text that carries none: facility "user", severity "NOTICE".
inline constexpr int32_t kPlainPriority = 13;

// "<PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA [MSG]". The message becomes
// "APP-NAME[PROCID]: MSGID MSG [SD...]" without the parts that are "-" (and without the brackets
// of a "-" PROCID) and without MSG's UTF-8 byte-order mark. The structured data is shown only
// when it holds an element other than the informational "timeQuality", "origin" and "meta";
// with `fullStructuredData` the text is "APP-NAME[PROCID]: MSGID [SD...] MSG", all of it. A "-"
// stamp gives time 0, a "-" host an empty host. A host holding a comma always fails.
// Without `lenient` any departure from the grammar fails. With it, the faults real senders make
// are read: a priority above 191, APP-NAME, PROCID, MSGID, SD-ID and parameter names of any
// length, a stamp without offset (read as UTC) or with more than nine fraction digits, unquoted
// parameter values and blanks around '='; structured data that still cannot be read stays in
// the text.
std::optional<SyslogHeader> ParseRfc5424Header(std::string_view text, const ParseOptions& options = ParseOptions{});

// "<PRI>[ ][NNN: ][origin: ][*|.]STAMP[ UTC|GMT][:] [HOST ]MESSAGE", where STAMP is
// "Mmm dd [yyyy ]hh:mm:ss[.fff][ yyyy]" (the month in any case) or an RFC 3339 stamp (a blank
// may stand for 'T', the offset may be missing). The word after the stamp is the host when it
// could name one (letters, digits, ".-_:@/", not ending in ':'); a tag ("su:", "sshd[42]:",
// "%ASA-6-302013:") or anything else ("#001") is the start of the message, and the host stays
// empty. After a stamp ending in ':' (Cisco's form) the word is a host only when a tag follows
// it. "Message forwarded from HOST: " (AIX) names the host. A host may end the text (an empty
// message). A text without "<PRI>" must begin with the stamp and gets kPlainPriority. Fails
// when no stamp is found, on a host word over 63 characters, and when nothing follows the stamp.
std::optional<SyslogHeader> ParseLenientHeader(std::string_view text);

// True when the classic parser's host word (and the message after it) is really something else:
// a word that could not name a host ("su:", "sshd[42]:", "#001"), the fraction of a stamp
// (".123"), the colon that ends one (":"), a year after the clock ("2007"), or AIX's "Message
// forwarded from". The lenient parser then gets its chance.
bool LooksMisreadAsHost(std::string_view hostWord, std::string_view message);

// UTC seconds of a BSD stamp's fields. A stamp without a year is placed in the UTC year of
// `received`, or, with `yearFix`, in the year before, of or after it that is nearest to
// `received`. Fields out of range carry into the next unit; 0 when the result does not fit.
int32_t BsdStampSeconds(const BsdStamp& stamp, int32_t received, bool yearFix);

}  // namespace qv
