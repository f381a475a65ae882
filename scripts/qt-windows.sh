#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds a static Qt for 64-bit Windows from Debian's own qt6-base source with Debian's
# MinGW-w64, once per machine, and prints the directory it is installed in. The source is
# that of the system's own Qt, whose tools (moc, rcc, uic) the build uses: make windows
# runs this in Debian 13 (scripts/debian13.sh), for Qt 6.8, a long-term-support release
# that Debian 13 keeps up with its stable and security updates.
#   scripts/qt-windows.sh            build if not cached, then print the prefix
#   scripts/qt-windows.sh --prefix   only print where it goes
# Beside Qt, the prefix keeps what the LGPL asks us to pass on with a static Qt: the
# source package it was built from (source/) and the licence texts and attribution files
# of Qt and of the code bundled in it (licenses/).
# The cache key is the Qt version and a hash of this script and the toolchain file, their
# comments left out, so a changed recipe builds anew. A build counts only once its last
# step has written the marker file, so a half-built Qt is never used. The whole script is
# one block, read before it runs: a checkout that changes it meanwhile cannot break a build.
set -euo pipefail
{

here=$(cd "$(dirname "$0")" && pwd)
toolchain=$here/../cmake/windows/mingw-w64-x86_64.cmake
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null | sed 's/+.*//')
[ -n "$qt_version" ] || { echo "qt6-base-dev is not installed" >&2; exit 1; }
key=$(cat "$0" "$toolchain" | grep -v '^[[:space:]]*#' | sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillora
prefix=$cache/qt-$qt_version-mingw-w64-x86_64-$key

if [ "${1:-}" = --prefix ]; then
    echo "$prefix"
    exit 0
fi
marker=$prefix/.quillora-complete
if [ -f "$marker" ]; then
    echo "$prefix"
    exit 0
fi

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# The source comes from the same archive as the binary packages.
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    echo "Adding deb-src for Debian's archive" >&2
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            as_root tee /etc/apt/sources.list.d/quillora-deb-src.sources >/dev/null
    else
        grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
            as_root tee /etc/apt/sources.list.d/quillora-deb-src.list >/dev/null
    fi
    as_root apt-get update -qq
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "Building Qt $qt_version for Windows in $work (about 25 minutes on 2 cores)" >&2
apt-get source -qq "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)" >/dev/null
mv qt6-base-*/ src

# Qt's toolchain file loads ours by its path, so ours is kept inside the installed Qt.
rm -rf "$prefix"
mkdir -p "$prefix/source" "$prefix/licenses"
cp "$toolchain" "$prefix/mingw-w64-x86_64.cmake"
cp qt6-base_* "$prefix/source/"
(
    cd src
    cp --parents -r LICENSES debian/copyright "$prefix/licenses/"
    find . -name qt_attribution.json -not -path './tests/*' | while read -r attribution; do
        dir=$(dirname "$attribution")
        cp --parents "$attribution" "$prefix/licenses/"
        sed -n 's/.*"LicenseFile": *"\([^"]*\)".*/\1/p' "$attribution" | while read -r file; do
            cp --parents "$(realpath --relative-to=. "$dir/$file")" "$prefix/licenses/"
        done
    done
)

# Hardened like the program that links it (the stack protector, with MinGW's libssp linked
# statically), and with the build folder's name kept out of the objects.
flags="-fstack-protector-strong -ffile-prefix-map=$work=/qt"

# A unity build, which compiles the sources in batches of 32, and without what neither
# quillora.exe nor its tests use: the Direct2D platform plugin and the GIF and ICO image
# plugins. Direct2D itself stays, as Qt's DirectWrite font engine needs it; so does OpenGL,
# without which Qt 6.8.2's Windows platform plugin does not compile.

cmake -S src -B build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=OFF \
    -DFEATURE_static_runtime=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DQT_UNITY_BUILD=ON \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_direct2d1_1=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF \
    -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON \
    -DFEATURE_tabletevent=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_freetype=ON \
    -DFEATURE_jpeg=OFF -DFEATURE_system_jpeg=OFF \
    >"$work/configure.log" 2>&1 || { tail -n 60 "$work/configure.log" >&2; exit 1; }
cmake --build build -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -n 60 "$work/build.log" >&2; exit 1; }
cmake --install build >/dev/null
[ -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ] || { echo "Qt installed no toolchain file" >&2; exit 1; }
touch "$marker"
echo "$prefix"
exit
}
