# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build-i386
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[c_client_example]=] "/work/main/build-i386/hello_rtdb")
set_tests_properties([=[c_client_example]=] PROPERTIES  ENVIRONMENT "RKNAMESPACE=rkexample_" FAIL_REGULAR_EXPRESSION "failed" PASS_REGULAR_EXPRESSION "RTDB 0 deleted" _BACKTRACE_TRIPLES "/work/main/CMakeLists.txt;94;add_test;/work/main/CMakeLists.txt;0;")
subdirs("tools/rkctl")
subdirs("examples/demo")
subdirs("tests")
subdirs("bench")
