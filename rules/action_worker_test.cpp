#include "rules/action_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

class RecordingSink : public CSyslogSink {
 public:
  void OnDatagram(std::string_view, int32_t, std::string_view) override {}
  void OnLocalMessage(std::string_view text) override { reports.emplace_back(text); }
  std::vector<std::string> reports;
};

// Records what it ran and on which thread; worker actions wait at a gate while it is closed and
// report "done <text>" when they end.
class GatedExecutor : public CActionExecutor {
 public:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    std::vector<std::string> ran;  // "<rule name>:<message text>"
    std::vector<std::thread::id> threads;
    int started = 0;
    int finished = 0;
    std::vector<std::size_t> batches;  // the size of each ExecuteBatch
  };
  explicit GatedExecutor(Shared& shared) : shared_(shared) {}

  void BeginLoadRules(const ActionContext&) override {}
  void RuleLoaded(const CRule&, const ActionContext&) override {}
  void Execute(const CRule& rule, const SyslogMessage& message, const ActionContext& context) override {
    std::unique_lock lock(shared_.mutex);
    shared_.ran.push_back(rule.Name + ":" + message.message);
    shared_.threads.push_back(std::this_thread::get_id());
    ++shared_.started;
    shared_.changed.notify_all();
    if (!CActionWorker::RunsOnWorker(rule.Action)) return;
    shared_.changed.wait(lock, [this] { return shared_.open; });
    ++shared_.finished;
    shared_.changed.notify_all();
    lock.unlock();
    context.reporter.OnLocalMessage("done " + message.message);
  }
  void ExecuteBatch(std::span<const QueuedAction> actions, const ActionContext& context) override {
    {
      const std::lock_guard lock(shared_.mutex);
      shared_.batches.push_back(actions.size());
    }
    CActionExecutor::ExecuteBatch(actions, context);
  }

 private:
  Shared& shared_;
};

CRule Rule(const std::string& name, int32_t action) {
  CRule rule;
  rule.Name = name;
  rule.Action = action;
  return rule;
}

SyslogMessage Message(const std::string& text) {
  SyslogMessage message;
  message.message = text;
  return message;
}

class ActionWorkerTest : public ::testing::Test {
 protected:
  ~ActionWorkerTest() override {
    Open();
    worker_.reset();
    std::unique_lock lock(gate_.mutex);  // a detached action has ended before the gate goes
    gate_.changed.wait_for(lock, 5s, [this] { return gate_.finished == gate_.started - inlineRuns_; });
  }

  void Make(CActionWorker::Limits limits = CActionWorker::kDefaultLimits) {
    worker_ = std::make_unique<CActionWorker>(std::make_unique<GatedExecutor>(gate_), [] {}, limits);
  }
  void Close() {
    const std::lock_guard lock(gate_.mutex);
    gate_.open = false;
  }
  void Open() {
    const std::lock_guard lock(gate_.mutex);
    gate_.open = true;
    gate_.changed.notify_all();
  }
  bool WaitFor(const std::function<bool()>& done) {
    std::unique_lock lock(gate_.mutex);
    return gate_.changed.wait_for(lock, 5s, done);
  }

  GatedExecutor::Shared gate_;
  RecordingSink sink_;
  const ActionContext context_{sink_, nullptr};
  int inlineRuns_ = 0;
  std::unique_ptr<CActionWorker> worker_;
};

TEST_F(ActionWorkerTest, SlowActionsRunInOrderOnTheWorkerWhileTheOthersRunAtOnceOnTheOwnersThread) {
  Make();
  Close();
  const CRule mail = Rule("mail", kActionSendMail);
  const CRule database = Rule("db", kActionDatabase);
  const CRule file = Rule("file", kActionSaveToFile);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) {
    worker_->Execute(mail, Message(std::to_string(i)), context_);
    worker_->Execute(database, Message(std::to_string(i)), context_);
  }
  worker_->Execute(file, Message("x"), context_);
  ++inlineRuns_;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);  // nothing waited for the gate
  ASSERT_TRUE(WaitFor([this] { return gate_.started == 2; }));  // the first slow one, and the file
  {
    const std::lock_guard lock(gate_.mutex);
    EXPECT_THAT(gate_.ran, ::testing::UnorderedElementsAre("mail:0", "file:x"));
  }
  EXPECT_EQ(worker_->pending(), 6u);

  Open();
  ASSERT_TRUE(WaitFor([this] { return gate_.finished == 6; }));
  const std::lock_guard lock(gate_.mutex);
  std::vector<std::string> slow;
  for (std::size_t i = 0; i < gate_.ran.size(); ++i) {
    const bool inlineRun = gate_.ran[i] == "file:x";
    EXPECT_EQ(gate_.threads[i] == std::this_thread::get_id(), inlineRun) << gate_.ran[i];
    if (!inlineRun) slow.push_back(gate_.ran[i]);
  }
  EXPECT_THAT(slow, ElementsAre("mail:0", "db:0", "mail:1", "db:1", "mail:2", "db:2"));
}

