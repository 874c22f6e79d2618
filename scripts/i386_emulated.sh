#!/usr/bin/env bash
# Exits 0 when i386 programs run through the user-mode emulator on this
# machine: scripts/bootstrap.sh registers it only where the kernel cannot
# run them itself.
grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386
