#!/usr/bin/env bash
# Fetches Debian's fonts-breip package into CACHE (once) for the end-to-end run's server fonts.
# The test command runs it on the host before the emulated x86 machine starts, which has no network.
# Usage: e2e-fonts.sh CACHE
set -euo pipefail
cache="$1"
mkdir -p "$cache"
ls "$cache"/fonts-breip_*.deb >/dev/null 2>&1 && exit 0
cd "$cache" && apt-get download fonts-breip >/dev/null 2>&1
