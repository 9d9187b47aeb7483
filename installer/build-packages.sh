#!/usr/bin/env bash
# Builds the two Windows Installer packages of one architecture with wixl, then adds with msibuild
# what wixl 0.101 cannot write.
# Usage: build-packages.sh ARCH BINARY_DIR OUT_DIR [PRODUCT_VERSION]
#   ARCH: i686 or x86_64; BINARY_DIR: a Windows build folder of that architecture.
#   PRODUCT_VERSION: the packages' version, by default the build's (BINARY_DIR/quillon-version.txt);
#   the files keep the build's version, which their version resources carry.
# Writes OUT_DIR/QuillonServer-A.msi and OUT_DIR/QuillonClient-A.msi (A: x86 or x64).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
arch="$1" bin="$2" out="$(realpath -m "$3")"
build_version="$(cat "$bin/quillon-version.txt")"
version="${4:-$build_version}"
case "$arch" in
  i686) msi_arch=x86 system='[SystemFolder]' spool=w32x86 ;;
  x86_64) msi_arch=x64 system='[System64Folder]' spool=x64 ;;
  *) echo "unknown architecture '$arch'" >&2; exit 1 ;;
esac
# Where Windows keeps Unidrv's files: the spooler's copies of the drivers it has installed, and,
# on a server where no Unidrv-based driver was ever installed, the driver store, two levels down
# (ntprint.inf_ARCH_HASH\ARCH\).
unidrv_folder="${system}spool\\drivers\\$spool\\3"
driver_store="${system}DriverStore\\FileRepository"
# Unidrv's files, which Windows provides; the package copies them beside QuillonNotify.dll.
UNIDRV_FILES=(unidrv.dll unidrvui.dll unires.dll unidrv.hlp stdnames.gpd)
# Custom action type bits: 17 calls a DLL that the package installs (Source: its File key, Target:
# the export); 34 runs a program (Source: the folder to run it in, Target: its command line); 1024
# defers it to the installation script, which runs after the files are in place; 256 with 1024
# runs it only when the installation is rolled back; 64 ignores its result; 2048 runs it as the
# local system account instead of the installing user.
DLL_IN_FILE=17 PROGRAM=34 DEFERRED=1024 ROLLBACK=256 IGNORE_RESULT=64 NO_IMPERSONATE=2048
# The upgrade row's attributes: the older product's feature states carry over (1), and both ends
# of its version range count (256, 512), so that another build of the same version is replaced.
MIGRATE_FEATURES=1 MIN_INCLUSIVE=256 MAX_INCLUSIVE=512

# wixl takes the File sources relative to the working folder: gather them in one.
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$bin"/service/QuillonService.exe "$bin"/notify/QuillonNotify.dll "$bin"/portmonitor/QPortMonitor.dll \
  "$bin"/client/QuillonClient.dll "$here"/../notify/driver/emf.gpd "$stage"
mkdir -p "$out"

# build NAME DEFINES...: runs wixl on NAME.wxs into OUT_DIR/NAME-A.msi, then gives the upgrade
# row the attributes that wixl does not write (they belong to the row's key: the row is written
# anew) and each binary the version of its resource, which Windows Installer's file rules compare.
build() {
  local name="$1" msi="$out/$1-$msi_arch.msi" file
  shift
  (cd "$stage" && wixl -a "$msi_arch" -D Arch="$msi_arch" -D Version="$version" "$@" -o "$msi" "$here/$name.wxs")
  local upgrade_code
  upgrade_code="$(msiinfo export "$msi" Upgrade | tr -d '\r' | awk -F '\t' '$NF == "QUIL_OLDER" {print $1}')"
  local queries=(-q "DELETE FROM Upgrade WHERE ActionProperty = 'QUIL_OLDER'"
    -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty)
        VALUES ('$upgrade_code', '0.0.0', '$version', $((MIGRATE_FEATURES + MIN_INCLUSIVE + MAX_INCLUSIVE)),
        'QUIL_OLDER')")
  for file in QuillonService.exe QuillonNotify.dll QPortMonitor.dll QuillonClient.dll; do
    queries+=(-q "UPDATE File SET Version = '$build_version.0', Language = '1033' WHERE File = '$file'")
  done
  msibuild "$msi" "${queries[@]}"
}

