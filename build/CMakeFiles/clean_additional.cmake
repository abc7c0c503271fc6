# Additional clean files
cmake_minimum_required(VERSION 3.16)

if("${CONFIG}" STREQUAL "" OR "${CONFIG}" STREQUAL "RelWithDebInfo")
  file(REMOVE_RECURSE
  "serial/CMakeFiles/relay_serial_qt_autogen.dir/AutogenUsed.txt"
  "serial/CMakeFiles/relay_serial_qt_autogen.dir/ParseCache.txt"
  "serial/relay_serial_qt_autogen"
  "ui/CMakeFiles/relay_session_autogen.dir/AutogenUsed.txt"
  "ui/CMakeFiles/relay_session_autogen.dir/ParseCache.txt"
  "ui/relay_session_autogen"
  )
endif()
