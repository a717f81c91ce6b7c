# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts in place: the program, the command line, the port
# holder and its systemd units, the menu entry and the program icon (scalable,
# in the hicolor theme, so that menus, the task bar and the notification area
# find it by the name "pling"), the AppStream metainfo for software centres, the
# manual pages and pling-cli's bash completion.
# The metainfo and the manual pages carry the project version; the metainfo
# also the homepage and the releases with their notes, from NEWS.md.
include(GNUInstallDirs)

set(PLING_HOMEPAGE "https://git.pling.invalid/pling"
    CACHE STRING "The project's homepage (its repository), for the AppStream metainfo")
set(PLING_METAINFO_ID org.corvid.Pling)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
execute_process(
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/gen-releases.py
          ${PROJECT_SOURCE_DIR}/NEWS.md --metainfo ${PROJECT_BINARY_DIR}/packaging/releases.xml
  RESULT_VARIABLE _pling_releases_result)
if(NOT _pling_releases_result EQUAL 0)
  message(FATAL_ERROR "NEWS.md: the releases cannot be read (see above)")
endif()
file(READ ${PROJECT_BINARY_DIR}/packaging/releases.xml PLING_RELEASES)
string(STRIP "${PLING_RELEASES}" PLING_RELEASES)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/NEWS.md
                                                               ${PROJECT_SOURCE_DIR}/scripts/gen-releases.py)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${PLING_METAINFO_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${PLING_METAINFO_ID}.metainfo.xml @ONLY)
# The manual pages are dated by the source state (SOURCE_DATE_EPOCH, which
# scripts/package sets from the commit), else by the day of the build.
string(TIMESTAMP PLING_MAN_DATE "%Y-%m-%d" UTC)
foreach(_page pling pling-cli)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${_page}.1.in
                 ${PROJECT_BINARY_DIR}/packaging/${_page}.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${_page}.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/packaging/${PLING_METAINFO_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/pling-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pling-cli)

if(TARGET pling)
  install(TARGETS pling RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS pling-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/pling.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/pling.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Receiving messages from other machines needs UDP ports 137 and 138 and TCP port
# 139, below 1024. No program gets a capability for them: the port holder
# pling-holder runs as a systemd service whose sockets systemd binds (the units
# below, installed disabled), and every user's Pling meets it through the holder
# socket. Where no systemd runs, the Debian package gives the same program the
# capability cap_net_bind_service instead, for the members of a group, and the
# users' programs start it as a helper when no holder runs (net/holder_helper.h;
# they look for it here). Without either the programs still work on this
# machine and send to others, and say why they cannot receive from them.
install(TARGETS pling-holder OPTIONAL RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/pling)
set(PLING_SYSTEMD_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system"
    CACHE PATH "Where the port holder's systemd units go")
set(PLING_HOLDER_PATH ${CMAKE_INSTALL_FULL_LIBEXECDIR}/pling/pling-holder)
configure_file(${PROJECT_SOURCE_DIR}/packaging/systemd/pling-holder.service.in
               ${PROJECT_BINARY_DIR}/packaging/pling-holder.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/pling-holder.service
              ${PROJECT_SOURCE_DIR}/packaging/systemd/pling-holder.socket
              ${PROJECT_SOURCE_DIR}/packaging/systemd/pling-holder-session.socket
        DESTINATION ${PLING_SYSTEMD_UNIT_DIR})
