# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts in place: the program, the command line, the port
# holder and its systemd units, the menu entry and the program icon (scalable,
# in the hicolor theme, so that menus, the task bar and the notification area
# find it by the name "pling"), the AppStream metainfo for software centres, the
# manual pages and pling-cli's bash completion.
# The metainfo and the manual pages carry the project version.
include(GNUInstallDirs)

set(PLING_METAINFO_ID org.corvid.Pling)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${PLING_METAINFO_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${PLING_METAINFO_ID}.metainfo.xml @ONLY)
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
# socket. Without it the programs still work on this machine and send to others,
# and say why they cannot receive from them.
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
