#!/usr/bin/env bash
# Builds the server and client packages from one Windows build's binaries, installs, upgrades,
# repairs and removes them with Wine's msiexec in that architecture's prefix, and checks after each
# step the spooler's registrations, the service, the files, the installed products and the add-in's
# registrations. The older build is the same binaries packaged under an older version. Wine has no
# Unidrv: the test puts stand-in files where Windows keeps Unidrv's. It leaves the prefix as it
# found it.
# Usage: msi-test.sh ARCH BINARY_DIR PREFIX_ROOT   (PREFIX_ROOT holds wineprefix-ARCH)
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
arch="$1" bin="$2" prefixes="$(realpath "$3")"  # Wine takes absolute prefixes only
source "$root/cmake/wine-env.sh"
quil_wine_env "$arch" "$prefixes" || exit 1
case "$arch" in
  i686) msi_arch=x86 environment='Windows NT x86' spool=w32x86 store_arch=x86 store_folder=I386
    system_folder=SystemFolder ;;
  x86_64) msi_arch=x64 environment='Windows x64' spool=x64 store_arch=amd64 store_folder=Amd64
    system_folder=System64Folder ;;
esac
version="$(cat "$bin/quillon-version.txt")" older_version=0.0.1

system="$WINEPREFIX/drive_c/windows/system32"
# The spooler's driver directory: Install copies the driver's files there, the spooler keeps its
# own copies in 3/, where Windows also keeps Unidrv's files.
drivers="$system/spool/drivers/$spool"
server_dir="$WINEPREFIX/drive_c/Program Files/Quillon"
client_dir="$WINEPREFIX/drive_c/Program Files/Quillon Client"
# Where Windows keeps Unidrv's files on a server where no Unidrv-based driver was ever installed.
driver_store="$system/DriverStore/FileRepository"
store_files="$driver_store/ntprint.inf_${store_arch}_0123456789abcdef/$store_folder"
print='HKLM\System\CurrentControlSet\Control\Print'
monitor_key="$print\\Monitors\\Quillon Port"
driver_key="$print\\Environments\\$environment\\Drivers\\Version-3\\Quillon Driver v.0.1"
service_key='HKLM\System\CurrentControlSet\Services\QuillonService'
addin_key='HKCU\Software\Microsoft\Terminal Server Client\Default\AddIns\Quillon'
active_setup_key='HKLM\Software\Microsoft\Active Setup\Installed Components\{12BB279C-00CD-41B3-B1F2-C038BC46BDF3}'
unidrv_files=(unidrv.dll unidrvui.dll unires.dll unidrv.hlp stdnames.gpd)
driver_files=("${unidrv_files[@]}" emf.gpd)
# Files of the prefix that the test and the packages replace: put aside first, put back at the end.
replaced=("$system/QPortMonitor.dll" "${driver_files[@]/#/$drivers/}" "${driver_files[@]/#/$drivers/3/}"
  "$system/DriverStore")
# msiexec's exit code reaches Linux modulo 256: ERROR_INSTALL_FAILURE (1603) arrives as 67, and
# ERROR_FUNCTION_FAILED (1627), Wine's code for a removal whose custom action failed, as 91.
INSTALL_FAILURE=67 REMOVAL_FAILURE=91

# Wine programs run through the project's launcher (one server and session for the prefix), each
# bounded in time.
wine() { timeout "$(quil_wait_bound 120)" "$root/cmake/wine-emulator.sh" "$arch" "$prefixes" "$@" </dev/null 2>/dev/null; }
# msi OPTION PACKAGE [PROPERTY=VALUE...]: msiexec without questions.
msi() { wine msiexec "$1" "Z:${2//\//\\}" "${@:3}" /qn; }
# A repair of the installed product from its package, as msiexec /f does (Wine's msiexec takes /f
# only with a product code).
repair() { msi /i "$1" REINSTALL=ALL REINSTALLMODE=omus; }

# Quillon products that Windows Installer has registered: product code and version, one a line.
installed_products() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' |
    awk '/^HKEY/ {product = $0; sub(/.*\\/, "", product); quillon = 0}
         /^ +DisplayName +REG_SZ +Quillon / {quillon = 1}
         /^ +DisplayVersion +REG_SZ / && quillon {print product, $3}'
}

