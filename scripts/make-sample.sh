#!/usr/bin/env bash
# Makes samples/sample.hfs, the small volume that ships with Quarry so that a newcomer has
# something to open at once: an 800 KB HFS floppy named "Quarry Sample" with a few folders, text
# files, a picture and files with resource forks. It is written by hfsutils, so it is an ordinary
# Macintosh volume. Files keep the dates of their MacBinary headers; folders carry the time the
# script ran (hfsutils cannot set them).
#
# Usage: scripts/make-sample.sh [OUTPUT]   (default: samples/sample.hfs)
# Needs hfsutils and perl.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
output=${1:-$root/samples/sample.hfs}
macfiles=(perl "$root/tests/fixtures/macfiles.pl")

for tool in hformat hmount hcopy hmkdir perl; do
    command -v "$tool" >/dev/null || { echo "make-sample: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quarry-sample.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" TZ=UTC LC_ALL=C  # hfsutils keeps its current volume in $HOME/.hcwd
mkdir -p "$HOME"

# text FILE LINE...: Macintosh text, lines ended by CR.
text() {
    local file=$1 line
    shift
    : >"$file"
    for line in "$@"; do printf '%s\r' "$line" >>"$file"; done
}

# add FOLDER NAME TYPE CREATOR DATAFILE RSRCFILE CREATED MODIFIED: one file through MacBinary,
# so that it keeps its type, creator, forks and dates.
add() {
    local bin=$work/file.bin
    "${macfiles[@]}" macbinary "$bin" "$2" "$3" "$4" "$5" "$6" "$7" "$8"
    hcopy -m "$bin" "$1"
}

# A picture in QuickDraw's PICT format (version 1): the 512-byte file header, the picture size
# and frame, then drawing opcodes.
perl -e '
    my $ops = pack("C C", 0x11, 0x01)                      # picture version 1
        . pack("C n n4", 0x01, 10, 0, 0, 120, 160)           # clip region: the frame
        . pack("C n4", 0x31, 10, 10, 110, 150)               # paint a rectangle (the sky)
        . pack("C n4", 0x38, 60, 50, 100, 110)               # paint an oval (the sun)
        . pack("C n2 n2", 0x20, 100, 0, 100, 160)            # a line (the horizon)
        . pack("C", 0xFF);                                   # end of picture
    my $picture = pack("n n4", 2 + 8 + length $ops, 0, 0, 120, 160) . $ops;
    print "\0" x 512, $picture;
' >"$work/sunset.pict"

text "$work/readme" "Welcome to Quarry!" "" \
    "This small volume was made to show what Quarry can do. Open the folders," \
    "look at the files, copy them to your computer as plain data, as resource forks or" \
    "as MacBinary, and view their bytes in the dump window." "" \
    "Applications holds a program whose code lives in its resource fork." \
    "Documents holds letters and recipes; Pictures holds a PICT picture and icons."
text "$work/letter" "Dear Grandma," "" \
    "Thank you for the lovely sweater. It is just the right size, and the colour is perfect." \
    "School is going well; I got an A on my science project about volcanoes." "" \
    "Love," "Sam"
text "$work/todo" "To do:" "- Back up the hard disk" "- Order more floppy disks" \
    "- Rebuild the desktop" "- Call the printer repair shop"
text "$work/pie" "Apple Pie" "" "6 apples, peeled and sliced" "3/4 cup sugar" \
    "1 teaspoon cinnamon" "2 pie crusts" "" "Bake at 425 F for 45 minutes."
text "$work/creme" $'Cr\x8fme Br\x9el\x8ee' "" "2 cups cream" "5 egg yolks" "1/2 cup sugar" \
    "1 vanilla bean" "" "Bake in a water bath at 325 F until set; burn the sugar on top."

printf 'TeachText 7.0' >"$work/vers"
printf '\x1dThe sample application.' >"$work/str"
perl -e 'print pack("C*", map { ($_ * 37 + 11) % 256 } 0 .. 1999)' >"$work/code"
"${macfiles[@]}" rsrcfork "$work/app.rsrc" "vers:1:$work/vers" "STR :128:$work/str" \
    "CODE:0:$work/code" "CODE:1:$work/code"
perl -e 'print pack("C*", map { ($_ * 5) % 256 } 0 .. 255)' >"$work/icon"
"${macfiles[@]}" rsrcfork "$work/icons.rsrc" "ICN#:128:$work/icon" "ICN#:129:$work/icon"

mkdir -p "$(dirname "$output")"
rm -f "$output"
head -c $((800 * 1024)) /dev/zero >"$output"
hformat -l "Quarry Sample" "$output" >/dev/null
hmount "$output" >/dev/null

add : "Read Me" TEXT ttxt "$work/readme" - "1996-04-02 09:00:00" "1996-04-02 09:15:00"
hmkdir ":Applications" ":Documents" ":Documents:Recipes" ":Pictures"
add :Applications: "TeachText" APPL ttxt - "$work/app.rsrc" "1993-08-12 12:00:00" "1993-08-12 12:00:00"
add :Documents: "Letter to Grandma" TEXT ttxt "$work/letter" - "1995-12-20 18:30:00" "1995-12-21 08:05:00"
add :Documents: "To Do List" TEXT ttxt "$work/todo" - "1996-03-01 10:00:00" "1996-03-28 17:45:00"
add :Documents:Recipes: "Apple Pie" TEXT ttxt "$work/pie" - "1994-10-09 15:20:00" "1994-10-09 15:20:00"
add :Documents:Recipes: $'Cr\x8fme Br\x9el\x8ee' TEXT ttxt "$work/creme" - "1995-02-14 19:00:00" "1995-02-14 19:40:00"
add :Pictures: "Sunset" PICT ttxt "$work/sunset.pict" - "1996-07-04 20:45:00" "1996-07-04 20:45:00"
add :Pictures: "Icons" rsrc RSED - "$work/icons.rsrc" "1992-01-15 11:11:00" "1992-01-15 11:11:00"

echo "wrote $output"
