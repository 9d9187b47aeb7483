#!/usr/bin/env bash
# Builds the server and client packages from one Windows build's binaries, installs and removes
# them with Wine's msiexec in that architecture's prefix, and checks after each step the spooler's
# registrations, the service, the files and the add-in's registration. Wine has no Unidrv: the
# test puts stand-in files where Windows keeps Unidrv's. It leaves the prefix as it found it.
# Usage: msi-test.sh ARCH BINARY_DIR PREFIX_ROOT   (PREFIX_ROOT holds wineprefix-ARCH)
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
arch="$1" bin="$2" prefixes="$(realpath "$3")"  # Wine takes absolute prefixes only
source "$root/cmake/wine-env.sh"
quil_wine_env "$arch" "$prefixes" || exit 1
case "$arch" in
  i686) msi_arch=x86 environment='Windows NT x86' spool=w32x86 ;;
  x86_64) msi_arch=x64 environment='Windows x64' spool=x64 ;;
esac

system="$WINEPREFIX/drive_c/windows/system32"
# The spooler's driver directory: Install copies the driver's files there, the spooler keeps its
# own copies in 3/, where Windows also keeps Unidrv's files.
drivers="$system/spool/drivers/$spool"
server_dir="$WINEPREFIX/drive_c/Program Files/Quillon"
client_dir="$WINEPREFIX/drive_c/Program Files/Quillon Client"
print='HKLM\System\CurrentControlSet\Control\Print'
monitor_key="$print\\Monitors\\Quillon Port"
driver_key="$print\\Environments\\$environment\\Drivers\\Version-3\\Quillon Driver v.0.1"
addin_key='HKCU\Software\Microsoft\Terminal Server Client\Default\AddIns\Quillon'
unidrv_files=(unidrv.dll unidrvui.dll unires.dll unidrv.hlp stdnames.gpd)
driver_files=("${unidrv_files[@]}" emf.gpd)
# Files of the prefix that the test and the packages replace: put aside first, put back at the end.
replaced=("$system/QPortMonitor.dll" "${driver_files[@]/#/$drivers/}" "${driver_files[@]/#/$drivers/3/}")
# msiexec's exit code reaches Linux modulo 256: ERROR_INSTALL_FAILURE (1603) arrives as 67.
INSTALL_FAILURE=67

# Wine programs run through the project's launcher (one server and session for the prefix), each
# bounded in time.
wine() { timeout 120 "$root/cmake/wine-emulator.sh" "$arch" "$prefixes" "$@" </dev/null 2>/dev/null; }
msi() { wine msiexec "$1" "Z:${2//\//\\}" /qn; }

# Quillon products that Windows Installer has registered, by product code.
installed_products() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' |
    awk '/^HKEY/ {product = $0; sub(/.*\\/, "", product)} /^ +DisplayName +REG_SZ +Quillon / {print product}'
}

# Removes what the packages leave, also after an interrupted run: installed Quillon products, and
# the monitor, driver and add-in registrations that Install leaves where an installation failed.
clean() {
  for product in $(installed_products); do wine msiexec /x "$product" /qn; done
  for key in "$monitor_key" "$driver_key" "$addin_key"; do wine reg delete "$key" /f >/dev/null; done
}

