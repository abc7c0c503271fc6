# Installing the panel and relayctl, and the Debian package built from that.

set(RELAY_PANEL_ICONS ${PROJECT_SOURCE_DIR}/ui/icons)

# The menu entry and its icons. Desktops look the icon up by name in the
# hicolor theme, so each size goes under its own directory as relay-panel.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/relay-panel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
install(FILES ${RELAY_PANEL_ICONS}/relay-panel-16.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/16x16/apps RENAME relay-panel.png COMPONENT desktop)
install(FILES ${RELAY_PANEL_ICONS}/relay-panel-32.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME relay-panel.png COMPONENT desktop)
install(FILES ${RELAY_PANEL_ICONS}/relay-panel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)

# relayd's unit, its system user and an example configuration. The unit is
# installed, not enabled: the administrator writes /etc/relayd.conf first.
set(RELAYD_UNITDIR lib/systemd/system)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/relayd.service DESTINATION ${RELAYD_UNITDIR} COMPONENT relayd)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/relayd.sysusers
        DESTINATION lib/sysusers.d RENAME relayd.conf COMPONENT relayd)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/relayd.conf.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples RENAME relayd.conf COMPONENT relayd)

# What Debian asks of every package: the copyright in its machine-readable
# form and the changelog, gzipped without a time stamp like the manuals; and
# lintian's overrides, each with its reason.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog COPYONLY)
set(RELAY_PANEL_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${RELAY_PANEL_CHANGELOG}
                   COMMAND ${RELAY_GZIP} -9 -n -k -f ${CMAKE_CURRENT_BINARY_DIR}/changelog
                   DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
                   COMMENT "Compressing the changelog"
                   VERBATIM)
add_custom_target(relay_panel_changelog ALL DEPENDS ${RELAY_PANEL_CHANGELOG})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${RELAY_PANEL_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME relay-panel)

if(BUILD_TESTING)
  add_test(NAME relayd_unit_verify_test
           COMMAND ${CMAKE_COMMAND}
                   -DBUILD_DIR=${CMAKE_BINARY_DIR}
                   -DSCRATCH_DIR=${CMAKE_BINARY_DIR}/relayd_unit_verify_test
                   -DUNITDIR=${RELAYD_UNITDIR}
                   -DBINDIR=${CMAKE_INSTALL_BINDIR}
                   -P ${CMAKE_CURRENT_LIST_DIR}/unit_verify_test.cmake)
  set_tests_properties(relayd_unit_verify_test PROPERTIES LABELS fast)

  # Installs the whole tree into a scratch directory and checks every file.
  add_test(NAME install_tree_test
           COMMAND ${CMAKE_COMMAND}
                   -DBUILD_DIR=${CMAKE_BINARY_DIR}
                   -DSCRATCH_DIR=${CMAKE_BINARY_DIR}/install_tree_test
                   -DPROJECT_VERSION=${PROJECT_VERSION}
                   -DBINDIR=${CMAKE_INSTALL_BINDIR}
                   -DDATADIR=${CMAKE_INSTALL_DATADIR}
                   -DMANDIR=${CMAKE_INSTALL_MANDIR}
                   -DDOCDIR=${CMAKE_INSTALL_DOCDIR}
                   -DUNITDIR=${RELAYD_UNITDIR}
                   -DCHANGELOG=${CMAKE_CURRENT_LIST_DIR}/debian/changelog
                   -P ${CMAKE_CURRENT_LIST_DIR}/install_tree_test.cmake)
  set_tests_properties(install_tree_test PROPERTIES LABELS fast)
endif()

# Debian package: cpack -G DEB in the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME relay-panel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "relay-panel maintainers")
set(CPACK_PACKAGE_CONTACT "relay-panel maintainers <maintainers@users.noreply.c-seed-08be517b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel and command-line tool for a four-channel serial relay board")
# CPack puts the summary above this as the first line and indents the rest;
# it does not wrap, so the lines are broken here.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "relay-panel is a desktop window for a four-channel relay board attached to a"
  "serial port (9600 baud, 8N1): pick the port and the board address, connect,"
  "switch each relay on or off, one at a time or all together, and watch four"
  "indicators that the panel keeps current by asking the board for its state"
  "ten times a second. It has a built-in simulated board for trying it without"
  "hardware."
  ""
  "relayctl does the same from the command line, for scripts: it reads or"
  "switches the relays and tells by its exit status whether the board"
  "confirmed the change."
  ""
  "relayd polls one or more boards as a system service and shares each"
  "through a control socket in /run/relayd. Its unit is installed but not"
  "enabled; see /usr/share/doc/relay-panel/examples/relayd.conf.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${RELAY_PANEL_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads the display plugin at run time, so dpkg-shlibdeps cannot see it;
# without it the window does not start. The window's face is WenQuanYi
# Micro Hei: its caption is in Chinese, and the layout is measured in it.
# Qt's SVG plugin draws the large sizes of the window's icon.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, fonts-wqy-microhei")
# relayd's unit and system user need systemd, which the desktop tools do not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
