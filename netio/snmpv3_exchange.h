// The steps every SNMPv3 exchange takes: engine-ID discovery, the Report
// test, the authenticated request built from the record, and its answers;
// and the whole read of one printer that the status read and the device
// queries share.
#pragma once

#include <sys/types.h>

#include "netio/NetIO.h"
#include "netio/exchange.h"

namespace netio {

// The engine-ID discovery request into `out` (kSnmpV3WorkSize octets); its
// length, 0 when it cannot be built. The counters move on either way.
int BuildEngineDiscovery(unsigned char* out);

// True for a Report of an engine of the accepted form (80 00 0B 93 ...):
// `params` is cleared, given the credentials and left with the engine ID,
// boots and time. A refusal leaves its reason (netio/refusal.h).
bool AcceptedReport(unsigned char* datagram, ssize_t length, _SNMP_PARAM_V3* params);

// The authenticated GetRequest for `oids` to the record's engine, with its
// credentials; the localised keys are left in the record and the request's
// msgID in `msgId`.
int BuildAuthenticatedGet(_SNMP_PARAM_V3* params, int count, const char* const* oids,
                          unsigned char* out, uint16_t* msgId);

// True for an authenticated answer to the request sent with `msgId`, without
// an error status; its bindings went to `callback`. A refusal leaves its reason.
bool AcceptedAnswer(unsigned char* answer, ssize_t length, uint16_t msgId,
                    _SNMP_PARAM_V3* params, SnmpValueCallback callback);

// What one printer read asks for and does with the answers. The hooks get
// `context`; a null hook is skipped (takeAnswer: the answer is taken).
struct PrinterRead {
  const char* const* oids;
  int count;
  SnmpValueCallback callback;
  void* context = nullptr;
  // Before each discovery answer is parsed.
  void (*beforeReport)(void* context) = nullptr;
  // Before each authenticated answer is parsed: what an earlier one left
  // behind must not pass for this one's.
  void (*beforeAnswer)(void* context) = nullptr;
  // After an accepted answer; true when it gave the read its result.
  bool (*takeAnswer)(void* context) = nullptr;
  // Not null: the IPv4 steps are reported, with this host text.
  const char* reportedHost = nullptr;
};

// Discovery at the printer, then one authenticated request per accepted
// Report, all within `deadline`; only the printer's own datagrams are
// answers, and each refused one is reported. True when some answer was taken.
bool ReadPrinterV3(const SocketAddress& printer, const PrinterRead& read, const Deadline& deadline);

}  // namespace netio
