# suite_add_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest program; each test case becomes its own CTest test.
function(suite_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  suite_strict_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} suite_test_support GTest::gtest GTest::gtest_main
                                        Threads::Threads)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # Each property value is a single item: an empty value or a list would
  # shift the name/value pairs of the generated test properties.
  set(_props TIMEOUT ${ARG_TIMEOUT}
      ENVIRONMENT "SUITE_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
      ENVIRONMENT_MODIFICATION "SUITE_SOURCE_DIR=set:${CMAKE_SOURCE_DIR}")
  if(ARG_LABELS)
    list(APPEND _props LABELS "${ARG_LABELS}")
  endif()
  set(_discovery)
  if(WIN32)
    # Under Wine a program may take seconds to start while the prefix's
    # services come up.
    set(_discovery DISCOVERY_TIMEOUT 60)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST ${_discovery} PROPERTIES ${_props})
endfunction()
