#pragma once
// Values carried by SNMP messages. Every value knows its BER tag, its content bytes and the type
// name and text that the trap monitor prints. Values are immutable once made; a message owns
// its values through std::unique_ptr.
//
// Counters, gauges and time ticks are unsigned 32-bit numbers: they are written in the shortest
// form that reads back non-negative (up to five bytes) and printed unsigned, so that a device
// up for more than 248 days does not report a negative uptime.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "snmp/ber.h"

namespace qv {

enum SnmpTag : uint8_t {
  kTagInteger = 0x02,
  kTagOctetString = 0x04,
  kTagNull = 0x05,
  kTagOid = 0x06,
  kTagSequence = 0x30,
  kTagIpAddress = 0x40,
  kTagCounter = 0x41,
  kTagGauge = 0x42,
  kTagTimeTicks = 0x43,
  kTagOpaque = 0x44,
  kTagCounter64 = 0x46,
};

class CSnmpValue {
 public:
  virtual ~CSnmpValue() = default;

  virtual uint8_t Tag() const = 0;
  // "Integer", "String", "OID", ...
  virtual std::string_view TypeName() const = 0;
  virtual std::string Text() const = 0;
  virtual Bytes Content() const = 0;

  size_t ContentLength() const { return Content().size(); }
  // Tag, length and content.
  void Encode(Bytes& out) const;
};

// Decodes one received element by its tag. Unknown tags (NULL among them) become opaque values
// that keep their raw content. Returns null when the content is not valid for its kind (an IP
// address that is not 4 bytes, a broken object identifier).
std::unique_ptr<CSnmpValue> DecodeSnmpValue(uint8_t tag, ByteSpan content);

class CSnmpInteger final : public CSnmpValue {
 public:
  explicit CSnmpInteger(int32_t value) : value_(value) {}
  int32_t Value() const { return value_; }

  uint8_t Tag() const override { return kTagInteger; }
  std::string_view TypeName() const override { return "Integer"; }
  std::string Text() const override;
  Bytes Content() const override;

 private:
  int32_t value_;
};

// Counter, gauge and time ticks differ only in tag and name.
class CSnmpUnsigned32 : public CSnmpValue {
 public:
  uint32_t Value() const { return value_; }
  std::string Text() const override;
  Bytes Content() const override;

 protected:
  explicit CSnmpUnsigned32(uint32_t value) : value_(value) {}

 private:
  uint32_t value_;
};

class CSnmpCounter final : public CSnmpUnsigned32 {
 public:
  explicit CSnmpCounter(uint32_t value) : CSnmpUnsigned32(value) {}
  uint8_t Tag() const override { return kTagCounter; }
  std::string_view TypeName() const override { return "Counter"; }
};

class CSnmpGauge final : public CSnmpUnsigned32 {
 public:
  explicit CSnmpGauge(uint32_t value) : CSnmpUnsigned32(value) {}
  uint8_t Tag() const override { return kTagGauge; }
  std::string_view TypeName() const override { return "Gauge"; }
};

class CSnmpTimeTicks final : public CSnmpUnsigned32 {
 public:
  explicit CSnmpTimeTicks(uint32_t value) : CSnmpUnsigned32(value) {}
  uint8_t Tag() const override { return kTagTimeTicks; }
  std::string_view TypeName() const override { return "TimeTick"; }
};

class CSnmpCounter64 final : public CSnmpValue {
 public:
  explicit CSnmpCounter64(uint64_t value) : value_(value) {}
  uint64_t Value() const { return value_; }

  uint8_t Tag() const override { return kTagCounter64; }
  std::string_view TypeName() const override { return "Counter64"; }
  std::string Text() const override;
  Bytes Content() const override;

 private:
  uint64_t value_;
};

// Raw bytes. The text is the bytes themselves when every byte is printable, a tab, a line feed
// or a carriage return (one NUL as the last byte is allowed and left out); otherwise every byte
// as two lower-case hexadecimal digits, so that binary values never reach a log line raw.
class CSnmpOctetString final : public CSnmpValue {
 public:
  explicit CSnmpOctetString(std::string bytes) : bytes_(std::move(bytes)) {}
  const std::string& Raw() const { return bytes_; }

  uint8_t Tag() const override { return kTagOctetString; }
  std::string_view TypeName() const override { return "String"; }
  std::string Text() const override;
  Bytes Content() const override;

 private:
  std::string bytes_;
};

// Four bytes in network order, printed as dotted decimal.
class CSnmpIpAddress final : public CSnmpValue {
 public:
  CSnmpIpAddress() = default;
  // Exactly four decimal numbers 0..255 joined by "."; nothing otherwise.
  static std::optional<CSnmpIpAddress> FromText(std::string_view dotted);
  static std::optional<CSnmpIpAddress> FromContent(ByteSpan content);

  uint8_t Tag() const override { return kTagIpAddress; }
  std::string_view TypeName() const override { return "IpAddress"; }
  std::string Text() const override;
  Bytes Content() const override { return Bytes(octets_, octets_ + 4); }

 private:
  uint8_t octets_[4] = {0, 0, 0, 0};
};

// Opaque data, and every received tag the library does not know (NULL, the SNMPv2 exceptions).
// It is always written back with the opaque tag. Its text shows printable bytes as themselves
// and every other byte as a space; made with `hexText` (the raw content of a received value
// that was not valid for its kind), every byte as two lower-case hexadecimal digits.
class CSnmpOpaque final : public CSnmpValue {
 public:
  explicit CSnmpOpaque(std::string bytes, bool hexText = false) : bytes_(std::move(bytes)), hexText_(hexText) {}

  uint8_t Tag() const override { return kTagOpaque; }
  std::string_view TypeName() const override { return "Opaque"; }
  std::string Text() const override;
  Bytes Content() const override;

 private:
  std::string bytes_;
  bool hexText_;
};

}  // namespace qv
