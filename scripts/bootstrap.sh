#!/usr/bin/env bash
# Installs what one build variant needs on a Debian machine, and nothing that
# only another variant needs:
#   scripts/bootstrap.sh          the machine's native build
#   scripts/bootstrap.sh i386     the 32-bit x86 build (multiarch packages,
#                                 and the user-mode emulator only where the
#                                 kernel cannot run i386 programs itself)
#   scripts/bootstrap.sh aarch64  the 64-bit Arm build, cross-compiled by clang
#                                 against Debian's arm64 cross libraries and
#                                 run through the user-mode emulator
# Every variant gets CMake, Ninja, GoogleTest, Google Benchmark and, for
# rkctl, the command-line, TOML and JSON libraries (header-only; toml++ is
# used in its header-only mode, so its headers of any architecture do) and
# pkg-config for the installed tree's test; help2man and man-db to make and
# show rkctl's manual pages from its help texts. Natively rkctl tells systemd
# of the plant's start and stop through libsystemd; the i386 build does
# without it (its libsystemd would pull in a second set of system
# libraries) and speaks the short notify protocol itself. A package is never removed to
# make room for another: where one would have to go, the bootstrap stops and
# says so. Quiet and quick when everything is already there.
set -euo pipefail

arch=${1:-native}
[ "$arch" = "$(uname -m)" ] && arch=native

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
need=()
want() { for p in "$@"; do have_pkg "$p" || need+=("$p"); done; }

want cmake ninja-build make pkg-config libcli11-dev nlohmann-json3-dev help2man man-db
[ -e /usr/include/toml++/toml.h ] || want libtomlplusplus-dev
case $arch in
  native)
    want g++ libgtest-dev libgmock-dev libbenchmark-dev libsystemd-dev ;;
  i386)
    [ "$(uname -m)" = x86_64 ] || { echo "bootstrap: the i386 build is made on x86_64 machines" >&2; exit 1; }
    want g++-multilib libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386 lib32asan8 lib32ubsan1 ;;
  aarch64)
    [ "$(uname -m)" = x86_64 ] || { echo "bootstrap: the aarch64 build is made on x86_64 machines" >&2; exit 1; }
    # Not g++-aarch64-linux-gnu: it would take g++-multilib away. clang
    # compiles for the target; the cross packages give it the C and C++
    # libraries and the linker. GoogleTest is built from its sources with
    # the tests; the programs run through qemu-aarch64-static, named by the
    # build, never registered as the machine's interpreter of Arm programs.
    want clang lld libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross binutils-aarch64-linux-gnu \
         googletest qemu-user-static ;;
  *)
    echo "bootstrap: no build variant '$arch' (native, i386 or aarch64)" >&2; exit 1 ;;
esac

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=0
apt_install() {
  echo "bootstrap: installing $*"
  if [ "$arch" = i386 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    updated=0
  fi
  [ $updated -eq 1 ] || $sudo apt-get update -qq
  updated=1
  # --no-remove: on this Debian release some cross compilers and the i386
  # multilib packages exclude each other; taking one away silently would
  # break the user's other builds.
  local log
  log=$(mktemp)
  if ! $sudo apt-get install -y -qq --no-install-recommends --no-remove "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "bootstrap: could not install $* without removing other packages (see above);" \
         "remove the conflicting packages yourself if you want this build" >&2
    exit 1
  fi
  rm -f "$log"
}
[ ${#need[@]} -eq 0 ] || apt_install "${need[@]}"
[ "$arch" = i386 ] || exit 0

# Some kernels cannot run i386 programs themselves (virtual machines that
# leave the 32-bit mode out): there the user-mode emulator runs them, as the
# registered interpreter of 32-bit x86 programs. The kernel library knows
# when it runs under it (see platform/user_emulation.h). Figures of
# `make bench ARCH=i386` taken so would be the emulator's, not the kernel's.
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
