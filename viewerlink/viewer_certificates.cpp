#include "viewerlink/viewer_certificates.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/paths/data_root.h"

namespace qv {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

constexpr long kDay = 24 * 60 * 60;

enum class Role { kCa, kServer, kClient };

std::string OpenSslError(const char* what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return what;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

// Secrets stay with the user, or with the group of a shared data root.
mode_t KeyFileMode() { return IsSharedWithGroup(DataRoot()) ? 0640 : 0600; }

Key NewKey() { return Key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free); }

bool AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

// A certificate for `key` named `commonName`, signed by `issuerKey` (itself, with no issuer).
Certificate Sign(EVP_PKEY* key, const std::string& commonName, Role role, X509* issuer, EVP_PKEY* issuerKey,
                 const std::string& altNames) {
  Certificate certificate(X509_new(), X509_free);
  if (!certificate) return certificate;
  X509* made = certificate.get();
  std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(BN_new(), BN_free);
  const int years = role == Role::kCa ? 20 : 10;
  bool ok = serial && BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
            BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(made)) != nullptr &&
            X509_set_version(made, 2) == 1 && X509_gmtime_adj(X509_getm_notBefore(made), -kDay) != nullptr &&
            X509_gmtime_adj(X509_getm_notAfter(made), years * 365 * kDay) != nullptr &&
            X509_set_pubkey(made, key) == 1;
  X509_NAME* name = X509_get_subject_name(made);
  ok = ok &&
       X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Quorvel"), -1,
                                  -1, 0) == 1 &&
       X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                  reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0) == 1 &&
       X509_set_issuer_name(made, issuer != nullptr ? X509_get_subject_name(issuer) : name) == 1;
  X509* signer = issuer != nullptr ? issuer : made;
  ok = ok && AddExtension(made, signer, NID_subject_key_identifier, "hash") &&
       AddExtension(made, signer, NID_authority_key_identifier, "keyid:always");
  switch (role) {
    case Role::kCa:
      ok = ok && AddExtension(made, signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
           AddExtension(made, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
      break;
    case Role::kServer:
      ok = ok && AddExtension(made, signer, NID_basic_constraints, "critical,CA:FALSE") &&
           AddExtension(made, signer, NID_key_usage, "critical,digitalSignature") &&
           AddExtension(made, signer, NID_ext_key_usage, "serverAuth") &&
           AddExtension(made, signer, NID_subject_alt_name, altNames);
      break;
    case Role::kClient:
      ok = ok && AddExtension(made, signer, NID_basic_constraints, "critical,CA:FALSE") &&
           AddExtension(made, signer, NID_key_usage, "critical,digitalSignature") &&
           AddExtension(made, signer, NID_ext_key_usage, "clientAuth");
      break;
  }
  ok = ok && X509_sign(made, issuerKey, EVP_sha256()) > 0;
  if (!ok) certificate.reset();
  return certificate;
}

std::string Pem(X509* certificate, EVP_PKEY* key) {
  Bio memory(BIO_new(BIO_s_mem()), BIO_free);
  if (!memory) return {};
  if (certificate != nullptr && PEM_write_bio_X509(memory.get(), certificate) != 1) return {};
  if (key != nullptr && PEM_write_bio_PrivateKey(memory.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return {};
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(memory.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

// Writes `text` under a temporary name and moves it to `path` (replacing it, or with
// `exclusive` failing when it exists). False with `error` set.
bool WriteWhole(const std::string& path, const std::string& text, bool exclusive, std::string* error) {
  const std::string temporary = path + ".new" + std::to_string(getpid());
  unlink(temporary.c_str());
  const mode_t mode = KeyFileMode();
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    *error = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  const bool written = fchmod(fd, mode) == 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       fsync(fd) == 0;
  const int reason = errno;
  close(fd);
  bool placed = false;
  if (written) placed = exclusive ? link(temporary.c_str(), path.c_str()) == 0 : rename(temporary.c_str(), path.c_str()) == 0;
  const int placeReason = errno;
  if (!placed || exclusive) unlink(temporary.c_str());
  if (!written) *error = "cannot write " + temporary + ": " + std::strerror(reason);
  if (written && !placed) *error = "cannot create " + path + ": " + std::strerror(placeReason);
  return placed;
}

Certificate ReadCertificate(const std::string& path) {
  Bio file(BIO_new_file(path.c_str(), "r"), BIO_free);
  return Certificate(file ? PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr) : nullptr, X509_free);
}

Key ReadKey(const std::string& path) {
  Bio file(BIO_new_file(path.c_str(), "r"), BIO_free);
  return Key(file ? PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
}

struct LoadedCa {
  Certificate certificate{nullptr, X509_free};
  Key key{nullptr, EVP_PKEY_free};
};

bool LoadCa(LoadedCa* ca, std::string* error) {
  ViewerCertificateFiles files;
  if (!EnsureViewerCa(&files, error)) return false;
  ca->certificate = ReadCertificate(files.certificate);
  ca->key = ReadKey(files.key);
  if (!ca->certificate || !ca->key || X509_check_private_key(ca->certificate.get(), ca->key.get()) != 1) {
    *error = OpenSslError(("cannot read the viewers' CA " + files.certificate + " and " + files.key).c_str());
    return false;
  }
  return true;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name.front() == '.') return false;
  for (char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '_' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace

bool EnsureViewerCa(ViewerCertificateFiles* ca, std::string* error) {
  ca->certificate = DataPath("viewer-ca.pem");
  ca->key = DataPath("viewer-ca.key");
  if (access(ca->certificate.c_str(), F_OK) == 0 && access(ca->key.c_str(), F_OK) == 0) return true;
  if (!EnsureDataRoot()) {
    *error = "cannot create the data root " + DataRoot();
    return false;
  }
  ERR_clear_error();
  Key key = NewKey();
  Certificate certificate = key ? Sign(key.get(), "Quorvel viewers' CA on " + HostName(), Role::kCa, nullptr,
                                       key.get(), "")
                                : Certificate(nullptr, X509_free);
  if (!certificate) {
    *error = OpenSslError("cannot make the viewers' CA");
    return false;
  }
  // The key first: a certificate without its key would be taken for a whole CA.
  return WriteWhole(ca->key, Pem(nullptr, key.get()), false, error) &&
         WriteWhole(ca->certificate, Pem(certificate.get(), nullptr), false, error);
}

bool EnsureViewerServerCertificate(ViewerCertificateFiles* server, std::string* error) {
  server->certificate = DataPath("viewer-server.pem");
  server->key = DataPath("viewer-server.key");
  ViewerCertificateFiles caFiles;
  if (!EnsureViewerCa(&caFiles, error)) return false;
  // A certificate made before needs only the CA's certificate to be checked, not its key.
  Certificate caCertificate = ReadCertificate(caFiles.certificate);
  Certificate existing = ReadCertificate(server->certificate);
  Key existingKey = ReadKey(server->key);
  if (caCertificate && existing && existingKey && X509_check_private_key(existing.get(), existingKey.get()) == 1 &&
      X509_verify(existing.get(), X509_get0_pubkey(caCertificate.get())) == 1) {
    return true;
  }
  ERR_clear_error();
  LoadedCa ca;
  if (!LoadCa(&ca, error)) return false;
  const std::string host = HostName();
  Key key = NewKey();
  Certificate certificate = key ? Sign(key.get(), host, Role::kServer, ca.certificate.get(), ca.key.get(),
                                       "DNS:" + host + ",DNS:localhost,IP:127.0.0.1,IP:::1")
                                : Certificate(nullptr, X509_free);
  if (!certificate) {
    *error = OpenSslError("cannot make the service's viewer certificate");
    return false;
  }
  return WriteWhole(server->key, Pem(nullptr, key.get()), false, error) &&
         WriteWhole(server->certificate, Pem(certificate.get(), nullptr), false, error);
}

bool IssueViewerCertificate(const std::string& name, std::string* path, std::string* error) {
  if (!ValidName(name)) {
    *error = "\"" + name + "\" is not a viewer name: use 1 to 64 letters, digits, '.', '_' or '-'";
    return false;
  }
  LoadedCa ca;
  if (!LoadCa(&ca, error)) return false;
  const std::string folder = DataPath("viewers");
  if (mkdir(folder.c_str(), 0770) != 0 && errno != EEXIST) {
    *error = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  *path = folder + "/" + name + ".pem";
  if (access(path->c_str(), F_OK) == 0) {
    *error = *path + " exists already; remove it to make a new one";
    return false;
  }
  ERR_clear_error();
  Key key = NewKey();
  Certificate certificate = key ? Sign(key.get(), name, Role::kClient, ca.certificate.get(), ca.key.get(), "")
                                : Certificate(nullptr, X509_free);
  if (!certificate) {
    *error = OpenSslError("cannot make the viewer's certificate");
    return false;
  }
  return WriteWhole(*path, Pem(certificate.get(), key.get()) + Pem(ca.certificate.get(), nullptr), true, error);
}

}  // namespace qv
