# CMake generated Testfile for 
# Source directory: /work/main/panel/tests
# Build directory: /work/main/build/panel/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/main/build/panel/tests/panel_tests[1]_include.cmake")
