#pragma once
// The first steps of every received datagram, shared by the windowed program and the service so
// that both read a datagram alike: line feeds after the first byte become spaces, the text is
// parsed with the header forms chosen at creation, and a record without a host name gets the
// sender's name from the cache when resolving is on. Only IPv4 senders are looked up: the cache
// knows no IPv6 address. The records of the program's own monitors get the same look-up
// (FillHostName), so a trap's agent is named like any sender.
//
// Meant for one thread, the receiving thread; Read may wait for a name look-up as long as
// CHostNameCache::Resolve does. Parsing never fails: whatever the text, a record comes back.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/message/host_name_cache.h"
#include "core/message/syslog_header.h"
#include "core/message/syslog_message.h"

namespace qv {

class CDatagramReader {
 public:
  // Names are looked up by `lookup` (the system's resolver by default).
  CDatagramReader(const ParseOptions& options, bool resolveNames,
                  CHostNameCache::ReverseLookup lookup = SystemReverseLookup);
  CDatagramReader(const CDatagramReader&) = delete;
  CDatagramReader& operator=(const CDatagramReader&) = delete;

  // The record of one datagram from the sender's dotted address and port.
  SyslogMessage Read(std::string_view senderAddress, int32_t senderPort, std::string_view text);
  // Gives a record without a host name its sender's name, when resolving is on.
  void FillHostName(SyslogMessage& record);

  void SetResolveNames(bool resolve) { resolveNames_ = resolve; }
  // The header forms read from the next datagram on.
  void SetOptions(const ParseOptions& options) { options_ = options; }
  // Forgets the names looked up so far (the windowed program does so when its store is emptied).
  void ForgetNames() { names_.Clear(); }

 private:
  ParseOptions options_;
  bool resolveNames_;
  CHostNameCache names_;
  std::string text_;  // the datagram with its line feeds flattened, reused between datagrams
};

}  // namespace qv
