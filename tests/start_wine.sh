#!/bin/sh
# Starts Wine's server and, through wineboot, its services for the Windows
# suite, making the prefix if it is new.   start_wine.sh WINESERVER WINE
# Wine runs without address-space randomization, as the tests run it (see
# prepare_platform in tool_harness.h for why).
"$1" -p >/dev/null 2>&1
setarch "$(uname -m)" -R "$2" wineboot >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
