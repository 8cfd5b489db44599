#!/usr/bin/env bash
# Makes the benchmark volumes in OUTDIR (default /tmp/quarry-bench) with genisoimage:
#   many.iso  20,000 small files in 100 folders of 200, an HFS hybrid with a partition map
#   large.iso one 200 MB file of random bytes, and a small file after it
#   thousand.iso one folder of 1,000 small files
# and with hfsutils:
#   lookup.hfs  20,000 empty files with pseudo-random names (letters of both cases, digits,
#               spaces, punctuation, Macintosh Roman bytes 0x80-0xFF; 1 to 31 bytes) in the
#               root folder and three folders, and beside it lookup-names.txt: each name as
#               raw bytes on a line of its own, "Folder:name" for names in a folder. The names
#               are reproducible: every run makes the same ones.
#   write.hfs   20,000 empty files: 19,000 in the root and 1,000 in the folder "Thousand", for
#               the changing commands
set -euo pipefail
out=${1:-/tmp/quarry-bench}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -s "$out/many.iso" ]; then
  mkdir -p "$work/many"
  for d in $(seq -w 0 99); do
    mkdir "$work/many/folder$d"
    for f in $(seq -w 0 199); do printf 'file %s of folder %s\n' "$f" "$d" > "$work/many/folder$d/f$f.txt"; done
  done
  genisoimage -quiet -hfs -part -V MANY -hfs-volid "Many Files" -o "$out/many.iso" "$work/many"
fi
if [ ! -s "$out/large.iso" ]; then
  mkdir -p "$work/large"
  head -c 209715200 /dev/urandom > "$work/large/large.bin"
  printf 'after the large file\n' > "$work/large/zz.txt"
  genisoimage -quiet -hfs -part -V LARGE -hfs-volid "Large File" -o "$out/large.iso" "$work/large"
