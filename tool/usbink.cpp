// usbink QUEUE: the black-toner supply report of the printer behind a print
// queue, on standard output; exit status 0 after a report.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "status/TavraCmd.h"
#include "tool/l10n.h"
#include "tool/network_search.h"
#include "tool/print_queue.h"
#include "tool/report.h"
#include "tool/usb_path.h"

namespace {

// A closed stdin or stdout slot would be handed to the probe's pipe. Fill it
// read-only (open takes the lowest free slot), so a closed standard output
// still fails the report.
void HoldStandardSlots() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO}) {
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs("usage: usbink QUEUE\n", stderr);
    return -1;
  }
  HoldStandardSlots();
  if (!freopen("/dev/null", "w", stderr)) return -1;

  const char* queue = argv[1];
  std::string uri, scheme;
  if (!GetDeviceUri(queue, &uri)) return -1;
  PRINTER_STATUS status;
  memset(&status, 0, sizeof status);
  if (!GetUriScheme(uri.c_str(), &scheme)) return -1;

  int rc = strcasecmp(scheme.c_str(), "usb") == 0
               ? RunUsbPath(SUPPLYPROBE_PATH, queue, uri.c_str(), &status)
               : RunNetworkSearch(uri.c_str(), &status);
  if (rc != 0) return rc;
  return WriteSupplyReport(stdout, LocalizedDescription(), status.blackLevel) ? 0 : -1;
}
