#!/usr/bin/env bash
# Runs scripts/install-deps.sh against stand-ins for dpkg-query, apt-get, sudo and id on PATH, as
# root and as a normal user, and checks the command lines it would run.
#
#     install_deps_test.sh SOURCE_DIR
set -euo pipefail
script=$1/scripts/install-deps.sh
shims=$(mktemp -d)
trap 'rm -rf "$shims"' EXIT
log=$shims/log
fail() { echo "FAIL: $*" >&2; [ -f "$log" ] && cat "$log" >&2; exit 1; }

# dpkg-query says libsdl2-dev and xvfb are missing, everything else installed, unless
# NOTHING_MISSING is set.
cat >"$shims/dpkg-query" <<'SHIM'
#!/bin/sh
pkg=$(eval echo \${$#})
if [ -z "${NOTHING_MISSING:-}" ] && { [ "$pkg" = libsdl2-dev ] || [ "$pkg" = xvfb ]; }; then
    exit 1
fi
printf 'install ok installed'
SHIM
cat >"$shims/apt-get" <<'SHIM'
#!/bin/sh
echo "apt-get $* [DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-}]" >>"$LOG"
SHIM
cat >"$shims/sudo" <<'SHIM'
#!/bin/sh
echo "sudo $1" >>"$LOG"
[ "$1" = -E ] && shift
exec "$@"
SHIM
cat >"$shims/id" <<'SHIM'
#!/bin/sh
echo "$FAKE_UID"
SHIM
chmod +x "$shims"/*

run() {  # uid, then extra environment
    : >"$log"
    env LOG="$log" FAKE_UID="$1" PATH="$shims:$PATH" "${@:2}" bash "$script" >/dev/null 2>&1
}

run 0 || fail "as root: failed"
[ "$(cat "$log")" = "apt-get update -q [DEBIAN_FRONTEND=noninteractive]
apt-get install -y -q --no-install-recommends libsdl2-dev xvfb [DEBIAN_FRONTEND=noninteractive]" ] ||
    fail "as root: unexpected commands"

run 1000 || fail "as a user: failed"
[ "$(cat "$log")" = "sudo -E
apt-get update -q [DEBIAN_FRONTEND=noninteractive]
sudo -E
apt-get install -y -q --no-install-recommends libsdl2-dev xvfb [DEBIAN_FRONTEND=noninteractive]" ] ||
    fail "as a user: unexpected commands"

run 1000 NOTHING_MISSING=1 || fail "nothing missing: failed"
[ ! -s "$log" ] || fail "nothing missing, yet something ran"

# A user without sudo is told what to do, and nothing runs: a PATH with the stand-ins but no
# sudo, and grep, the one other program the script runs.
mkdir "$shims/no-sudo"
for tool in dpkg-query apt-get id; do ln -s "$shims/$tool" "$shims/no-sudo/$tool"; done
ln -s "$(command -v grep)" "$shims/no-sudo/grep"
: >"$log"
status=0
msg=$(env LOG="$log" FAKE_UID=1000 PATH="$shims/no-sudo" "$BASH" "$script" 2>&1) || status=$?
[ "$status" -ne 0 ] || fail "a user without sudo: exit 0"
grep -q "run as root or install sudo" <<<"$msg" || fail "a user without sudo: no advice ($msg)"
[ ! -s "$log" ] || fail "a user without sudo, yet apt-get ran"
echo "install-deps: ok"
