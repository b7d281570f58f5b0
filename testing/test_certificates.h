#pragma once
// Certificates made by a test with the openssl tool, in a folder of the test's own (valid for
// two days, P-256 keys): a CA; a server certificate it signed for "localhost" and 127.0.0.1; one
// it signed for another name only; a self-signed server certificate for the same names that no
// CA vouches for; and a client certificate the CA signed. Make() is false when the tool is
// missing or fails; the test should then skip.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace qv::testing {

class TestCertificates {
 public:
  explicit TestCertificates(std::filesystem::path folder) : folder_(std::move(folder)) {}

  bool Make() const {
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ / "server.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    std::ofstream(folder_ / "other.ext") << "subjectAltName=DNS:other.example\n";
    std::ofstream(folder_ / "client.ext") << "extendedKeyUsage=clientAuth\n";
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2";
    const auto signedBy = [&](const std::string& name, const std::string& subject) {
      return Run("req" + key + " -subj /CN=" + subject + " -keyout " + Path(name + "-key.pem") + " -out " +
                 Path(name + ".csr")) &&
             Run("x509 -req -days 2 -in " + Path(name + ".csr") + " -CA " + ca() + " -CAkey " + Path("ca-key.pem") +
                 " -CAcreateserial -extfile " + Path(name + ".ext") + " -out " + Path(name + ".pem"));
    };
    return Run("req -x509" + key + " -subj /CN=Quorvel-Test-CA -keyout " + Path("ca-key.pem") + " -out " + ca() +
               " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign") &&
           signedBy("server", "localhost") && signedBy("other", "other.example") && signedBy("client", "edge") &&
           Run("req -x509" + key + " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
               Path("rogue-key.pem") + " -out " + Path("rogue.pem"));
  }

  std::string ca() const { return Path("ca.pem"); }
  // "server", "other", "rogue" or "client".
  std::string certificate(const std::string& name) const { return Path(name + ".pem"); }
  std::string key(const std::string& name) const { return Path(name + "-key.pem"); }

 private:
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  static bool Run(const std::string& arguments) {
    return std::system(("openssl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
  }

  std::filesystem::path folder_;
};

}  // namespace qv::testing
