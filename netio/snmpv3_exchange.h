// The steps every SNMPv3 exchange takes: engine-ID discovery, the Report
// test, the authenticated request built from the record, and its answers;
// and the whole read of one printer that the status read and the device
// queries share.
#pragma once

#include <sys/types.h>

#include <functional>

#include "netio/NetIO.h"
#include "netio/udp.h"

namespace netio {

// The engine-ID discovery request into `out` (kSnmpV3WorkSize octets); its
// length, 0 when it cannot be built. The counters move on either way.
int BuildEngineDiscovery(unsigned char* out);

// True for a Report of an engine of the accepted form (80 00 0B 93 ...):
// `params` is cleared, given the credentials and left with the engine ID,
// boots and time.
bool AcceptedReport(unsigned char* datagram, ssize_t length, _SNMP_PARAM_V3* params);

// The authenticated GetRequest for `oids` to the record's engine, with its
// credentials; the localised keys are left in the record and the request's
// msgID in `msgId`.
int BuildAuthenticatedGet(_SNMP_PARAM_V3* params, int count, const char* const* oids,
                          unsigned char* out, uint16_t* msgId);

// True for an authenticated answer to the request sent with `msgId`, without
// an error status; its bindings went to `callback`.
bool AcceptedAnswer(unsigned char* answer, ssize_t length, uint16_t msgId,
                    _SNMP_PARAM_V3* params, SnmpValueCallback callback);

// What one printer read asks for and does with the answers.
struct PrinterRead {
  const char* const* oids;
  int count;
  SnmpValueCallback callback;
  // Before each discovery answer is parsed; may be empty.
  std::function<void()> beforeReport;
  // Before each authenticated answer is parsed: what an earlier one left
  // behind must not pass for this one's.
  std::function<void()> beforeAnswer;
  // After an accepted answer; true when it gave the read its result.
  std::function<bool()> takeAnswer;
  // Not null: the IPv4 steps are reported, with this host text.
  const char* reportedHost = nullptr;
};

// Discovery at the printer, then one authenticated request per accepted
// Report; only the printer's own datagrams are answers. True when some
// answer was taken.
bool ReadPrinterV3(const SocketAddress& printer, const PrinterRead& read);

}  // namespace netio
