#!/usr/bin/env bash
# The emulated x86 machine, for hosts whose kernel cannot run 32-bit code (32-bit Wine fails there
# with "Exec format error"): a 64-bit Debian 12 guest with the i386 architecture and 32-bit Wine,
# run under qemu-system-x86_64 with TCG, so it needs neither KVM nor 32-bit support on the host.
#
#   x86-guest.sh build                 builds the guest into build/x86-guest unless it is there
#   x86-guest.sh run COMMAND [ARG...]  runs COMMAND in the guest as root, in the current folder
#   x86-guest.sh suite [CTEST ARG...]  runs the i686 Windows suite of build/i686 in the guest
#
# The guest sees the project's folder (and the build folder) at the same paths as the host, over
# 9p, writable; its disk is a throw-away snapshot and its /tmp a fresh tmpfs at every boot. The
# command's output goes to standard output as it runs; the exit status is the command's, 124 when
# QUIL_X86_GUEST_TIMEOUT (seconds, default 5400) ran out, 125 when the guest gave none. Everything
# runs 10 to 20 times slower than on a host that runs 32-bit code.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

GUEST="$BUILD/x86-guest"
# What the guest runs the x86 suite with: Wine as on a Debian host, CTest, and the tools that the
# suite's scripts call (ghostscript for the render comparisons, wixl and msitools for the
# packages, imagemagick for the end-to-end session's pictures). The rest boots the guest.
GUEST_PACKAGES=(wine wine32:i386 wine64 cmake ghostscript wixl msitools imagemagick
  linux-image-amd64 kmod iproute2 procps)
HOST_PACKAGES=(qemu-system-x86 qemu-utils debootstrap)
# Where the guest keeps its Wine prefix, made at the first boot and copied into place at each run.
GUEST_PREFIXES=/var/lib/quillon

# Retries a download that a mirror in the middle of a sync fails now and then.
retry() {
  local attempt
  for attempt in 1 2 3; do
    "$@" && return 0
    [ "$attempt" -lt 3 ] && sleep 20
  done
  return 1
}

# The first Debian mirror that the host's own sources name, else Debian's.
guest_mirror() {
  local mirror
  mirror="$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)"
  echo "${mirror:-http://deb.debian.org/debian}"
}

