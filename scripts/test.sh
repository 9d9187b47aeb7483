#!/usr/bin/env bash
# Runs every test: the Windows code under Wine for each architecture, then the platform-free code
# natively under AddressSanitizer and UndefinedBehaviorSanitizer, with each fuzz target for a
# bounded time. Closes with the counts of all suites: "all: N passed, M failed, K skipped".
# The x86 suite runs natively where this machine runs 32-bit Wine, elsewhere in the emulated x86
# machine (scripts/x86-guest.sh). QUIL_X86=skip skips it; QUIL_X86=emulate runs it in the
# emulated machine even where 32-bit Wine runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

case "${QUIL_X86:-}" in
  "" | skip | emulate) ;;
  *) echo "QUIL_X86 is '$QUIL_X86': leave it unset, or set it to skip or emulate" >&2; exit 1 ;;
esac
started=$SECONDS
timings=()
# timed LABEL: the time since the last call (or the start) goes into the summary under LABEL.
timed() {
  timings+=("$1 $((SECONDS - ${last_mark:-$started})) s")
  last_mark=$SECONDS
}

ensure_packages

# Which architectures' Wine runs here is found by trying each: a kernel without 32-bit user mode
# cannot start 32-bit Wine at all, while 64-bit Wine works. Where 32-bit Wine does not run, the
# x86 suite runs in the emulated x86 machine.
runnable=()
emulated=""
skipped_lines=()
for arch in "${ARCHES[@]}"; do
  if [ "$arch" = i686 ] && [ "${QUIL_X86:-}" = skip ]; then
    log "SKIPPED: the i686 Windows suite is built but not run: QUIL_X86=skip"
    skipped_lines+=("the i686 Windows suite was skipped: QUIL_X86=skip")
  elif [ "$arch" = i686 ] && [ "${QUIL_X86:-}" = emulate ]; then
    log "the i686 Windows suite runs in the emulated x86 machine: QUIL_X86=emulate"
    emulated=i686
  elif wine_runs "$arch"; then
    runnable+=("$arch")
  elif [ "$arch" = i686 ]; then
    log "the i686 Windows suite runs in the emulated x86 machine: this machine cannot run $WINEARCH Wine ($WINE_FAILURE)"
    emulated=i686
  else
    log "SKIPPED: the $arch Windows suite is built but not run: this machine cannot run $WINEARCH Wine ($WINE_FAILURE)"
    skipped_lines+=("the $arch Windows suite was skipped: this machine cannot run $WINEARCH Wine")
  fi
