#!/bin/sh
# Fails when the shared library exports anything but the seven functions,
# or lacks one of them, or carries the wrong SONAME.
set -eu
lib="$1"
expected="OrvCloseComm
OrvDevicePowerON
OrvHandshake
OrvOpenComm
OrvReadData
OrvSendCommand
OrvWriteData"
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the seven functions:"
  echo "$actual"
  exit 1
fi
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
if [ "$soname" != "liborvlink.so.1" ]; then
  echo "SONAME is '$soname', expected liborvlink.so.1"
  exit 1
fi
echo "exports: $(echo "$actual" | tr '\n' ' ')"
