#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs inside the power-cut harness's virtual machine, in this machine's own files shared
# read-only: records a Quillora session on a new file system through dm-log-writes, or
# checks crash states of a recording on file systems that this machine's kernel cannot
# mount.
#   powercut-guest.sh FS BUILD            records
#   powercut-guest.sh FS BUILD DIR        checks the states listed in DIR/chosen
# To record, /dev/vda is the disk of the file system, /dev/vdb the log of its writes, and
# /dev/vdc takes what the user had seen at each mark. A check reads the recording in DIR
# and prints one line per state, "powercut: verdict ID MS VERDICT".
set -eu
fs=$1 build=$2 dir=${3:-}
export DM_DISABLE_UDEV=1 TMPDIR=/run/pc
mkdir -p $TMPDIR/config $TMPDIR/home $TMPDIR/runtime /run/mnt
chmod 700 $TMPDIR/runtime
powercut=$build/tools/powercut/powercut

if [ -n "$dir" ]; then
    while read -r id end seen skipped; do
        started=$(date +%s%N)
        truncate -s 320M $TMPDIR/state.img
        replayed=yes
        "$powercut" replay "$dir/log.img" $TMPDIR/state.img "$end" "$skipped" || replayed=
        # These file systems keep no journal: as a user's system would (Windows asks to
        # scan and fix the drive), their checker repairs the volume before it is used.
        [ -z "$replayed" ] || fsck.$fs -y $TMPDIR/state.img >/dev/null 2>&1 || true
        if [ -z "$replayed" ]; then
            verdict="FAIL replay"
        elif ! mount -o loop $TMPDIR/state.img /run/mnt 2>/dev/null; then
            verdict="FAIL mount"
        else
            verdict=$(QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$TMPDIR/config-$id \
                HOME=$TMPDIR/home XDG_RUNTIME_DIR=$TMPDIR/runtime \
                "$powercut" check /run/mnt/notes "$dir/expect" "$seen" 2>/dev/null || true)
            # What a failing state left, and what the kernel said of it.
            case $verdict in ok*) ;; *)
                { ls -la /run/mnt/notes /run/mnt/notes/data/*/* 2>&1; dmesg | tail -n 5; } |
                    sed "s/^/powercut: state $id: /" ;;
            esac
            umount /run/mnt
        fi
        rm -rf $TMPDIR/state.img $TMPDIR/config-"$id"
        echo "powercut: verdict $id $((($(date +%s%N) - started) / 1000000)) $verdict"
    done <"$dir/chosen"
    echo "powercut: checked"
    exit 0
fi

size=$(blockdev --getsz /dev/vda)
dmsetup create --noudevsync pc --table "0 $size log-writes /dev/vda /dev/vdb"
device=/dev/mapper/pc
# No discards from mkfs: they would only make every replay write the whole disk.
case $fs in
ext4) mkfs.ext4 -q -E nodiscard $device ;;
xfs) mkfs.xfs -q -K $device ;;
btrfs) mkfs.btrfs -q -K $device >/dev/null ;;
vfat) mkfs.vfat $device >/dev/null ;;
exfat) mkfs.exfat $device >/dev/null ;;
esac
mount $device /run/mnt
mkdir /run/mnt/notes
"$build/tools/notesgen" write /run/mnt/notes/notes.dat 3000 7
sync

export QT_QPA_PLATFORM=offscreen HOME=$TMPDIR/home XDG_CONFIG_HOME=$TMPDIR/config \
    XDG_DATA_HOME=/run/mnt/notes/data XDG_RUNTIME_DIR=$TMPDIR/runtime
"$powercut" session /run/mnt/notes pc $TMPDIR/expect
umount /run/mnt
dmsetup remove pc
# The marks' lists, after a line with their length.
{ stat -c %s $TMPDIR/expect; cat $TMPDIR/expect; } >/dev/vdc
sync
echo "powercut: recorded"
