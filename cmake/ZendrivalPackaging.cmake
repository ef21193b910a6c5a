# Debian packages through CPack: `cpack -G DEB` in the build directory writes
#   libzendrivalN_VERSION_ARCH.deb       the shared device library (N: its SONAME version)
#   updater_VERSION_ARCH.deb             the program
#   updater-simulators_VERSION_ARCH.deb  the simulators and tools
#   libzendrival-dev_VERSION_ARCH.deb    what building a program against the library takes
#   updater-ansible_VERSION_all.deb      the Ansible collection (when ansible-galaxy was found)
# scripts/package-check builds them and runs lintian on each, which must report nothing.
set(CPACK_PACKAGE_NAME updater)
set(CPACK_PACKAGE_VENDOR "Pelmorax")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zendrival Updater developers <updater@zendrival.invalid>")
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it in front of every package's own
# description, the first line of which already is that package's synopsis.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(ZV_PACKAGE_COMPONENTS runtime program simulators development)
if(ZV_ANSIBLE_COLLECTION_BUILT)
  list(APPEND ZV_PACKAGE_COMPONENTS ansible)
endif()
set(CPACK_COMPONENTS_ALL ${ZV_PACKAGE_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Not a native package: the Debian revision keeps the changelog apart from the upstream one.
set(ZV_DEB_REVISION 1)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZV_DEB_REVISION})
set(ZV_DEB_VERSION "${PROJECT_VERSION}-${ZV_DEB_REVISION}")
set(CPACK_DEBIAN_PACKAGE_SOURCE updater)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(ZV_DEB_RUNTIME libzendrival${ZV_DEVICE_SOVERSION})

# The libraries and their least versions come from dpkg-shlibdeps (dpkg-dev, and `file` to spot
# the ELF files); without it they are named here without versions.
find_program(ZV_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(ZV_FILE_PROGRAM file)
if(ZV_DPKG_SHLIBDEPS AND ZV_FILE_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The device library is built here, not installed: dpkg-shlibdeps finds the file in the build
  # tree and its dependency in the shlibs.local that ZendrivalShlibsLocal.cmake writes, the same
  # line the runtime package's shlibs file holds.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
  set(ZV_SHLIBS_LINE "libzendrival ${ZV_DEVICE_SOVERSION} ${ZV_DEB_RUNTIME} (>= ${ZV_DEB_VERSION})")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/ZendrivalShlibsLocal.cmake.in
    ${PROJECT_BINARY_DIR}/ZendrivalShlibsLocal.cmake @ONLY)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/ZendrivalShlibsLocal.cmake)
  set(ZV_DEB_LIBRARIES_PROGRAM "")
  set(ZV_DEB_LIBRARIES_SIMULATORS "")
  set(ZV_DEB_LIBRARIES_RUNTIME "")
else()
  message(STATUS "dpkg-shlibdeps or file not found: Debian dependencies are the listed ones only")
  set(ZV_DEB_LIBRARIES_PROGRAM
    ", ${ZV_DEB_RUNTIME} (>= ${ZV_DEB_VERSION}), libcurl4, libhidapi-hidraw0, libssl3, zlib1g")
  set(ZV_DEB_LIBRARIES_SIMULATORS ", ${ZV_DEB_RUNTIME} (>= ${ZV_DEB_VERSION}), libumockdev0, \
libczmq4, libusb-1.0-0, libcpp-httplib0.11, libssl3, zlib1g")
  set(ZV_DEB_LIBRARIES_RUNTIME "libusb-1.0-0, libczmq4, libzmq5")
endif()
# Its shlibs file tells the packages of other programs which package holds libzendrival.so.N,
# and from which version on.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ZV_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${ZV_DEB_LIBRARIES_RUNTIME}")
# ldconfig runs through its trigger. CPack would also write a postinst and a postrm calling it,
# unless the extra control files name their own: these two names are files that do not exist,
# and CPack adds only the extra files that do, so the package has no maintainer scripts at all.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  "${PROJECT_SOURCE_DIR}/packaging/debian/libzendrival/triggers"
  "${PROJECT_SOURCE_DIR}/packaging/debian/libzendrival/none/postinst"
  "${PROJECT_SOURCE_DIR}/packaging/debian/libzendrival/none/postrm")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "Zendrival device library
