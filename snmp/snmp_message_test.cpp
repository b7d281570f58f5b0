#include "snmp/snmp_message.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

// "30 3b 02 01" -> bytes; words without spaces ("public") are taken as text.
Bytes Datagram(std::initializer_list<std::string_view> parts) {
  Bytes out;
  for (std::string_view part : parts) {
    if (part.size() == 2 && std::isxdigit(static_cast<unsigned char>(part[0])) &&
        std::isxdigit(static_cast<unsigned char>(part[1]))) {
      out.push_back(static_cast<uint8_t>(std::stoi(std::string(part), nullptr, 16)));
    } else {
      out.insert(out.end(), part.begin(), part.end());
    }
  }
  return out;
}

// The trap of the rule action's defaults for a message "disk full" from 10.0.0.5.
const Bytes kDiskFullTrap = Datagram({
    "30", "3B",                                              // message
    "02", "01", "00",                                        // version 0
    "04", "06", "public",                                    // community
    "A4", "2E",                                              // SNMPv1 trap
    "06", "06", "2B", "06", "01", "04", "01", "00",          // enterprise 1.3.6.1.4.1.0
    "40", "04", "0A", "00", "00", "05",                      // agent address 10.0.0.5
    "02", "01", "06",                                        // generic 6
    "02", "01", "00",                                        // specific 0
    "43", "01", "00",                                        // time stamp 0
    "30", "15",                                              // binding list
    "30", "13",                                              // one binding
    "06", "06", "2B", "06", "01", "04", "01", "00",          // name 1.3.6.1.4.1.0
    "04", "09", "disk", "20", "full",                        // "disk full"
});

CSnmpMessage DiskFullTrap() {
  CSnmpMessage trap(kPduTrapV1);
  EXPECT_TRUE(trap.SetEnterprise("1.3.6.1.4.1.0"));
  EXPECT_TRUE(trap.SetAgentAddress("10.0.0.5"));
  trap.SetGenericTrap(6);
  trap.SetSpecificTrap(0);
  trap.SetTimeStamp(0);
  trap.AppendBinding(*CSnmpOid::FromText("1.3.6.1.4.1.0"), std::make_unique<CSnmpOctetString>("disk full"));
  return trap;
}

// An SNMPv2c notification as net-snmp's snmptrap -v2c sends it: uptime, trap identifier, one
// variable.
CSnmpMessage Notification(uint8_t type, std::unique_ptr<CSnmpValue> trapId) {
  CSnmpMessage message(type);
  message.SetVersion(CSnmpMessage::kVersion2c);
  message.SetCommunity("private");
  message.AppendBinding(*CSnmpOid::FromText("1.3.6.1.2.1.1.3.0"), std::make_unique<CSnmpTimeTicks>(4200));
  message.AppendBinding(*CSnmpOid::FromText("1.3.6.1.6.3.1.1.4.1.0"), std::move(trapId));
  message.AppendBinding(*CSnmpOid::FromText("1.3.6.1.2.1.2.2.1.1.2"), std::make_unique<CSnmpInteger>(2));
  return message;
}

CSnmpMessage RoundTrip(const CSnmpMessage& message) {
  auto decoded = CSnmpMessage::Decode(message.Encode());
  EXPECT_TRUE(decoded);
  return decoded ? std::move(*decoded) : CSnmpMessage(CSnmpMessage::kNoPdu);
}

TEST(SnmpMessageTest, SnmpV1TrapEncodesFieldByField) {
  EXPECT_EQ(DiskFullTrap().Encode(), kDiskFullTrap);

  CSnmpMessage fresh(kPduGetRequest);
  EXPECT_EQ(fresh.Version(), 0);
  EXPECT_EQ(fresh.Community(), "public");
  EXPECT_EQ(fresh.Encode(), Datagram({"30", "18", "02", "01", "00", "04", "06", "public", "A0", "0B", "02", "01",
                                      "00", "02", "01", "00", "02", "01", "00", "30", "00"}));
}

