#include "rules/action_worker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

// How often the worker lets the inner executor say what its throttles held back.
constexpr std::chrono::seconds kHeldBackCheck{1};

enum class ItemKind { kExecute, kBeginLoad, kRuleLoaded };

struct Item {
  ItemKind kind;
  std::shared_ptr<const CRule> rule;
  SyslogMessage message;
  std::size_t bytes;
};

std::size_t BytesOf(const SyslogMessage& message) {
  return sizeof(Item) + message.message.size() + message.hostName.size() + message.ipAddress.size();
}

// Keeps the reports made on the worker for the owner.
class DeferredReports final : public CSyslogSink {
 public:
  explicit DeferredReports(std::function<void()> wake) : wake_(std::move(wake)) {}

  void OnDatagram(std::string_view, int32_t, std::string_view) override {}
  void OnLocalMessage(std::string_view text) override {
    const std::lock_guard lock(mutex_);
    if (!wake_) return;  // the owner has gone
    texts_.emplace_back(text);
    if (texts_.size() == 1) wake_();
  }

  std::vector<std::string> Take() {
    const std::lock_guard lock(mutex_);
    return std::exchange(texts_, {});
  }
  void OwnerGone() {
    const std::lock_guard lock(mutex_);
    wake_ = nullptr;
    texts_.clear();
  }

 private:
  std::mutex mutex_;
  std::function<void()> wake_;
  std::vector<std::string> texts_;
};

}  // namespace

// What the worker thread uses: it lives as long as the longer of the owner and the thread.
struct CActionWorker::Shared {
  Shared(std::unique_ptr<CActionExecutor> innerExecutor, std::function<void()> wakeOwner, Limits queueLimits)
      : inner(std::move(innerExecutor)), reports(std::move(wakeOwner)), limits(queueLimits) {}

  void Run() {
    const ActionContext context{reports, nullptr};
    auto nextHeldBackCheck = Clock::now() + kHeldBackCheck;
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait_until(lock, nextHeldBackCheck, [this] { return stopping || !queue.empty(); });
      if (stopping) break;
      if (Clock::now() >= nextHeldBackCheck) {
        lock.unlock();
        inner->ReportHeldBack(context);
        lock.lock();
        nextHeldBackCheck = Clock::now() + kHeldBackCheck;
        continue;
      }
      TakeTurn();
      busy = true;
      lock.unlock();
      RunTurn(context);
      turn.clear();
      lock.lock();
      running = 0;
      busy = false;
      if (queue.empty()) idle.notify_all();
    }
  }

  // Moves the next item to `turn`; a database action takes those right behind it along, up to
  // kBatchSize. Under the lock.
  void TakeTurn() {
    do {
      Item& item = queue.front();
      bytes -= item.bytes;
      if (item.kind == ItemKind::kExecute) {
        --actions;
        ++running;
      }
      turn.push_back(std::move(item));
      queue.pop_front();
    } while (IsDatabase(turn.front()) && turn.size() < kBatchSize && !queue.empty() && IsDatabase(queue.front()));
  }

  // Runs `turn`, not under the lock.
  void RunTurn(const ActionContext& context) {
    const Item& first = turn.front();
    if (IsDatabase(first)) {
      batch.clear();
      for (const Item& item : turn) batch.push_back(QueuedAction{item.rule.get(), &item.message});
      inner->ExecuteBatch(batch, context);
      return;
    }
    switch (first.kind) {
      case ItemKind::kExecute: inner->Execute(*first.rule, first.message, context); break;
      case ItemKind::kBeginLoad: inner->BeginLoadRules(context); break;
      case ItemKind::kRuleLoaded: inner->RuleLoaded(*first.rule, context); break;
    }
  }

  static bool IsDatabase(const Item& item) {
    return item.kind == ItemKind::kExecute && item.rule->Action == kActionDatabase;
  }

  std::unique_ptr<CActionExecutor> inner;
  DeferredReports reports;
  const Limits limits;

  std::mutex mutex;
  std::condition_variable wake;  // the worker waits here
  std::condition_variable idle;  // Stop waits here
  std::deque<Item> queue;
  std::size_t bytes = 0;       // of the queued items
  std::size_t actions = 0;     // queued items of kind kExecute
  bool busy = false;           // a turn is being run
  std::size_t running = 0;     // actions of that turn
  bool stopping = false;
  std::thread thread;
  // The worker's own: what it runs in this turn, and the batch handed to the inner executor.
  std::vector<Item> turn;
  std::vector<QueuedAction> batch;
};

