# The settings file (no window system: the terminal program uses it too).
add_library(loader_settings STATIC ${CMAKE_CURRENT_LIST_DIR}/settings.cpp)
target_include_directories(loader_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(loader_settings PUBLIC loader_access morvane_platform)

# The rules and layout tables of the windows, shared by both front ends.
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/forms ${CMAKE_CURRENT_BINARY_DIR}/forms)

# On Windows the window program is a native Win32 program (Qt is not part of the cross build).
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/win32/win32.cmake)
  return()
endif()

# The window program on Qt: its three windows and the Qt application object, as a library that
# the tests drive, and the program start around it.
set(qt_front ${CMAKE_CURRENT_LIST_DIR}/qt)
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_library(loader_window STATIC
  ${qt_front}/Main.cpp ${qt_front}/Options.cpp ${qt_front}/msgunit.cpp ${qt_front}/form_look.cpp
  ${qt_front}/qt_host.cpp ${qt_front}/program_start.cpp)
target_include_directories(loader_window PUBLIC ${qt_front} ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(loader_window PUBLIC loader_update loader_settings loader_forms
                                           loader_components Qt6::Widgets)

add_executable(loader ${qt_front}/Loader.cpp)
target_link_libraries(loader PRIVATE loader_window morvane_platform)

# The same program for the demo: beside build/demo/libcibridge.so, the adapter library on the
# emulated USB adapter, it updates the simulated module over USB.
add_executable(loader-demo ${qt_front}/Loader.cpp)
target_link_libraries(loader-demo PRIVATE loader_window morvane_platform)
set_target_properties(loader-demo PROPERTIES OUTPUT_NAME loader
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo)