# call_installed_dll MSI FILE_KEY ACTION EXTRA_BITS: makes the placeholder ACTION a deferred call
# of the installed file FILE_KEY; Target keeps the export that it names. An action whose name ends
# in Rollback runs only when the installation is rolled back, and its result is ignored. wixl
# cannot write such an action (its CustomAction FileKey fails), and a DLL from the Binary table
# would run from a temporary folder, away from the files installed beside it.
call_installed_dll() {
  local bits=$((DLL_IN_FILE + DEFERRED + $4))
  [[ "$3" == *Rollback ]] && bits=$((bits + ROLLBACK + IGNORE_RESULT))
  msibuild "$1" -q "UPDATE CustomAction SET Type = $bits, Source = '$2' WHERE Action = '$3'"
}

server="$out/QuillonServer-$msi_arch.msi"
build QuillonServer -D UnidrvFolder="$unidrv_folder" -D DriverStore="$driver_store"
for action in QuilInstall QuilRollback QuilUninstall QuilUninstallRollback; do
  call_installed_dll "$server" QuillonNotify.dll $action $NO_IMPERSONATE
done
# The service control manager restarts the service 5 seconds after a failure, the third time
# after a minute, and counts failures afresh after a day without one.
msibuild "$server" -q "UPDATE CustomAction SET Type = $((PROGRAM + DEFERRED + NO_IMPERSONATE)),
    Source = '${system:1:-1}',
    Target = '\"${system}sc.exe\" failure QuillonService reset= 86400 actions= restart/5000/restart/5000/restart/60000'
    WHERE Action = 'QuilServiceRecovery'"
# For each Unidrv file: two searches, one in the spooler's folder (signature FILE) and one in the
# driver store (FILE.store), each of which sets the property UNIDRV_DLL (and so on) to the file's
# path where it finds it; a copy into the installation folder (MoveFile Options 0; without a
# SourceName the property holds the whole source path); its removal there when the package is
# removed (RemoveFile InstallMode 2). Both belong to the component of QuillonNotify.dll.
queries=(-q "CREATE TABLE DrLocator (Signature_ CHAR(72) NOT NULL, Parent CHAR(72), Path CHAR(255),
    Depth SHORT PRIMARY KEY Signature_, Parent, Path)"
  -q "CREATE TABLE MoveFile (FileKey CHAR(72) NOT NULL, Component_ CHAR(72) NOT NULL,
    SourceName CHAR(255) LOCALIZABLE, DestName CHAR(255) LOCALIZABLE, SourceFolder CHAR(72),
    DestFolder CHAR(72) NOT NULL, Options SHORT NOT NULL PRIMARY KEY FileKey)")
for file in "${UNIDRV_FILES[@]}"; do
  property="$(tr a-z. A-Z_ <<<"$file")"
  queries+=(-q "INSERT INTO Signature (Signature, FileName) VALUES ('$file', '$file')"
    -q "INSERT INTO DrLocator (Signature_, Path, Depth) VALUES ('$file', '$unidrv_folder', 0)"
    -q "INSERT INTO AppSearch (Property, Signature_) VALUES ('$property', '$file')"
    -q "INSERT INTO Signature (Signature, FileName) VALUES ('$file.store', '$file')"
    -q "INSERT INTO DrLocator (Signature_, Path, Depth) VALUES ('$file.store', '$driver_store', 2)"
    -q "INSERT INTO AppSearch (Property, Signature_) VALUES ('$property', '$file.store')"
    -q "INSERT INTO MoveFile (FileKey, Component_, DestName, SourceFolder, DestFolder, Options)
        VALUES ('$file', 'Notify', '$file', '$property', 'INSTALLDIR', 0)"
    -q "INSERT INTO RemoveFile (FileKey, Component_, FileName, DirProperty, InstallMode)
        VALUES ('$file', 'Notify', '$file', 'INSTALLDIR', 2)")
done
msibuild "$server" "${queries[@]}"

client="$out/QuillonClient-$msi_arch.msi"
build QuillonClient
# Install and Uninstall run as the installing user, whose hive they change; the Active Setup
# component is the machine's.
for action in QuilInstall QuilRollback QuilUninstall QuilUninstallRollback; do
  call_installed_dll "$client" QuillonClient.dll $action 0
done
for action in QuilEveryUserInstall QuilEveryUserRollback QuilEveryUserUninstall QuilEveryUserUninstallRollback; do
  call_installed_dll "$client" QuillonClient.dll $action $NO_IMPERSONATE
done
echo "$server"
echo "$client"