# Removes what the packages leave, also after an interrupted run: installed Quillon products, the
# monitor, driver and add-in registrations that Install leaves where an installation failed, and
# the Active Setup component that a removal leaves for each user's next logon.
clean() {
  local product version
  while read -r product version; do wine msiexec /x "$product" /qn; done < <(installed_products)
  for key in "$monitor_key" "$driver_key" "$addin_key" "$active_setup_key"; do wine reg delete "$key" /f >/dev/null; done
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
bash "$root/installer/build-packages.sh" "$arch" "$bin" "$work/older" "$older_version" >/dev/null || exit 1
server="$work/QuillonServer-$msi_arch.msi"
client="$work/QuillonClient-$msi_arch.msi"
older_server="$work/older/QuillonServer-$msi_arch.msi"
older_client="$work/older/QuillonClient-$msi_arch.msi"
# The server package with one more step of its removal, which fails when the property
# QUIL_TEST_FAILURE is set: a removal that breaks off after Uninstall, as a cancel does.
failing_server="$work/failing/QuillonServer-$msi_arch.msi"
mkdir -p "$work/failing" && cp "$server" "$failing_server"
msibuild "$failing_server" -q "INSERT INTO CustomAction (Action, Type, Source, Target)
    VALUES ('QuilTestFailure', 3106, '$system_folder', '\"[$system_folder]cmd.exe\" /c exit 1')" \
  -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence)
    VALUES ('QuilTestFailure', 'REMOVE=\"ALL\" AND QUIL_TEST_FAILURE', 3450)" || exit 1

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
# value KEY NAME: the data of a registry value.
value() { wine reg query "$1" /v "$2" | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
equals() { [ "$2" = "$3" ] || { echo "  $1: '$2', expected '$3'"; return 1; }; }
# products VERSION...: the installed Quillon products are one of each version given.
products() {
  local versions
  versions="$(installed_products | awk '{print $2}' | sort | xargs)"
  equals "installed products' versions" "$versions" "$*"
}
# A row of a package's table, as msiinfo exports it (columns separated by tabs).
has_row() {
  msiinfo export "$1" "$2" | tr -d '\r' | grep -qxP "$3" || { echo "  no row '$3' in $2"; return 1; }
}
# The server as installed: service running after the spooler, monitor and driver registered.
server_running() {
  service_running && has_key "$monitor_key" && has_key "$driver_key" &&
    equals "service dependencies" "$(value "$service_key" DependOnService)" Spooler
}
# Nothing of the server package: no monitor, driver, service or installed file.
no_server() {
  no_key "$monitor_key" && no_key "$driver_key" && no_service && no_folder "$server_dir" &&
    none_in "$drivers" "${driver_files[@]}"
}
# newer A B: the Active Setup version A is newer than B.
newer() {
  [ "$1" != "$2" ] && [ "$(printf '%s\n' "${1//,/.}" "${2//,/.}" | sort -V | tail -n 1)" = "${1//,/.}" ] ||
    { echo "  version $1, not newer than $2"; return 1; }
}
addin_registered() { equals "add-in" "$(value "$addin_key" Name)" 'C:\Program Files\Quillon Client\QuillonClient.dll'; }
# Runs the Active Setup component's command as Windows runs it at a user's next logon.
run_logon_command() {
  value "$active_setup_key" StubPath >"$WINEPREFIX/drive_c/logon.cmd" &&
    wine cmd /c 'C:\logon.cmd' >/dev/null
  local status=$?
  rm -f "$WINEPREFIX/drive_c/logon.cmd"
  return $status
}

echo "== server package without one of Unidrv's files: stopped by the launch condition"
mv "$drivers/3/unires.dll" "$work/unires.dll"
check "msiexec fails" exits $INSTALL_FAILURE msi /i "$server"
check "nothing installed" no_server
check "port monitor not in the system folder" none_in "$system" QPortMonitor.dll
mv "$work/unires.dll" "$drivers/3/unires.dll"

echo "== server package's tables"
# Every earlier build and another build of the same version are replaced (attributes 769: feature
# states carried over, both ends inclusive), a later one refuses this one; the older product is
# removed after InstallInitialize, within the installation.
check "upgrade" has_row "$server" Upgrade "\{[-0-9A-F]+\}\t0\.0\.0\t$version\t\t769\t\tQUIL_OLDER"
check "downgrade refused" has_row "$server" Upgrade "\{[-0-9A-F]+\}\t$version\t\t\t2\t\tQUIL_NEWER"
check "older product removed early" has_row "$server" InstallExecuteSequence "RemoveExistingProducts\t\t1510"
check "service depends on the spooler" has_row "$server" ServiceInstall "QuillonService\t.*\tSpooler\[~\]\[~\]\t.*"
check "service restarted after a failure" has_row "$server" CustomAction \
  'QuilServiceRecovery\t3106\t.*sc\.exe" failure QuillonService reset= 86400 actions= restart/5000/restart/5000/restart/60000\t'
check "no restart of Windows by itself" has_row "$server" Property "REBOOT\tReallySuppress"
check "files carry their version" has_row "$server" File "QPortMonitor\.dll\tPortMonitor\t.*\t$version\.0\t1033\t.*"

echo "== clean server, Unidrv's files only in the driver store: the older build installed"
mv "$drivers"/3/{unidrv.dll,unidrvui.dll,unires.dll,unidrv.hlp,stdnames.gpd} "$work"
mkdir -p "$store_files"
for file in "${unidrv_files[@]}"; do echo "stand-in $file from the driver store" >"$store_files/$file"; done
check "msiexec succeeds" exits 0 msi /i "$older_server"
check "one product, the older" products "$older_version"
check "service runs, monitor and driver registered" server_running
check "Unidrv's files taken from the driver store" \
  equals "unidrv.dll" "$(cat "$server_dir/unidrv.dll")" "stand-in unidrv.dll from the driver store"
mv "$work"/{unidrv.dll,unidrvui.dll,unires.dll,unidrv.hlp,stdnames.gpd} "$drivers/3"

echo "== the newer build installed over it"
check "msiexec succeeds" exits 0 msi /i "$server"
check "one product, the newer" products "$version"
check "service runs, monitor and driver registered" server_running
check "port monitor in the system folder" files_in "$system" QPortMonitor.dll
check "installation folder holds the service, the library and the driver files" \
  files_in "$server_dir" QuillonService.exe QuillonNotify.dll "${driver_files[@]}"
check "Install copied the driver files into the driver directory" files_in "$drivers" "${driver_files[@]}"
check "spooler keeps its copies" files_in "$drivers/3" "${driver_files[@]}"

echo "== the older build over the newer: refused"
check "msiexec fails" exits $INSTALL_FAILURE msi /i "$older_server"
check "the newer product stays" products "$version"

echo "== repaired after the driver was deleted"
wine reg delete "$driver_key" /f >/dev/null
check "msiexec succeeds" exits 0 repair "$server"
check "driver registered again, service runs" server_running

echo "== server package removed"
check "msiexec succeeds" exits 0 msi /x "$server"
check "no product" products
check "monitor, driver, service and files gone" no_server
check "port monitor gone from the system folder" none_in "$system" QPortMonitor.dll
check "Windows' own Unidrv files stay" files_in "$drivers/3" "${unidrv_files[@]}"

echo "== removed after an administrator deleted the driver"
check "msiexec install succeeds" exits 0 msi /i "$server"
wine reg delete "$driver_key" /f >/dev/null
check "msiexec removal succeeds" exits 0 msi /x "$server"
check "nothing remains" no_server

# Wine unregisters the product although it rolls the rest of the removal back: installing the
# package again registers it, and then it is removed.
echo "== a removal that breaks off after Uninstall: rolled back"
check "msiexec install succeeds" exits 0 msi /i "$failing_server"
check "msiexec removal fails" exits $REMOVAL_FAILURE msi /x "$failing_server" QUIL_TEST_FAILURE=1
check "service runs, monitor and driver registered again" server_running
check "installation folder back" files_in "$server_dir" QuillonService.exe QuillonNotify.dll "${driver_files[@]}"
check "msiexec install succeeds" exits 0 msi /i "$failing_server"
check "msiexec removal succeeds" exits 0 msi /x "$failing_server"
check "nothing remains" no_server

echo "== server package whose Install fails: a folder stands where Install copies emf.gpd"
mkdir "$drivers/emf.gpd"
check "msiexec fails" exits $INSTALL_FAILURE msi /i "$server"
check "service rolled back" no_service
check "installation folder rolled back" no_folder "$server_dir"
check "driver not registered" no_key "$driver_key"
# Install registers the monitor before it adds the driver. Wine removes the installed files before
# it runs the rollback action, whose Uninstall then cannot be loaded to remove the monitor.
check "port monitor registration remains" has_key "$monitor_key"
rmdir "$drivers/emf.gpd"
echo "== clearing it as an administrator does: install again, then remove"
check "msiexec install succeeds" exits 0 msi /i "$server"
check "msiexec removal succeeds" exits 0 msi /x "$server"
check "nothing remains" no_server
check "port monitor gone from the system folder" none_in "$system" QPortMonitor.dll

echo "== client package: the older build, then the newer over it"
check "msiexec succeeds" exits 0 msi /i "$older_client"
check "msiexec succeeds" exits 0 msi /i "$client"
check "one product, the newer" products "$version"
check "add-in registered for the installing user" addin_registered
wine reg delete "$addin_key" /f >/dev/null
check "another user's logon runs the component's command" run_logon_command
check "add-in registered for that user" addin_registered
installed_version="$(value "$active_setup_key" Version)"
echo "== client package removed"
check "msiexec succeeds" exits 0 msi /x "$client"
check "add-in registration of the removing user gone" no_key "$addin_key"
check "installation folder gone" no_folder "$client_dir"
wine reg add "$addin_key" /v Name /d 'C:\Program Files\Quillon Client\QuillonClient.dll' /f >/dev/null
check "the component is newer" newer "$(value "$active_setup_key" Version)" "$installed_version"
check "another user's logon runs the component's command" run_logon_command
check "add-in registration of that user gone" no_key "$addin_key"

echo "$failures failed checks"
[ "$failures" -eq 0 ]
