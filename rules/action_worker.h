#pragma once
// Runs the actions that talk to the outside (Run Program, Send E-Mail, Save to Database, Send
// SNMP Trap) on a worker thread of their own, so that a slow mail server, database or agent
// never holds the thread that receives: matching, history, relay and display go on in receive
// order while the actions wait in a bounded FIFO queue. One worker empties the queue in order,
// so the actions of one rule keep their order. The other actions (save to file, forward, play
// sound, message box, event log, unknown codes) are quick or must stay on the owner's thread
// (message boxes): they run at once, on the owner's thread, through the same inner executor.
// A "tcp://" forward is itself queued on a thread of the forwarder's.
//
// Save to Database actions that wait one behind the other are taken in one turn, up to
// kBatchSize, and given to the inner executor together (ExecuteBatch), which stores them in
// one transaction: the slower the database, the more each turn takes, so it keeps up with a
// burst. Any other action between them ends the batch, so the order of the queue is kept.
//
// The queue holds at most Limits::maxActions actions or Limits::maxBytes of messages. When it
// is full, further actions are dropped, never waited for; the drops are counted and reported
// through the owner's reporter at most once per Limits::reportInterval, with the count since
// the last report (ReportHeldBack says what was held back once its interval has passed).
//
// Reports that the inner executor makes on the worker (a failed mail, a database error) are
// never handed to the owner's sink from the worker: they are kept in order, the owner's `wake`
// is called (on the worker thread) and the owner then calls DeliverReports on its own thread.
// BeginLoadRules and RuleLoaded are queued like actions (never dropped), so a database
// connection opens and closes on the worker, in order with the actions around it.
//
// The inner executor's contract under a worker: BeginLoadRules, RuleLoaded, ReportHeldBack and
// Execute of the actions for which RunsOnWorker is true are called on the worker thread; Execute
// of the other actions on the owner's thread, possibly at the same time. Their contexts carry
// no forwarder on the worker.
//
// Execute's `rule` is taken to be the same rule for as long as it is the same object between
// two BeginLoadRules (the engine's rule list, which only LoadRules changes): the worker copies
// it once, at its first action, and queued actions share that copy.
//
// Owner's thread: every public call. Stop ends the worker: it lets the queue drain for at most
// a bound and says how many actions it skipped; a turn under way (a batch) always runs to its
// end, so a stop never splits one. An action still running after that (a mail
// waiting for its server) is left to finish on its own: the worker's state is shared with the
// thread, which ends by itself, and its later reports go nowhere.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

#include "core/report/report_throttle.h"
#include "rules/action_executor.h"

namespace qv {

class CActionWorker final : public CActionExecutor {
 public:
  struct Limits {
    std::size_t maxActions;
    std::size_t maxBytes;
    std::chrono::milliseconds reportInterval;
  };
  static constexpr Limits kDefaultLimits{10000, 64 * 1024 * 1024, std::chrono::minutes(1)};
  // The most database actions given to the inner executor at once.
  static constexpr std::size_t kBatchSize = 1000;

  // Whether an action of this code runs on the worker.
  static bool RunsOnWorker(int32_t action);

  // `wake` is called on the worker thread when reports wait for DeliverReports; it must be safe
  // to call from there (a queued call into the owner's event loop) and must not block.
  CActionWorker(std::unique_ptr<CActionExecutor> inner, std::function<void()> wake, Limits limits = kDefaultLimits);
  // Stops the worker without waiting for the queue (Stop with no time).
  ~CActionWorker() override;
  CActionWorker(const CActionWorker&) = delete;
  CActionWorker& operator=(const CActionWorker&) = delete;

  void BeginLoadRules(const ActionContext& context) override;
  void RuleLoaded(const CRule& rule, const ActionContext& context) override;
  void Execute(const CRule& rule, const SyslogMessage& message, const ActionContext& context) override;
  // Reports the drops held back once their interval has passed, and delivers waiting reports.
  void ReportHeldBack(const ActionContext& context) override;

  // Hands the reports made on the worker, in order, to the reporter of the latest context.
  void DeliverReports();

  // Lets the worker run what is queued for at most `bound`, then stops it. Returns the number
  // of actions that were skipped (queued and not started). Reports made meanwhile are
  // delivered. Worker actions given after Stop are dropped.
  std::size_t Stop(std::chrono::milliseconds bound);

  // Actions queued or running (a batch counts each of its actions).
  std::size_t pending() const;

 private:
  struct Shared;

  void ReportDropped(const ActionContext& context, uint64_t count, bool more);

  std::shared_ptr<Shared> shared_;
  CSyslogSink* reporter_ = nullptr;  // of the latest context; reports are delivered to it
  CReportThrottle drops_;
  // The worker's copy of each rule in use, by the engine's object, made at its first action
  // after a load, so that a queued action does not copy its rule.
  std::unordered_map<const CRule*, std::shared_ptr<const CRule>> ruleCopies_;
  bool stopped_ = false;
};

}  // namespace qv
