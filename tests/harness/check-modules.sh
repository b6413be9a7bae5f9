#!/usr/bin/env bash
# Usage: check-modules.sh OBJDUMP BUILD_TREE WIDTH
# Every module the tree built must be a PE image of the tree's width that imports nothing from the
# MinGW runtime, so a driver package needs no toolchain DLLs beside it. Reads the images only, so it
# also checks a width this machine cannot execute.
set -u
objdump=$1; tree=$2; width=$3
case "$width" in x64) format=pei-x86-64 ;; x86) format=pei-i386 ;; *) echo "bad width $width"; exit 2 ;; esac
bad=0; count=0
while IFS= read -r -d '' module; do
  count=$((count + 1))
  info=$("$objdump" -p "$module" 2>&1)
  grep -q "file format $format" <<<"$info" || { echo "FAIL $module: not $format"; bad=1; }
  if imports=$(grep -iE 'DLL Name: *(libstdc\+\+|libgcc|libwinpthread|libz|libpng)' <<<"$info"); then
    echo "FAIL $module imports: $imports"; bad=1
  fi
done < <(find "$tree" \( -path "$tree/_deps" -o -path "$tree/CMakeFiles" \) -prune -o \( -name '*.exe' -o -name '*.dll' -o -name '*.LAN' -o -name '*.OEM' -o -name '*.UAT' \) -type f -print0)
echo "$count modules checked"
[ "$count" -gt 0 ] || { echo "FAIL no modules found"; bad=1; }
exit $bad
