#include "platform/eventlog/event_record.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qv::evt {
namespace {

uint32_t U32(const std::string& bytes, std::size_t offset) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}
uint16_t U16(const std::string& bytes, std::size_t offset) {
  uint16_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

EventRecord Sample() {
  EventRecord record;
  record.recordNumber = 42;
  record.timeGenerated = 1700000000;
  record.timeWritten = 1700000001;
  record.eventId = 0xC0000123;
  record.eventType = kWarningType;
  record.category = 3;
  record.source = "quorvel";     // 8 bytes with its NUL
  record.computer = "hostname";  // 9 bytes: the SID offset rounds 73 up to 76
  record.strings = {"first", "", "third one"};
  record.data = std::string("\x01\x00\x02", 3);
  return record;
}

TEST(EventRecordTest, TheLayoutIsThePlatformsRecordWithEightBitStrings) {
  const std::string bytes = EncodeEventRecord(Sample());
  ASSERT_EQ(bytes.size() % 4, 0u);
  EXPECT_EQ(U32(bytes, 0), bytes.size());
  EXPECT_EQ(U32(bytes, bytes.size() - 4), bytes.size());
  EXPECT_EQ(U32(bytes, 4), 0x654c664cu);
  EXPECT_EQ(U32(bytes, 8), 42u);
  EXPECT_EQ(U32(bytes, 12), 1700000000u);
  EXPECT_EQ(U32(bytes, 16), 1700000001u);
  EXPECT_EQ(U32(bytes, 20), 0xC0000123u);
  EXPECT_EQ(U16(bytes, 24), kWarningType);
  EXPECT_EQ(U16(bytes, 26), 3u);
  EXPECT_EQ(U16(bytes, 28), 3u);
  EXPECT_EQ(std::string(bytes.data() + 56), "quorvel");
  EXPECT_EQ(std::string(bytes.data() + 64), "hostname");
  EXPECT_EQ(U32(bytes, 40), 0u);   // no user SID
  EXPECT_EQ(U32(bytes, 44), 76u);  // after the computer name, aligned
  EXPECT_EQ(U32(bytes, 36), 76u);
  EXPECT_EQ(std::string(bytes.data() + 76, 17), std::string("first\0\0third one\0", 17));
  EXPECT_EQ(U32(bytes, 48), 3u);
  EXPECT_EQ(U32(bytes, 52), 93u);
  EXPECT_EQ(bytes.substr(93, 3), std::string("\x01\x00\x02", 3));
  EXPECT_EQ(bytes.size(), 100u);  // data ends at 96, then the closing length
}

TEST(EventRecordTest, RecordsDecodeBackOneAfterTheOther) {
  EventRecord second = Sample();
  second.recordNumber = 43;
  second.strings.clear();
  second.data.clear();
  second.source = "s";
  const std::string buffer = EncodeEventRecord(Sample()) + EncodeEventRecord(second);

  std::size_t length = 0;
  const auto first = DecodeEventRecord(buffer, &length);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, Sample());
  const auto next = DecodeEventRecord(std::string_view(buffer).substr(length));
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(*next, second);
}

TEST(EventRecordTest, MalformedBytesDecodeToNothing) {
  const std::string good = EncodeEventRecord(Sample());
  EXPECT_FALSE(DecodeEventRecord(good.substr(0, good.size() - 4)).has_value());  // cut short
  EXPECT_FALSE(DecodeEventRecord(good.substr(0, 40)).has_value());
  EXPECT_FALSE(DecodeEventRecord("").has_value());

  const auto damaged = [&good](std::size_t offset, uint32_t value) {
    std::string bytes = good;
    std::memcpy(bytes.data() + offset, &value, sizeof value);
    return DecodeEventRecord(bytes).has_value();
  };
  EXPECT_FALSE(damaged(4, 0x12345678));              // signature
  EXPECT_FALSE(damaged(0, 0xFFFFFFF0));              // length past the bytes
  EXPECT_FALSE(damaged(good.size() - 4, 8));         // closing length differs
  EXPECT_FALSE(damaged(36, 0xFFFFFF00));             // strings beyond the record
  EXPECT_FALSE(damaged(52, static_cast<uint32_t>(good.size())));  // data beyond the record
  EXPECT_FALSE(damaged(48, 0xFFFFFFFF));             // data length beyond the record
  std::string manyStrings = good;
  const uint16_t count = 60000;
  std::memcpy(manyStrings.data() + 26, &count, sizeof count);
  EXPECT_FALSE(DecodeEventRecord(manyStrings).has_value());
}

TEST(EventRecordTest, TextsEndAtTheirFirstNulByte) {
  EventRecord record = Sample();
  record.strings = {std::string("cut\0here", 8)};
  const auto decoded = DecodeEventRecord(EncodeEventRecord(record));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->strings, std::vector<std::string>{"cut"});
}

}  // namespace
}  // namespace qv::evt
