#!/usr/bin/env bash
# A whole printing session with the real binaries, on a simulated terminal server and two
# simulated client computers: three Wine prefixes that meet only over TCP on 127.0.0.1. Client
# computer 2's channel link is shaped as the "wan" profile (2 Mbit/s, 40 ms each way).
# Usage: e2e.sh SERVER_ARCH SERVER_BUILD CLIENT_ARCH CLIENT_BUILD PACKAGES OUT [PAGES]
#   SERVER_BUILD, CLIENT_BUILD: Windows builds with tests of those architectures (the simulated
#   platform's programs); PACKAGES: the folder with the .msi files of both; OUT: where the run
#   keeps its prefixes, pages and pictures; PAGES: the sample document's pages to print, page
#   numbers 1-6 separated by commas (default 1,2,3,4,5,6; page 4 is the landscape one, page 6 is set in
#   the server's own fonts).
# The server installs SERVER_ARCH's package, each client CLIENT_ARCH's. Ends with one line:
# "e2e: PASS ..." or "e2e: FAIL ...".
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/cmake/wine-env.sh"
server_arch="$1" server_bin="$(realpath "$2")" client_arch="$3" client_bin="$(realpath "$4")"
packages="$(realpath "$5")" out="$(realpath -m "$6")" pages="${7:-1,2,3,4,5,6}"
IFS=, read -ra page_numbers <<<"$pages"
page_count=${#page_numbers[@]}
failures=0

say() { printf '  %s\n' "$*"; }
step() { printf '\n== %s\n' "$*"; }
fail() { printf '  FAIL: %s\n' "$*"; failures=$((failures + 1)); }
msi_arch() { [ "$1" = i686 ] && echo x86 || echo x64; }
spool_folder() { [ "$1" = i686 ] && echo w32x86 || echo x64; }
winpath() { local path="${1//\//\\}"; echo "Z:$path"; }

# Each computer is a prefix root holding wineprefix-ARCH, run through the project's launcher.
on() {  # on COMPUTER ARCH program args...
  local computer="$1" arch="$2"
  shift 2
  timeout "$(quil_wait_bound 300)" "$ROOT/cmake/wine-emulator.sh" "$arch" "$out/$computer" "$@"
}
new_computer() {  # new_computer COMPUTER ARCH
  (quil_wine_env "$2" "$out/$1" && mkdir -p "$WINEPREFIX" && "$WINELOADER" wineboot -i >/dev/null 2>&1 &&
    "$WINESERVER" -w) || { fail "cannot create the Wine prefix of $1"; return 1; }
}
stop_computer() { (quil_wine_env "$2" "$out/$1" && "$WINESERVER" -k 2>/dev/null); }

# The server host's control connection: one request, reply lines up to "ok ..." or "error ...".
control() {
  printf '%s\n' "$*" >&7
  local line
  while IFS= read -r -t "$(quil_wait_bound 120)" line <&7; do
    line="${line%$'\r'}"
    case "$line" in
      ok*) printf '%s\n' "$line"; return 0 ;;
      error*) printf '%s\n' "$line"; return 1 ;;
      *) printf '%s\n' "$line" ;;
    esac
  done
  echo "error: no answer to '$*'"
  return 1
}
session_printers() { control printers | sed -n 's/^printer //p' | awk -F'|' '{print $1}' | grep " (alice : $session)\$"; }

# A client computer's host program, fed through a FIFO, its output in a log. LINK is the profile
# that shapes its channel link both ways (simplatform/link/SimLinkShape.h): none, wan or lan.
start_client() {  # start_client COMPUTER LINK default printers...
  local computer="$1" link="$2" default="$3"
  shift 3
  local folder="$out/$computer-pages"
  mkdir -p "$folder"
  mkfifo "$out/$computer.in"
  on "$computer" "$client_arch" "$client_bin/simplatform/e2e/quil_e2e_client.exe" "$link_port" "$session" "$(winpath "$folder")" \
    "$@" --default "$default" --link "$link" <"$out/$computer.in" >"$out/$computer.log" 2>&1 &
  eval "${computer}_pid=$!"
  exec {fd}>"$out/$computer.in"
  eval "${computer}_fd=$fd"
  for _ in $(seq "$(quil_wait_bound 120)"); do grep -q '^ready' "$out/$computer.log" && return 0; sleep 0.5; done
  fail "$computer did not get ready"; cat "$out/$computer.log"
  return 1
}
quit_client() {
  local computer="$1" fd pid
  fd="$(eval echo "\$${computer}_fd")" pid="$(eval echo "\$${computer}_pid")"
  echo quit >&"$fd"
  exec {fd}>&-
  wait "$pid" || fail "$computer ended with status $?"
}

