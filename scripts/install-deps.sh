#!/usr/bin/env bash
# Installs every Debian package that building, running and testing both programs needs.
# Safe to run again: it does nothing when everything is already there.
set -euo pipefail

packages=(
    cmake ninja-build pkg-config g++ clang libclang-rt-14-dev clang-format
    libgtest-dev libgmock-dev libbenchmark-dev
    librtmidi-dev libasound2-dev libjack-jackd2-dev jackd2
    libsdl2-dev liblo-dev liblo-tools nlohmann-json3-dev
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins fonts-dejavu-core
    xvfb xauth xdotool imagemagick
    desktop-file-utils appstream man-db dpkg-dev systemd lintian
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

# As root apt-get runs as it is; otherwise through sudo, keeping DEBIAN_FRONTEND.
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
    as_root=(sudo -E)
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
