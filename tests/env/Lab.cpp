#include "env/Lab.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace testenv {

Lab::Lab() : ip_(FindProgram("ip")), prefix_("usbink-" + std::to_string(getpid())) {}

Lab::~Lab() {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) it->process->Stop();
  if (originalNs_ >= 0) setns(originalNs_, CLONE_NEWNET), close(originalNs_);
  if (busChanged_ && !oldBus_) unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (busChanged_ && oldBus_) setenv("DBUS_SYSTEM_BUS_ADDRESS", oldBus_->c_str(), 1);
  std::string batch;
  for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it)
    batch += "netns del " + *it + "\n";
  // -force: go on past a namespace that is already gone.
  if (!batch.empty()) Run({ip_, "-force", "-batch", "-"}, {}, std::chrono::seconds(10), batch);
}

bool Lab::Available(std::string* why) {
  *why = geteuid() != 0              ? "the namespace lab needs root"
         : FindProgram("ip").empty() ? "iproute2 (ip) is not installed"
                                     : "";
  return why->empty();
}

bool Lab::AvahiAvailable(std::string* why) {
  for (const char* p : {"dbus-daemon", "avahi-daemon", "avahi-publish", "unshare"})
    if (FindProgram(p).empty()) return *why = std::string(p) + " is not installed", false;
  return true;
}

bool Lab::Ip(const std::vector<std::string>& args, const std::string& batch, std::string* why) {
  std::vector<std::string> argv = {ip_};
  argv.insert(argv.end(), args.begin(), args.end());
  const RunResult r = Run(argv, {}, std::chrono::seconds(10), batch);
  if (r.exitCode != 0) *why = "ip " + args.back() + " failed: " + r.err + batch;
  return r.exitCode == 0;
}

LabNode* Lab::AddNode(const std::string& name, const NodeOptions& options, std::string* why) {
  const std::string bridge = prefix_ + "-br";
  // Without snooping off, IPv6 multicast (mDNS, ff02::1) may miss some ports.
  if (namespaces_.empty()) {
    if (!Ip({"netns", "add", bridge}, "", why)) return nullptr;
    namespaces_.push_back(bridge);
    if (!Ip({"-n", bridge, "-batch", "-"},
            "link add br0 type bridge mcast_snooping 0\nlink set br0 up\n", why))
      return nullptr;
  }
  auto node = std::make_unique<LabNode>();
  node->name = name;
  const int number = static_cast<int>(nodes_.size()) + 1;
  node->netns = prefix_ + "-" + name;
  char hex[2][8];
  snprintf(hex[0], sizeof hex[0], "%02x", number);
  snprintf(hex[1], sizeof hex[1], "%x", number);
  const std::string port = "p" + std::to_string(number);
  if (!Ip({"netns", "add", node->netns}, "", why)) return nullptr;
  namespaces_.push_back(node->netns);
  // The peer is born inside the node's namespace: nothing touches the host's.
  if (!Ip({"-n", bridge, "-batch", "-"},
          "link add " + port + " type veth peer name eth0 address 02:00:00:00:00:" + hex[0] +
              " netns " + node->netns + "\nlink set " + port + " master br0 up\n",
          why))
    return nullptr;
  // Duplicate detection would hold IPv6 addresses back for a second or two.
  std::string script = options.ipv6 ? "sysctl -q -w net.ipv6.conf.eth0.accept_dad=0"
                                    : "sysctl -q -w net.ipv6.conf.eth0.disable_ipv6=1";
  script += " && ip link set lo up && ip link set eth0 addrgenmode eui64";
  if (options.ipv4) node->ipv4 = "10.208.0." + std::to_string(number);
  if (options.ipv4) script += " && ip addr add " + node->ipv4 + "/24 dev eth0";
  if (options.ipv6) node->linkLocal = std::string("fe80::ff:fe00:") + hex[1];
  if (options.ipv6 && options.ipv6Global) node->ipv6 = std::string("fd00:208::") + hex[1];
  if (!node->ipv6.empty()) script += " && ip addr add " + node->ipv6 + "/64 dev eth0 nodad";
  // A default route lets 255.255.255.255 leave through eth0.
  script += " && ip link set eth0 up";
  if (options.ipv4) script += " && ip route add default dev eth0";
  const RunResult r = Run({ip_, "netns", "exec", node->netns, "/bin/sh", "-c", script}, {},
                          std::chrono::seconds(10));
  if (r.exitCode != 0) return *why = "addresses for " + name + ": " + r.err, nullptr;
  nodes_.push_back(std::move(node));
  return nodes_.back().get();
}

