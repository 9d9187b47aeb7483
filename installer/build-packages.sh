#!/usr/bin/env bash
# Builds the two Windows Installer packages of one architecture with wixl, then adds with msibuild
# what wixl 0.101 cannot write.
# Usage: build-packages.sh ARCH BINARY_DIR OUT_DIR
#   ARCH: i686 or x86_64; BINARY_DIR: a Windows build folder of that architecture.
# Writes OUT_DIR/QuillonServer-A.msi and OUT_DIR/QuillonClient-A.msi (A: x86 or x64).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
arch="$1" bin="$2" out="$(realpath -m "$3")"
case "$arch" in
  i686) msi_arch=x86 unidrv_folder='[SystemFolder]spool\drivers\w32x86\3' ;;
  x86_64) msi_arch=x64 unidrv_folder='[System64Folder]spool\drivers\x64\3' ;;
  *) echo "unknown architecture '$arch'" >&2; exit 1 ;;
esac
# Unidrv's files, which Windows provides; the package copies them beside QuillonNotify.dll.
UNIDRV_FILES=(unidrv.dll unidrvui.dll unires.dll unidrv.hlp stdnames.gpd)
# Custom action type bits: 17 calls a DLL that the package installs (Source: its File key, Target:
# the export); 1024 defers it to the installation script, which runs after the files are in place;
# 256 with 1024 runs it only when the installation is rolled back; 64 ignores its result; 2048 runs
# it as the local system account instead of the installing user.
DLL_IN_FILE=17 DEFERRED=1024 ROLLBACK=256 IGNORE_RESULT=64 NO_IMPERSONATE=2048

# wixl takes the File sources relative to the working folder: gather them in one.
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$bin"/service/QuillonService.exe "$bin"/notify/QuillonNotify.dll "$bin"/portmonitor/QPortMonitor.dll \
  "$bin"/client/QuillonClient.dll "$here"/../notify/driver/emf.gpd "$stage"
mkdir -p "$out"

# build NAME DEFINES...: runs wixl on NAME.wxs into OUT_DIR/NAME-A.msi.
build() {
  local name="$1"
  shift
  (cd "$stage" && wixl -a "$msi_arch" -D Arch="$msi_arch" "$@" -o "$out/$name-$msi_arch.msi" "$here/$name.wxs")
}

# call_installed_dll MSI FILE_KEY EXTRA_BITS: makes the placeholders QuilInstall, QuilRollback and
# QuilUninstall calls of the installed file FILE_KEY; Target keeps the export that each names.
# wixl cannot write such an action (its CustomAction FileKey fails), and a DLL from the Binary
# table would run from a temporary folder, away from the files installed beside it.
call_installed_dll() {
  local base=$((DLL_IN_FILE + DEFERRED + $3))
  msibuild "$1" -q "UPDATE CustomAction SET Type = $base, Source = '$2' WHERE Action = 'QuilInstall'" \
    -q "UPDATE CustomAction SET Type = $base, Source = '$2' WHERE Action = 'QuilUninstall'" \
    -q "UPDATE CustomAction SET Type = $((base + ROLLBACK + IGNORE_RESULT)), Source = '$2'
        WHERE Action = 'QuilRollback'"
}

server="$out/QuillonServer-$msi_arch.msi"
build QuillonServer -D UnidrvFolder="$unidrv_folder"
call_installed_dll "$server" QuillonNotify.dll $NO_IMPERSONATE
# For each Unidrv file: a search in UnidrvFolder that sets the property UNIDRV_DLL (and so on) to
# its path; a copy into the installation folder (MoveFile Options 0; without a SourceName the
# property holds the whole source path); its removal there when the package is removed
# (RemoveFile InstallMode 2). Both belong to the component of QuillonNotify.dll.
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
    -q "INSERT INTO MoveFile (FileKey, Component_, DestName, SourceFolder, DestFolder, Options)
        VALUES ('$file', 'Notify', '$file', '$property', 'INSTALLDIR', 0)"
    -q "INSERT INTO RemoveFile (FileKey, Component_, FileName, DirProperty, InstallMode)
        VALUES ('$file', 'Notify', '$file', 'INSTALLDIR', 2)")
done
msibuild "$server" "${queries[@]}"

client="$out/QuillonClient-$msi_arch.msi"
build QuillonClient
# The client's actions run as the installing user: the add-in is registered in that user's hive.
call_installed_dll "$client" QuillonClient.dll 0
echo "$server"
echo "$client"
