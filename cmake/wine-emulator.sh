#!/bin/sh
# Runs a Windows executable under Wine in the project's prefix for its architecture.
# Usage: wine-emulator.sh ARCH BUILD_DIR program [arguments...]
# A persistent wineserver and an already started Wine session keep CTest from waiting on Wine's
# background processes, which would otherwise inherit the test's output pipe.
. "$(dirname "$0")/wine-env.sh"
quil_wine_env "$1" "$2" || exit 1
shift 2
# Tests started together must not both start the session: the one that lost the race would own
# Wine's background processes and with them its output pipe. Those processes outlive the start,
# so they must not inherit the lock's descriptor either, or they would hold the lock for good.
# wineserver exits with status 2 when a server already runs for the prefix; otherwise it has
# just started one, and the session's background processes start with it.
(
  flock 9
  if "$WINESERVER" -p </dev/null >/dev/null 2>&1 9>&-; then
    "$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX/.quillon-session.lock"
exec "$WINELOADER" "$@"
