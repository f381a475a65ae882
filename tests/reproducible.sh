#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages for amd64 and arm64 and, for Windows, quillora.exe, the zip and
# the installer from the commit checked out, in two clones in different folders, and compares them byte for
# byte. The first clone's packages stay for the caller.
#   tests/reproducible.sh FIRST-CLONE SECOND-CLONE
set -euo pipefail
source=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
for clone in "$@"; do
    git clone -q --no-local "$source" "$clone"
    make -C "$clone" package windows-build arm64-deb >"$clone.log" 2>&1 || { tail -n 40 "$clone.log"; exit 1; }
    (cd "$clone/build-windows" && "$clone/scripts/debian13.sh" cpack >>"$clone.log" 2>&1) ||
        { tail -n 40 "$clone.log"; exit 1; }
done
status=0
for artefact in build/quillora_*.deb build-arm64/quillora_*_arm64.deb build-windows/quillora.exe build-windows/quillora-*-win64.zip \
    build-windows/quillora-*-win64.exe; do
    first=$(echo "$1"/$artefact) second=$(echo "$2"/$artefact)
    if cmp -s "$first" "$second"; then
        echo "same: ${first##*/} ($(stat -c %s "$first") bytes)"
    else
        echo "FAIL: ${first##*/} differs between $1 and $2"
        cmp "$first" "$second" | head -n 1 || true
        status=1
    fi
done
exit $status
