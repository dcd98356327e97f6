#include <cstring>

#include "netio/BerWriter.h"
#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "netio/diagnostics.h"

uint16_t SNMPv3MsgID;
uint16_t SNMPv3RequestID;

namespace {

using netio::BerWriter;

// The longest OID contents oidEncode can produce: 64 arcs, five octets each
// but the first pair's one.
constexpr size_t kOidContentsMax = 1 + 5 * (64 - 2);
constexpr uint32_t kMsgMaxSize = kSnmpV3WorkSize;
constexpr uint8_t kSecurityModelUsm = 3;
constexpr uint8_t kSnmpVersion3 = 3;

// 1, 2 or 4 content octets by magnitude, and a 00 in front when the first has
// its top bit set: BER integers are signed, and net-snmp refuses a msgID it
// reads as negative ("Received bad msgID (-56 < 0)").
bool PutInteger(BerWriter& w, uint32_t value) {
  const size_t mark = w.size();
  const int octets = value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4;
  for (int i = 0; i < octets; ++i, value >>= 8)
    if (!w.Byte(static_cast<uint8_t>(value))) return false;
  if ((*w.front() & 0x80) && !w.Byte(0x00)) return false;
  return w.Header(0x02, w.size() - mark);
}

bool PutOctets(BerWriter& w, uint8_t tag, const void* data, size_t n) {
  return w.Bytes(data, n) && w.Header(tag, n);
}

int Emit(const BerWriter& w, unsigned char* out) {
  memcpy(out, w.front(), w.size());
  return static_cast<int>(w.size());
}

bool ValidEngineId(const unsigned char* engineID, int engineIDLen) {
  return engineIDLen >= 0 && engineIDLen <= kSnmpV3MaxEngineIdLen && (engineIDLen == 0 || engineID);
}

bool PutPdu(BerWriter& w, uint16_t requestId, int count, const char* const* oids,
            const unsigned char* const* values, const signed char* valueLens,
            const unsigned char* valueTags) {
  if (count < 0 || (count > 0 && !oids) || (values && (!valueLens || !valueTags))) return false;
  const size_t pduMark = w.size();
  for (int i = count - 1; i >= 0; --i) {
    const size_t bindMark = w.size();
    if (values) {
      if (valueLens[i] < 0 || (valueLens[i] > 0 && !values[i])) return false;
      if (!PutOctets(w, valueTags[i], values[i], static_cast<size_t>(valueLens[i]))) return false;
    } else if (!w.Byte(0x00) || !w.Byte(0x05)) {
      return false;
    }
    unsigned char oid[kOidContentsMax];
    const int oidLen = CNetIO::oidEncode(oids[i], oid);
    if (oidLen <= 0 || !PutOctets(w, 0x06, oid, static_cast<size_t>(oidLen)) ||
        !w.Header(0x30, w.size() - bindMark))
      return false;
  }
  return w.Header(0x30, w.size() - pduMark) && PutInteger(w, 0) && PutInteger(w, 0) &&
         PutInteger(w, requestId) && w.Header(values ? 0xA3 : 0xA0, w.size() - pduMark);
}

// A privacy key still to be localised from its password, once the scoped PDU
// is known to fit.
struct PendingPrivKey {
  const char* password;
  unsigned char* out;
};

// The request of BuildSnmpV3RequestPacket once its keys are known or
// pending; no key leaves out authentication or privacy.

int BuildKeyed(const unsigned char* engineID, int engineIDLen, uint32_t engineBoots,
               uint32_t engineTime, int count, const char* const* oids,
               const unsigned char* const* values, const signed char* valueLens,
               const unsigned char* valueTags, const char* userName, const uint8_t* authKey,
               const uint8_t* privKey, const PendingPrivKey* pending, unsigned char* out) {
  // Cleared, so the octets that fill the scoped PDU up to a multiple of 8 are zero.
  unsigned char scoped[kSnmpV3WorkSize] = {};
  const int scopedLen = CNetIO::BuildSnmpV3msgData(engineID, engineIDLen, nullptr, SNMPv3RequestID,
                                                   count, oids, values, valueLens, valueTags,
                                                   scoped);
  ++SNMPv3RequestID;

  // msgData is the plaintext scoped PDU, or an OCTET STRING of its ciphertext.
  const unsigned char* msgData = scoped;
  int msgDataLen = scopedLen;
  unsigned char enciphered[kSnmpV3WorkSize];
  unsigned char salt[kUsmSaltLen];
  if (scopedLen < 0) return 0;
  if (pending) {
    // Checked before the key and the salt: a refused request must not use up a salt.
    if (((scopedLen + 7) & ~7) > kSnmpV3WorkSize ||
        !Password_to_Key_md5(pending->password, static_cast<unsigned>(strlen(pending->password)),
                             engineID, static_cast<unsigned>(engineIDLen), pending->out))
      return 0;
    privKey = pending->out;
  }
  if (privKey) {
    const int padded = (scopedLen + 7) & ~7;
    if (padded > kSnmpV3WorkSize) return 0;
    FormSalt(engineBoots, salt);
    unsigned char iv[kUsmSaltLen];
    PrivacyIV(privKey, salt, iv);
    if (DesEncryption(privKey, iv, scoped, static_cast<unsigned>(scopedLen), scoped,
                      static_cast<int>(sizeof scoped)) != scopedLen)
      return 0;
    BerWriter w(enciphered, sizeof enciphered);
    if (!PutOctets(w, 0x04, scoped, static_cast<size_t>(padded))) return 0;
    msgData = w.front();
    msgDataLen = static_cast<int>(w.size());
  }

  // The security parameters' builder asks only whether there is a password.
  const char* authMarker = authKey ? "key" : nullptr;
  unsigned char security[kSnmpV3WorkSize], global[kSnmpV3WorkSize];
  uint32_t authOffset = 0;
  const int securityLen = CNetIO::BuildSnmpV3msgSecurityParameters(
      engineID, engineIDLen, engineBoots, engineTime, userName, authMarker,
      privKey ? salt : nullptr, privKey ? kUsmSaltLen : 0, security,
      authKey ? &authOffset : nullptr);
  const int globalLen = CNetIO::BuildSnmpV3msgGlobalDataUSM(SNMPv3MsgID, kMsgMaxSize, 1,
                                                            privKey != nullptr,
                                                            authKey != nullptr, global);
  ++SNMPv3MsgID;
  if (securityLen < 0 || globalLen < 0) return 0;
  const int len = CNetIO::BuildSnmpV3Packet(global, globalLen, security, securityLen, msgData,
                                            msgDataLen, authKey ? &authOffset : nullptr, out);
  if (len <= 0 || !authKey) return len > 0 ? len : 0;
  unsigned char K1[kUsmPadLen], K2[kUsmPadLen], code[kUsmAuthLen];
  AuthKey2K1K2(authKey, K1, K2);
  CalcuateAuthParams(out, static_cast<unsigned>(len), K1, K2, code);
  memcpy(out + authOffset, code, sizeof code);
  return len;
}

}  // namespace

