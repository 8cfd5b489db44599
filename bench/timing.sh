# Sourced by the benchmark scripts, after they set $work. best NAME COMMAND...: runs the command
# three times, each after `prepare` (which a script may define again; by default it makes a fresh
# $work/out), and prints the best wall-clock time.
prepare() { rm -rf "$work/out"; mkdir "$work/out"; }

best() {
  local name=$1; shift
  local min="" start end t
  for _ in 1 2 3; do
    prepare
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || echo "  ($name failed)" >&2
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc)
    if [ -z "$min" ] || [ "$(echo "$t < $min" | bc)" = 1 ]; then min=$t; fi
  done
  printf '%-56s %8.3f s\n' "$name" "$min"
}
