// SNMPv3 with the user-based security model: the per-exchange record, the
// message counters, the fixed credentials and the status read's entry points.
// The message builders and the parser are members of CNetIO (netio/NetIO.h).
#pragma once

#include <cstdint>

#include "status/TavraCmd.h"

enum {
  // Work area of every SNMPv3 encoder, and the largest datagram sent or read.
  kSnmpV3WorkSize = 2048,
  kSnmpV3MaxEngineIdLen = 32,
  kSnmpV3MaxAuthParamsLen = 12,
  // Copies the parser keeps of the user name, privacy parameters and context name.
  kSnmpV3MaxCopyLen = 64,
  kSnmpV3CredentialSize = 36,
};

// msgFlags bits.
enum : uint8_t {
  kSnmpV3FlagAuth = 0x01,
  kSnmpV3FlagPriv = 0x02,
  kSnmpV3FlagReportable = 0x04,
};

// The per-exchange record: callers clear it and fill the credentials; the
// request builder leaves the localised keys in it and the parser the agent's
// engine ID, boots and time.
struct _SNMP_PARAM_V3 {
  unsigned char engineID[kSnmpV3MaxEngineIdLen];
  int32_t engineIDLen;
  uint32_t engineBoots;
  uint32_t engineTime;
  char userName[kSnmpV3CredentialSize];
  char authPassword[kSnmpV3CredentialSize];
  char privPassword[kSnmpV3CredentialSize];
  unsigned char privKey[16];
  unsigned char authKey[16];
  // The SnmpValueCallback of netio/NetIO.h.
  bool (*valueCallback)(const unsigned char* oid, int oidLength, unsigned char tag,
                        const unsigned char* value, int valueLength);
};

// msgID and request-id of the next message; both wrap. (`salt_low`, the low
// half of the privacy salt, is declared with the USM in netio/Usm.h.)
extern uint16_t SNMPv3MsgID;
extern uint16_t SNMPv3RequestID;

// Writes the configured user name and passwords into the record, NUL-terminated.
void SnmpV3FillCredentials(_SNMP_PARAM_V3* params);

extern "C" {
// 1 when the printer's status record was read over SNMPv3, else 0. The
// community is not used; the address is a numeric IPv4 or IPv6 text.
int NetworkReadStatusSNMPv3(char const* community, char const* host, PRINTER_STATUS* status);
int NetworkReadStatusV6SNMPv3(char const* community, char const* host, PRINTER_STATUS* status);
}
