// The addresses of a fleet status: lines of a file, and one entry per printer.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace cli {

// The address texts of one input line: none for a blank line or a # comment,
// the agents of a `netio discover --json` line, else the line's text. False
// for a line that starts like discover's JSON but is not.
bool LineAddresses(const std::string& line, std::vector<std::string>* out);

// Each printer once: "::1" and "0::1" are one address.
class FleetAddresses {
 public:
  // False, nothing kept, for a text that is no numeric address.
  bool Add(const std::string& text);
  const std::vector<std::string>& list() const { return list_; }

 private:
  std::set<std::string> seen_;
  std::vector<std::string> list_;
};

}  // namespace cli
