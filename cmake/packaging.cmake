# Debian packages made by CPack from the installed layout (scripts/package):
#   libferrolink1      the two shared libraries and the udev rules
#   libferrolink-dev   headers, .so links, pkg-config file, CMake package, ferrolink(3)
#   ferroctl           the library's command-line front
#   quillon            the scan relay, its user unit, menu entry, icons, metadata
#   vantrel            the serial-port test console and ovrixd with its user unit
#   scansim            the scanner simulator
# Depends on system libraries are computed by dpkg-shlibdeps; those between
# our packages are written here. CPack indents the long descriptions itself.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrolink)
set(CPACK_PACKAGE_VENDOR "Ferrolink project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ferrolink maintainers <maintainers@ferrolink.example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/ferrolink/scanner-suite")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Install rules look at the prefix they install to (no run path under /usr):
# DESTDIR mode keeps CMAKE_INSTALL_PREFIX at /usr while staging.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_COMPONENTS_ALL libs dev ferroctl quillon vantrel scansim)
# CPack stages and writes the packages here; scripts/package takes them out.
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
# The packages of this tree depend on each other by shlibdeps: it finds our
# own libraries (and their shlibs) in the staged libferrolink1.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux/libs/usr/${CMAKE_INSTALL_LIBDIR})

set(_suite_dist_debian ${CMAKE_SOURCE_DIR}/dist/debian)
set(_suite_version_dep "(= ${PROJECT_VERSION}-1)")
# dpkg-shlibdeps reads the shlibs of installed packages only, not of the one
# being made beside: the programs name their library package here.
set(_suite_library_dep "libferrolink${FERROLINK_SOVERSION} (>= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_LIBS_PACKAGE_NAME libferrolink${FERROLINK_SOVERSION})
set(CPACK_DEBIAN_LIBS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBS_DESCRIPTION "barcode scanner access library
Ferrolink reaches the barcode scanners of its family over USB and serial
ports: discovery, commands, identity, configuration sets, firmware updates,
images and scan notification, through a plain C interface. This package
holds libferrolink and libtidestream, its data-stream layer, and udev rules
that give the user at the seat access to the scanner, keep ModemManager
away from it and name it /dev/ferrolink/<serial>.")
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_EXTRA
    ${_suite_dist_debian}/postinst ${_suite_dist_debian}/postrm ${_suite_dist_debian}/triggers)
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libferrolink-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libferrolink${FERROLINK_SOVERSION} ${_suite_version_dep}")
set(CPACK_DEBIAN_DEV_DESCRIPTION "barcode scanner access library - development files
Ferrolink reaches the barcode scanners of its family over USB and serial
ports through a plain C interface. This package holds the headers, the
pkg-config file ferrolink.pc, the CMake package (find_package(Ferrolink),
target Ferrolink::ferrolink) and the overview page ferrolink(3).")

set(CPACK_DEBIAN_FERROCTL_PACKAGE_NAME ferroctl)
set(CPACK_DEBIAN_FERROCTL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FERROCTL_PACKAGE_DEPENDS "${_suite_library_dep}")
set(CPACK_DEBIAN_FERROCTL_DESCRIPTION "command-line front of the Ferrolink scanner library
ferroctl lists the attached barcode scanners, watches their scans, sends
commands, shows and sets their identity, updates firmware with a progress
line, fetches images, saves and writes configuration sets and shows the
operation log.")

set(CPACK_DEBIAN_QUILLON_PACKAGE_NAME quillon)
set(CPACK_DEBIAN_QUILLON_PACKAGE_SECTION utils)
# Qt's own translations: the standard buttons in the language of the texts.
set(CPACK_DEBIAN_QUILLON_PACKAGE_DEPENDS "${_suite_library_dep}, qt6-translations-l10n")
set(CPACK_DEBIAN_QUILLON_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_DEBIAN_QUILLON_DESCRIPTION "scan relay for barcode scanners
Quillon finds the scanner and delivers every scan at the text cursor of the
focused application (clipboard and Ctrl+V) or as an HTTP POST to a server.
It runs in the system tray, or headless as a systemd user service
(quillon-headless.service). Its texts are Chinese by default, so a CJK
font is recommended.")

set(CPACK_DEBIAN_VANTREL_PACKAGE_NAME vantrel)
set(CPACK_DEBIAN_VANTREL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_VANTREL_DESCRIPTION "serial-port test console and virtual COM-port bus
vantrel tests one serial port from the keyboard: reads, writes, time-outs,
purges, flow control, comm events and an echo load test between two
consoles. ovrixd, the virtual COM-port bus, makes pty-backed ports for USB
scanners and linked port pairs; it comes with a systemd user unit.")

set(CPACK_DEBIAN_SCANSIM_PACKAGE_NAME scansim)
set(CPACK_DEBIAN_SCANSIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SCANSIM_DESCRIPTION "barcode scanner simulator
scansim plays the device side of the Ferrolink scanners' protocol behind a
pseudo terminal, registered as a USB or serial device in the runtime
namespace: it answers commands, sends scans and can be unplugged, for
demonstrations and tests without hardware.")

# Each package carries its copyright and its changelog in /usr/share/doc.
configure_file(${_suite_dist_debian}/changelog ${CMAKE_BINARY_DIR}/dist/changelog.Debian @ONLY)
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  execute_process(COMMAND ${GZIP_PROGRAM} -9 -n -f -k ${CMAKE_BINARY_DIR}/dist/changelog.Debian)
endif()
foreach(component libs dev ferroctl quillon vantrel scansim)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${_suite_dist_debian}/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  if(GZIP_PROGRAM)
    install(FILES ${CMAKE_BINARY_DIR}/dist/changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endif()
endforeach()

include(CPack)
