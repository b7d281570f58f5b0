#include "reception/syslog_frame_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

// Feeds `chunks` in order, then ends the stream, and returns the frames.
std::vector<std::string> Frames(const std::vector<std::string>& chunks, bool finish = true) {
  CSyslogFrameReader reader;
  std::vector<std::string> frames;
  const auto collect = [&frames](std::string_view frame) { frames.emplace_back(frame); };
  for (const std::string& chunk : chunks) reader.Feed(chunk, collect);
  if (finish) reader.Finish(collect);
  return frames;
}

using Strings = std::vector<std::string>;
using namespace std::string_literals;

TEST(SyslogFrameReaderTest, BothFramingsAreDetectedFrameByFrame) {
  EXPECT_EQ(Frames({"<13>one\n<13>two\r\n<13>three\0<13>four"s}, false), (Strings{"<13>one", "<13>two", "<13>three"}));
  EXPECT_EQ(Frames({"7 <13>one8 <13>two\n<13>three\n11 <13>a\nb c d"}),
            (Strings{"<13>one", "<13>two", "<13>three", "<13>a\nb c d"}));
  // Digits not followed by a space begin a line-ended frame; empty frames are skipped.
  EXPECT_EQ(Frames({"123: %SYS-5-CONFIG_I: x\n\n\r\n0 \n1234567890 too many digits\n"}),
            (Strings{"123: %SYS-5-CONFIG_I: x", "1234567890 too many digits"}));
  // A counted frame keeps line feeds inside it; one that ends it is dropped like a CR.
  EXPECT_EQ(Frames({"9 <13>a\nb\r\n"}), (Strings{"<13>a\nb"}));
}

TEST(SyslogFrameReaderTest, FramesSplitAtEveryByteReadTheSame) {
  const std::string stream = "11 <13>counted9 <13>x y z<14>line one\r\n<15>line two\n";
  const Strings whole = Frames({stream});
  ASSERT_EQ(whole, (Strings{"<13>counted", "<13>x y z", "<14>line one", "<15>line two"}));
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    EXPECT_EQ(Frames({stream.substr(0, cut), stream.substr(cut)}), whole) << cut;
  }
  Strings bytes;
  for (char c : stream) bytes.emplace_back(1, c);
  EXPECT_EQ(Frames(bytes), whole);
}

TEST(SyslogFrameReaderTest, OverlongFramesAreCutAndTheStreamStaysInStep) {
  constexpr std::size_t kMax = CSyslogFrameReader::kMaxFrame;
  const std::string longLine(kMax + 500, 'a');
  Strings frames = Frames({"<13>" + longLine.substr(0, 1000), longLine + "\n<13>next\n"});
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].size(), kMax);
  EXPECT_EQ(frames[1], "<13>next");
  // A line of exactly the limit is whole.
  EXPECT_EQ(Frames({std::string(kMax, 'b'), "\n<13>n\n"}), (Strings{std::string(kMax, 'b'), "<13>n"}));

  const std::string body(kMax + 10, 'c');
  frames = Frames({std::to_string(body.size()) + " " + body.substr(0, 30000), body.substr(30000) + "5 <13>z"});
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], body.substr(0, kMax));
  EXPECT_EQ(frames[1], "<13>z");
}

TEST(SyslogFrameReaderTest, TheEndOfTheStreamKeepsWhatWasBegun) {
  EXPECT_EQ(Frames({"<13>no line end"}), (Strings{"<13>no line end"}));
  EXPECT_EQ(Frames({"20 <13>short"}), (Strings{"<13>short"}));
  EXPECT_EQ(Frames({"42"}), (Strings{"42"}));
  EXPECT_EQ(Frames({"<13>no line end"}, false), Strings{});
}

TEST(SyslogFrameReaderTest, ALongFramesBufferIsGivenBackOnlyWhenNoFrameIsHalfRead) {
  const std::string longFrame = "<13>" + std::string(60000, 'x');
  struct Case {
    const char* name;
    std::string bytes;
    bool released;
  };
  const Case cases[] = {
      {"long line ended", longFrame + "\n", true},
      {"long counted frame ended", std::to_string(longFrame.size()) + " " + longFrame, true},
      {"long line still open", longFrame, false},
      {"next frame begun", longFrame + "\n<13>next", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSyslogFrameReader reader;
    std::vector<std::string> frames;
    reader.Feed(c.bytes, [&](std::string_view frame) { frames.emplace_back(frame); });
    ASSERT_GT(reader.bufferCapacity(), CSyslogFrameReader::kIdleBuffer);
    reader.ReleaseIdleBuffer();
    EXPECT_EQ(reader.bufferCapacity() <= CSyslogFrameReader::kIdleBuffer, c.released);
    reader.Finish([&](std::string_view frame) { frames.emplace_back(frame); });
    EXPECT_EQ(frames.at(0), longFrame);  // what was begun is kept whole
  }
}

}  // namespace
}  // namespace qv
