# The Windows side of the window program's test under Wine (loader_window_wine in
# tests/window): the driver that works loader.exe's windows and a stand-in cibridge.dll with a
# simulated module. Included from the Windows tree's window program (loader/win32/win32.cmake).
set(sim_dir ${PROJECT_SOURCE_DIR}/sim)
add_library(loader_window_standin SHARED
  ${CMAKE_CURRENT_LIST_DIR}/loader_window_standin.cpp ${sim_dir}/module/ci_module.cpp
  ${sim_dir}/ports/sim_port_space.cpp)
target_include_directories(loader_window_standin PRIVATE ${sim_dir}/module ${sim_dir}/ports
                                                         ${PROJECT_SOURCE_DIR}/cibridge/include)
target_link_libraries(loader_window_standin PRIVATE loader_access loader_image morvane_platform)
set_target_properties(loader_window_standin PROPERTIES PREFIX "" OUTPUT_NAME cibridge
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/loader-window-test
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/loader-window-test/lib)

add_executable(loader_window_driver ${CMAKE_CURRENT_LIST_DIR}/loader_window_driver.cpp)
target_link_libraries(loader_window_driver PRIVATE user32 gdi32)
set_target_properties(loader_window_driver PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/loader-window-test)
