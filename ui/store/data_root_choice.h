#pragma once
// What the viewer does when the data root cannot be used by this user (for example
// /var/lib/quorvel of the service, closed to users outside the group `quorvel`): it names the
// folder, the reason and the fixes, and offers a data root of the user's own instead,
// $XDG_DATA_HOME/quorvel (default ~/.local/share/quorvel). The user's yes is remembered in a
// settings file of the user's own ($XDG_CONFIG_HOME/quorvel/viewer.ini, default under
// ~/.config), for that data root only, and applies while that data root stays unusable: a
// user who joins the group later gets the shared data root again without being asked.
//
// QtCore only; the question itself is the caller's (a dialog in the program, a function in
// tests). Runs before anything else touches the data root, on the user-interface thread.

#include <QString>

#include <functional>
#include <string>

namespace qv {

class CDataRootChoice {
 public:
  enum class Outcome {
    kUsable,   // the data root was fine
    kOwnRoot,   // QUORVEL_HOME now points at the user's own data root, which is fine
    kDeclined,  // the user said no: the program ends, having said why in the question
    kRefused,   // the program must end; `problem` says why
  };

  // `settingsFile` "" means the user's own file named above.
  explicit CDataRootChoice(QString settingsFile = {});

  // "$XDG_DATA_HOME/quorvel", or "$HOME/.local/share/quorvel" when that is unset or empty.
  static std::string OwnDataRoot();
  // The question for a data root refused with `problem` (CheckDataRoot's line).
  static std::string QuestionText(const std::string& problem);

  // Checks the data root. When it cannot be used and is not the own one already: unless the
  // choice is remembered, asks `ask` with QuestionText; on yes remembers it, points
  // QUORVEL_HOME at the own data root and checks that instead.
  Outcome Resolve(const std::function<bool(const std::string& question)>& ask, std::string* problem) const;

 private:
  QString settingsFile_;
};

}  // namespace qv
