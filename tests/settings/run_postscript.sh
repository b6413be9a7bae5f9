#!/bin/sh
# Runs every job file the key tests wrote through Ghostscript: each must end without
# an error, and no injection file may print its marker.
dir="$1"
[ -d "$dir" ] || { echo "no job files in $dir"; exit 1; }
count=0; failed=0
for f in "$dir"/*.ps; do
  [ -e "$f" ] || continue
  count=$((count + 1))
  out=$(gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=nullpage "$f" 2>&1 < /dev/null); rc=$?
  if [ $rc -ne 0 ] || printf '%s' "$out" | grep -q "Error:"; then
    echo "FAILED ($rc): $f"; printf '%s\n' "$out" | head -20; failed=$((failed + 1))
  elif printf '%s' "$out" | grep -q "INJECTED"; then
    echo "INJECTED: $f"; failed=$((failed + 1))
  fi
done
echo "$count job files, $failed failed"
[ $count -ge 20 ] && [ $failed -eq 0 ]
