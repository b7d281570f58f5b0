#include "rules/actions/reporting_message_boxes.h"

namespace qv {

void CReportingMessageBoxes::ShowMessageBox(const std::string& caption, const std::string& text) {
  reporter_.OnLocalMessage("Message box \"" + caption + "\": " + text);
}

void CReportingMessageBoxes::ShowUnknownRule(const std::string& ruleName) {
  reporter_.OnLocalMessage("Unknown rule fired: " + ruleName);
}

}  // namespace qv
