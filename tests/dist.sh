#!/usr/bin/env bash
# What an installation of Quarry holds, checked with the tools desktops and Debian use (each
# case below says what it checks):
#   dist.sh desktop|mime|man|options|completion|package SOURCE_DIR BUILD_DIR VERSION
# Exit status 77 (a skipped test) only when a tool the case needs is missing;
# scripts/install-deps.sh installs them all.
set -euo pipefail
shopt -s extglob

case_name=$1
src=$(cd "$2" && pwd)
build=$(cd "$3" && pwd)
version=$4
fixtures=$build/tests/fixtures
# A build without the desktop program (QUARRY_BUILD_GUI=OFF) installs quarry-cli's files alone.
programs=(quarry-cli)
[[ -x $build/src/quarry ]] && programs+=(quarry)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps.sh)"; exit 77; }
  done
}

# --- desktop-file-validate on the desktop entry; every MIME type it names is known
check_desktop() {
  need desktop-file-validate update-mime-database
  local entry=$src/dist/quarry.desktop out
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
  [[ -z $out ]] || fail "desktop-file-validate warns: $out"
  # A type misspelt in MimeType= is accepted by every validator and matches no file.
  make_mime_database
  local types type
  types=$(sed -n 's/^MimeType=//p' "$entry" | tr ';' '\n')
  [[ -n $types ]] || fail "the desktop entry names no MIME type"
  for type in $types; do
    [[ -f $tmp/mime/$type.xml || -f /usr/share/mime/$type.xml ]] || fail "MimeType= names $type, which no database defines"
  done
}

# --- xmllint on the MIME definitions; GLib's detection (gio info, with XDG_DATA_DIRS on a
# database made by update-mime-database) of real images and of decoys
make_mime_database() {
  [[ -d $tmp/mime ]] && return
  mkdir -p "$tmp/mime/packages"
  cp "$src/dist/quarry-mime.xml" "$tmp/mime/packages/quarry.xml"
  XDG_DATA_DIRS="$tmp:/usr/share" update-mime-database "$tmp/mime" || fail "update-mime-database refused the MIME definitions"
}

check_mime() {
  need xmllint update-mime-database gio
  xmllint --noout "$src/dist/quarry-mime.xml" || fail "xmllint: the MIME definitions are not well-formed XML"
  make_mime_database
  local files=$tmp/files
  mkdir -p "$files"
  printf 'Shopping list\nbread\nmilk\n' >"$files/text"
  # The start of a CorelDRAW drawing, as freedesktop.org's rule for .cdr knows it.
  { printf 'RIFF\x10\x00\x00\x00CDR9vrsnLIST'; head -c 2048 /dev/zero; } >"$files/drawing"
  # Each row: a file as it is named here, the file it is a copy of, the type GLib must see. A
  # name without an extension leaves the choice to the content alone.
  local rows=(
    "basic.hfs            $fixtures/basic.hfs                         application/x-hfs-disk-image"
    "Disc.toast           $fixtures/hybrid.iso                        application/x-hfs-disk-image"
    "floppy.dsk           $fixtures/basic.hfs                         application/x-hfs-disk-image"
    "bare-volume          $fixtures/basic.hfs                         application/x-hfs-disk-image"
    "partitioned-cd       $fixtures/hybrid.iso                        application/x-hfs-disk-image"
    # .cdr is CorelDRAW's too: where two names fit, the content decides.
    "Disc.cdr             $fixtures/hybrid.iso                        application/x-hfs-disk-image"
    "Drawing.cdr          $files/drawing                              application/vnd.corel-draw"
    "basic.dc42           $fixtures/containers/basic.dc42             application/x-diskcopy-image"
    "Floppy.image         $fixtures/containers/basic.dc42             application/x-diskcopy-image"
    "diskcopy-floppy      $fixtures/containers/basic.dc42             application/x-diskcopy-image"
    "basic.dmg            $fixtures/containers/basic-zlib.dmg         application/x-apple-diskimage"
    "hybrid.cue           $fixtures/containers/hybrid-mode1.cue       application/x-cue"
    "hybrid.iso           $fixtures/hybrid.iso                        application/x-cd-image"
    # The decoys: no Macintosh magic, so the content never makes them ours.
    "plain.iso            $fixtures/plain.iso                         application/x-cd-image"
    "plain-cd             $fixtures/plain.iso                         application/octet-stream"
    "msdos.img            $fixtures/msdos.img                         application/x-raw-disk-image"
    "random-bytes         $fixtures/random.img                        application/octet-stream"
    "notes                $files/text                                 text/plain"
    # A name that fits decides without the content, by the rules of shared-mime-info: a text
    # file named .dsk is offered to Quarry, which reads its content and refuses it.
    "notes.dsk            $files/text                                 application/x-hfs-disk-image"
  )
  local row name from want got
  for row in "${rows[@]}"; do
    read -r name from want <<<"$row"
    cp "$from" "$files/$name"
    got=$(XDG_DATA_DIRS="$tmp:/usr/share" XDG_DATA_HOME="$tmp/none" gio info -a standard::content-type "$files/$name" |
      sed -n 's/^ *standard::content-type: //p')
    [[ $got == "$want" ]] || fail "$name (a copy of ${from##*/}): GLib sees $got, expected $want"
  done
}

