#!/usr/bin/env bash
# Runs every test: the Windows code under Wine, then the platform-free code natively under
# AddressSanitizer and UndefinedBehaviorSanitizer, with each fuzz target for a bounded time.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages
ensure_wine_prefix

log "Windows build and tests under Wine"
build_windows "$BUILD/windows" ON Debug
ctest --test-dir "$BUILD/windows" -j "$JOBS" --output-on-failure

log "native build with sanitizers, unit tests and fuzzing"
SANITIZE="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$ROOT" -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$SANITIZE" -DCMAKE_EXE_LINKER_FLAGS="$SANITIZE" >/dev/null
cmake --build "$BUILD/native" -j "$JOBS"
ctest --test-dir "$BUILD/native" -j "$JOBS" --output-on-failure
