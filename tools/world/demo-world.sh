# Sourced by tools/run-demo.sh and bench/soak.sh: the world the program runs in
# outside the tests. Its own test harness (Wine prefix, display, wineserver,
# update server), one simulated device plugged from the start, and the program
# started once, with or without Wine's record of its status texts.
#
# Set before the functions are used:
#   WORLD_NAME       harness name; the state lives in /tmp/norva-$WORLD_NAME
#   WORLD_TAG        what the messages start with (default: WORLD_NAME)
#   WORLD_BUILD      the Windows build (configured by world_build)
#   WORLD_DISPLAY    the X display number (a virtual one is started unless it answers)
#   WORLD_HTTP_PORT  the update server's port, which the program is built to ask
#   WORLD_SIM_PORT   the port the harness would give a test simulator (unused here)
#   WORLD_COM        the simulated device's COM name, WORLD_FW its firmware version
#   WORLD_KEY        the world's release signing key (default $WORLD_STATE/release-key.pem),
#                    made by tools/release/release-sign.py the first time and kept for the next runs
#
#   world_build TARGET...         configures WORLD_BUILD to trust WORLD_KEY and builds the targets,
#                                 and the release check tools/release/release-sign.py runs, as a vendor
#                                 builds it (build-release-tools)
#   world_up                      brings the harness up; exports its Wine environment
#   world_publish VERSION SIZE    the update server offers VERSION, a SIZE-byte UF2 image, in a
#                                 com.ini and com.ini.sig that `release-sign.py release` wrote
#                                 (dated, as every release: valid for 30 days)
#   world_plug                    plugs the simulated device (waits until it is listed)
#   world_start_program [record]  starts norva1-update.exe and waits for its window;
#                                 with "record", Wine records every status text in
#                                 $WORLD_RECORD (see tools/world/window_driver/status_record.h)
#   world_close_program           closes the window and waits for the program to end
#   world_cleanup                 stops everything the functions started (the prefix stays)
#   winpath PATH                  the Unix path as the Windows programs see it (Z:)

WORLD_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORLD_STATE=/tmp/norva-$WORLD_NAME
WORLD_RECORD=$WORLD_STATE/$WORLD_NAME-program.log
WORLD_KEY=${WORLD_KEY:-$WORLD_STATE/release-key.pem}
WINE=/usr/lib/wine/wine64
WORLD_SIM_PID=
WORLD_PROGRAM_PID=
world_cleaned=0

