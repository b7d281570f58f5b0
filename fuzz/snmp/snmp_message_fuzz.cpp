// Feeds arbitrary datagrams to the SNMP decoder and to everything the trap monitor does with a
// decoded message. Whatever decodes must encode to a datagram that decodes to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "snmp/snmp_message.h"
#include "snmp/trap_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto message = qv::CSnmpMessage::Decode(qv::ByteSpan(data, size));
  if (!message) return 0;

  for (int i = 0; i <= message->BindingCount() + 1; ++i) {
    (void)message->BindingNameText(i);
    (void)message->BindingTypeName(i);
    (void)message->BindingValueText(i);
  }
  (void)message->Community();
  (void)message->EnterpriseText();
  (void)message->GenericTrap();
  (void)message->SpecificTrap();
  (void)message->TimeStamp();
  (void)qv::TrapReportText(*message);
  (void)qv::TrapReportAddress(*message, "127.0.0.1");

  const qv::Bytes once = message->Encode();
  const auto again = qv::CSnmpMessage::Decode(once);
  if (!again || again->Encode() != once) abort();

  if (message->PduType() == qv::kPduInformRequest) {
    message->SetPduType(qv::kPduResponse);
    message->SetErrorStatus(0);
    message->SetErrorIndex(0);
    if (!qv::CSnmpMessage::Decode(message->Encode())) abort();
  }
  return 0;
}
