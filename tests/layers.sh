#!/usr/bin/env bash
# Fails when an include climbs a layer. Each folder of src/ may include from itself and from the
# folders below it on the ladder; gui/ and cli/ stand side by side at the top. A folder inside a
# layer (device/containers/) belongs to that layer.
#   tests/layers.sh [SRC_DIR]
set -euo pipefail
src=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../src" && pwd)}

ladder=(common device volume hfs hfsplus mfs copy app dump commands dialogs)
declare -A allowed
below=""
for layer in "${ladder[@]}"; do
    below="$below $layer"
    allowed[$layer]=$below
done
allowed[gui]="$below gui"
allowed[cli]="$below cli"

climbs=0
for dir in "$src"/*/; do
    layer=$(basename "$dir")
    if [[ -z ${allowed[$layer]+set} ]]; then
        echo "layers: src/$layer/ is on no layer of the ladder (tests/layers.sh)"
        climbs=1
        continue
    fi
    while IFS= read -r hit; do
        file=${hit%%:*}
        target=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$hit")
        if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
            echo "layers: ${file#"$src"/} includes from $target/, above $layer/"
            climbs=1
        fi
    done < <(grep -rHE --include='*.h' --include='*.cpp' '^#include "[a-z_]+/' "$dir" || true)
done
exit $climbs
