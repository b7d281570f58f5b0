#pragma once
// The syslog header forms read beside the classic "<PRI>Mmm dd hh:mm:ss host message": the
// RFC 5424 form, and the looser RFC 3164 forms that real devices send (sequence numbers, Cisco's
// '*' and '.' stamp marks, milliseconds, a year, an RFC 3339 stamp, a tag straight after the
// stamp). Each parser either reads the whole header or reports failure, so that the caller can
// fall back to the classic steps; none of them allocates unless it succeeds.
//
// Pure functions of the text; safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Which forms a receiver reads; the owner reads them once from section "Settings".
struct ParseOptions {
  bool rfc5424 = true;   // "rfc5424"
  bool lenient = true;   // "lenient"
  bool yearFix = false;  // "yearfix": a stamp without a year takes the year nearest to its arrival
};

// "rfc5424" (default 1), "lenient" (default 1) and "yearfix" (default 0).
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

// "<PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA [MSG]". The message becomes
// "APP-NAME[PROCID]: MSGID [SD...] MSG" without the parts that are "-" (and without the brackets
// of a "-" PROCID) and without MSG's UTF-8 byte-order mark. A "-" stamp gives time 0, a "-" host
// an empty host. Fails on any departure from the grammar, and on a host holding a comma.
std::optional<SyslogHeader> ParseRfc5424Header(std::string_view text);

// "<PRI>[NNN: ][*|.]STAMP[ UTC|GMT][:] [HOST ]MESSAGE" where STAMP is "Mmm dd [yyyy ]hh:mm:ss[.fff]" or an
// RFC 3339 stamp. The word after the stamp is a tag, not a host, when it ends in ':' or holds
// a '[' (or when the stamp ended in ':'); the host then stays empty and the message starts with
// the tag. Fails when no stamp is found, on a host word over 63 characters or holding a comma,
// and when no message follows.
std::optional<SyslogHeader> ParseLenientHeader(std::string_view text);

// True when the classic parser's host word is really something else: a tag ("su:", "sshd[42]:"),
// the fraction of a stamp (".123") or the colon that ends one (":"). The lenient parser then
// gets its chance.
bool LooksMisreadAsHost(std::string_view hostWord);

// UTC seconds of a BSD stamp's fields. A stamp without a year is placed in the UTC year of
// `received`, or, with `yearFix`, in the year before, of or after it that is nearest to
// `received`. Fields out of range carry into the next unit; 0 when the result does not fit.
int32_t BsdStampSeconds(const BsdStamp& stamp, int32_t received, bool yearFix);

}  // namespace qv
