# Sourced by the benchmark scripts, after they set $work. best NAME COMMAND...: runs the command
# three times, each after `prepare` (which a script may define again; by default it makes a fresh
# $work/out), and prints the best wall-clock time and the processor time (user + system) of that
# run. On a machine busy with other work the processor time is the steadier of the two.
prepare() { rm -rf "$work/out"; mkdir "$work/out"; }

best() {
  local name=$1; shift
  local min="" cpu="" wall user system used failed TIMEFORMAT='%R %U %S'
  for _ in 1 2 3; do
    prepare
    # The shell's own timer, so that a command may be a function of the script.
    failed=""
    { time { "$@" >/dev/null 2>&1 || failed=1; }; } 2> "$work/.time"
    [ -z "$failed" ] || echo "  ($name failed)" >&2
    read -r wall user system < <(grep -E '^[0-9.]+ [0-9.]+ [0-9.]+$' "$work/.time" | tail -1)
    used=$(echo "$user + $system" | bc)
    if [ -z "$min" ] || [ "$(echo "$wall < $min" | bc)" = 1 ]; then min=$wall; cpu=$used; fi
  done
  printf '%-56s %8.3f s  (cpu %.2f s)\n' "$name" "$min" "$cpu"
}
