// The USB path: the device ID comes from the supplyprobe filter.
#pragma once

#include <cstddef>

#include "status/TavraCmd.h"

// Shorter lines cannot hold a status field worth decoding.
constexpr size_t kProbeLineMin = 127;

bool ProbeLineLongEnough(const char* line);

// Fills `status` from the line that `probePath QUEUE URI` writes.
// 0 on success, -1 otherwise (nothing else to report: stderr is discarded).
int RunUsbPath(const char* probePath, const char* queue, const char* uri, PRINTER_STATUS* status);
