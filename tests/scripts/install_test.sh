#!/usr/bin/env bash
# Installs the build into a folder of its own and checks what a desktop user gets: the programs,
# launchers that validate, icons, AppStream metadata without errors, manual pages, and command
# lines that answer without a display.
#
#     install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# Each program with its manual page, compressed, that man reads without a warning.
programs=(tamborex corvane tamborex-list-devices tamborex-virtual-stick corvane-virtual-stick)
for program in "${programs[@]}"; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
    page="$prefix/share/man/man1/$program.1.gz"
    gzip -t "$page" || fail "$program.1.gz is not gzip-compressed"
    out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "$program.1: $out"
    man -l "$page" | grep -q "^NAME" || fail "$program.1 has no NAME section"
    # A font escape written through a shell or a script as a control character ("\fB" as a form
    # feed) shows as stray letters ("BGamepad layoutR"), and man says nothing of it.
    ! zcat "$page" | LC_ALL=C grep -nP '[\x00-\x08\x0b-\x1f\x7f]' ||
        fail "$program.1 holds control characters"
done
for app in tamborex corvane; do
    desktop-file-validate "$prefix/share/applications/$app.desktop" || fail "$app.desktop"
    grep -q "^Exec=$app --user-dir$" "$prefix/share/applications/$app.desktop" ||
        fail "$app.desktop does not start $app in its per-user folder"
    for size in 16 32 48 64; do
        [ -s "$prefix/share/icons/hicolor/${size}x${size}/apps/$app.png" ] || fail "$app icon $size"
    done
    # The ids are not reverse-DNS names (the project has no domain of its own): that warning
    # is expected, errors are not.
    out=$(appstreamcli validate --no-net "$prefix/share/metainfo/$app.metainfo.xml" 2>&1 || true)
    ! grep -q '^ *E:' <<<"$out" || fail "$app.metainfo.xml: $out"
    man -l "$prefix/share/man/man1/$app.1.gz" | grep -q -- "--user-dir" ||
        fail "$app.1 has no options"

    # No display is needed to ask a program about itself, and a wrong option never starts it.
    version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$app" --version)
    [ -n "$version" ] || fail "$app --version printed nothing"
    env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$app" --help | grep -q "^Usage: $app" ||
        fail "$app --help"
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$app" --no-such-option 2>/dev/null || status=$?
    [ "$status" -eq 2 ] || fail "$app with an unknown option exited $status, not 2"
done
# The user unit for the headless runner starts the program installed beside it, and systemd
# accepts it as it stands.
unit="$prefix/share/systemd/user/tamborex.service"
[ -s "$unit" ] || fail "tamborex.service is not installed"
grep -q "^ExecStart=$prefix/bin/tamborex --headless --user-dir$" "$unit" ||
    fail "tamborex.service does not start the installed tamborex --headless"
grep -q "^Restart=on-failure$" "$unit" || fail "tamborex.service is not restarted on failure"
out=$(systemd-analyze verify --man=no "$unit" 2>&1) || fail "systemd-analyze verify: $out"
env -u DISPLAY "$prefix/bin/tamborex" --help | grep -q -- "--headless" || fail "no --headless in --help"
# --help names the README where it is installed, and it is there.
readme="$prefix/share/doc/tamborex/README.md"
[ -s "$readme" ] || fail "README.md is not installed under share/doc/tamborex"
for program in tamborex corvane tamborex-virtual-stick corvane-virtual-stick; do
    timeout 10 env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$program" --help </dev/null |
        grep -qF "$readme" || fail "$program --help does not point to $readme"
done
# The virtual sticks answer --help and refuse what they do not know instead of starting.
for stick in corvane-virtual-stick tamborex-virtual-stick; do
    timeout 10 env -u DISPLAY "$prefix/bin/$stick" --help </dev/null |
        grep -q "^Usage: $stick" || fail "$stick --help"
    status=0
    timeout 10 env -u DISPLAY "$prefix/bin/$stick" --no-such-option </dev/null 2>/dev/null ||
        status=$?
    [ "$status" -eq 2 ] || fail "$stick with an unknown option exited $status, not 2"
done

tv=$("$prefix/bin/tamborex" --version)
cv=$("$prefix/bin/corvane" --version)
[ "${tv#Tamborex }" = "${cv#Corvane }" ] || fail "versions disagree: $tv / $cv"
zgrep -q "${tv#Tamborex }" "$prefix/share/man/man1/tamborex.1.gz" || fail "man page version"
echo "install: ok ($tv)"
