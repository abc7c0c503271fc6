# CMake generated Testfile for 
# Source directory: /work/main/serial/tests
# Build directory: /work/main/build/serial/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/main/build/serial/tests/serial_tests[1]_include.cmake")
