#include "reception/history_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "core/settings/settings_store.h"
#include "platform/paths/data_root.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

std::string Contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Sets a file's modification time to `seconds` and `nanoseconds` since 1970.
void Touch(const std::string& path, time_t seconds, long nanoseconds = 0) {
  const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A line of exactly 100 bytes with its CR LF, numbered so that its file can be told.
std::string Line(int number) {
  std::string line = "0,5,localhost,127.0.0.1,514,6,2000,1000,\"line " + std::to_string(number) + " ";
  line.resize(97, '.');
  return line + "\"\r\n";
}

class HistoryFilesTest : public ::testing::Test {
 protected:
  std::string A() const { return home_.file("qvhista.txt"); }
  std::string B() const { return home_.file("qvhistb.txt"); }

  qv::testing::TempHome home_;
};

TEST_F(HistoryFilesTest, FilesLiveInHistpathOrInTheDataRoot) {
  CHistoryFiles inRoot;
  EXPECT_EQ(inRoot.fileA(), A());
  EXPECT_EQ(inRoot.fileB(), B());
  EXPECT_EQ(inRoot.limit(), 2048);

  const fs::path folder = home_.path() / "history";
  fs::create_directory(folder);
  AppSettings().SetString("Settings", "histpath", folder.c_str());
  CHistoryFiles elsewhere;
  EXPECT_EQ(elsewhere.fileA(), (folder / "qvhista.txt").string());
  elsewhere.Append(Line(1));
  EXPECT_EQ(Contents(elsewhere.fileA()), Line(1));
  EXPECT_FALSE(fs::exists(A()));
}

TEST_F(HistoryFilesTest, TheSixthLineOf100BytesPassesHalfAKilobyteAndTheOtherFileIsEmptiedFirst) {
  CHistoryFiles history;
  history.SetLimitKB(1);
  EXPECT_EQ(history.limit(), 512);
  std::string expectA, expectB;
  for (int i = 1; i <= 6; ++i) expectA += Line(i);
  for (int i = 7; i <= 12; ++i) expectB += Line(i);
  for (int i = 1; i <= 12; ++i) history.Append(Line(i));
  EXPECT_EQ(Contents(A()), expectA);
  EXPECT_EQ(Contents(B()), expectB);
  EXPECT_FALSE(history.currentIsA());

  history.Append(Line(13));  // back to fileA, emptied first
  EXPECT_EQ(Contents(A()), Line(13));
  EXPECT_EQ(Contents(B()), expectB);
  EXPECT_TRUE(history.currentIsA());
}

// Lines appended together switch files at the same line as lines appended one by one, so
// neither file grows past the limit by more than one line.
TEST_F(HistoryFilesTest, ABatchSwitchesFilesAtTheSameLineAsOneLineAtATime) {
  struct Case {
    const char* name;
    int before;  // lines appended one by one first
    int batch;   // lines then appended together
  };
  const Case cases[] = {
      {"fills the first file", 0, 6}, {"passes into the second", 0, 9}, {"starts beyond the limit", 6, 3},
      {"many switches", 0, 64}, {"many switches from a partly filled file", 4, 41},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string files[2][2];
    bool current[2] = {};
    for (const bool together : {false, true}) {
      const fs::path folder = home_.path() / (std::string(c.name) + (together ? " batch" : " single"));
      fs::create_directory(folder);
      AppSettings().SetString("Settings", "histpath", folder.c_str());
      CHistoryFiles history;
      history.SetLimitKB(1);
      std::string batch;
      for (int i = 1; i <= c.before + c.batch; ++i) {
        // Lines of two lengths, so that a cut cannot land right by counting lines.
        const std::string line = i % 3 == 0 ? Line(i).substr(0, 60) + "\r\n" : Line(i);
        if (i <= c.before || !together) {
          history.Append(line);
        } else {
          batch += line;
        }
      }
      if (together) history.Append(batch);
      files[together][0] = Contents(history.fileA());
      files[together][1] = Contents(history.fileB());
      current[together] = history.currentIsA();
      EXPECT_FALSE(history.TakeReport().has_value());
    }
    EXPECT_EQ(files[1][0], files[0][0]);
    EXPECT_EQ(files[1][1], files[0][1]);
    EXPECT_EQ(current[1], current[0]);
  }
}

TEST_F(HistoryFilesTest, ASizeOfZeroOrLessWritesNothingAndHugeSizesDoNotOverflow) {
  CHistoryFiles history;
  history.SetLimitKB(0);
  history.Append(Line(1));
  history.SetLimitKB(-4);
  history.Append(Line(2));
  EXPECT_FALSE(fs::exists(A()));
  EXPECT_FALSE(fs::exists(B()));

  history.SetLimitKB(std::numeric_limits<int32_t>::max());
  EXPECT_EQ(history.limit(), std::numeric_limits<int32_t>::max());
  history.SetLimitKB(4194303);
  EXPECT_EQ(history.limit(), 4194303 * 512);
}

TEST_F(HistoryFilesTest, FileBAloneAtStartIsDeleted) {
  Write(B(), Line(1));
  CHistoryFiles history;
  EXPECT_TRUE(history.currentIsA());
  EXPECT_FALSE(fs::exists(B()));
  std::string older, newer;
  history.GetLoadOrder(older, newer);
  EXPECT_EQ(older, "");
  EXPECT_EQ(newer, "");
}

TEST_F(HistoryFilesTest, TheLaterFileIsCurrentAndLoadsLastWithEqualTimesFavouringFileBAsOlder) {
  Write(A(), Line(1));
  Write(B(), Line(2));
  std::string older, newer;

  Touch(A(), 1000000, 500);  // later by nanoseconds only
  Touch(B(), 1000000, 499);
  EXPECT_TRUE(CHistoryFiles().currentIsA());
  CHistoryFiles().GetLoadOrder(older, newer);
  EXPECT_EQ(older, B());
  EXPECT_EQ(newer, A());

  Touch(B(), 1000001);
  EXPECT_FALSE(CHistoryFiles().currentIsA());
  CHistoryFiles().GetLoadOrder(older, newer);
  EXPECT_EQ(older, A());
  EXPECT_EQ(newer, B());

  Touch(A(), 1000001);
  EXPECT_FALSE(CHistoryFiles().currentIsA());
  CHistoryFiles().GetLoadOrder(older, newer);
  EXPECT_EQ(older, B());
  EXPECT_EQ(newer, A());

  CHistoryFiles history;
  std::remove(B().c_str());
  history.GetLoadOrder(older, newer);
  EXPECT_EQ(older, A());
  EXPECT_EQ(newer, "");
}

TEST_F(HistoryFilesTest, ClearThenANewMessageStartsFileAAfresh) {
  Write(A(), Line(1));
  Write(B(), Line(2));
  Touch(A(), 1000000);
  CHistoryFiles history;
  ASSERT_FALSE(history.currentIsA());
  history.Clear();
  EXPECT_FALSE(fs::exists(A()));
  EXPECT_FALSE(fs::exists(B()));
  history.Append(Line(3));
  EXPECT_EQ(Contents(A()), Line(3));
  EXPECT_FALSE(fs::exists(B()));
}

TEST_F(HistoryFilesTest, EveryLineIsInTheFileWhenAppendReturnsAndTwoWritersTakeTurns) {
  CHistoryFiles windowed;
  CHistoryFiles service;
  windowed.Append(Line(1));
  EXPECT_EQ(Contents(A()), Line(1));
  service.Append(Line(2));
  windowed.Append(Line(3));
  EXPECT_EQ(Contents(A()), Line(1) + Line(2) + Line(3));

  // One program switched files and emptied fileB; the other follows the newer file.
  windowed.SetLimitKB(1);
  for (int i = 4; i <= 7; ++i) windowed.Append(Line(i));
  ASSERT_FALSE(windowed.currentIsA());
  CHistoryFiles restarted;
  EXPECT_FALSE(restarted.currentIsA());
}

TEST_F(HistoryFilesTest, AFileClearedOrReplacedByTheOtherProgramIsNeverWrittenThroughAnOldDescriptor) {
  CHistoryFiles service;
  service.Append(Line(1));

  CHistoryFiles windowed;
  windowed.Clear();  // "Clear History" in the other program
  service.Append(Line(2));
  EXPECT_EQ(Contents(A()), Line(2));

  // A file put in place of the current one (a restored copy, say) is the one written to.
  Write(home_.file("restored.txt"), Line(3));
  fs::rename(home_.file("restored.txt"), A());
  service.Append(Line(4));
  EXPECT_EQ(Contents(A()), Line(3) + Line(4));
}

TEST_F(HistoryFilesTest, AMissingFolderLosesLinesAndSaysSoOnce) {
  AppSettings().SetString("Settings", "histpath", (home_.path() / "missing").c_str());
  CHistoryFiles history;
  history.Append(Line(1));
  EXPECT_EQ(history.TakeReport(), "History: cannot write " + history.fileA() + ": No such file or directory");
  history.Append(Line(2));
  EXPECT_EQ(history.TakeReport(), std::nullopt);
  std::string older, newer;
  history.GetLoadOrder(older, newer);
  EXPECT_EQ(older, "");
  EXPECT_FALSE(fs::exists(home_.path() / "missing"));
}

TEST_F(HistoryFilesTest, AFileRenamedAwayGetsNoMoreLinesOnceTheNameIsChecked) {
  CHistoryFiles history;
  history.Append(Line(1));
  fs::rename(A(), A() + ".1");  // logrotate's move, then the next batch
  history.CheckFileName();
  history.Append(Line(2));
  EXPECT_EQ(Contents(A() + ".1"), Line(1));
  EXPECT_EQ(Contents(A()), Line(2));
  history.CheckFileName();  // the name still leads to the file written: it is kept
  history.Append(Line(3));
  EXPECT_EQ(Contents(A()), Line(2) + Line(3));
}

TEST_F(HistoryFilesTest, AShortWriteIsCutBackAndFailureAndRecoveryAreReportedOnce) {
  // A file size limit stands in for a full disk: the write that crosses it is cut short.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 150;
  CHistoryFiles history;
  history.Append(Line(1));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  history.Append(Line(2));
  history.Append(Line(3));
  const std::string afterFailure = Contents(A());
  const auto failure = history.TakeReport();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(afterFailure, Line(1));  // no half of line 2
  EXPECT_EQ(failure, "History: cannot write " + A() + ": File too large");

  history.Append(Line(4));
  EXPECT_EQ(Contents(A()), Line(1) + Line(4));
  EXPECT_EQ(history.TakeReport(), "History: writing " + A() + " again");
  EXPECT_EQ(history.TakeReport(), std::nullopt);

  // A batch cut short keeps its whole lines and loses the one it ended in and the rest.
  small.rlim_cur = Contents(A()).size() + 150;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  history.Append(Line(5) + Line(6) + Line(7));
  const std::string afterBatch = Contents(A());
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(afterBatch, Line(1) + Line(4) + Line(5));
}

TEST_F(HistoryFilesTest, FilesOutsideTheDataRootAreNotOpenToOthersAndNeverFollowALink) {
  const fs::path folder = home_.path() / "history";
  fs::create_directory(folder);
  AppSettings().SetString("Settings", "histpath", folder.c_str());
  Write(home_.file("target.txt"), "");
  fs::create_symlink(home_.file("target.txt"), folder / "qvhista.txt");
  {
    CHistoryFiles history;
    history.Append(Line(1));
    EXPECT_EQ(Contents(home_.file("target.txt")), "");
    EXPECT_TRUE(history.TakeReport().has_value());
  }
  fs::remove(folder / "qvhista.txt");
  // A FIFO planted under the name is refused at once, not waited on.
  ASSERT_EQ(mkfifo((folder / "qvhista.txt").c_str(), 0666), 0);
  {
    CHistoryFiles history;
    history.Append(Line(1));
    EXPECT_EQ(history.TakeReport(), "History: cannot write " + history.fileA() + ": is a FIFO");
  }
  fs::remove(folder / "qvhista.txt");
  UseSharedUmask();  // as both programs do
  for (const mode_t rootMode : {0700u, 02770u}) {
    ASSERT_EQ(chmod(home_.path().c_str(), rootMode), 0);
    CHistoryFiles history;
    history.Append(Line(1));
    struct stat info {};
    ASSERT_EQ(stat(history.fileA().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, rootMode == 0700u ? 0640u : 0660u);
    fs::remove(history.fileA());
  }
}

}  // namespace
}  // namespace qv
