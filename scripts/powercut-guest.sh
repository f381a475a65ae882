#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs inside the power-cut harness's virtual machine, in this machine's own files shared
# read-only: records a Quillora session on a new file system through dm-log-writes.
#   powercut-guest.sh FS BUILD
# /dev/vda is the disk of the file system, /dev/vdb the log of its writes, and /dev/vdc
# takes what the user had seen at each mark.
set -eu
fs=$1 build=$2
export DM_DISABLE_UDEV=1 TMPDIR=/run/pc
mkdir -p $TMPDIR/config $TMPDIR/home $TMPDIR/runtime /run/mnt
chmod 700 $TMPDIR/runtime

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
"$build/tools/powercut/powercut" session /run/mnt/notes pc $TMPDIR/expect
umount /run/mnt
dmsetup remove pc
# The marks' lists, after a line with their length.
{ stat -c %s $TMPDIR/expect; cat $TMPDIR/expect; } >/dev/vdc
sync
echo "powercut: recorded"
