// The viewer link's pieces without sockets: the request line, the frames both ways, a viewer's
// bounded queue, and the certificates `qvreg viewer-cert` and the service make.

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/message/syslog_message.h"
#include "testing/temp_home.h"
#include "viewerlink/viewer_certificates.h"
#include "viewerlink/viewer_protocol.h"
#include "viewerlink/viewer_queue.h"

namespace qv {
namespace {

TEST(ViewerProtocolTest, RequestLineIsBackfillAndA32BitCount) {
  const struct {
    const char* line;
    std::optional<uint32_t> count;
  } cases[] = {
      {"backfill 0", 0u},
      {"backfill 1000", 1000u},
      {"backfill 4294967295", 4294967295u},
      {"backfill 4294967296", std::nullopt},
      {"backfill 12345678901", std::nullopt},
      {"backfill ", std::nullopt},
      {"backfill -1", std::nullopt},
      {"backfill 1 ", std::nullopt},
      {"backfill 1\r", std::nullopt},
      {"Backfill 1", std::nullopt},
      {"backfill  1", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseBackfillRequest(c.line), c.count) << c.line;
  EXPECT_EQ(FormatBackfillRequest(25), "backfill 25\n");
}

// Frames are found the same however the stream is cut into reads.
std::vector<std::string> ReadFrames(const std::string& stream, std::size_t readSize, bool* ok) {
  CViewerFrameReader reader;
  std::vector<std::string> frames;
  *ok = true;
  for (std::size_t at = 0; at < stream.size() && *ok; at += readSize) {
    *ok = reader.Feed(std::string_view(stream).substr(at, readSize),
                      [&](std::string_view line) { frames.emplace_back(line); });
  }
  return frames;
}

TEST(ViewerProtocolTest, FrameReaderFollowsCountsAcrossAnyReadsAndStopsAtBrokenStreams) {
  std::string stream;
  AppendViewerFrame(stream, "first line\r\n");
  AppendViewerFrame(stream, "");
  AppendViewerFrame(stream, std::string(70000, 'x') + "\n");
  AppendViewerFrame(stream, "a 12 b");
  ASSERT_EQ(stream.substr(0, 14), "10 first line0");
  for (std::size_t readSize : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, stream.size()}) {
    bool ok = false;
    const auto frames = ReadFrames(stream, readSize, &ok);
    EXPECT_TRUE(ok) << readSize;
    EXPECT_EQ(frames, (std::vector<std::string>{"first line", "", std::string(70000, 'x'), "a 12 b"})) << readSize;
  }
  const struct {
    const char* stream;
    std::size_t framesBeforeFailure;
  } broken[] = {
      {"3 abcx", 1},         // a letter where a length belongs
      {" 3 abc", 0},         // no digits
      {"03 abc", 0},         // a leading zero
      {"3 abc\n3 abc", 1},   // a line end between frames
      {"9999999 x", 0},      // longer than any frame
      {"131073 x", 0},       // one byte over the largest frame
  };
  for (const auto& c : broken) {
    bool ok = true;
    EXPECT_EQ(ReadFrames(c.stream, 1, &ok).size(), c.framesBeforeFailure) << c.stream;
    EXPECT_FALSE(ok) << c.stream;
  }
}

std::vector<std::string> Frames(const std::string& stream) {
  bool ok = false;
  auto frames = ReadFrames(stream, stream.size() + 1, &ok);
  EXPECT_TRUE(ok);
  return frames;
}

TEST(ViewerQueueTest, FullQueueDropsOldestAndTellsHowManyBeforeTheRest) {
  // Frames of "line N" are 8 bytes ("6 line N"); the queue holds four.
  CViewerQueue queue(32);
  for (int i = 0; i < 10; ++i) queue.Push("line " + std::to_string(i) + "\r\n");
  EXPECT_EQ(queue.bytes(), 32u);
  EXPECT_EQ(queue.dropped(), 6u);
  std::string out;
  queue.Take(out, 9);  // whole frames only: two, to reach 9 bytes
  auto frames = Frames(out);
  ASSERT_EQ(frames.size(), 2u + 1u);
  SyslogMessage marker;
  marker.ReadRecordLine(frames[0]);
  EXPECT_NE(marker.message.find("Viewer link: 6 messages were dropped"), std::string::npos) << frames[0];
  EXPECT_EQ(frames[1], "line 6");
  EXPECT_EQ(frames[2], "line 7");
  // The gap is told once; what follows comes in order.
  queue.Push("line 10");
  out.clear();
  queue.Take(out, 1000);
  EXPECT_EQ(Frames(out), (std::vector<std::string>{"line 8", "line 9", "line 10"}));
  EXPECT_TRUE(queue.empty());
  // A line larger than the whole queue is dropped itself, counted, and leaves the rest alone.
  queue.Push("kept");
  queue.Push(std::string(40, 'y'));
  out.clear();
  queue.Take(out, 1000);
  frames = Frames(out);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_NE(frames[0].find("1 messages were dropped"), std::string::npos);
  EXPECT_EQ(frames[1], "kept");
}

TEST(ViewerQueueTest, LongRunOfPushesAndTakesKeepsOrderAndCountsEveryLine) {
  CViewerQueue queue(4096);
  uint64_t received = 0, dropped = 0, next = 0;
  bool inOrder = true;
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 97; ++i) queue.Push(std::to_string(next++));
    std::string out;
    queue.Take(out, 300);
    uint64_t last = 0;
    bool first = true;
    for (const std::string& frame : Frames(out)) {
      if (frame.find("messages were dropped") != std::string::npos) {
        SyslogMessage marker;
        marker.ReadRecordLine(frame);
        dropped += std::stoull(marker.message.substr(marker.message.find(": ") + 2));
        continue;
      }
      const uint64_t value = std::stoull(frame);
      inOrder = inOrder && (first || value > last);
      first = false;
      last = value;
      ++received;
    }
  }
  std::string rest;
  while (!queue.empty()) queue.Take(rest, 1 << 20);
  for (const std::string& frame : Frames(rest)) received += frame.find("dropped") == std::string::npos ? 1 : 0;
  EXPECT_TRUE(inOrder);
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(received + dropped, next);
}