int CNetIO::BuildSnmpV3PDU(uint16_t requestId, int count, const char* const* oids,
                           const unsigned char* const* values, const signed char* valueLens,
                           const unsigned char* valueTags, unsigned char* out) {
  if (!out) return -1;
  unsigned char work[kSnmpV3WorkSize];
  BerWriter w(work, sizeof work);
  if (!PutPdu(w, requestId, count, oids, values, valueLens, valueTags)) return -1;
  return Emit(w, out);
}

int CNetIO::BuildSnmpV3GetRequestPDU(uint16_t requestId, int count, const char* const* oids,
                                     unsigned char* out) {
  return BuildSnmpV3PDU(requestId, count, oids, nullptr, nullptr, nullptr, out);
}

int CNetIO::BuildSnmpV3msgData(const unsigned char* contextEngineID, int contextEngineIDLen,
                               const char* contextName, uint16_t requestId, int count,
                               const char* const* oids, const unsigned char* const* values,
                               const signed char* valueLens, const unsigned char* valueTags,
                               unsigned char* out) {
  if (!out) return -1;
  const size_t engineLen = contextEngineIDLen > 0 ? static_cast<size_t>(contextEngineIDLen) : 0;
  if (engineLen > kSnmpV3MaxEngineIdLen || (engineLen && !contextEngineID)) return -1;
  unsigned char work[kSnmpV3WorkSize];
  BerWriter w(work, sizeof work);
  if (!PutPdu(w, requestId, count, oids, values, valueLens, valueTags) ||
      !PutOctets(w, 0x04, contextName, contextName ? strlen(contextName) : 0) ||
      !PutOctets(w, 0x04, contextEngineID, engineLen) || !w.Header(0x30, w.size()))
    return -1;
  return Emit(w, out);
}

