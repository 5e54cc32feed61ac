#!/usr/bin/env bash
# The world the Windows tests run in: a Wine prefix, a virtual X display, a
# persistent wineserver, the device simulator and the local update server.
#
#   harness.sh up          bring everything up (idempotent, quick when already up)
#   harness.sh run P ARGS  bring up, then run the Windows program P under Wine
#   harness.sh down        stop what `up` started (the prefix is kept)
#   harness.sh env         print the environment the harness uses, as shell exports
#
# Settings (environment): NORVA_HARNESS names one independent harness (default
# "main"); NORVA_DISPLAY the X display number; NORVA_SIM_PORT the simulator's
# control port; NORVA_HTTP_PORT the update server's port (its https listeners
# take the three ports above it: a certificate the prefix trusts, one it does
# not, and one for another host); NORVA_BUILD_DIR the Windows build whose helper
# programs the simulator and the trust of the test authority use.
set -euo pipefail

SOURCE_DIR=${NORVA_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
: "${NORVA_HARNESS:=main}"
: "${NORVA_DISPLAY:=57}"
: "${NORVA_SIM_PORT:=47200}"
: "${NORVA_HTTP_PORT:=18080}"
STATE=${NORVA_STATE_DIR:-/tmp/norva-$NORVA_HARNESS}
mkdir -p "$STATE"

export WINEPREFIX=${NORVA_WINEPREFIX:-$STATE/prefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
export DISPLAY=":$NORVA_DISPLAY"
export NORVA_SIM_PORT NORVA_HTTP_PORT
# WinHTTP under Wine follows these even for loopback addresses.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

log() { echo "harness: $*" >&2; }
# A pid file may outlive its process (a session killed without `down`), and its
# number may since belong to another program: only the program started under
# that name counts.
alive() {
    local pid what
    [ -f "$STATE/$1.pid" ] && pid=$(cat "$STATE/$1.pid") && [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
    case $1 in xvfb) what=Xvfb ;; devsim) what=devsim.py ;; updsrv) what=update_server.py ;; *) what=$1 ;; esac
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$what"
}

start_bg() {  # name, command...: start detached, stdio on /dev/null (or a log), remember the pid
    local name=$1; shift
    setsid "$@" >"$STATE/$name.log" 2>&1 </dev/null 9>&- &
    echo $! >"$STATE/$name.pid"
}

