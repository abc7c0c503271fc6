# Installs the relayd component into a scratch root and has systemd check
# the unit as it will be installed: its keys, its sections, and that the
# program it starts is there and executable.
foreach(var BUILD_DIR SCRATCH_DIR UNITDIR BINDIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "unit_verify_test needs -D${var}=...")
  endif()
endforeach()

find_program(SYSTEMD_ANALYZE systemd-analyze)
if(NOT SYSTEMD_ANALYZE)
  message("SKIPPED: systemd-analyze is not installed (package systemd); the unit was not verified")
  return()
endif()

file(REMOVE_RECURSE ${SCRATCH_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${SCRATCH_DIR}
          ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr --component relayd
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing relayd failed (${rc}):\n${out}\n${err}")
endif()

set(unit ${SCRATCH_DIR}/usr/${UNITDIR}/relayd.service)
set(program ${SCRATCH_DIR}/usr/${BINDIR}/relayd)
if(NOT EXISTS ${unit})
  message(FATAL_ERROR "the unit was not installed at /usr/${UNITDIR}/relayd.service")
endif()
file(READ ${unit} text)
set(exec_start "ExecStart=/usr/${BINDIR}/relayd --config /etc/relayd.conf")
string(FIND "${text}" "${exec_start}\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the unit does not start relayd as '${exec_start}'")
endif()

# systemd checks that ExecStart's program is executable, and with --root it
# finds none of the host's targets; so the copy checked here starts the
# program just installed, and everything else is as shipped.
string(REPLACE "${exec_start}" "ExecStart=${program} --config /etc/relayd.conf" checked "${text}")
file(WRITE ${SCRATCH_DIR}/check/relayd.service "${checked}")
execute_process(COMMAND ${SYSTEMD_ANALYZE} verify --man=no ${SCRATCH_DIR}/check/relayd.service
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
# It may also report on units of the host it loads on the way; only lines
# about relayd count.
string(REGEX MATCHALL "[^\n]*relayd[^\n]*" about_relayd "${out}${err}")
if(NOT rc EQUAL 0 OR about_relayd)
  message(FATAL_ERROR "systemd-analyze verify objects to relayd.service (exit ${rc}):\n${out}${err}")
endif()
message(STATUS "systemd-analyze verify: relayd.service is sound")
