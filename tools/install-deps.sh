#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that building, running and testing need.
# Idempotent: does nothing when every package is already there.
set -euo pipefail

PACKAGES=(
    cmake make g++ python3 python3-cryptography git curl ca-certificates procps psmisc openssl osslsigncode
    g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64 fonts-wine fonts-wqy-zenhei
    xvfb xauth xdotool x11-apps x11-utils imagemagick
    googletest
    clang libclang-rt-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# As root apt-get runs directly; otherwise through sudo, keeping the environment
# (DEBIAN_FRONTEND) for the install.
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo -E)
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
