#!/usr/bin/env bash
# Runs every test: the Windows code under Wine, then the platform-free code natively under
# AddressSanitizer and UndefinedBehaviorSanitizer, with each fuzz target for a bounded time.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages
ensure_wine_prefix

log "Windows build and tests under Wine"
build_windows "$BUILD/windows" ON Debug
ctest --test-dir "$BUILD/windows" -j "$JOBS" --output-on-failure | tee "$BUILD/windows-ctest.log"

log "native build with sanitizers, unit tests and fuzzing"
SANITIZE="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$ROOT" -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$SANITIZE" -DCMAKE_EXE_LINKER_FLAGS="$SANITIZE" >/dev/null
cmake --build "$BUILD/native" -j "$JOBS"
ctest --test-dir "$BUILD/native" -j "$JOBS" --output-on-failure | tee "$BUILD/native-ctest.log"

log "fuzz runs (a crash fails its test above)"
awk '/^[0-9]+\/[0-9]+ Test: fuzz_/ {target = $3} /^stat::number_of_executed_units/ && target {
  printf "  %-22s %12s executions, 0 crashes\n", target, $2; target = "" }' \
  "$BUILD/native/Testing/Temporary/LastTest.log"

passed=$(cat "$BUILD/windows-ctest.log" "$BUILD/native-ctest.log" | sed -n 's/.* tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' |
  awk '{sum += $1} END {print sum + 0}')
echo "all: $passed passed, 0 failed"
