#!/usr/bin/env bash
# Runs the program on this Linux machine: installs what is missing, builds
# norva1-update.exe, brings up Wine, plugs one simulated device on a COM port,
# has the local update server offer a newer firmware, and starts the program.
# Like a vendor's, the demo's release is signed: the demo makes its own signing
# key the first time (/tmp/norva-demo/release-key.pem, outside the repository),
# builds the program to trust it and signs com.ini with it.
#
#   tools/run-demo.sh [--auto | --interactive]
#
# --auto (the default without a local display): the window is driven through
# the whole update by tools/world/window_driver, from a second program: it picks the
# port, presses "连接串口", "获取最新版本" and "立即更新固件", and prints every status
# text with its time, the firmware version before and after, and writes four
# screenshots to the current directory (demo-1-connected.png, demo-2-found.png,
# demo-3-writing.png, demo-4-done.png). Exit code 0 when the update ends with
# "固件更新完成，设备已重连。", 1 otherwise (the last status is printed), also when
# it takes longer than NORVA_DEMO_TIMEOUT seconds.
#
# --interactive (the default with a local DISPLAY such as ":0"): the window opens
# there and waits for a person. Without a local display it runs on a virtual
# one, a screenshot is written to demo-screenshot.png in the current directory
# and the demo keeps running until Ctrl-C. Closing the window or Ctrl-C stops
# everything the demo started.
#
# Settings (environment): NORVA_DEMO_BUILD_DIR (default <repo>/build-demo),
# NORVA_DEMO_DISPLAY (virtual display number, default 70), NORVA_DEMO_HTTP_PORT
# (update server, default 18180), NORVA_DEMO_COM (default COM5), NORVA_DEMO_FW
# (the device's firmware version, default 1.0.0), NORVA_DEMO_LATEST (the newer
# firmware the update server offers, default 1.1.0), NORVA_DEMO_IMAGE_SIZE (its
# UF2 image in bytes, default 32 MiB), NORVA_DEMO_TIMEOUT (seconds, default 120).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORLD_NAME=demo WORLD_TAG=run-demo
WORLD_BUILD=${NORVA_DEMO_BUILD_DIR:-$ROOT/build-demo}
WORLD_HTTP_PORT=${NORVA_DEMO_HTTP_PORT:-18180}
WORLD_SIM_PORT=${NORVA_DEMO_SIM_PORT:-47290}
WORLD_COM=${NORVA_DEMO_COM:-COM5}
WORLD_FW=${NORVA_DEMO_FW:-1.0.0}
LATEST=${NORVA_DEMO_LATEST:-1.1.0}
# The simulated drive takes the copy at memory speed, and the window's thread,
# working through two messages for each 64 KiB piece, puts each text on the
# screen up to 50 ms late. A 32 MiB image (the UF2 of a full 16 MiB flash, the
# most an RP2040 addresses) keeps "正在写入 UF2 到 RPI-RP2..." there for 0.1-0.3 s,
# long enough to photograph it.
IMAGE_SIZE=${NORVA_DEMO_IMAGE_SIZE:-33554432}
TIMEOUT=${NORVA_DEMO_TIMEOUT:-120}
SCREENSHOT=$PWD/demo-screenshot.png
SHOTS=(1-connected 2-found 3-writing 4-done)

mode=
case "${1:-}" in
    --auto) mode=auto ;;
    --interactive) mode=interactive ;;
    "") ;;
    *) echo "usage: $0 [--auto | --interactive]" >&2; exit 2 ;;
esac

bash "$ROOT/tools/install-deps.sh"

# A local X display is used as it is; anything else gets a virtual one.
HEADLESS=1
WORLD_DISPLAY=${NORVA_DEMO_DISPLAY:-70}
if [[ "${DISPLAY:-}" =~ ^:([0-9]+)(\.[0-9]+)?$ ]] && xdpyinfo >/dev/null 2>&1; then
    WORLD_DISPLAY=${BASH_REMATCH[1]}
    HEADLESS=0
elif [ -n "${DISPLAY:-}" ]; then
    echo "run-demo: DISPLAY=$DISPLAY is not a local display; using a virtual one" >&2
fi
if [ -z "$mode" ]; then
    mode=interactive
    [ "$HEADLESS" = 1 ] && mode=auto
fi

# shellcheck source=tools/world/demo-world.sh
source "$ROOT/tools/world/demo-world.sh"
say() { echo "run-demo: $*" >&2; }

world_build norva1-update wineplug window_probe window_driver

cleanup() {
    for shot in "${SHOTS[@]}"; do rm -f "$WORLD_STATE/demo-$shot.bmp"; done
    world_cleanup
}
trap cleanup EXIT
trap 'exit 130' INT TERM

world_up

# The update server (started by the harness on 127.0.0.1:$WORLD_HTTP_PORT, which the
# program was built to ask) announces a newer firmware, so that "获取最新版本" finds
# it and "立即更新固件" flashes it onto the simulated device.
world_publish "$LATEST" "$IMAGE_SIZE"
say "the update server offers firmware $LATEST ($IMAGE_SIZE-byte image), signed with the demo's key"

# The harness keeps windows away from the window manager (fast closing on a bare
# virtual display); on a real desktop the window manager frames the window as usual.
managed=N
[ "$HEADLESS" = 0 ] && managed=Y
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f >/dev/null 2>&1 </dev/null || true

world_plug

if [ "$mode" = auto ]; then
    # Pictures of an earlier run must not pass for this one's.
    for shot in "${SHOTS[@]}"; do rm -f "$PWD/demo-$shot.png" "$WORLD_STATE/demo-$shot.bmp"; done
    world_start_program record
    say "driving the window through the update (display :$WORLD_DISPLAY); every status text as it is set:"
    set +e
    "$WINE" "$WORLD_BUILD/tools/window_driver.exe" --record "$(winpath "$WORLD_RECORD")" --port "$WORLD_COM" \
        --shots "$(winpath "$WORLD_STATE/demo-")" --timeout "$TIMEOUT" connect check update </dev/null
    code=$?
    set -e
    written=()
    for shot in "${SHOTS[@]}"; do
        [ -f "$WORLD_STATE/demo-$shot.bmp" ] || continue
        /usr/bin/convert "$WORLD_STATE/demo-$shot.bmp" "$PWD/demo-$shot.png"
        rm -f "$WORLD_STATE/demo-$shot.bmp"
        written+=("demo-$shot.png")
    done
    say "screenshots in $PWD: ${written[*]:-(none)}"
    if [ "$code" = 0 ]; then
        say "done: the device was updated to $LATEST and reconnected"
    else
        say "the update did not go through (exit $code); the last status is above"
    fi
    world_close_program
    exit "$code"
fi

world_start_program
if [ "$HEADLESS" = 1 ]; then
    "$WINE" "$WORLD_BUILD/tools/window_probe.exe" capture "$(winpath "$WORLD_STATE/demo-window.bmp")" </dev/null
    /usr/bin/convert "$WORLD_STATE/demo-window.bmp" "$SCREENSHOT"
    say "running on virtual display :$WORLD_DISPLAY; screenshot: $SCREENSHOT"
    say "look at it: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY $WINE $WORLD_BUILD/tools/window_probe.exe text 1012"
    say "Ctrl-C stops the demo"
else
    say "the window is open on $DISPLAY; close it (or Ctrl-C) to stop the demo"
fi
wait "$WORLD_PROGRAM_PID" || true
WORLD_PROGRAM_PID=
