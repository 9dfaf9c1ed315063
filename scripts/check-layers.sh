#!/usr/bin/env bash
# Fails on an include that points up the layers: the protocol sees only src/common, and nothing
# below the windows sees Qt or the windows (src/ui, src/trace, src/app). Prints each offending
# line with the rule it breaks.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
# forbid <folder under src> <extended regex of the included path> <rule>
forbid() {
    local folder=$1 included=$2 rule=$3 hits
    if hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($included)" \
        "src/$folder"); then
        printf '%s\n' "$hits" | sed "s|\$|    <- $rule|"
        status=1
    fi
}

for folder in common protocol state net; do
    forbid "$folder" "Q" "no Qt below the windows"
    forbid "$folder" "(ui|trace|app)/" "no window below the windows"
done
forbid common "(protocol|state|net)/" "src/common is the bottom layer"
forbid protocol "(state|net)/" "the protocol depends on src/common only"

[ "$status" -eq 0 ] && echo "layer includes: clean"
exit "$status"
