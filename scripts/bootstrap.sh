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
[ ${#need[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "bootstrap: installing ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
