// A shell script that plays the printer behind supplyprobe: it records its
// arguments and PID beside itself, writes `output`, then runs `tail`; and
// the device ID and report that go with such a printer.
#pragma once

#include <unistd.h>

#include <string>

#include "env/TestEnv.h"
#include "status/TavraCmd.h"

namespace tooltest {

class PrinterScript {
 public:
  explicit PrinterScript(const std::string& output, const std::string& tail = "") {
    testenv::WriteFile(dir_ / "output", output);
    testenv::WriteFile(path(),
                       "#!/bin/sh\nd='" + dir_.path() +
                           "'\necho $$ > \"$d/pid\"\necho $# > \"$d/argc\"\n"
                           "printf '%s' \"$1\" > \"$d/arg1\"\nprintf '%s' \"$2\" > \"$d/arg2\"\n"
                           "cat \"$d/output\"\n" + tail + "\n",
                       0755);
  }
  std::string path() const { return dir_ / "printer"; }
  // ran() is false again until the next run.
  void Forget() const { unlink((dir_ / "argc").c_str()); }
  bool ran() const { return !testenv::ReadFile(dir_ / "argc").empty(); }
  std::string argc() const { return testenv::ReadFile(dir_ / "argc"); }
  std::string arg(int i) const { return testenv::ReadFile(dir_ / ("arg" + std::to_string(i))); }
  int pid() const { return std::stoi("0" + testenv::ReadFile(dir_ / "pid")); }

 private:
  testenv::TempDir dir_;
};

// The device ID a printer with `level` as its record's first byte writes.
inline std::string DeviceIdLine(unsigned char level) {
  PRINTER_STATUS record;
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  for (size_t i = 0; i < sizeof record; ++i) bytes[i] = static_cast<unsigned char>(i * 11 + 5);
  record.blackLevel = level;
  char field[200];
  base64_encode(bytes, sizeof record, field, sizeof field);
  return std::string("MFG:Acme;CMD:PCL,PJL;MDL:Laser 100;CLS:PRINTER;STS:") + field + ";\n";
}

// The supply report, byte for byte.
inline std::string ReportFor(const std::string& description, int level) {
  return R"(<?xml version="1.0" encoding="UTF-8"?> <!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"
         R"(<plist version="1.0"><dict><key>prtMarkerSuppliesTable</key><array><dict><key>prtMarkerSuppliesClass</key><integer>3</integer>)"
         R"(<key>prtMarkerSuppliesDescription</key><string>)" +
         description + R"(</string><key>prtMarkerSuppliesLevel</key><integer>)" +
         std::to_string(level) +
         R"(</integer><key>prtMarkerSuppliesMaxCapacity</key><integer>100</integer><key>prtMarkerSRGBRepresentation</key><array><integer>00</integer><integer>00</integer><integer>00</integer></array>)"
         R"(<key>prtMarkerSuppliesSupplyUnit</key><integer>19</integer><key>prtMarkerSuppliesType</key><integer>3</integer><key>prtMarkerPartNumber</key><string> </string></dict></array></dict></plist>)";
}

}  // namespace tooltest
