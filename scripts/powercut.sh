#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# make powercut: Quillora through the crash states that a power cut can leave.
#   scripts/powercut.sh BUILD
# For each file system, a Quillora session is recorded in a virtual machine running
# Debian's own kernel, through dm-log-writes; then, on this machine, each crash state of
# the recording (the writes up to a flush or FUA write, and a seeded sample of states that
# keep only some of the writes after one) is written onto an image, mounted, and Quillora
# started and left there as a user would after the power came back. Every change the user
# had seen must still be there, once.
# File systems that this machine's kernel cannot mount are checked in the virtual machine.
# Options, as variables: POWERCUT_FS ("ext4 xfs btrfs"; also vfat and exfat), POWERCUT_STATES (barrier states
# checked per file system, spread over the session, 40; "all" for every one),
# POWERCUT_SAMPLES (reordered states, 8), POWERCUT_SEED (1).
set -eu
build=$(cd "${1:?usage: $0 BUILD}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
filesystems=${POWERCUT_FS:-ext4 xfs btrfs}
wanted=${POWERCUT_STATES:-40}
samples=${POWERCUT_SAMPLES:-8}
seed=${POWERCUT_SEED:-1}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillora/powercut
work=$build/powercut
powercut=$build/tools/powercut/powercut
mkdir -p "$cache" "$work"
# No image stays mounted, however the harness ends.
trap 'for mnt in "$work"/*/mnt-*; do ! mountpoint -q "$mnt" || umount "$mnt" || true; done' EXIT

# Debian's kernel, unpacked into the cache: this machine's own kernel stays as it is.
kernel_package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
kernel_root=$cache/$kernel_package
if [ ! -f "$kernel_root.complete" ]; then
    rm -rf "$kernel_root" && mkdir -p "$kernel_root"
    (cd "$cache" && apt-get download -q "$kernel_package" 2>/dev/null)
    dpkg-deb -x "$cache/${kernel_package}"_*.deb "$kernel_root"
    rm -f "$cache/${kernel_package}"_*.deb
    touch "$kernel_root.complete"
fi
version=${kernel_package#linux-image-}
modules=$kernel_root/lib/modules/$version
[ -f "$modules/modules.dep" ] || depmod -b "$kernel_root" "$version"

# The harness's own initramfs: busybox, the modules, and an init that mounts this
# machine's files and runs the guest script in them.
initrd=$work/initrd.cpio.gz
rm -rf "$work/initrd" && mkdir -p "$work/initrd/bin" "$work/initrd/modules" "$work/initrd/proc" \
    "$work/initrd/sys" "$work/initrd/dev"
cp /bin/busybox "$work/initrd/bin/"
for module in virtio_pci virtio_blk 9pnet_virtio 9p dm-log-writes loop ext4 xfs btrfs vfat exfat \
    nls_cp437 nls_ascii nls_utf8; do
    modprobe -d "$kernel_root" -S "$version" --show-depends "$module"
done | awk '$1 == "insmod" && !seen[$2]++ {print $2}' | while read -r path; do
    cp "$path" "$work/initrd/modules/"
    echo "/modules/$(basename "$path")" >>"$work/initrd/modules/order"
done
cat >"$work/initrd/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for module in $(cat /modules/order); do insmod "$module" 2>/dev/null; done
mkdir -p /host
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose host /host
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
mount -t devtmpfs dev /host/dev
mount -t tmpfs run /host/run
set -- $(cat /proc/cmdline)
for word; do case $word in powercut=*) args=${word#powercut=} ;; esac; done
[ -n "$args" ] && chroot /host /bin/bash $(echo "$args" | tr , ' ') </dev/null >/dev/console 2>&1
poweroff -f
INIT
chmod +x "$work/initrd/init"
(cd "$work/initrd" && find . | cpio -o -H newc --quiet | gzip -1 >"$initrd")

accel="-accel tcg -cpu max"
accel_name="TCG (software emulation)"
if [ -w /dev/kvm ] && [ -z "${POWERCUT_TCG:-}" ]; then
    # Under nested virtualisation KVM may stop at once or hang; it is used only where a
    # short boot comes up.
    accel="-accel kvm -cpu host"
    accel_name=KVM
fi

# boot LOG ARGS [QEMU-OPTION...]: the virtual machine, running powercut-guest.sh with the
# arguments ARGS (separated by commas), its console written to LOG.
boot() {
    local log=$1 args=$2
    shift 2
    # shellcheck disable=SC2086
    timeout 3600 qemu-system-x86_64 $accel -m 1536 -smp 1 -nographic -no-reboot -nic none \
        -kernel "$kernel_root/boot/vmlinuz-$version" -initrd "$initrd" \
        -append "console=ttyS0 quiet panic=-1 powercut=$here/scripts/powercut-guest.sh,$args" \
        -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
        "$@" >"$log" 2>&1 </dev/null || true
}

record() {
    local fs=$1 dir=$work/$1
    rm -rf "$dir" && mkdir -p "$dir"
    truncate -s 320M "$dir/disk.img"
    truncate -s 1G "$dir/log.img"
    truncate -s 16M "$dir/expect.img"
    boot "$dir/guest.log" "$fs,$build" \
        -drive file="$dir/disk.img",format=raw,if=virtio,cache=unsafe \
        -drive file="$dir/log.img",format=raw,if=virtio,cache=unsafe \
        -drive file="$dir/expect.img",format=raw,if=virtio,cache=unsafe
    if ! grep -q "powercut: recorded" "$dir/guest.log"; then
        echo "powercut: $fs: the recording failed; see $dir/guest.log" >&2
        tail -n 20 "$dir/guest.log" >&2
        return 1
    fi
    local length
    length=$(head -n 1 "$dir/expect.img" | tr -d '\0')
    tail -n +2 "$dir/expect.img" | head -c "$length" >"$dir/expect"
}

# One crash state: replayed onto an image of its own, mounted, and checked. Writes the
# verdict and the time it took to $dir/verdict.ID; keeps the image of a failing state.
check_state() {
    local fs=$1 id=$2 end=$3 seen=$4 skipped=$5 dir=$work/$1
    local image=$dir/state-$id.img mnt=$dir/mnt-$id verdict started
    started=$(date +%s%N)
    truncate -s 320M "$image"
    mkdir -p "$mnt"
    if ! "$powercut" replay "$dir/log.img" "$image" "$end" "$skipped"; then
        verdict="FAIL replay"
    # Two images of one xfs share its UUID, which xfs mounts only once unless told.
    elif ! mount -o "loop$([ "$fs" != xfs ] || echo ,nouuid)" "$image" "$mnt" 2>/dev/null; then
        verdict="FAIL mount"
    else
        verdict=$(QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$dir/config-$id HOME=$dir \
            "$powercut" check "$mnt/notes" "$dir/expect" "$seen" 2>/dev/null || true)
        umount "$mnt"
    fi
    rmdir "$mnt"
    case $verdict in ok*) rm -f "$image" ;; esac
    echo "$(((($(date +%s%N) - started) / 1000000))) $verdict" >"$dir/verdict.$id"
}

# The states of a file system that this machine's kernel cannot mount (vfat and exFAT, here)
# are checked in the virtual machine, one at a time, with the same verdicts.
check_in_guest() {
    local fs=$1 dir=$work/$1 id ms verdict
    boot "$dir/check.log" "$fs,$build,$dir"
    grep -q "powercut: checked" "$dir/check.log" ||
        echo "powercut: $fs: the virtual machine did not finish the checks; see $dir/check.log" >&2
    tr -d '\r' <"$dir/check.log" | grep -o 'powercut: verdict .*' | while read -r _ _ id ms verdict; do
        echo "$ms $verdict" >"$dir/verdict.$id"
    done
    while read -r id _; do
        [ -f "$dir/verdict.$id" ] || echo "0 FAIL not checked" >"$dir/verdict.$id"
    done <"$dir/chosen"
}

mountable_here() {
    grep -qw "$1" /proc/filesystems || modprobe -q "$1" 2>/dev/null
}

failed=0
for fs in $filesystems; do
    started=$(date +%s)
    record "$fs" || { failed=1; continue; }
    dir=$work/$fs
    recorded=$(($(date +%s) - started))
    # States before the session's first mark hold no notes anyone saw.
    "$powercut" states "$dir/log.img" "$samples" "$seed" >"$dir/states"
    grep -v '^#' "$dir/states" | awk -v marks="$(grep '^MARK ' "$dir/expect" | cut -d' ' -f2 | tr '\n' ' ')" \
        'BEGIN { n = split(marks, m, " "); for (i = 1; i <= n; i++) known[m[i]] = 1 } known[$3]' \
        >"$dir/seen-states"
    barriers=$(awk '$4 == "-"' "$dir/seen-states" | wc -l)
    if [ "$wanted" = all ] || [ "$barriers" -le "$wanted" ]; then
        awk '$4 == "-"' "$dir/seen-states" >"$dir/chosen"
    else
        awk -v n="$barriers" -v w="$wanted" '$4 == "-" { if (int(i * w / n) != int((i - 1) * w / n) || i == 0) print; i++ }' \
            "$dir/seen-states" >"$dir/chosen"
    fi
    reordered=$(awk '$4 != "-"' "$dir/seen-states" | tee -a "$dir/chosen" | wc -l)
    if mountable_here "$fs"; then
        # Two states at a time, one for each core here.
        while read -r id end seen skipped; do
            [ "$(jobs -rp | wc -l)" -lt "$(nproc)" ] || wait -n
            check_state "$fs" "$id" "$end" "$seen" "$skipped" &
        done <"$dir/chosen"
        wait
    else
        check_in_guest "$fs"
    fi
    tried=0 lost=0 duplicated=0 damaged=0 slowest=0 first_failure=
    while read -r id end seen skipped; do
        read -r ms verdict <"$dir/verdict.$id"
        [ "$ms" -le "$slowest" ] || slowest=$ms
        tried=$((tried + 1))
        echo "$id $end $seen $skipped: $verdict" >>"$dir/verdicts"
        case $verdict in ok*) continue ;; esac
        case $verdict in *lost=[1-9]* | *draft=lost* | "FAIL mount" | "FAIL replay" | "FAIL not checked") lost=$((lost + 1)) ;; esac
        case $verdict in *duplicated=[1-9]* | *stale=[1-9]*) duplicated=$((duplicated + 1)) ;; esac
        case $verdict in *damaged=1*) damaged=$((damaged + 1)) ;; esac
        if [ -z "$first_failure" ]; then
            first_failure=$id
            if [ -f "$dir/state-$id.img" ]; then
                mv "$dir/state-$id.img" "$dir/first-failure.img"
            else # checked in the virtual machine
                truncate -s 320M "$dir/first-failure.img"
                "$powercut" replay "$dir/log.img" "$dir/first-failure.img" "$end" "$skipped" || true
            fi
            grep "^MARK " "$dir/expect" | cut -d' ' -f2 >"$dir/first-failure-marks.txt"
            echo "state $id: entries up to $end, seen $seen, left out $skipped: $verdict" \
                >"$dir/first-failure.txt"
        fi
    done <"$dir/chosen"
    rm -f "$dir"/state-*.img "$dir"/verdict.*
    rm -rf "$dir"/config-*
    echo "powercut: $fs: $tried crash states ($((tried - reordered)) of the $barriers at a flush," \
        "$reordered reordered)" \
        "($accel_name, recorded in ${recorded} s): lost $lost, duplicated $duplicated," \
        "damaged $damaged; slowest replay and check ${slowest} ms"
    if [ -n "$first_failure" ]; then
        echo "powercut: $fs: first failing state kept: $dir/first-failure.img ($(cat "$dir/first-failure.txt"))"
        failed=1
    fi
done
exit $failed
