#include "netio/diagnostics.h"

#include <atomic>
#include <cstdarg>

namespace netio {

namespace {

// Local static: usable from other translation units' start-up code too.
std::atomic<FILE*>& Sink() {
  static std::atomic<FILE*> sink{stderr};
  return sink;
}

}  // namespace

void SetDiagnosticsSink(FILE* sink) { Sink() = sink; }

FILE* DiagnosticsSink() { return Sink(); }

void Diagnose(const char* format, ...) {
  FILE* sink = Sink();
  if (!sink) return;
  va_list args;
  va_start(args, format);
  vfprintf(sink, format, args);
  va_end(args);
  fflush(sink);
}

}  // namespace netio
