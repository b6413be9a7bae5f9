#!/usr/bin/env bash
# Usage: check-exports.sh OBJDUMP DEF MODULE
# The stand-in exports exactly the names of its .def file, each by its plain name (no stdcall
# "@n" decoration), so Quenta binds it by name in both widths.
set -u
objdump=$1; def=$2; module=$3
names=$("$objdump" -p "$module" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] *//p' | sort | tr '\n' ' ')
expected=$(sed -n 's/^[[:space:]]\{1,\}\([A-Za-z0-9_]\{1,\}\)[[:space:]]*$/\1/p' "$def" | sort | tr '\n' ' ')
if [ "$names" != "$expected" ]; then
  echo "FAIL $module exports: '$names', expected '$expected'"
  exit 1
fi
echo "$module exports: $names"
