#pragma once
// File > "Connect to Server..." and File > "Disconnect", and the question whether to trust a
// remote service whose certificate the viewer's CA did not sign (its fingerprint is then kept
// per host, see remote_settings.h). The document does the connecting.

#include <QObject>
#include <QString>

#include <string>

#include "ui/remote/remote_reception.h"

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
  // At start: a viewer closed while it followed a remote service asks whether to connect again.
  void OfferLastConnection();

 private:
  void OnUntrusted(const QString& address, const QString& fingerprint);
  // Remembers `target` as the last connection and follows it.
  void Follow(const RemoteTarget& target);

  CQuorvelDoc& doc_;
  QWidget* window_;
};

}  // namespace qv
