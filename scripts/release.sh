#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes release/ from the commit checked out, after make release has run the test suites:
# the Debian packages for amd64 and arm64, the Windows installer and zip, Quillora's
# source, the Debian source package of the Qt that quillora.exe links, and SHA256SUMS. The packages come from a clean
# clone, and only once a second clone in another folder has built the same bytes and
# lintian has passed the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "Commit or stash the changes first: a release is made from a commit." >&2
    exit 1
fi
version=$(head -n 1 VERSION)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillora-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
built=$work/first/quillora
tests/reproducible.sh "$built" "$work/second/elsewhere/quillora"
lintian --fail-on error,warning "$built"/build/quillora_*.deb "$built"/build-arm64/quillora_*_arm64.deb

rm -rf release
mkdir release
cp "$built"/build/quillora_*.deb "$built"/build-arm64/quillora_*_arm64.deb \
    "$built"/build-windows/quillora-*-win64.exe \
    "$built"/build-windows/quillora-*-win64.zip release/
git archive --format=tar.gz --prefix="quillora-$version/" -o "release/quillora-$version.tar.gz" HEAD
cp "$(scripts/debian13.sh scripts/qt-windows.sh --prefix)"/source/* release/
(cd release && sha256sum -- * >SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
ls -l release
