#!/usr/bin/env bash
# Brimsa.exe is a console program, and Quenta.dll has no SafeSEH handler table (the i686 RPC
# guard links its handler by hand, which a SafeSEH table would refuse).
set -euo pipefail
objdump="$1"; bin="$2"
brimsa=$("$objdump" -p "$bin/Brimsa.exe")
quenta=$("$objdump" -p "$bin/Quenta.dll")
grep -Eq 'Subsystem[[:space:]]+0+3[[:space:]]+\(Windows CUI\)' <<<"$brimsa" \
  || { echo "Brimsa.exe is not a console program"; exit 1; }
if grep -Eq 'SEHandlerTable[[:space:]]+0*[1-9a-fA-F]' <<<"$quenta"; then
  echo "Quenta.dll carries a SafeSEH table"; exit 1
fi
echo "Brimsa.exe: console; Quenta.dll: no SafeSEH table"
