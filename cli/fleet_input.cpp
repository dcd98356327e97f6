#include <cctype>

#include "cli/FleetInput.h"
#include "netio/address.h"

namespace cli {

namespace {

// {"agents": ["ADDR", ...]} as discover writes it. Addresses hold no
// escapes, so a string with one is refused rather than decoded.
class DiscoverLine {
 public:
  explicit DiscoverLine(const std::string& line) : line_(line) {}

  bool Agents(std::vector<std::string>* out) {
    std::string key;
    std::vector<std::string> agents;
    if (!Expect('{') || !String(&key) || key != "agents" || !Expect(':') || !Expect('['))
      return false;
    if (!Expect(']')) {
      do {
        agents.emplace_back();
        if (!String(&agents.back())) return false;
      } while (Expect(','));
      if (!Expect(']')) return false;
    }
    if (!Expect('}')) return false;
    SkipSpace();
    if (at_ != line_.size()) return false;
    out->insert(out->end(), agents.begin(), agents.end());
    return true;
  }

 private:
  void SkipSpace() {
    while (at_ < line_.size() && isspace(static_cast<unsigned char>(line_[at_]))) ++at_;
  }
  bool Expect(char c) {
    SkipSpace();
    if (at_ >= line_.size() || line_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool String(std::string* out) {
    if (!Expect('"')) return false;
    const size_t end = line_.find('"', at_);
    if (end == std::string::npos) return false;
    *out = line_.substr(at_, end - at_);
    at_ = end + 1;
    return out->find('\\') == std::string::npos;
  }

  const std::string& line_;
  size_t at_ = 0;
};

}  // namespace

bool LineAddresses(const std::string& line, std::vector<std::string>* out) {
  const std::string text = line.substr(0, line.find('#'));
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return true;
  const size_t last = text.find_last_not_of(" \t\r\n");
  if (text[first] == '{') return DiscoverLine(text).Agents(out);
  out->push_back(text.substr(first, last - first + 1));
  return true;
}

bool FleetAddresses::Add(const std::string& text) {
  netio::SocketAddress address{};
  if (!netio::ParseNumericAddress(text.c_str(), AF_UNSPEC, netio::kSnmpPort, &address))
    return false;
  std::string key(1, static_cast<char>(address.sa.sa_family));
  if (address.sa.sa_family == AF_INET) {
    key.append(reinterpret_cast<const char*>(&address.v4.sin_addr), sizeof address.v4.sin_addr);
  } else {
    key.append(reinterpret_cast<const char*>(&address.v6.sin6_addr), sizeof address.v6.sin6_addr);
    key.append(reinterpret_cast<const char*>(&address.v6.sin6_scope_id),
               sizeof address.v6.sin6_scope_id);
  }
  if (seen_.insert(key).second) list_.push_back(text);
  return true;
}

}  // namespace cli
