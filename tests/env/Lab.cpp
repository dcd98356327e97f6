#include "env/Lab.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testenv {

namespace {

std::string Hex(int n, const char* format) {
  char buf[8];
  snprintf(buf, sizeof buf, format, n);
  return buf;
}

std::string Failure(const std::string& what, const RunResult& r) {
  return what + " failed (exit " + std::to_string(r.exitCode) + "): " + r.err + r.out;
}

}  // namespace

Lab::Lab() : ip_(FindProgram("ip")), prefix_("usbink-" + std::to_string(getpid())) {}

Lab::~Lab() {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) it->process->Stop();
  children_.clear();
  if (originalNs_ >= 0) {
    setns(originalNs_, CLONE_NEWNET);
    close(originalNs_);
  }
  if (busChanged_) {
    if (hadBus_) {
      setenv("DBUS_SYSTEM_BUS_ADDRESS", oldBus_.c_str(), 1);
    } else {
      unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
  }
  if (namespaces_.empty()) return;
  std::string batch;
  for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it) batch += "netns del " + *it + "\n";
  // -force: go on past a namespace that is already gone.
  Run({ip_, "-force", "-batch", "-"}, {}, std::chrono::seconds(10), batch);
}

bool Lab::Available(std::string* why) {
  if (geteuid() != 0) {
    *why = "the namespace lab needs root";
    return false;
  }
  if (FindProgram("ip").empty()) {
    *why = "iproute2 (ip) is not installed";
    return false;
  }
  return true;
}

bool Lab::AvahiAvailable(std::string* why) {
  for (const char* p : {"dbus-daemon", "avahi-daemon", "avahi-publish", "unshare"}) {
    if (FindProgram(p).empty()) {
      *why = std::string(p) + " is not installed";
      return false;
    }
  }
  return true;
}

bool Lab::MakeBridge(std::string* why) {
  bridgeNs_ = prefix_ + "-br";
  RunResult r = Run({ip_, "netns", "add", bridgeNs_});
  if (r.exitCode != 0) {
    *why = Failure("ip netns add " + bridgeNs_, r);
    return false;
  }
  namespaces_.push_back(bridgeNs_);
  // Without snooping off, IPv6 multicast (mDNS, ff02::1) may miss some ports.
  r = Run({ip_, "-n", bridgeNs_, "-batch", "-"}, {}, std::chrono::seconds(10),
          "link add br0 type bridge mcast_snooping 0\nlink set br0 up\n");
  if (r.exitCode != 0) {
    *why = Failure("bridge setup", r);
    return false;
  }
  return true;
}

LabNode* Lab::AddNode(const std::string& name, const NodeOptions& options, std::string* why) {
  if (bridgeNs_.empty() && !MakeBridge(why)) return nullptr;
  auto node = std::make_unique<LabNode>();
  node->name = name;
  node->number = static_cast<int>(nodes_.size()) + 1;
  node->netns = prefix_ + "-" + name;
  node->ifname = "eth0";
  const std::string n = std::to_string(node->number);
  const std::string port = "p" + n;
  const std::string mac = "02:00:00:00:00:" + Hex(node->number, "%02x");

  RunResult r = Run({ip_, "netns", "add", node->netns});
  if (r.exitCode != 0) {
    *why = Failure("ip netns add " + node->netns, r);
    return nullptr;
  }
  namespaces_.push_back(node->netns);
  // The peer is born inside the node's namespace: nothing touches the host's.
  r = Run({ip_, "-n", bridgeNs_, "-batch", "-"}, {}, std::chrono::seconds(10),
          "link add " + port + " type veth peer name eth0 address " + mac + " netns " + node->netns + "\n" +
              "link set " + port + " master br0 up\n");
  if (r.exitCode != 0) {
    *why = Failure("veth for " + name, r);
    return nullptr;
  }

  // Duplicate detection would hold IPv6 addresses back for a second or two.
  std::string script = options.ipv6 ? "sysctl -q -w net.ipv6.conf.eth0.accept_dad=0"
                                    : "sysctl -q -w net.ipv6.conf.eth0.disable_ipv6=1";
  script += " && ip link set lo up && ip link set eth0 addrgenmode eui64";
  if (options.ipv4) {
    node->ipv4 = "10.208.0." + n;
    script += " && ip addr add " + node->ipv4 + "/24 dev eth0";
  }
  if (options.ipv6) node->linkLocal = "fe80::ff:fe00:" + Hex(node->number, "%x");
  if (options.ipv6 && options.ipv6Global) {
    node->ipv6 = "fd00:208::" + Hex(node->number, "%x");
    script += " && ip addr add " + node->ipv6 + "/64 dev eth0 nodad";
  }
  // A default route lets 255.255.255.255 leave through eth0.
  script += " && ip link set eth0 up";
  if (options.ipv4) script += " && ip route add default dev eth0";
  r = RunIn(*node, {"/bin/sh", "-c", script});
  if (r.exitCode != 0) {
    *why = Failure("addresses for " + name, r);
    return nullptr;
  }
  nodes_.push_back(std::move(node));
  return nodes_.back().get();
}