TEST(SnmpMessageTest, DecodedSnmpV1TrapAnswersEveryAccessor) {
  const auto trap = CSnmpMessage::Decode(kDiskFullTrap);
  ASSERT_TRUE(trap);
  EXPECT_EQ(trap->Version(), 0);
  EXPECT_EQ(trap->Community(), "public");
  EXPECT_EQ(trap->PduType(), kPduTrapV1);
  EXPECT_EQ(trap->GenericTrap(), 6);
  EXPECT_EQ(trap->SpecificTrap(), 0);
  EXPECT_EQ(trap->TimeStamp(), 0u);
  EXPECT_EQ(trap->AgentAddressText(), "10.0.0.5");
  EXPECT_EQ(trap->EnterpriseText(), "1.3.6.1.4.1.0");
  ASSERT_EQ(trap->BindingCount(), 1);
  EXPECT_EQ(trap->BindingNameText(1), "1.3.6.1.4.1.0");
  EXPECT_EQ(trap->BindingTypeName(1), "String");
  EXPECT_EQ(trap->BindingValueText(1), "disk full");
  EXPECT_EQ(trap->Encode(), kDiskFullTrap);

  CSnmpMessage changed = DiskFullTrap();
  changed.SetGenericTrap(2);
  changed.SetSpecificTrap(-7);
  changed.SetTimeStamp(0xFFFFFFFFu);
  changed.SetCommunity("");
  const CSnmpMessage back = RoundTrip(changed);
  EXPECT_EQ(back.GenericTrap(), 2);
  EXPECT_EQ(back.SpecificTrap(), -7);
  EXPECT_EQ(back.TimeStamp(), 0xFFFFFFFFu);
  EXPECT_EQ(back.Community(), "");
}

TEST(SnmpMessageTest, SnmpV2NotificationsTakeTrapNumbersFromBinding2) {
  for (uint8_t type : {kPduTrapV2, kPduInformRequest}) {
    const CSnmpMessage message =
        RoundTrip(Notification(type, std::make_unique<CSnmpOid>(*CSnmpOid::FromText("1.3.6.1.6.3.1.1.5.3"))));
    EXPECT_EQ(message.Version(), 1);
    EXPECT_EQ(message.Community(), "private");
    EXPECT_EQ(message.PduType(), type);
    EXPECT_EQ(message.GenericTrap(), 6);
    EXPECT_EQ(message.SpecificTrap(), 3);
    EXPECT_EQ(message.TimeStamp(), 0u);
    EXPECT_EQ(message.AgentAddressText(), "255.255.255.255");
    EXPECT_EQ(message.EnterpriseText(), "1.3.6.1.6.3.1.1.5.3");
    ASSERT_EQ(message.BindingCount(), 3);
    EXPECT_EQ(message.BindingTypeName(1), "TimeTick");
    EXPECT_EQ(message.BindingValueText(1), "4200");
    EXPECT_EQ(message.BindingNameText(3), "1.3.6.1.2.1.2.2.1.1.2");
  }

  const CSnmpMessage textId = RoundTrip(Notification(kPduTrapV2, std::make_unique<CSnmpOctetString>("no dots")));
  EXPECT_EQ(textId.SpecificTrap(), 0);
  EXPECT_FALSE(textId.EnterpriseText());

  CSnmpMessage onlyUptime(kPduTrapV2);
  onlyUptime.AppendBinding(*CSnmpOid::FromText("1.3.6.1.2.1.1.3.0"), std::make_unique<CSnmpTimeTicks>(1));
  EXPECT_EQ(onlyUptime.SpecificTrap(), 0);
  EXPECT_FALSE(onlyUptime.EnterpriseText());

  const CSnmpMessage request = RoundTrip(CSnmpMessage(kPduGetRequest));
  EXPECT_EQ(request.GenericTrap(), 0);
  EXPECT_EQ(request.TimeStamp(), 0u);
  EXPECT_FALSE(request.AgentAddressText());
  EXPECT_FALSE(request.EnterpriseText());
}

