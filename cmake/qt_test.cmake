# A QtTest executable that CTest runs without a display:
#   relay_qt_test(name SOURCES a.cpp ... LIBRARIES lib ... [TIMEOUT seconds]
#                 [LABEL fast|slow] [EACH_FUNCTION])
# LABEL slow marks tests that wait on real time for more than a second; the
# edit-compile-test loop runs the fast ones (ctest -L fast). EACH_FUNCTION
# registers every test function as a CTest test of its own, so that a
# parallel run spreads a long executable over the cores instead of waiting
# for it function after function.
function(relay_qt_test name)
  cmake_parse_arguments(arg "EACH_FUNCTION" "TIMEOUT;LABEL" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 120)
  endif()
  if(NOT arg_LABEL)
    set(arg_LABEL fast)
  endif()
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} Qt6::Test)
  relay_panel_warnings(${name})

  set(tests ${name})
  if(arg_EACH_FUNCTION)
    relay_qt_test_functions(functions ${arg_SOURCES})
    if(NOT functions)
      message(FATAL_ERROR "${name}: no test functions found in ${arg_SOURCES}")
    endif()
    set(tests "")
    foreach(function IN LISTS functions)
      add_test(NAME ${name}.${function} COMMAND ${name} ${function})
      list(APPEND tests ${name}.${function})
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${tests} PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT ${arg_TIMEOUT}
                                           LABELS ${arg_LABEL})
  # Re-read the sources when they change, so a new test function is run.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${arg_SOURCES})
endfunction()

# The test functions (private slots without arguments, other than the
# framework's own init and cleanup) declared in the given sources.
function(relay_qt_test_functions out)
  set(found "")
  foreach(source IN LISTS ARGN)
    if(NOT source MATCHES "\\.cpp$")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} OUTPUT_VARIABLE path)
    file(READ ${path} text)
    string(FIND "${text}" "private slots:" start)
    if(start EQUAL -1)
      continue()
    endif()
    string(SUBSTRING "${text}" ${start} -1 text)
    # The slots end where the next access section or the class does.
    string(REGEX REPLACE "\n(private|public|protected):.*" "" text "${text}")
    string(REGEX REPLACE "\n};.*" "" text "${text}")
    string(REGEX MATCHALL "\n    void [a-z0-9_]+\\(\\)" declarations "${text}")
    foreach(declaration IN LISTS declarations)
      string(REGEX REPLACE ".*void ([a-z0-9_]+)\\(\\)" "\\1" function "${declaration}")
      if(function MATCHES "^(init|cleanup|initTestCase|cleanupTestCase)$" OR function MATCHES "_data$")
        continue()
      endif()
      list(APPEND found ${function})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES found)
  set(${out} ${found} PARENT_SCOPE)
endfunction()
