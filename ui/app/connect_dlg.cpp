#include "ui/app/connect_dlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qv {

CConnectDlg::CConnectDlg(const RemoteTarget& offered, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Connect to Server");
  host_ = new QLineEdit(QString::fromStdString(offered.host));
  host_->setPlaceholderText("logs.example.org");
  port_ = new QSpinBox;
  port_->setRange(1, 65535);
  port_->setValue(offered.port > 0 ? offered.port : 6515);
  certificate_ = new QLineEdit(QString::fromStdString(offered.certificateFile));
  certificate_->setPlaceholderText("the file `qvreg viewer-cert NAME` wrote on the server");
  auto* browse = new QPushButton("&Browse...");
  connect(browse, &QPushButton::clicked, this, &CConnectDlg::Browse);
  auto* file = new QHBoxLayout;
  file->addWidget(certificate_, 1);
  file->addWidget(browse);
  auto* form = new QFormLayout;
  form->addRow("&Server:", host_);
  form->addRow("&Port:", port_);
  form->addRow("&Certificate file:", file);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText("Connect");
  connect(buttons, &QDialogButtonBox::accepted, this, &CConnectDlg::Check);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

RemoteTarget CConnectDlg::Target() const {
  RemoteTarget target;
  target.host = host_->text().trimmed().toStdString();
  target.port = port_->value();
  target.certificateFile = certificate_->text().trimmed().toStdString();
  return target;
}

void CConnectDlg::Browse() {
  const QString path = QFileDialog::getOpenFileName(this, "Certificate File", certificate_->text(),
                                                    "Certificate files (*.pem);;All Files (*)");
  if (!path.isEmpty()) certificate_->setText(path);
}

void CConnectDlg::Check() {
  if (host_->text().trimmed().isEmpty()) {
    QMessageBox::warning(this, "Connect to Server", "Enter the server's host name or address.");
    host_->setFocus();
    return;
  }
  if (!QFileInfo(certificate_->text().trimmed()).isReadable()) {
    QMessageBox::warning(this, "Connect to Server",
                         "Choose the certificate file made for this viewer on the server with "
                         "`qvreg viewer-cert NAME`; the file given cannot be read.");
    certificate_->setFocus();
    return;
  }
  accept();
}

}  // namespace qv
