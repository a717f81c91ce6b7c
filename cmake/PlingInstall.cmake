# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts in place: the program, the command line, the menu
# entry and the program icon (scalable, in the hicolor theme, so that menus, the
# task bar and the notification area find it by the name "pling"), the AppStream
# metainfo for software centres, the manual pages and pling-cli's bash completion.
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

# Receiving mailslot writes from other machines needs UDP ports 137 and 138, below
# 1024: grant the installed programs the one capability that allows binding them,
# where setcap is there and the install runs with the right to use it. Without it
# the programs still work on this machine and send to others, and say why they
# cannot receive from them.
find_program(PLING_SETCAP setcap PATHS /usr/sbin /sbin)
if(PLING_SETCAP)
  set(_pling_capable pling-cli)
  if(TARGET pling)
    list(APPEND _pling_capable pling)
  endif()
  foreach(_program IN LISTS _pling_capable)
    install(CODE "
      set(_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${_program}\")
      if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\" OR DEFINED ENV{FAKEROOTKEY})
        # A staged install (a package build): the capability would not survive
        # into the package, and under fakeroot setcap only seems to work. The
        # package's maintainer script grants it where the files land.
        message(STATUS \"Staged install: cap_net_bind_service is not granted to \${_file}\")
      else()
        execute_process(COMMAND \"${PLING_SETCAP}\" cap_net_bind_service=+ep \"\${_file}\"
                        RESULT_VARIABLE _result ERROR_VARIABLE _error)
        if(_result EQUAL 0)
          message(STATUS \"Granted cap_net_bind_service: \${_file}\")
        else()
          message(STATUS \"Could not grant cap_net_bind_service to \${_file} (\${_error}); \"
                         \"it will not receive messages from other machines unless run with that right\")
        endif()
      endif()")
  endforeach()
else()
  install(CODE "message(STATUS \"setcap not found: pling and pling-cli will not receive messages from other machines without cap_net_bind_service\")")
endif()
