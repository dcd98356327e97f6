// supplyprobe QUEUE DEVICE_URI: the IEEE 1284 device ID of the USB printer a
// usb:// URI names, as one line on standard output.
// supplyprobe --list: every connected USB printer's URI and device ID.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "supplyprobe/device_uri.h"
#include "supplyprobe/usb_printer.h"

namespace supplyprobe {
namespace {

// Requests stop here; the alarm at kHardLimit catches anything that does not.
constexpr std::chrono::milliseconds kRequestBudget(9500);
constexpr unsigned kHardLimit = 10;

void OutOfTime(int) {
  static const char kLine[] = "supplyprobe: no answer within 10 s\n";
  ssize_t ignored = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  (void)ignored;
  _exit(kNoAnswer);
}

int Fail(const Failure& failure) {
  fprintf(stderr, "supplyprobe: %s\n", failure.message.c_str());
  return failure.status;
}

// The first failure, but a printer that cannot be opened outranks one that
// did not answer: access is what the user can fix.
void Keep(Failure* kept, const Failure& failure) {
  if (kept->status == kOk || (failure.status == kNoAccess && kept->status != kNoAccess)) *kept = failure;
}

class Session {
 public:
  bool Open(Failure* failure) {
    int rc = libusb_init(&ctx_);
    if (rc != 0) {
      ctx_ = nullptr;
      *failure = {kNoMatch, std::string("USB is not available: ") + libusb_strerror(rc)};
      return false;
    }
    count_ = libusb_get_device_list(ctx_, &list_);
    if (count_ < 0) {
      list_ = nullptr;
      *failure = {kNoMatch, std::string("cannot list USB devices: ") + libusb_strerror(static_cast<int>(count_))};
      return false;
    }
    return true;
  }
  ~Session() {
    if (list_) libusb_free_device_list(list_, 1);
    if (ctx_) libusb_exit(ctx_);
  }
  std::vector<PrinterInterface> Printers() const { return FindPrinterInterfaces(list_, count_); }

 private:
  libusb_context* ctx_ = nullptr;
  libusb_device** list_ = nullptr;
  ssize_t count_ = 0;
};

int List(Clock::time_point deadline) {
  Session usb;
  Failure failure;
  if (!usb.Open(&failure)) return Fail(failure);
  auto printers = usb.Printers();
  if (printers.empty()) return Fail({kNoMatch, "no USB printer is connected"});
  Failure kept;
  for (const auto& printer : printers) {
    PrinterFacts facts;
    if (ReadPrinter(printer, deadline, &facts, &failure)) {
      printf("%s\t%s\n", facts.uri.c_str(), facts.deviceId.c_str());
    } else {
      fprintf(stderr, "supplyprobe: %s\n", failure.message.c_str());
      Keep(&kept, failure);
    }
  }
  return kept.status;
}

int Probe(const std::string& requested, Clock::time_point deadline) {
  Session usb;
  Failure failure;
  if (!usb.Open(&failure)) return Fail(failure);
  Failure kept;
  for (const auto& printer : usb.Printers()) {
    PrinterFacts facts;
    if (!ReadPrinter(printer, deadline, &facts, &failure)) {
      Keep(&kept, failure);
      continue;
    }
    if (UriMatches(requested, facts.uri)) {
      printf("%s\n", facts.deviceId.c_str());
      return fflush(stdout) == 0 ? kOk : Fail({kNoAnswer, "cannot write the device ID"});
    }
  }
  if (kept.status != kOk)
    return Fail({kept.status, "no printer matched " + requested + "; " + kept.message});
  return Fail({kNoMatch, "no connected USB printer matches " + requested});
}

}  // namespace
}  // namespace supplyprobe

int main(int argc, char** argv) {
  using namespace supplyprobe;
  signal(SIGALRM, OutOfTime);
  alarm(kHardLimit);
  auto deadline = Clock::now() + kRequestBudget;
  if (argc == 2 && strcmp(argv[1], "--list") == 0) return List(deadline);
  if (argc != 3)
    return Fail({kUsage, "usage: supplyprobe QUEUE DEVICE_URI, or supplyprobe --list"});
  std::string requested;
  if (!CanonicalUsbUri(argv[2], &requested))
    return Fail({kUsage, std::string("not a usb device URI: ") + argv[2]});
  return Probe(requested, deadline);
}
