#!/bin/sh
# Mounts or unmounts the fault-injecting test file system (fault_fs.c).
#   fault_fs.sh mount   SOURCE_DIR WORK_DIR   builds it natively into WORK_DIR,
#                                             mounts it on WORK_DIR/mnt (state
#                                             in WORK_DIR/state)
#   fault_fs.sh unmount WORK_DIR              releases every held read, unmounts,
#                                             ends the file system's process
# Without /dev/fuse, mount only leaves WORK_DIR/no-fuse: the tests over it then skip.
set -u
cmd=$1
if [ "$cmd" = mount ]; then
    src=$2 work=$3
else
    work=$2
fi
case $work in /*) ;; *) work=$(pwd)/$work ;; esac
mnt=$work/mnt state=$work/state

unmount() {
    [ -d "$state" ] && : > "$state/release"
    if grep -qs " $mnt fuse" /proc/mounts; then
        fusermount3 -u -z "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null
    fi
    if [ -s "$work/pid" ]; then
        pid=$(cat "$work/pid")
        kill "$pid" 2>/dev/null
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2>/dev/null
        rm -f "$work/pid"
    fi
    return 0
}

case $cmd in
unmount)
    unmount
    ;;
mount)
    mkdir -p "$work"
    unmount
    rm -f "$work/no-fuse"
    if [ ! -e /dev/fuse ]; then
        # The tests over it skip when they find this file.
        echo "/dev/fuse does not exist here" > "$work/no-fuse"
        echo "fault_fs: /dev/fuse does not exist here: the tests over the fault file system will be skipped"
        exit 0
    fi
    exe=$work/fault_fs
    if [ ! -x "$exe" ] || [ "$src/fault_fs.c" -nt "$exe" ]; then
        flags=$(pkg-config --cflags --libs fuse3 2>/dev/null || echo "-I/usr/include/fuse3 -lfuse3 -lpthread")
        # shellcheck disable=SC2086  # flags is a list
        cc -std=c11 -D_GNU_SOURCE -Wall -Wextra -O2 -o "$exe" "$src/fault_fs.c" $flags || exit 1
    fi
    rm -rf "$state"
    mkdir -p "$mnt" "$state"
    # In the foreground of its own session, with no tie to ctest's pipes.
    setsid "$exe" "$mnt" "$state" -f </dev/null >"$work/log" 2>&1 &
    echo $! > "$work/pid"
    i=0
    while ! grep -qs " $mnt fuse" /proc/mounts; do
        i=$((i + 1))
        if [ $i -gt 100 ] || ! kill -0 "$(cat "$work/pid")" 2>/dev/null; then
            echo "fault_fs: the file system did not mount:" >&2
            cat "$work/log" >&2
            unmount
            exit 1
        fi
        sleep 0.05
    done
    echo "fault_fs: mounted on $mnt"
    ;;
*)
    echo "usage: $0 mount SOURCE_DIR WORK_DIR | unmount WORK_DIR" >&2
    exit 2
    ;;
esac
