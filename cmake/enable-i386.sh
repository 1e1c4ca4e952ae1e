#!/usr/bin/env bash
# Makes sure this machine can execute 32-bit x86 Linux programs, which Wine's
# 32-bit loader is. A kernel started without IA-32 emulation refuses them
# ("Exec format error"); there the programs are handed to qemu's user-mode
# emulator through binfmt_misc. Debian 12's emulator (7.2) cannot carry
# Wine (it fails to map Wine's fixed shared page, and crashes once told to
# reserve the address space), so the emulator comes from Debian 13's
# qemu-user package, statically linked, fetched with a private apt list that
# leaves the system's sources untouched.
set -euo pipefail

dest=/usr/local/lib/ztolvera
qemu=$dest/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc

# A 32-bit ELF of 84 bytes plus 12 of code: exit(7).
probe() {
    local elf
    elf=$(mktemp)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x07\x00\x00\x00\xcd\x80' >"$elf"
    chmod +x "$elf"
    local rc=0
    "$elf" 2>/dev/null || rc=$?
    rm -f "$elf"
    [ "$rc" = 7 ]
}

probe && exit 0
echo "setup: this kernel does not execute 32-bit programs; handing them to qemu-i386"

if [ ! -x "$qemu" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
    echo "deb http://deb.debian.org/debian trixie main" >"$work/sources.list"
    apt_private=(-q -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
                 -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
                 -o APT::Architecture=amd64 -o APT::Architectures=amd64
                 -o APT::Sandbox::User=root)
    apt-get "${apt_private[@]}" update >/dev/null
    (cd "$work" && apt-get "${apt_private[@]}" download qemu-user >/dev/null)
    dpkg-deb -x "$work"/qemu-user_*.deb "$work/root"
    mkdir -p "$dest"
    install -m 755 "$work/root/usr/bin/qemu-i386" "$qemu"
fi

mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt"
# An earlier registration (Debian 12's emulator, say) gives way to ours.
[ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
# F: the emulator is opened now, so it also serves programs in other mount
# namespaces and survives its file being replaced.
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    >"$binfmt/register"

probe || { echo "setup: 32-bit programs still do not run through $qemu" >&2; exit 1; }
echo "setup: 32-bit programs run through $qemu"
