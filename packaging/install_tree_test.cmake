# Installs the build into a scratch DESTDIR, component by component as the
# package does, and checks that every file a user needs is there and sound.
# Run with cmake -P; the -D values come from packaging.cmake.

foreach(var BUILD_DIR SCRATCH_DIR PROJECT_VERSION BINDIR DATADIR MANDIR DOCDIR UNITDIR CHANGELOG)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install_tree_test needs -D${var}=...")
  endif()
endforeach()

set(prefix /usr)
file(REMOVE_RECURSE ${SCRATCH_DIR})
file(MAKE_DIRECTORY ${SCRATCH_DIR})
set(root ${SCRATCH_DIR}${prefix})

# The panel's own install rule names no component.
set(components relayctl relayd desktop Unspecified)
foreach(component IN LISTS components)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${SCRATCH_DIR}
            ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installing component ${component} failed (${rc}):\n${out}\n${err}")
  endif()
endforeach()

set(failures "")
macro(fail text)
  string(APPEND failures "  ${text}\n")
endmacro()

set(expected
  ${BINDIR}/relayctl
  ${MANDIR}/man1/relayctl.1.gz
  ${DATADIR}/applications/relay-panel.desktop
  ${DATADIR}/icons/hicolor/16x16/apps/relay-panel.png
  ${DATADIR}/icons/hicolor/32x32/apps/relay-panel.png
  ${DATADIR}/icons/hicolor/scalable/apps/relay-panel.svg
  ${BINDIR}/relayd
  ${MANDIR}/man8/relayd.8.gz
  ${UNITDIR}/relayd.service
  lib/sysusers.d/relayd.conf
  ${DOCDIR}/examples/relayd.conf
  ${DOCDIR}/copyright
  ${DOCDIR}/changelog.gz
  ${DATADIR}/lintian/overrides/relay-panel)
list(APPEND expected ${BINDIR}/relay-panel ${MANDIR}/man1/relay-panel.1.gz)
foreach(path IN LISTS expected)
  if(NOT EXISTS ${root}/${path} OR IS_DIRECTORY ${root}/${path})
    fail("missing: ${prefix}/${path}")
  endif()
endforeach()

