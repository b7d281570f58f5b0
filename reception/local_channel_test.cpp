#include "reception/local_channel.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace qv {
namespace {

using namespace std::chrono_literals;

bool Readable(const CLocalChannel& channel) {
  pollfd watched{channel.wakeDescriptor(), POLLIN, 0};
  return poll(&watched, 1, 0) == 1;
}

SyslogMessage Finding(const std::string& text) { return MakeLocalRecord(text, 6, "10.0.0.5"); }

std::vector<std::string> DeliverAll(CLocalChannel& channel, std::size_t limit, bool* more = nullptr) {
  std::vector<std::string> texts;
  const bool left = channel.Deliver([&](SyslogMessage& record) { texts.push_back(record.message); }, limit);
  if (more != nullptr) *more = left;
  return texts;
}

TEST(LocalChannelTest, RecordsArriveWholeInOrderAndTheOwnerIsWokenOnlyWhenItSleeps) {
  CLocalChannel channel;
  ASSERT_GE(channel.wakeDescriptor(), 0);
  EXPECT_FALSE(Readable(channel));
  channel.Post(Finding("one"));
  EXPECT_TRUE(Readable(channel));
  channel.Post(Finding("two"));
  channel.Post(Finding("three"));

  bool more = false;
  EXPECT_EQ(DeliverAll(channel, 2, &more), (std::vector<std::string>{"one", "two"}));
  EXPECT_TRUE(more);
  EXPECT_TRUE(Readable(channel)) << "what is left is taken on the next turn";
  std::vector<SyslogMessage> records;
  channel.Deliver([&](SyslogMessage& record) { records.push_back(record); }, 10);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "three");
  EXPECT_EQ(records[0].ipAddress, "10.0.0.5");
  EXPECT_EQ(records[0].severity, 6);
  EXPECT_FALSE(Readable(channel));
  EXPECT_FALSE(channel.TakeDropReport());
}

TEST(LocalChannelTest, ThreadsPostingAtOnceLoseNothingAndKeepTheirOwnOrder) {
  CLocalChannel channel;
  constexpr int kThreads = 4;
  constexpr int kEach = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&channel, t] {
      for (int i = 0; i < kEach; ++i) channel.Post(Finding(std::to_string(t) + ":" + std::to_string(i)));
    });
  }
  std::vector<int> next(kThreads, 0);
  int received = 0;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (received < kThreads * kEach && std::chrono::steady_clock::now() < deadline) {
    pollfd watched{channel.wakeDescriptor(), POLLIN, 0};
    poll(&watched, 1, 100);
    for (const std::string& text : DeliverAll(channel, 500)) {
      const int thread = std::stoi(text.substr(0, text.find(':')));
      EXPECT_EQ(std::stoi(text.substr(text.find(':') + 1)), next[thread]++) << text;
      ++received;
    }
  }
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(received, kThreads * kEach);
}

TEST(LocalChannelTest, AFullChannelDropsAndSaysHowManyAtMostOnceAMinute) {
  CLocalChannel channel;
  for (std::size_t i = 0; i < CLocalChannel::kMaxRecords + 5; ++i) channel.Post(Finding("x"));
  const auto start = CReportThrottle::Clock::now();
  const auto report = channel.TakeDropReport(start);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->rfind("Monitors: 5 findings were dropped", 0), 0u) << *report;
  EXPECT_EQ(DeliverAll(channel, CLocalChannel::kMaxRecords * 2).size(), CLocalChannel::kMaxRecords);

  for (std::size_t i = 0; i < CLocalChannel::kMaxRecords + 3; ++i) channel.Post(Finding("y"));
  EXPECT_FALSE(channel.TakeDropReport(start + 30s)) << "said a minute ago at most";
  const auto later = channel.TakeDropReport(start + 61s);
  ASSERT_TRUE(later);
  EXPECT_EQ(later->rfind("Monitors: 3 findings were dropped", 0), 0u) << *later;
  EXPECT_FALSE(channel.TakeDropReport(start + 200s));
}

}  // namespace
}  // namespace qv
