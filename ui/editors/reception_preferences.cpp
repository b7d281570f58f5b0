#include "ui/editors/reception_preferences.h"

#include "core/message/syslog_header.h"
#include "core/settings/settings_store.h"
#include "reception/stream_forwarder.h"
#include "reception/syslog_receivers.h"
#include "viewerlink/viewer_server.h"

namespace qv {
namespace {

std::string Number(int32_t value) { return std::to_string(static_cast<uint32_t>(value)); }

bool Blank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

ReceptionFields ReceptionFields::Load() {
  const ParseOptions forms = ReadParseOptions();
  const ReceiverSettings receivers = ReceiverSettings::Read();
  ReceptionFields f;
  f.rfc5424 = forms.rfc5424;
  f.rfc5424sd = forms.fullStructuredData;
  f.lenient = forms.lenient;
  f.yearfix = forms.yearFix;
  f.ipv6 = receivers.ipv6;
  f.tcpport = Number(receivers.tcpPort);
  f.tcpmaxconn = Number(receivers.tcpMaxConnections);
  f.tlsport = Number(receivers.tlsPort);
  f.tlscert = receivers.tlsCertificate;
  f.tlskey = receivers.tlsKey;
  f.tlsca = receivers.tlsCa;
  const CStreamForwarder::Options forwarding = CStreamForwarder::Options::Read();
  f.forwardqueue = std::to_string(forwarding.maxBytes / (1024 * 1024));
  f.forwardca = forwarding.tls.caPath;
  f.forwardcert = forwarding.tls.certificatePath;
  f.forwardkey = forwarding.tls.keyPath;
  const ViewerLinkSettings viewers = ViewerLinkSettings::Read();
  f.viewerport = Number(viewers.port);
  f.viewercert = viewers.certificate;
  f.viewerkey = viewers.key;
  f.viewerca = viewers.ca;
  return f;
}

std::optional<FieldError<ReceptionField>> CheckReception(const ReceptionFields& f, ReceptionValues& values) {
  constexpr uint32_t kHighestPort = ReceiverSettings::kHighestPort;
  const struct {
    ReceptionField field;
    const std::string& text;
    uint32_t min, max;
    int32_t& value;
  } numbers[] = {
      {ReceptionField::kTcpPort, f.tcpport, 0, kHighestPort, values.tcpPort},
      {ReceptionField::kTcpMaxConnections, f.tcpmaxconn, 1, ReceiverSettings::kMostConnections, values.tcpMaxConnections},
      {ReceptionField::kTlsPort, f.tlsport, 0, kHighestPort, values.tlsPort},
      {ReceptionField::kForwardQueue, f.forwardqueue, 1, 65536, values.forwardQueue},
      {ReceptionField::kViewerPort, f.viewerport, 0, kHighestPort, values.viewerPort},
  };
  for (const auto& number : numbers) {
    const UnsignedField field = ReadUnsignedField(number.text, number.min, number.max);
    if (!field.ok()) return FieldError<ReceptionField>{number.field, field.error};
    number.value = static_cast<int32_t>(field.value);
  }
  // Both servers would bind the same port, and the second would fail when listening starts.
  if (values.tcpPort != 0 && values.tcpPort == values.tlsPort) {
    return FieldError<ReceptionField>{ReceptionField::kTlsPort, "The TCP and TLS ports must differ."};
  }
  if (values.tlsPort != 0 && Blank(f.tlscert)) {
    return FieldError<ReceptionField>{ReceptionField::kTlsCertificate,
                                      "Syslog over TLS needs a certificate file (PEM), or a TLS port of 0."};
  }
  if (values.tlsPort != 0 && Blank(f.tlskey)) {
    return FieldError<ReceptionField>{ReceptionField::kTlsKey,
                                      "Syslog over TLS needs a private key file (PEM), or a TLS port of 0."};
  }
  // A key alone fails every forwarding connection (a certificate alone may hold its key); the
  // service's certificate for viewers is used only with its key, and its own made otherwise.
  if (!Blank(f.forwardkey) && Blank(f.forwardcert)) {
    return FieldError<ReceptionField>{ReceptionField::kForwardCertificate,
                                      "A private key for forwarding needs its client certificate file (PEM)."};
  }
  if (Blank(f.viewercert) != Blank(f.viewerkey)) {
    return FieldError<ReceptionField>{
        Blank(f.viewerkey) ? ReceptionField::kViewerKey : ReceptionField::kViewerCertificate,
        "The service's certificate for remote viewers and its private key go together: give both PEM files, or "
        "neither (the service then makes its own)."};
  }
  if (values.viewerPort != 0 && (values.viewerPort == values.tcpPort || values.viewerPort == values.tlsPort)) {
    return FieldError<ReceptionField>{ReceptionField::kViewerPort,
                                      "The remote viewers' port must differ from the TCP and TLS ports."};
  }
  return std::nullopt;
}

void SaveReception(const ReceptionFields& f, const ReceptionValues& values) {
  const CSettingsStore& store = AppSettings();
  const auto set = [&](const char* name, int32_t value) { store.SetInt("Settings", name, value); };
  set("rfc5424", f.rfc5424);
  set("rfc5424sd", f.rfc5424sd);
  set("lenient", f.lenient);
  set("yearfix", f.yearfix);
  set("ipv6", f.ipv6);
  set("tcpport", values.tcpPort);
  set("tcpmaxconn", values.tcpMaxConnections);
  set("tlsport", values.tlsPort);
  store.SetString("Settings", "tlscert", f.tlscert.c_str());
  store.SetString("Settings", "tlskey", f.tlskey.c_str());
  store.SetString("Settings", "tlsca", f.tlsca.c_str());
  set("forwardqueue", values.forwardQueue);
  set("viewerport", values.viewerPort);
  const std::pair<const char*, const std::string&> files[] = {
      {"forwardca", f.forwardca},   {"forwardcert", f.forwardcert}, {"forwardkey", f.forwardkey},
      {"viewercert", f.viewercert}, {"viewerkey", f.viewerkey},     {"viewerca", f.viewerca},
  };
  for (const auto& [name, file] : files) store.SetString("Settings", name, file.c_str());
}

}  // namespace qv
