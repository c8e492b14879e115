#!/usr/bin/env bash
# Builds the Debian package into a folder of its own and checks it as a distribution's reviewer
# would: Debian's lintian finds no error and no warning (an override only with its reason written
# above it), every program it installs says whose it is, and the changelog's newest entry is the
# package's version.
#
#     package_test.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log" >&2; fail "cpack could not build the package"; }
debs=("$out"/tamborex_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no tamborex_*.deb: $(ls "$out")"
deb=${debs[0]}
dpkg-deb -x "$deb" "$out/root"

# /usr/bin is shared by every package on the system: a name without ours in it is a clash waiting
# to happen.
programs=$(find "$out/root/usr/bin" -mindepth 1 -printf '%f\n')
[ -n "$programs" ] || fail "the package installs no program"
while read -r program; do
    [[ $program == *tamborex* || $program == *corvane* ]] ||
        fail "/usr/bin/$program does not say whose it is"
done <<<"$programs"

# A new version needs its changelog entry before it is packaged.
version=$(dpkg-deb -f "$deb" Version)
zcat "$out/root/usr/share/doc/tamborex/changelog.gz" >"$out/changelog"
logged=$(dpkg-parsechangelog -l "$out/changelog" -S Version)
[ "$logged" = "$version" ] || fail "the changelog's newest entry is $logged, the package $version"

# Every override says why it is there: the comment lines right above it.
overrides="$out/root/usr/share/lintian/overrides/tamborex"
awk '/^#/ { reason = 1; next }
     /^[^[:space:]]/ { if (!reason) { print "no reason above: " $0; bad = 1 } reason = 0; next }
     { reason = 0 }
     END { exit bad }' "$overrides" || fail "an override without its reason"

status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "lintian (exit $status):
$report"
echo "package: ok ($(basename "$deb"), lintian $(lintian --version | awk '{print $2}'))"
