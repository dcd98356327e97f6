// The SNMPv3 builders and the parser against each other: fuzzed engine
// parameters, user name, OID texts, values and counters go through the
// scoped-PDU builder (then sealed with the fixed keys) and through the whole
// request builder without passwords; the parser must read back what went in.
#include <vector>

#include "fuzz/FuzzSupport.h"

namespace {

std::vector<std::string> g_seen;  // OID, tag and value of each binding

bool Record(const unsigned char* oid, int oidLength, unsigned char tag, const unsigned char* value,
            int valueLength) {
  g_seen.push_back(std::string(reinterpret_cast<const char*>(oid), oidLength) + char(tag) +
                   std::string(reinterpret_cast<const char*>(value), valueLength));
  return true;
}

// An OID text: mostly arcs that encode, sometimes raw octets that may not.
std::string OidText(fuzz::Input& in) {
  const uint8_t shape = in.Byte();
  if (shape & 0x80) return in.Bytes(shape & 0x3F);
  std::string text = std::to_string(in.Byte() % 3) + "." + std::to_string(in.Byte() % 40);
  for (int arcs = shape & 0x0F; arcs > 0; --arcs) {
    const uint8_t width = in.Byte();
    text += "." + std::to_string(width & 1 ? in.U32() : width >> 1);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in{data, data + size};
  const uint8_t flags = in.Byte();
  const bool withValues = flags & 2;
  const uint16_t requestId = in.U16();
  snmpv3test::Message m;
  m.msgId = in.U16();
  m.boots = in.U32();
  m.time = in.U32();
  const std::string engine = in.Bytes(in.Byte() % 40);
  const std::string user = in.Bytes(in.Byte() % 140).c_str();  // the builders stop at a NUL
  const std::string salt = in.Bytes(kUsmSaltLen);
  m.engineId.assign(engine.begin(), engine.end());
  m.user = user;
  const auto* engineId = reinterpret_cast<const uint8_t*>(engine.data());

  const int count = in.Byte() % 6;
  std::vector<std::string> texts, values, expected;
  std::vector<const char*> oids;
  std::vector<const unsigned char*> valuePtrs;
  std::vector<signed char> lens;
  std::vector<unsigned char> tags;
  bool encodable = true, sized = true;
  unsigned char scratch[kSnmpV3WorkSize];
  for (int i = 0; i < count; ++i) {
    texts.push_back(OidText(in));
    const int oidLen = CNetIO::oidEncode(texts.back().c_str(), scratch);
    encodable = encodable && oidLen > 0;
    tags.push_back(in.Byte());
    lens.push_back(static_cast<signed char>(in.Byte()));
    sized = sized && lens.back() >= 0;
    values.push_back(in.Bytes(std::max(0, int(lens.back()))));
    values.back().resize(std::max(0, int(lens.back())));
    expected.push_back(std::string(reinterpret_cast<const char*>(scratch), std::max(oidLen, 0)) +
                       (withValues ? char(tags.back()) + values.back() : std::string("\x05")));
  }
  for (int i = 0; i < count; ++i) oids.push_back(texts[i].c_str());
  for (const auto& v : values)
    valuePtrs.push_back(reinterpret_cast<const unsigned char*>(v.data()));
  // A sentinel each, so that no binding still passes non-null arrays.
  valuePtrs.push_back(nullptr);
  lens.push_back(0);
  tags.push_back(0);
  const unsigned char* const* v = withValues ? valuePtrs.data() : nullptr;

  unsigned char scoped[kSnmpV3WorkSize];
  const int scopedLen =
      CNetIO::BuildSnmpV3msgData(engineId, int(engine.size()), nullptr, requestId, count,
                                 oids.data(), v, lens.data(), tags.data(), scoped);
  const bool buildable = encodable && (sized || !withValues) && engine.size() <= 32;
  FUZZ_CHECK((scopedLen > 0) == buildable && scopedLen <= kSnmpV3WorkSize);
  if (scopedLen <= 0) return 0;
  // The parser keeps a copy of the user name of at most 64 octets; the builder writes longer ones.
  const bool accepted = withValues && user.size() <= kSnmpV3MaxCopyLen;
  // Parses a copy; what it hands back must be what went in. A GetRequest (A0) is no answer.
  auto expectRead = [&](const std::string& message, bool authenticated, uint16_t sentId) {
    std::vector<unsigned char> msg(message.begin(), message.end());
    _SNMP_PARAM_V3 params = fuzz::Params(Record);
    g_seen.clear();
    unsigned char readId = 0xFF, errorStatus = 0xFF, errorIndex = 0xFF;
    const int result =
        (authenticated ? CNetIO::parseSnmpV3AuthenticatedResponse : CNetIO::parseSnmpV3Response)(
            msg.data(), int(msg.size()), nullptr, &readId, &errorStatus, &errorIndex, &params);
    FUZZ_CHECK(params.engineIDLen == int(engine.size()) &&
               memcmp(params.engineID, engine.data(), engine.size()) == 0);
    FUZZ_CHECK(params.engineBoots == m.boots && params.engineTime == m.time);
    FUZZ_CHECK(result == (accepted ? 1 : 0));
    // An INTEGER's first content octet, as the builders write it.
    const uint8_t top = uint8_t(sentId <= 0xFF ? sentId : sentId >> 8);
    if (result == 1)
      FUZZ_CHECK(errorStatus == 0 && errorIndex == 0 && g_seen == expected &&
                 readId == (top & 0x80 ? 0 : top));
  };
  expectRead(
      fuzz::Seal(m, std::string(reinterpret_cast<const char*>(scoped), scopedLen), flags & 1, salt),
      true, requestId);

  // The whole request builder; without passwords it derives no key and is not authenticated.
  const uint16_t nextRequestId = SNMPv3RequestID, nextMsgId = SNMPv3MsgID;
  unsigned char authKey[kUsmKeyLen], privKey[kUsmKeyLen], request[kSnmpV3WorkSize];
  const int requestLen = CNetIO::BuildSnmpV3RequestPacket(
      engineId, int(engine.size()), m.boots, m.time, count, oids.data(), v, lens.data(),
      tags.data(), user.c_str(), nullptr, nullptr, authKey, privKey, request);
  FUZZ_CHECK((requestLen > 0) == buildable && requestLen <= kSnmpV3WorkSize);
  FUZZ_CHECK(SNMPv3RequestID == uint16_t(nextRequestId + 1) &&
             SNMPv3MsgID == uint16_t(nextMsgId + 1));
  const std::string plain(reinterpret_cast<const char*>(request), requestLen);
  std::vector<unsigned char> copy(plain.begin(), plain.end());
  _SNMP_PARAM_V3 params = fuzz::Params(Record);
  unsigned char id, status, index;
  FUZZ_CHECK(CNetIO::parseSnmpV3AuthenticatedResponse(copy.data(), int(copy.size()), nullptr, &id,
                                                      &status, &index, &params) == 0);
  expectRead(plain, false, nextRequestId);
  return 0;
}
