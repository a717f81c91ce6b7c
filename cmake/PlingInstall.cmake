# What `cmake --install` puts in place.
include(GNUInstallDirs)
install(TARGETS pling-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
