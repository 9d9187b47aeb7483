# Shared set-up for the project's scripts: packages, the Wine prefixes, and the builds.
# Every step is idempotent, so the scripts can run on a fresh Debian machine or a prepared one.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(realpath -m "${QUIL_BUILD_DIR:-$ROOT/build}")"  # Wine takes absolute prefixes only
JOBS="$(nproc)"
# The two Windows architectures: 32-bit x86 and x64. Build folders and Wine prefixes are per
# architecture: build/ARCH (tests), build/release-ARCH (deliverables), build/wineprefix-ARCH.
ARCHES=(i686 x86_64)
source "$ROOT/cmake/wine-env.sh"

PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64 wine wine32:i386 wine64 googletest cmake ninja-build ghostscript clang
  libclang-rt-14-dev wixl msitools imagemagick libz-mingw-w64-dev zlib1g-dev)

log() { printf '== %s\n' "$*"; }

ensure_packages() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  log "installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "installing packages needs root: run this script as root" >&2
    exit 1
  fi
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  # A mirror in the middle of a sync fails the update now and then: try again, and go on with the
  # indexes that did arrive (the install below fails plainly if a package is still missing).
  local attempt
  for attempt in 1 2 3; do
    apt-get update -qq && break
    [ "$attempt" -lt 3 ] && sleep 20
  done
  # wine32's triggers try to run 32-bit helpers, which fail on a kernel without 32-bit user mode;
  # the packages are installed all the same, and whether 32-bit Wine runs is tried later.
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null && return
  # Without the i386 index (a mirror mid-sync) wine32 cannot be installed: install the rest, so
  # that 64-bit Wine runs; the i686 suite is then skipped with the reason in the summary.
  local rest=()
  for package in "${missing[@]}"; do
    [ "$package" = wine32:i386 ] || rest+=("$package")
  done
  log "wine32:i386 cannot be installed from this mirror now: installing the other packages"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${rest[@]}" >/dev/null
}

# wine_runs ARCH: whether this machine can run ARCH's Wine, found by starting its loader. On a
# kernel without 32-bit user mode the 32-bit loader fails with "Exec format error". Sets
# WINE_FAILURE to what the attempt printed.
wine_runs() {
  local output
  quil_wine_env "$1" "$BUILD"
  if [ ! -x "$WINELOADER" ]; then
    WINE_FAILURE="its loader $WINELOADER is not installed"
    return 1
  fi
  if output="$("$WINELOADER" --version 2>&1)"; then
    WINE_FAILURE=""
    return 0
  fi
  WINE_FAILURE="$(tail -n 1 <<<"$output" | sed "s/^.*: line [0-9]*: //")"
  return 1
}

ensure_wine_prefix() {
  quil_wine_env "$1" "$BUILD"
  [ -f "$WINEPREFIX/system.reg" ] && return
  log "creating the $WINEARCH Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  if ! "$WINELOADER" wineboot -i >/dev/null 2>&1 || ! "$WINESERVER" -w || [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX failed" >&2
    return 1
  fi
}

# build_windows ARCH DIR TESTS(ON|OFF) BUILD_TYPE [targets...]
build_windows() {
  local arch="$1" dir="$2" tests="$3" type="$4"
  shift 4
  cmake --no-warn-unused-cli -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE="$type" -DQUIL_BUILD_TESTS="$tests" >/dev/null
  cmake --build "$dir" -j "$JOBS" ${1:+--target "$@"}
}
