#!/usr/bin/env bash
# Makes the README's picture of the tooltip (docs/tooltip.png): the tooltip with two lines, as
# Wine draws it on a virtual display of its own.
#   scripts/tooltip-screenshot.sh [windows-build-dir] [output.png]
# Builds tooltip_picture_test in the Windows build directory (default build/windows) and runs it
# with IDROVAN_TOOLTIP_SHOT set: the test checks the tooltip's drawing, writes its screen rectangle
# to that file and keeps it up until the file is removed. Meanwhile ImageMagick's import takes the
# screen, cut to the tooltip with a small margin.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${1:-build/windows}")
out=$(realpath -m "${2:-docs/tooltip.png}")

[[ -f $build/CMakeCache.txt ]] || cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target tooltip_picture_test

work=$(mktemp -d)
source scripts/wine-env.sh
test_pid=
stop() {
  [[ -n $test_pid ]] && kill "$test_pid" 2>/dev/null
  wine_env_stop
  rm -rf "$work"
}
trap stop EXIT
wine_env_start "$root/build/tooltip-shot-wine"

rect=$work/rect
(cd "$build/tests" && IDROVAN_TOOLTIP_SHOT="Z:$rect" wine ./tooltip_picture_test.exe) &
test_pid=$!
for _ in $(seq 1 600); do
  [[ -f $rect ]] && break
  kill -0 "$test_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -f $rect ]]; then
  echo "The test did not show the tooltip." >&2
  exit 1
fi
# The line ends in CR LF, as Windows programs write text.
read -r left top width height < <(tr -d '\r' <"$rect")
margin=8
mkdir -p "$(dirname "$out")"
import -window root -crop "$((width + 2 * margin))x$((height + 2 * margin))+$((left - margin))+$((top - margin))" \
  +repage -strip "$out"
rm -f "$rect"
wait "$test_pid"
test_pid=
[[ -s $out ]]
echo "Screenshot: $out"