# The session's channel link as the server host has it: "profile NAME rate BYTES_PER_S delay MS
# to-client BYTES from-client BYTES", the bytes of its frames so far (headers included).
link_figures() { control "link $session" | sed -n 's/^ok //p'; }
field() {  # field NAME FIGURES: the value after the word NAME
  awk -v name="$1" '{ for (i = 1; i < NF; i++) if ($i == name) print $(i + 1) }' <<<"$2"
}
describe_link() {  # describe_link FIGURES
  awk -v rate="$(field rate "$1")" -v delay="$(field delay "$1")" 'BEGIN {
    if (rate == 0) print "unshaped"; else printf "%g Mbit/s, %d ms each way\n", rate * 8 / 1e6, delay }'
}

# What a print took on the link: the bytes each way as the link counts them and the time from the
# print request to the job's end. Over a shaped link also what the original protocol (each message
# acknowledged before the next leaves, pages uncompressed) needs for the same job over the same
# link, computed: the job's raw page bytes at the link's rate plus one round trip (twice the delay)
# per message: the job start, each page, the job end.
link_report() {  # link_report FIGURES_BEFORE FIGURES_AFTER SECONDS
  local rate delay to from messages=$((page_count + 2))
  rate="$(field rate "$2")" delay="$(field delay "$2")"
  to=$(($(field to-client "$2") - $(field to-client "$1")))
  from=$(($(field from-client "$2") - $(field from-client "$1")))
  say "link ($(field profile "$2"), $(describe_link "$2")): $to bytes to the client, $from bytes to the server;" \
    "the print took $3 s (request to job end, the client's printing included)"
  [ "${rate:-0}" -gt 0 ] || return 0
  [ "${font_message_bytes:-0}" -gt 0 ] && say "$(awk -v bytes="$font_message_bytes" -v rate="$rate" -v delay="$delay" \
    -v queries="$font_queries" 'BEGIN { printf "the fonts over this link: %.2f s (computed: %d bytes of font messages at %g Mbit/s + %d round trips of %d ms for the font queries)",
      bytes / rate + queries * 2 * delay / 1000, bytes, rate * 8 / 1e6, queries, 2 * delay }')"
  say "$(awk -v bytes="$raw_page_bytes" -v rate="$rate" -v delay="$delay" -v messages="$messages" 'BEGIN {
    printf "original protocol over this link: %.2f s (computed: %d raw page bytes at %g Mbit/s + %d round trips of %d ms)",
      bytes / rate + messages * 2 * delay / 1000, bytes, rate * 8 / 1e6, messages, 2 * delay }')"
}

# The fonts of the print as they went over the link: each font query (the faces of a page that the
# job had not named before), the faces the client said it lacks, each font sent with its size and
# its message's size, and each face the client lacks and did not get. With the fonts page, Breip must have been sent whole
# and the restricted font not at all.
font_report() {
  local line face lacking=() sent_faces=()
  for line in "${font_lines[@]}"; do
    say "server: $line"
    case "$line" in
      "font answer: the client lacks none") ;;
      "font answer: the client lacks "*)
        IFS=, read -ra faces <<<"${line#font answer: the client lacks }"
        for face in "${faces[@]}"; do lacking+=("${face# }"); done ;;
      "font sent: "*) face="${line#font sent: }"; sent_faces+=("${face%%,*}") ;;
    esac
  done
  for face in "${lacking[@]}"; do
    printf '%s\n' "${sent_faces[@]}" | grep -qxF "$face" && continue
    if [ "$face" = "Quillon Restricted" ]; then
      say "font not sent: $face (restricted embedding: the client prints its line with a substitute)"
    else
      say "font not sent: $face (the client prints it with a substitute)"
    fi
  done
  font_message_bytes="$(printf '%s\n' "${font_lines[@]}" | sed -n 's/^font sent: .* bytes (\([0-9]*\) in its message.*/\1/p' |
    awk '{ sum += $1 } END { print sum + 0 }')"
  font_queries="$(printf '%s\n' "${font_lines[@]}" | grep -c '^font query: ')"
  [[ ",$pages," == *,6,* ]] || return 0
  local breip_size
  breip_size="$(stat -c %s "$breip_file")"
  printf '%s\n' "${font_lines[@]}" | grep -q "^font sent: Breip, $breip_size bytes (" ||
    fail "the font Breip ($breip_size bytes) was not sent whole"
  printf '%s\n' "${font_lines[@]}" | grep -q '^font answer: .*Quillon Restricted' ||
    fail "the client did not say that it lacks the font Quillon Restricted"
  printf '%s\n' "${font_lines[@]}" | grep -q '^font sent: Quillon Restricted' &&
    fail "the font Quillon Restricted, whose embedding is restricted, was sent"
  return 0
}

