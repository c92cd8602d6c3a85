#!/bin/sh
# Builds the small PE images the file version tests read. Needs mingw-w64
# (x86_64-w64-mingw32-* and i686-w64-mingw32-*). The outputs are committed, so the
# tests need no cross compiler; run this again only to change them.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'int quorla_pe_test(void) { return 0; }\n' >"$work/empty.c"

version_rc() { # file version, product version
  cat <<RC
1 VERSIONINFO
 FILEVERSION $1
 PRODUCTVERSION $2
 FILEFLAGSMASK 0x3fL
 FILEOS 0x40004L
 FILETYPE 0x2L
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "FileVersion", "test"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
}

build() { # prefix, output, file version, product version ("" for no resource)
  prefix=$1 out=$2
  if [ -n "$3" ]; then
    version_rc "$3" "$4" >"$work/v.rc"
    "$prefix-windres" "$work/v.rc" -O coff -o "$work/v.o"
    "$prefix-gcc" -shared -nostdlib -s -Wl,--no-insert-timestamp -o "$out" "$work/empty.c" "$work/v.o"
  else
    "$prefix-gcc" -shared -nostdlib -s -Wl,--no-insert-timestamp -o "$out" "$work/empty.c"
  fi
}

build x86_64-w64-mingw32 version-1.2.3.4-x64.dll "1,2,3,4" "9,9,9,9"
build i686-w64-mingw32 version-1.2.3.4-x86.dll "1,2,3,4" "9,9,9,9"
build x86_64-w64-mingw32 version-65535.0.40000.7-x64.dll "65535,0,40000,7" "1,0,0,0"
build x86_64-w64-mingw32 no-version-x64.dll ""
