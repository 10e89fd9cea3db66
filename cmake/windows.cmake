# The Windows build (toolchain cmake/mingw-w64.cmake): what runs on Windows
# and its tests, which ctest runs under Wine. Included by the top-level
# CMakeLists.txt in place of the Linux component list.
#
# Built here: platform (its Windows backends beside the OS-neutral modules),
# the data stream on the Win32 serial API, the formatting engine, the echo
# wire format and the test console (vantrel.exe, its port layer naming the
# system's own serial calls). Each component joins the list once its Windows
# backend exists.

# The Unicode forms of the API, Windows 8 and later.
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0602 WINVER=0x0602)

find_package(Threads REQUIRED)

# Test programs run under Wine, in a prefix of this build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run --prefix
                                  ${CMAKE_BINARY_DIR}/wine-prefix)

if(SUITE_BUILD_TESTS)
  # The prefix is made once by the build: making it takes seconds, longer
  # than a test program's listing may.
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/wine-prefix/system.reg
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --init
    COMMENT "Making the Wine prefix")
  add_custom_target(wine_prefix ALL DEPENDS ${CMAKE_BINARY_DIR}/wine-prefix/system.reg)
  enable_testing()
  # Debian ships GoogleTest as sources too; built here with MinGW, without
  # our warning flags. It names its targets GTest::gtest and GTest::gtest_main.
  set(SUITE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${SUITE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  include(GoogleTest)
  include(SuiteTesting)
endif()

add_subdirectory(platform)
add_subdirectory(tidestream)
add_subdirectory(vantrel/driver)
add_subdirectory(vantrel/port)
add_subdirectory(vantrel/fmtx)
add_subdirectory(vantrel/log)
add_subdirectory(vantrel/echo)
add_subdirectory(vantrel/app)

if(SUITE_BUILD_TESTS)
  foreach(dir support codepage ini platform_win vantrel_fmtx vantrel_echo vantrel_log vantrel_app
              tidestream_win)
    add_subdirectory(tests/${dir})
  endforeach()
endif()

# The Windows programs as one zip beside the build's own files; scripts/package
# puts it beside the Debian packages.
set(SUITE_WINDOWS_ZIP ${CMAKE_BINARY_DIR}/scanner-suite-${PROJECT_VERSION}-windows-x64.zip)
set(_zip_files "$<TARGET_FILE:vantrel>|${CMAKE_SOURCE_DIR}/dist/windows/README.txt")
add_custom_command(OUTPUT ${SUITE_WINDOWS_ZIP}
  COMMAND ${CMAKE_COMMAND} -DZIP=${SUITE_WINDOWS_ZIP} -DSTAGE=${CMAKE_BINARY_DIR}/zip-stage
          "-DFILES=${_zip_files}" -P ${CMAKE_SOURCE_DIR}/cmake/windows_zip.cmake
  DEPENDS vantrel ${CMAKE_SOURCE_DIR}/dist/windows/README.txt
          ${CMAKE_SOURCE_DIR}/cmake/windows_zip.cmake
  COMMENT "Packing the Windows programs" VERBATIM)
add_custom_target(windows_zip ALL DEPENDS ${SUITE_WINDOWS_ZIP})
if(SUITE_BUILD_TESTS)
  add_test(NAME windows.zip
    COMMAND ${CMAKE_COMMAND} -DZIP=${SUITE_WINDOWS_ZIP} "-DEXPECTED=vantrel.exe|README.txt"
            -P ${CMAKE_SOURCE_DIR}/cmake/windows_zip_check.cmake)
endif()
