#pragma once
// Where the "Message Box" action and the report of an unknown action code are shown.
//
// The windowed program supplies real boxes: at most one modeless, topmost box at a time, which
// a newer one replaces and whose "msgboxtime" timer closes it. The service program has no
// interactive user; it uses CReportingMessageBoxes, which turns each box into a local message.
// Called on the rules engine's thread.

#include <string>

namespace qv {

class CMessageBoxHost {
 public:
  virtual ~CMessageBoxHost() = default;

  // Shows `text` under `caption` (the rule's name), replacing the box that is shown, if any.
  // Returns at once.
  virtual void ShowMessageBox(const std::string& caption, const std::string& text) = 0;

  // Tells that a rule with an action code no action has fired: the caption "Unknown rule fired"
  // over the rule's name. May wait until the user has dismissed it.
  virtual void ShowUnknownRule(const std::string& ruleName) = 0;
};

}  // namespace qv
