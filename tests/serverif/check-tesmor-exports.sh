#!/usr/bin/env bash
# Usage: check-tesmor-exports.sh OBJDUMP MODULE
# The module exports exactly the sixteen QVServer functions by plain name, at ordinals 1 to 16
# in the fixed order the two-way server's builds rely on.
set -u
objdump=$1; module=$2
expected="1 QVServerConnect
2 QVServerDisconnect
3 QVServerDiscover
4 QVServerFreeDiscover
5 QVServerFreeFeaturesList
6 QVServerFreeInstallablesList
7 QVServerFreeMultipleDefaults
8 QVServerFreeVPAttributes
9 QVServerGetEMailNotifyInfo
10 QVServerGetFeaturesList
11 QVServerGetInstallablesList
12 QVServerGetMultipleDefaults
13 QVServerGetPPD
14 QVServerGetVPAttributes
15 QVServerInitialize
16 QVServerTerminate"
info=$("$objdump" -p "$module") || { echo "FAIL cannot read $module"; exit 1; }
base=$(sed -n 's/^Ordinal Base[[:space:]]*//p' <<<"$info" | head -1)
# Name table lines: "[index] Name"; the ordinal is the index plus the base (ordinals are hinted in order).
table=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$info" | sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] *\(.*\)$/\1 \2/p')
actual=$(while read -r index name; do [ -n "$index" ] && echo "$((index + base)) $name"; done <<<"$table")
# The export address table must hold exactly sixteen entries too (no export by ordinal only).
entries=$(sed -n '/^Export Address Table/,/^$/p' <<<"$info" | grep -c '^[[:space:]]*\[')
if [ "$actual" != "$expected" ] || [ "$entries" != 16 ]; then
  echo "FAIL $module exports (base $base, $entries entries):"; echo "$actual"; exit 1
fi
echo "$module: 16 exports, ordinals 1-16"