Process& Lab::StartIn(const LabNode& node, const std::vector<std::string>& argv,
                      const std::string& readyText) {
  // ip netns exec and unshare exec in place, so the PID is the program's own.
  std::vector<std::string> full = {ip_, "netns", "exec", node.netns};
  full.insert(full.end(), argv.begin(), argv.end());
  const std::string log = dir_ / (node.name + "-" + std::to_string(children_.size()) + ".log");
  const std::vector<std::string> env = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + node.busPath};
  children_.push_back({std::make_unique<Process>(
                           full, node.busPath.empty() ? std::vector<std::string>{} : env, log),
                       readyText});
  return *children_.back().process;
}

bool Lab::WaitReady(std::string* why, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (auto& c : children_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (!c.readyText.empty() &&
        !c.process->WaitForLog(c.readyText, std::max(left, std::chrono::milliseconds(1))))
      return *why = "no \"" + c.readyText + "\": " + c.process->Log(), false;
    c.readyText.clear();
  }
  return true;
}

bool Lab::Enter(const LabNode& node, std::string* why) {
  if (originalNs_ < 0) originalNs_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int fd = open(("/run/netns/" + node.netns).c_str(), O_RDONLY | O_CLOEXEC);
  const bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
  if (!entered) *why = "cannot enter " + node.netns + ": " + strerror(errno);
  if (fd >= 0) close(fd);
  return entered;
}

bool Lab::StartAvahi(LabNode& node, std::string* why) {
  const std::string home = dir_ / node.name;
  WriteFile(
      home + "/bus.conf",
      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      "<busconfig><type>system</type><listen>unix:path=" +
          home +
          "/bus</listen>"
          "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
          "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n");
  Process& bus = StartIn(node, {FindProgram("dbus-daemon"), "--config-file=" + home + "/bus.conf",
                                "--nofork", "--print-address"});
  node.busPath = home + "/bus";
  // avahi-daemon gives up on a bus that is not listening yet.
  if (!bus.WaitForLog("unix:path=", std::chrono::seconds(5)))
    return *why = "dbus-daemon for " + node.name + " did not start: " + bus.Log(), false;
  const std::string conf = dir_ / (node.name + "/avahi-daemon.conf");
  WriteFile(conf, "[server]\nhost-name=" + node.name +
                      "\nuse-ipv4=yes\nuse-ipv6=yes\nallow-interfaces=eth0\nenable-dbus=yes\n"
                      "[wide-area]\nenable-wide-area=no\n[publish]\npublish-workstation="
                      "no\npublish-hinfo=no\n");
  // A private /run keeps each daemon's pid file and socket apart.
  StartIn(node,
          {FindProgram("unshare"), "-m", "--propagation", "private", "/bin/sh", "-c",
           "mount -t tmpfs tmpfs /run && exec \"$@\"", "sh", FindProgram("avahi-daemon"),
           "--no-drop-root", "--no-chroot", "--no-rlimits", "--no-proc-title", "-f", conf},
          "Server startup complete");
  return true;
}

void Lab::PublishService(const LabNode& node, const std::string& name, const std::string& type,
                         int port, const std::string& host) {
  std::vector<std::string> argv = {FindProgram("avahi-publish"), "-s"};
  if (!host.empty()) argv.insert(argv.end(), {"-H", host});
  argv.insert(argv.end(), {name, type, std::to_string(port)});
  StartIn(node, argv, "Established under name");
}

void Lab::PublishAddress(const LabNode& node, const std::string& host, const std::string& address) {
  StartIn(node, {FindProgram("avahi-publish"), "-a", "-R", host, address},
          "Established under name");
}

void Lab::UseBusOf(const LabNode& node) {
  const char* old = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (!busChanged_ && old) oldBus_ = old;
  busChanged_ = true;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + node.busPath).c_str(), 1);
}

bool UsePrivateHosts(const TempDir& dir, const std::string& hostsText, std::string* why) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return *why = std::string("cannot make a private mount namespace: ") + strerror(errno), false;
  WriteFile(dir / "hosts", hostsText);
  WriteFile(dir / "nsswitch.conf", "hosts: files\n");
  for (const std::string name : {"hosts", "nsswitch.conf"})
    if (mount((dir / name).c_str(), ("/etc/" + name).c_str(), nullptr, MS_BIND, nullptr) != 0)
      return *why = "cannot bind a private /etc/" + name + ": " + strerror(errno), false;
  return true;
}

}  // namespace testenv
