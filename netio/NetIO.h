// The SNMP client: BER primitives, the SNMPv1 GetRequest and GetResponse, and
// the status read. Process-wide buffers hold the latest value a callback saw;
// nothing here is synchronised, so no two exchanges may run at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "netio/Discovery.h"
#include "netio/SnmpV3.h"
#include "socket/Socket.h"
#include "status/TavraCmd.h"

// Host/network byte order, decided at run time.
uint16_t FLIPWORD(uint16_t value);
uint32_t FLIPDWORD(uint32_t value);

// Unsigned big-endian INTEGER contents, low 32 bits kept; 0 for length < 1.
uint32_t readIntValue(const unsigned char* contents, int length);

int max(int a, int b);

// One variable binding: name contents, name length, value tag, value contents,
// value length. Readers ignore the result.
typedef bool (*SnmpValueCallback)(const unsigned char* oid, int oidLength, unsigned char tag,
                                  const unsigned char* value, int valueLength);

enum {
  kRecvBufSize = 1024,
  kDeviceIdSize = 4024,
  kSysObjIdSize = 128,
  kTargetOidSize = 32,
  // The community that the SNMPv1 request layout can carry.
  kMaxCommunityLength = 127,
  // The most `CNetIO::parseGetResponse` writes through `community`: the text and its NUL.
  kCommunityOutSize = kMaxCommunityLength + 1,
};

extern char g_RecvBuf[kRecvBufSize];
extern char g_deviceid[kDeviceIdSize];
extern unsigned char sysObjId[kSysObjIdSize];
extern int sysObjIdLen;
// IPv6 scope of every IPv6 destination; set by discovery, read by the reads.
extern int scope_id;

// Value callbacks. A value the buffer cannot hold (with its NUL where one is
// added) is refused: false, nothing copied.
bool outputRecvBufValue(const unsigned char* oid, int oidLength, unsigned char tag,
                        const unsigned char* value, int valueLength);
bool outputDeviceIdValue(const unsigned char* oid, int oidLength, unsigned char tag,
                         const unsigned char* value, int valueLength);
bool outputOidValue(const unsigned char* oid, int oidLength, unsigned char tag,
                    const unsigned char* value, int valueLength);

class CNetIO {
 public:
  CNetIO();
  ~CNetIO();
  CNetIO(const CNetIO&) = delete;
  CNetIO& operator=(const CNetIO&) = delete;

  // BER primitives.
  // Decodes the length at `p` (at most 5 octets are read); returns the first
  // contents octet, or null for a length of more than four octets or of 2^31
  // or more, which an int cannot hold.
  static unsigned char* parseLength(unsigned char* p, int* length);
  // Writes the minimal length octets ending just before `end`; returns the first.
  static unsigned char* berEncodeLength(unsigned char* end, uint32_t length);
  // OID contents of a dotted-decimal text; 0 for a text outside the contract
  // (other characters, empty arc, one arc, first pair above 127, arc above
  // 2^32 - 1, over 127 characters), -1 for a null pointer. `out` needs
  // 1 + 5 * (arcs - 2) octets.
  static int oidEncode(const char* text, unsigned char* out);

  // SNMPv1 messages.
  // -1 also when a one-octet length of the layout would exceed 127.
  static int BuildGetRequestFor(int count, const char* oid, const char* community,
                                unsigned char* out);
  // 1 for a GetResponse of the accepted shape, else 0. `community`, when not
  // null, must hold kCommunityOutSize octets; a longer community gives 0.
  static int parseGetResponse(const unsigned char* msg, int msgLength, int* version,
                              char* community, unsigned char* requestId,
                              unsigned char* errorStatus, unsigned char* errorIndex,
                              SnmpValueCallback callback);
  // 0 also when the value did not fit g_RecvBuf.
  static int parseForRecvBuf(const unsigned char* msg, int msgLength, char* out);
  // Clears g_deviceid first, so only this message's device ID can be decoded.
  static bool parseForDeviceId(const unsigned char* msg, int msgLength, PRINTER_STATUS* status);
  int parseForOID(const unsigned char* msg, int msgLength, unsigned char*, int);
  int InitTargetOID(const char* firstOid, const char* secondOid);

  // Status read over SNMPv1; numeric addresses only.
  bool NetworkReadStatus(const char* community, const char* host, PRINTER_STATUS* status);
  bool NetworkReadStatusV6(const char* community, const char* host, PRINTER_STATUS* status);

