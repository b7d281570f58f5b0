#include "snmp/snmp_value.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "snmp/ber.h"
#include "snmp/snmp_oid.h"

namespace qv {
namespace {

Bytes Encoded(const CSnmpValue& value) {
  Bytes out;
  value.Encode(out);
  return out;
}

Bytes LengthBytes(size_t length) {
  Bytes out;
  ber::AppendLength(out, length);
  return out;
}

std::unique_ptr<CSnmpValue> Decoded(uint8_t tag, const Bytes& content) { return DecodeSnmpValue(tag, content); }

TEST(BerTest, LengthsUpTo126TakeOneByteAndLongerTheLongForm) {
  EXPECT_EQ(LengthBytes(0), (Bytes{0x00}));
  EXPECT_EQ(LengthBytes(126), (Bytes{0x7E}));
  EXPECT_EQ(LengthBytes(127), (Bytes{0x81, 0x7F}));
  EXPECT_EQ(LengthBytes(255), (Bytes{0x81, 0xFF}));
  EXPECT_EQ(LengthBytes(256), (Bytes{0x82, 0x01, 0x00}));
  EXPECT_EQ(LengthBytes(65536), (Bytes{0x83, 0x01, 0x00, 0x00}));
}

TEST(BerTest, ReaderTakesBothLengthFormsAndNeverLooksPastTheEnd) {
  const Bytes shortAndLong = {0x04, 0x01, 'a', 0x04, 0x81, 0x02, 'b', 'c', 0x05, 0x00};
  ber::CBerReader reader(shortAndLong);
  EXPECT_EQ(reader.Next()->content.size(), 1u);
  EXPECT_FALSE(reader.NextIf(0x02));  // wrong tag: left in place
  const auto second = reader.NextIf(0x04);
  ASSERT_TRUE(second);
  EXPECT_EQ(std::string(second->content.begin(), second->content.end()), "bc");
  EXPECT_EQ(reader.Next()->tag, 0x05);
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.Failed());

