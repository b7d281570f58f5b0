#include "reception/syslog_frame_reader.h"

#include <algorithm>

namespace qv {
namespace {

// Nine digits allow a length below a gigabyte; a longer run of digits is text, not a length.
constexpr std::size_t kMaxLengthDigits = 9;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool EndsLine(char c) { return c == '\n' || c == '\0'; }

}  // namespace

void CSyslogFrameReader::Keep(std::string_view bytes) {
  frame_.append(bytes.substr(0, kMaxFrame - std::min(kMaxFrame, frame_.size())));
}

void CSyslogFrameReader::Emit(const FrameHandler& onFrame) {
  while (!frame_.empty() && (frame_.back() == '\r' || frame_.back() == '\n')) frame_.pop_back();
  if (!frame_.empty()) onFrame(frame_);
  frame_.clear();
}

void CSyslogFrameReader::Feed(std::string_view bytes, const FrameHandler& onFrame) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    switch (state_) {
      case State::kStart: {
        const char c = bytes[i];
        if (EndsLine(c)) {
          ++i;  // an empty frame
        } else {
          state_ = IsDigit(c) ? State::kLength : State::kLine;
        }
        break;
      }
      case State::kLength: {
        const char c = bytes[i];
        if (IsDigit(c) && frame_.size() < kMaxLengthDigits) {
          frame_ += c;
          ++i;
        } else if (c == ' ') {
          remaining_ = std::stoul(frame_);
          frame_.clear();
          ++i;
          state_ = State::kCounted;
          if (remaining_ == 0) state_ = State::kStart;
        } else {
          state_ = State::kLine;  // the digits begin a line-ended frame
        }
        break;
      }
      case State::kCounted: {
        const std::size_t take = std::min(remaining_, bytes.size() - i);
        Keep(bytes.substr(i, take));
        i += take;
        remaining_ -= take;
        if (remaining_ == 0) {
          Emit(onFrame);
          state_ = State::kStart;
        }
        break;
      }
      case State::kLine: {
        const auto end = std::find_if(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end(), EndsLine);
        const std::size_t stop = static_cast<std::size_t>(end - bytes.begin());
        const std::size_t room = kMaxFrame - frame_.size();
        if (stop - i >= room && !(stop - i == room && stop < bytes.size())) {
          // Too long: hand on what fits, skip the rest of the line.
          Keep(bytes.substr(i, room));
          i += room;
          Emit(onFrame);
          state_ = State::kSkipLine;
          break;
        }
        Keep(bytes.substr(i, stop - i));
        i = stop;
        if (i < bytes.size()) {
          ++i;  // the line end
          Emit(onFrame);
          state_ = State::kStart;
        }
        break;
      }
      case State::kSkipLine: {
        const auto end = std::find_if(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end(), EndsLine);
        i = static_cast<std::size_t>(end - bytes.begin());
        if (i < bytes.size()) {
          ++i;
          state_ = State::kStart;
        }
        break;
      }
    }
  }
}

void CSyslogFrameReader::ReleaseIdleBuffer() {
  if (frame_.empty() && frame_.capacity() > kIdleBuffer) std::string().swap(frame_);
}

void CSyslogFrameReader::Finish(const FrameHandler& onFrame) {
  if (state_ != State::kSkipLine) Emit(onFrame);
  frame_.clear();
  remaining_ = 0;
  state_ = State::kStart;
}

}  // namespace qv