fi
if [ ! -s "$out/thousand.iso" ]; then
  mkdir -p "$work/thousand/Small Files"
  for f in $(seq -w 0 999); do head -c $((1000 + 10#$f * 7)) /dev/urandom > "$work/thousand/Small Files/file$f.dat"; done
  genisoimage -quiet -hfs -part -V THOUSAND -hfs-volid "Thousand" -o "$out/thousand.iso" "$work/thousand"
fi
if [ ! -s "$out/lookup.hfs" ] || [ ! -s "$out/lookup-names.txt" ]; then
  mkdir -p "$work/lookup"
  # Folder k of the volume gets its files from $work/lookup/k, whose names are listed
  # NUL-separated in $work/lookup/k.list; folder 0 is the root.
  perl - "$work/lookup" "$work/lookup-names.txt" <<'PERL'
use strict;
use warnings;
my ($dir, $listFile) = @ARGV;
# Folder names without the characters hfsutils takes for patterns in a path: * ? [ ] \
my @folders = ('', 'Documents', "Caf\x8e Bilder", "zz \xa5 Archive");
my @counts = (5000, 6000, 5000, 4000);  # 20,000 files in all

# A 31-bit linear congruential generator started from one constant: the same names on every machine.
my $x = 20240611;
sub rnd { my ($n) = @_; $x = ($x * 1103515245 + 12345) & 0x7fffffff; return ($x >> 8) % $n; }

my @letters = ('A'..'Z', 'a'..'z');
my @digits = ('0'..'9');
# No '_': hcopy turns it into a space. No ':', hfsutils' path separator, and no '*', the
# program's wildcard.
my @punct = (' ', '^', '[', ']', '!', '~', '-', '(', ')', '.', ',', '&', '#', '+', '=', "'", '@', '%', '?');
my @high = map { chr } 0x80..0xFF;
sub char {
    my $r = rnd(100);
    return $letters[rnd(scalar @letters)] if $r < 50;
    return $digits[rnd(scalar @digits)] if $r < 60;
    return $punct[rnd(scalar @punct)] if $r < 75;
    return $high[rnd(scalar @high)];
}
# A key coarser than any case-insensitive Macintosh name comparison: letters without case,
# digits as they are, and every other byte alike. Names with different keys can never be
# taken for one another, whatever the order of punctuation and accented letters.
sub key { my ($s) = @_; $s = lc $s; $s =~ s/[^a-z0-9]/./g; return $s; }

open(my $names, '>:raw', $listFile) or die "$listFile: $!";
my %rootKeys = map { (key($_) => 1) } grep { $_ ne '' } @folders;
my $counter = 0;
for my $f (0..$#folders) {
    mkdir "$dir/$f" or die "$dir/$f: $!";
    open(my $list, '>:raw', "$dir/$f.list") or die "$dir/$f.list: $!";
    my %seen = $f == 0 ? %rootKeys : ();
    for (1..$counts[$f]) {
        my $len = 1 + rnd(31);
        my $name;
        while (1) {
            $name = join '', map { char() } 1..$len;
            # The program drops trailing spaces from the names it compares.
            $name =~ s/ +$//;
            if ($name eq '' || $seen{key($name)}) {
                # Taken: end the name with a counter no other name ends with.
                my $tail = '~' . $counter++;
                $name = substr($name, 0, 31 - length $tail) . $tail;
                $name = substr($name, length($name) - 31) if length $name > 31;
            }
            last unless $seen{key($name)};
        }
        $seen{key($name)} = 1;
        open(my $out, '>:raw', "$dir/$f/$name") or die "$dir/$f/$name: $!";
        close $out;
        print $list "$dir/$f/$name\0";
        my $path = ($folders[$f] eq '' ? '' : "$folders[$f]:") . $name;
        print $names "$path\n";
    }
    close $list;
    open(my $hfsName, '>:raw', "$dir/$f.name") or die;
    print $hfsName $folders[$f];
    close $hfsName;
}
close $names;
PERL
  mkdir "$work/home"
  export HOME="$work/home"  # hfsutils keeps its current volume in $HOME/.hcwd
  head -c 41943040 /dev/zero > "$work/lookup.hfs"
  hformat -l "Lookup" "$work/lookup.hfs" > /dev/null
  hmount "$work/lookup.hfs" > /dev/null
  for list in "$work"/lookup/*.list; do
    folder=$(cat "${list%.list}.name")
    [ -z "$folder" ] || hmkdir ":$folder"
    xargs -0 -a "$list" sh -c 'hcopy -r "$@" "$0"' ":$folder${folder:+:}"
  done
  # The volume must hold exactly the listed names: every file, byte for byte.
  for name in "$work"/lookup/*.name; do
    folder=$(cat "$name")
    hls -a -1 -F ":$folder" | LC_ALL=C grep -v ':$' | LC_ALL=C sed "s/^/$folder${folder:+:}/" || true
  done | LC_ALL=C sort > "$work/lookup-found.txt"
  humount
  if ! LC_ALL=C sort "$work/lookup-names.txt" | cmp -s - "$work/lookup-found.txt"; then
    echo "lookup.hfs does not hold the listed names: $(wc -l < "$work/lookup-found.txt") files, $(wc -l < "$work/lookup-names.txt") names" >&2
    exit 1
  fi
  echo "lookup.hfs: $(wc -l < "$work/lookup-found.txt") files"
  mv "$work/lookup.hfs" "$out/lookup.hfs"
  mv "$work/lookup-names.txt" "$out/lookup-names.txt"
fi
if [ ! -s "$out/write.hfs" ]; then
  mkdir -p "$work/write/root" "$work/write/thousand" "$work/whome"
  (cd "$work/write/root" && for i in $(seq 1 19000); do : > "file $i"; done)
  (cd "$work/write/thousand" && for i in $(seq 1 1000); do : > "member $i"; done)
  head -c 41943040 /dev/zero > "$work/write.hfs"
  HOME="$work/whome" hformat -l "Write" "$work/write.hfs" > /dev/null
  (export HOME="$work/whome"; hmount "$work/write.hfs" > /dev/null && hcopy -r "$work/write/root/"* : &&
   hmkdir :Thousand && hcopy -r "$work/write/thousand/"* :Thousand: && humount)
  mv "$work/write.hfs" "$out/write.hfs"
fi
ls -l "$out"