int CNetIO::BuildSnmpV3msgSecurityParameters(const unsigned char* engineID, int engineIDLen,
                                             uint32_t engineBoots, uint32_t engineTime,
                                             const char* userName, const char* authPassword,
                                             const unsigned char* privParams, int privParamsLen,
                                             unsigned char* out, uint32_t* authParamsOffset) {
  const size_t engineLen = engineIDLen > 0 ? static_cast<size_t>(engineIDLen) : 0;
  const size_t privLen = privParamsLen > 0 ? static_cast<size_t>(privParamsLen) : 0;
  if (!out || engineLen > kSnmpV3MaxEngineIdLen || (engineLen && !engineID) ||
      (privLen && !privParams))
    return -1;
  unsigned char work[kSnmpV3WorkSize];
  BerWriter w(work, sizeof work);
  if (!PutOctets(w, 0x04, privParams, privLen)) return -1;
  static const unsigned char kPlaceholder[kSnmpV3MaxAuthParamsLen] = {};
  const bool authenticated = authPassword && *authPassword;
  const size_t authLen = authenticated ? sizeof kPlaceholder : 0;
  if (!w.Bytes(kPlaceholder, authLen)) return -1;
  // Octets from the first authentication octet to the end of the element.
  const size_t authToEnd = w.size();
  if (!w.Header(0x04, authLen) || !PutOctets(w, 0x04, userName, userName ? strlen(userName) : 0) ||
      !PutInteger(w, engineTime) || !PutInteger(w, engineBoots) ||
      !PutOctets(w, 0x04, engineID, engineLen) || !w.Header(0x30, w.size()) ||
      !w.Header(0x04, w.size()))
    return -1;
  if (authParamsOffset && authenticated)
    *authParamsOffset = static_cast<uint32_t>(w.size() - authToEnd);
  return Emit(w, out);
}

int CNetIO::BuildSnmpV3msgGlobalDataUSM(uint32_t msgID, uint32_t msgMaxSize, int reportable,
                                        int privacy, int authentication, unsigned char* out) {
  netio::Diagnose("msgMaxSize=%x, FLIPWORD((LOWORD(msgMaxSize)))=%x\n", msgMaxSize,
                  FLIPWORD(static_cast<uint16_t>(msgMaxSize)));
  if (!out) return -1;
  const uint8_t flags = (authentication ? kSnmpV3FlagAuth : 0) | (privacy ? kSnmpV3FlagPriv : 0) |
                        (reportable ? kSnmpV3FlagReportable : 0);
  unsigned char work[kSnmpV3WorkSize];
  BerWriter w(work, sizeof work);
  if (!PutInteger(w, kSecurityModelUsm) || !PutOctets(w, 0x04, &flags, 1) ||
      !PutInteger(w, msgMaxSize) || !PutInteger(w, msgID) || !w.Header(0x30, w.size()))
    return -1;
  return Emit(w, out);
}

