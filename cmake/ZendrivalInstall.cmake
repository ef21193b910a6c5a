# Install rules. Three components, one Debian package each (see ZendrivalPackaging.cmake):
#   program      Updater with its udev rules, man page and bash completion
#   simulators   the simulators and tools under tools/ with their man pages
#   development  the device library, its headers, pkg-config file and CMake package
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZV_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(ZV_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zendrival)

# --- program ---------------------------------------------------------------------------------
install(TARGETS Updater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)

# udev reads /usr/lib/udev/rules.d as well as /lib/udev/rules.d; a path below the prefix keeps
# staged installs (cmake --install --prefix, DESTDIR) out of the running system.
if(EXISTS ${ZV_PACKAGING_DIR}/udev/60-zendrival.rules)
  install(FILES ${ZV_PACKAGING_DIR}/udev/60-zendrival.rules
    DESTINATION lib/udev/rules.d COMPONENT program)
endif()
if(EXISTS ${ZV_PACKAGING_DIR}/man/Updater.1)
  install(FILES ${ZV_PACKAGING_DIR}/man/Updater.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
endif()
if(EXISTS ${ZV_PACKAGING_DIR}/completion/Updater)
  install(FILES ${ZV_PACKAGING_DIR}/completion/Updater
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT program)
endif()

# --- simulators ------------------------------------------------------------------------------
# updateserver is left out of the build when cpp-httplib or OpenSSL is missing.
foreach(tool modulesim updateserver lpcsim birdtool linkshare)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulators)
    if(EXISTS ${ZV_PACKAGING_DIR}/man/${tool}.1)
      install(FILES ${ZV_PACKAGING_DIR}/man/${tool}.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT simulators)
    endif()
  endif()
endforeach()

# --- development -----------------------------------------------------------------------------
# The library's public include directory as it is: what its own build's users see is what an
# installed program sees.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/lib/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zendrival COMPONENT development)

install(TARGETS zendrival EXPORT ZendrivalTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT ZendrivalTargets NAMESPACE Zendrival::
  DESTINATION ${ZV_CMAKE_PACKAGE_DIR} COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZendrivalConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZendrivalConfig.cmake
  INSTALL_DESTINATION ${ZV_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZendrivalConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZendrivalConfig.cmake
  ${PROJECT_BINARY_DIR}/ZendrivalConfigVersion.cmake
  DESTINATION ${ZV_CMAKE_PACKAGE_DIR} COMPONENT development)

# The .pc file finds its prefix from its own place, so the package works wherever it is unpacked.
file(RELATIVE_PATH ZV_PC_PREFIX_FROM_PCDIR
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ZV_PC_PREFIX_FROM_PCDIR "${ZV_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/zendrival.pc.in ${PROJECT_BINARY_DIR}/zendrival.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zendrival.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
