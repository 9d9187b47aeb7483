#!/bin/sh
# Renders the PostScript that the render tests wrote and compares, pixel by pixel, the pages
# printed through the add-in with the same pages printed directly on the same printer. Also checks
# that every page has ink on it and that portrait and landscape jobs come out that way.
# Usage: compare-renders.sh <folder of the render tests' output>
set -eu
out="$1"
dpi=40
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0

fail() { echo "FAIL: $*"; status=1; }

# render NAME: one binary PPM per page, NAME-1.ppm, NAME-2.ppm, ...
render() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r$dpi -o "$work/$1-%d.ppm" "$out/$1.ps"
}

# Width and height from a binary PPM header as ghostscript writes it: "P6", a comment line,
# "W H", "255", each ending in a newline; the pixels follow.
dimensions() { head -c 200 "$1" | grep -av '^#' | sed -n 2p; }
header_size() { head -c 200 "$1" | head -n 4 | wc -c; }

# The bounding box of the ink on one page, "x0 y0 x1 y1" in points.
ink_box() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox -dFirstPage="$2" -dLastPage="$2" "$out/$1.ps" 2>&1 |
    sed -n 's/^%%BoundingBox: //p'
}

# Ink coverage per page: non-zero on a page that shows anything.
has_ink() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=inkcov -dFirstPage="$2" -dLastPage="$2" -o - "$out/$1.ps" |
    awk '{ if ($1 + $2 + $3 + $4 > 0) found = 1 } END { exit !found }'
}

compare() {
  addin="$1" direct="$2" orientation="$3" pages="$4"
  for name in "$addin" "$direct"; do
    [ -s "$out/$name.ps" ] || { fail "$out/$name.ps is missing"; return; }
    render "$name"
  done
  for page in $(seq 1 "$pages"); do
    a="$work/$addin-$page.ppm" d="$work/$direct-$page.ppm"
    [ -f "$a" ] && [ -f "$d" ] || { fail "$addin: page $page is missing"; continue; }
    set -- $(dimensions "$a")
    width="$1" height="$2"
    [ "$(dimensions "$d")" = "$width $height" ] || fail "$addin page $page: size differs"
    has_ink "$addin" "$page" || fail "$addin page $page is blank"
    skip="$(header_size "$a")"
    # cmp lists each differing byte by its 1-based position; three bytes make a pixel.
    differing="$(cmp -l "$a" "$d" 2>/dev/null |
      awk -v skip="$skip" '$1 > skip { print int(($1 - skip - 1) / 3) }' | uniq | wc -l)"
    echo "$addin page $page: $((width * height)) pixels compared at $dpi dpi, $differing differ"
    [ "$differing" -eq 0 ] || fail "$addin page $page differs from printing it directly"
  done
  [ ! -f "$work/$addin-$((pages + 1)).ppm" ] || fail "$addin has more than $pages pages"
  # The last page is black along the top of its picture: printed portrait the band lies across
  # the sheet, printed landscape it runs down one long side.
  set -- $(ink_box "$addin" "$pages")
  [ $# -eq 4 ] || { fail "$addin: no ink on the orientation page"; return; }
  across=$(($3 - $1)) down=$(($4 - $2))
  echo "$addin orientation page: band ${across}x$down points, expected $orientation"
  if [ "$orientation" = landscape ]; then
    [ "$down" -gt "$across" ] || fail "$addin did not come out landscape"
  else
    [ "$across" -gt "$down" ] || fail "$addin did not come out portrait"
  fi
}

compare render-portrait-addin render-portrait-direct portrait 4
compare render-landscape-addin render-landscape-direct landscape 4
exit $status
