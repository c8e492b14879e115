#!/usr/bin/env bash
# tamborex --export-patch and --import-patch as a user runs them: the real program, with no
# display, window system, session manager or MIDI server to be found.
#
#     patch_text_test.sh TAMBOREX PATCH_FOLDER
set -euo pipefail
tamborex=$1
patches=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u NSM_URL -u JACK_DEFAULT_SERVER \
        JACK_NO_START_SERVER=1 "$tamborex" "$@"
}

# Every patch comes back byte for byte, and nothing is said about it.
count=0
for patch in "$patches"/*.txp; do
    run --export-patch "$patch" >"$work/patch.json" 2>"$work/err" || fail "export of $patch"
    [ ! -s "$work/err" ] || fail "export of $patch said: $(cat "$work/err")"
    run --import-patch "$work/patch.json" "$work/patch.txp" 2>"$work/err" || fail "import of $patch"
    [ ! -s "$work/err" ] || fail "import of $patch said: $(cat "$work/err")"
    cmp "$patch" "$work/patch.txp" || fail "$patch did not come back byte for byte"
    count=$((count + 1))
done
[ "$count" -ge 4 ] || fail "only $count patches in $patches"

# An edit is one changed line in a diff of the two texts.
patch=$patches/current.txp
run --export-patch "$patch" >"$work/a.json"
sed '0,/"channel": 0,/s//"channel": 5,/' "$work/a.json" >"$work/b.json"
run --import-patch "$work/b.json" "$work/b.txp"
changed=$(diff <(run --export-patch "$patch") <(run --export-patch "$work/b.txp") | grep -c '^[<>]' || true)
[ "$changed" -eq 2 ] || fail "one edit gave $changed changed lines"

# A refused text names file, line and key, exits 1 and leaves the patch file there untouched.
line=$(grep -n '"channel": 0,' "$work/a.json" | head -1 | cut -d: -f1)
sed "${line}s/\"channel\": 0,/\"channel\": 16,/" "$work/a.json" >"$work/bad.json"
cp "$patch" "$work/keep.txp"
status=0
run --import-patch "$work/bad.json" "$work/keep.txp" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "a refused text exited with $status"
grep -q "^$work/bad.json:$line: slots\[0\]\.axes\[0\]\.channel: must be a whole number from 0 to 15, not 16$" "$work/err" ||
    fail "refusal said: $(cat "$work/err")"
grep -q "keep.txp was not written" "$work/err" || fail "refusal said: $(cat "$work/err")"
cmp "$patch" "$work/keep.txp" || fail "a refused import changed the file there"
[ "$(ls -A "$work" | grep -c tmp)" -eq 0 ] || fail "a temporary was left: $(ls -A "$work")"

# What cannot be read is named; the options stand alone.
status=0
run --export-patch "$work/none.txp" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] && grep -q "$work/none.txp" "$work/err" && [ ! -s "$work/out" ] ||
    fail "a missing patch gave $status: $(cat "$work/err")"
status=0
run --export-patch "$patch" --headless >/dev/null 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "--export-patch beside --headless gave $status"
run --help | grep -q -- "--import-patch FILE.json OUT.txp" || fail "--help does not list the options"
echo "patch text: $count patches came back byte for byte"
