# The 32-bit x86 variant (make ARCH=i386): the library, the tools and the
# tests built with -m32 on an x86_64 machine, against the i386 multiarch
# libraries. RK_VARIANT_FLAGS are the flags a client of this variant builds
# with; the installed rk.pc and CMake package hand them on.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i386)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(RK_VARIANT_FLAGS "-m32")
set(CMAKE_C_FLAGS_INIT "${RK_VARIANT_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${RK_VARIANT_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${RK_VARIANT_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${RK_VARIANT_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${RK_VARIANT_FLAGS}")
