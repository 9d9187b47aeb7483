#!/usr/bin/env bash
# Runs every test: the Windows code under Wine for each architecture this machine can run, then
# the platform-free code natively under AddressSanitizer and UndefinedBehaviorSanitizer, with each
# fuzz target for a bounded time. Closes with the counts of all suites:
# "all: N passed, M failed, K skipped".
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages

# Which architectures' Wine runs here is found by trying each: a kernel without 32-bit user mode
# cannot start 32-bit Wine at all, while 64-bit Wine works.
runnable=()
for arch in "${ARCHES[@]}"; do
  if wine_runs "$arch"; then
    runnable+=("$arch")
  else
    log "SKIPPED: the $arch Windows suite is built but not run: this machine cannot run $WINEARCH Wine ($WINE_FAILURE)"
    skipped_line="the $arch Windows suite was skipped: this machine cannot run $WINEARCH Wine"
  fi
done
if [ ${#runnable[@]} -eq 0 ]; then
  echo "ERROR: this machine can run neither 32-bit nor 64-bit Wine; no Windows test can run" >&2
  exit 1
fi

ctest_logs=()
for arch in "${ARCHES[@]}"; do
  log "$arch Windows build with tests"
  build_windows "$arch" "$BUILD/$arch" ON Debug
done
for arch in "${runnable[@]}"; do
  ensure_wine_prefix "$arch"
  log "$arch Windows tests under Wine ($WINEARCH prefix $WINEPREFIX)"
  ctest --test-dir "$BUILD/$arch" -j "$JOBS" --output-on-failure | tee "$BUILD/$arch-ctest.log" || true
  ctest_logs+=("$BUILD/$arch-ctest.log")
done

log "native build with sanitizers, unit tests and fuzzing"
SANITIZE="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$ROOT" -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$SANITIZE" -DCMAKE_EXE_LINKER_FLAGS="$SANITIZE" >/dev/null
cmake --build "$BUILD/native" -j "$JOBS"
ctest --test-dir "$BUILD/native" -j "$JOBS" --output-on-failure | tee "$BUILD/native-ctest.log" || true
ctest_logs+=("$BUILD/native-ctest.log")

log "fuzz runs (a crash fails its test above)"
awk '/^[0-9]+\/[0-9]+ Test: fuzz_/ {target = $3} /^stat::number_of_executed_units/ && target {
  printf "  %-22s %12s executions\n", target, $2; target = "" }' \
  "$BUILD/native/Testing/Temporary/LastTest.log"

# Each suite's summary: "NN% tests passed, F tests failed out of T", where T counts the skipped
# cases too (listed as "(Skipped)"). A suite without one failed before it could count (a build or
# discovery error) and counts as one failure.
log "summary"
passed=0
failed=0
skipped=0
for file in "${ctest_logs[@]}"; do
  summary="$(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\1 \2/p' "$file" | tail -n 1)"
  if [ -z "$summary" ]; then
    echo "  $(basename "$file" -ctest.log): no summary"
    failed=$((failed + 1))
    continue
  fi
  read -r suite_failed suite_total <<<"$summary"
  suite_skipped="$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$file" || true)"
  echo "  $(basename "$file" -ctest.log): $((suite_total - suite_failed - suite_skipped)) passed, $suite_failed failed, $suite_skipped skipped"
  grep -E '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$file" | sed 's/^[[:space:]]*/    skipped: /' || true
  passed=$((passed + suite_total - suite_failed - suite_skipped))
  failed=$((failed + suite_failed))
  skipped=$((skipped + suite_skipped))
done
[ -n "${skipped_line:-}" ] && echo "  $skipped_line"
echo "all: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
