#include "tool/usb_path.h"

#include <syslog.h>

#include <cstdio>
#include <cstring>

#include "tool/probe.h"

bool ProbeLineLongEnough(const char* line) { return strlen(line) >= kProbeLineMin; }

int RunUsbPath(const char* probePath, const char* queue, const char* uri, PRINTER_STATUS* status) {
  if (!ProbeCommandFits(probePath, queue, uri)) return -1;
  openlog("usbink", 0, LOG_USER);
  syslog(LOG_NOTICE, "%s,%s", queue, uri);

  char line[kProbeLineMax + 1];
  switch (RunProbe(probePath, queue, uri, kProbeTimeLimit, line)) {
    case ProbeResult::kNotStarted:
      fputs("Could not open pipe for toner level agents.\n", stderr);
      return -1;
    case ProbeResult::kTimedOut:
      return -1;
    case ProbeResult::kLine:
      break;
  }
  syslog(LOG_NOTICE, "data len=%i [%s]", static_cast<int>(strlen(line)), line);
  if (!ProbeLineLongEnough(line)) return -1;
  return DecodStatusFromDeviceID(line, status) == 0 ? 0 : -1;
}
