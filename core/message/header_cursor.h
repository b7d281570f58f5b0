#pragma once
// A read position in a syslog header, for the parsers of the RFC 5424 and the lenient RFC 3164
// forms. Every reader consumes only what it matched: on failure the position is unchanged.
// Internal to core/message.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qv::header {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  std::size_t position() const { return pos_; }
  void Restore(std::size_t position) { pos_ = position; }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  std::string_view Rest() const { return text_.substr(pos_); }
  // What was consumed since `start`.
  std::string_view Since(std::size_t start) const { return text_.substr(start, pos_ - start); }

  bool Literal(char c) {
    if (Peek() != c || AtEnd()) return false;
    ++pos_;
    return true;
  }

  // At least one space; returns false (consuming nothing) when there is none.
  bool Spaces() {
    const std::size_t start = pos_;
    while (!AtEnd() && text_[pos_] == ' ') ++pos_;
    return pos_ > start;
  }

  // Between `least` and `most` decimal digits; more digits than `most` fail.
  std::optional<int64_t> Digits(std::size_t least, std::size_t most) {
    std::size_t end = pos_;
    int64_t value = 0;
    while (end < text_.size() && IsDigit(text_[end]) && end - pos_ <= most) value = value * 10 + (text_[end++] - '0');
    const std::size_t count = end - pos_;
    if (count < least || count > most) return std::nullopt;
    pos_ = end;
    return value;
  }

  // Any number of decimal digits, their value not wanted (a fraction of a second); the count.
  std::size_t SkipDigits() {
    const std::size_t start = pos_;
    while (!AtEnd() && IsDigit(text_[pos_])) ++pos_;
    return pos_ - start;
  }

  // Characters up to the next space (or the end), at least one.
  std::string_view Word() {
    std::size_t end = pos_;
    while (end < text_.size() && text_[end] != ' ') ++end;
    const std::string_view word = text_.substr(pos_, end - pos_);
    pos_ = end;
    return word;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace qv::header
