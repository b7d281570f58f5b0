#pragma once
// The windowed program's start: the data root is checked (one this user cannot use is explained,
// and one of the user's own offered instead: CDataRootChoice), the first run's set-up asked once, the
// document and the main frame made, a document file named on the command line opened, and the
// window shown (or, with "hideifmini" and a tray, left in the tray).
//
// Made once in main(), after the QApplication; everything runs on the user-interface thread.

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

namespace qv {

class CMainFrame;
class CQuorvelDoc;
class CServiceAccess;

class CQuorvelApp {
 public:
  struct Options {
    // The service to drive; null: the real one.
    std::unique_ptr<CServiceAccess> service;
    // Asks the first run's question; null: a message box with Yes and No.
    std::function<bool()> askRunAsService;
    // Tells the user why the program cannot start; null: a message box.
    std::function<void(const QString&)> reportFailure;
    // Asks whether to run with a data root of the user's own (CDataRootChoice); null: the
    // dialog of data_root_dlg.h.
    std::function<bool(const std::string&)> askOwnDataRoot;
  };

  CQuorvelApp();
  explicit CQuorvelApp(Options options);
  ~CQuorvelApp();
  CQuorvelApp(const CQuorvelApp&) = delete;
  CQuorvelApp& operator=(const CQuorvelApp&) = delete;

  // The start-up steps; `arguments` are the program's arguments after the program name (the
  // toolkit's own switches removed). False when the program must end.
  bool InitInstance(const QStringList& arguments);

  CQuorvelDoc* Document() const { return doc_.get(); }
  CMainFrame* Frame() const { return frame_.get(); }

 private:
  Options options_;
  std::unique_ptr<CQuorvelDoc> doc_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace qv