  // ---- SNMPv3 (netio/SnmpV3.h; snmpv3_build.cpp, snmpv3_parse.cpp, status_read_v3.cpp) ----
  // Encoders assemble back to front in a kSnmpV3WorkSize area and copy the
  // result to `out`, which holds kSnmpV3WorkSize octets. INTEGERs take 1, 2 or
  // 4 octets, with a 00 in front when the first has its top bit set.
  // The discovery request; 0 when it does not fit `outSize`.
  static int BuildSnmpV3GetEngineIdPacket(uint16_t requestId, uint16_t msgId, unsigned char* out,
                                          int outSize);
  // The authenticated (and, with `privPassword`, enciphered) request with
  // msgID SNMPv3MsgID and request-id SNMPv3RequestID, which both advance.
  // `values` null gives a GetRequest, else a SetRequest. 0 when it cannot be
  // built: an OID that does not encode, an engine ID over 32 octets, an empty
  // password, a negative value length, or a message over kSnmpV3WorkSize.
  static int BuildSnmpV3RequestPacket(const unsigned char* engineID, int engineIDLen,
                                      uint32_t engineBoots, uint32_t engineTime, int count,
                                      const char* const* oids, const unsigned char* const* values,
                                      const signed char* valueLens, const unsigned char* valueTags,
                                      const char* userName, const char* authPassword,
                                      const char* privPassword, unsigned char* authKeyOut,
                                      unsigned char* privKeyOut, unsigned char* out);
  // The parts below return their element's length, or -1 when it cannot be built.
  // `authParamsOffset`, counted from msgSecurityParameters on entry, counts
  // from the message's first octet on return.
  static int BuildSnmpV3Packet(const unsigned char* globalData, int globalDataLen,
                               const unsigned char* securityParameters, int securityParametersLen,
                               const unsigned char* msgData, int msgDataLen,
                               uint32_t* authParamsOffset, unsigned char* out);
  static int BuildSnmpV3msgGlobalDataUSM(uint32_t msgID, uint32_t msgMaxSize, int reportable,
                                         int privacy, int authentication, unsigned char* out);
  static int BuildSnmpV3msgSecurityParameters(const unsigned char* engineID, int engineIDLen,
                                              uint32_t engineBoots, uint32_t engineTime,
                                              const char* userName, const char* authPassword,
                                              const unsigned char* privParams, int privParamsLen,
                                              unsigned char* out, uint32_t* authParamsOffset);
  static int BuildSnmpV3msgData(const unsigned char* contextEngineID, int contextEngineIDLen,
                                const char* contextName, uint16_t requestId, int count,
                                const char* const* oids, const unsigned char* const* values,
                                const signed char* valueLens, const unsigned char* valueTags,
                                unsigned char* out);
  static int BuildSnmpV3PDU(uint16_t requestId, int count, const char* const* oids,
                            const unsigned char* const* values, const signed char* valueLens,
                            const unsigned char* valueTags, unsigned char* out);
  static int BuildSnmpV3GetRequestPDU(uint16_t requestId, int count, const char* const* oids,
                                      unsigned char* out);
  // 1 when the message is accepted to its end, else 0. Zeroes the received
  // authentication field and deciphers the scoped PDU in place. A message
  // whose flags carry the authentication bit, or whose authentication field
  // is not empty, must carry exactly 12 octets that all match.
  static int parseSnmpV3Response(unsigned char* msg, int msgLength, int* version,
                                 unsigned char* requestId, unsigned char* errorStatus,
                                 unsigned char* errorIndex, _SNMP_PARAM_V3* params);
  // The same, and 0 for a message without the authentication bit, before any
  // binding reaches the callback: for answers to an authenticated request.
  static int parseSnmpV3AuthenticatedResponse(unsigned char* msg, int msgLength, int* version,
                                              unsigned char* requestId,
                                              unsigned char* errorStatus,
                                              unsigned char* errorIndex, _SNMP_PARAM_V3* params);
  // The same for the answer to the request sent with `msgId`: an agent echoes
  // its request's msgID (RFC 3412), so any other is 0, and an authentic answer
  // replayed from an earlier exchange never passes for this one's.
  static int parseSnmpV3AnswerTo(uint16_t msgId, unsigned char* msg, int msgLength,
                                 unsigned char* errorStatus, unsigned char* errorIndex,
                                 _SNMP_PARAM_V3* params);
  // Status read over SNMPv3; numeric addresses only.
  bool NetworkReadStatusSNMPv3(const char* community, const char* host, PRINTER_STATUS* status);
  bool NetworkReadStatusV6SNMPv3(const char* community, const char* host, PRINTER_STATUS* status);
  // ---- end of SNMPv3 ----

