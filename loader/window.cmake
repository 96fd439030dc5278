# The settings file (no window system: the terminal program uses it too).
add_library(loader_settings STATIC ${CMAKE_CURRENT_LIST_DIR}/settings.cpp)
target_include_directories(loader_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(loader_settings PUBLIC loader_access morvane_platform)

# The window program needs Qt, which the Windows cross build does not have.
if(WIN32)
  return()
endif()

# The window program: its three windows and the Qt application object, as a library that the
# tests drive, and the program start around it.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_library(loader_window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Main.cpp ${CMAKE_CURRENT_LIST_DIR}/Options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/msgunit.cpp ${CMAKE_CURRENT_LIST_DIR}/form_look.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_host.cpp ${CMAKE_CURRENT_LIST_DIR}/program_start.cpp)
target_include_directories(loader_window PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(loader_window PUBLIC loader_update loader_settings loader_components
                                           Qt6::Widgets)

add_executable(loader ${CMAKE_CURRENT_LIST_DIR}/Loader.cpp)
target_link_libraries(loader PRIVATE loader_window morvane_platform)

# The same program for the demo: beside build/demo/libcibridge.so, the adapter library on the
# emulated USB adapter, it updates the simulated module over USB.
add_executable(loader-demo ${CMAKE_CURRENT_LIST_DIR}/Loader.cpp)
target_link_libraries(loader-demo PRIVATE loader_window morvane_platform)
set_target_properties(loader-demo PROPERTIES OUTPUT_NAME loader
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo)