wait_for() {  # tries, command...
    local tries=$1; shift
    for ((i = 0; i < tries; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

ensure_display() {
    if xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then return; fi
    log "starting Xvfb on $DISPLAY"
    start_bg xvfb Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp -nolisten unix
    wait_for 100 xdpyinfo -display "$DISPLAY" || { log "Xvfb did not start"; cat "$STATE/xvfb.log" >&2; exit 1; }
}

reg_add() { "$WINE" reg add "$@" /f >/dev/null 2>&1 </dev/null 9>&-; }

ensure_prefix() {
    [ -f "$WINEPREFIX/.norva-ready" ] && return
    log "creating Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 </dev/null 9>&-
    "$WINESERVER" -w 9>&-
    # Chinese text: link the fallback faces to WenQuanYi, and map the program's faces to installed ones.
    local link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    for face in "DejaVu Sans" "DejaVu Sans Mono" "Tahoma" "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI"; do
        reg_add "$link" /v "$face" /t REG_MULTI_SZ /d 'wqy-zenhei.ttc,WenQuanYi Zen Hei'
    done
    local repl='HKCU\Software\Wine\Fonts\Replacements'
    reg_add "$repl" /v "Segoe UI Variable Text" /d "DejaVu Sans"
    reg_add "$repl" /v "Segoe UI Variable Display" /d "DejaVu Sans"
    reg_add "$repl" /v "Consolas" /d "DejaVu Sans Mono"
    "$WINE" winecfg /v win10 >/dev/null 2>&1 </dev/null 9>&-
    "$WINESERVER" -w 9>&-
    touch "$WINEPREFIX/.norva-ready"
}

# Settings added after prefixes already existed: applied once to any prefix, new or old.
ensure_prefix_extras() {
    [ -f "$WINEPREFIX/.norva-extras-2" ] && return
    # Bold faces (the program's bold fonts map to "DejaVu Sans Bold") need their own link to WenQuanYi.
    reg_add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "DejaVu Sans Bold" \
        /t REG_MULTI_SZ /d 'wqy-zenhei.ttc,WenQuanYi Zen Hei'
    # Without a window manager, every hidden or destroyed top-level window waits 2 s for the
    # manager to withdraw it; unmanaged windows close at once (and Wine draws their frame).
    reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
    # A test program that crashes ends at once with the debugger's backtrace on
    # its output, instead of waiting for a click on the crash dialog until
    # ctest's time-out.
    reg_add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
    touch "$WINEPREFIX/.norva-extras-2"
}

ensure_wineserver() {
    alive wineserver && return
    log "starting a persistent wineserver"
    # Foreground and persistent: we keep its pid, and program start stays fast.
    start_bg wineserver "$WINESERVER" -f -p
    sleep 0.2
    # The first Wine program starts background services that inherit its stdio:
    # start them now, on /dev/null, so that no later caller waits on a pipe they hold.
    "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null 9>&-
}

ensure_simulator() {
    [ -n "${NORVA_BUILD_DIR:-}" ] && [ -f "$NORVA_BUILD_DIR/tools/wineplug.exe" ] || return 0
    [ -f "$SOURCE_DIR/tools/world/devsim.py" ] || return 0
    alive devsim && return
    log "starting the device simulator (control port $NORVA_SIM_PORT)"
    start_bg devsim python3 "$SOURCE_DIR/tools/world/devsim.py" --control "$NORVA_SIM_PORT" \
        --wineplug "$NORVA_BUILD_DIR/tools/wineplug.exe" --state "$STATE/devsim"
    wait_for 100 bash -c "exec 3<>/dev/tcp/127.0.0.1/$NORVA_SIM_PORT" || { log "simulator did not start"; cat "$STATE/devsim.log" >&2; exit 1; }
}

# Certificates for the https listeners, made here at test time (never kept in
# the repository): a test authority and a server certificate it signed for
# 127.0.0.1, one it signed for another host, and one signed by nobody known.
# The authority is trusted inside the test prefix only.
TLS=$STATE/tls
ensure_certificates() {
    command -v openssl >/dev/null || { log "no openssl: the https listeners stay off"; return 1; }
    [ -f "$TLS/ready" ] && return 0
    log "making the test certificates in $TLS"
    rm -rf "$TLS" && mkdir -p "$TLS"
    (
        cd "$TLS"
        q() { openssl "$@" >/dev/null 2>&1; }
        q req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=NORVA test authority" \
            -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
        q x509 -in ca.pem -outform der -out ca.der
        # Wine's check of the name reads DNS entries only: 127.0.0.1 goes in as both.
        for name in "server 127.0.0.1 DNS:127.0.0.1,IP:127.0.0.1" "otherhost updates.example.invalid DNS:updates.example.invalid"; do
            set -- $name
            printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" >"$1.ext"
            q req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2"
            q x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -out "$1.pem" -days 30 -extfile "$1.ext"
        done
        q req -x509 -newkey rsa:2048 -nodes -keyout untrusted.key -out untrusted.pem -days 30 -subj "/CN=127.0.0.1" \
            -addext "subjectAltName=DNS:127.0.0.1,IP:127.0.0.1"
    ) && [ -s "$TLS/server.pem" ] && [ -s "$TLS/otherhost.pem" ] && [ -s "$TLS/untrusted.pem" ] && touch "$TLS/ready"
}

ensure_trust() {
    [ -f "$TLS/ready" ] && [ -n "${NORVA_BUILD_DIR:-}" ] && [ -f "$NORVA_BUILD_DIR/tools/trustroot.exe" ] || return 0
    local marker=$WINEPREFIX/.norva-trusted-ca
    cmp -s "$TLS/ca.der" "$marker" && return
    log "trusting the test authority inside the prefix"
    "$WINE" "$NORVA_BUILD_DIR/tools/trustroot.exe" add "Z:${TLS//\//\\}\\ca.der" </dev/null 9>&- && cp "$TLS/ca.der" "$marker"
}

ensure_update_server() {
    [ -f "$SOURCE_DIR/tools/world/update_server.py" ] || return 0
    alive updsrv && return
    log "starting the update server on 127.0.0.1:$NORVA_HTTP_PORT"
    local tls=()
    if [ -f "$TLS/ready" ]; then
        tls=(--tls "$((NORVA_HTTP_PORT + 1)):$TLS/server.pem:$TLS/server.key"
             --tls "$((NORVA_HTTP_PORT + 2)):$TLS/untrusted.pem:$TLS/untrusted.key"
             --tls "$((NORVA_HTTP_PORT + 3)):$TLS/otherhost.pem:$TLS/otherhost.key")
    fi
    start_bg updsrv python3 "$SOURCE_DIR/tools/world/update_server.py" --port "$NORVA_HTTP_PORT" --state "$STATE/updsrv" \
        "${tls[@]}"
    wait_for 100 bash -c "exec 3<>/dev/tcp/127.0.0.1/$NORVA_HTTP_PORT" || { log "update server did not start"; cat "$STATE/updsrv.log" >&2; exit 1; }
}

# The lock (fd 9) is held while things come up or go down; nothing started
# meanwhile may inherit it, or the next caller would wait for ever.
up() {
    exec 9>"$STATE/lock"
    flock 9
    ensure_display
    ensure_prefix
    ensure_wineserver
    ensure_prefix_extras
    ensure_simulator
    ensure_certificates || true
    ensure_trust
    ensure_update_server
    flock -u 9
}

stop() {  # name
    if alive "$1"; then
        local pid; pid=$(cat "$STATE/$1.pid")
        kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
        for ((i = 0; i < 50; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$STATE/$1.pid"
}

down() {
    exec 9>"$STATE/lock"
    flock 9
    stop devsim
    stop updsrv
    if alive wineserver; then "$WINESERVER" -k 2>/dev/null || true; fi
    stop wineserver
    stop xvfb
    flock -u 9
}

case "${1:-}" in
    up) up ;;
    down) down ;;
    run)
        shift; up; exec 9>&-
        # The program's output goes through a file, not straight to the caller: a
        # Wine service started on its behalf would inherit a pipe and keep the
        # caller (ctest) waiting for the end of it long after the program ended.
        out=$(mktemp "$STATE/run.XXXXXX")
        # Now and then the Wine loader gives up before the program even starts:
        # exit 1 within milliseconds, nothing printed but its own "wine:" notes.
        # No test program ends like that (GoogleTest always prints), so such a
        # start is tried again, as the simulator does with its helper.
        for attempt in 1 2 3; do
            started=$(date +%s.%N)
            set +e
            "$WINE" "$@" >"$out" 2>&1 </dev/null
            code=$?
            set -e
            took=$(awk "BEGIN { printf \"%.2f\", $(date +%s.%N) - $started }")
            echo "$(date +%T) $code $took $*" >>"$STATE/runs.log"
            [ "$code" = 1 ] && awk "BEGIN { exit !($took < 1) }" && ! grep -qv '^wine:' "$out" || break
            echo "$(date +%T) the loader gave up at start (attempt $attempt): $(tr '\n' ' ' <"$out")" >>"$STATE/runs.log"
        done
        cat "$out"
        rm -f "$out"
        exit "$code" ;;
    env)
        echo "export WINEPREFIX='$WINEPREFIX' WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' LANG=C.UTF-8 DISPLAY='$DISPLAY'"
        echo "export NORVA_SIM_PORT=$NORVA_SIM_PORT NORVA_HTTP_PORT=$NORVA_HTTP_PORT"
        echo "unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY" ;;
    *) echo "usage: $0 up|down|run PROGRAM [ARGS]|env" >&2; exit 2 ;;
esac