  // ---- Discovery (netio/Discovery.h; discovery_v1.cpp, discovery_scan.cpp, discovery_v3.cpp) ----
  // Each method reports every matching answer through `callback` (may be
  // null), duplicates included. The OID text is only validated: the request
  // always asks for sysObjectID.0. Targets are numeric texts.
  // False only for an OID text that does not encode or a community over
  // kMaxDiscoveryCommunity octets. IPv6 targets go to FindSnmpAgentV6_.
  bool FindSnmpAgent(char const* community, char const* target, char const* oid,
                     SearchAgentCallback callback, void* context, bool broadcast);
  // From every IPv6 interface; the first answer fixes scope_id and g_ifsName.
  bool FindSnmpAgentV6_(char const* community, char const* target, char const* oid,
                        SearchAgentCallback callback, void* context, bool broadcast);
  // Tries scope ids 0, 1, 2 ... until some agent answers; one step only
  // while scope_id is positive. Also false when a socket cannot be created.
  bool FindSnmpAgentV6(char const* community, char const* target, char const* oid,
                       SearchAgentCallback callback, void* context, bool broadcast);
  // 255.255.255.255 and ff02::1 at once; the interface index at which the
  // IPv6 probe was answered is kept for the life of the process.
  bool FindSnmpAgent3Times(char const* community, char const* oid, SearchAgentCallback callback,
                           void* context);
  // Engine-ID discovery, then an authenticated request to each agent whose
  // engine ID is of the accepted form; the first and third arguments are
  // not used. IPv6 targets go to FindSnmpV3AgentV6_.
  bool FindSnmpV3Agent(char const*, char const* target, char const*, SearchAgentCallback callback,
                       void* context, bool broadcast);
  // False when a first-step socket cannot be created.
  bool FindSnmpV3AgentV6_(char const*, char const* target, char const*,
                          SearchAgentCallback callback, void* context, bool broadcast);
  // An SNMPv3 answer's sysObjectID: 1 to kTargetOidSize octets that begin
  // the first or the second target OID.
  bool MatchesTargetOid(const unsigned char* value, int length) const;
  // ---- end of Discovery ----

  // ---- Device queries and stream connection (queries_v1.cpp, queries_v3.cpp, stream.cpp) ----
  // Hosts are numeric texts (an IPv6 zone allowed). Every output receives a
  // NUL-terminated text only when it fits `outSize` with its NUL; otherwise,
  // and when its fact did not arrive, it is left untouched.
  // True when a well-formed GetResponse arrived; an agent's error answer
  // (noSuchName, NULL value) is true with an empty text.
  bool NetSnmpGetV4(char const* host, char const* community, char const* oid, char* out,
                    int outSize);
  bool NetSnmpGetV6(char const* host, char const* community, char const* oid, char* out,
                    int outSize);
  // 0 when the fact was read into `out`, else -1. IPv6 tries twice.
  int TavraNetworkGetFwMCUVersion(char const* host, unsigned char, char* out, int outSize);
  int TavraNetworkGetFwVersion(char const* host, unsigned char, char* out, int outSize);
  int TavraNetworkGetPrinterName(char const* host, unsigned char, char* out, int outSize);
  // One authenticated request for sysName, firmware and MCU versions per
  // accepted Report; values only from authenticated answers of the printer
  // itself. True when at least one fact was copied.
  bool NetSnmpGetV4SNMPv3(char const* host, char* name, char* fwVersion, char* mcuVersion,
                          int outSize);
  bool NetSnmpGetV6SNMPv3(char const* host, char* name, char* fwVersion, char* mcuVersion,
                          int outSize);
  int TavraNetworkGetNameAndFwAndMCUVersion(char const* host, char* name, char* fwVersion,
                                            char* mcuVersion, int outSize);

  // TCP to a numeric address; the port is the low 16 bits of `port`. 0 when
  // connected, -1 when the text is no address or the socket cannot be
  // opened, else the error number of CSocket::Connect (ECANCELED...).
  int NetworkConnect(char const* host, int port);
  // Also -1 when the host text and g_ifsName exceed kIfsZoneSize - 1 octets.
  int NetworkConnectV6(char const* host, int port);
  // Bytes moved: fewer than asked for on a failure, end of stream or cancel;
  // 0 when not connected. The leading int is not consulted.
  unsigned long NetworkRead(int, void* buffer, unsigned long length);
  unsigned long NetworkWrite(int, void const* data, unsigned long length);
  int NetworkClose(int);
  // For CSocket::Cancel from another thread.
  CSocket& StreamSocket() { return m_socket; }
  // ---- end of device queries and stream connection ----

 private:
  CSocket m_socket;
  unsigned char m_firstTargetOid[kTargetOidSize];
  unsigned char m_secondTargetOid[kTargetOidSize];
};

namespace netio {

// The status request for the device-ID object: 45 + c octets. -1 for a
// community over 84 octets or an `out` smaller than the message.
int BuildStatusRequest(const char* community, unsigned char* out, size_t outSize);

// The authenticated and enciphered GetRequest of BuildSnmpV3RequestPacket to
// the record's engine and user, under the keys already in the record (see
// netio/KeyCache.h) instead of keys derived afresh; 0 when it cannot be built.
int BuildSnmpV3RequestWithKeys(const _SNMP_PARAM_V3& params, int count, const char* const* oids,
                               unsigned char* out);

}  // namespace netio

extern "C" {
// 1 when the printer's status record was read, else 0.
int NetworkReadStatus(char const* community, char const* host, PRINTER_STATUS* status);
int NetworkReadStatusV6(char const* community, char const* host, PRINTER_STATUS* status);
}
