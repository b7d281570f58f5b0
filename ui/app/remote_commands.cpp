#include "ui/app/remote_commands.h"

#include <QMessageBox>
#include <QWidget>

#include "ui/app/connect_dlg.h"
#include "ui/remote/remote_settings.h"
#include "ui/store/quorvel_doc.h"

namespace qv {

CRemoteCommands::CRemoteCommands(CQuorvelDoc& doc, QWidget* window) : QObject(window), doc_(doc), window_(window) {
  connect(&doc_, &CQuorvelDoc::remoteUntrusted, this, &CRemoteCommands::OnUntrusted);
}

void CRemoteCommands::OnConnect() {
  CConnectDlg dialog(LastRemoteTarget(), window_);
  if (dialog.exec() != QDialog::Accepted) return;
  Follow(dialog.Target());
}

void CRemoteCommands::OnDisconnect() {
  RememberRemoteActive(false);
  doc_.DisconnectRemote();
}

void CRemoteCommands::Follow(const RemoteTarget& target) {
  RememberRemoteTarget(target);
  RememberRemoteActive(true);
  doc_.ConnectRemote(WithStoredTrust(target));
}

void CRemoteCommands::OfferLastConnection() {
  if (!RemoteWasActive()) return;
  const RemoteTarget last = LastRemoteTarget();
  const QString question = QString("Quorvel was showing the messages of %1:%2 when it closed. Connect to it again?")
                               .arg(QString::fromStdString(last.host))
                               .arg(last.port);
  if (QMessageBox::question(window_, "Connect to Server", question, QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::Yes) == QMessageBox::Yes) {
    Follow(last);
  } else {
    RememberRemoteActive(false);
  }
}

bool CRemoteCommands::ConnectTo(const std::string& address, const std::string& certificateFile, std::string* error) {
  RemoteTarget target;
  if (!ParseRemoteAddress(address, &target.host, &target.port)) {
    *error = "\"" + address + "\" is not host:port";
    return false;
  }
  target.certificateFile = certificateFile;
  Follow(target);
  return true;
}

void CRemoteCommands::OnUntrusted(const QString& address, const QString& fingerprint) {
  const CRemoteReception* remote = doc_.Remote();
  if (remote == nullptr || fingerprint.isEmpty()) return;  // the file itself is the trouble: the status says so
  // Taken now: while the question is open, the user may disconnect or connect elsewhere.
  RemoteTarget target = remote->target();
  const QString question =
      QString("The server %1 shows a certificate that the CA in your certificate file did not sign.\n\n"
              "Its SHA-256 fingerprint is\n%2\n\n"
              "Compare it with the one on the server (openssl x509 -noout -fingerprint -sha256 -in "
              "viewer-server.pem in its data root). Trust this server from now on?")
          .arg(address, fingerprint);
  if (QMessageBox::question(window_, "Connect to Server", question, QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  PinRemoteFingerprint(target.host, fingerprint.toStdString());
  doc_.ConnectRemote(WithStoredTrust(target));
}

}  // namespace qv