# Prints the sample document on a session printer and waits until the client printed it.
print_document() {  # print_document COMPUTER PRINTER LABEL JOBS_PRINTED_BY_THEN
  local computer="$1" printer="$2" label="$3" sent=0 line before started seconds
  step "$label: alice prints the sample document (pages $pages) on \"$printer\""
  before="$(link_figures)"
  started=$EPOCHREALTIME
  font_lines=()
  while IFS= read -r line; do
    case "$line" in
      sent*) sent="${line#sent }"; printf '\r  pages sent %s / %s' "$sent" "$page_count" ;;
      font*) font_lines+=("$line") ;;
      ok*) printf '\n'; say "server: $line" ;;
      error*) printf '\n'; fail "server: $line" ;;
    esac
  done < <(control "print $printer|Sample document|$(winpath "$out/document/document.spl")")
  seconds="$(awk -v from="$started" -v to="$EPOCHREALTIME" 'BEGIN { printf "%.2f", to - from }')"
  [ "$sent" = "$page_count" ] || fail "$sent of $page_count pages were sent"
  local printed=""
  for _ in $(seq "$(quil_wait_bound 240)"); do
    printed="$(grep '^printed' "$out/$computer.log" | tail -n 1)"
    [ -n "$printed" ] && [ "$(grep -c '^printed' "$out/$computer.log")" -ge "$4" ] && break
    sleep 0.5
  done
  say "client: ${printed:-nothing printed}"
  font_report
  link_report "$before" "$(link_figures)" "$seconds"
  local file="${printed##*-> }"
  file="${file%$'\r'}"
  [ -n "$printed" ] || { fail "the client printed nothing"; return; }
  cp "$(unix_path "$file")" "$out/$label.ps" || fail "no output file $file"
}
# The OS/2 table's fsType of a font file (sfnt, big-endian), in hex: its embedding permission.
fs_type() {  # fs_type FONT
  local count i offset
  count=$(od -An -tu2 --endian=big -j 4 -N 2 "$1")
  for ((i = 0; i < count; i++)); do
    [ "$(od -An -c -j $((12 + 16 * i)) -N 4 "$1" | tr -d ' ')" = "OS/2" ] || continue
    offset=$(od -An -tu4 --endian=big -j $((12 + 16 * i + 8)) -N 4 "$1")
    od -An -tx2 --endian=big -j $((offset + 8)) -N 2 "$1" | tr -d ' '
    return
  done
  echo none
}
unix_path() { local path="${1#[Zz]:}"; echo "${path//\\//}"; }

# The angle by which each page's setup turns the page, in page order. Wine's PostScript driver
# marks a landscape page nowhere else: it puts it on the portrait sheet of the document turned by
# 90 degrees ("-90 rotate" in the page setup), with no %%PageOrientation and no page size of its
# own, so ghostscript renders it as a portrait sheet with the picture on its side.
page_angles() {  # page_angles POSTSCRIPT
  awk '/^%%BeginPageSetup/ { setup = 1; angle = 0 } setup && $2 == "rotate" { angle = $1 }
       /^%%EndPageSetup/ { print angle; setup = 0 }' "$1"
}

# Renders a PostScript file to PNG pages, each turned back by its page setup's angle, so that a
# landscape page is wider than high; prints the page files in page order.
render() {  # render NAME DPI FOLDER
  rm -f "$3/$1-"*.png
  mkdir -p "$3"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r"$2" -o "$3/$1-%d.png" "$out/$1.ps" 2>/dev/null
  local angles page=0 png
  mapfile -t angles < <(page_angles "$out/$1.ps")
  while IFS= read -r png; do
    [ "${angles[$page]:-0}" = 0 ] || mogrify -rotate "$((0 - angles[page]))" "$png"
    page=$((page + 1))
    echo "$png"
  done < <(ls "$3/$1-"*.png 2>/dev/null | sort -V)
}

