#include <algorithm>
#include <cstring>
#include <type_traits>

#include "netio/BerReader.h"
#include "netio/NetIO.h"
#include "netio/Usm.h"

static_assert(std::is_same_v<decltype(_SNMP_PARAM_V3::valueCallback), SnmpValueCallback>,
              "the record's callback is a value callback");

namespace {

using netio::BerReader;
using netio::Refuse;
using netio::Refusal;

constexpr uint8_t kPduResponse = 0xA2;
constexpr uint8_t kPduSetOrResponse = 0xA3;
constexpr uint8_t kPduReport = 0xA8;

// An INTEGER whose first content octet the caller may want; an empty one is
// not a number at all.
bool Integer(BerReader& in, unsigned char* firstOctet) {
  BerReader contents;
  if (!in.Element(0x02, &contents)) return false;
  if (contents.empty()) return Refuse(Refusal::kLength);
  if (firstOctet) *firstOctet = *contents.cursor();
  return true;
}

// An OCTET STRING whose length the parser's copies could hold.
bool BoundedOctets(BerReader& in, size_t limit, BerReader* contents) {
  if (!in.Element(0x04, contents)) return false;
  return contents->remaining() <= limit || Refuse(Refusal::kLength);
}

int Parse(unsigned char* msg, int msgLength, int* version, unsigned char* requestId,
          unsigned char* errorStatus, unsigned char* errorIndex, _SNMP_PARAM_V3* params,
          bool requireAuth, const uint16_t* expectedMsgId = nullptr) {
  if (!msg || msgLength <= 0 || !params) return Refuse(Refusal::kTruncated);
  BerReader message(msg, static_cast<size_t>(msgLength));
  uint32_t length;
  if (!message.Tag(0x30) || !message.Length(&length)) return 0;
  if (length > message.remaining()) return Refuse(Refusal::kTruncated);
  if (length < message.remaining()) return Refuse(Refusal::kLength);

  unsigned char versionOctet;
  if (!Integer(message, &versionOctet)) return 0;
  if (version) *version = versionOctet;

  BerReader global, msgId, flagsField;
  if (!message.Element(0x30, &global) || !global.Element(0x02, &msgId) ||
      !Integer(global, nullptr) || !global.Element(0x04, &flagsField) || !Integer(global, nullptr))
    return 0;
  if (msgId.empty() || flagsField.empty()) return Refuse(Refusal::kLength);
  if (expectedMsgId &&
      readIntValue(msgId.cursor(), static_cast<int>(msgId.remaining())) != *expectedMsgId)
    return Refuse(Refusal::kMsgId);
  const uint8_t flags = *flagsField.cursor();
  // An answer to an authenticated request counts only when it is authenticated too.
  if (requireAuth && !(flags & kSnmpV3FlagAuth)) return Refuse(Refusal::kAuthMissing);

  BerReader securityOctets, usm, engine, boots, time;
  if (!message.Element(0x04, &securityOctets) || !securityOctets.Element(0x30, &usm) ||
      !BoundedOctets(usm, kSnmpV3MaxEngineIdLen, &engine) || !usm.Element(0x02, &boots) ||
      !usm.Element(0x02, &time))
    return 0;
  memset(params->engineID, 0, sizeof params->engineID);
  memcpy(params->engineID, engine.cursor(), engine.remaining());
  params->engineIDLen = static_cast<int32_t>(engine.remaining());
  params->engineBoots = readIntValue(boots.cursor(), static_cast<int>(boots.remaining()));
  params->engineTime = readIntValue(time.cursor(), static_cast<int>(time.remaining()));

  BerReader user, auth, privacy;
  if (!BoundedOctets(usm, kSnmpV3MaxCopyLen, &user) ||
      !BoundedOctets(usm, kSnmpV3MaxAuthParamsLen, &auth))
    return 0;
  // Comparing only as many octets as the field holds would let a forged
  // 1-octet field pass one time in 256 and an empty one always: whenever the
  // message claims authentication or carries a code, all 12 octets must match.
  if ((flags & kSnmpV3FlagAuth) || !auth.empty()) {
    const unsigned offset = static_cast<unsigned>(auth.cursor() - msg);
    if (!VerifyAuthParams(msg, static_cast<unsigned>(msgLength), offset,
                          static_cast<unsigned>(auth.remaining()), params->authKey))
      return Refuse(Refusal::kAuthWrong);
  }
  if (!BoundedOctets(usm, kSnmpV3MaxCopyLen, &privacy)) return 0;
  unsigned char salt[kUsmSaltLen] = {};
  memcpy(salt, privacy.cursor(), std::min(sizeof salt, privacy.remaining()));

  BerReader scopedArea = message;
  if (flags & kSnmpV3FlagPriv) {
    BerReader cipher;
    if (!message.Element(0x04, &cipher)) return 0;
    unsigned char* data = msg + (cipher.cursor() - msg);
    if (cipher.remaining() % 8 != 0 ||
        !DecryptMsgData(data, static_cast<unsigned>(cipher.remaining()), params->privKey, salt))
      return Refuse(Refusal::kDecryption);
    scopedArea = cipher;
  }

  BerReader scoped, contextEngine, contextName, pdu;
  uint8_t pduTag;
  // Deciphered with the wrong key, the scoped PDU is noise from its first octet.
  if (!scopedArea.Element(0x30, &scoped)) {
    return (flags & kSnmpV3FlagPriv) ? Refuse(Refusal::kDecryption) : 0;
  }
  if (!scoped.Element(0x04, &contextEngine)) return 0;
  if (contextEngine.remaining() != engine.remaining() ||
      memcmp(contextEngine.cursor(), engine.cursor(), engine.remaining()) != 0)
    return Refuse(Refusal::kEngine);
  if (!BoundedOctets(scoped, kSnmpV3MaxCopyLen, &contextName) || !scoped.AnyElement(&pduTag, &pdu))
    return 0;
  if (pduTag != kPduResponse && pduTag != kPduSetOrResponse && pduTag != kPduReport)
    return Refuse(Refusal::kNotResponse);

  BerReader list;
  if (!Integer(pdu, requestId) || !Integer(pdu, errorStatus) || !Integer(pdu, errorIndex) ||
      !pdu.Element(0x30, &list))
    return 0;
  while (!list.empty()) {
    BerReader bind, name, value;
    uint8_t tag;
    if (!list.Element(0x30, &bind) || !bind.Element(0x06, &name) ||
        !bind.AnyElement(&tag, &value))
      return 0;
    if (params->valueCallback)
      params->valueCallback(name.cursor(), static_cast<int>(name.remaining()), tag,
                            value.cursor(), static_cast<int>(value.remaining()));
  }
  return 1;
}

}  // namespace

int CNetIO::parseSnmpV3Response(unsigned char* msg, int msgLength, int* version,
                                unsigned char* requestId, unsigned char* errorStatus,
                                unsigned char* errorIndex, _SNMP_PARAM_V3* params) {
  return Parse(msg, msgLength, version, requestId, errorStatus, errorIndex, params, false);
}

int CNetIO::parseSnmpV3AuthenticatedResponse(unsigned char* msg, int msgLength, int* version,
                                             unsigned char* requestId,
                                             unsigned char* errorStatus,
                                             unsigned char* errorIndex, _SNMP_PARAM_V3* params) {
  return Parse(msg, msgLength, version, requestId, errorStatus, errorIndex, params, true);
}

int CNetIO::parseSnmpV3AnswerTo(uint16_t msgId, unsigned char* msg, int msgLength,
                                unsigned char* errorStatus, unsigned char* errorIndex,
                                _SNMP_PARAM_V3* params) {
  return Parse(msg, msgLength, nullptr, nullptr, errorStatus, errorIndex, params, true, &msgId);
}
