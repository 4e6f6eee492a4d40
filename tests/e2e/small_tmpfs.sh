#!/bin/sh
# The small tmpfs of the setup.exe disk space scenarios, mounted and unmounted as steps of
# the ctest fixture wine_session:
#   small_tmpfs.sh mount DIR    mount a 1 MiB tmpfs on DIR and mark it as ours
#   small_tmpfs.sh umount DIR   unmount it again
# Mounting needs root. Without it the step still succeeds, saying why; the scenarios then see
# no marker and skip.
set -u
[ $# -eq 2 ] || { echo "usage: small_tmpfs.sh mount|umount DIR" >&2; exit 2; }
dir=$2
case "$1" in
  mount)
    mkdir -p "$dir" || exit 1
    if ! mountpoint -q "$dir"; then
      if ! mount -t tmpfs -o size=1m,mode=0755 e2e-small-tmpfs "$dir" 2>/dev/null; then
        echo "small_tmpfs: cannot mount a tmpfs on $dir (needs root): disk space scenarios skip"
        exit 0
      fi
    fi
    # Left by an interrupted run: start empty. The marker lives inside the tmpfs, so it is
    # only there while the tmpfs is mounted.
    find "$dir" -mindepth 1 -delete
    touch "$dir/.small-tmpfs"
    echo "small_tmpfs: 1 MiB tmpfs on $dir"
    ;;
  umount)
    if mountpoint -q "$dir"; then
      # A Wine process that still has a file open there must not keep the mount alive.
      umount "$dir" 2>/dev/null || umount -l "$dir"
    fi
    ;;
  *) echo "small_tmpfs: unknown command $1" >&2; exit 2 ;;
esac
