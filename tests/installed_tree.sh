#!/usr/bin/env bash
# Installs the build tree into a fresh prefix and builds examples/hello_rtdb.c
# against it twice, through pkg-config and through find_package(rk), with no
# flags of its own but the sanitizer's: the installed files give those of the
# variant that was built. Each program must be of the library's class (32 or
# 64 bits) and machine and run against the installed library. CC is the build's C
# compiler; RK_TEST_EMULATOR, where the build runs through an emulator, the
# launcher every program of the variant starts through.
set -euo pipefail
build=$1 source=$2 extra=${3:-}
cc=${CC:-gcc}
emu=${RK_TEST_EMULATOR:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/rkctl"
$emu "$prefix/bin/rkctl" --help >/dev/null
# rkctl's manual pages, as the build made them, and its bash completion.
if [ -f "$build/man/rkctl.1" ]; then
  for page in "$build"/man/*.1; do cmp "$page" "$prefix/share/man/man1/$(basename "$page")"; done
  test -f "$prefix/share/man/man1/rkctl-run.1"
fi
grep -q "complete .*_rkctl rkctl" "$prefix/share/bash-completion/completions/rkctl"
lib=$(ls "$prefix"/lib*/librk.so.7)
objdump -p "$lib" | grep 'SONAME *librk.so.7' >/dev/null

export PKG_CONFIG_PATH=$(dirname "$lib")/pkgconfig
elf_class() { echo $(od -An -tu1 -j4 -N1 "$1") $(od -An -tu2 -j18 -N2 "$1"); }
# shellcheck disable=SC2046
"$cc" -std=c99 $extra "$source/examples/hello_rtdb.c" $(pkg-config --cflags --libs rk) -o "$work/hello_pc"
[ "$(elf_class "$work/hello_pc")" = "$(elf_class "$lib")" ]
$emu "$work/hello_pc" | grep "RTDB 0 deleted" >/dev/null
# It loads the installed library: ldd says where from; an emulated program,
# which ldd cannot run, names the installed tree as where to look, and no
# other librk.so.7 lies where its loader looks.
if [ -z "$emu" ]; then
  ldd "$work/hello_pc" | grep "$prefix" >/dev/null
else
  objdump -p "$work/hello_pc" | grep -E "R(UN)?PATH +$prefix/" >/dev/null
fi

mkdir "$work/client"
cp "$source/examples/hello_rtdb.c" "$work/client/"
cat > "$work/client/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(hello C)
find_package(rk REQUIRED)
add_executable(hello hello_rtdb.c)
target_link_libraries(hello PRIVATE rk::rk)
CMAKE
CC=$cc cmake -S "$work/client" -B "$work/client/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$extra" -DCMAKE_EXE_LINKER_FLAGS="$extra" >/dev/null
cmake --build "$work/client/build" >/dev/null
[ "$(elf_class "$work/client/build/hello")" = "$(elf_class "$lib")" ]
$emu "$work/client/build/hello" | grep "RTDB 0 deleted" >/dev/null
echo "installed tree: pkg-config and find_package(rk) clients ran"
