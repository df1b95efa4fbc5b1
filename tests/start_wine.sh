#!/bin/sh
# Makes Wine's prefix if it is new and starts Wine's server and, through
# wineboot, its services for the Windows suite.   start_wine.sh WINESERVER WINE
# A new prefix's first start settles before any test runs (the server ends
# once it has): the programs it starts print errors of their own, which a
# test would take for Wine failing the tool. A server left running from
# before is ended first, as the suite ends it after its last test. Wine runs
# without address-space randomization, as the tests run it (see
# prepare_platform in tool_harness.h for why).
boot() { setarch "$(uname -m)" -R "$1" wineboot "$2" >/dev/null 2>&1; }
"$1" -k >/dev/null 2>&1
boot "$2" --init && "$1" -w || { echo "wineboot --init failed" >&2; exit 1; }
# Drive a: reaches the root too, for names on a drive of the first letter.
ln -sfn / "${WINEPREFIX:-$HOME/.wine}/dosdevices/a:"
"$1" -p >/dev/null 2>&1
boot "$2" --restart || { echo "wineboot failed" >&2; exit 1; }
