#pragma once
// The actions that reach outside the rules engine: run a program, save to a file, forward, play
// a sound, send e-mail, show a message box, copy to the event log, save to the database, send an
// SNMP trap, and the report of an unknown action code. The engine itself performs the four
// actions that only change the record or its own flags (discard, highlight, modify facility,
// modify severity) and hands every other rule here.
//
// The executor belongs to one engine and is called on the engine's thread only, one call at a
// time. It holds what outlives a single action, such as the database connection, which lives
// from one LoadRules to the next.

#include <span>

#include "core/message/syslog_message.h"
#include "reception/syslog_sink.h"
#include "rules/forwarder.h"
#include "rules/rule.h"

namespace qv {

// What the engine lends an action.
struct ActionContext {
  CSyslogSink& reporter;   // reports become local messages through OnLocalMessage
  CForwarder* forwarder;   // null when the owner has no listening socket
};

// One action of a batch: a rule and the record it fired for.
struct QueuedAction {
  const CRule* rule;
  const SyslogMessage* message;
};

class CActionExecutor {
 public:
  virtual ~CActionExecutor() = default;

  // LoadRules is replacing the rule list: close the database connection if it is open.
  virtual void BeginLoadRules(const ActionContext& context) = 0;

  // LoadRules has added an enabled rule to the list. A "Save to Database" rule opens the
  // database connection here when it is not open; a failure is reported and the next database
  // rule tries again.
  virtual void RuleLoaded(const CRule& rule, const ActionContext& context) = 0;

  // Performs the rule's action for one record. Failures are reported through the context's
  // reporter or not at all; they never change the course of the engine.
  virtual void Execute(const CRule& rule, const SyslogMessage& message, const ActionContext& context) = 0;

  // Performs the actions of several records, in order, with the outcome that Execute would
  // have one by one; every rule's action is "Save to Database" (the one action given in
  // batches), so that the executor may store them together. The default calls Execute for each.
  virtual void ExecuteBatch(std::span<const QueuedAction> actions, const ActionContext& context) {
    for (const QueuedAction& action : actions) Execute(*action.rule, *action.message, context);
  }

  // Says the failures that a throttle held back once their interval has passed, so that a burst
  // of failures that stops is still reported. Called now and then by whoever runs the actions.
  virtual void ReportHeldBack(const ActionContext&) {}
};

}  // namespace qv
