#pragma once
// "Connect to Server": the host and port of a remote service and the viewer's certificate file
// (as `qvreg viewer-cert` writes it: certificate, key and CA in one PEM file).

#include <QDialog>

#include "ui/remote/remote_reception.h"

class QLineEdit;
class QSpinBox;

namespace qv {

class CConnectDlg : public QDialog {
  Q_OBJECT

 public:
  // Shows `offered` (the last connection) to start with.
  explicit CConnectDlg(const RemoteTarget& offered, QWidget* parent = nullptr);

  // Host, port and file as entered (pin and backfill left empty).
  RemoteTarget Target() const;

 private:
  void Browse();
  void Check();

  QLineEdit* host_;
  QSpinBox* port_;
  QLineEdit* certificate_;
};

}  // namespace qv
