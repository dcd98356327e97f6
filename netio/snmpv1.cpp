#include <cstring>

#include "netio/BerReader.h"
#include "netio/BerWriter.h"
#include "netio/NetIO.h"
#include "netio/oids.h"

using netio::BerReader;
using netio::BerWriter;
using netio::Refuse;
using netio::Refusal;

namespace {

const unsigned char kNullValue[] = {0x05, 0x00};
const unsigned char kZeroInteger[] = {0x02, 0x01, 0x00};
const size_t kWorkArea = 2048;
const size_t kOidArea = 128;  // a 127-character text encodes to at most 64 octets

// Set when outputRecvBufValue refused a value, so parseForRecvBuf can fail
// instead of reporting an empty text.
bool g_recvBufRefused = false;

// The reader keeps only the first contents octet of its INTEGERs.
unsigned char FirstOctet(const BerReader& contents) {
  return contents.empty() ? 0 : *contents.cursor();
}

// A SEQUENCE or PDU length must cover exactly what is left of the message:
// more is a cut datagram, less leaves octets nothing accounts for.
bool CoversTheRest(uint32_t length, const BerReader& r) {
  if (length > r.remaining()) return Refuse(Refusal::kTruncated);
  return length == r.remaining() || Refuse(Refusal::kLength);
}

bool CopyText(char* buffer, size_t capacity, const unsigned char* value, int length) {
  if (length < 0 || static_cast<size_t>(length) >= capacity) return false;
  if (length > 0) memcpy(buffer, value, static_cast<size_t>(length));
  buffer[length] = '\0';
  return true;
}

// Encodes into `target` (kTargetOidSize octets); a longer OID leaves it zero and gives 0.
int EncodeTarget(const char* text, unsigned char* target) {
  unsigned char encoded[kOidArea];
  int n = CNetIO::oidEncode(text, encoded);
  if (n > kTargetOidSize) return 0;
  if (n > 0) memcpy(target, encoded, static_cast<size_t>(n));
  return n;
}

}  // namespace

int CNetIO::BuildGetRequestFor(int count, const char* oid, const char* community,
                               unsigned char* out) {
  if (count < 1 || !oid || !out) return -1;
  if (!community) community = "public";
  unsigned char name[kOidArea];
  const int o = oidEncode(oid, name);
  if (o < 1) return -1;

  // Every length of this layout is one octet: ShortHeader refuses what does not fit.
  unsigned char area[kWorkArea];
  BerWriter w(area, sizeof area);
  for (int i = 0; i < count; ++i) {
    const size_t bindingEnd = w.size();
    if (!w.Bytes(kNullValue, sizeof kNullValue) || !w.Bytes(name, static_cast<size_t>(o)) ||
        !w.ShortHeader(0x06, static_cast<size_t>(o)) ||
        !w.ShortHeader(0x30, w.size() - bindingEnd))
      return -1;
  }
  if (!w.ShortHeader(0x30, w.size())) return -1;
  for (int i = 0; i < 3; ++i) {  // error-index, error-status, request-id
    if (!w.Bytes(kZeroInteger, sizeof kZeroInteger)) return -1;
  }
  if (!w.ShortHeader(0xA0, w.size())) return -1;
  const size_t pduEnd = w.size();
  if (!w.Bytes(community, strlen(community)) || !w.ShortHeader(0x04, w.size() - pduEnd) ||
      !w.Bytes(kZeroInteger, sizeof kZeroInteger) || !w.ShortHeader(0x30, w.size()))
    return -1;
  memcpy(out, w.front(), w.size());
  return static_cast<int>(w.size());
}

