# Installed layout: the programs, the two shared libraries with their SONAMEs,
# the public headers, a pkg-config file, a CMake package and the data files
# under dist/ (man pages, udev rules, user units, desktop entry, icons,
# AppStream metadata, shell completions). Targets are referred to by name;
# one that a tree at this step does not define is skipped.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FERROLINK_SOVERSION 1)
set(SUITE_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)

# The SONAMEs: libferrolink.so.1 and libtidestream.so.1, each with its full
# version behind it.
foreach(library ferrolink tidestream)
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES VERSION ${PROJECT_VERSION}
                                                SOVERSION ${FERROLINK_SOVERSION})
  endif()
endforeach()

# Installed programs find the libraries of the same tree; a system-wide
# installation (/usr) relies on the system path instead and carries none.
file(RELATIVE_PATH _suite_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
foreach(target ferroctl quillon)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${_suite_bin_to_lib}")
  endif()
endforeach()
if(TARGET ferrolink)
  set_target_properties(ferrolink PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

# The public headers come from the source tree while building and from
# include/ once installed.
function(suite_installed_includes target installed)
  get_target_property(build_dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  if(NOT build_dirs)
    return()
  endif()
  set(wrapped)
  foreach(dir IN LISTS build_dirs)
    list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
  endforeach()
  list(APPEND wrapped "$<INSTALL_INTERFACE:${installed}>")
  set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES ${wrapped})
endfunction()
# The data-stream declarations are included as "ferrolink/tidestream/tidestream.h":
# from the interface target tidestream_api where the tree has it, else from
# the folder ferrolink/tidestream that libtidestream publishes.
set(_suite_api_targets)
if(TARGET ferrolink AND TARGET tidestream)
  suite_installed_includes(ferrolink ${CMAKE_INSTALL_INCLUDEDIR})
  if(TARGET tidestream_api)
    suite_installed_includes(tidestream_api ${CMAKE_INSTALL_INCLUDEDIR})
    list(APPEND _suite_api_targets tidestream_api)
    set(_tidestream_header_dir ${CMAKE_SOURCE_DIR}/ferrolink/tidestream/include/ferrolink/tidestream)
  else()
    suite_installed_includes(tidestream ${CMAKE_INSTALL_INCLUDEDIR}/ferrolink/tidestream)
    set(_tidestream_header_dir ${CMAKE_SOURCE_DIR}/ferrolink/tidestream)
  endif()
endif()

# Programs, one package component each (see packaging.cmake).
foreach(entry ferroctl:ferroctl quillon:quillon vantrel:vantrel ovrixd:vantrel scansim:scansim)
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 program)
  list(GET entry 1 component)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  endif()
endforeach()

# A system-wide installation keeps no run path (Debian policy); any other
# prefix keeps $ORIGIN/../lib so the tree works where it is put.
foreach(program ferroctl quillon)
  if(TARGET ${program})
    install(CODE "
      if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
      endif()" COMPONENT ${program})
  endif()
endforeach()

if(TARGET ferrolink AND TARGET tidestream)
  install(TARGETS ferrolink EXPORT FerrolinkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_COMPONENT dev
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(TARGETS tidestream ${_suite_api_targets} EXPORT FerrolinkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_COMPONENT dev)
  foreach(library ferrolink tidestream)
    install(CODE "
      if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/lib${library}.so.${PROJECT_VERSION}\")
      endif()" COMPONENT libs)
  endforeach()

  install(DIRECTORY ${CMAKE_SOURCE_DIR}/ferrolink/include/ferrolink
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev FILES_MATCHING PATTERN "*.h")
  # The data-stream declarations the record refers to: ferrolink/tidestream/.
  install(DIRECTORY ${_tidestream_header_dir}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ferrolink/tidestream COMPONENT dev
    FILES_MATCHING PATTERN "*.h")

  # CMake package: find_package(Ferrolink) gives Ferrolink::ferrolink.
  set(_ferrolink_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Ferrolink)
  install(EXPORT FerrolinkTargets NAMESPACE Ferrolink:: DESTINATION ${_ferrolink_cmake_dir}
    COMPONENT dev)
  configure_package_config_file(${SUITE_DIST_DIR}/cmake/FerrolinkConfig.cmake.in
    ${CMAKE_BINARY_DIR}/dist/FerrolinkConfig.cmake INSTALL_DESTINATION ${_ferrolink_cmake_dir})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/dist/FerrolinkConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/dist/FerrolinkConfig.cmake
    ${CMAKE_BINARY_DIR}/dist/FerrolinkConfigVersion.cmake
    DESTINATION ${_ferrolink_cmake_dir} COMPONENT dev)

  # pkg-config: relative to where the file lies, so a tree unpacked anywhere
  # (dpkg -x, a staging root) describes itself.
  file(RELATIVE_PATH _pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" _pc_to_prefix "${_pc_to_prefix}")
  set(FERROLINK_PC_PREFIX "\${pcfiledir}/${_pc_to_prefix}")
  configure_file(${SUITE_DIST_DIR}/pkgconfig/ferrolink.pc.in ${CMAKE_BINARY_DIR}/dist/ferrolink.pc
    @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/dist/ferrolink.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endif()

# udev rules: uaccess, no ModemManager probing, /dev/ferrolink/<serial>.
# udev and systemd read lib/ under the prefix, never lib/<multiarch>.
install(FILES ${SUITE_DIST_DIR}/udev/60-ferrolink.rules DESTINATION lib/udev/rules.d
  COMPONENT libs)

# systemd user units. ExecStart names the program where this installation
# puts it, so the unit is written at install time with the prefix then given.
foreach(unit ovrixd:vantrel quillon-headless:quillon)
  string(REPLACE ":" ";" unit ${unit})
  list(GET unit 0 name)
  list(GET unit 1 component)
  install(CODE "
    set(SUITE_INSTALLED_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(_unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/${name}.service\")
    message(STATUS \"Installing: \${_unit}\")
    configure_file(\"${SUITE_DIST_DIR}/systemd/${name}.service.in\" \"\${_unit}\" @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)"
    COMPONENT ${component})
endforeach()

# Desktop entry, icons and AppStream metadata of Quillon.
install(FILES ${SUITE_DIST_DIR}/desktop/quillon.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT quillon)
install(FILES ${SUITE_DIST_DIR}/metainfo/io.github.ferrolink.quillon.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT quillon)
install(FILES ${SUITE_DIST_DIR}/icons/quillon.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT quillon)
foreach(size 16 32 48 64 128 256)
  install(FILES ${SUITE_DIST_DIR}/icons/quillon-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME quillon.png COMPONENT quillon)
endforeach()

# Bash completions, one per program, in its program's package.
foreach(entry ferroctl:ferroctl quillon:quillon vantrel:vantrel ovrixd:vantrel scansim:scansim)
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 program)
  list(GET entry 1 component)
  install(FILES ${SUITE_DIST_DIR}/completions/${program}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT ${component})
endforeach()

# Man pages, written in scdoc and built (compressed, as man-db reads them)
# when scdoc is there.
find_program(SCDOC_PROGRAM scdoc)
if(SCDOC_PROGRAM)
  set(_man_pages ferroctl.1:ferroctl quillon.1:quillon vantrel.1:vantrel ovrixd.1:vantrel
                 scansim.1:scansim ferrolink.3:dev)
  set(_man_outputs)
  foreach(entry IN LISTS _man_pages)
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 page)
    list(GET entry 1 component)
    string(REGEX REPLACE ".*\\." "" section ${page})
    set(output ${CMAKE_BINARY_DIR}/dist/man/${page}.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist/man
      COMMAND ${SCDOC_PROGRAM} < ${SUITE_DIST_DIR}/man/${page}.scd > ${CMAKE_BINARY_DIR}/dist/man/${page}
      COMMAND gzip -9 -n -f ${CMAKE_BINARY_DIR}/dist/man/${page}
      DEPENDS ${SUITE_DIST_DIR}/man/${page}.scd VERBATIM)
    list(APPEND _man_outputs ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
      COMPONENT ${component})
  endforeach()
  add_custom_target(suite_man_pages ALL DEPENDS ${_man_outputs})
else()
  message(STATUS "scdoc not found: man pages are neither built nor installed")
endif()
