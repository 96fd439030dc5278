# morvane_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>]
#                  [PROPERTIES <test properties...>])
# Builds one GoogleTest executable under <build>/tests and registers its cases with CTest; the
# PROPERTIES (single values each, e.g. FIXTURES_REQUIRED x RESOURCE_LOCK y) go to every case.

include(GoogleTest)
function(morvane_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV;PROPERTIES" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # Several VAR=value pairs travel as one list-valued property.
  set(properties ${T_PROPERTIES})
  if(T_ENV)
    string(REPLACE ";" "\\;" environment "${T_ENV}")
    list(APPEND properties ENVIRONMENT "${environment}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                       PROPERTIES ${properties})
endfunction()
