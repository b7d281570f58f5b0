#pragma once
// The message boxes of a program without an interactive user (the service): each box becomes a
// local message through the reporter, so it is stored, written to the history and relayed to
// the windowed program like every other message, and nothing waits for a user.
//
//   Message Box            Message box "<caption>": <text>
//   unknown action code    Unknown rule fired: <rule name>
//
// Local messages are not put through the rules, so a box can never fire a rule again.

#include "reception/syslog_sink.h"
#include "rules/actions/message_box_host.h"

namespace qv {

class CReportingMessageBoxes : public CMessageBoxHost {
 public:
  // `reporter` must outlive this object.
  explicit CReportingMessageBoxes(CSyslogSink& reporter) : reporter_(reporter) {}

  void ShowMessageBox(const std::string& caption, const std::string& text) override;
  void ShowUnknownRule(const std::string& ruleName) override;

 private:
  CSyslogSink& reporter_;
};

}  // namespace qv
