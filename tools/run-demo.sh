#!/usr/bin/env bash
# Runs the program on this Linux machine: installs what is missing, builds
# norva1-update.exe, brings up Wine, plugs one simulated device on a COM port,
# has the local update server offer a newer firmware, and starts the program.
#
#   tools/run-demo.sh [--auto | --interactive]
#
# --auto (the default without a local display): the window is driven through
# the whole update by tools/window_driver, from a second program: it picks the
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
BUILD=${NORVA_DEMO_BUILD_DIR:-$ROOT/build-demo}
HTTP_PORT=${NORVA_DEMO_HTTP_PORT:-18180}
COM=${NORVA_DEMO_COM:-COM5}
FW=${NORVA_DEMO_FW:-1.0.0}
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

say() { echo "run-demo: $*" >&2; }

mode=
case "${1:-}" in
    --auto) mode=auto ;;
    --interactive) mode=interactive ;;
    "") ;;
    *) echo "usage: $0 [--auto | --interactive]" >&2; exit 2 ;;
esac

bash "$ROOT/tools/install-deps.sh"

say "building the Windows program in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DNORVA_UPDATE_HOST="127.0.0.1:$HTTP_PORT" -DNORVA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target norva1-update wineplug window_probe window_driver >/dev/null

# A local X display is used as it is; anything else gets a virtual one.
HEADLESS=1
NORVA_DISPLAY=${NORVA_DEMO_DISPLAY:-70}
if [[ "${DISPLAY:-}" =~ ^:([0-9]+)(\.[0-9]+)?$ ]] && xdpyinfo >/dev/null 2>&1; then
    NORVA_DISPLAY=${BASH_REMATCH[1]}
    HEADLESS=0
elif [ -n "${DISPLAY:-}" ]; then
    say "DISPLAY=$DISPLAY is not a local display; using a virtual one"
fi
if [ -z "$mode" ]; then
    mode=interactive
    [ "$HEADLESS" = 1 ] && mode=auto
fi

# The demo's own harness: its own Wine prefix, display and ports. Without
# NORVA_BUILD_DIR the harness starts no test simulator; the demo plugs its own device.
export NORVA_HARNESS=demo NORVA_DISPLAY NORVA_HTTP_PORT=$HTTP_PORT NORVA_SIM_PORT=${NORVA_DEMO_SIM_PORT:-47290}
export NORVA_SOURCE_DIR=$ROOT
unset NORVA_BUILD_DIR NORVA_STATE_DIR NORVA_WINEPREFIX
HARNESS=(bash "$ROOT/tests/harness/harness.sh")
STATE=/tmp/norva-demo
RECORD=$STATE/demo-program.log
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

