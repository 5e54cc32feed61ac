#!/usr/bin/env bash
# tools/install-deps.sh on a machine it must not touch: stand-ins for dpkg-query,
# apt-get, sudo and id come first on PATH and write down how they were called.
# Checks the exact commands the script would run, as root and as a user with
# sudo, with some packages missing and with none missing.
set -euo pipefail
SCRIPT=$(cd "$(dirname "$0")/../.." && pwd)/tools/install-deps.sh
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

stand_ins() {  # the uid the stand-in id reports; the packages dpkg-query calls missing
    local uid=$1; shift
    rm -rf "$WORK/bin" "$WORK/calls"
    mkdir -p "$WORK/bin"
    printf '%s\n' "$@" >"$WORK/missing"
    cat >"$WORK/bin/dpkg-query" <<STUB
#!/usr/bin/env bash
# dpkg-query -W -f=FORMAT PACKAGE
package=\${!#}
if grep -qx -- "\$package" "$WORK/missing"; then
    echo "dpkg-query: no packages found matching \$package" >&2
    exit 1
fi
printf 'install ok installed'
STUB
    cat >"$WORK/bin/apt-get" <<STUB
#!/usr/bin/env bash
echo "apt-get \$* [DEBIAN_FRONTEND=\${DEBIAN_FRONTEND:-}]" >>"$WORK/calls"
STUB
    cat >"$WORK/bin/sudo" <<STUB
#!/usr/bin/env bash
echo "sudo \$*" >>"$WORK/calls"
[ "\$1" = -E ] && shift
exec "\$@"
STUB
    cat >"$WORK/bin/id" <<STUB
#!/usr/bin/env bash
[ "\${1:-}" = -u ] && { echo $uid; exit 0; }
exec /usr/bin/id "\$@"
STUB
    chmod +x "$WORK/bin/"*
}

expect() {  # name, expected calls (one per line, or empty)
    local name=$1 expected=$2 actual
    actual=$(cat "$WORK/calls" 2>/dev/null || true)
    if [ "$actual" = "$expected" ]; then
        echo "ok: $name"
    else
        echo "FAILED: $name"
        echo "  expected:"; printf '%s\n' "$expected" | sed 's/^/    /'
        echo "  ran:"; printf '%s\n' "$actual" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}

run() { PATH="$WORK/bin:$PATH" bash "$SCRIPT" >"$WORK/out" 2>&1 || { echo "install-deps failed:"; cat "$WORK/out"; failures=$((failures + 1)); }; }

stand_ins 0 wine64 xvfb
run
expect "as root, two packages missing" "apt-get update -q [DEBIAN_FRONTEND=noninteractive]
apt-get install -y -q --no-install-recommends wine64 xvfb [DEBIAN_FRONTEND=noninteractive]"

stand_ins 1000 googletest
run
expect "as a user with sudo, one package missing" "sudo -E apt-get update -q
apt-get update -q [DEBIAN_FRONTEND=noninteractive]
sudo -E apt-get install -y -q --no-install-recommends googletest
apt-get install -y -q --no-install-recommends googletest [DEBIAN_FRONTEND=noninteractive]"

stand_ins 0
run
expect "as root, nothing missing" ""

stand_ins 1000
run
expect "as a user, nothing missing" ""

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
