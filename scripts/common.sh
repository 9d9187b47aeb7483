# Shared set-up for the project's scripts: packages, the Wine prefix, and the builds.
# Every step is idempotent, so the scripts can run on a fresh Debian machine or a prepared one.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${QUIL_BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${QUIL_WINEPREFIX:-$BUILD/wineprefix}"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
JOBS="$(nproc)"

PACKAGES=(g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686 wine wine32:i386 googletest cmake
  ninja-build ghostscript clang libclang-rt-14-dev)

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
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

ensure_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return
  log "creating the 32-bit Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
}

# build_windows DIR TESTS(ON|OFF) BUILD_TYPE [targets...]
build_windows() {
  local dir="$1" tests="$2" type="$3"
  shift 3
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE="$type" -DQUIL_BUILD_TESTS="$tests" >/dev/null
  cmake --build "$dir" -j "$JOBS" ${1:+--target "$@"}
}
