#!/bin/sh
# Runs a Windows executable under Wine in the project's prefix. A persistent wineserver and an
# already started Wine session keep CTest from waiting on Wine's background processes, which
# would otherwise inherit the test's output pipe.
: "${WINEPREFIX:?WINEPREFIX must name the project's Wine prefix}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
socket="/tmp/.wine-$(id -u)/$(stat -c 'server-%d-%i' "$WINEPREFIX" | awk -F- '{printf "server-%x-%x", $2, $3}')/socket"
# Tests started together must not both start the session: the one that lost the race would own
# Wine's background processes and with them its output pipe. Those processes outlive the start,
# so they must not inherit the lock's descriptor either, or they would hold the lock for good.
(
  flock 9
  if [ ! -S "$socket" ]; then
    wineserver -p </dev/null >/dev/null 2>&1 9>&-
    wine cmd /c exit </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX/.quillon-session.lock"
exec wine "$@"
