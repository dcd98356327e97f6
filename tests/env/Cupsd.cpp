#include "env/Cupsd.h"

#include <filesystem>
#include <thread>

namespace testenv {

namespace {

// cupsd refuses a device URI whose scheme has no executable backend; Debian
// ships none of these.
// Scheme names are matched as written, so both cases are here.
const char* const kBackends[] = {"usb",   "USB", "ipp", "IPP", "socket", "SOCKET", "lpd",
                                 "LPD",   "dnssd", "DNSSD", "mdns", "MDNS", "http"};

}  // namespace

bool Cupsd::Start(std::string* why) {
  std::string cupsd = FindProgram("cupsd");
  if (cupsd.empty() || FindProgram("lpadmin").empty()) {
    *why = "cupsd or lpadmin is not installed (cups-daemon, cups-client)";
    return false;
  }
  const std::string& d = dir_.path();
  for (const char* sub : {"spool", "tmp", "cache", "state", "log", "bin/filter"})
    std::filesystem::create_directories(d + "/" + sub);
  for (const char* backend : kBackends)
    WriteFile(d + "/bin/backend/" + backend, "#!/bin/sh\nexit 0\n", 0755);
  WriteFile(dir_ / "cups-files.conf",
            "ServerRoot " + d + "\nRequestRoot " + d + "/spool\nTempDir " + d +
                "/tmp\nCacheDir " + d + "/cache\nStateDir " + d + "/state\nServerBin " + d +
                "/bin\nAccessLog " + d + "/log/access_log\nErrorLog " + d +
                "/log/error_log\nPageLog " + d + "/log/page_log\nPrintcap " + d +
                "/printcap\nSystemGroup root\n");
  WriteFile(dir_ / "cupsd.conf",
            "Listen " + dir_ / "cups.sock" +
                "\nBrowsing No\nDefaultAuthType None\nLogLevel warn\n"
                "<Location />\n  Allow all\n</Location>\n"
                "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
  daemon_ = std::make_unique<Process>(
      std::vector<std::string>{cupsd, "-f", "-c", dir_ / "cupsd.conf", "-s",
                               dir_ / "cups-files.conf"},
      std::vector<std::string>{}, dir_ / "cupsd.log");
  // Ready once the socket answers a query.
  for (int i = 0; i < 100; ++i) {
    RunResult r = Run({FindProgram("lpstat"), "-r"}, {ServerEnv()}, std::chrono::seconds(5));
    if (r.exitCode == 0 && r.out.find("is running") != std::string::npos) return true;
    if (!daemon_->running()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  *why = "cupsd did not come up: " + daemon_->Log() + ReadFile(dir_ / "log/error_log");
  return false;
}

bool Cupsd::AddQueue(const std::string& name, const std::string& deviceUri, std::string* why) {
  RunResult r = Run({FindProgram("lpadmin"), "-p", name, "-v", deviceUri, "-m", "raw", "-E"},
                    {ServerEnv()}, std::chrono::seconds(20));
  *why = r.err;
  return r.exitCode == 0;
}

}  // namespace testenv
