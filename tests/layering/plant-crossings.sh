#!/usr/bin/env bash
# Plants one upward include per pair of neighbouring layers and wants both
# guards to refuse it: scripts/check-layers on a copy of the tree, and the
# compiler given only the lower folder's include view (the build's own).
# Usage: plant-crossings.sh SOURCE_DIR LAYER_ROOT CXX
set -uo pipefail
src=$1 layers=$2 cxx=$3
pairs="platform:settings res:settings platform:res res:platform settings:link link:control
control:data data:devices devices:net net:app app:ui"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
header_in() { find "$src/$1" -maxdepth 1 -name '*.h' | head -1 | sed "s|^$src/||"; }
for pair in $pairs; do
  low=${pair%%:*} high=${pair##*:}
  target=$(header_in "$high")
  tree="$work/$pair"
  mkdir -p "$tree"
  cp -r "$src/scripts" "$src/$low" "$tree/"
  echo "#include \"$target\"" > "$tree/$low/Planted.h"
  if "$tree/scripts/check-layers" "$tree" >/dev/null; then
    echo "check-layers let $low/ include $target"
    failed=1
  fi
  # The compiler sees what the library of $low sees.
  echo "#include \"$target\"" > "$work/planted-$low-$high.cpp"
  if [ -d "$layers/$low" ] && "$cxx" -std=c++20 -fsyntax-only -I "$layers/$low" "$work/planted-$low-$high.cpp" 2>/dev/null; then
    echo "the $low library's include view finds $target"
    failed=1
  fi
done
# And the view is not empty: a layer's own and lower headers are there.
echo "#include \"$(header_in platform)\"" > "$work/fine.cpp"
if ! "$cxx" -std=c++20 -fsyntax-only -I "$layers/devices" "$work/fine.cpp"; then
  echo "the devices library's include view misses platform/"
  failed=1
fi
[ $failed -eq 0 ] && echo "every planted crossing refused"
exit $failed
