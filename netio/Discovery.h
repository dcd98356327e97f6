// Printer discovery: the callback that reports an agent, the SNMPv1
// discovery request, and the buffers that SNMPv3 answers are captured into.
// The methods themselves are members of CNetIO (netio/NetIO.h).
#pragma once

#include <cstddef>

#include "netio/Interfaces.h"

// The agent's address text (valid only during the call), always null, and
// the caller's context. The result is ignored: the search goes on.
typedef bool (*SearchAgentCallback)(char* address, char* unused, void* context);

enum {
  kCaptureSize = 128,
  // c + 32 must stay a one-octet length.
  kMaxDiscoveryCommunity = 95,
};

// Names that searchAgentProCallbackEx2 recognises: OID contents and their
// lengths. A length of 0 matches nothing.
extern unsigned char _sysObjIdOid[kCaptureSize];
extern int _sysObjIdOidLen;
extern unsigned char _sysNameOid[kCaptureSize];
extern int _sysNameOidLen;
extern unsigned char _pvtFwVerOid[kCaptureSize];
extern int _pvtFwVerOidLen;
extern unsigned char _pvtMcuVerOid[kCaptureSize];
extern int _pvtMcuVerOidLen;

// Captured values: the sysObjectID without terminator, the texts with a NUL.
extern unsigned char _sysObjIdValue[kCaptureSize];
extern int _sysObjIdLen;
extern char _sysNameValue[kCaptureSize];
extern char _pvtFwVerValue[kCaptureSize];
extern char _pvtMcuVerValue[kCaptureSize];

// Encodes `text` into one of the name buffers above and sets its length; a
// text that does not encode leaves the buffer empty. False then.
bool EncodeCaptureOid(const char* text, unsigned char* oid, int* oidLength);

// Value callback for SNMPv3 answers: a binding whose name has exactly the
// length and octets of one of the names above (sysObjectID, sysName,
// firmware, MCU, first match wins) is captured and true returned; anything
// else is left alone. A sysObjectID over kCaptureSize octets is skipped; a
// text over kCaptureSize - 1 octets is cut there.
bool searchAgentProCallbackEx2(const unsigned char* oid, int oidLength, unsigned char type,
                               const unsigned char* value, int valueLength);

namespace netio {

// The discovery GetRequest for sysObjectID.0: c + 34 octets; a null or
// empty community is "public". -1 for a community over
// kMaxDiscoveryCommunity octets or an `out` too small.
int BuildDiscoveryRequest(const char* community, unsigned char* out, size_t outSize);

}  // namespace netio