std::string FileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

X509* ReadCertificate(const std::string& pem, int which) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* certificate = nullptr;
  for (int i = 0; i <= which; ++i) {
    X509_free(certificate);
    certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  }
  BIO_free(bio);
  return certificate;
}

// Whether the first certificate in `pem` is signed by the key of the CA certificate in `caFile`.
bool SignedBy(const std::string& pem, const std::string& caFile) {
  X509* certificate = ReadCertificate(pem, 0);
  X509* ca = ReadCertificate(FileText(caFile), 0);
  const bool signedBy = certificate != nullptr && ca != nullptr && X509_verify(certificate, X509_get0_pubkey(ca)) == 1;
  X509_free(certificate);
  X509_free(ca);
  return signedBy;
}

TEST(ViewerCertificatesTest, ViewerFilesHoldCertificateKeyAndCaAndAreSignedByTheDataRootCa) {
  qv::testing::TempHome home;
  std::string path, error;
  ASSERT_TRUE(IssueViewerCertificate("alice", &path, &error)) << error;
  EXPECT_EQ(path, home.file("viewers/alice.pem"));
  const std::string pem = FileText(path);
  EXPECT_NE(pem.find("BEGIN PRIVATE KEY"), std::string::npos);
  EXPECT_TRUE(SignedBy(pem, home.file("viewer-ca.pem")));
  // The file's second certificate is the CA itself, so a viewer can check the service with it.
  X509* ca = ReadCertificate(pem, 1);
  ASSERT_NE(ca, nullptr);
  EXPECT_EQ(X509_check_ca(ca), 1);
  X509_free(ca);
  for (const char* secret : {"viewer-ca.key", "viewers/alice.pem"}) {
    struct stat info {};
    ASSERT_EQ(stat(home.file(secret).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << secret;
  }
  // A second viewer shares the CA; an existing file is never replaced.
  ASSERT_TRUE(IssueViewerCertificate("bob.desk-2", &path, &error)) << error;
  EXPECT_TRUE(SignedBy(FileText(path), home.file("viewer-ca.pem")));
  EXPECT_FALSE(IssueViewerCertificate("alice", &path, &error));
  EXPECT_NE(error.find("exists already"), std::string::npos);
  EXPECT_EQ(FileText(home.file("viewers/alice.pem")), pem);
  for (const std::string bad : {"", ".hidden", "../escape", "a/b", "with space", "n65nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"}) {
    EXPECT_FALSE(IssueViewerCertificate(bad, &path, &error)) << bad;
  }
}

TEST(ViewerCertificatesTest, ServiceCertificateIsMadeOnceAndMadeAgainForANewCa) {
  qv::testing::TempHome home;
  ViewerCertificateFiles server;
  std::string error;
  ASSERT_TRUE(EnsureViewerServerCertificate(&server, &error)) << error;
  const std::string first = FileText(server.certificate);
  EXPECT_TRUE(SignedBy(first, home.file("viewer-ca.pem")));
  ASSERT_TRUE(EnsureViewerServerCertificate(&server, &error)) << error;
  EXPECT_EQ(FileText(server.certificate), first);
  // A new CA (the old one deleted) signs a new certificate for the service.
  std::remove(home.file("viewer-ca.pem").c_str());
  ASSERT_TRUE(EnsureViewerServerCertificate(&server, &error)) << error;
  EXPECT_NE(FileText(server.certificate), first);
  EXPECT_TRUE(SignedBy(FileText(server.certificate), home.file("viewer-ca.pem")));
}

}  // namespace
}  // namespace qv
