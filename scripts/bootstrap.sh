#!/usr/bin/env bash
# Installs what the build needs on a Debian machine: the i386 multiarch
# toolchain, CMake, Ninja, the test and benchmark libraries, the 32-bit
# sanitizer runtimes (make check), and for rkctl the command-line, TOML and
# JSON libraries (header-only; toml++ is used in its header-only mode, its
# package is the i386 one because it also ships a compiled library) and
# pkg-config for the installed tree's test. Quiet and quick when everything is already there.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in g++-multilib cmake ninja-build make libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386 \
         lib32asan8 lib32ubsan1 libcli11-dev nlohmann-json3-dev libtomlplusplus-dev:i386 pkg-config; do
  have_pkg "$p" || need+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=0
apt_install() {
  echo "bootstrap: installing $*"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  [ $updated -eq 1 ] || $sudo apt-get update -qq
  updated=1
  $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
[ ${#need[@]} -eq 0 ] || apt_install "${need[@]}"

# Some kernels cannot run i386 programs themselves (virtual machines that
# leave the 32-bit mode out): there the user-mode emulator runs them, as the
# registered interpreter of 32-bit x86 programs. The kernel library knows
# when it runs under it (see platform/user_emulation.h). Figures of
# `make bench` taken so are the emulator's, not the kernel's.
i386_runs() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
i386_runs && exit 0
have_pkg qemu-user-static || apt_install qemu-user-static
misc=/proc/sys/fs/binfmt_misc
[ -e $misc/register ] || $sudo mount -t binfmt_misc binfmt_misc $misc
if [ -e $misc/qemu-i386 ]; then
  echo 1 | $sudo tee $misc/qemu-i386 >/dev/null
else
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | $sudo tee $misc/register >/dev/null
fi
if ! i386_runs; then
  echo "bootstrap: this machine cannot run i386 programs, not even through qemu-i386-static" >&2
  exit 1
fi
echo "bootstrap: this kernel cannot run i386 programs itself; they run through qemu-i386-static"
