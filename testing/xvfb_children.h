#pragma once
// What the viewer's X server tests share: processes they start and end by their ids, datagrams
// to the program under test on 127.0.0.1, and pixel counts of a photographed screen.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

namespace qv::testing {

// A started process, ended by its id when the test is done.
class Child {
 public:
  ~Child() { Stop(); }
  bool Start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(program, arguments);
    return process_.waitForStarted(5000);
  }
  bool Running() const { return process_.state() == QProcess::Running; }
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    if (!process_.waitForFinished(5000)) {
      ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
      process_.waitForFinished(2000);
    }
  }

 private:
  QProcess process_;
};

inline void SendDatagram(int port, const std::string& text) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::close(fd);
}

// Pixels of exactly this colour.
inline int CountColour(const QImage& image, QRgb colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) count += (row[x] & 0xFFFFFF) == (colour & 0xFFFFFF) ? 1 : 0;
  }
  return count;
}

}  // namespace qv::testing