work="$(mktemp -d)"
finish() {
  clean
  for i in "${!replaced[@]}"; do
    rm -rf "${replaced[$i]}"
    [ -e "$work/saved-$i" ] && mv "$work/saved-$i" "${replaced[$i]}"
  done
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM

clean
for i in "${!replaced[@]}"; do
  [ -e "${replaced[$i]}" ] && mv "${replaced[$i]}" "$work/saved-$i"
done
mkdir -p "$drivers/3"
for file in "${unidrv_files[@]}"; do echo "stand-in $file" >"$drivers/3/$file"; done
bash "$root/installer/build-packages.sh" "$arch" "$bin" "$work" >/dev/null || exit 1
server="$work/QuillonServer-$msi_arch.msi"
client="$work/QuillonClient-$msi_arch.msi"

failures=0
# check WHAT COMMAND...: runs COMMAND and reports the outcome under WHAT.
check() {
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
exits() {
  local want="$1" got=0
  shift
  "$@" || got=$?
  [ "$got" -eq "$want" ] || { echo "  exit code $got, expected $want"; return 1; }
}
has_key() { wine reg query "$1" >/dev/null; }
no_key() { ! has_key "$1"; }
files_in() {
  local folder="$1" file
  shift
  for file; do [ -f "$folder/$file" ] || { echo "  missing: $folder/$file"; return 1; }; done
}
none_in() {
  local folder="$1" file
  shift
  for file; do [ ! -e "$folder/$file" ] || { echo "  left: $folder/$file"; return 1; }; done
}
no_folder() { [ ! -e "$1" ] || { echo "  left: $1"; ls -A "$1"; return 1; }; }
service_running() { wine sc query QuillonService | grep -q RUNNING; }
no_service() { ! wine sc query QuillonService >/dev/null; }
addin_registered() {
  wine reg query "$addin_key" /v Name | grep -qF 'C:\Program Files\Quillon Client\QuillonClient.dll'
}
# Nothing of the server package: no monitor, driver, service or installed file.
no_server() {
  no_key "$monitor_key" && no_key "$driver_key" && no_service && no_folder "$server_dir" &&
    none_in "$drivers" "${driver_files[@]}"
}

echo "== server package without one of Unidrv's files: stopped by the launch condition"
mv "$drivers/3/unires.dll" "$work/unires.dll"
check "msiexec fails" exits $INSTALL_FAILURE msi /i "$server"
check "nothing installed" no_server
check "port monitor not in the system folder" none_in "$system" QPortMonitor.dll
mv "$work/unires.dll" "$drivers/3/unires.dll"

echo "== server package installed"
check "msiexec succeeds" exits 0 msi /i "$server"
check "service runs" service_running
check "port monitor registered" has_key "$monitor_key"
check "port monitor in the system folder" files_in "$system" QPortMonitor.dll
check "driver registered" has_key "$driver_key"
check "installation folder holds the service, the library and the driver files" \
  files_in "$server_dir" QuillonService.exe QuillonNotify.dll "${driver_files[@]}"
check "Install copied the driver files into the driver directory" files_in "$drivers" "${driver_files[@]}"
check "spooler keeps its copies" files_in "$drivers/3" "${driver_files[@]}"

echo "== server package removed"
check "msiexec succeeds" exits 0 msi /x "$server"
check "monitor, driver, service and files gone" no_server
check "port monitor gone from the system folder" none_in "$system" QPortMonitor.dll
check "Windows' own Unidrv files stay" files_in "$drivers/3" "${unidrv_files[@]}"

echo "== server package whose Install fails: a folder stands where Install copies emf.gpd"
mkdir "$drivers/emf.gpd"
check "msiexec fails" exits $INSTALL_FAILURE msi /i "$server"
check "service rolled back" no_service
check "installation folder rolled back" no_folder "$server_dir"
check "driver not registered" no_key "$driver_key"
# Install registers the monitor before it adds the driver, and the rollback leaves the registration.
check "port monitor registration remains" has_key "$monitor_key"
rmdir "$drivers/emf.gpd"
echo "== clearing it as an administrator does: install again, then remove"
check "msiexec install succeeds" exits 0 msi /i "$server"
check "msiexec removal succeeds" exits 0 msi /x "$server"
check "nothing remains" no_server
check "port monitor gone from the system folder" none_in "$system" QPortMonitor.dll

echo "== client package installed"
check "msiexec succeeds" exits 0 msi /i "$client"
check "add-in registered with its installed path" addin_registered
echo "== client package removed"
check "msiexec succeeds" exits 0 msi /x "$client"
check "add-in registration gone" no_key "$addin_key"
check "installation folder gone" no_folder "$client_dir"

echo "$failures failed checks"
[ "$failures" -eq 0 ]
