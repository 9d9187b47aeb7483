#!/usr/bin/env bash
# Main job: builds the four deliverables and shows, for each, its path, machine type, imports and
# exports. Fails if one is not a 32-bit x86 PE or imports anything but system DLLs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages
build_windows "$BUILD/release" OFF Release QuillonService QuillonNotify QPortMonitor QuillonClient

# DLLs that come with Windows itself; anything else (libgcc, libstdc++, winpthread) must be linked in.
SYSTEM_DLLS='^((kernel32|user32|gdi32|advapi32|wtsapi32|msvcrt|ole32|shell32|shlwapi)\.dll|winspool\.drv)$'
status=0
for binary in service/QuillonService.exe notify/QuillonNotify.dll portmonitor/QPortMonitor.dll \
  client/QuillonClient.dll; do
  path="$BUILD/release/$binary"
  headers="$(i686-w64-mingw32-objdump -p "$path")"
  format="$(i686-w64-mingw32-objdump -f "$path" | sed -n 's/.*file format //p')"
  magic="$(sed -n 's/^Magic[[:space:]]*[0-9a-f]*[[:space:]]*//p' <<<"$headers")"
  # The COFF header's machine field follows the "PE\0\0" signature that e_lfanew (at 0x3c) locates.
  lfanew="$(od -An -tu4 -j60 -N4 "$path" | tr -d ' ')"
  machine="0x$(od -An -tx2 -j$((lfanew + 4)) -N2 "$path" | tr -d ' ')"
  imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '\n' ' ')"
  exports="$(awk '/\[Ordinal\/Name Pointer\] Table/{table=1; next} table && /^\t\[/{print $NF} table && !/^\t\[/{table=0}' \
    <<<"$headers" | tr '\n' ' ')"
  echo "$path"
  echo "  format:  $format $magic"
  echo "  machine: $machine$([ "$machine" = 0x014c ] && echo ' (i386)')"
  echo "  imports: $imports"
  echo "  exports: ${exports:-(none)}"
  if [ "$format" != "pei-i386" ] || [ "$magic" != "(PE32)" ] || [ "$machine" != 0x014c ]; then echo "  ERROR: not a 32-bit x86 PE"; status=1; fi
  for dll in $imports; do
    if ! tr 'A-Z' 'a-z' <<<"$dll" | grep -Eq "$SYSTEM_DLLS"; then echo "  ERROR: imports $dll"; status=1; fi
  done
done
exit $status