TEST(SnmpMessageTest, BindingAccessorsAnswerNullBeyondTheCountAndNullValuesReadAsOpaque) {
  CSnmpMessage request(kPduGetRequest);
  request.AppendBinding(*CSnmpOid::FromText("1.3.6.1.2.1.1.5.0"));
  EXPECT_EQ(request.BindingTypeName(1), "NULL");
  EXPECT_EQ(request.BindingValueText(1), "NULL");
  const Bytes encoded = request.Encode();
  const Bytes nullValue = {0x05, 0x00};
  EXPECT_TRUE(std::equal(nullValue.begin(), nullValue.end(), encoded.end() - 2));

  const CSnmpMessage back = RoundTrip(request);
  ASSERT_EQ(back.BindingCount(), 1);
  EXPECT_EQ(back.BindingNameText(1), "1.3.6.1.2.1.1.5.0");
  EXPECT_EQ(back.BindingTypeName(1), "Opaque");
  EXPECT_EQ(back.BindingValueText(1), "");
  for (int beyond : {0, -1, 2, 1000}) {
    EXPECT_EQ(back.BindingNameText(beyond), "NULL");
    EXPECT_EQ(back.BindingTypeName(beyond), "NULL");
    EXPECT_EQ(back.BindingValueText(beyond), "NULL");
    EXPECT_EQ(back.Binding(beyond), nullptr);
  }
}

TEST(SnmpMessageTest, InformAnsweredAsResponseKeepsRequestIdCommunityAndBindings) {
  auto inform = CSnmpMessage::Decode(Datagram({
      "30", "2A", "02", "01", "01", "04", "03", "abc",          // SNMPv2c, community "abc"
      "A6", "20", "02", "02", "04", "D2", "02", "01", "00", "02", "01", "00",  // request id 1234
      "30", "14", "30", "12",
      "06", "0A", "2B", "06", "01", "06", "03", "01", "01", "04", "01", "00",
      "06", "04", "2B", "06", "01", "05",
  }));
  ASSERT_TRUE(inform);
  CSnmpMessage response = std::move(*inform);
  EXPECT_EQ(response.RequestId(), 1234);
  response.SetPduType(kPduResponse);
  response.SetErrorStatus(0);
  response.SetErrorIndex(0);
  const CSnmpMessage sent = RoundTrip(response);
  EXPECT_EQ(sent.PduType(), kPduResponse);
  EXPECT_EQ(sent.RequestId(), 1234);
  EXPECT_EQ(sent.Version(), 1);
  EXPECT_EQ(sent.Community(), "abc");
  ASSERT_EQ(sent.BindingCount(), 1);
  EXPECT_EQ(sent.BindingValueText(1), "1.3.6.1.5");
}

TEST(SnmpMessageTest, MissingPartsAreToleratedWherePossible) {
  // No version: decodes, but the version accessor raises.
  const auto noVersion = CSnmpMessage::Decode(Datagram({"30", "10", "04", "01", "x", "A7", "0B", "02", "01", "05",
                                                        "02", "01", "00", "02", "01", "00", "30", "00"}));
  ASSERT_TRUE(noVersion);
  EXPECT_FALSE(noVersion->HasVersion());
  EXPECT_THROW(noVersion->Version(), CSnmpMissingVersion);
  EXPECT_EQ(noVersion->PduType(), kPduTrapV2);
  EXPECT_EQ(noVersion->RequestId(), 5);
  EXPECT_EQ(RoundTrip(*noVersion).HasVersion(), false);

  // No community: "public". Unknown PDU tag: no PDU, its content skipped.
  const auto unknownPdu =
      CSnmpMessage::Decode(Datagram({"30", "09", "02", "01", "00", "A5", "04", "02", "02", "FF", "FF"}));
  ASSERT_TRUE(unknownPdu);
  EXPECT_EQ(unknownPdu->Community(), "public");
  EXPECT_EQ(unknownPdu->PduType(), CSnmpMessage::kNoPdu);
  EXPECT_EQ(unknownPdu->BindingCount(), 0);
  EXPECT_FALSE(unknownPdu->AgentAddressText());

  // A trap with only its enterprise: the other fields keep their defaults, bindings still read.
  const auto sparseTrap = CSnmpMessage::Decode(Datagram({
      "30", "1D", "02", "01", "00", "A4", "18", "06", "03", "2B", "06", "01", "30", "11",
      "30", "08", "06", "03", "2B", "06", "01", "02", "01", "05",
      "30", "05", "06", "01", "2B", "05", "00"}));
  ASSERT_TRUE(sparseTrap);
  EXPECT_EQ(sparseTrap->EnterpriseText(), "1.3.6.1");
  EXPECT_EQ(sparseTrap->AgentAddressText(), "0.0.0.0");
  EXPECT_EQ(sparseTrap->GenericTrap(), 0);
  ASSERT_EQ(sparseTrap->BindingCount(), 2);
  EXPECT_EQ(sparseTrap->BindingValueText(1), "5");
  EXPECT_EQ(sparseTrap->BindingNameText(2), "1.3");

  // Bytes after the message, and a binding without value, are ignored.
  Bytes trailing = kDiskFullTrap;
  trailing.push_back(0x00);
  EXPECT_TRUE(CSnmpMessage::Decode(trailing));
  const auto halfBinding = CSnmpMessage::Decode(Datagram({"30", "0E", "02", "01", "00", "A7", "09", "30", "07",
                                                          "30", "05", "06", "03", "2B", "06", "01"}));
  ASSERT_TRUE(halfBinding);
  EXPECT_EQ(halfBinding->BindingCount(), 0);
}

