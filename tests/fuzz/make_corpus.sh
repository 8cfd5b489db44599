#!/usr/bin/env bash
# Makes the starting corpus of the fuzz harnesses from the test volumes, into tests/fuzz/corpus/.
#   tests/fuzz/make_corpus.sh FIXTURE_DIR     (the build's tests/fixtures, made by make_fixtures.sh)
# Volumes are cut after their last sector that is not all zeros: the image adapter reads zeros
# past an image's end, so a mount sees the same volume, and the fuzzer works on a few kilobytes
# instead of megabytes. The partition maps the tools cannot make (an old "TS" map, a driver
# descriptor announcing 2048-byte blocks) are put in front of basic.hfs here.
set -euo pipefail
fixtures=${1:?usage: make_corpus.sh FIXTURE_DIR}
out=$(cd "$(dirname "$0")" && pwd)/corpus
mkdir -p "$out"/{mount,command_line,type_creator,macbinary,lzvn,decmpfs,partition_scan,hfsplus,changes,forms,dart}
rm -f "$out"/*/*

# cut IMAGE [MAX_BYTES]: the image without its alternate MDB (the second-to-last sector, which
# the read side never uses) and the zero sectors before it, at most MAX_BYTES long.
cut() {
  perl -e 'local $/; my $b = <STDIN>; substr($b, -1024) = "\0" x 1024 if length($b) >= 1024; $b =~ s/\0+\z//; my $n = int((length($b) + 511) / 512) * 512;
           $n = $ARGV[0] if $ARGV[0] && $n > $ARGV[0]; print substr($b . ("\0" x 512), 0, $n)' "${2:-0}" < "$1"
}
# wrap KIND START SECTORS < VOLUME: the volume (SECTORS long before it was cut) at 512-byte sector
# START behind an old "TS" map ("ts") or behind a driver descriptor of 2048-byte blocks and an
# Apple partition map ("apm2048").
wrap() {
  perl -e 'my ($kind, $start, $sectors) = @ARGV; local $/; my $v = <STDIN>; my $m = "\0" x (512 * $start);
    if ($kind eq "ts") { substr($m, 512, 6) = pack("a2N", "TS", $start); }
    else {
      my $total = $start + $sectors;
      substr($m, 0, 8) = pack("a2nN", "ER", 2048, int(($total * 512 + 2047) / 2048));
      my @e = (["Apple", "Apple_partition_map", 1, 2], ["Macintosh", "Apple_HFS", $start, $total - $start]);
      for my $i (0 .. $#e) {
        substr($m, 512 * ($i + 1), 80) = pack("a2x2NNNa32a32", "PM", 2, $e[$i][2], $e[$i][3], $e[$i][0], $e[$i][1]);
      }
    }
    print $m, $v' "$1" "$2" "$3"
}

m=$out/mount
cut "$fixtures/basic.hfs" > "$m/basic"
cut "$fixtures/fragmented.hfs" 196608 > "$m/fragmented"
cut "$fixtures/catalog-overflow.hfs" > "$m/catalog-overflow"
cut "$fixtures/hybrid.iso" > "$m/hybrid-apm"
cut "$fixtures/names-3.hfs" > "$m/names-3"
cut "$fixtures/truncated.hfs" > "$m/truncated"
cut "$fixtures/msdos.img" 1024 > "$m/msdos"
wrap ts 64 2880 < "$m/basic" > "$m/basic-ts-map"
wrap apm2048 64 2880 < "$m/basic" > "$m/basic-apm-2048"
# MFS floppies from their builder (fixtures/mfs_build.py): a few files with both forks, and the
# same with the Finder's Desktop file and two folders, one inside the other.
mfs() {
  local plan
  plan=$(mktemp)
  printf '%s' "$2" > "$plan"
  python3 "$(dirname "$0")/../fixtures/mfs_build.py" build "$plan" "$plan.img"
  cut "$plan.img" > "$m/$1"
  rm -f "$plan" "$plan.img"
}
mfs mfs '{"name": "Old Disk", "files": [{"name": "Read Me", "data": {"text": "Hello"}, "rsrc": {"len": 1500, "pattern": 1}},
  {"name": "Chain", "type": "APPL", "creator": "TEST", "data": {"len": 3000, "pattern": 2}}, {"name": "Empty"}]}'
mfs mfs-folders '{"name": "Folders", "files": [{"name": "Read Me", "folder": 5, "data": {"text": "Hello"}},
  {"name": "Chain", "folder": 6, "data": {"len": 1500, "pattern": 2}}, {"name": "Trash", "folder": -3}],
  "folders": [{"id": 5, "parent": 0, "name": "Outer"}, {"id": 6, "parent": 5, "name": "Inner"}]}'
# The folders' floppy as archives pass disk images around: in MacBinary II and in BinHex, as
# hfsutils writes them.
home=$(mktemp -d)
dd if=/dev/zero of="$home/carrier" bs=1k count=800 2>/dev/null
HOME=$home hformat -l Carrier "$home/carrier" >/dev/null
HOME=$home hcopy -r "$m/mfs-folders" :floppy
HOME=$home hcopy -m :floppy "$m/mfs-folders-macbinary"
HOME=$home hcopy -b :floppy "$m/mfs-folders-binhex"
HOME=$home humount
rm -rf "$home"

c=$out/command_line
printf 'COPY "Big Forks" /B' > "$c/copy-macbinary"
printf 'cd "Docs:Old Drafts"' > "$c/cd-quoted"
printf 'CD..' > "$c/cd-parent"
printf 'dir /a *e*' > "$c/dir-switches"
printf 'ren "Caf\216 Menu" "Menu \251"' > "$c/rename-high-bytes"
printf 'SWAP Puzzle -r -d' > "$c/swap"

t=$out/type_creator
printf '# a comment\nTXT TEXTttxt\nPCT "PICTttxt"\n  bin\tBINAhDmp\nXYZ ????????\n' > "$t/rows"
printf 'TXT\nTX' > "$t/short-lines"

# macbinary: name length, name, then the 102-byte catalog file record.
perl -e 'my $name = "Big Forks"; my $rec = pack("CCCC a4a4 nnnn N n NN n NN NN", 2, 0, 0, 0,
  "BINA", "hDmp", 0x0100, 10, 20, 0, 17, 0, 5000, 5120, 0, 1500, 1536, 0xB6D1A3E7, 0xB6D1B1F8);
  print chr(length $name), $name, $rec, "\0" x (102 - length $rec)' > "$out/macbinary/big-forks"
perl -e 'my $name = "  " . ("N" x 70); print chr(length $name), $name, "\x02\x00\x00\x00APPLMACS\xff\xff"' \
  > "$out/macbinary/long-name"

# lzvn: the output length in 2-byte units (little-endian), then a stream assembled by hand: one
# with every opcode kind, one all literals, one long run of a byte.
z=$out/lzvn
perl -e 'print pack("v", 31), "\xE3abc", "\x48\x02c", "\xA1\x0D\x00", "\x46q", "\xF5", "\xF0\x02",
  "\x0E\x16", "\xE0\x00", "0123456789abcdef", "\x07\x10\x00", "\x06", "\0" x 7' > "$z/every-opcode"
perl -e 'print pack("v", 8), "\xEFfifteen literal", "\xE1!", "\x06", "\0" x 7' > "$z/literals"
perl -e 'print pack("v", 500), "\xE1z", "\x00\x01", ("\xF0\xFF") x 3, "\xF0\xA7", "\x06", "\0" x 7' > "$z/long-run"

# decmpfs: the attribute's length (little-endian), the attribute, then the resource fork, as the
# fixture builder lays them out: inline zlib and stored data, a zlib fork (type 4) whose second
# chunk is stored, an LZVN fork (type 8) of every opcode kind.
python3 - "$out/decmpfs" "$(dirname "$0")/../fixtures" <<'EOF'
import struct, sys
sys.path.insert(0, sys.argv[2])
import hfsplus_build as b
for name, kind, data in (("zlib-inline", 3, b.text(1, 3000)), ("stored-inline", 9, b"Hello"),
                         ("zlib-fork", 4, b.text(2, 65536) + b.noise(3, 300)), ("lzvn-fork", 8, b.repeats(4, 70000))):
    attr, rsrc = b.compress(kind, data)
    open(f"{sys.argv[1]}/{name}", "wb").write(struct.pack("<H", len(attr)) + attr + rsrc)
EOF

# partition_scan: the maps of the partition fixtures, cut after the first sectors of their HFS+
# volume (the scan reads no further), and small GPT and MBR disks made the same way.
p=$out/partition_scan
head -c 67584 "$fixtures/partitions/apm-xorriso.iso" > "$p/apm-512"
head -c 67584 "$fixtures/partitions/apm-xorriso-2048.iso" > "$p/apm-2048"
cp "$fixtures/partitions/wrapped.hfs" "$p/wrapped-hfs"
head -c 65536 /dev/zero > "$p/gpt"
sgdisk -n 1:40:+4K -t 1:AF00 -c 1:Plus -n 2:48:+4K -t 2:AF0A "$p/gpt" >/dev/null
dd if="$fixtures/partitions/plus.hfs" of="$p/gpt" bs=512 seek=40 count=4 conv=notrunc status=none
head -c 65536 /dev/zero > "$p/mbr"
printf 'start=32, size=32, type=af\nstart=64, size=32, type=b\n' | sfdisk -q "$p/mbr" >/dev/null
dd if="$fixtures/partitions/plus.hfs" of="$p/mbr" bs=512 seek=32 count=4 conv=notrunc status=none

# hfsplus: a small HFS+ volume written by xorriso (nested folders, names in several scripts, a
# file of several blocks), taken out of its partition map, bare and inside an HFS wrapper whose
# MDB places it at block 2 of 4096-byte blocks from sector 16.
if command -v xorriso >/dev/null; then
  tree=$(mktemp -d)
  mkdir -p "$tree/Docs/Deep" "$tree/Ελληνικά"
  printf 'hello\n' >"$tree/Read Me"; printf 'caf\n' >"$tree/Café"; printf 'x\n' >"$tree/Docs/Deep/leaf"
  printf 'a\n' >"$tree/Ελληνικά/άλφα"; for i in 1 2 3 4 5 6; do printf '%s\n' $i >"$tree/Docs/f$i"; done
  head -c 20000 /dev/zero | tr '\0' 'q' >"$tree/several-blocks"
  LC_ALL=C.UTF-8 xorriso -as mkisofs -quiet -hfsplus -V SMALL -hfsplus-file-creator-type ttxt TEXT "/Read Me" \
    -o "$tree.iso" "$tree" 2>/dev/null
  perl -e 'local $/; my $d = <STDIN>; my $bs = unpack("n", substr($d, 2, 2));
    for my $e (1 .. 16) { my $m = substr($d, $e * $bs, 512);
      if (substr($m, 48, 9) eq "Apple_HFS") { my ($s, $n) = unpack("NN", substr($m, 8, 8)); print substr($d, $s * $bs, $n * $bs); exit } }' \
    <"$tree.iso" >"$tree.part"
  cut "$tree.part" > "$out/hfsplus/small"
  perl -e 'local $/; my $v = <STDIN>; my $w = "\0" x (16 * 512 + 2 * 4096); my $blocks = int((length($v) + 4095) / 4096);
    substr($w, 1024, 2) = "BD"; substr($w, 1024 + 18, 2) = pack("n", $blocks + 2); substr($w, 1024 + 20, 4) = pack("N", 4096);
    substr($w, 1024 + 28, 2) = pack("n", 16); substr($w, 1024 + 0x7C, 6) = pack("a2nn", "H+", 2, $blocks); print $w, $v' \
    <"$out/hfsplus/small" >"$out/hfsplus/small-wrapped"
  rm -rf "$tree" "$tree.iso" "$tree.part"
fi
# A journaled volume whose journal holds two block lists not yet written home, the first
# running on past the journal's end (the fixture journaled.hfsp, made smaller).
python3 - "$out/hfsplus/journaled" "$(dirname "$0")/../fixtures" <<'EOF'
import sys
sys.path.insert(0, sys.argv[2])
import hfsplus_build as b
before, _ = b.journaled_volume(1 << 19, 64 * 1024)
b.write_image(sys.argv[1] + ".whole", *before.image())
EOF
cut "$out/hfsplus/journaled.whole" > "$out/hfsplus/journaled"
rm "$out/hfsplus/journaled.whole"

# changes: a byte choosing the volume (0 basic, 1 fragmented, 2 catalog-overflow); a byte whose
# low two bits count the damages and whose bit 2 answers yes to every question; the damages as
# region (0 catalog, 1 extents tree, 2 bitmap, 3 MDB), node, offset and xor mask; then lines of
# a digit choosing the word (0 MD, 1 DEL, 2 REN, 3 SWAP, 4 RD, 5 CD, 6 CD .., 7 CD \) and what
# is typed after it.
g=$out/changes
changes() { perl -e 'my ($name, $vol, $flags, $damage, $lines) = @ARGV; open my $f, ">", $name or die;
  print $f pack("CC", $vol, $flags), pack("H*", $damage), $lines' "$g/$1" "$2" "$3" "$4" "$5"; }
changes basic 0 4 "" $'0"New things"\n5Docs\n1Manual\n6\n4"Empty Folder"\n2Puzzle Jigsaw\n3"Big Forks"\n2T* Tr*'
changes basic-no-answers 0 0 "" $'4Docs\n1D*\n0A\n0a\n2A Docs'
changes fragmented 1 4 "" $'3"Scattered Data"\n1Scattered*\n0Fresh\n5Filler\n1F00*\n0"Many more"'
changes catalog-overflow 2 4 "" $'5Filler\n1F1*\n0"A new one"\n2F2* G2*\n7\n4Filler'
# A folder's name apart from its thread, a record's ID above the next free one, the catalog
# header's node count, an extents key, a bitmap byte, the MDB's file count and free blocks.
changes catalog-leaf 0 5 "0001008010" $'0Fresh\n1Puzzle\n2Docs Papers'
changes catalog-ids 0 5 "0002003004" $'0Fresh\n0"And another"\n2Puzzle Jigsaw'
changes catalog-header 0 5 "0000002401" $'0Fresh\n5Docs\n1*'
changes extents-leaf 1 5 "0101000e08" $'1Scattered*\n0Fresh'
changes bitmap 0 5 "0200000080" $'0First\n0Second\n1Read*'
changes mdb-counts 0 6 "0300005401""030000220f" $'0Fresh\n4"Empty Folder"'

du -sh "$out"

# forms: a file with both forks, Finder flags and old dates in each form PUT knows, as hfsutils
# writes MacBinary II and BinHex and as quarry-cli writes AppleSingle and AppleDouble.
f=$out/forms
home=$(mktemp -d)
HOME=$home hmount "$fixtures/formats.hfs" >/dev/null
HOME=$home hcopy -m :Runs "$f/macbinary2"
HOME=$home hcopy -b :Runs "$f/binhex"
HOME=$home humount
cli=$fixtures/../../src/quarry-cli
for form in applesingle appledouble; do
  "$cli" --binary-format $form --to "$home" "$fixtures/formats.hfs" "COPY /B Runs" >/dev/null
done
cp "$home/Runs.txt.as" "$f/applesingle"
cp "$home/._Runs.txt" "$f/appledouble-header"
rm -rf "$home"

# dart: blank 800K and 1440K HFS floppies made by hformat, as DART images packed with the
# run-length code (a few hundred bytes each); the fuzzer reaches the LZH decoder by changing the
# packing byte.
d=$out/dart
home=$(mktemp -d)
for size in 800 1440; do
  head -c $((size * 1024)) /dev/zero >"$home/disk"
  HOME=$home hformat -l "Blank $size" "$home/disk" >/dev/null
  perl -e 'my $type = $ARGV[0]; local $/; my $disk = <STDIN>; my $kb = length($disk) / 1024;
    my ($head, $body) = (pack("CCn", 0, $type, $kb), "");
    for my $i (0 .. ($kb == 1440 ? 71 : 39)) {
      if ($i * 20480 >= length $disk) { $head .= pack("n", 0); next }
      my @w = unpack("n*", substr($disk, $i * 20480, 20480) . ("\0" x 480));
      my ($out, @lit) = ("");
      for (my $j = 0; $j < @w;) {
        my $n = 1; $n++ while $j + $n < @w && $w[$j + $n] == $w[$j];
        if ($n >= 3) { $out .= pack("n*", scalar @lit, @lit) if @lit; @lit = (); $out .= pack("nn", 65536 - $n, $w[$j]) }
        else { push @lit, @w[$j .. $j + $n - 1] }
        $j += $n;
      }
      $out .= pack("n*", scalar @lit, @lit) if @lit;
      $head .= pack("n", length($out) / 2); $body .= $out;
    }
    print $head, $body' $([ $size = 1440 ] && echo 16 || echo 1) <"$home/disk" >"$d/blank-$size"
done
rm -rf "$home"
