# Debian packages through CPack: `cpack -G DEB` in the build directory writes
#   updater_VERSION_ARCH.deb, updater-simulators_VERSION_ARCH.deb, libzendrival-dev_VERSION_ARCH.deb
set(CPACK_PACKAGE_NAME updater)
set(CPACK_PACKAGE_VENDOR "Pelmorax")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zendrival Updater developers <updater@zendrival.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for Zendrival device modules")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL program simulators development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# The libraries and their least versions come from dpkg-shlibdeps (dpkg-dev, and `file` to spot
# the ELF files); without it they are named here without versions.
find_program(ZV_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(ZV_FILE_PROGRAM file)
if(ZV_DPKG_SHLIBDEPS AND ZV_FILE_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(ZV_DEB_LIBRARIES_PROGRAM "")
  set(ZV_DEB_LIBRARIES_SIMULATORS "")
else()
  message(STATUS "dpkg-shlibdeps or file not found: Debian dependencies are the listed ones only")
  set(ZV_DEB_LIBRARIES_PROGRAM "libcurl4, libusb-1.0-0, libczmq4, libhidapi-hidraw0, zlib1g")
  set(ZV_DEB_LIBRARIES_SIMULATORS
    ", libumockdev0, libczmq4, libusb-1.0-0, libcpp-httplib0.11, libssl3, zlib1g")
endif()

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME updater)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "${ZV_DEB_LIBRARIES_PROGRAM}")
# Creates the group the udev rules name, and applies the rules to modules already plugged in.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/debian/postinst")
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
  "Firmware updater for Zendrival device modules
 Updater discovers Zendrival modules on USB, TCP/IP and behind router modules, lists
 and downloads firmware builds from the update server, updates a module's firmware and
 recovers modules through their processor's ROM bootloader. The package also installs
 udev rules for the modules and their bootloaders, a man page and bash completion.")

set(CPACK_DEBIAN_SIMULATORS_PACKAGE_NAME updater-simulators)
set(CPACK_DEBIAN_SIMULATORS_PACKAGE_SECTION devel)
# umockdev emulates the USB bus the simulated modules sit on.
set(CPACK_DEBIAN_SIMULATORS_PACKAGE_DEPENDS "umockdev${ZV_DEB_LIBRARIES_SIMULATORS}")
set(CPACK_DEBIAN_SIMULATORS_DESCRIPTION
  "Simulators and tools for Zendrival modules
 Simulated modules (TCP/IP, pseudo-terminals, emulated USB, router buses), an update
 server, LPC and i.MX ROM bootloaders, a BIRD firmware file tool and a link-sharing
 server, to try and test Updater and programs of the device library without hardware.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzendrival-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "libusb-1.0-0-dev, libczmq-dev, libzmq3-dev, pkg-config")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "Zendrival device library (development files)
 The static library through which programs reach Zendrival modules over USB, TCP/IP
 and serial links: modules, links, entities, streams and store slots. Includes the
 headers, a pkg-config file (zendrival) and a CMake package (Zendrival::zendrival).")

include(CPack)
