#!/bin/sh
# Starts Wine's server and its services for the Windows suite, and waits
# until the services have settled, so that no test starts a process while
# Wine is still setting its session up.   start_wine.sh WINESERVER WINE
"$1" -p >/dev/null 2>&1
"$2" wineboot >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
# wineboot returns while services still start: wait until the number of
# Windows processes has stayed the same for 2 s (at most 30 s).
last=-1 same=0 polls=0
while [ "$same" -lt 4 ] && [ "$polls" -lt 60 ]; do
  now=$(ps -eo args | grep -c '^C:\\windows\\')
  if [ "$now" -eq "$last" ]; then same=$((same + 1)); else same=0 last=$now; fi
  polls=$((polls + 1))
  sleep 0.5
done
echo "Wine's session: $last Windows processes after $polls polls"
