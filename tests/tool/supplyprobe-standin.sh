#!/bin/sh
# Stands in for the print system's supplyprobe filter in a build tree: each
# test names the program that plays the printer in USBINK_STANDIN_PROBE, so
# tests run side by side without touching the real filter directory.
[ -n "$USBINK_STANDIN_PROBE" ] || exit 127
exec "$USBINK_STANDIN_PROBE" "$@"
