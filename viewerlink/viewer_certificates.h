#pragma once
// The viewers' certificate authority, kept in the data root, and the certificates it signs.
// An administrator runs `qvreg viewer-cert NAME` and hands the viewer the one file it writes;
// the service needs no further step to accept that viewer, nor the viewer to trust the service.
//
//   <data root>/viewer-ca.pem       the CA certificate (made on first use, valid 20 years)
//   <data root>/viewer-ca.key       its private key
//   <data root>/viewer-server.pem   the service's certificate, when "viewercert" is empty,
//   <data root>/viewer-server.key   made by the service on its first start with the viewer link
//   <data root>/viewers/NAME.pem    a viewer's file: its certificate, its key, the CA certificate
//
// Keys are EC P-256. Private keys are created exclusively with mode 0600, or 0640 while the data
// root is shared with its group, so that the service's user and the group's administrators can
// both sign; never readable by others. Files are written whole (a temporary name, then renamed)
// so a crash leaves no half key. Made with the OpenSSL API, never by running a program.
//
// Not for concurrent use: two programs making the CA at the same moment would each make one and
// the later rename wins; the loser's certificates then fail to verify and are made again.

#include <string>

namespace qv {

struct ViewerCertificateFiles {
  std::string certificate;  // PEM: the certificate
  std::string key;          // PEM: its private key
};

// The CA's files, made now when missing. Returns false with `error` set to one line.
bool EnsureViewerCa(ViewerCertificateFiles* ca, std::string* error);

// The service's certificate and key signed by the CA, made now when missing (or when they no
// longer fit the CA). Named for the machine's host name, "localhost" and 127.0.0.1.
bool EnsureViewerServerCertificate(ViewerCertificateFiles* server, std::string* error);

// Writes <data root>/viewers/NAME.pem for a new viewer and sets `path` to it. NAME is 1 to 64
// letters, digits, '.', '_' or '-', not starting with '.'; an existing file is not replaced.
bool IssueViewerCertificate(const std::string& name, std::string* path, std::string* error);

}  // namespace qv
