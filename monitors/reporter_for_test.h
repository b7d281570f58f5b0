#pragma once
// Reporters for tests: collect every finding a monitor sends, from any thread, as its text
// (CFindingCollector) or as the record the programs' channel would carry (CRecordCollector), and
// let the test wait for a number of them.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "monitors/monitor_thread.h"

namespace qv::testing {

struct Finding {
  std::string text;
  int severity;
  std::string sourceAddress;
};

class CFindingCollector {
 public:
  MonitorReporter Reporter() {
    return [this](const std::string& text, int severity, const std::string& address) {
      std::lock_guard lock(mutex_);
      findings_.push_back({text, severity, address});
      changed_.notify_all();
    };
  }

  // Waits until at least `count` findings arrived or `timeout` passed; returns all texts so far.
  std::vector<std::string> WaitForTexts(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return findings_.size() >= count; });
    return TextsLocked();
  }
  std::vector<std::string> Texts() {
    std::lock_guard lock(mutex_);
    return TextsLocked();
  }
  std::vector<Finding> Findings() {
    std::lock_guard lock(mutex_);
    return findings_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    findings_.clear();
  }

 private:
  std::vector<std::string> TextsLocked() const {
    std::vector<std::string> texts;
    for (const Finding& finding : findings_) texts.push_back(finding.text);
    return texts;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Finding> findings_;
};

// Stands in for the owner's private channel.
class CRecordCollector {
 public:
  LocalRecordPoster Poster() {
    return [this](SyslogMessage record) {
      std::lock_guard lock(mutex_);
      records_.push_back(std::move(record));
      changed_.notify_all();
    };
  }
  MonitorReporter Reporter() { return PostingReporter(Poster()); }

  // Waits until at least `count` records arrived or `timeout` passed; true when they did.
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
  }
  SyslogMessage At(std::size_t index) {
    std::lock_guard lock(mutex_);
    return records_.at(index);
  }
  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return records_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SyslogMessage> records_;
};

}  // namespace qv::testing
