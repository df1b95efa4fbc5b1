#!/bin/sh
# Starts Wine's server and, through wineboot, its services for the Windows
# suite.   start_wine.sh WINESERVER WINE
# Wine runs with address-space randomization off, as the tests run it: without
# a preloader, a randomly placed heap can take the address where Windows'
# shared page must go, and Wine then ends with status 1.
"$1" -p >/dev/null 2>&1
setarch "$(uname -m)" -R "$2" wineboot >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
