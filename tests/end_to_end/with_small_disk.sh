#!/usr/bin/env bash
# Runs a command with OSVARI_TEST_SMALL_DISK naming (as a Windows path) a fresh 1 MiB tmpfs,
# for tests of what happens when the disk fills up. Without the right to mount, the command
# runs without the variable and such tests skip themselves.
set -u
mount_point=$(mktemp -d /tmp/osvari-small-disk.XXXXXX)
if mount -t tmpfs -o size=1m tmpfs "$mount_point" 2>/dev/null; then
  trap 'umount "$mount_point"; rmdir "$mount_point"' EXIT
  export OSVARI_TEST_SMALL_DISK="Z:${mount_point//\//\\}"
else
  rmdir "$mount_point"
fi
"$@"
