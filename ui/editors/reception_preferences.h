#pragma once
// The "Reception" and "Forwarding and Viewers" pages of Preferences without the window: the
// header forms the receivers read ("rfc5424", "rfc5424sd", "lenient", "yearfix"), IPv6 ("ipv6"),
// syslog over TCP ("tcpport", "tcpmaxconn") and over TLS ("tlsport", "tlscert", "tlskey",
// "tlsca"); forwarding to tcp:// and tls:// destinations ("forwardqueue", "forwardca",
// "forwardcert", "forwardkey"); and the service's remote viewers ("viewerport", "viewercert",
// "viewerkey", "viewerca"). They are read with the defaults of the code that uses them
// (ParseOptions, ReceiverSettings, CStreamForwarder::Options, ViewerLinkSettings), checked, and
// written on OK; the service and the viewer's own listening take them up when they start, which
// apply settings brings about.

#include <cstdint>
#include <optional>
#include <string>

#include "ui/editors/field_validation.h"

namespace qv {

struct ReceptionFields {
  bool rfc5424 = true;
  bool rfc5424sd = false;
  bool lenient = true;
  bool yearfix = false;
  bool ipv6 = false;
  // Numbers as typed.
  std::string tcpport;     // 0 (off) to 65535
  std::string tcpmaxconn;  // 1 to 1000000
  std::string tlsport;     // 0 (off) to 65535
  // PEM files; a TLS port needs the certificate and the key, the authority is optional.
  std::string tlscert, tlskey, tlsca;
  std::string forwardqueue = "64";  // MiB per destination, 1 to 65536
  // PEM files; empty authorities mean the system's, an empty key the certificate's file.
  std::string forwardca, forwardcert, forwardkey;
  std::string viewerport = "0";  // 0 (off) to 65535
  // PEM files; empty means the service's own certificate and the data root's viewers' CA.
  std::string viewercert, viewerkey, viewerca;

  static ReceptionFields Load();
};

enum class ReceptionField {
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

// The checked numbers of a ReceptionFields.
struct ReceptionValues {
  int32_t tcpPort = 0;
  int32_t tcpMaxConnections = 0;
  int32_t tlsPort = 0;
  int32_t forwardQueue = 0;
  int32_t viewerPort = 0;
};

// The numbers' ranges with the messages of the other numeric fields, then: the TCP, TLS and
// viewers' ports differ where they are on, a TLS port has a certificate and a key file, a key
// for forwarding has its certificate (which may hold the key itself), and the service's
// certificate for viewers and its key are given together.
std::optional<FieldError<ReceptionField>> CheckReception(const ReceptionFields& fields, ReceptionValues& values);

// Writes rfc5424, rfc5424sd, lenient, yearfix, ipv6, tcpport, tcpmaxconn, tlsport, tlscert,
// tlskey, tlsca, forwardqueue, forwardca, forwardcert, forwardkey, viewerport, viewercert,
// viewerkey, viewerca: the values CheckReception accepted, the file names as typed.
void SaveReception(const ReceptionFields& fields, const ReceptionValues& values);

}  // namespace qv