int CNetIO::parseGetResponse(const unsigned char* msg, int msgLength, int* version,
                             char* community, unsigned char* requestId,
                             unsigned char* errorStatus, unsigned char* errorIndex,
                             SnmpValueCallback callback) {
  if (!msg || msgLength < 0) return Refuse(Refusal::kTruncated);
  BerReader r(msg, static_cast<size_t>(msgLength));
  uint32_t length;
  BerReader field;
  if (!r.Tag(0x30) || !r.Length(&length) || !CoversTheRest(length, r)) return 0;

  if (!r.Element(0x02, &field)) return 0;
  if (version) *version = FirstOctet(field);

  if (!r.Element(0x04, &field)) return 0;
  if (community && !CopyText(community, kCommunityOutSize, field.cursor(),
                             static_cast<int>(field.remaining())))
    return Refuse(Refusal::kVersionOrCommunity);

  uint8_t pdu;
  if (!r.Byte(&pdu)) return 0;
  if (pdu != 0xA2 && pdu != 0xA3) return Refuse(Refusal::kNotResponse);
  if (!r.Length(&length) || !CoversTheRest(length, r)) return 0;

  unsigned char* const integers[] = {requestId, errorStatus, errorIndex};
  for (unsigned char* target : integers) {
    if (!r.Element(0x02, &field)) return 0;
    if (target) *target = FirstOctet(field);
  }

  BerReader list;
  if (!r.Element(0x30, &list)) return 0;
  while (!list.empty()) {
    // A binding's own length must stay inside the list but is not relied on:
    // its name and value are read against the list's end.
    uint32_t bindingLength;
    BerReader name, value;
    uint8_t tag;
    if (!list.Tag(0x30) || !list.Length(&bindingLength)) return 0;
    if (bindingLength > list.remaining()) return Refuse(Refusal::kLength);
    if (!list.Element(0x06, &name) || !list.AnyElement(&tag, &value)) return 0;
    if (callback) {
      callback(name.cursor(), static_cast<int>(name.remaining()), tag, value.cursor(),
               static_cast<int>(value.remaining()));
    }
  }
  return 1;
}

bool outputRecvBufValue(const unsigned char*, int, unsigned char, const unsigned char* value,
                        int valueLength) {
  if (CopyText(g_RecvBuf, sizeof g_RecvBuf, value, valueLength)) return true;
  g_recvBufRefused = true;
  return false;
}

bool outputDeviceIdValue(const unsigned char*, int, unsigned char tag, const unsigned char* value,
                         int valueLength) {
  return tag == 0x04 && CopyText(g_deviceid, sizeof g_deviceid, value, valueLength);
}

bool outputOidValue(const unsigned char* oid, int oidLength, unsigned char tag,
                    const unsigned char* value, int valueLength) {
  const netio::KnownOid& name = netio::kSysObjectIdOid;
  if (oidLength < static_cast<int>(name.length) || memcmp(oid, name.encoded, name.length) != 0 ||
      tag != 0x06)
    return false;
  if (valueLength < 0 || valueLength > kSysObjIdSize) return false;
  if (valueLength > 0) memcpy(sysObjId, value, static_cast<size_t>(valueLength));
  sysObjIdLen = valueLength;
  return true;
}

int CNetIO::parseForRecvBuf(const unsigned char* msg, int msgLength, char* out) {
  memset(g_RecvBuf, 0, sizeof g_RecvBuf);
  g_recvBufRefused = false;
  if (!parseGetResponse(msg, msgLength, nullptr, nullptr, nullptr, nullptr, nullptr,
                        outputRecvBufValue))
    return 0;
  if (g_recvBufRefused) return Refuse(Refusal::kValue);
  strcpy(out, g_RecvBuf);
  return 1;
}

bool CNetIO::parseForDeviceId(const unsigned char* msg, int msgLength, PRINTER_STATUS* status) {
  // Cleared first: a response without an OCTET STRING must not decode the
  // device ID an earlier printer left here.
  g_deviceid[0] = '\0';
  if (!parseGetResponse(msg, msgLength, nullptr, nullptr, nullptr, nullptr, nullptr,
                        outputDeviceIdValue))
    return false;
  CTavraCmd cmd;
  return cmd.DecodStatusFromDeviceID(g_deviceid, status) == 0 || Refuse(Refusal::kValue);
}

int CNetIO::parseForOID(const unsigned char* msg, int msgLength, unsigned char*, int) {
  sysObjIdLen = 0;
  if (!parseGetResponse(msg, msgLength, nullptr, nullptr, nullptr, nullptr, nullptr,
                        outputOidValue))
    return 0;
  if (sysObjIdLen <= 4 || sysObjIdLen > kTargetOidSize) return Refuse(Refusal::kValue);
  const size_t n = static_cast<size_t>(sysObjIdLen);
  return memcmp(sysObjId, m_firstTargetOid, n) == 0 ||
         memcmp(sysObjId, m_secondTargetOid, n) == 0 || Refuse(Refusal::kValue);
}

int CNetIO::InitTargetOID(const char* firstOid, const char* secondOid) {
  memset(m_firstTargetOid, 0, sizeof m_firstTargetOid);
  memset(m_secondTargetOid, 0, sizeof m_secondTargetOid);
  EncodeTarget(firstOid, m_firstTargetOid);
  return EncodeTarget(secondOid, m_secondTargetOid);
}
