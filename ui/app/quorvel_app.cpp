#include "ui/app/quorvel_app.h"

#include <QApplication>
#include <QMessageBox>

#include <ctime>

#include "platform/paths/data_root.h"
#include "rules/actions/action_runner.h"
#include "ui/app/data_root_dlg.h"
#include "ui/app/main_frame.h"
#include "ui/app/message_box_dlg.h"
#include "ui/store/data_root_choice.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/service_access.h"
#include "ui/store/start_up.h"

namespace qv {
namespace {

bool AskRunAsService() {
  QString question = kFirstRunQuestion;
  question.replace("\r\n", "\n");
  return QMessageBox::question(nullptr, kFirstRunCaption, question.trimmed(), QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

void ReportFailure(const QString& text) { QMessageBox::critical(nullptr, "Quorvel", text); }

}  // namespace

CQuorvelApp::CQuorvelApp() : CQuorvelApp(Options{}) {}

CQuorvelApp::CQuorvelApp(Options options) : options_(std::move(options)) {
  if (!options_.askRunAsService) options_.askRunAsService = AskRunAsService;
  if (!options_.reportFailure) options_.reportFailure = ReportFailure;
  if (!options_.askOwnDataRoot) options_.askOwnDataRoot = AskToUseOwnDataRoot;
  if (!options_.service) options_.service = std::make_unique<CSystemServiceAccess>();
}

CQuorvelApp::~CQuorvelApp() {
  // The frame goes first: it detaches itself from the document.
  frame_.reset();
  doc_.reset();
}

bool CQuorvelApp::InitInstance(const QStringList& arguments) {
  // Sockets need no start-up here. The data root must be ours and closed to others.
  UseSharedUmask();
  std::string problem;
  switch (CDataRootChoice().Resolve(options_.askOwnDataRoot, &problem)) {
    case CDataRootChoice::Outcome::kUsable:
    case CDataRootChoice::Outcome::kOwnRoot:
      break;
    case CDataRootChoice::Outcome::kDeclined:
      return false;
    case CDataRootChoice::Outcome::kRefused:
      options_.reportFailure(QString::fromStdString(problem));
      return false;
  }
  // Message boxes may outlive a hidden main window; the frame ends the program when it closes.
  QApplication::setQuitOnLastWindowClosed(false);

  if (FirstRunDue()) RunFirstTimeSetup(*options_.service, options_.askRunAsService);

  auto makeExecutor = [](CSyslogSink&) -> std::unique_ptr<CActionExecutor> {
    return std::make_unique<CActionRunner>(std::make_unique<CWindowMessageBoxes>());
  };
  doc_ = std::make_unique<CQuorvelDoc>(makeExecutor, std::move(options_.service));
  frame_ = std::make_unique<CMainFrame>(*doc_);

  // A document file to open, or --connect host:port --cert FILE to follow a remote service.
  QString file, connectTo, certificate;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if ((argument == "--connect" || argument == "--cert") && i + 1 < arguments.size()) {
      (argument == "--connect" ? connectTo : certificate) = arguments[++i];
    } else if (!argument.startsWith('-') && file.isEmpty()) {
      file = argument;
    }
  }
  if (!connectTo.isEmpty()) {
    // Before the view's first update, which then neither listens nor loads the local history.
    std::string error;
    if (certificate.isEmpty() ||
        !frame_->RemoteCommands().ConnectTo(connectTo.toStdString(), certificate.toStdString(), &error)) {
      options_.reportFailure(certificate.isEmpty() ? "--connect needs --cert FILE, the viewer's certificate file"
                                                   : QString::fromStdString("--connect " + error));
      return false;
    }
  } else {
    frame_->RemoteCommands().OfferLastConnection();
  }
  if (file.isEmpty()) {
    doc_->NewDocument();
    frame_->MessageList()->OnInitialUpdate();
    frame_->UpdateAllViews();
  } else if (!frame_->OpenDocumentFile(file)) {
    return false;
  }

  tzset();
  if (frame_->HidesWhenMinimised()) {
    frame_->hide();
  } else {
    frame_->ActivateFrame();
  }
  return true;
}

}  // namespace qv
