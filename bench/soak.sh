#!/usr/bin/env bash
# Soak: many complete simulated updates in a row through the real window of one
# running program, which stays up for all of them so that whatever it keeps
# from one update to the next shows. Before each update the update server
# offers the next version (1.0.1, 1.0.2, ...) and the simulated device takes
# the version its image carries. tools/world/window_driver presses "获取最新版本" and
# "立即更新固件" each time. Not part of CI: it takes about five minutes.
#
#   bench/soak.sh [COUNT]        (default 50 updates)
#
# Prints how many updates succeeded (ended with "固件更新完成，设备已重连。" and the
# new version on the window), the median and worst time per update (from the
# press of "获取最新版本" to the last status), and the program's handle count and
# working set after the first and after the last update, with their growth.
# Exit code 0 when every update succeeded.
#
# Settings (environment): NORVA_SOAK_BUILD_DIR (default <repo>/build-soak),
# NORVA_SOAK_DISPLAY (default 71), NORVA_SOAK_HTTP_PORT (default 18181),
# NORVA_SOAK_IMAGE_SIZE (bytes, default 1 MiB), NORVA_SOAK_TIMEOUT (seconds per
# update, default 120). The driver's output of update N is kept in
# /tmp/norva-soak/soak-N.out.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
COUNT=${1:-50}
WORLD_NAME=soak
WORLD_BUILD=${NORVA_SOAK_BUILD_DIR:-$ROOT/build-soak}
WORLD_DISPLAY=${NORVA_SOAK_DISPLAY:-71}
WORLD_HTTP_PORT=${NORVA_SOAK_HTTP_PORT:-18181}
WORLD_SIM_PORT=${NORVA_SOAK_SIM_PORT:-47291}
WORLD_COM=COM5
WORLD_FW=1.0.0
IMAGE_SIZE=${NORVA_SOAK_IMAGE_SIZE:-1048576}
TIMEOUT=${NORVA_SOAK_TIMEOUT:-120}
[[ "$COUNT" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [COUNT]" >&2; exit 2; }

# shellcheck source=tools/world/demo-world.sh
source "$ROOT/tools/world/demo-world.sh"

bash "$ROOT/tools/install-deps.sh"
world_build norva1-update wineplug window_probe window_driver
trap world_cleanup EXIT
trap 'exit 130' INT TERM
world_up
world_plug
world_start_program record
rm -f "$WORLD_STATE"/soak-*.out

DRIVER=("$WINE" "$WORLD_BUILD/tools/window_driver.exe" --record "$(winpath "$WORLD_RECORD")" --timeout "$TIMEOUT")
"${DRIVER[@]}" --port "$WORLD_COM" connect >"$WORLD_STATE/soak-0.out" </dev/null ||
    { cat "$WORLD_STATE/soak-0.out"; world_say "could not connect"; exit 1; }

stats() {  # the program's handles and memory, as key=value words
    "$WINE" "$WORLD_BUILD/tools/window_driver.exe" stats </dev/null | tr -d '\r'
}
value() {  # KEY WORDS...: the value of KEY=value among the words
    local key=$1; shift
    for word in "$@"; do [ "${word%%=*}" = "$key" ] && { echo "${word#*=}"; return; }; done
    echo "?"
}
growth() {  # FIRST LAST
    [[ "$1" =~ ^[0-9]+$ && "$2" =~ ^[0-9]+$ ]] && echo $(($2 - $1)) || echo "?"
}

ok=0
times=()
handles_seen=()
first_stats=
last_stats=
for ((i = 1; i <= COUNT; i++)); do
    version=1.0.$i
    out=$WORLD_STATE/soak-$i.out
    world_publish "$version" "$IMAGE_SIZE"
    set +e
    "${DRIVER[@]}" check update >"$out" </dev/null
    code=$?
    set -e
    # The driver notes each step's time from its command to its last status.
    seconds=$(awk '/^ > (check|update) took / { total += $4 } END { printf "%.2f", total }' "$out")
    now=$(sed -n 's/^ > firmware on the device now: //p' "$out" | tr -d '\r')
    now_stats=$(stats || true)
    read -r -a words <<<"$now_stats"
    handles_seen+=("$(value handles "${words[@]}")")
    if [ "$i" = 1 ]; then first_stats=$now_stats; fi
    if [ "$i" = "$COUNT" ]; then last_stats=$now_stats; fi
    state="${handles_seen[-1]} handles, $(value working_set_kib "${words[@]}") KiB working set"
    if [ "$code" = 0 ] && [ "$now" = "$version" ]; then
        ok=$((ok + 1))
        times+=("$seconds")
        echo "update $i/$COUNT to $version: done in $seconds s; $state"
    else
        echo "update $i/$COUNT to $version: FAILED (exit $code, device on '${now:-?}'); $state;" \
            "$(grep '^ > last status' "$out" || true)"
    fi
done

echo
echo "== soak: $COUNT updates through the window of one program"
echo "succeeded: $ok of $COUNT"
if [ "${#times[@]}" -gt 0 ]; then
    printf '%s\n' "${times[@]}" | sort -n | awk '
        { t[NR] = $1 }
        END {
            median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
            printf "time per update (check and update): median %.2f s, worst %.2f s\n", median, t[NR]
        }'
fi
read -r -a first <<<"$first_stats"
read -r -a last <<<"$last_stats"
h1=$(value handles "${first[@]}") h2=$(value handles "${last[@]}")
w1=$(value working_set_kib "${first[@]}") w2=$(value working_set_kib "${last[@]}")
p1=$(value pagefile_kib "${first[@]}") p2=$(value pagefile_kib "${last[@]}")
echo "handles (the system handle table): after update 1: $h1, after update $COUNT: $h2 ($(growth "$h1" "$h2") more)"
echo "  after each update, how often each count was seen: $(printf '%s\n' "${handles_seen[@]}" | sort -n | uniq -c |
    awk '{ printf "%s%s (x%s)", (NR > 1 ? ", " : ""), $2, $1 }')"
echo "  (GetProcessHandleCount says $(value handle_count_api "${first[@]}") and $(value handle_count_api "${last[@]}"))"
echo "working set: after update 1: $w1 KiB, after update $COUNT: $w2 KiB ($(growth "$w1" "$w2") KiB more)"
echo "committed (pagefile): after update 1: $p1 KiB, after update $COUNT: $p2 KiB ($(growth "$p1" "$p2") KiB more)"
world_close_program
[ "$ok" = "$COUNT" ]
