#!/usr/bin/env bash
# Installs what is missing, builds, starts the controller emulator on a
# pseudo-terminal and the tool connected to it. Closing the window stops both.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
qv_install_deps
qv_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo

fifo="$(mktemp -u)"; mkfifo "$fifo"
"$QV_ROOT/build/emulator/quorvantel-emulator" "$@" > "$fifo" &
emu=$!
trap 'kill $emu 2>/dev/null || true; rm -f "$fifo"' EXIT
exec 3< "$fifo"
read -r first <&3
echo "$first"
port="${first##* }"
# Keep printing what the emulator logs.
cat <&3 &

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: the window runs offscreen (set DISPLAY to see it)." >&2
    export QT_QPA_PLATFORM=offscreen
fi
"$QV_ROOT/build/app/quorvantel" "$port"
