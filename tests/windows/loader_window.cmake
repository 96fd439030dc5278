# The Windows side of the window program's test under Wine (loader_window_wine in
# tests/window): the driver that works loader.exe's windows. Included from the Windows tree's
# window program (loader/win32/win32.cmake).
add_executable(loader_window_driver ${CMAKE_CURRENT_LIST_DIR}/loader_window_driver.cpp)
target_link_libraries(loader_window_driver PRIVATE user32 gdi32)
set_target_properties(loader_window_driver PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/loader-window-test)
