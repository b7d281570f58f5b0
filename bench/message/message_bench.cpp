// Cost of parsing one received datagram in each of its forms, and of serialising a record into
// the line that history and relay carry. The copy of the text is the reference: it is what any
// receiver pays at least once per datagram.

#include <benchmark/benchmark.h>

#include <iterator>
#include <string>

#include "core/message/syslog_message.h"

namespace {

const std::string kRfc3164 = "<34>Oct 11 22:14:15 core-sw1.example.net %LINK-3-UPDOWN: Interface "
                             "GigabitEthernet0/1, changed state to down";
const std::string kPriorityOnly = "<190>%SEC-6-IPACCESSLOGP: list 101 denied tcp 10.1.1.1(1234) -> 10.2.2.2(80)";
const std::string kRecordLine = "0,5,localhost,127.0.0.1,514,6,1791183787,1791183787,\"File Monitor: "
                                "/var/log/app/server.log Modified\"";

void BM_CopyTextReference(benchmark::State& state) {
  for (auto _ : state) {
    std::string copy = kRfc3164;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyTextReference);

void ParseLoop(benchmark::State& state, const std::string& text, const char* sender) {
  qv::SyslogMessage record;
  for (auto _ : state) {
    record.ParseDatagram(sender, 514, text);
    benchmark::DoNotOptimize(record);
  }
}

void BM_ParseRfc3164(benchmark::State& state) { ParseLoop(state, kRfc3164, "10.0.0.5"); }
void BM_ParsePriorityOnly(benchmark::State& state) { ParseLoop(state, kPriorityOnly, "10.0.0.5"); }
void BM_ParseRecordLine(benchmark::State& state) { ParseLoop(state, kRecordLine, "127.0.0.1"); }
BENCHMARK(BM_ParseRfc3164);
BENCHMARK(BM_ParsePriorityOnly);
BENCHMARK(BM_ParseRecordLine);

// One datagram of each form a mixed estate sends, in turn: the classic form, RFC 5424 from
// logger, and the device forms only the lenient reading takes (a tag after the stamp, Cisco's
// sequence number and '*' stamp, a year after the time, an RFC 3339 stamp). Items are datagrams.
const std::string kMix[] = {
    kRfc3164,
    "<13>1 2026-12-08T01:51:06.886723+00:00 vm root - - [timeQuality tzKnown=\"1\" isSynced=\"0\"] hello world",
    "<38>Dec  8 01:51:06 sshd[4242]: Accepted publickey for root from 10.0.0.9 port 52222 ssh2",
    "<189>123: *Mar  1 00:00:01.123: %SYS-5-CONFIG_I: Configured from console by vty0 (10.0.0.9)",
    "<190>Apr 15 21:28:13 2007 linksys app: connection from 10.0.0.9 accepted",
    "<30>1996-12-19T16:39:57-08:00 fw01 kernel: eth0: link up, 1000Mbps, full-duplex",
    kPriorityOnly,
};

void BM_ParseDatagram(benchmark::State& state) {
  qv::SyslogMessage record;
  for (auto _ : state) {
    for (const std::string& text : kMix) {
      record.ParseDatagram("10.0.0.5", 514, text);
      benchmark::DoNotOptimize(record);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(std::size(kMix)));
}
BENCHMARK(BM_ParseDatagram);

// Each form of the mix alone, by its place in it.
void BM_ParseDatagramForm(benchmark::State& state) {
  ParseLoop(state, kMix[static_cast<std::size_t>(state.range(0))], "10.0.0.5");
}
BENCHMARK(BM_ParseDatagramForm)->DenseRange(0, 6);

void BM_FormatRecordLine(benchmark::State& state) {
  qv::SyslogMessage record;
  record.ParseDatagram("10.0.0.5", 514, kRfc3164);
  for (auto _ : state) {
    std::string line = record.FormatRecordLine();
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_FormatRecordLine);

// What the service does per datagram of a receive batch without the rules: parse, then add the
// record line to the batch that goes to the history in one write. Items are datagrams.
void BM_ParseIntoBatch(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  std::string batch;
  qv::SyslogMessage record;
  for (auto _ : state) {
    batch.clear();
    for (int i = 0; i < count; ++i) {
      record.ParseDatagram("10.0.0.5", 514, kRfc3164);
      batch += record.FormatRecordLine();
    }
    benchmark::DoNotOptimize(batch);
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ParseIntoBatch)->Arg(64);

}  // namespace