SIM_PID=
PROGRAM_PID=
cleaned=0
cleanup() {
    [ "$cleaned" = 1 ] && return
    cleaned=1
    say "stopping"
    if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then kill "$PROGRAM_PID" 2>/dev/null || true; fi
    if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then
        kill "$SIM_PID" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.1; done
    fi
    for shot in "${SHOTS[@]}"; do rm -f "$STATE/demo-$shot.bmp"; done
    "${HARNESS[@]}" down || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "bringing up Wine (first run: about a minute to create the prefix)"
"${HARNESS[@]}" up
eval "$("${HARNESS[@]}" env)"
WINE=/usr/lib/wine/wine64

# The update server (started by the harness on 127.0.0.1:$HTTP_PORT, which the
# program was built to ask) announces a newer firmware, so that "获取最新版本" finds
# it and "立即更新固件" flashes it onto the simulated device.
control="http://127.0.0.1:$HTTP_PORT/__control"
image_path="/firmware/norva1-$LATEST.uf2"
curl -fsS -o /dev/null -X POST "$control/image?path=$image_path&version=$LATEST&size=$IMAGE_SIZE"
printf '; NORVA1 release manifest\nversion=%s\nxzdz=http://127.0.0.1:%s%s\n' "$LATEST" "$HTTP_PORT" "$image_path" |
    curl -fsS -o /dev/null -X POST --data-binary @- "$control/manifest"
say "the update server offers firmware $LATEST ($IMAGE_SIZE-byte image)"

# The harness keeps windows away from the window manager (fast closing on a bare
# virtual display); on a real desktop the window manager frames the window as usual.
managed=N
[ "$HEADLESS" = 0 ] && managed=Y
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f >/dev/null 2>&1 </dev/null || true

# A new prefix maps COM1 to /dev/ttyS0; in the demo only the simulated device is listed.
"$WINE" "$BUILD/tools/wineplug.exe" remove COM1 >/dev/null 2>&1 </dev/null || true

say "plugging a simulated device on $COM (firmware $FW)"
python3 "$ROOT/tools/devsim.py" --plug "$COM" --fw "$FW" --wineplug "$BUILD/tools/wineplug.exe" \
    --state "$STATE/demo-drives" >"$STATE/demo-devsim.log" 2>&1 </dev/null &
SIM_PID=$!
for _ in $(seq 300); do
    grep -q "devsim: plugged" "$STATE/demo-devsim.log" 2>/dev/null && break
    kill -0 "$SIM_PID" 2>/dev/null || { cat "$STATE/demo-devsim.log" >&2; exit 1; }
    sleep 0.1
done

program_env=()
if [ "$mode" = auto ]; then
    # A status text can be replaced within microseconds, before any second program
    # could read it from the window. Wine's relay trace of SetWindowTextW, written by
    # the program's own thread as each call begins, records every one of them for
    # the driver (tools/window_driver/status_record.h). RelayInclude only matters
    # to a process started with +relay: here, the program alone.
    "$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.SetWindowTextW' /f \
        >/dev/null 2>&1 </dev/null
    program_env=(WINEDEBUG=-all,+relay,+timestamp)
    # Pictures of an earlier run must not pass for this one's.
    for shot in "${SHOTS[@]}"; do rm -f "$PWD/demo-$shot.png" "$STATE/demo-$shot.bmp"; done
fi

say "starting norva1-update.exe"
env "${program_env[@]}" "$WINE" "$BUILD/norva1-update.exe" >"$RECORD" 2>&1 </dev/null &
PROGRAM_PID=$!
"$WINE" "$BUILD/tools/window_probe.exe" wait-text 1012 "就绪" 20000 >/dev/null 2>&1 </dev/null ||
    { say "the window did not come up"; exit 1; }

if [ "$mode" = auto ]; then
    say "driving the window through the update (display :$NORVA_DISPLAY); every status text as it is set:"
    set +e
    "$WINE" "$BUILD/tools/window_driver.exe" --record "$(winpath "$RECORD")" --port "$COM" \
        --shots "$(winpath "$STATE/demo-")" --timeout "$TIMEOUT" connect check update </dev/null
    code=$?
    set -e
    written=()
    for shot in "${SHOTS[@]}"; do
        [ -f "$STATE/demo-$shot.bmp" ] || continue
        /usr/bin/convert "$STATE/demo-$shot.bmp" "$PWD/demo-$shot.png"
        rm -f "$STATE/demo-$shot.bmp"
        written+=("demo-$shot.png")
    done
    say "screenshots in $PWD: ${written[*]:-(none)}"
    if [ "$code" = 0 ]; then
        say "done: the device was updated to $LATEST and reconnected"
    else
        say "the update did not go through (exit $code); the last status is above"
    fi
    "$WINE" "$BUILD/tools/window_probe.exe" close >/dev/null 2>&1 </dev/null || true
    for _ in $(seq 100); do kill -0 "$PROGRAM_PID" 2>/dev/null || break; sleep 0.1; done
    exit "$code"
fi

if [ "$HEADLESS" = 1 ]; then
    "$WINE" "$BUILD/tools/window_probe.exe" capture 'Z:\tmp\norva-demo\demo-window.bmp' </dev/null
    /usr/bin/convert "$STATE/demo-window.bmp" "$SCREENSHOT"
    say "running on virtual display :$NORVA_DISPLAY; screenshot: $SCREENSHOT"
    say "look at it: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY $WINE $BUILD/tools/window_probe.exe text 1012"
    say "Ctrl-C stops the demo"
else
    say "the window is open on $DISPLAY; close it (or Ctrl-C) to stop the demo"
fi
wait "$PROGRAM_PID" || true
PROGRAM_PID=