# Differing pixels of two renderings of a page; every pixel when their sizes differ.
differing_pixels() {  # differing_pixels OURS DIRECT PIXELS
  if [ ! -f "$2" ] || [ "$(identify -format '%wx%h' "$1")" != "$(identify -format '%wx%h' "$2")" ]; then
    echo "$3"
    return
  fi
  compare -metric AE "$1" "$2" null: 2>&1 >/dev/null | awk '{ printf "%d\n", $1 }'
}

# Compares every page printed through Quillon with the sample document printed on the same
# printer of the same client computer by the document's own drawing calls, without Quillon
# (quil_e2e_direct), pixel by pixel at 40 dpi. The direct print has the font Breip, as a computer
# that has the font (loaded for that program alone), but not the restricted font. A page passes when at most 0.5% of its pixels
# differ.
compare_with_direct() {  # compare_with_direct COMPUTER PRINTER LABEL
  local computer="$1" printer="$2" label="$3"
  on "$computer" "$client_arch" "$client_bin/simplatform/e2e/quil_e2e_direct.exe" "$printer" \
    "$(winpath "$out/$label-direct.ps")" --font "$(winpath "$breip_file")" "${page_numbers[@]}" >/dev/null 2>&1 ||
    { fail "direct printing on $printer failed"; return; }
  local ours direct differing=0 total=0
  mapfile -t ours < <(render "$label" 40 "$out/compare")
  mapfile -t direct < <(render "$label-direct" 40 "$out/compare")
  [ "${#ours[@]}" -eq "$page_count" ] || fail "$label has ${#ours[@]} pages, not $page_count"
  [ "${#direct[@]}" -eq "$page_count" ] || fail "the direct print has ${#direct[@]} pages, not $page_count"
  for i in "${!ours[@]}"; do
    local size direct_size pixels differ
    size="$(identify -format '%wx%h' "${ours[$i]}")"
    direct_size="$(identify -format '%wx%h' "${direct[$i]:-}" 2>/dev/null || echo none)"
    pixels=$((${size/x/*}))
    differ="$(differing_pixels "${ours[$i]}" "${direct[$i]:-}" "$pixels")"
    say "page ${page_numbers[$i]:-?} ($size$([ "$direct_size" = "$size" ] || echo ", directly $direct_size")):" \
      "$differ pixels differ ($(awk "BEGIN { printf \"%.2f\", 100 * $differ / $pixels }")%)"
    [ $((differ * 200)) -le "$pixels" ] || fail "$label page ${page_numbers[$i]:-?}: more than 0.5% of its pixels differ"
    differing=$((differing + differ))
    total=$((total + pixels))
  done
  say "comparison: $total pixels on ${#ours[@]} pages, $differing differ"
}

session=3
control_port=$((20000 + RANDOM % 20000)) link_port=$((control_port + 1))
rm -rf "$out"
mkdir -p "$out/document"
started=$(date +%s)

step "the computers: terminal server ($server_arch), client computers 1 and 2 ($client_arch)"
# Three prefixes, made side by side.
new_computer server "$server_arch" & new_computer client1 "$client_arch" & new_computer client2 "$client_arch" &
for _ in 1 2 3; do wait -n || exit 1; done

step "terminal server: installing QuillonServer-$(msi_arch "$server_arch").msi with msiexec"
# Wine has no Unidrv: stand-ins lie where Windows keeps Unidrv's files.
quil_wine_env "$server_arch" "$out/server"
unidrv="$WINEPREFIX/drive_c/windows/system32/spool/drivers/$(spool_folder "$server_arch")/3"
mkdir -p "$unidrv"
for file in unidrv.dll unidrvui.dll unires.dll unidrv.hlp stdnames.gpd; do echo "stand-in $file" >"$unidrv/$file"; done
on server "$server_arch" msiexec /i "$(winpath "$packages/QuillonServer-$(msi_arch "$server_arch").msi")" /qn \
  </dev/null >/dev/null 2>&1 || fail "server package: msiexec failed"
install_dir="$WINEPREFIX/drive_c/Program Files/Quillon"
[ -f "$install_dir/QuillonNotify.dll" ] && say "installed: $(ls "$install_dir" | tr '\n' ' ')"

step "terminal server: fonts of its own, which the client computers lack"
# Into the server's prefix only, not where Wine's font configuration would give them to every
# prefix: Debian's fonts-breip (the face "Breip", editable embedding: fsType 0x0008), and a font of
# restricted embedding written by quil_e2e_testfont. Wine loads the fonts that the registry lists
# under "Fonts" from the Windows fonts folder.
fonts_cache="${QUIL_BUILD_DIR:-$ROOT/build}/e2e-fonts"
bash "$ROOT/scripts/e2e-fonts.sh" "$fonts_cache" || fail "cannot download fonts-breip"
rm -rf "$fonts_cache/files" && dpkg-deb -x "$(ls "$fonts_cache"/fonts-breip_*.deb | head -n 1)" "$fonts_cache/files"
server_fonts="$WINEPREFIX/drive_c/windows/Fonts"
breip_file="$server_fonts/breip.ttf"
mkdir -p "$server_fonts"
cp "$fonts_cache/files/usr/share/fonts/truetype/breip/Breip.ttf" "$breip_file" || fail "fonts-breip has no Breip.ttf"
on server "$server_arch" "$server_bin/tests/e2e/quil_e2e_testfont.exe" "$(winpath "$server_fonts/quilrestricted.ttf")" \
  </dev/null >/dev/null 2>&1 || fail "the restricted font could not be written"
for font in "Breip (TrueType)=breip.ttf" "Quillon Restricted (TrueType)=quilrestricted.ttf"; do
  on server "$server_arch" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' /v "${font%%=*}" \
    /d "${font#*=}" /f </dev/null >/dev/null 2>&1 || fail "cannot register the font ${font%%=*}"
done
breip_embedding="$(fs_type "$breip_file")"
[ "$breip_embedding" = 0008 ] || fail "Breip's embedding permission is $breip_embedding, not editable (0008)"
say "Breip: $(stat -c %s "$breip_file") bytes, fsType $breip_embedding (editable embedding);" \
  "Quillon Restricted: $(stat -c %s "$server_fonts/quilrestricted.ttf") bytes, fsType $(fs_type "$server_fonts/quilrestricted.ttf") (restricted)"

step "terminal server: the simulated platform beside the service, and the service restarted"
# Wine lacks sessions, virtual channels and session-change notifications, and its spooler cannot
# add a printer with a Unidrv-based driver: the service alone gets replacements of its own.
cp "$server_bin/simplatform/host/out/"{wtsapi32.dll,winspool.drv,spoolss.dll} "$install_dir/"
for dll in wtsapi32 winspool.drv spoolss; do
  on server "$server_arch" reg add 'HKCU\Software\Wine\AppDefaults\QuillonService.exe\DllOverrides' \
    /v "$dll" /d native,builtin /f >/dev/null 2>&1
done
on server "$server_arch" reg add 'HKLM\Software\Quillon Simulation' /v ControlPort /t REG_DWORD /d "$control_port" /f >/dev/null 2>&1
on server "$server_arch" reg add 'HKLM\Software\Quillon Simulation' /v LinkPort /t REG_DWORD /d "$link_port" /f >/dev/null 2>&1
on server "$server_arch" net stop QuillonService </dev/null >/dev/null 2>&1
on server "$server_arch" net start QuillonService </dev/null >/dev/null 2>&1 || fail "the service did not start"
# The service may take a while to come up on a busy machine (the test command runs other Wine
# processes beside this session): up to 2 minutes.
for _ in $(seq "$(quil_wait_bound 240)"); do { exec 7<>"/dev/tcp/127.0.0.1/$control_port"; } 2>/dev/null && break; sleep 0.5; done
{ true >&7; } 2>/dev/null || { fail "the server host does not answer on port $control_port"; exit 1; }
say "QuillonService runs under Wine's service control manager with QuillonNotify.dll loaded"

step "client computers: installing QuillonClient-$(msi_arch "$client_arch").msi with msiexec"
for computer in client1 client2; do
  on "$computer" "$client_arch" msiexec /i "$(winpath "$packages/QuillonClient-$(msi_arch "$client_arch").msi")" /qn \
    </dev/null >/dev/null 2>&1 || fail "$computer: client package failed"
done

step "the sample document"
on server "$server_arch" "$server_bin/tests/e2e/quil_e2e_document.exe" "$(winpath "$out/document")" "${page_numbers[@]}" \
  </dev/null >"$out/document.log" 2>&1 || fail "the sample document could not be written"
while IFS= read -r line; do say "${line%$'\r'}"; done <"$out/document.log"
say "spooled: $out/document/document.spl"
raw_page_bytes="$(grep -o 'EMRI_METAFILE_DATA [a-z]* ([0-9]* bytes)' "$out/document.log" | tr -dc '0-9\n' |
  awk '{ sum += $1 } END { print sum + 0 }')"

step "alice logs on in session $session from client computer 1"
control "session $session alice" >/dev/null
control "setdefault alice Server Laser" >/dev/null
earlier_default="$(control "default alice" | sed -n 's/^ok //p')"
say "alice's default printer before logon: \"$earlier_default\""
start_client client1 none "Office Inkjet" "Office Laser" "Office Inkjet" "Photo Printer" || exit 1
control "wait-client $session" >/dev/null || fail "client computer 1 did not reach the server"
control "logon $session" >/dev/null || fail "logon"
control "wait-printers $session 3" >/dev/null || fail "alice's printers did not appear"
while IFS= read -r printer; do say "printer created: $printer"; done < <(session_printers)
default="$(control "default alice" | sed -n 's/^ok //p')"
say "alice's default printer: \"$default\""
[ "$default" = "Office Inkjet (alice : $session)" ] || fail "the default does not follow the client's"

print_document client1 "Office Laser (alice : $session)" print-1 1
compare_with_direct client1 "Office Laser" print-1

step "alice disconnects, and reconnects from client computer 2"
quit_client client1
control "disconnect $session" >/dev/null
control "wait-printers $session 0" >/dev/null || fail "the printers of client 1 stayed after the disconnect"
say "after the disconnect: $(session_printers | wc -l) session printers"
start_client client2 wan "Plotter" "Plotter" "Front Desk" || exit 1
control "wait-client $session" >/dev/null || fail "client computer 2 did not reach the server"
figures="$(link_figures)"
say "client computer 2 reaches the server over the \"$(field profile "$figures")\" link profile: $(describe_link "$figures")"
control "connect $session" >/dev/null
control "wait-printers $session 2" >/dev/null || fail "the printers of client 2 did not appear"
while IFS= read -r printer; do say "printer created: $printer"; done < <(session_printers)
print_document client2 "Front Desk (alice : $session)" print-2 1
compare_with_direct client2 "Front Desk" print-2

step "alice logs off"
quit_client client2
control "logoff $session" >/dev/null
# The service handles the logoff after the request has been answered: its printers go, then her
# earlier default comes back.
control "wait-printers $session 0" >/dev/null
left="$(session_printers | wc -l)"
say "session printers left: $left"
[ "$left" -eq 0 ] || fail "$left session printers remain"
for _ in $(seq 50); do
  restored="$(control "default alice" | sed -n 's/^ok //p')"
  [ "$restored" = "$earlier_default" ] && break
  sleep 0.2
done
say "alice's default printer: \"$restored\""
[ "$restored" = "$earlier_default" ] || fail "the earlier default printer did not come back"
control quit >/dev/null
exec 7>&-

step "overview"
labels=()
for label in print-1 print-2; do
  sheet=0
  while IFS= read -r png; do
    labels+=(-label "$label page ${page_numbers[$sheet]:-?}" "$png")
    sheet=$((sheet + 1))
  done < <(render "$label" 75 "$out/pages")
done
montage "${labels[@]}" -tile "${page_count}x" -geometry 336x336+6+6 -pointsize 14 "$out/overview.png" 2>/dev/null ||
  fail "the overview picture could not be made"
say "printed pages: $out/print-1.ps (client computer 1), $out/print-2.ps (client computer 2)"
say "as PNG (75 dpi): $out/pages/print-1-<page>.png, $out/pages/print-2-<page>.png"
say "overview picture: $out/overview.png"

for computer in server client1 client2; do stop_computer "$computer" "$([ $computer = server ] && echo "$server_arch" || echo "$client_arch")"; done
elapsed=$(( $(date +%s) - started ))
if [ "$failures" -eq 0 ]; then
  echo "e2e: PASS ($server_arch server, $client_arch clients, pages $pages, ${elapsed} s)"
else
  echo "e2e: FAIL ($failures checks failed; $server_arch server, $client_arch clients, ${elapsed} s)"
  exit 1
fi
