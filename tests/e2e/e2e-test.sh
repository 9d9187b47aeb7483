#!/usr/bin/env bash
# The whole session as a test: this build's packages, then the end-to-end run with this build on
# the server and on both client computers, and three pages of the sample document: the first, the
# landscape chart, so that the device settings change between them, and the page set in the
# server's own fonts.
# Usage: e2e-test.sh ARCH BUILD OUT
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
arch="$1" build="$2" out="$3"
bash "$root/installer/build-packages.sh" "$arch" "$build" "$out/packages" >/dev/null
exec bash "$root/scripts/e2e.sh" "$arch" "$build" "$arch" "$build" "$out/packages" "$out/run" 1,4,6
