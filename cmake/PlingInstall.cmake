# What `cmake --install` puts in place: the program, the command line, the menu
# entry and the program icon (scalable, in the hicolor theme, so that menus, the
# task bar and the notification area find it by the name "pling").
include(GNUInstallDirs)

if(TARGET pling)
  install(TARGETS pling RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS pling-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/pling.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/pling.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