int CNetIO::BuildSnmpV3Packet(const unsigned char* globalData, int globalDataLen,
                              const unsigned char* securityParameters, int securityParametersLen,
                              const unsigned char* msgData, int msgDataLen,
                              uint32_t* authParamsOffset, unsigned char* out) {
  if (!out || !globalData || !securityParameters || !msgData || globalDataLen < 0 ||
      securityParametersLen < 0 || msgDataLen < 0)
    return -1;
  unsigned char work[kSnmpV3WorkSize];
  BerWriter w(work, sizeof work);
  if (!w.Bytes(msgData, static_cast<size_t>(msgDataLen)) ||
      !w.Bytes(securityParameters, static_cast<size_t>(securityParametersLen)) ||
      !w.Bytes(globalData, static_cast<size_t>(globalDataLen)) || !PutInteger(w, kSnmpVersion3) ||
      !w.Header(0x30, w.size()))
    return -1;
  if (authParamsOffset) {
    const size_t inFront = w.size() - static_cast<size_t>(globalDataLen) -
                           static_cast<size_t>(securityParametersLen) -
                           static_cast<size_t>(msgDataLen);
    *authParamsOffset += static_cast<uint32_t>(inFront + static_cast<size_t>(globalDataLen));
  }
  return Emit(w, out);
}

int CNetIO::BuildSnmpV3GetEngineIdPacket(uint16_t requestId, uint16_t msgId, unsigned char* out,
                                         int outSize) {
  unsigned char scoped[kSnmpV3WorkSize], security[kSnmpV3WorkSize], global[kSnmpV3WorkSize];
  unsigned char message[kSnmpV3WorkSize];
  const int scopedLen = BuildSnmpV3msgData(nullptr, 0, nullptr, requestId, 0, nullptr, nullptr,
                                           nullptr, nullptr, scoped);
  const int securityLen = BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, nullptr, nullptr,
                                                           nullptr, 0, security, nullptr);
  const int globalLen = BuildSnmpV3msgGlobalDataUSM(msgId, kMsgMaxSize, 1, 0, 0, global);
  if (!out || scopedLen < 0 || securityLen < 0 || globalLen < 0) return 0;
  const int len = BuildSnmpV3Packet(global, globalLen, security, securityLen, scoped, scopedLen,
                                    nullptr, message);
  if (len <= 0 || len > outSize) return 0;
  memcpy(out, message, static_cast<size_t>(len));
  return len;
}

int CNetIO::BuildSnmpV3RequestPacket(const unsigned char* engineID, int engineIDLen,
                                     uint32_t engineBoots, uint32_t engineTime, int count,
                                     const char* const* oids, const unsigned char* const* values,
                                     const signed char* valueLens, const unsigned char* valueTags,
                                     const char* userName, const char* authPassword,
                                     const char* privPassword, unsigned char* authKeyOut,
                                     unsigned char* privKeyOut, unsigned char* out) {
  if (!authKeyOut || !privKeyOut || !out) return 0;
  memset(authKeyOut, 0, kUsmKeyLen);
  memset(privKeyOut, 0, kUsmKeyLen);
  // Key localisation indexes the password modulo its length and holds the
  // engine ID in a 64-octet buffer: refuse what would break either.
  if (!ValidEngineId(engineID, engineIDLen) || (authPassword && !*authPassword) ||
      (privPassword && !*privPassword))
    return 0;
  unsigned char authKey[kUsmKeyLen];
  if (authPassword && !Password_to_Key_md5(authPassword, static_cast<unsigned>(strlen(authPassword)),
                                           engineID, static_cast<unsigned>(engineIDLen), authKey))
    return 0;
  const PendingPrivKey pending{privPassword, privKeyOut};
  const int len = BuildKeyed(engineID, engineIDLen, engineBoots, engineTime, count, oids, values,
                             valueLens, valueTags, userName, authPassword ? authKey : nullptr,
                             nullptr, privPassword ? &pending : nullptr, out);
  if (len > 0 && authPassword) memcpy(authKeyOut, authKey, kUsmKeyLen);
  return len;
}

int netio::BuildSnmpV3RequestWithKeys(const _SNMP_PARAM_V3& params, int count,
                                      const char* const* oids, unsigned char* out) {
  if (!out || !ValidEngineId(params.engineID, params.engineIDLen)) return 0;
  return BuildKeyed(params.engineID, params.engineIDLen, params.engineBoots, params.engineTime,
                    count, oids, nullptr, nullptr, nullptr, params.userName, params.authKey,
                    params.privKey, nullptr, out);
}
