#!/usr/bin/env bash
# Main job: builds the four deliverables for 32-bit x86 and for x64 Windows and shows, for each,
# its path, PE format, machine type, imports and exports, then builds the server and client
# installer packages of each architecture, and runs a whole printing session with them
# (scripts/e2e.sh). Fails if a binary is not of its architecture, imports anything but system
# DLLs, or lacks a name that its .def file exports, or if the session fails its checks.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages

# DLLs that come with Windows itself; anything else (libgcc, libstdc++, winpthread) must be linked in.
SYSTEM_DLLS='^((kernel32|user32|gdi32|advapi32|wtsapi32|msvcrt|ole32|shell32|shlwapi)\.dll|winspool\.drv)$'
# Each deliverable with the .def file that names its exports (none for the service).
BINARIES=(service/QuillonService.exe: notify/QuillonNotify.dll:notify/QuillonNotify.def
  portmonitor/QPortMonitor.dll:portmonitor/QPortMonitor.def client/QuillonClient.dll:client/QuillonClient.def)

# check_binary ARCH PATH DEF: prints the binary's headers; returns 1 on a fault.
check_binary() {
  local arch="$1" path="$2" def="$3" status=0
  local want_format want_magic want_machine
  case "$arch" in
    i686) want_format=pei-i386 want_magic='(PE32)' want_machine=0x014c ;;
    x86_64) want_format=pei-x86-64 want_magic='(PE32+)' want_machine=0x8664 ;;
  esac
  local headers format magic lfanew machine imports exports
  headers="$("$arch-w64-mingw32-objdump" -p "$path")"
  format="$("$arch-w64-mingw32-objdump" -f "$path" | sed -n 's/.*file format //p')"
  magic="$(sed -n 's/^Magic[[:space:]]*[0-9a-f]*[[:space:]]*//p' <<<"$headers")"
  # The COFF header's machine field follows the "PE\0\0" signature that e_lfanew (at 0x3c) locates.
  lfanew="$(od -An -tu4 -j60 -N4 "$path" | tr -d ' ')"
  machine="0x$(od -An -tx2 -j$((lfanew + 4)) -N2 "$path" | tr -d ' ')"
  imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '\n' ' ')"
  exports="$(awk '/\[Ordinal\/Name Pointer\] Table/{table=1; next} table && /^\t\[/{print $NF} table && !/^\t\[/{table=0}' \
    <<<"$headers" | tr '\n' ' ')"
  echo "$path"
  echo "  format:  $format $magic"
  echo "  machine: $machine ($want_format)"
  echo "  imports: $imports"
  echo "  exports: ${exports:-(none)}"
  if [ "$format" != "$want_format" ] || [ "$magic" != "$want_magic" ] || [ "$machine" != "$want_machine" ]; then
    echo "  ERROR: not a $want_format $want_magic PE of machine $want_machine"
    status=1
  fi
  for dll in $imports; do
    if ! tr 'A-Z' 'a-z' <<<"$dll" | grep -Eq "$SYSTEM_DLLS"; then echo "  ERROR: imports $dll"; status=1; fi
  done
  if [ -n "$def" ]; then
    for name in $(sed -n 's/^[[:space:]]\+\([A-Za-z_][A-Za-z_0-9]*\).*/\1/p' "$ROOT/$def"); do
      grep -qw -- "$name" <<<"$exports" || { echo "  ERROR: does not export $name"; status=1; }
    done
  fi
  return $status
}

status=0
for arch in "${ARCHES[@]}"; do
  log "$arch deliverables"
  build_windows "$arch" "$BUILD/release-$arch" OFF Release QuillonService QuillonNotify QPortMonitor QuillonClient
done
for arch in "${ARCHES[@]}"; do
  log "$arch deliverables: $BUILD/release-$arch"
  for entry in "${BINARIES[@]}"; do
    check_binary "$arch" "$BUILD/release-$arch/${entry%%:*}" "${entry#*:}" || status=1
  done
done
log "Windows Installer packages: $BUILD/packages"
for arch in "${ARCHES[@]}"; do
  bash "$ROOT/installer/build-packages.sh" "$arch" "$BUILD/release-$arch" "$BUILD/packages" || status=1
done

# The whole session, with the packages above and the simulated platform's programs of each
# architecture's test build: x86 on both sides and a 64-bit server with 32-bit clients where this
# machine runs both, else x64 on both sides.
E2E_PROGRAMS=(quil_server_host quil_e2e_client quil_e2e_direct quil_e2e_document)
runs=()
if wine_runs i686 && wine_runs x86_64; then
  runs=("i686 i686" "x86_64 i686")
else
  wine_runs x86_64 || { echo "ERROR: this machine runs no Wine at all: no session can run" >&2; exit 1; }
  log "32-bit Wine cannot run here: the session runs with x64 on the server and on the clients"
  runs=("x86_64 x86_64")
fi
for run in "${runs[@]}"; do
  read -r server client <<<"$run"
  for arch in $(printf '%s\n' "$server" "$client" | sort -u); do
    build_windows "$arch" "$BUILD/$arch" ON Debug "${E2E_PROGRAMS[@]}" >/dev/null
  done
  log "session: $server server, $client client computers"
  bash "$ROOT/scripts/e2e.sh" "$server" "$BUILD/$server" "$client" "$BUILD/$client" "$BUILD/packages" \
    "$BUILD/e2e-$server-$client" || status=1
done
exit $status