ensure_host_packages() {
  local missing=() package
  for package in "${HOST_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  log "installing ${missing[*]}"
  retry apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

unmount_chroot() {
  local mount
  for mount in var/cache/apt/archives dev/pts dev sys proc; do
    umount -l "$GUEST/root/$mount" 2>/dev/null || true
  done
}

# The guest's root file system, made in a chroot on the host. The guest takes its packages from one
# suite, bookworm, so that the amd64 and i386 builds of every library come in the same version (the
# security suite's i386 index lags behind its amd64 one at times), and through the host's package
# cache, which it also fills.
make_root() {
  local root="$GUEST/root" mirror
  mirror="$(guest_mirror)"
  unmount_chroot
  rm -rf "$root"
  retry debootstrap --variant=minbase --cache-dir=/var/cache/apt/archives bookworm "$root" "$mirror" >/dev/null ||
    { echo "debootstrap from $mirror failed" >&2; return 1; }
  rm -f "$root/etc/apt/sources.list.d/"*
  echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
  # No daemons start in the chroot.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod +x "$root/usr/sbin/policy-rc.d"
  # The kernel boots with its initramfs from outside the image; the initramfs needs only what
  # mounts the root file system from the virtio disk.
  mkdir -p "$root/etc/initramfs-tools/conf.d"
  printf 'MODULES=list\nCOMPRESS=gzip\n' >"$root/etc/initramfs-tools/conf.d/guest.conf"
  printf '%s\n' virtio_pci virtio_blk ext4 >"$root/etc/initramfs-tools/modules"
  echo x86-guest >"$root/etc/hostname"
  printf '127.0.0.1 localhost\n127.0.1.1 x86-guest\n' >"$root/etc/hosts"
  printf '/dev/vda / ext4 rw,noatime 0 1\n' >"$root/etc/fstab"

  trap unmount_chroot EXIT
  mount -t proc proc "$root/proc"
  mount -t sysfs sys "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount --bind /var/cache/apt/archives "$root/var/cache/apt/archives"
  # The i386 packages' maintainer scripts that run 32-bit programs fail in the chroot on a host
  # without 32-bit user mode; the first boot configures them again.
  chroot "$root" /bin/bash -c "
    set -e
    export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
    dpkg --add-architecture i386
    for attempt in 1 2 3; do apt-get update -qq && break; [ \$attempt -lt 3 ] && sleep 20; done
    for attempt in 1 2 3; do apt-get install -y -qq ${GUEST_PACKAGES[*]} >/dev/null && break
      [ \$attempt -lt 3 ] && sleep 20; done
    dpkg-query -W -f='\${Status}\n' ${GUEST_PACKAGES[*]} | grep -qv 'install ok installed' && exit 1
    exit 0"
  unmount_chroot
  trap - EXIT
  install -m 755 "$ROOT/scripts/x86-guest-init.sh" "$root/sbin/quil-guest-init"
  cp "$(ls "$root"/boot/vmlinuz-* | tail -n 1)" "$GUEST/vmlinuz"
  cp "$(ls "$root"/boot/initrd.img-* | tail -n 1)" "$GUEST/initrd.img"
}

# Builds the guest once: the root file system, its disk image, then a first boot that finishes the
# i386 packages' set-up and makes the 32-bit Wine prefix that every run starts from.
build_guest() {
  [ -f "$GUEST/ready" ] && return
  if [ "$(id -u)" -ne 0 ]; then
    echo "building the x86 guest needs root: run this script as root" >&2
    exit 1
  fi
  ensure_host_packages
  local started=$SECONDS
  log "building the x86 guest in $GUEST (once per machine)"
  mkdir -p "$GUEST"
  make_root
  rm -f "$GUEST/guest.img"
  mke2fs -q -t ext4 -L x86-guest -d "$GUEST/root" "$GUEST/guest.img" 12G
  rm -rf "$GUEST/root"
  QUIL_X86_GUEST_WRITABLE=1 run_in_guest bash -c "
    set -e
    dpkg --configure -a
    for package in libglib2.0-0:i386 libgdk-pixbuf-2.0-0:i386; do
      dpkg -s \$package >/dev/null 2>&1 || continue
      dpkg-reconfigure -f noninteractive \$package
    done
    source '$ROOT/scripts/common.sh'
    BUILD=$GUEST_PREFIXES ensure_wine_prefix i686" >"$GUEST/first-boot.log" 2>&1 ||
    { tail -n 20 "$GUEST/first-boot.log" >&2; echo "the x86 guest's first boot failed" >&2; return 1; }
  touch "$GUEST/ready"
  log "x86 guest built in $((SECONDS - started)) s"
}

# Shares: the project's folder and, if it lies elsewhere, the build folder.
guest_shares() {
  echo "$ROOT"
  case "$BUILD/" in "$ROOT"/*) ;; *) echo "$BUILD" ;; esac
}

run_in_guest() {
  local exchange started status shares=() share i=0
  mkdir -p "$GUEST"
  exchange="$(mktemp -d "$GUEST/run.XXXXXX")"
  printf 'cd %q 2>/dev/null || cd /\n' "$PWD" >"$exchange/command.sh"
  printf '%q ' "$@" >>"$exchange/command.sh"
  echo >>"$exchange/command.sh"
  : >"$exchange/output"
  : >"$exchange/shares"
  shares=(-virtfs "local,path=$exchange,mount_tag=exchange,security_model=none")
  while read -r share; do
    shares+=(-virtfs "local,path=$share,mount_tag=share$i,security_model=none")
    echo "share$i $share" >>"$exchange/shares"
    i=$((i + 1))
  done < <(guest_shares)
  [ "${QUIL_X86_GUEST_WRITABLE:-0}" = 1 ] || shares+=(-snapshot)
  started=$SECONDS
  # Without SMAP: QEMU 7.2's TCG reads the user stack of a return to 32-bit code with kernel
  # rights, which under SMAP kills every 32-bit Wine process.
  timeout -k 10 "${QUIL_X86_GUEST_TIMEOUT:-5400}" qemu-system-x86_64 -accel tcg,thread=multi \
    -cpu max,-smap -smp "$JOBS" -m "${QUIL_X86_GUEST_MEMORY:-6G}" \
    -display none -nodefaults -no-reboot -monitor none -serial "file:$exchange/console.log" \
    -device virtio-rng-pci -kernel "$GUEST/vmlinuz" -initrd "$GUEST/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 init=/sbin/quil-guest-init panic=1 quiet" \
    -drive "file=$GUEST/guest.img,format=raw,if=virtio,cache=unsafe" "${shares[@]}" \
    2>"$exchange/qemu.log" &
  local qemu=$!
  tail -f -n +1 --pid=$qemu "$exchange/output"
  wait $qemu || true
  status="$(cat "$exchange/status" 2>/dev/null || echo 125)"
  [ -f "$exchange/status" ] || [ $((SECONDS - started)) -lt "${QUIL_X86_GUEST_TIMEOUT:-5400}" ] || status=124
  if [ "$status" = 0 ]; then
    rm -rf "$exchange"
  else
    echo "x86 guest: exit status $status after $((SECONDS - started)) s; console and output kept in $exchange" >&2
  fi
  return "$status"
}

# The i686 suite in the guest: the build folder is copied into the guest's memory and mounted over
# its own path (Wine maps executables from their files, and executables mapped from the 9p share
# start as pages of zeros), and the prefix made at the first boot is copied to where the tests
# expect it. The suite's time limits and waits are stretched by QUIL_TIME_FACTOR.
guest_suite() {
  local build="$BUILD/i686" prefix="$BUILD/wineprefix-i686"
  mkdir -p /tmp/i686 /tmp/wineprefix-i686 "$prefix"
  tar -C "$build" -c --exclude='*.obj' --exclude='*.a' --exclude=.ninja_deps --exclude=.ninja_log . |
    tar -C /tmp/i686 -x
  mount --bind /tmp/i686 "$build"
  cp -a "$GUEST_PREFIXES/wineprefix-i686/." /tmp/wineprefix-i686/
  mount --bind /tmp/wineprefix-i686 "$prefix"
  local status=0
  ctest --test-dir "$build" "$@" || status=$?
  cp "$build/Testing/Temporary/LastTest.log" "$BUILD/i686-emulated-LastTest.log" 2>/dev/null || true
  return $status
}

case "${1:-}" in
  build) build_guest ;;
  run) shift; build_guest; run_in_guest "$@" ;;
  suite) shift; build_guest
    run_in_guest env QUIL_BUILD_DIR="$BUILD" QUIL_TIME_FACTOR="${QUIL_TIME_FACTOR:-10}" bash "$ROOT/scripts/x86-guest.sh" guest-suite "$@" ;;
  guest-suite) shift; guest_suite "$@" ;;
  *) sed -n '2,14p' "$0" >&2; exit 2 ;;
esac