# --- man --warnings renders both pages without a warning
check_man() {
  need man
  local page out
  for page in "${programs[@]}"; do
    [[ -f $build/dist/man/$page.1 ]] || { fail "$page.1 was not made (is scdoc installed?)"; continue; }
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$build/dist/man/$page.1" 2>&1 >/dev/null)
    [[ -z $out ]] || fail "man --warnings on $page.1: $out"
  done
}

# --- --help and --version answer on standard output with status 0, without a display; the long
# options that --help lists at the start of its lines are those that the man page's OPTIONS
# section describes, for both programs
check_options() {
  need man
  local program help man only_help only_man
  for program in "${programs[@]}"; do
    help=$("$build/src/$program" --help | sed -n 's/^ \{1,4\}\(--[a-z][a-z-]*\).*/\1/p' | sort -u)
    man=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$build/dist/man/$program.1" 2>/dev/null | sed -n '/^OPTIONS/,/^[A-Z]/p' |
      sed -n 's/^ \{7\}\(--[a-z][a-z-]*\).*/\1/p' | sort -u)
    [[ -n $help && -n $man ]] || fail "$program: no options found in --help or in the man page"
    only_help=$(comm -23 <(echo "$help") <(echo "$man") | tr '\n' ' ')
    only_man=$(comm -13 <(echo "$help") <(echo "$man") | tr '\n' ' ')
    [[ -z $only_help ]] || fail "$program: in --help but not in $program(1): $only_help"
    [[ -z $only_man ]] || fail "$program: in $program(1) but not in --help: $only_man"
    env -u DISPLAY -u WAYLAND_DISPLAY "$build/src/$program" --help >"$tmp/out" 2>"$tmp/err" ||
      fail "$program --help: status $?"
    [[ -s $tmp/out && ! -s $tmp/err ]] || fail "$program --help: the text is not on standard output alone"
    [[ $(env -u DISPLAY -u WAYLAND_DISPLAY "$build/src/$program" --version) == "$program (Quarry) $version" ]] ||
      fail "$program --version does not say \"$program (Quarry) $version\""
  done
  [[ ${#programs[@]} -gt 1 ]] || return 0
  local status=0
  env -u DISPLAY -u WAYLAND_DISPLAY "$build/src/quarry" --no-such-option >/dev/null 2>"$tmp/err" || status=$?
  [[ $status -eq 2 ]] || fail "quarry --no-such-option: status $status, expected 2"
  grep -q -- "--no-such-option" "$tmp/err" || fail "quarry --no-such-option does not name the option"
}

# --- the bash completion, called as bash calls it, offers what it should
check_completion() {
  need bash
  mkdir -p "$tmp/comp/discs" "$tmp/comp/docs"
  touch "$tmp/comp/disk.hfs" "$tmp/comp/--odd.toast"
  # Each row: the words typed so far, the last one being completed, then what is offered.
  local rows=(
    "quarry-cli --na                     | --names"
    "quarry-cli --names ''               | long short"
    "quarry-cli --names s                | short"
    "quarry-cli --binary-format mb       | mb1 mb2 mb3"
    "quarry-cli --binary-format apple    | appledouble applesingle"
    "quarry-cli --port CO                | COM1 COM2 COM3 COM4"
    "quarry-cli --ap                     | --append-log"
    "quarry-cli --to d                   | discs docs"
    "quarry-cli --log d                  | discs disk.hfs docs"
    "quarry-cli --manifest di            | discs disk.hfs"
    "quarry-cli --to discs --yes di      | discs disk.hfs"
    "quarry-cli --names short disk.hfs D | DEL DIR"
    "quarry-cli disk.hfs DIR co          | COPY"
    "quarry-cli --write -- --            | --odd.toast"
    "quarry --w                          | --write"
    "quarry --write di                   | discs disk.hfs"
    "quarry -- --                        | --odd.toast"
  )
  local row typed want got
  for row in "${rows[@]}"; do
    typed=${row%%|*}
    want=$(echo "${row#*|}" | xargs)
    got=$(cd "$tmp/comp" && bash -c '
      source "$1"/dist/completion/quarry-cli
      source "$1"/dist/completion/quarry
      eval "COMP_WORDS=($2)"
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      "$(complete -p "${COMP_WORDS[0]}" | sed "s/.*-F \([^ ]*\) .*/\1/")"
      printf "%s\n" "${COMPREPLY[@]}" | sort | xargs' _ "$src" "$typed" 2>&1)
    [[ $got == "$want" ]] || fail "completing \"$(echo "$typed" | xargs)\": offered \"$got\", expected \"$want\""
  done
}

# --- the .deb: built, unpacked with dpkg-deb -x into a throw-away root, its files, its
# dependencies, no RPATH, stripped; the programs run from there (--version, the man page's batch
# extraction checked with unar)
check_package() {
  need dpkg-deb dpkg-shlibdeps fakeroot readelf strings hls hmount hcopy unar
  "${CMAKE:-cmake}" --build "$build" --target package >"$tmp/package.log" 2>&1 || { cat "$tmp/package.log"; fail "the package target failed"; return; }
  local deb=$build/quarry_${version}_$(dpkg --print-architecture).deb
  [[ -f $deb ]] || { fail "no ${deb##*/} was made"; return; }
  local root=$tmp/root
  dpkg-deb -x "$deb" "$root"

  # Its files, exactly.
  local want=(usr/bin/quarry-cli usr/share/bash-completion/completions/quarry-cli usr/share/man/man1/quarry-cli.1.gz)
  if [[ ${#programs[@]} -gt 1 ]]; then
    want+=(usr/bin/quarry usr/share/applications/quarry.desktop usr/share/bash-completion/completions/quarry
      usr/share/icons/hicolor/scalable/apps/quarry.svg usr/share/man/man1/quarry.1.gz
      usr/share/mime/packages/quarry.xml usr/share/quarry/help/index.html)
    local size
    for size in 16 22 24 32 48 64 128 256; do want+=("usr/share/icons/hicolor/${size}x$size/apps/quarry.png"); done
  fi
  local listed missing extra
  listed=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
  missing=$(comm -23 <(printf '%s\n' "${want[@]}" | sort) <(echo "$listed") | xargs)
  extra=$(comm -13 <(printf '%s\n' "${want[@]}" | sort) <(echo "$listed") | xargs)
  [[ -z $missing ]] || fail "the package lacks: $missing"
  [[ -z $extra ]] || fail "the package holds files nobody asked for: $extra"

  # Its dependencies, found by dpkg-shlibdeps in the programs.
  local depends dep
  depends=$(dpkg-deb -f "$deb" Depends)
  local deps=(libcue2 libzip4 libxml2 libbz2-1.0 zlib1g libc6)
  [[ ${#programs[@]} -gt 1 ]] && deps+=(libqt6widgets6 libqt6gui6 libqt6core6)
  for dep in "${deps[@]}"; do
    [[ $depends == *"$dep"* ]] || fail "Depends lacks $dep: $depends"
  done

  # The programs: no RPATH, no symbol table, and they run from the throw-away root.
  local program
  for program in "${programs[@]}"; do
    # (The output is read whole first: grep -q in a pipe would end readelf early, and under
    # pipefail that would read as no match.)
    [[ $(readelf -d "$root/usr/bin/$program") == *@(RPATH|RUNPATH)* ]] && fail "$program carries an RPATH"
    [[ $(readelf -S "$root/usr/bin/$program") == *@(.symtab|.debug_info)* ]] && fail "$program is not stripped"
    [[ $(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --version) == "$program (Quarry) $version" ]] ||
      fail "the installed $program --version"
  done
  # The desktop program reads its help pages from the data folder beside its own.
  [[ ${#programs[@]} -eq 1 ]] || [[ $(strings "$root/usr/bin/quarry") == *$'\n../share/quarry/help\n'* ]] || fail "quarry does not look for its help in ../share/quarry/help"

  # The batch extraction of quarry-cli(1), as it stands there, on two .toast copies of a CD.
  local example
  example=$(awk '/^\$ find /{on=1} on{print} on && /'"'"' sh$/{exit}' "$src/dist/quarry-cli.1.scd" |
    sed 's/^\$ //; s/\\\\$/\\/')
  [[ -n $example ]] || { fail "no batch extraction example in quarry-cli.1.scd"; return; }
  local work=$tmp/batch
  mkdir -p "$work/discs/2001" "$work/rescued"
  cp "$fixtures/hybrid.iso" "$work/discs/First Disc.toast"
  cp "$fixtures/hybrid.iso" "$work/discs/2001/second.toast"
  (cd "$work" && PATH="$root/usr/bin:$PATH" bash -c "$example") >"$tmp/batch.out" 2>&1 ||
    { cat "$tmp/batch.out"; fail "the batch extraction example failed"; }
  # Every file of the CD, in its folder, holding the data fork hcopy reads. (hls -F marks a
  # folder with ":" at the end of its name; hfsutils keeps its current volume in $HOME.)
  export HOME=$tmp/home
  mkdir -p "$HOME"
  hmount "$fixtures/hybrid.iso" >/dev/null
  local cd_files
  cd_files=$(hls -R -a1F | grep -c -v -e '^$' -e ':$')
  local disc copy rel mac count
  for disc in "First Disc" second; do
    [[ -s $work/rescued/$disc.log ]] || fail "batch: no log rescued/$disc.log"
    [[ -d $work/rescued/$disc ]] || { fail "batch: no folder rescued/$disc"; continue; }
    count=0
    while IFS= read -r -d '' copy; do
      rel=${copy#"$work/rescued/$disc/"}
      rm -rf "$tmp/unpacked"
      unar -q -k skip -o "$tmp/unpacked" "$copy" >/dev/null || { fail "batch: unar does not read $disc/$rel"; continue; }
      mac=$(ls "$tmp/unpacked")
      [[ $rel == */* ]] && mac=${rel%/*}/$mac
      hcopy -r ":${mac//\//:}" - | cmp -s - "$tmp/unpacked/${mac##*/}" || fail "batch: $disc/$rel: the data fork differs from hcopy's"
      count=$((count + 1))
    done < <(find "$work/rescued/$disc" -type f -print0)
    [[ $count -eq $cd_files ]] || fail "batch: $count files in rescued/$disc, $cd_files on the CD"
  done
}

[[ $case_name == @(desktop|mime|man|options|completion|package) ]] ||
  { echo "usage: dist.sh desktop|mime|man|options|completion|package SOURCE_DIR BUILD_DIR VERSION" >&2; exit 2; }
"check_$case_name"
[[ $failures -eq 0 ]] || { echo "$failures failed"; exit 1; }
echo "$case_name: all checks passed"
