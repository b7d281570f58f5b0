// A viewer's reader of the service's frames: any byte stream, cut into reads anywhere, gives
// the same frames and the same verdict, every frame within the limit, and re-framing the frames
// gives back the bytes that were accepted.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "viewerlink/viewer_protocol.h"

namespace {

struct Outcome {
  std::vector<std::string> frames;
  bool failed = false;
  bool operator==(const Outcome&) const = default;
};

Outcome Read(std::string_view stream, std::size_t cut) {
  qv::CViewerFrameReader reader;
  Outcome outcome;
  const auto collect = [&outcome](std::string_view frame) {
    if (frame.size() > qv::CViewerFrameReader::kMaxFrame) std::abort();
    outcome.frames.emplace_back(frame);
  };
  if (reader.Feed(stream.substr(0, cut), collect)) reader.Feed(stream.substr(cut), collect);
  outcome.failed = reader.failed();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose where the stream is cut between two reads.
  const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t cut = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % (stream.size() + 1);
  const Outcome whole = Read(stream, stream.size());
  if (Read(stream, cut) != whole) std::abort();
  // Frames written again are a prefix of the stream (the rest is a broken or unfinished frame);
  // lines ending in a line feed are left out of this check, as writing drops their line end.
  std::string again;
  for (const std::string& frame : whole.frames) {
    if (!frame.empty() && (frame.back() == '\n' || frame.back() == '\r')) return 0;
    qv::AppendViewerFrame(again, frame);
  }
  if (stream.substr(0, again.size()) != again) std::abort();
  return 0;
}
