#!/usr/bin/env bash
# Fails on an include that points up the layers: the protocol sees only src/common, the history
# store sits above the state, and nothing below the windows sees Qt or the windows (src/ui,
# src/trace, src/busstats_window, src/app). Prints each offending line with the rule it breaks.
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

for folder in common protocol state net history busstats capture_file recording command_watch metrics mqtt remote bridge; do
    forbid "$folder" "Q" "no Qt below the windows"
    forbid "$folder" "(ui|trace|app|busstats_window|recording_window)/" "no window below the windows"
done
# The replay may drive the event loop (QtCore) but sees no window.
forbid replay "(ui|trace|app|busstats_window|replay_window|Q[a-z]*Widgets|QWidget)" \
    "the replay sees no window"
forbid capture_file "(protocol|state|net|history|busstats)/" "capture files hold frames only"
forbid common "(protocol|state|net)/" "src/common is the bottom layer"
forbid protocol "(state|net|history)/" "the protocol depends on src/common only"
forbid state "(net|history)/" "the state sees no transport and no store"
forbid history "net/" "the history store sees no transport"
forbid recording "(protocol|state|net|history)/" "the recording sees only capture files and src/common"
forbid command_watch "(net|history)/" "the command watch reads the state only"
forbid metrics "(net|history|eventlog|trend)/" "the metrics render the bus statistics only"
forbid mqtt "(protocol|state|history|busstats|remote)/" "the broker link knows nothing of the bus"
forbid remote "(state|history|busstats)/" "the remote source only hands datagrams on"

[ "$status" -eq 0 ] && echo "layer includes: clean"
exit "$status"
