#include "platform/eventlog/event_record.h"

#include <cstring>

namespace qv::evt {
namespace {

namespace field {
constexpr std::size_t kLength = 0;
constexpr std::size_t kReserved = 4;
constexpr std::size_t kRecordNumber = 8;
constexpr std::size_t kTimeGenerated = 12;
constexpr std::size_t kTimeWritten = 16;
constexpr std::size_t kEventId = 20;
constexpr std::size_t kEventType = 24;
constexpr std::size_t kNumStrings = 26;
constexpr std::size_t kEventCategory = 28;
constexpr std::size_t kStringOffset = 36;
constexpr std::size_t kUserSidOffset = 44;
constexpr std::size_t kDataLength = 48;
constexpr std::size_t kDataOffset = 52;
}  // namespace field

std::size_t RoundUp4(std::size_t n) { return (n + 3) & ~static_cast<std::size_t>(3); }

template <typename T>
void Put(std::string& out, std::size_t offset, T value) {
  std::memcpy(out.data() + offset, &value, sizeof value);
}

template <typename T>
T Get(std::string_view in, std::size_t offset) {
  T value{};
  std::memcpy(&value, in.data() + offset, sizeof value);
  return value;
}

void AppendText(std::string& out, const std::string& text) {
  out.append(text.c_str());  // up to the first NUL
  out.push_back('\0');
}

// The NUL-terminated text at `offset`, which must end before `end`.
std::optional<std::string> TextAt(std::string_view record, std::size_t offset, std::size_t end) {
  if (offset >= end) return std::nullopt;
  const void* nul = std::memchr(record.data() + offset, '\0', end - offset);
  if (nul == nullptr) return std::nullopt;
  return std::string(record.data() + offset, static_cast<const char*>(nul));
}

}  // namespace

std::string EncodeEventRecord(const EventRecord& record) {
  std::string out(kRecordHeaderSize, '\0');
  AppendText(out, record.source);
  AppendText(out, record.computer);
  out.resize(RoundUp4(out.size()), '\0');
  const std::size_t sidOffset = out.size();
  const std::size_t stringOffset = out.size();
  for (const std::string& text : record.strings) AppendText(out, text);
  const std::size_t dataOffset = out.size();
  out += record.data;
  out.resize(RoundUp4(out.size()) + sizeof(uint32_t), '\0');
  const auto length = static_cast<uint32_t>(out.size());

  Put<uint32_t>(out, field::kLength, length);
  Put<uint32_t>(out, field::kReserved, kRecordSignature);
  Put<uint32_t>(out, field::kRecordNumber, record.recordNumber);
  Put<uint32_t>(out, field::kTimeGenerated, record.timeGenerated);
  Put<uint32_t>(out, field::kTimeWritten, record.timeWritten);
  Put<uint32_t>(out, field::kEventId, record.eventId);
  Put<uint16_t>(out, field::kEventType, record.eventType);
  Put<uint16_t>(out, field::kNumStrings, static_cast<uint16_t>(record.strings.size()));
  Put<uint16_t>(out, field::kEventCategory, record.category);
  Put<uint32_t>(out, field::kStringOffset, static_cast<uint32_t>(stringOffset));
  Put<uint32_t>(out, field::kUserSidOffset, static_cast<uint32_t>(sidOffset));
  Put<uint32_t>(out, field::kDataLength, static_cast<uint32_t>(record.data.size()));
  Put<uint32_t>(out, field::kDataOffset, static_cast<uint32_t>(dataOffset));
  Put<uint32_t>(out, length - sizeof(uint32_t), length);
  return out;
}

std::optional<EventRecord> DecodeEventRecord(std::string_view bytes, std::size_t* length) {
  if (bytes.size() < kRecordHeaderSize + sizeof(uint32_t)) return std::nullopt;
  const std::size_t size = Get<uint32_t>(bytes, field::kLength);
  if (size < kRecordHeaderSize + sizeof(uint32_t) || size > bytes.size() || size % 4 != 0 ||
      Get<uint32_t>(bytes, field::kReserved) != kRecordSignature ||
      Get<uint32_t>(bytes, size - sizeof(uint32_t)) != size) {
    return std::nullopt;
  }
  const std::string_view record = bytes.substr(0, size);
  const std::size_t end = size - sizeof(uint32_t);

  EventRecord out;
  out.recordNumber = Get<uint32_t>(record, field::kRecordNumber);
  out.timeGenerated = Get<uint32_t>(record, field::kTimeGenerated);
  out.timeWritten = Get<uint32_t>(record, field::kTimeWritten);
  out.eventId = Get<uint32_t>(record, field::kEventId);
  out.eventType = Get<uint16_t>(record, field::kEventType);
  out.category = Get<uint16_t>(record, field::kEventCategory);

  std::optional<std::string> source = TextAt(record, kRecordHeaderSize, end);
  if (!source) return std::nullopt;
  std::optional<std::string> computer = TextAt(record, kRecordHeaderSize + source->size() + 1, end);
  if (!computer) return std::nullopt;
  out.source = std::move(*source);
  out.computer = std::move(*computer);

  std::size_t offset = Get<uint32_t>(record, field::kStringOffset);
  const uint16_t count = Get<uint16_t>(record, field::kNumStrings);
  for (uint16_t i = 0; i < count; ++i) {
    std::optional<std::string> text = TextAt(record, offset, end);
    if (!text) return std::nullopt;
    offset += text->size() + 1;
    out.strings.push_back(std::move(*text));
  }

  const std::size_t dataOffset = Get<uint32_t>(record, field::kDataOffset);
  const std::size_t dataLength = Get<uint32_t>(record, field::kDataLength);
  if (dataOffset > end || dataLength > end - dataOffset) return std::nullopt;
  out.data.assign(record.data() + dataOffset, dataLength);
  if (length != nullptr) *length = size;
  return out;
}

}  // namespace qv::evt
