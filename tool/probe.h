// Runs the print system's supplyprobe filter, which writes the printer's
// device ID as its first output line.
#pragma once

#include <chrono>
#include <cstddef>

// The filter's command line ("PATH QUEUE URI") must fit the historical
// 256-byte command buffer.
constexpr size_t kProbeCommandMax = 255;
// One read takes at most 2048 characters, up to and including the first newline.
constexpr size_t kProbeLineMax = 2048;
// A probe gets this long, in all, to write its line and exit.
constexpr std::chrono::seconds kProbeTimeLimit(30);

bool ProbeCommandFits(const char* probePath, const char* queue, const char* uri);

enum class ProbeResult {
  kLine,        // `line` holds what the probe wrote (possibly empty) and it was reaped
  kNotStarted,  // the program could not be run
  kTimedOut,    // no line or no exit within the limit: killed and reaped
};

// Runs `probePath QUEUE URI` without a shell, so each argument reaches the
// program as it is. `line` needs room for kProbeLineMax + 1 bytes.
ProbeResult RunProbe(const char* probePath, const char* queue, const char* uri,
                     std::chrono::milliseconds limit, char* line);
