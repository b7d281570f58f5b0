#pragma once
// File > "Connect to Server..." and File > "Disconnect", and the question whether to trust a
// remote service whose certificate the viewer's CA did not sign (its fingerprint is then kept
// per host, see remote_settings.h). The document does the connecting.

#include <QObject>
#include <QString>

#include <string>

class QWidget;

namespace qv {

class CQuorvelDoc;

class CRemoteCommands : public QObject {
  Q_OBJECT

 public:
  CRemoteCommands(CQuorvelDoc& doc, QWidget* window);

  // Asks for host, port and certificate file (the last connection offered), then connects.
  void OnConnect();
  void OnDisconnect();
  // `address` is "host:port"; false with `error` set when it is not. As the command line asks.
  bool ConnectTo(const std::string& address, const std::string& certificateFile, std::string* error);

 private:
  void OnUntrusted(const QString& address, const QString& fingerprint);

  CQuorvelDoc& doc_;
  QWidget* window_;
};

}  // namespace qv
