// Any byte stream, cut into reads anywhere, splits into the same frames, each at most the
// frame limit and without a line end at its tail.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "reception/syslog_frame_reader.h"

namespace {

std::vector<std::string> Frames(std::string_view stream, std::size_t cut) {
  qv::CSyslogFrameReader reader;
  std::vector<std::string> frames;
  const auto collect = [&frames](std::string_view frame) {
    if (frame.empty() || frame.size() > qv::CSyslogFrameReader::kMaxFrame || frame.back() == '\n' ||
        frame.back() == '\r') {
      std::abort();
    }
    frames.emplace_back(frame);
  };
  reader.Feed(stream.substr(0, cut), collect);
  reader.Feed(stream.substr(cut), collect);
  reader.Finish(collect);
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose where the stream is cut between two reads.
  const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t cut = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % (stream.size() + 1);
  if (Frames(stream, cut) != Frames(stream, 0)) std::abort();
  return 0;
}