# Nothing may land outside the prefix, and nothing unexpected inside it.
file(GLOB_RECURSE installed RELATIVE ${SCRATCH_DIR} LIST_DIRECTORIES false ${SCRATCH_DIR}/*)
foreach(path IN LISTS installed)
  string(REGEX REPLACE "^/?usr/" "" relative "${path}")
  list(FIND expected "${relative}" at)
  if(at EQUAL -1)
    fail("unexpected file: /${path}")
  endif()
endforeach()

# The installed tool runs and knows its version.
foreach(program relayctl relayd relay-panel)
  if(EXISTS ${root}/${BINDIR}/${program})
    execute_process(COMMAND ${root}/${BINDIR}/${program} --version
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0 OR NOT out MATCHES "^${program} ${PROJECT_VERSION}$")
      fail("${program} --version gave '${out}' (exit ${rc}), not '${program} ${PROJECT_VERSION}'")
    endif()
  endif()
endforeach()

# Each manual page is gzip data whose header line carries the version and
# which explains every exit status of its program.
find_program(GZIP_PROGRAM gzip)
foreach(page "relayctl|1|RELAYCTL|0;1;2;3;4;5;6" "relayd|8|RELAYD|0;1;2" "relay-panel|1|RELAY-PANEL|0")
  string(REPLACE "|" ";" fields "${page}")
  list(GET fields 0 name)
  list(GET fields 1 section)
  list(GET fields 2 title)
  list(SUBLIST fields 3 -1 codes)
  set(man ${root}/${MANDIR}/man${section}/${name}.${section}.gz)
  if(EXISTS ${man} AND NOT GZIP_PROGRAM)
    message(STATUS "SKIPPED: gzip is not installed, the manual page's text was not checked")
  elseif(EXISTS ${man})
    execute_process(COMMAND ${GZIP_PROGRAM} -dc ${man} RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      fail("${name}'s manual page is not gzip data: ${err}")
    else()
      if(NOT text MATCHES "\\.TH ${title} ${section} [^\n]*${PROJECT_VERSION}")
        fail("${name}'s manual page's .TH line does not carry version ${PROJECT_VERSION}")
      endif()
      if(text MATCHES "@[A-Z_]+@")
        fail("${name}'s manual page holds an unreplaced @VARIABLE@")
      endif()
      foreach(code IN LISTS codes)
        if(NOT text MATCHES "\\.B ${code}\n")
          fail("${name}'s manual page does not explain exit status ${code}")
        endif()
      endforeach()
    endif()
  endif()
endforeach()

# Every gzip file is as gzip -n makes it: no file name and no time stamp
# in its header (flags 00, time 00000000), so that two builds give the same
# package.
foreach(path IN LISTS expected)
  if(path MATCHES "\\.gz$" AND EXISTS ${root}/${path})
    file(READ ${root}/${path} head LIMIT 8 HEX)
    if(NOT head STREQUAL "1f8b080000000000")
      fail("${prefix}/${path} is not gzipped without name and time stamp (header ${head})")
    endif()
  endif()
endforeach()

# The changelog's latest entry is this version; the copyright file is in
# Debian's machine-readable form.
file(STRINGS ${CHANGELOG} first LIMIT_COUNT 1)
if(NOT first MATCHES "^relay-panel \\(${PROJECT_VERSION}\\) ")
  fail("the changelog's latest entry is '${first}', not version ${PROJECT_VERSION}")
endif()
if(EXISTS ${root}/${DOCDIR}/copyright)
  file(STRINGS ${root}/${DOCDIR}/copyright lines)
  list(GET lines 0 format)
  if(NOT format STREQUAL "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/")
    fail("the copyright file does not start with the machine-readable Format line")
  endif()
endif()

# The example configuration is one relayd accepts, and the system user is
# in the serial ports' group.
if(EXISTS ${root}/${BINDIR}/relayd AND EXISTS ${root}/${DOCDIR}/examples/relayd.conf)
  file(READ ${root}/${DOCDIR}/examples/relayd.conf example)
  if(NOT example MATCHES "\n\\[board [a-z]+\\]\n" OR NOT example MATCHES "\nport = /dev/")
    fail("the example configuration names no board")
  endif()
endif()
set(sysusers ${root}/lib/sysusers.d/relayd.conf)
if(EXISTS ${sysusers})
  file(STRINGS ${sysusers} lines)
  foreach(want "m relayd dialout")
    list(FIND lines "${want}" at)
    if(at EQUAL -1)
      fail("the sysusers.d file lacks the line '${want}'")
    endif()
  endforeach()
endif()

# The menu entry names what was installed.
set(entry ${root}/${DATADIR}/applications/relay-panel.desktop)
if(EXISTS ${entry})
  file(STRINGS ${entry} lines)
  foreach(want "Name=Relay Panel" "Exec=relay-panel" "Icon=relay-panel" "Terminal=false" "Type=Application")
    list(FIND lines "${want}" at)
    if(at EQUAL -1)
      fail("the menu entry lacks the line '${want}'")
    endif()
  endforeach()
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${entry}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
      fail("desktop-file-validate objects to the menu entry:\n${out}${err}")
    endif()
  else()
    message(STATUS "SKIPPED: desktop-file-validate is not installed (package desktop-file-utils), "
                   "the menu entry was not validated")
  endif()
endif()

# Each bitmap icon is the size its directory promises.
find_program(FILE_PROGRAM file)
foreach(size 16 32)
  set(icon ${root}/${DATADIR}/icons/hicolor/${size}x${size}/apps/relay-panel.png)
  if(NOT EXISTS ${icon})
    continue()
  endif()
  if(FILE_PROGRAM)
    execute_process(COMMAND ${FILE_PROGRAM} -b ${icon} OUTPUT_VARIABLE kind)
    if(NOT kind MATCHES "^PNG image data, ${size} x ${size},")
      fail("the ${size}x${size} icon is not a ${size} x ${size} PNG: ${kind}")
    endif()
  else()
    message(STATUS "SKIPPED: 'file' is not installed, icon sizes were not checked")
  endif()
endforeach()
set(svg ${root}/${DATADIR}/icons/hicolor/scalable/apps/relay-panel.svg)
if(EXISTS ${svg})
  file(READ ${svg} text LIMIT 4096)
  if(NOT text MATCHES "<svg")
    fail("the scalable icon is not SVG")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "the installed tree under ${SCRATCH_DIR} is not right:\n${failures}")
endif()
list(LENGTH installed count)
message(STATUS "install tree complete: ${count} files under ${SCRATCH_DIR}${prefix}")
