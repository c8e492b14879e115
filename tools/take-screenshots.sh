#!/bin/bash
# Takes the pictures in docs/ again from the windows as built, so that they never show an old
# window: every window of Tamborex and Corvane at scale 1 (docs/NAME.png) and at scale 2
# (docs/NAME-x2.png, a HiDPI laptop), on a 1280x800 X server of its own (Xvfb); the user's
# display is never used. The windows are opened by the layout tests, which check each one as it
# is taken.
#
#   tools/take-screenshots.sh [BUILD_FOLDER]      (default: build/default)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
docs=$root/docs

for tool in Xvfb cmake; do
    command -v "$tool" >/dev/null || {
        echo "take-screenshots: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    }
done
cmake --build "$build" --target tamborex_layout_test corvane_layout_test

work=$(mktemp -d)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it once it listens.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "take-screenshots: Xvfb did not start" >&2; exit 1; }
display=:$(head -n1 "$work/display")

mkdir -p "$work/out"
for scale in 1 2; do
    for test in tamborex/ui/tamborex_layout_test corvane/ui/corvane_layout_test; do
        env -u WAYLAND_DISPLAY DISPLAY="$display" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale \
            TBX_SCREENSHOTS="$work/out" HOME="$work" XDG_RUNTIME_DIR="$work" \
            "$build/$test" --gtest_brief=1
    done
done
# Only a run in which every window passed its checks gets this far.
cp "$work/out"/*.png "$docs/"
for picture in "$work/out"/*.png; do
    echo "docs/${picture##*/}"
done