RunResult Lab::RunIn(const LabNode& node, const std::vector<std::string>& argv,
                     std::chrono::milliseconds limit) {
  std::vector<std::string> full = {ip_, "netns", "exec", node.netns};
  full.insert(full.end(), argv.begin(), argv.end());
  return Run(full, {}, limit);
}

Process& Lab::StartIn(const LabNode& node, const std::string& tag, const std::vector<std::string>& argv,
                      const std::string& readyText, const std::vector<std::string>& env) {
  // ip netns exec and unshare exec in place, so the PID is the program's own.
  std::vector<std::string> full = {ip_, "netns", "exec", node.netns};
  full.insert(full.end(), argv.begin(), argv.end());
  std::string label = node.name + "-" + tag;
  children_.push_back({std::make_unique<Process>(full, env, dir_ / (label + ".log")), readyText, label});
  return *children_.back().process;
}

bool Lab::WaitReady(std::string* why, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  for (auto& c : children_) {
    if (c.readyText.empty()) continue;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (!c.process->WaitForLog(c.readyText, std::max(left, std::chrono::milliseconds(1)))) {
      *why = c.label + " did not report \"" + c.readyText + "\": " + c.process->Log();
      return false;
    }
    c.readyText.clear();
  }
  return true;
}

bool Lab::Enter(const LabNode& node, std::string* why) {
  if (originalNs_ < 0) originalNs_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  int fd = open(("/run/netns/" + node.netns).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
    *why = "cannot enter " + node.netns + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  return true;
}

bool Lab::StartBus(LabNode& node, std::string* why) {
  const std::string home = dir_ / node.name;
  node.busPath = home + "/bus";
  WriteFile(home + "/bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>system</type>\n"
            "  <listen>unix:path=" + node.busPath + "</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n"
            "    <allow user=\"*\"/>\n"
            "    <allow own=\"*\"/>\n"
            "    <allow send_destination=\"*\"/>\n"
            "    <allow receive_sender=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n");
  Process& bus = StartIn(node, "dbus",
                         {FindProgram("dbus-daemon"), "--config-file=" + home + "/bus.conf", "--nofork",
                          "--print-address"});
  // avahi-daemon gives up on a bus that is not listening yet.
  if (!bus.WaitForLog("unix:path=", std::chrono::seconds(5))) {
    *why = "dbus-daemon for " + node.name + " did not start: " + bus.Log();
    return false;
  }
  return true;
}

bool Lab::StartAvahi(LabNode& node, std::string* why) {
  if (!StartBus(node, why)) return false;
  const std::string home = dir_ / node.name;
  WriteFile(home + "/avahi-daemon.conf",
            "[server]\n"
            "host-name=" + node.name + "\n"
            "use-ipv4=yes\n"
            "use-ipv6=yes\n"
            "allow-interfaces=eth0\n"
            "enable-dbus=yes\n"
            "[wide-area]\n"
            "enable-wide-area=no\n"
            "[publish]\n"
            "publish-workstation=no\n"
            "publish-hinfo=no\n");
  // A private /run keeps each daemon's pid file and socket apart.
  StartIn(node, "avahi",
          {FindProgram("unshare"), "-m", "--propagation", "private", "/bin/sh", "-c",
           "mount -t tmpfs tmpfs /run && exec \"$@\"", "sh", FindProgram("avahi-daemon"), "--no-drop-root",
           "--no-chroot", "--no-rlimits", "--no-proc-title", "-f", home + "/avahi-daemon.conf"},
          "Server startup complete", {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + node.busPath});
  return true;
}

void Lab::PublishService(const LabNode& node, const std::string& name, const std::string& type, int port,
                         const std::string& host) {
  std::vector<std::string> argv = {FindProgram("avahi-publish"), "-s"};
  if (!host.empty()) argv.insert(argv.end(), {"-H", host});
  argv.insert(argv.end(), {name, type, std::to_string(port)});
  StartIn(node, "publish-" + std::to_string(children_.size()), argv, "Established under name",
          {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + node.busPath});
}

void Lab::PublishAddress(const LabNode& node, const std::string& host, const std::string& address) {
  StartIn(node, "publish-" + std::to_string(children_.size()),
          {FindProgram("avahi-publish"), "-a", "-R", host, address}, "Established under name",
          {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + node.busPath});
}

void Lab::UseBusOf(const LabNode& node) {
  if (!busChanged_) {
    const char* old = getenv("DBUS_SYSTEM_BUS_ADDRESS");
    hadBus_ = old != nullptr;
    if (old) oldBus_ = old;
    busChanged_ = true;
  }
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + node.busPath).c_str(), 1);
}

bool UsePrivateHosts(const TempDir& dir, const std::string& hostsText, std::string* why) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    *why = std::string("cannot make a private mount namespace: ") + strerror(errno);
    return false;
  }
  WriteFile(dir / "hosts", hostsText);
  WriteFile(dir / "nsswitch.conf", "hosts: files\n");
  for (const char* name : {"hosts", "nsswitch.conf"}) {
    std::string target = std::string("/etc/") + name;
    if (mount((dir / name).c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      *why = "cannot bind a private " + target + ": " + strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace testenv