done
if [ ${#runnable[@]} -eq 0 ] && [ -z "$emulated" ]; then
  echo "ERROR: this machine can run neither 32-bit nor 64-bit Wine; no Windows test can run" >&2
  exit 1
fi
timed packages

# The emulated machine is built (once per machine) beside the Windows builds: it mostly downloads
# and unpacks packages.
if [ -n "$emulated" ]; then
  log "building the emulated x86 machine in the background (log: $BUILD/x86-guest-build.log)"
  mkdir -p "$BUILD"
  bash "$ROOT/scripts/x86-guest.sh" build >"$BUILD/x86-guest-build.log" 2>&1 &
  guest_build=$!
fi

ctest_logs=()
ctest_labels=()
# The emulated run stretches the suite's time limits (CTest's, set when the build is configured,
# and the tests' own bounded waits) by QUIL_TIME_FACTOR, 10 unless set.
x86_time_factor="${QUIL_TIME_FACTOR:-10}"
# A case that measures the machine's speed instead of bounding a wait, which no factor can stretch:
# the shaped link's rate at 100 Mbit/s through emulated sockets. The x64 suite runs it.
x86_rate_case=ChannelLinkTest.ShapedLinkDeliversAtTheProfilesRateAfterItsDelay
for arch in "${ARCHES[@]}"; do
  log "$arch Windows build with tests"
  if [ "$arch" = "$emulated" ]; then
    (export QUIL_TIME_FACTOR="$x86_time_factor"; build_windows "$arch" "$BUILD/$arch" ON Debug)
  else
    build_windows "$arch" "$BUILD/$arch" ON Debug
  fi
done
timed "Windows builds"

# The emulated suite runs beside the native build and tests, which measure no time; the Windows
# suites under Wine run alone, as the link tests time the shaped link.
if [ -n "$emulated" ]; then
  log "waiting for the emulated x86 machine"
  guest_built=0
  wait "$guest_build" && guest_built=1
  timed "waiting for the x86 guest"
  if [ "$guest_built" = 1 ]; then
    grep -h '^== x86 guest built' "$BUILD/x86-guest-build.log" || true
    log "i686 Windows tests under Wine in the emulated x86 machine, in the background (time factor $x86_time_factor; log: $BUILD/i686-ctest.log)"
    log "SKIPPED in the emulated run: $x86_rate_case (it measures the link's rate, which the emulated machine cannot reach; the x64 suite runs it)"
    # The end-to-end session's server fonts come from Debian's mirror, which the guest cannot reach.
    bash "$ROOT/scripts/e2e-fonts.sh" "$BUILD/e2e-fonts" || echo "fetching fonts-breip for the emulated run failed"
    QUIL_TIME_FACTOR="$x86_time_factor" bash "$ROOT/scripts/x86-guest.sh" suite -j "$JOBS" --output-on-failure \
      -E "^$x86_rate_case\$" >"$BUILD/i686-ctest.log" 2>&1 &
    emulated_suite=$! emulated_started=$SECONDS
    skipped_lines+=("skipped in the emulated run: $x86_rate_case (it measures the link's rate; the x64 suite runs it)")
    left_out=1
  else
    tail -n 20 "$BUILD/x86-guest-build.log"
    echo "building the emulated x86 machine failed (log: $BUILD/x86-guest-build.log)" | tee "$BUILD/i686-ctest.log"
  fi
fi

log "native build with sanitizers, unit tests and fuzzing"
SANITIZE="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$ROOT" -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$SANITIZE" -DCMAKE_EXE_LINKER_FLAGS="$SANITIZE" >/dev/null
cmake --build "$BUILD/native" -j "$JOBS"
ctest --test-dir "$BUILD/native" -j "$JOBS" --output-on-failure | tee "$BUILD/native-ctest.log" || true
timed "native build and tests"

if [ -n "${emulated_suite:-}" ]; then
  log "waiting for the i686 Windows tests in the emulated x86 machine"
  wait "$emulated_suite" || true
  cat "$BUILD/i686-ctest.log"
  timed "waiting for the i686 (emulated) tests"
  timings+=("i686 (emulated) tests $((SECONDS - emulated_started)) s (beside the native part)")
fi
if [ -n "$emulated" ]; then
  ctest_logs+=("$BUILD/i686-ctest.log")
  ctest_labels+=("i686 (emulated)")
fi
for arch in "${runnable[@]}"; do
  ensure_wine_prefix "$arch"
  log "$arch Windows tests under Wine ($WINEARCH prefix $WINEPREFIX)"
  ctest --test-dir "$BUILD/$arch" -j "$JOBS" --output-on-failure | tee "$BUILD/$arch-ctest.log" || true
  ctest_logs+=("$BUILD/$arch-ctest.log")
  ctest_labels+=("$arch")
  timed "$arch tests"
done
ctest_logs+=("$BUILD/native-ctest.log")
ctest_labels+=(native)

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
for index in "${!ctest_logs[@]}"; do
  file="${ctest_logs[$index]}" label="${ctest_labels[$index]}"
  summary="$(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\1 \2/p' "$file" | tail -n 1)"
  if [ -z "$summary" ]; then
    echo "  $label: no summary"
    failed=$((failed + 1))
    continue
  fi
  read -r suite_failed suite_total <<<"$summary"
  suite_skipped="$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$file" || true)"
  echo "  $label: $((suite_total - suite_failed - suite_skipped)) passed, $suite_failed failed, $suite_skipped skipped"
  grep -E '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$file" | sed 's/^[[:space:]]*/    skipped: /' || true
  passed=$((passed + suite_total - suite_failed - suite_skipped))
  failed=$((failed + suite_failed))
  skipped=$((skipped + suite_skipped))
done
for line in "${skipped_lines[@]}"; do echo "  $line"; done
skipped=$((skipped + ${left_out:-0}))
printf '  wall time:'
printf ' %s;' "${timings[@]}"
echo " all $((SECONDS - started)) s"
echo "all: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
