#!/usr/bin/env bash
# The product's binary contract: the Windows DLL is PE32 for i386 and exports
# the undecorated winampGetOutModule; the Linux library exports it alone.
set -euo pipefail
cd "$(dirname "$0")/.."

dll=build/win32/src/out_quarrow3.dll
so=build/linux/src/out_quarrow3.so
fail() { echo "check-binaries: $*" >&2; exit 1; }

[ -f "$dll" ] || fail "$dll is missing"
header=$(i686-w64-mingw32-objdump -f "$dll")
grep -q "file format pei-i386" <<<"$header" || fail "$dll is not PE32: $header"
grep -q "architecture: i386" <<<"$header" || fail "$dll is not for i386: $header"
exports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
grep -Eq '\] winampGetOutModule$' <<<"$exports" || fail "$dll does not export winampGetOutModule: $exports"
imports=$(i686-w64-mingw32-objdump -p "$dll" | grep 'DLL Name:' | awk '{print tolower($3)}' | sort -u)
for dep in $imports; do
  case "$dep" in
    kernel32.dll|user32.dll|shlwapi.dll|msvcrt.dll|setupapi.dll|advapi32.dll|gdi32.dll|comctl32.dll|api-ms-win-*) ;;
    *) fail "$dll depends on $dep, which a host machine may not have" ;;
  esac
done
echo "check-binaries: $dll is PE32 i386 and exports winampGetOutModule"

[ -f "$so" ] || fail "$so is missing"
dynamic=$(nm -D --defined-only "$so" | awk '{print $3}' | grep -v '^_' | sort -u)
[ "$dynamic" = "winampGetOutModule" ] || fail "$so exports more or less than winampGetOutModule: $dynamic"
echo "check-binaries: $so exports winampGetOutModule only"
