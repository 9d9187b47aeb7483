#!/usr/bin/env bash
# Benchmark figures, each a ratio against a baseline measured in the same run, so that it means
# the same on a loaded machine: job forwarding throughput, the server side's memory during a long
# job, job playback on a printer, the time a logon takes to make a client's printers, and a print
# job over the shaped "wan" and "lan" links with the spool channel's extension against the
# original protocol (with compression and both sides' memory). Builds the x64 build with tests if
# needed, runs the programs under Wine and ends with the figures and one verdict line per goal.
# Sizes (environment): QUIL_BENCH_PAGES (forwarding job, default 200, 190 MiB),
# QUIL_BENCH_RUNS (alternating runs of each side, the best counts; default 5),
# QUIL_BENCH_PLAYBACK_PAGES (default 24), QUIL_BENCH_PLAYBACK_LARGEST (KiB, default 4096),
# QUIL_BENCH_MEMORY_PAGES (default 500), QUIL_BENCH_LOGON_PRINTERS (default 50),
# QUIL_BENCH_LINK_RUNS (runs of each protocol on each link, the best counts; default 3).
# Page sizes always spread from 64 KiB to the largest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

arch=x86_64
dir="$BUILD/$arch"
pages="${QUIL_BENCH_PAGES:-200}"
runs="${QUIL_BENCH_RUNS:-5}"
playback_pages="${QUIL_BENCH_PLAYBACK_PAGES:-24}"
playback_largest="${QUIL_BENCH_PLAYBACK_LARGEST:-4096}"
memory_pages="${QUIL_BENCH_MEMORY_PAGES:-500}"
logon_printers="${QUIL_BENCH_LOGON_PRINTERS:-50}"
link_runs="${QUIL_BENCH_LINK_RUNS:-3}"

ensure_packages
if ! wine_runs "$arch"; then
  echo "ERROR: this machine cannot run $WINEARCH Wine ($WINE_FAILURE)" >&2
  exit 1
fi
log "$arch build with tests: the benchmark programs"
if [ -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$dir" >/dev/null
  cmake --build "$dir" -j "$JOBS" --target quil_bench_forwarding quil_bench_playback quil_bench_logon quil_bench_link quil_bench_document
else
  build_windows "$arch" "$dir" ON Debug quil_bench_forwarding quil_bench_playback quil_bench_logon quil_bench_link quil_bench_document
fi
# A prefix of its own: the tests' named events and printers in the shared prefix would disturb
# the runs, and the runs' printer theirs.
prefixes="$BUILD/bench"
BUILD="$prefixes" ensure_wine_prefix "$arch"

results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT
# run NAME program args...: runs a benchmark program in the prefix, shows and keeps its output; a
# program that fails gets a verdict line saying so.
run() {
  local name="$1" status=0
  shift
  "$ROOT/cmake/wine-emulator.sh" "$arch" "$prefixes" "$@" </dev/null >"$results/$name.out" 2>&1 || status=$?
  tr -d '\r' <"$results/$name.out" | tee "$results/$name.txt"
  [ "$status" -eq 0 ] || echo "verdict $name: FAILED (the program ended with status $status)" | tee -a "$results/$name.txt"
}
winpath() { local path="${1//\//\\}"; echo "Z:$path"; }

# The monitor's code loads the replacement spooler router that lies beside the program.
export WINEDLLOVERRIDES="mscoree,mshtml=;spoolss=n"
bench="$dir/bench"
log "forwarding: $pages pages through the port monitor against a plain sender, over the loopback channel link"
run forwarding "$bench/quil_bench_forwarding.exe" throughput --pages "$pages" --runs "$runs"
log "memory: the server side during a job of $memory_pages copies of the largest page"
run memory-page "$bench/quil_bench_forwarding.exe" write-page "$(winpath "$results/page.emf")"
run memory "$bench/quil_bench_forwarding.exe" memory "$(winpath "$results/page.emf")" --pages "$memory_pages"
log "playback: $playback_pages pages through QuillonClient.dll against printing them directly"
run playback "$bench/quil_bench_playback.exe" --pages "$playback_pages" --runs "$runs" --largest "$playback_largest"

log "logon: a client with $logon_printers printers against the bare spooler calls that make them"
run logon "$bench/quil_bench_logon.exe" --printers "$logon_printers" --runs "$runs"

log "link: the 20-page office document over the shaped links, extension against the original protocol"
run link-document "$bench/quil_bench_document.exe" "$(winpath "$results/document.spl")"
run link "$bench/quil_bench_link.exe" link "$(winpath "$results/document.spl")" --runs "$link_runs"
log "compression: the document's pages at levels 1, 6 and 9"
run compression "$bench/quil_bench_link.exe" compression "$(winpath "$results/document.spl")"
log "memory with the extension: each side in a process of its own during the document's job"
run link-memory-server "$bench/quil_bench_link.exe" memory-server "$(winpath "$results/document.spl")"
run link-memory-client "$bench/quil_bench_link.exe" memory-client "$(winpath "$results/document.spl")"

log "verdicts and figures"
cat "$results"/*.txt | grep -E '^(verdict|figure) ' | sed -E 's/^(verdict|figure) /  /'
