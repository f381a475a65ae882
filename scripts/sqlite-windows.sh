#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds SQLite for 64-bit Windows as a static library, from the source of the system's own
# libsqlite3 with Debian's MinGW-w64 and Debian's patches, once per machine, and prints the
# directory it is installed in (include/sqlite3.h, lib/libsqlite3.a, and Debian's copyright
# file with SQLite's own licence statement in licenses/). make windows runs this in
# Debian 13 (scripts/debian13.sh). Debian's source is SQLite's full tree: its one-file
# amalgamation, which is what gets compiled, is made first with SQLite's own Tcl scripts.
#   scripts/sqlite-windows.sh            build if not cached, then print the prefix
#   scripts/sqlite-windows.sh --prefix   only print where it goes
# The cache key is SQLite's Debian version and a hash of this script and the toolchain
# file, their comments left out; a build counts only once its last step has written the
# marker file. The whole script is one block, read before it runs.
set -euo pipefail
{

here=$(cd "$(dirname "$0")" && pwd)
toolchain=$here/../cmake/windows/mingw-w64-x86_64.cmake
version=$(dpkg-query -W -f='${Version}' libsqlite3-dev 2>/dev/null || true)
[ -n "$version" ] || { echo "libsqlite3-dev is not installed" >&2; exit 1; }
key=$(cat "$0" "$toolchain" | grep -v '^[[:space:]]*#' | sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillora
prefix=$cache/sqlite-${version//+/-}-mingw-w64-x86_64-$key

if [ "${1:-}" = --prefix ]; then
    echo "$prefix"
    exit 0
fi
marker=$prefix/.quillora-complete
if [ -f "$marker" ]; then
    echo "$prefix"
    exit 0
fi
command -v tclsh >/dev/null || { echo "tclsh is needed to make SQLite's amalgamation" >&2; exit 1; }
# Qt's script adds Debian's source archive where it is missing; SQLite needs it too.
apt-get source --print-uris sqlite3 >/dev/null 2>&1 ||
    { echo "no deb-src for Debian's archive: run scripts/qt-windows.sh first" >&2; exit 1; }

mkdir -p "$cache"
work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "Building SQLite $version for Windows in $work" >&2
apt-get source -qq "sqlite3=$version" >/dev/null 2>&1
mv sqlite3-*/ src

# The amalgamation: its generators are built for this machine and run here.
mkdir amalgamation
(cd amalgamation && ../src/configure --disable-tcl >configure.log 2>&1 &&
    make sqlite3.c >make.log 2>&1) || {
    tail -n 40 amalgamation/*.log >&2
    exit 1
}

# SQLite's defaults, less loadable extensions, which the program never allows, and less
# double-quoted string literals; hardened like the program, with the build folder's name
# kept out of the object.
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib" "$prefix/licenses"
# The toolchain file's C compiler.
x86_64-w64-mingw32-gcc-posix -c -O2 -fstack-protector-strong -ffile-prefix-map="$work=/sqlite" \
    -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_DQS=0 \
    -o sqlite3.o amalgamation/sqlite3.c
x86_64-w64-mingw32-ar rcsD "$prefix/lib/libsqlite3.a" sqlite3.o
cp amalgamation/sqlite3.h "$prefix/include/"
cp src/debian/copyright "$prefix/licenses/copyright"
cp src/LICENSE.md "$prefix/licenses/LICENSE.md"
echo "$version" >"$prefix/licenses/version"
touch "$marker"
echo "$prefix"
exit
}