TEST_F(ActionWorkerTest, DatabaseActionsOneBehindTheOtherRunAsBatchesInQueueOrder) {
  Make();
  Close();
  const CRule mail = Rule("mail", kActionSendMail);
  const CRule database = Rule("db", kActionDatabase);
  const CRule trap = Rule("trap", kActionSnmpTrap);
  // What is queued while the first mail waits, and the batches expected from it.
  const std::pair<const CRule*, int> queued[] = {{&database, 2500}, {&mail, 1}, {&database, 3},
                                                 {&trap, 1},        {&database, 1}};
  worker_->Execute(mail, Message("first"), context_);
  ASSERT_TRUE(WaitFor([this] { return gate_.started == 1; }));
  std::vector<std::string> expected{"mail:first"};
  for (const auto& [rule, count] : queued) {
    for (int i = 0; i < count; ++i) {
      worker_->Execute(*rule, Message(std::to_string(i)), context_);
      expected.push_back(rule->Name + ":" + std::to_string(i));
    }
  }
  EXPECT_EQ(worker_->pending(), 2507u);
  Open();
  ASSERT_TRUE(WaitFor([this] { return gate_.finished == 2507; }));
  const std::lock_guard lock(gate_.mutex);
  EXPECT_THAT(gate_.batches, ElementsAre(1000, 1000, 500, 3, 1));
  EXPECT_EQ(gate_.ran, expected);
}

TEST_F(ActionWorkerTest, AFullQueueDropsAndCountsWithoutWaitingAndReportsOncePerInterval) {
  Make({3, 1 << 20, 300ms});
  Close();
  const CRule mail = Rule("mail", kActionSendMail);
  worker_->Execute(mail, Message("running"), context_);
  ASSERT_TRUE(WaitFor([this] { return gate_.started == 1; }));
  for (int i = 0; i < 9; ++i) worker_->Execute(mail, Message(std::to_string(i)), context_);
  EXPECT_EQ(worker_->pending(), 4u);  // one running, three queued, six dropped
  const std::string tail = " actions (mail, database, SNMP trap, program) were dropped: the queue of those waiting "
                           "for the mail server, database or agent is full (3 actions or 1 MiB); check that they answer";
  EXPECT_THAT(sink_.reports, ElementsAre("Rules: 1" + tail));

  std::this_thread::sleep_for(350ms);
  worker_->ReportHeldBack(context_);
  EXPECT_THAT(sink_.reports, ElementsAre("Rules: 1" + tail, "Rules: 5 more" + tail));

  // Room again once the worker catches up.
  Open();
  ASSERT_TRUE(WaitFor([this] { return gate_.finished == 4; }));
  worker_->Execute(mail, Message("later"), context_);
  ASSERT_TRUE(WaitFor([this] { return gate_.finished == 5; }));
  const std::lock_guard lock(gate_.mutex);
  EXPECT_THAT(gate_.ran, ElementsAre("mail:running", "mail:0", "mail:1", "mail:2", "mail:later"));
}

TEST_F(ActionWorkerTest, StopRunsWhatIsQueuedWithinTheBoundAndCountsWhatItSkipped) {
  struct Case {
    bool gateOpen;
    std::size_t skipped;
  } cases[] = {{true, 0}, {false, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gateOpen);
    Open();
    Make();
    if (!c.gateOpen) Close();
    const CRule trap = Rule("trap", kActionSnmpTrap);
    for (int i = 0; i < 5; ++i) worker_->Execute(trap, Message(std::to_string(i)), context_);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(worker_->Stop(200ms), c.skipped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    if (c.gateOpen) {
      EXPECT_EQ(gate_.finished, 5);
      EXPECT_EQ(sink_.reports.size(), 5u);  // delivered by Stop
    }
    worker_->Execute(trap, Message("after stop"), context_);
    Open();
    ASSERT_TRUE(WaitFor([this] { return gate_.finished == gate_.started; }));
    sink_.reports.clear();
    const std::lock_guard lock(gate_.mutex);
    gate_.ran.clear();
    gate_.threads.clear();
    gate_.started = gate_.finished = 0;
  }
}

}  // namespace
}  // namespace qv
