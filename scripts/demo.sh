#!/usr/bin/env bash
# Installs what is missing, builds the monitor and the device simulator, starts a dozen
# simulated devices on loopback and opens the monitor on them. Closing the monitor stops
# the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target qvlink-monitor qvlink-sim

monitor=build/src/app/qvlink-monitor
simulator=build/bin/qvlink-sim
capture_helper=build/libexec/qvlink-monitor/qvlink-capture

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'MSG'
No display: the monitor is a desktop program. On a machine without one, run the demo
inside a virtual X server and look at it with a screenshot or a VNC viewer, e.g.
    xvfb-run -a -s "-screen 0 1280x1024x24" ./scripts/demo.sh
MSG
    exit 2
fi

# Port 973 (the bus) and port 80 (the devices' firmware-update form) are privileged, and
# hearing the monitor's broadcast beside it needs packet capture.
if [ "$(id -u)" -ne 0 ]; then
    echo "Granting the privileged ports to the monitor and the simulator, and capture to the"
    echo "capture helper (sudo setcap)..."
    sudo setcap cap_net_bind_service+ep "$monitor"
    sudo setcap cap_net_bind_service+ep "$simulator"
    sudo setcap cap_net_raw+ep "$capture_helper"
fi

"$simulator" -n 12 --silence --loss 0.02 --restart-every 300 --malformed &
simulator_pid=$!
trap 'kill "$simulator_pid" 2>/dev/null; wait "$simulator_pid" 2>/dev/null || true' EXIT

"$monitor"
