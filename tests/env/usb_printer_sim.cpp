// usb-printer-sim [--serial S] --id DEVICE_ID -- COMMAND [ARG...]: runs
// COMMAND while one simulated USB printer (umockdev) answers with DEVICE_ID;
// ends with COMMAND's exit status. For the demo and for timing the probe.
#include <cstring>
#include <iostream>

#include "env/TestEnv.h"
#include "env/UsbPrinters.h"

int main(int argc, char** argv) {
  testenv::UsbPrinterTraits traits;
  int i = 1;
  for (; i + 1 < argc && strcmp(argv[i], "--") != 0; i += 2) {
    if (strcmp(argv[i], "--serial") == 0) traits.serial = argv[i + 1];
    if (strcmp(argv[i], "--id") == 0) traits.reply = testenv::DeviceIdReply(argv[i + 1]);
  }
  std::string why = "usage: usb-printer-sim [--serial S] --id DEVICE_ID -- COMMAND [ARG...]";
  if (i >= argc - 1 || strcmp(argv[i], "--") != 0 || traits.reply.empty() ||
      !testenv::UsbPrinters::Available(&why)) {
    std::cerr << why << "\n";
    return 2;
  }
  testenv::UsbPrinters usb;
  usb.Add(traits);
  const testenv::RunResult r =
      testenv::Run({argv + i + 1, argv + argc}, usb.Env(), std::chrono::seconds(120));
  std::cout << r.out << std::flush;
  std::cerr << r.err;
  return r.exitCode;
}