world_say() { echo "${WORLD_TAG:-$WORLD_NAME}: $*" >&2; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

world_harness() {
    NORVA_HARNESS=$WORLD_NAME NORVA_DISPLAY=$WORLD_DISPLAY NORVA_HTTP_PORT=$WORLD_HTTP_PORT \
        NORVA_SIM_PORT=$WORLD_SIM_PORT NORVA_SOURCE_DIR=$WORLD_ROOT \
        env -u NORVA_BUILD_DIR -u NORVA_STATE_DIR -u NORVA_WINEPREFIX bash "$WORLD_ROOT/tests/harness/harness.sh" "$@"
}

# The world's own vendor key, outside the repository: made once, then reused,
# so that the same public key goes into the build and nothing is rebuilt for it.
# A throw-away key, without a passphrase, so that the demo asks nothing.
world_release_key() {
    local sign=$WORLD_ROOT/tools/release/release-sign.py
    if [ -f "$WORLD_KEY" ]; then
        python3 "$sign" pubkey "$WORLD_KEY"
    else
        mkdir -p "$(dirname "$WORLD_KEY")"
        world_say "making a release signing key in $WORLD_KEY"
        python3 "$sign" keygen "$WORLD_KEY" --no-passphrase
    fi
}

world_build() {
    local key
    key=$(world_release_key)
    world_say "building the Windows program in $WORLD_BUILD, trusting release key ${key:0:18}..."
    cmake -S "$WORLD_ROOT" -B "$WORLD_BUILD" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$WORLD_ROOT/cmake/mingw-w64.cmake" \
        -DNORVA_UPDATE_HOST="127.0.0.1:$WORLD_HTTP_PORT" -DNORVA_RELEASE_KEYS="$key" -DNORVA_BUILD_TESTS=OFF >/dev/null
    cmake --build "$WORLD_BUILD" -j"$(nproc)" --target "$@" >/dev/null
    cmake -S "$WORLD_ROOT" -B "$WORLD_ROOT/build-release-tools" -DNORVA_BUILD_TESTS=OFF -DNORVA_SANITIZE=OFF >/dev/null
    cmake --build "$WORLD_ROOT/build-release-tools" --target norva1-release-check >/dev/null
}

world_up() {
    world_say "bringing up Wine (first run: about a minute to create the prefix)"
    world_harness up
    # Without NORVA_BUILD_DIR the harness starts no test simulator: the world plugs its own device.
    eval "$(world_harness env)"
    # A new prefix maps COM1 to /dev/ttyS0; here only the simulated device is listed.
    "$WINE" "$WORLD_BUILD/tools/wineplug.exe" remove COM1 >/dev/null 2>&1 </dev/null || true
}

# As a vendor publishes: the image, then com.ini and com.ini.sig as the release command wrote them.
world_publish() {  # VERSION SIZE
    local control="http://127.0.0.1:$WORLD_HTTP_PORT/__control" path="/firmware/norva1-$1.uf2"
    local image=$WORLD_STATE/norva1-$1.uf2 release=$WORLD_STATE/release
    curl -fsS -o "$image" -X POST "$control/image?path=$path&version=$1&size=$2"
    python3 "$WORLD_ROOT/tools/release/release-sign.py" release "$WORLD_KEY" "$image" --version "$1" \
        --url "http://127.0.0.1:$WORLD_HTTP_PORT$path" --out "$release" >/dev/null
    rm -f "$image"
    curl -fsS -o /dev/null -X POST --data-binary @"$release/com.ini" "$control/manifest"
    curl -fsS -o /dev/null -X POST --data-binary @"$release/com.ini.sig" "$control/route?path=/com.ini.sig"
}

world_plug() {
    world_say "plugging a simulated device on $WORLD_COM (firmware $WORLD_FW)"
    local log=$WORLD_STATE/$WORLD_NAME-devsim.log
    python3 "$WORLD_ROOT/tools/world/devsim.py" --plug "$WORLD_COM" --fw "$WORLD_FW" \
        --wineplug "$WORLD_BUILD/tools/wineplug.exe" --state "$WORLD_STATE/$WORLD_NAME-drives" \
        >"$log" 2>&1 </dev/null &
    WORLD_SIM_PID=$!
    for _ in $(seq 300); do
        grep -q "devsim: plugged" "$log" 2>/dev/null && return 0
        kill -0 "$WORLD_SIM_PID" 2>/dev/null || { cat "$log" >&2; return 1; }
        sleep 0.1
    done
    world_say "the simulated device did not come up"
    return 1
}

world_start_program() {  # [record]
    local program_env=()
    if [ "${1:-}" = record ]; then
        # A status text can be replaced within microseconds, before a second program
        # could read it from the window. Wine's relay trace of SetWindowTextW, written
        # by the program's own thread as each call begins, holds every one of them.
        # RelayInclude only matters to a process started with +relay: the program alone.
        "$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.SetWindowTextW' /f \
            >/dev/null 2>&1 </dev/null
        program_env=(WINEDEBUG=-all,+relay,+timestamp)
    fi
    world_say "starting norva1-update.exe"
    env "${program_env[@]}" "$WINE" "$WORLD_BUILD/norva1-update.exe" >"$WORLD_RECORD" 2>&1 </dev/null &
    WORLD_PROGRAM_PID=$!
    "$WINE" "$WORLD_BUILD/tools/window_probe.exe" wait-text 1012 "就绪" 20000 >/dev/null 2>&1 </dev/null ||
        { world_say "the window did not come up"; return 1; }
}

world_close_program() {
    [ -n "$WORLD_PROGRAM_PID" ] || return 0
    "$WINE" "$WORLD_BUILD/tools/window_probe.exe" close >/dev/null 2>&1 </dev/null || true
    for _ in $(seq 100); do kill -0 "$WORLD_PROGRAM_PID" 2>/dev/null || break; sleep 0.1; done
}

world_cleanup() {
    [ "$world_cleaned" = 1 ] && return
    world_cleaned=1
    world_say "stopping"
    if [ -n "$WORLD_PROGRAM_PID" ] && kill -0 "$WORLD_PROGRAM_PID" 2>/dev/null; then
        kill "$WORLD_PROGRAM_PID" 2>/dev/null || true
    fi
    if [ -n "$WORLD_SIM_PID" ] && kill -0 "$WORLD_SIM_PID" 2>/dev/null; then
        kill "$WORLD_SIM_PID" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$WORLD_SIM_PID" 2>/dev/null || break; sleep 0.1; done
    fi
    world_harness down || true
}
