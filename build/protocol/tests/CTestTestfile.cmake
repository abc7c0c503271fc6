# CMake generated Testfile for 
# Source directory: /work/main/protocol/tests
# Build directory: /work/main/build/protocol/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/main/build/protocol/tests/protocol_tests[1]_include.cmake")
