// A lab of namespaces: a bridge and nodes joined by veth pairs, none in the machine's namespace.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "env/TestEnv.h"

namespace testenv {

struct LabNode {
  std::string name;       // the test's name for it: "client", "printer"
  std::string netns;      // unique to this test process
  std::string ipv4;       // "10.208.0.N" for the N-th node, "" when the node has no IPv4
  std::string ipv6;       // the global address, "" when none
  std::string linkLocal;  // "fe80::ff:fe00:NN", "" when IPv6 is off
  std::string busPath;    // the node's D-Bus socket once it has a bus
};

struct NodeOptions {
  bool ipv4 = true;
  bool ipv6 = true;        // link-local at least
  bool ipv6Global = true;  // plus fd00:208::NN
};

class Lab {
 public:
  Lab();
  // Stops every child by PID, returns this thread to its own namespace and
  // deletes every namespace created, even after a failure.
  ~Lab();
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  static bool Available(std::string* why);       // root and iproute2
  static bool AvahiAvailable(std::string* why);  // dbus-daemon, avahi-daemon, avahi-publish

  // A node on the lab's bridge; IPv6 comes up without duplicate detection.
  LabNode* AddNode(const std::string& name, const NodeOptions& options, std::string* why);
  // Waits until every started child shows its ready text; false names the laggard.
  bool WaitReady(std::string* why, std::chrono::milliseconds limit = std::chrono::seconds(10));
  bool Enter(const LabNode& node, std::string* why);
  // A dbus-daemon of the node's own on node.busPath, listening when this returns, then
  // avahi-daemon on eth0 announcing <node name>.local; ready after WaitReady.
  bool StartAvahi(LabNode& node, std::string* why);
  // avahi-publish -s NAME TYPE PORT [-H host], and -a -R HOST ADDRESS; ready after WaitReady.
  void PublishService(const LabNode& node, const std::string& name, const std::string& type,
                      int port, const std::string& host = "");
  void PublishAddress(const LabNode& node, const std::string& host, const std::string& address);
  void UseBusOf(const LabNode& node);

 private:
  Process& StartIn(const LabNode& node, const std::vector<std::string>& argv,
                   const std::string& readyText = "");
  bool Ip(const std::vector<std::string>& args, const std::string& batch, std::string* why);

  struct Child {
    std::unique_ptr<Process> process;
    std::string readyText;
  };
  TempDir dir_;
  std::string ip_, prefix_;
  std::vector<std::string> namespaces_;
  std::vector<std::unique_ptr<LabNode>> nodes_;
  std::vector<Child> children_;
  int originalNs_ = -1;
  bool busChanged_ = false;
  std::optional<std::string> oldBus_;
};

// Gives this process a private mount namespace in which `hostsText` is
// /etc/hosts and host names are looked up in files only, so a test controls
// every name the resolver knows and no query leaves the machine.
bool UsePrivateHosts(const TempDir& dir, const std::string& hostsText, std::string* why);

}  // namespace testenv
