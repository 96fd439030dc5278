# morvane_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>]
#                  [PROPERTIES <test properties...>])
# Builds one GoogleTest executable under <build>/tests and registers its cases with CTest; the
# PROPERTIES (single values each, e.g. FIXTURES_REQUIRED x RESOURCE_LOCK y) go to every case.
#
# morvane_add_subfolders()
# Adds every folder beside the calling CMakeLists.txt that has a CMakeLists.txt of its own,
# except those named in MORVANE_SKIP.
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

function(morvane_add_subfolders)
  file(GLOB folders LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT folders)
  foreach(folder ${folders})
    get_filename_component(name ${folder} NAME)
    if(IS_DIRECTORY ${folder} AND EXISTS ${folder}/CMakeLists.txt AND NOT name IN_LIST MORVANE_SKIP)
      add_subdirectory(${folder})
    endif()
  endforeach()
endfunction()
