#!/usr/bin/env bash
# Usage: check-exports.sh OBJDUMP MODULE
# The module exports exactly DllCanUnloadNow and DllGetClassObject, by plain name.
set -u
objdump=$1; module=$2
names=$("$objdump" -p "$module" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] *//p' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject "
if [ "$names" != "$expected" ]; then
  echo "FAIL $module exports: '$names', expected '$expected'"
  exit 1
fi
echo "$module exports: $names"