The shared library through which programs reach Zendrival modules over USB,
TCP/IP and serial links: modules, links, entities, streams and store slots.
Updater and the tools of updater-simulators use it.")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME updater)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION utils)
# The postinst creates the group the udev rules name with addgroup.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "adduser${ZV_DEB_LIBRARIES_PROGRAM}")
# Creates the group the udev rules name, and applies the rules to modules already plugged in.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/debian/postinst")
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
  "Firmware updater for Zendrival device modules
Updater discovers Zendrival modules on USB, TCP/IP and behind router
modules, lists and downloads firmware builds from the update server, updates
a module's firmware and recovers modules through their processor's ROM
bootloader. The package also installs udev rules for the modules and their
bootloaders, a man page, bash completion and the JSON Schema of the document
that an update of every module found prints for programs.")

set(CPACK_DEBIAN_SIMULATORS_PACKAGE_NAME updater-simulators)
set(CPACK_DEBIAN_SIMULATORS_PACKAGE_SECTION devel)
# umockdev emulates the USB bus the simulated modules sit on.
set(CPACK_DEBIAN_SIMULATORS_PACKAGE_DEPENDS "umockdev${ZV_DEB_LIBRARIES_SIMULATORS}")
set(CPACK_DEBIAN_SIMULATORS_DESCRIPTION
  "Simulators and tools for Zendrival modules
Simulated modules (TCP/IP, pseudo-terminals, emulated USB, router buses), an
update server, LPC and i.MX ROM bootloaders, a BIRD firmware file tool and a
link-sharing server, to try and test Updater and programs of the device
library without hardware.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzendrival-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The exact runtime package: the .so link and the headers belong to that build of the library.
# One header includes CZMQ's.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${ZV_DEB_RUNTIME} (= ${ZV_DEB_VERSION}), libczmq-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS "pkg-config, cmake")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "Zendrival device library (development files)
Headers, the link to the shared library, a pkg-config file (zendrival) and a
CMake package (Zendrival::zendrival) for building programs that reach
Zendrival modules over USB, TCP/IP and serial links. zendrival(3) shows how.")

# The collection runs on the controller; Updater runs on the managed hosts, so the package only
# suggests it. Python files and YAML: the same package for every architecture.
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_NAME updater-ansible)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_DEPENDS "ansible-core (>= 2.14)")
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_SUGGESTS "updater")
set(CPACK_DEBIAN_ANSIBLE_DESCRIPTION
  "Ansible collection for updating Zendrival module firmware
The collection zendrival.updater for Ansible: its module firmware runs
Updater on the managed hosts, updates every module each host reaches (or
one), supports check mode through Updater's dry run and returns each
module's result. An example playbook rolls an update over an inventory a
batch of hosts at a time.")

# --- every package ---------------------------------------------------------------------------
# Debian keeps a package's copyright file and changelog in /usr/share/doc/PACKAGE; lintian reads
# the package's overrides from /usr/share/lintian/overrides/PACKAGE.
configure_file(${ZV_PACKAGING_DIR}/debian/changelog.in ${ZV_GZIP_DIR}/changelog.Debian @ONLY)
foreach(component ${ZV_PACKAGE_COMPONENTS})
  string(TOUPPER ${component} upper)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${ZV_PACKAGING_DIR}/debian/copyright DESTINATION ${doc_dir} COMPONENT ${component})
  install(FILES ${ZV_PACKAGING_DIR}/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    RENAME ${CPACK_DEBIAN_${upper}_PACKAGE_NAME} COMPONENT ${component})
  zv_install_gzipped(${ZV_GZIP_DIR}/changelog.Debian ${doc_dir} ${component})
endforeach()

include(CPack)
