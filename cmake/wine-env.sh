# Wine settings for one architecture's prefix, shared by the scripts and the test launcher.
# Usage: . wine-env.sh; quil_wine_env ARCH BUILD_DIR   (ARCH: i686 or x86_64)
# Each architecture has a prefix of its own under BUILD_DIR. Debian's /usr/bin/wine always picks
# the 32-bit loader when wine32 is installed, so each architecture names its loader itself; new
# Wine processes started from a test (a service, a copy of the test) find it through WINELOADER.
quil_wine_env() {
  export WINEPREFIX="$2/wineprefix-$1"
  case "$1" in
    i686) export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine ;;
    x86_64) export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
    *) echo "unknown architecture '$1'" >&2; return 1 ;;
  esac
  # One server for both: the 64-bit one also serves 32-bit processes and is preferred by Debian's.
  export WINESERVER=/usr/lib/wine/wineserver64
  [ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver32
  export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
}

# quil_wait_bound SECONDS: the bound of a wait for Wine, stretched on a slow machine by
# QUIL_TIME_FACTOR (a whole number from 1 to 100; the emulated x86 run sets it), as the tests'
# own waits are (tests/support/WaitBound.h).
quil_wait_bound() {
  case "${QUIL_TIME_FACTOR:-}" in
    [1-9] | [1-9][0-9] | 100) echo $(($1 * QUIL_TIME_FACTOR)) ;;
    *) echo "$1" ;;
  esac
}
