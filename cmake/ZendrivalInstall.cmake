# Install rules. Five components, one Debian package each (see ZendrivalPackaging.cmake):
#   runtime      the shared device library, libzendrival.so.N
#   program      Updater with its udev rules, man page, bash completion and JSON Schema
#   simulators   the simulators and tools under tools/ with their man pages
#   development  the headers, the .so link, pkg-config file, CMake package and zendrival(3)
#   ansible      the Ansible collection zendrival.updater (ZendrivalAnsible.cmake)
# Each package also gets its copyright file and its Debian changelog (ZendrivalPackaging.cmake).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZV_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(ZV_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zendrival)
set(ZV_GZIP_DIR ${PROJECT_BINARY_DIR}/packaging)

# Man pages and changelogs are installed compressed, as Debian wants them: gzip -9 without a
# name or time stamp, so that two builds give the same bytes. The files are made with the build.
add_custom_target(zv_compressed_docs ALL)
function(zv_install_gzipped source destination component)
  get_filename_component(name ${source} NAME)
  set(output ${ZV_GZIP_DIR}/${component}/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZV_GZIP_DIR}/${component}
    COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${source} ${output}
    DEPENDS ${source} VERBATIM)
  string(MAKE_C_IDENTIFIER "${component}_${name}" target)
  add_custom_target(zv_gz_${target} DEPENDS ${output})
  add_dependencies(zv_compressed_docs zv_gz_${target})
  install(FILES ${output} DESTINATION ${destination} COMPONENT ${component})
endfunction()

function(zv_install_man_page page component)
  if(EXISTS ${ZV_PACKAGING_DIR}/man/${page})
    string(REGEX REPLACE ".*\\." "" section ${page})
    zv_install_gzipped(${ZV_PACKAGING_DIR}/man/${page} ${CMAKE_INSTALL_MANDIR}/man${section}
      ${component})
  endif()
endfunction()

# --- program ---------------------------------------------------------------------------------
install(TARGETS Updater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)

# udev reads /usr/lib/udev/rules.d as well as /lib/udev/rules.d; a path below the prefix keeps
# staged installs (cmake --install --prefix, DESTDIR) out of the running system.
if(EXISTS ${ZV_PACKAGING_DIR}/udev/60-zendrival.rules)
  install(FILES ${ZV_PACKAGING_DIR}/udev/60-zendrival.rules
    DESTINATION lib/udev/rules.d COMPONENT program)
endif()
zv_install_man_page(Updater.1 program)
if(EXISTS ${ZV_PACKAGING_DIR}/completion/Updater)
  install(FILES ${ZV_PACKAGING_DIR}/completion/Updater
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT program)
endif()

# The JSON Schema of the "-U -a --json" document, for programs that read it.
install(FILES ${ZV_PACKAGING_DIR}/schema/update-all.schema.json
  DESTINATION ${CMAKE_INSTALL_DATADIR}/updater COMPONENT program)

# --- simulators ------------------------------------------------------------------------------
# updateserver is left out of the build when cpp-httplib or OpenSSL is missing.
foreach(tool modulesim updateserver lpcsim birdtool linkshare)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulators)
    zv_install_man_page(${tool}.1 simulators)
  endif()
endforeach()

# --- runtime ---------------------------------------------------------------------------------
install(TARGETS zendrival_shared EXPORT ZendrivalTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)

# --- development -----------------------------------------------------------------------------
# The library's public include directory as it is: what its own build's users see is what an
# installed program sees.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/lib/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zendrival COMPONENT development)
install(EXPORT ZendrivalTargets NAMESPACE Zendrival::
  DESTINATION ${ZV_CMAKE_PACKAGE_DIR} COMPONENT development)
zv_install_man_page(zendrival.3 development)

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
