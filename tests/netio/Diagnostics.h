// The library's diagnostic lines captured for a test to read.
#pragma once

#include <cstdio>
#include <string>

#include "netio/diagnostics.h"

namespace testnetio {

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
  int Count(const std::string& needle) const {
    const std::string text = Text();
    int n = 0;
    for (size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
    return n;
  }

 private:
  FILE* file_;
};

}  // namespace testnetio
