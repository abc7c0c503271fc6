# A manual page as Debian installs them: the version put into its header
# line, gzipped with gzip -n so that the archive carries no file name and no
# time stamp (a package built twice is the same, and lintian asks for it).
#   relay_man_page(relayctl.1 COMPONENT relayctl)
find_program(RELAY_GZIP gzip REQUIRED)

function(relay_man_page page)
  cmake_parse_arguments(arg "" "COMPONENT" "" ${ARGN})
  string(REGEX MATCH "[0-9]+$" section "${page}")
  set(text ${CMAKE_CURRENT_BINARY_DIR}/${page})
  set(packed ${text}.gz)
  configure_file(${page} ${text} @ONLY)
  add_custom_command(OUTPUT ${packed}
                     COMMAND ${RELAY_GZIP} -9 -n -k -f ${text}
                     DEPENDS ${text}
                     COMMENT "Compressing the manual page ${page}"
                     VERBATIM)
  string(REPLACE "." "_" target "${page}_man")
  add_custom_target(${target} ALL DEPENDS ${packed})
  if(arg_COMPONENT)
    install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${arg_COMPONENT})
  else()
    install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endif()
endfunction()
