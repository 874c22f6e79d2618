# The 64-bit Arm variant (make ARCH=aarch64): the library, the tools, the
# tests and the examples cross-compiled on an x86_64 machine by clang,
# against Debian's arm64 cross libraries (/usr/aarch64-linux-gnu), and run
# through the user-mode emulator, which the build names for every program it
# runs (tests, test discovery); nothing is registered with the system.
# RK_VARIANT_FLAGS are the flags a client of this variant builds with; the
# installed rk.pc and CMake package hand them on.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(RK_CROSS_ROOT /usr/aarch64-linux-gnu)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
set(RK_VARIANT_FLAGS "--target=aarch64-linux-gnu")
# lld links across the kernel's files in the optimised builds; the target's
# own binutils linker would need a plugin that is not packaged beside it.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld")
endforeach()

# Libraries and headers of the target come from the cross root only; the
# header-only packages rkctl uses come from the machine's /usr/include,
# which clang searches last for this target too.
set(CMAKE_FIND_ROOT_PATH ${RK_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(RK_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${RK_QEMU_AARCH64} -L ${RK_CROSS_ROOT})

# No GoogleTest is packaged for the target beside the cross libraries: the
# tests build it from Debian's sources (the googletest package).
set(RK_GTEST_SOURCE_DIR /usr/src/googletest)
