#include "ui/app/message_box_dlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>

#include "core/settings/settings_store.h"
#include "ui/model/message_list_model.h"

namespace qv {
namespace {

// The one box of the process; replaced, never stacked.
QPointer<CMessageBoxDlg>& CurrentBox() {
  static QPointer<CMessageBoxDlg> box;
  return box;
}

// Rules run on the user-interface thread in this program, but a box must be made there whatever
// thread asks.
template <typename Show>
void OnUserInterfaceThread(Show show) {
  if (QThread::currentThread() == qApp->thread()) {
    show();
  } else {
    QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
  }
}

}  // namespace

CMessageBoxDlg::CMessageBoxDlg(const QString& caption, const QString& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), text_(new QLabel(text)) {
  setWindowTitle(caption);
  setModal(false);
  text_->setWordWrap(true);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text_->setTextFormat(Qt::PlainText);
  text_->setMinimumWidth(320);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(buttons);

  timeoutSeconds_ = AppSettings().GetInt("Settings", "msgboxtime", 30);
  if (timeoutSeconds_ > 0) {
    timeout_.setSingleShot(true);
    timeout_.setInterval(timeoutSeconds_ * 1000);
    connect(&timeout_, &QTimer::timeout, this, &QDialog::accept);
    timeout_.start();
  }
  connect(this, &QDialog::finished, &timeout_, &QTimer::stop);

  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
    QRect frame = geometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

QString CMessageBoxDlg::text() const { return text_->text(); }

void CWindowMessageBoxes::ShowMessageBox(const std::string& caption, const std::string& text) {
  OnUserInterfaceThread([caption, text] {
    QPointer<CMessageBoxDlg>& current = CurrentBox();
    delete current.data();
    current = new CMessageBoxDlg(DisplayText(caption), DisplayText(text));
    current->show();
    current->raise();
  });
}

void CWindowMessageBoxes::ShowUnknownRule(const std::string& ruleName) {
  OnUserInterfaceThread([ruleName] {
    auto* box = new QMessageBox(QMessageBox::NoIcon, "Unknown rule fired", DisplayText(ruleName), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  });
}

CMessageBoxDlg* CWindowMessageBoxes::Current() { return CurrentBox().data(); }

}  // namespace qv