TEST(SnmpMessageTest, DatagramsThatDoNotFitTheirLengthsAreDropped) {
  for (size_t size = 0; size < kDiskFullTrap.size(); ++size) {
    EXPECT_FALSE(CSnmpMessage::Decode(ByteSpan(kDiskFullTrap.data(), size))) << size;
  }
  const auto damaged = [](size_t at, uint8_t byte) {
    Bytes copy = kDiskFullTrap;
    copy[at] = byte;
    return CSnmpMessage::Decode(copy).has_value();
  };
  EXPECT_FALSE(damaged(6, 0x37));    // community longer than the message
  EXPECT_FALSE(damaged(14, 0x2F));   // PDU longer than the message
  EXPECT_FALSE(damaged(39, 0x16));   // binding list longer than the PDU
  EXPECT_FALSE(damaged(41, 0x14));   // binding longer than the list
  EXPECT_FALSE(damaged(51, 0x0A));   // value longer than its binding
  EXPECT_FALSE(damaged(24, 0x05));   // agent address of five bytes (a field of the PDU)
  EXPECT_FALSE(damaged(49, 0x81));   // name whose last group has its top bit set
  EXPECT_FALSE(damaged(39, 0x80));   // indefinite length
  EXPECT_TRUE(damaged(51, 0x08));    // a shorter value is still inside its binding
}

TEST(SnmpMessageTest, ABindingValueInvalidForItsKindIsShownAsOpaqueHex) {
  // Binding 1 is an address of three bytes, binding 2 an identifier cut short; binding 3 is fine.
  const auto trap = CSnmpMessage::Decode(Datagram({
      "30", "2E", "02", "01", "01", "04", "01", "x", "A7", "26", "02", "01", "00", "02", "01", "00", "02", "01", "00",
      "30", "1B",
      "30", "08", "06", "01", "2B", "40", "03", "0A", "00", "05",
      "30", "07", "06", "01", "2B", "06", "02", "2B", "81",
      "30", "06", "06", "01", "2B", "02", "01", "07"}));
  ASSERT_TRUE(trap);
  ASSERT_EQ(trap->BindingCount(), 3);
  EXPECT_EQ(trap->BindingTypeName(1), "Opaque");
  EXPECT_EQ(trap->BindingValueText(1), "0a0005");
  EXPECT_EQ(trap->BindingTypeName(2), "Opaque");
  EXPECT_EQ(trap->BindingValueText(2), "2b81");
  EXPECT_EQ(trap->BindingValueText(3), "7");
}

TEST(SnmpMessageTest, EveryDamagedByteDecodesOrIsDroppedWithoutHarm) {
  for (size_t at = 0; at < kDiskFullTrap.size(); ++at) {
    for (uint8_t byte : {0x00, 0x01, 0x7F, 0x80, 0x81, 0x84, 0xFF}) {
      Bytes copy = kDiskFullTrap;
      copy[at] = byte;
      if (auto message = CSnmpMessage::Decode(copy)) {
        // Whatever decodes encodes again and reads back the same.
        const Bytes once = message->Encode();
        const auto again = CSnmpMessage::Decode(once);
        ASSERT_TRUE(again) << at;
        EXPECT_EQ(again->Encode(), once) << at;
      }
    }
  }
}

}  // namespace
}  // namespace qv
