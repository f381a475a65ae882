#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# hardening-check on a Linux build of Quillora: position-independent, stack protector,
# fortified functions, full RELRO, immediate binding and control-flow protection.
#   hardening.sh BINARY [COMPILE-OPTIONS]
# Two checks give false alarms that hardening-check's manual names; each is waived only
# where it cannot be met, and then checked another way:
# - the control-flow protection mark is kept only if every object linked carries it; where
#   the C library's own start files carry none (Debian 12), no program can, so the check is
#   that our code has the indirect-branch landing pads that -fcf-protection puts in;
# - fortified functions: where every call that could be fortified was either proved safe
#   by the compiler or copies into memory allocated elsewhere (Qt's containers), none is
#   left to import; then the program must import no checked function and none of the
#   functions that the C library's fortification replaces outright (gets, sprintf...), and
#   the compile options, where given, must ask for fortification.
# Newer versions of hardening-check (Debian 13) also look for stack-clash probes, which a
# program whose stack frames are all small has none of: that "unknown" passes only where
# the compile options ask for -fstack-clash-protection. Their branch-protection check is
# left to this script's own, below. The checks follow the binary's own
# processor, not this machine's: an arm64 build checked here is checked as arm64. There,
# branch protection (BTI and PAC) is checked where the compile options ask for it, and
# control-flow protection, an x86 mark, is left out.
set -euo pipefail
binary=$1 options=${2-}
waive=()
machine=$(readelf -h "$binary" | sed -n 's/^[[:space:]]*Machine:[[:space:]]*//p')
case $machine in
AArch64) triple=aarch64-linux-gnu ;;
*X86-64) triple=x86_64-linux-gnu ;;
*) echo "FAIL: $binary is for $machine" >&2; exit 1 ;;
esac
cc=${CC:-$triple-gcc}
command -v "$cc" >/dev/null || cc=cc
if [ "$triple" = x86_64-linux-gnu ] &&
    ! readelf -n "$("$cc" -print-file-name=Scrt1.o)" | grep -q 'x86 feature: IBT, SHSTK'; then
    pads=$(objdump -d --no-show-raw-insn "$binary" | grep -c 'endbr64' || true)
    [ "$pads" -ge 100 ] || { echo "FAIL: $pads landing pads in $binary" >&2; exit 1; }
    echo "control-flow protection: the C library's start files carry no mark; $pads landing pads"
    waive+=(--nocfprotection)
fi
if [ "$triple" = aarch64-linux-gnu ]; then
    # The mark, or where the C library's start files carry none, our code's landing pads
    # (bti) and signed return addresses (paciasp).
    if grep -q -- '-mbranch-protection=standard' <<<"$options"; then
        if readelf -n "$binary" | grep -q 'AArch64 feature: BTI, PAC'; then
            echo "branch protection: marked BTI, PAC"
        else
            code=$(aarch64-linux-gnu-objdump -d --no-show-raw-insn "$binary")
            bti=$(grep -cw bti <<<"$code" || true) pac=$(grep -cw paciasp <<<"$code" || true)
            [ "$bti" -ge 100 ] && [ "$pac" -ge 100 ] ||
                { echo "FAIL: $bti landing pads and $pac signed returns in $binary" >&2; exit 1; }
            echo "branch protection: the C library's start files carry no mark; $bti landing" \
                "pads, $pac signed returns"
        fi
    else
        echo "branch protection: not asked for by this system's build flags"
    fi
    waive+=(--nocfprotection)
fi
imports=$(nm -D --undefined-only "$binary")
if ! grep -qE '__[[:alnum:]_]+_chk(@|$)' <<<"$imports"; then
    ! grep -qwE 'gets|sprintf|vsprintf|strcpy|strcat|stpcpy' <<<"$imports" ||
        { echo "FAIL: unchecked string functions imported" >&2; exit 1; }
    [ -z "$options" ] || grep -q -- '-D_FORTIFY_SOURCE=[23]' <<<"$options" ||
        { echo "FAIL: built without -D_FORTIFY_SOURCE: $options" >&2; exit 1; }
    echo "fortified functions: none left to check at run time"
    waive+=(--nofortify)
fi
if grep -q nobranchprotection "$(command -v hardening-check)"; then
    waive+=(--nobranchprotection)
fi
report=$(hardening-check "${waive[@]}" "$binary") || { echo "$report"; exit 1; }
echo "$report"
while read -r unknown; do
    [[ $unknown == "Stack clash protection: unknown"* ]] || { echo "FAIL: $unknown" >&2; exit 1; }
    grep -q -- -fstack-clash-protection <<<"$options" ||
        { echo "FAIL: stack-clash protection neither found nor asked for: $options" >&2; exit 1; }
done < <(grep ': unknown' <<<"$report" | sed 's/^[[:space:]]*//')
