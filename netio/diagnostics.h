// The library's one outlet for its printf-style lines. They go to a
// process-wide sink, standard error unless a front end chooses another stream
// or silences them, so nothing of the library's ever lands on standard output
// ahead of a program's own report.
#pragma once

#include <cstdio>

namespace netio {

// Null silences the library.
void SetDiagnosticsSink(FILE* sink);
FILE* DiagnosticsSink();

void Diagnose(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace netio