  const Bytes damaged[] = {
      {0x04, 0x03, 'a', 'b'},              // content past the end
      {0x04},                              // no length
      {0x04, 0x82, 0x01},                  // length bytes past the end
      {0x04, 0x80, 0x00, 0x00},            // indefinite form
      {0x04, 0x85, 0, 0, 0, 0, 1, 'a'},    // more length bytes than a datagram needs
      {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}  // huge length
  };
  for (const Bytes& bytes : damaged) {
    ber::CBerReader bad(bytes);
    EXPECT_FALSE(bad.Next());
    EXPECT_TRUE(bad.Failed());
    EXPECT_FALSE(bad.Next());  // stays failed
  }
}

TEST(SnmpValueTest, IntegersTakeTheShortestTwosComplementForm) {
  EXPECT_EQ(Encoded(CSnmpInteger(0)), (Bytes{0x02, 0x01, 0x00}));
  EXPECT_EQ(Encoded(CSnmpInteger(127)), (Bytes{0x02, 0x01, 0x7F}));
  EXPECT_EQ(Encoded(CSnmpInteger(128)), (Bytes{0x02, 0x02, 0x00, 0x80}));
  EXPECT_EQ(Encoded(CSnmpInteger(-1)), (Bytes{0x02, 0x01, 0xFF}));
  EXPECT_EQ(Encoded(CSnmpInteger(-128)), (Bytes{0x02, 0x01, 0x80}));
  EXPECT_EQ(Encoded(CSnmpInteger(-129)), (Bytes{0x02, 0x02, 0xFF, 0x7F}));
  EXPECT_EQ(Encoded(CSnmpInteger(INT32_MAX)), (Bytes{0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Encoded(CSnmpInteger(INT32_MIN)), (Bytes{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(CSnmpInteger(-5).Text(), "-5");
  EXPECT_EQ(CSnmpInteger(-5).TypeName(), "Integer");
}

TEST(SnmpValueTest, IntegersReadBackSignExtendedOrCutToTheLow32Bits) {
  for (int32_t value : {0, 1, 127, 128, 255, 256, -1, -128, -129, 65535, -65536, INT32_MAX, INT32_MIN}) {
    const Bytes content = CSnmpInteger(value).Content();
    EXPECT_EQ(ber::ReadNumber32(content), static_cast<uint32_t>(value)) << value;
  }
  EXPECT_EQ(Decoded(kTagInteger, {0xFF, 0x00})->Text(), "-256");
  EXPECT_EQ(Decoded(kTagInteger, {0x01, 0x00, 0x00, 0x00, 0x05})->Text(), "5");
  EXPECT_EQ(Decoded(kTagInteger, {})->Text(), "0");
}

TEST(SnmpValueTest, CountersGaugesAndTimeTicksAreUnsigned) {
  EXPECT_EQ(Encoded(CSnmpCounter(0xFFFFFFFFu)), (Bytes{0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Encoded(CSnmpGauge(200)), (Bytes{0x42, 0x02, 0x00, 0xC8}));
  EXPECT_EQ(Encoded(CSnmpTimeTicks(0)), (Bytes{0x43, 0x01, 0x00}));

  // A device up for 250 days; net-snmp writes the ticks with a leading zero byte.
  const auto uptime = Decoded(kTagTimeTicks, {0x00, 0x80, 0xBE, 0xFC, 0x00});
  EXPECT_EQ(uptime->Text(), "2160000000");
  EXPECT_EQ(uptime->TypeName(), "TimeTick");
  // A short form with the top bit set is sign-extended, as every agent reads it.
  EXPECT_EQ(Decoded(kTagCounter, {0xFF})->Text(), "4294967295");
  EXPECT_EQ(Decoded(kTagCounter, {0x05})->TypeName(), "Counter");
  EXPECT_EQ(Decoded(kTagGauge, {0x05})->TypeName(), "Gauge");
}

TEST(SnmpValueTest, Counter64RoundTripsOverTheWholeRange) {
  for (uint64_t value : {uint64_t{0}, uint64_t{127}, uint64_t{128}, uint64_t{1} << 63, UINT64_MAX}) {
    const auto decoded = Decoded(kTagCounter64, CSnmpCounter64(value).Content());
    EXPECT_EQ(decoded->Text(), std::to_string(value));
    EXPECT_EQ(decoded->TypeName(), "Counter64");
  }
  EXPECT_EQ(Encoded(CSnmpCounter64(UINT64_MAX)),
            (Bytes{0x46, 0x09, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Encoded(CSnmpCounter64(1)), (Bytes{0x46, 0x01, 0x01}));
}

TEST(SnmpValueTest, OctetStringsShowTextOrElseHexadecimal) {
  EXPECT_EQ(CSnmpOctetString("abc").Text(), "abc");
  EXPECT_EQ(CSnmpOctetString("a\tb\r\nc").Text(), "a\tb\r\nc");
  EXPECT_EQ(CSnmpOctetString(std::string("abc\0", 4)).Text(), "abc");
  EXPECT_EQ(CSnmpOctetString("").Text(), "");
  EXPECT_EQ(CSnmpOctetString("a\x01" "b").Text(), "610162");
  EXPECT_EQ(CSnmpOctetString(std::string("a\0b", 3)).Text(), "610062");
  EXPECT_EQ(CSnmpOctetString(std::string("ab\0\0", 4)).Text(), "61620000");
  EXPECT_EQ(CSnmpOctetString("\xC3\xA9t\xFF").Text(), "c3a974ff");
  EXPECT_EQ(Encoded(CSnmpOctetString("abc")), (Bytes{0x04, 0x03, 'a', 'b', 'c'}));
  EXPECT_EQ(CSnmpOctetString("abc").TypeName(), "String");
}

TEST(SnmpValueTest, UnknownTagsAndNullDecodeAsOpaqueThatShowsOnlyPrintableBytes) {
  const auto null = Decoded(kTagNull, {});
  EXPECT_EQ(null->TypeName(), "Opaque");
  EXPECT_EQ(null->Text(), "");
  EXPECT_EQ(null->Tag(), kTagOpaque);

  const auto noSuchObject = Decoded(0x80, {'a', 0x00, 'b', 0x7F});
  EXPECT_EQ(noSuchObject->Text(), "a b ");
  EXPECT_EQ(Encoded(*noSuchObject), (Bytes{0x44, 0x04, 'a', 0x00, 'b', 0x7F}));
}

TEST(SnmpValueTest, IpAddressesAreFourDottedBytes) {
  const auto address = CSnmpIpAddress::FromText("10.0.0.255");
  ASSERT_TRUE(address);
  EXPECT_EQ(address->Text(), "10.0.0.255");
  EXPECT_EQ(Encoded(*address), (Bytes{0x40, 0x04, 10, 0, 0, 255}));
  EXPECT_EQ(address->TypeName(), "IpAddress");
  EXPECT_EQ(CSnmpIpAddress().Text(), "0.0.0.0");
  for (const char* bad : {"", "10.0.0", "10.0.0.256", "10.0.0.1.", "10..0.1", "a.b.c.d", "10.0.0.1x", " 10.0.0.1",
                          "-1.0.0.1", "0010.0.0.1"}) {
    EXPECT_FALSE(CSnmpIpAddress::FromText(bad)) << bad;
  }
  EXPECT_FALSE(Decoded(kTagIpAddress, {1, 2, 3}));
  EXPECT_FALSE(Decoded(kTagIpAddress, {1, 2, 3, 4, 5}));
}

TEST(SnmpOidTest, DottedTextEncodesWithFirstTwoArcsInOneSubIdentifier) {
  const auto enterprise = CSnmpOid::FromText("1.3.6.1.4.1.0");
  ASSERT_TRUE(enterprise);
  EXPECT_EQ(Encoded(*enterprise), (Bytes{0x06, 0x06, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x00}));
  EXPECT_EQ(CSnmpOid::FromText("1.3.128")->Content(), (Bytes{0x2B, 0x81, 0x00}));
  EXPECT_EQ(CSnmpOid::FromText("1.3.16383.16384")->Content(), (Bytes{0x2B, 0xFF, 0x7F, 0x81, 0x80, 0x00}));
  EXPECT_EQ(CSnmpOid::FromText("1.3.4294967295")->Content(), (Bytes{0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(CSnmpOid::FromText(".1.3.6")->Text(), "1.3.6");
  EXPECT_EQ(CSnmpOid::FromText(" \t1.3.6.1.4.1.0  ")->Text(), "1.3.6.1.4.1.0");
  EXPECT_EQ(enterprise->TypeName(), "OID");
}

TEST(SnmpOidTest, ContentRendersAsDottedText) {
  EXPECT_EQ(Decoded(kTagOid, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x00})->Text(), "1.3.6.1.4.1.0");
  EXPECT_EQ(Decoded(kTagOid, {0x2B, 0x81, 0x00})->Text(), "1.3.128");
  EXPECT_EQ(Decoded(kTagOid, {0x00})->Text(), "0.0");
  EXPECT_EQ(Decoded(kTagOid, {0x27})->Text(), "0.39");
  EXPECT_EQ(Decoded(kTagOid, {0x28})->Text(), "1.0");
  EXPECT_EQ(Decoded(kTagOid, {0x50, 0x01})->Text(), "2.0.1");
  // A first sub-identifier of several bytes: 2.999 is 1079.
  EXPECT_EQ(Decoded(kTagOid, {0x88, 0x37, 0x05})->Text(), "2.999.5");
  EXPECT_EQ(CSnmpOid::FromText("2.999.5")->Content(), (Bytes{0x88, 0x37, 0x05}));
  EXPECT_EQ(Decoded(kTagOid, {})->Text(), "");
}

TEST(SnmpOidTest, InvalidTextOrContentIsRefused) {
  for (const char* bad : {"", "1", "1.", "1..3", "1.3.", "1.3.a", "1.3.-1", "1.3.+1", "3.1", "1.40", "0.40",
                          "1.3.4294967296", " ", "1. 3", "1 .3"}) {
    EXPECT_FALSE(CSnmpOid::FromText(bad)) << bad;
  }
  EXPECT_TRUE(CSnmpOid::FromText("2.40"));
  EXPECT_FALSE(Decoded(kTagOid, {0x2B, 0x81}));                          // last group cut off
  EXPECT_FALSE(Decoded(kTagOid, {0x2B, 0x90, 0x80, 0x80, 0x80, 0x00}));  // above 32 bits

  std::string longest = "1.3";
  while (longest.size() < 2 * CSnmpOid::kMaxContentLength + 1) longest += ".1";
  EXPECT_EQ(CSnmpOid::FromText(longest)->Content().size(), CSnmpOid::kMaxContentLength);
  EXPECT_FALSE(CSnmpOid::FromText(longest + ".1"));
  EXPECT_FALSE(Decoded(kTagOid, Bytes(CSnmpOid::kMaxContentLength + 1, 0x01)));
}

}  // namespace
}  // namespace qv
