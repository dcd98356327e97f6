// The cap on the distinct agents of one scan.
#include <cstring>

#include "netio/diagnostics.h"
#include "netio/exchange.h"

namespace netio {

bool AgentCap::Key::operator==(const Key& other) const {
  return family == other.family && scope == other.scope &&
         memcmp(address, other.address, sizeof address) == 0;
}

// Reserved whole up front: the cap's memory is the same after a flood as before it.
AgentCap::AgentCap() { kept_.reserve(kMaxAgents); }

AgentCap::~AgentCap() {
  if (dropped_ > 0) {
    Diagnose("%zu answers of agents beyond the first %zu dropped\n", dropped_, kMaxAgents);
  }
}

bool AgentCap::Admit(const SocketAddress& agent) {
  Key key{};
  key.family = agent.sa.sa_family;
  if (key.family == AF_INET6) {
    memcpy(key.address, &agent.v6.sin6_addr, sizeof agent.v6.sin6_addr);
    key.scope = agent.v6.sin6_scope_id;
  } else {
    memcpy(key.address, &agent.v4.sin_addr, sizeof agent.v4.sin_addr);
  }
  for (const Key& kept : kept_) {
    if (kept == key) return true;
  }
  if (kept_.size() < kMaxAgents) {
    kept_.push_back(key);
    return true;
  }
  ++dropped_;
  return false;
}

}  // namespace netio