bool CActionWorker::RunsOnWorker(int32_t action) {
  return action == kActionRunProgram || action == kActionSendMail || action == kActionDatabase ||
         action == kActionSnmpTrap;
}

CActionWorker::CActionWorker(std::unique_ptr<CActionExecutor> inner, std::function<void()> wake, Limits limits)
    : shared_(std::make_shared<Shared>(std::move(inner), std::move(wake), limits)), drops_(limits.reportInterval) {
  shared_->thread = std::thread([shared = shared_] { shared->Run(); });
}

CActionWorker::~CActionWorker() { Stop(std::chrono::milliseconds(0)); }

void CActionWorker::BeginLoadRules(const ActionContext& context) {
  reporter_ = &context.reporter;
  ruleCopies_.clear();
  if (stopped_) return;
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->queue.push_back(Item{ItemKind::kBeginLoad, nullptr, {}, sizeof(Item)});
    shared_->bytes += sizeof(Item);
  }
  shared_->wake.notify_one();
}

void CActionWorker::RuleLoaded(const CRule& rule, const ActionContext& context) {
  reporter_ = &context.reporter;
  if (stopped_) return;
  auto copy = std::make_shared<const CRule>(rule);
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->queue.push_back(Item{ItemKind::kRuleLoaded, std::move(copy), {}, sizeof(Item)});
    shared_->bytes += sizeof(Item);
  }
  shared_->wake.notify_one();
}

void CActionWorker::Execute(const CRule& rule, const SyslogMessage& message, const ActionContext& context) {
  reporter_ = &context.reporter;
  if (!RunsOnWorker(rule.Action)) {
    shared_->inner->Execute(rule, message, context);
    return;
  }
  std::shared_ptr<const CRule>& copy = ruleCopies_[&rule];
  if (!copy) copy = std::make_shared<const CRule>(rule);
  const std::size_t bytes = BytesOf(message);
  bool queued = false;
  if (!stopped_) {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->actions < shared_->limits.maxActions && shared_->bytes + bytes <= shared_->limits.maxBytes) {
      shared_->queue.push_back(Item{ItemKind::kExecute, copy, message, bytes});
      shared_->bytes += bytes;
      ++shared_->actions;
      queued = true;
    }
  }
  if (queued) {
    shared_->wake.notify_one();
    return;
  }
  if (const auto count = drops_.Count("dropped")) ReportDropped(context, *count, false);
}

void CActionWorker::ReportDropped(const ActionContext& context, uint64_t count, bool more) {
  context.reporter.OnLocalMessage(
      "Rules: " + std::to_string(count) + (more ? " more" : "") +
      " actions (mail, database, SNMP trap, program) were dropped: the queue of those waiting for the mail server, " +
      "database or agent is full (" + std::to_string(shared_->limits.maxActions) + " actions or " +
      std::to_string(shared_->limits.maxBytes / (1024 * 1024)) + " MiB); check that they answer");
}

void CActionWorker::ReportHeldBack(const ActionContext& context) {
  reporter_ = &context.reporter;
  for (const auto& [kind, count] : drops_.TakeDue()) ReportDropped(context, count, true);
  DeliverReports();
}

void CActionWorker::DeliverReports() {
  std::vector<std::string> texts = shared_->reports.Take();
  if (reporter_ == nullptr) return;
  for (const std::string& text : texts) reporter_->OnLocalMessage(text);
}

std::size_t CActionWorker::pending() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->actions + shared_->running;
}

std::size_t CActionWorker::Stop(std::chrono::milliseconds bound) {
  if (stopped_) return 0;
  stopped_ = true;
  Shared& shared = *shared_;
  std::size_t skipped = 0;
  bool finished = false;
  {
    std::unique_lock lock(shared.mutex);
    shared.idle.wait_for(lock, bound, [&shared] { return shared.queue.empty() && !shared.busy; });
    for (const Item& item : shared.queue) skipped += item.kind == ItemKind::kExecute ? 1 : 0;
    shared.queue.clear();
    shared.bytes = 0;
    shared.actions = 0;
    shared.stopping = true;
    finished = !shared.busy;
  }
  shared.wake.notify_one();
  if (finished) {
    shared.thread.join();
  } else {
    shared.thread.detach();  // it ends with its action; `shared` stays alive for it
  }
  DeliverReports();
  shared.reports.OwnerGone();
  return skipped;
}

}  // namespace qv
