// The library's diagnostic lines captured for a test to read.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "netio/diagnostics.h"

namespace testnetio {

inline int Occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
  return n;
}

class Diagnostics {
 public:
  Diagnostics() : file_(tmpfile()) { netio::SetDiagnosticsSink(file_); }
  ~Diagnostics() {
    netio::SetDiagnosticsSink(nullptr);
    if (file_) fclose(file_);
  }
  Diagnostics(const Diagnostics&) = delete;
  Diagnostics& operator=(const Diagnostics&) = delete;

  std::string Text() const {
    std::string text;
    if (!file_) return text;
    fflush(file_);
    rewind(file_);
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, n);
    return text;
  }
  int Count(const std::string& needle) const { return Occurrences(Text(), needle); }
  // The refusal lines, in order, without their common start.
  std::vector<std::string> Refusals() const {
    std::vector<std::string> lines;
    const std::string text = Text(), start = "refused answer from ";
    for (size_t at = 0; (at = text.find(start, at)) != std::string::npos;) {
      const size_t end = text.find('\n', at);
      lines.push_back(text.substr(at + start.size(), end - at - start.size()));
      at = end;
    }
    return lines;
  }

 private:
  FILE* file_;
};

}  // namespace testnetio
