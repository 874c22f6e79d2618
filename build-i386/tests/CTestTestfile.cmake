# CMake generated Testfile for 
# Source directory: /work/main/tests
# Build directory: /work/main/build-i386/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/main/build-i386/tests/rk_tests[1]_include.cmake")
add_test([=[exported_symbols]=] "/work/main/tests/exported_symbols.sh" "/work/main/build-i386/librk.so.7.5.0")
set_tests_properties([=[exported_symbols]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;29;add_test;/work/main/tests/CMakeLists.txt;0;")
add_test([=[header_compiles_as_c]=] "/usr/bin/cc" "-m32" "-std=c99" "-Wall" "-Wextra" "-Werror" "-pedantic" "-fsyntax-only" "-x" "c" "/work/main/include/rk.h")
set_tests_properties([=[header_compiles_as_c]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;31;add_test;/work/main/tests/CMakeLists.txt;0;")
add_test([=[platform_layering]=] "/work/main/tests/platform_layering.sh" "/work/main")
set_tests_properties([=[platform_layering]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;35;add_test;/work/main/tests/CMakeLists.txt;0;")
add_test([=[tool_layering]=] "/work/main/tests/tool_layering.sh" "/work/main")
set_tests_properties([=[tool_layering]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;37;add_test;/work/main/tests/CMakeLists.txt;0;")
add_test([=[installed_tree]=] "/work/main/tests/installed_tree.sh" "/work/main/build-i386" "/work/main" "")
set_tests_properties([=[installed_tree]=] PROPERTIES  ENVIRONMENT "RKNAMESPACE=rkinstall_" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;42;add_test;/work/main/tests/CMakeLists.txt;0;")
