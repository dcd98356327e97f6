// The SNMPv3 builders and the parser against each other: fuzzed engine
// parameters, user name, OID texts, values and counters go through the
// scoped-PDU and message assembly (sealed with keys derived once) and through
// the whole request builder without passwords; what the parser reads back
// must be what went in.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"

namespace {

struct Seen {
  std::string oid;
  uint8_t tag;
  std::string value;
};
std::vector<Seen> g_seen;

bool Record(const unsigned char* oid, int oidLength, unsigned char tag, const unsigned char* value,
            int valueLength) {
  g_seen.push_back({std::string(reinterpret_cast<const char*>(oid), oidLength), tag,
                    std::string(reinterpret_cast<const char*>(value), valueLength)});
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

// The first content octet of an INTEGER as the builders write it.
uint8_t FirstOctet(uint32_t v) {
  const uint8_t top = static_cast<uint8_t>(v <= 0xFF ? v : v <= 0xFFFF ? v >> 8 : v >> 24);
  return top & 0x80 ? 0 : top;
}

int Parse(const std::string& message, bool authenticated, unsigned char* requestId,
          _SNMP_PARAM_V3* params) {
  std::vector<unsigned char> msg(message.begin(), message.end());
  *params = fuzz::Params(Record);
  g_seen.clear();
  unsigned char errorStatus = 0xFF, errorIndex = 0xFF;
  const int result =
      authenticated
          ? CNetIO::parseSnmpV3AuthenticatedResponse(msg.data(), static_cast<int>(msg.size()),
                                                     nullptr, requestId, &errorStatus,
                                                     &errorIndex, params)
          : CNetIO::parseSnmpV3Response(msg.data(), static_cast<int>(msg.size()), nullptr,
                                        requestId, &errorStatus, &errorIndex, params);
  if (result == 1) FUZZ_CHECK(errorStatus == 0 && errorIndex == 0);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t flags = in.Byte();
  const bool privacy = flags & 1, withValues = flags & 2;
  const uint16_t requestId = in.U16();

  fuzz::Envelope e;
  e.privacy = privacy;
  e.msgId = in.U16();
  e.boots = in.U32();
  e.time = in.U32();
  const std::string engine = in.Bytes(in.Byte() % 40);
  e.engineId = reinterpret_cast<const uint8_t*>(engine.data());
  e.engineIdLen = static_cast<int>(engine.size());
  e.user = in.Bytes(in.Byte() % 140);
  const std::string salt = in.Bytes(kUsmSaltLen);
  memcpy(e.salt, salt.data(), salt.size());

  const int count = in.Byte() % 6;
  std::vector<std::string> texts, values;
  std::vector<signed char> lens;
  std::vector<unsigned char> tags;
  bool encodable = true, sized = true;
  for (int i = 0; i < count; ++i) {
    texts.push_back(OidText(in));
    unsigned char scratch[kSnmpV3WorkSize];
    encodable = encodable && CNetIO::oidEncode(texts.back().c_str(), scratch) > 0;
    tags.push_back(in.Byte());
    lens.push_back(static_cast<signed char>(in.Byte()));
    sized = sized && lens.back() >= 0;
    values.push_back(in.Bytes(lens.back() > 0 ? static_cast<size_t>(lens.back()) : 0));
    values.back().resize(lens.back() > 0 ? static_cast<size_t>(lens.back()) : 0);
  }
  std::vector<const char*> oids;
  std::vector<const unsigned char*> valuePtrs;
  for (int i = 0; i < count; ++i) {
    oids.push_back(texts[i].c_str());
    valuePtrs.push_back(reinterpret_cast<const unsigned char*>(values[i].data()));
  }
  // A sentinel each, so that no binding still passes non-null arrays.
  valuePtrs.push_back(nullptr);
  lens.push_back(0);
  tags.push_back(0);
  const unsigned char* const* v = withValues ? valuePtrs.data() : nullptr;

  unsigned char scoped[kSnmpV3WorkSize];
  const int scopedLen =
      CNetIO::BuildSnmpV3msgData(e.engineId, e.engineIdLen, nullptr, requestId, count, oids.data(),
                                 v, lens.data(), tags.data(), scoped);
  const bool buildable = encodable && (sized || !withValues) && engine.size() <= 32;
  FUZZ_CHECK((scopedLen > 0) == buildable);
  if (scopedLen <= 0) return 0;
  FUZZ_CHECK(scopedLen <= kSnmpV3WorkSize);

  // The parser keeps a copy of the user name of at most 64 octets; the builder writes longer ones.
  const bool accepted = withValues && strlen(e.user.c_str()) <= kSnmpV3MaxCopyLen;
  auto expectBindings = [&] {
    FUZZ_CHECK(g_seen.size() == static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      unsigned char oid[kSnmpV3WorkSize];
      const int n = CNetIO::oidEncode(oids[i], oid);
      FUZZ_CHECK(g_seen[i].oid == std::string(reinterpret_cast<const char*>(oid), n));
      FUZZ_CHECK(g_seen[i].tag == (withValues ? tags[i] : 0x05));
      FUZZ_CHECK(g_seen[i].value == (withValues ? values[i] : std::string()));
    }
  };
  auto expectEngine = [&](const _SNMP_PARAM_V3& params) {
    FUZZ_CHECK(params.engineIDLen == e.engineIdLen &&
               memcmp(params.engineID, engine.data(), engine.size()) == 0);
    FUZZ_CHECK(params.engineBoots == e.boots && params.engineTime == e.time);
  };

  // Sealed: authenticated, enciphered with privacy. A GetRequest (A0) is no answer.
  const std::string sealed =
      fuzz::Seal(e, std::string(reinterpret_cast<const char*>(scoped), scopedLen));
  FUZZ_CHECK(!sealed.empty() && sealed.size() <= kSnmpV3WorkSize);
  {
    _SNMP_PARAM_V3 params;
    unsigned char readId = 0xFF;
    const int result = Parse(sealed, true, &readId, &params);
    expectEngine(params);
    FUZZ_CHECK(result == (accepted ? 1 : 0));
    if (result == 1) {
      expectBindings();
      FUZZ_CHECK(readId == FirstOctet(requestId));
    }
  }

  // The whole request builder; without passwords it derives no key.
  const uint16_t nextRequestId = SNMPv3RequestID, nextMsgId = SNMPv3MsgID;
  unsigned char authKey[kUsmKeyLen], privKey[kUsmKeyLen], request[kSnmpV3WorkSize];
  const int requestLen = CNetIO::BuildSnmpV3RequestPacket(
      e.engineId, e.engineIdLen, e.boots, e.time, count, oids.data(), v, lens.data(), tags.data(),
      e.user.c_str(), nullptr, nullptr, authKey, privKey, request);
  FUZZ_CHECK((requestLen > 0) == buildable);
  if (requestLen > 0) {
    FUZZ_CHECK(SNMPv3RequestID == static_cast<uint16_t>(nextRequestId + 1));
    FUZZ_CHECK(requestLen <= kSnmpV3WorkSize);
    FUZZ_CHECK(SNMPv3MsgID == static_cast<uint16_t>(nextMsgId + 1));
    _SNMP_PARAM_V3 params;
    unsigned char readId = 0xFF;
    const std::string plain(reinterpret_cast<const char*>(request), requestLen);
    FUZZ_CHECK(Parse(plain, true, &readId, &params) == 0);  // not authenticated
    const int result = Parse(plain, false, &readId, &params);
    expectEngine(params);
    FUZZ_CHECK(result == (accepted ? 1 : 0));
    if (result == 1) {
      expectBindings();
      FUZZ_CHECK(readId == FirstOctet(nextRequestId));
    }
  }
  return 0;
}
