#!/usr/bin/env bash
# Checks orvlink.dll's export table as objdump prints it: exactly the seven
# names, with the ordinals 1 to 7 (objdump prints each name's ordinal minus
# the ordinal base 1), imports from system DLLs only, and a program linked
# through the import library imports the seven names from orvlink.dll.
#   check_dll_exports.sh OBJDUMP orvlink.dll link_check.exe
set -euo pipefail
objdump=$1 dll=$2 exe=$3

expected="0 OrvOpenComm
1 OrvCloseComm
2 OrvSendCommand
3 OrvWriteData
4 OrvReadData
5 OrvHandshake
6 OrvDevicePowerON"

fail() { echo "FAIL: $*" >&2; exit 1; }

table=$("$objdump" -p "$dll")
awk '/^The Export Tables/ { on = 1; print; next } on && /^(The |PE File)/ { exit } on' <<<"$table"

grep -q "^Ordinal Base[[:space:]]*1$" <<<"$table" || fail "ordinal base is not 1"
grep -qE "^Name[[:space:]]+[0-9a-f]+ orvlink.dll$" <<<"$table" || fail "the DLL does not name itself orvlink.dll"
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$table" |
        sed -nE 's/^[[:space:]]*\[[[:space:]]*([0-9]+)\][[:space:]]+([A-Za-z0-9_@]+)$/\1 \2/p' | sort -n)
[ "$names" = "$expected" ] || fail "exports differ:
$names"

imports=$(sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p' <<<"$table" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
[ "$imports" = "kernel32.dll msvcrt.dll " ] || fail "imports beyond the system DLLs: $imports"

# The program's imports from orvlink.dll, by name.
used=$("$objdump" -p "$exe" | sed -n '/DLL Name: orvlink.dll/,/^$/p' |
       sed -nE 's/^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+([A-Za-z0-9_@]+)$/\1/p' | sort)
[ "$used" = "$(cut -d' ' -f2 <<<"$expected" | sort)" ] || fail "link_check imports differ:
$used"
echo "exports, ordinals and imports as expected"
